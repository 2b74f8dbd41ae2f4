// The main page's widgets: where each stands, how it looks and what it is connected to.
#include <QListWidget>

#include "link/trace.h"
#include "ui/addresses.h"
#include "ui/application.h"
#include "ui/controller_model.h"
#include "ui/main_page.h"
#include "ui/monitor_view.h"
#include "ui/trace_texts.h"
#include "ui/vr_panel.h"
#include "ui/window_geometry.h"

namespace tkb::ui {

namespace {
constexpr int kLogoWidth = 390, kLogoHeight = 130;
constexpr int kPhotoWidth = 410, kPhotoHeight = 260;
constexpr int kListWidth = 150, kListTextPx = 15;
constexpr int kTraySwitchX = 24, kTraySwitchY = 514;
// What a label inside a button leaves free for the button's border.
constexpr int kLabelAirPx = 12;
constexpr int kStripeWidth = 1299, kStripeHeight = 44;
constexpr int kBackdropWidth = 820, kBackdropHeight = 560;

QString picture(const char* name) { return QString(":/pictures/%1.svg").arg(name); }

void setListEntryLook(QListWidget* list) {
  list->setStyleSheet(
      "QListWidget{background:#ffffff;border:2px solid rgb(255,165,0);border-radius:6px;"
      "font-size:16px;} QListWidget::item{height:40px;padding-left:8px;}"
      "QListWidget::item:hover{background:#ffe7b8;}");
}
}  // namespace

QPushButton* MainPage::makeButton(const QString& text, int w, int h, Align align, int dx,
                                     int dy) {
  auto* button = new QPushButton(text, window_);
  QFont font = button->font();
  font.setPixelSize(16);
  font.setBold(true);
  button->setFont(font);
  button->resize(w, h);
  // Keys typed into the window never operate a widget: only the pointer does.
  button->setFocusPolicy(Qt::NoFocus);
  placeAligned(button, align, dx, dy);
  setButtonLook(button, ButtonLook::Normal);
  button->show();
  return button;
}

void MainPage::buildPicturesAndLists() {
  const ControllerState& state = model_.state();
  QWidget* w = window_;
  for (int i = 0; i < kModelCount; ++i) {
    logos[i] = new Picture(w, picture(qPrintable(QString("logo%1").arg(i + 1))), kLogoWidth, kLogoHeight);
    logos[i]->move(30, 80);
    logos[i]->hide();
  }
  for (int i = 0; i < kPhotoCount; ++i) {
    photos[i] = new Picture(w, picture(qPrintable(QString("photo%1").arg(i, 2, 10, QChar('0')))),
                                  kPhotoWidth, kPhotoHeight);
    photos[i]->move(20, 240);
    photos[i]->hide();
  }
  calibrationPhotos[0] = new Picture(w, picture("calibration3"), kPhotoWidth, kPhotoHeight);
  calibrationPhotos[1] = new Picture(w, picture("calibration2"), kPhotoWidth, kPhotoHeight);
  for (QLabel* p : calibrationPhotos) {
    p->move(20, 240);
    p->hide();
  }
  showModelPictures();

  modelList = new QComboBox(w);
  modelList->setObjectName("ModelList");
  modelList->addItems(state.hasClutch ? QStringList{"Alder", "Birch"}
                                            : QStringList{"Alder", "Birch", "Cedar"});
  modelList->setFixedWidth(kListWidth);
  modelList->move(60, 50);
  modelList->setCurrentIndex(std::clamp(state.model == 0 ? 0 : state.model - 1, 0,
                                              modelList->count() - 1));
  colourList = new QComboBox(w);
  colourList->setObjectName("ColourList");
  colourList->addItems({"Grey", "Black"});
  colourList->setFixedWidth(kListWidth);
  colourList->move(240, 50);
  colourList->setCurrentIndex(state.color > 1 ? 1 : 0);
  for (QComboBox* list : {modelList, colourList}) {
    setTextPx(list, kListTextPx);
    list->setFocusPolicy(Qt::NoFocus);
    list->show();
    connect(list, &QComboBox::activated, this, [this, list](int index) {
      if (ignoredWhileBusy()) return showReadSettings();
      list == modelList ? model_.setModel(index) : model_.setColour(index);
    });
  }

  footer = new Picture(w, picture("stripe"), kStripeWidth, kStripeHeight);
  placeAligned(footer, Align::TopMid, 0, 590);
  footer->show();

  auto* link = new ClickLabel(kMakerWebAddress, w);
  QFont font = link->font();
  font.setPixelSize(20);
  font.setUnderline(true);  // the whole address, however long it is
  link->setFont(font);
  link->setStyleSheet("color:#1a4fa0;");
  link->adjustSize();
  link->move(70, 556);
  link->setCursor(Qt::PointingHandCursor);
  connect(link, &ClickLabel::clicked, this, &MainPage::webLinkClicked);
  link->show();
  webLink = link;
}

void MainPage::create_main_page() {
  QWidget* w = window_;
  header = new Picture(w, picture("backdrop"), kBackdropWidth, kBackdropHeight);
  header->move(460, 20);
  header->show();

  language = makeButton("LANGUAGE", kMenuWidth, 40, Align::TopRight, -100, 50);
  manual = makeButton("MANUAL", kMenuWidth, 40, Align::TopRight, -100, 110);
  app_.labels().add(LabelRole::Language, [b = language](const std::string& t) { setFittedText(b, QString::fromStdString(t)); });
  app_.labels().add(LabelRole::Manual, [b = manual](const std::string& t) { setFittedText(b, QString::fromStdString(t)); });

  // The two big entries: a title and a second line that the language changes.
  auto bigButton = [this](int dy, const char* title, const char* subtitle, QLabel*& titleLabel,
                          QLabel*& subtitleLabel, LabelRole role) {
    QPushButton* b = makeButton("", 320, 100, Align::TopMid, -100, dy);
    titleLabel = makeLabel(b, title, 30);
    titleLabel->setStyleSheet("font-weight:bold;");
    titleLabel->adjustSize();
    placeAligned(titleLabel, Align::Center, 0, -16);
    subtitleLabel = makeLabel(b, subtitle, 16);
    placeAligned(subtitleLabel, Align::Center, 0, 24);
    for (QLabel* l : {titleLabel, subtitleLabel}) {
      l->setAttribute(Qt::WA_TransparentForMouseEvents);
      l->show();  // the button is already shown
    }
    app_.labels().add(role, [l = subtitleLabel, b](const std::string& t) {
      setFittedText(l, QString::fromStdString(t), b->width() - kLabelAirPx);
      placeAligned(l, Align::Center, 0, 24);
    });
    return b;
  };
  pro = bigButton(60, "PRO", "BASIC ADJUSTMENT", proTitle, proSubtitle, LabelRole::ProSubtitle);

  auto twin = [this](QPushButton*& big, QPushButton*& small, const char* text, int bigDy,
                     int smallDy, LabelRole role) {
    big = makeButton(text, 220, 50, Align::TopMid, 250, bigDy);
    small = makeButton(text, 320, 30, Align::TopMid, -100, smallDy);
    small->hide();
    for (QPushButton* b : {big, small})
      app_.labels().add(role, [b](const std::string& t) { setFittedText(b, QString::fromStdString(t)); });
  };
  twin(openMonitor, openMonitor2, "OPEN MONITOR", 50, 470, LabelRole::OpenMonitor);
  twin(closeMonitor, closeMonitor2, "CLOSE MONITOR", 50, 470, LabelRole::CloseMonitor);
  closeMonitor->hide();
  twin(openVrMonitor, openVrMonitor2, "OPEN VR MONITOR", 120, 520, LabelRole::OpenVrMonitor);
  twin(closeVrMonitor, closeVrMonitor2, "CLOSE VR MONITOR", 120, 520, LabelRole::CloseVrMonitor);

  vrPanel_ = new VrPanel(w, *app_.config(), app_.labels());
  connect(vrPanel_, &VrPanel::applied, &app_, &Application::restartVrMonitor);
  placeAligned(vrPanel_, Align::TopMid, 400, 200);

  custom = bigButton(350, "CUSTOM", "ADVANCED ADJUSTMENT", customTitle,
                           customSubtitle, LabelRole::CustomSubtitle);
  exit = makeButton("EXIT", kMenuWidth, 40, Align::TopRight, -100, 480);
  app_.labels().add(LabelRole::Exit, [b = exit](const std::string& t) { setFittedText(b, QString::fromStdString(t)); });
  // Under the monitor buttons, clear of the VR panel; the pages cover it as they cover those.
  games = makeButton("GAMES", 220, 40, Align::TopMid, 250, 480);
  app_.labels().add(LabelRole::Games, [b = games](const std::string& t) { setFittedText(b, QString::fromStdString(t)); });
  connect(games, &QPushButton::clicked, this, [this] {
    trace("\nGames pressed\n");
    app_.openGamesDialog();
  });
  // Under GAMES; the monitor's view beside OPEN MONITOR, in the gap left of it.
  traceButton = makeButton("TRACE", 220, 40, Align::TopMid, 250, 528);
  traceButton->setObjectName("TraceButton");
  followLanguage(traceButton, model_, [b = traceButton](int language) {
    setFittedText(b, traceText(TraceText::TraceButton, language));
  });
  connect(traceButton, &QPushButton::clicked, this, [this] {
    trace("\nTrace pressed\n");
    app_.openTracePanel();
  });
  monitorView = new MonitorViewSwitch(w, *app_.config());
  placeAligned(monitorView, Align::TopMid, 100, 50);
  followLanguage(monitorView, model_, [v = monitorView](int language) { v->setLanguage(language); });
  monitorView->show();

  auto menu = [w](const QStringList& entries, int dy, const char* name) {
    auto* list = new QListWidget(w);
    list->setObjectName(name);
    list->addItems(entries);
    list->setFixedSize(kMenuWidth, kMenuEntryHeight * entries.size() + 6);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setFocusPolicy(Qt::NoFocus);
    // An entry is an action, not a choice that stays marked.
    list->setSelectionMode(QAbstractItemView::NoSelection);
    setListEntryLook(list);
    placeAligned(list, Align::TopRight, -90, dy);
    list->hide();
    return list;
  };
  languageList = menu({"English", "Spanish", "Italian", "French", "German", "Portuguese"}, 50,
                            "LanguageList");
  connect(languageList, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
    if (ignoredWhileBusy()) return;
    model_.selectLanguage(languageList->row(item));
  });
  manualList = menu({".PDF", "YOUTUBE"}, 120, "ManualList");
  connect(manualList, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) { manualListClicked(item->text()); });

  auto modeButton = [this](int dy, const char* text, LabelRole role) {
    QPushButton* b = makeButton("", 320, 50, Align::TopMid, -100, dy);
    QLabel* l = makeLabel(b, text, 16);
    l->setStyleSheet("font-weight:bold;");
    l->adjustSize();
    l->setAttribute(Qt::WA_TransparentForMouseEvents);
    l->show();
    placeAligned(l, Align::Center, -20, 0);
    app_.labels().add(role, [l, b](const std::string& t) {
      // Shifted 20 px left: the room is the button less twice that and the border.
      setFittedText(l, QString::fromStdString(t), b->width() - 40 - kLabelAirPx);
      placeAligned(l, Align::Center, -20, 0);
    });
    return b;
  };
  activatePro = modeButton(180, "ACTIVATE PRO MODE", LabelRole::ActivatePro);
  proMark = new Picture(w, picture("mode_pro"), 75, 22);
  placeAligned(proMark, Align::TopMid, 80, 193);
  proMark->hide();
  activateCustom = modeButton(470, "ACTIVATE CUSTOM MODE", LabelRole::ActivateCustom);
  customMark = new Picture(w, picture("mode_sport"), 122, 21);
  placeAligned(customMark, Align::TopMid, 90, 484);
  customMark->hide();

  // Under the pedal photo, where the menus stand while the CUSTOM page is open.
  traySwitch = new QCheckBox(w);
  traySwitch->setObjectName("TraySwitch");
  traySwitch->setFocusPolicy(Qt::NoFocus);
  QFont switchFont = traySwitch->font();
  switchFont.setPixelSize(14);
  traySwitch->setFont(switchFont);
  traySwitch->move(kTraySwitchX, kTraySwitchY);
  traySwitch->show();

  vrPanel_->readSettings();
  vrPanel_->hide();
  closeVrMonitor->hide();

  for (QPushButton* b : {openMonitor, openMonitor2}) onClick(b, &MainPage::openMonitorClicked);
  for (QPushButton* b : {openVrMonitor, openVrMonitor2}) onClick(b, &MainPage::openVrMonitorClicked);
  for (QPushButton* b : {closeMonitor, closeMonitor2}) onClick(b, &MainPage::closeMonitorClicked);
  for (QPushButton* b : {closeVrMonitor, closeVrMonitor2}) onClick(b, &MainPage::closeVrMonitorClicked);
  onClick(language, &MainPage::languageClicked);
  onClick(manual, &MainPage::manualClicked);
  onClick(pro, &MainPage::proClicked);
  onClick(custom, &MainPage::customClicked);
  connect(activatePro, &QPushButton::clicked, this, [this] { activateClicked(false); });
  connect(activateCustom, &QPushButton::clicked, this, [this] { activateClicked(true); });
  connect(exit, &QPushButton::clicked, this, &MainPage::exitButtonClicked);
}

void MainPage::buildBackgroundAndBox() {
  // A new start (CONTINUE) puts a new background and box above the old ones; the old
  // ones can never be seen again, so they go.
  if (background) background->deleteLater();
  if (notDetectedBox) notDetectedBox->deleteLater();

  auto* clickable = new ClickLabel(window_);
  clickable->setObjectName("Background");
  clickable->setGeometry(0, 0, kWindowWidth, kWindowHeight);
  clickable->setAttribute(Qt::WA_StyledBackground);
  clickable->setStyleSheet(
      "#Background{background:qlineargradient(x1:0,y1:0,x2:0,y2:1,stop:0 #ffffff,stop:1 #e4e4e4);}");
  connect(clickable, &ClickLabel::clicked, this, &MainPage::backgroundClicked);
  clickable->show();
  background = clickable;

  auto* box = new QFrame(window_);
  box->setObjectName("NotDetectedBox");
  box->resize(500, 400);
  box->setStyleSheet("#NotDetectedBox{background:#ffffff;border:2px solid #9a9a9a;border-radius:10px;}");
  placeAligned(box, Align::Center, 0, 0);
  notDetectedText =
      makeLabel(box, "PEDALS NOT DETECTED!!\n\nPLEASE PLUG IN THE PEDALS TO CALIBRATE AND RESTART", 20);
  notDetectedText->setWordWrap(true);
  notDetectedText->setAlignment(Qt::AlignCenter);
  notDetectedText->setGeometry(30, 60, 440, 200);
  continueButton = new QPushButton("CONTINUE", box);
  continueButton->resize(200, 50);
  continueButton->setFocusPolicy(Qt::NoFocus);
  placeAligned(continueButton, Align::BottomMid, 0, -50);
  setButtonLook(continueButton, ButtonLook::Normal);
  QPushButton* cont = continueButton;
  connect(cont, &QPushButton::clicked, this, [this, cont] {
    // NotDetectedBox handler: value changed on one of its buttons.
    trace("Button: %s\n", cont->text().toUtf8().constData());
    if (cont->text() == "CONTINUE") {
      setButtonLook(cont, ButtonLook::Normal);
      app_.startApplication();
    }
  });
  // The same diagnosis as tkb-cli doctor, with the permission fix where it applies.
  diagnoseButton = new QPushButton("DIAGNOSE", box);
  diagnoseButton->setObjectName("DiagnoseButton");
  diagnoseButton->resize(200, 34);
  diagnoseButton->setFocusPolicy(Qt::NoFocus);
  placeAligned(diagnoseButton, Align::BottomMid, 0, -10);
  setButtonLook(diagnoseButton, ButtonLook::Normal);
  connect(diagnoseButton, &QPushButton::clicked, &app_, &Application::showDiagnosis);
  box->hide();
  notDetectedBox = box;
}

void MainPage::buildStatusLabels() {
  const ControllerState& state = model_.state();
  auto status = [this](const QString& text, int x, int y) {
    QLabel* label = makeLabel(window_, text, 15);
    label->setStyleSheet("color:rgba(0,0,0,190);");  // text opacity 190 of 255
    label->move(x, y);
    label->show();
    return label;
  };
  firmwareLabel = status(QString::asprintf("Firmware: TKB-V%d.%d", state.firmwareVersion[0],
                                           state.firmwareVersion[1]),
                         20, 5);
  profileLabel = status("", 20, 25);
  refreshProfileLabel();
  modeLabels[0] = status("Mode: PRO", 220, 15);
  modeLabels[1] = status("Mode: CUSTOM", 220, 15);
  modeLabels[2] = status("Mode: CUSTOM M", 220, 15);
  applyModeLabel();
}

}  // namespace tkb::ui
