// The main page: the pictures and lists built at start-up, create_main_page(), the
// model/colour, language and manual lists, and event_handler's main-page branches.
#include <QDir>
#include <QListWidget>
#include <QUrl>

#include "link/settings.h"
#include "link/trace.h"
#include "ui/addresses.h"
#include "ui/application.h"

namespace tkb::ui {

namespace {
constexpr int kLogoWidth = 390, kLogoHeight = 130;
constexpr int kPhotoWidth = 410, kPhotoHeight = 260;
constexpr int kListWidth = 150;
constexpr int kMenuWidth = 145, kMenuEntryHeight = 40;
// While the CUSTOM page is open: LANGUAGE, MANUAL and EXIT in a row under the pedal photo.
constexpr int kMenuRowX = 8, kMenuRowY = 506, kMenuRowGap = 4;
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

std::optional<int> photoIndex(int model, int colour, bool hasClutch) {
  if (model < 1 || model > kModelCount) return std::nullopt;
  const bool black = colour == 2;
  const int index = hasClutch ? (black ? model + 15 : model + 5) : (black ? model + 9 : model - 1);
  if (index < 0 || index >= kPhotoCount) return std::nullopt;
  return index;
}

QPushButton* Application::makeButton(const QString& text, int w, int h, Align align, int dx,
                                     int dy) {
  auto* button = new QPushButton(text, window_.get());
  QFont font = button->font();
  font.setPixelSize(16);
  font.setBold(true);
  button->setFont(font);
  button->resize(w, h);
  // Keys typed into the window never operate a widget: only the pointer does.
  button->setFocusPolicy(Qt::NoFocus);
  placeAligned(button, align, dx, dy);
  setButtonLook(button, ButtonLook::Normal);
  connectButton(button);
  button->show();
  return button;
}

void Application::connectButton(QPushButton* button) {
  connect(button, &QPushButton::pressed, this, [this, button] { event_handler(button, UiEvent::Pressed); });
  connect(button, &QPushButton::released, this, [this, button] { event_handler(button, UiEvent::Released); });
  connect(button, &QPushButton::clicked, this, [this, button] { event_handler(button, UiEvent::ShortClicked); });
}

void Application::buildPicturesAndLists() {
  ControllerState& state = controller.state;
  QWidget* w = window_.get();
  for (int i = 0; i < kModelCount; ++i) {
    page_.logos[i] = new Picture(w, picture(qPrintable(QString("logo%1").arg(i + 1))), kLogoWidth, kLogoHeight);
    page_.logos[i]->move(30, 80);
    page_.logos[i]->hide();
  }
  for (int i = 0; i < kPhotoCount; ++i) {
    page_.photos[i] = new Picture(w, picture(qPrintable(QString("photo%1").arg(i, 2, 10, QChar('0')))),
                                  kPhotoWidth, kPhotoHeight);
    page_.photos[i]->move(20, 240);
    page_.photos[i]->hide();
  }
  page_.calibrationPhotos[0] = new Picture(w, picture("calibration3"), kPhotoWidth, kPhotoHeight);
  page_.calibrationPhotos[1] = new Picture(w, picture("calibration2"), kPhotoWidth, kPhotoHeight);
  for (QLabel* p : page_.calibrationPhotos) {
    p->move(20, 240);
    p->hide();
  }
  // Sets with a clutch only come as models 1 to 4.
  if (state.hasClutch && state.model > 4) state.model = 1;
  showModelPictures();

  page_.modelList = new QComboBox(w);
  page_.modelList->setObjectName("ModelList");
  page_.modelList->addItems(state.hasClutch ? QStringList{"Alder", "Birch"}
                                            : QStringList{"Alder", "Birch", "Cedar"});
  page_.modelList->setFixedWidth(kListWidth);
  page_.modelList->move(60, 50);
  page_.modelList->setCurrentIndex(std::clamp(state.model == 0 ? 0 : state.model - 1, 0,
                                              page_.modelList->count() - 1));
  page_.colourList = new QComboBox(w);
  page_.colourList->setObjectName("ColourList");
  page_.colourList->addItems({"Grey", "Black"});
  page_.colourList->setFixedWidth(kListWidth);
  page_.colourList->move(240, 50);
  page_.colourList->setCurrentIndex(state.color > 1 ? 1 : 0);
  for (QComboBox* list : {page_.modelList, page_.colourList}) {
    list->setFocusPolicy(Qt::NoFocus);
    list->show();
    connect(list, &QComboBox::activated, this, [this, list](int index) { modelOrColourChanged(list, index); });
  }
  trace("\nmarcador 1");

  page_.footer = new Picture(w, picture("stripe"), kStripeWidth, kStripeHeight);
  placeAligned(page_.footer, Align::TopMid, 0, 590);
  page_.footer->show();

  auto* link = new ClickLabel(kMakerWebAddress, w);
  QFont font = link->font();
  font.setPixelSize(20);
  font.setUnderline(true);  // the whole address, however long it is
  link->setFont(font);
  link->setStyleSheet("color:#1a4fa0;");
  link->adjustSize();
  link->move(70, 556);
  link->setCursor(Qt::PointingHandCursor);
  link->onClick = [this, link] { event_handler(link, UiEvent::ShortClicked); };
  link->show();
  page_.webLink = link;
}

void Application::showModelPictures() {
  const ControllerState& state = controller.state;
  for (QLabel* logo : page_.logos) logo->hide();
  for (QLabel* photo : page_.photos) photo->hide();
  if (state.model >= 1 && state.model <= kModelCount) page_.logos[state.model - 1]->show();
  if (const auto photo = photoIndex(state.model, state.color, state.hasClutch))
    page_.photos[*photo]->show();
}

void Application::modelOrColourChanged(QObject* list, int index) {
  const Action action(*this);
  ControllerState& state = controller.state;
  if (list == page_.modelList) {
    trace("\nCambio de Modelo - Inicio");
    setSetting(state, Field::Model, index < kModelCount ? index + 1 : 1);
    controller.MandarModelo();
    showModelPictures();
    trace("\nCambio de Modelo - Fin");
  } else if (list == page_.colourList) {
    trace("\nCambio de Color - Inicio");
    setSetting(state, Field::Color, index < 2 ? index + 1 : 1);
    controller.MandarColor();
    showModelPictures();
    trace("\nCambio de Color - Fin");
  }
}

void Application::create_main_page() {
  QWidget* w = window_.get();
  page_.header = new Picture(w, picture("backdrop"), kBackdropWidth, kBackdropHeight);
  page_.header->move(460, 20);
  page_.header->show();

  page_.language = makeButton("LANGUAGE", kMenuWidth, 40, Align::TopRight, -100, 50);
  page_.manual = makeButton("MANUAL", kMenuWidth, 40, Align::TopRight, -100, 110);
  labels_.add(LabelRole::Language, [b = page_.language](const std::string& t) { setFittedText(b, QString::fromStdString(t)); });
  labels_.add(LabelRole::Manual, [b = page_.manual](const std::string& t) { setFittedText(b, QString::fromStdString(t)); });

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
    labels_.add(role, [l = subtitleLabel, b](const std::string& t) {
      setFittedText(l, QString::fromStdString(t), b->width() - kLabelAirPx);
      placeAligned(l, Align::Center, 0, 24);
    });
    return b;
  };
  page_.pro = bigButton(60, "PRO", "BASIC ADJUSTMENT", page_.proTitle, page_.proSubtitle, LabelRole::ProSubtitle);

  auto twin = [this](QPushButton*& big, QPushButton*& small, const char* text, int bigDy,
                     int smallDy, LabelRole role) {
    big = makeButton(text, 220, 50, Align::TopMid, 250, bigDy);
    small = makeButton(text, 320, 30, Align::TopMid, -100, smallDy);
    small->hide();
    for (QPushButton* b : {big, small})
      labels_.add(role, [b](const std::string& t) { setFittedText(b, QString::fromStdString(t)); });
  };
  twin(page_.openMonitor, page_.openMonitor2, "OPEN MONITOR", 50, 470, LabelRole::OpenMonitor);
  twin(page_.closeMonitor, page_.closeMonitor2, "CLOSE MONITOR", 50, 470, LabelRole::CloseMonitor);
  page_.closeMonitor->hide();
  twin(page_.openVrMonitor, page_.openVrMonitor2, "OPEN VR MONITOR", 120, 520, LabelRole::OpenVrMonitor);
  twin(page_.closeVrMonitor, page_.closeVrMonitor2, "CLOSE VR MONITOR", 120, 520, LabelRole::CloseVrMonitor);

  vrPanel_ = new VrPanel(w, *config_, labels_, [this] { restartVrMonitor(); });
  placeAligned(vrPanel_, Align::TopMid, 400, 200);

  page_.custom = bigButton(350, "CUSTOM", "ADVANCED ADJUSTMENT", page_.customTitle,
                           page_.customSubtitle, LabelRole::CustomSubtitle);
  page_.exit = makeButton("EXIT", kMenuWidth, 40, Align::TopRight, -100, 480);
  labels_.add(LabelRole::Exit, [b = page_.exit](const std::string& t) { setFittedText(b, QString::fromStdString(t)); });

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
  page_.languageList = menu({"English", "Spanish", "Italian", "French", "German", "Portuguese"}, 50,
                            "LanguageList");
  connect(page_.languageList, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) {
            const Action action(*this);
            selectLanguage(page_.languageList->row(item));
          });
  page_.manualList = menu({".PDF", "YOUTUBE"}, 120, "ManualList");
  connect(page_.manualList, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) { manualListClicked(item->text()); });

  auto modeButton = [this](int dy, const char* text, LabelRole role) {
    QPushButton* b = makeButton("", 320, 50, Align::TopMid, -100, dy);
    QLabel* l = makeLabel(b, text, 16);
    l->setStyleSheet("font-weight:bold;");
    l->adjustSize();
    l->setAttribute(Qt::WA_TransparentForMouseEvents);
    l->show();
    placeAligned(l, Align::Center, -20, 0);
    labels_.add(role, [l, b](const std::string& t) {
      // Shifted 20 px left: the room is the button less twice that and the border.
      setFittedText(l, QString::fromStdString(t), b->width() - 40 - kLabelAirPx);
      placeAligned(l, Align::Center, -20, 0);
    });
    return b;
  };
  page_.activatePro = modeButton(180, "ACTIVATE PRO MODE", LabelRole::ActivatePro);
  page_.proMark = new Picture(w, picture("mode_pro"), 75, 22);
  placeAligned(page_.proMark, Align::TopMid, 80, 193);
  page_.proMark->hide();
  page_.activateCustom = modeButton(470, "ACTIVATE CUSTOM MODE", LabelRole::ActivateCustom);
  page_.customMark = new Picture(w, picture("mode_sport"), 122, 21);
  placeAligned(page_.customMark, Align::TopMid, 90, 484);
  page_.customMark->hide();

  vrPanel_->readSettings();
  vrPanel_->hide();
  page_.closeVrMonitor->hide();
}

void Application::placeMenus(bool underPhoto) {
  if (!page_.language) return;
  menusUnderPhoto_ = underPhoto;
  if (underPhoto) {
    int x = kMenuRowX;
    for (QPushButton* b : {page_.language, page_.manual, page_.exit}) {
      b->move(x, kMenuRowY);
      x += kMenuWidth + kMenuRowGap;
    }
    return;
  }
  placeAligned(page_.language, Align::TopRight, -100, 50);
  placeAligned(page_.manual, Align::TopRight, -100, 110);
  placeAligned(page_.exit, Align::TopRight, -100, 480);
}

// A menu opens beside its button; under the photo it opens upwards, over the photo.
void Application::placeMenuList(QListWidget* list, QPushButton* button, int dy) {
  if (menusUnderPhoto_) {
    list->move(button->x(), button->geometry().bottom() + 1 - list->height());
  } else {
    placeAligned(list, Align::TopRight, -90, dy);
  }
}

// A page covers the middle of the main page; the entries it would cut in half go while it
// is open (showModeButtonsAfterPage brings them back).
void Application::hideEntriesUnderPage() {
  for (QWidget* w : std::initializer_list<QWidget*>{page_.pro, page_.custom, page_.activatePro,
                                                    page_.activateCustom, page_.proMark, page_.customMark})
    if (w) w->hide();
}

void Application::closeMenus() {
  if (!page_.languageList) return;
  page_.languageList->hide();
  page_.manualList->hide();
  page_.language->show();
  page_.manual->show();
  setButtonLook(page_.language, ButtonLook::Normal);
  setButtonLook(page_.manual, ButtonLook::Normal);
}

void Application::openManual() {
  QString dir = services_.manualFolder.isEmpty() ? QDir::currentPath() : services_.manualFolder;
  dir.replace('\\', '/');
  const auto file = manualFile(controller.state.language);
  if (!file) {
    trace("manual not found /n");
    return;
  }
  const QUrl url = QUrl::fromLocalFile(dir + "/" + QString::fromStdString(*file));
  trace("\nAbrimos manual %s\n", url.toString().toUtf8().constData());
  if (services_.openUrl) services_.openUrl(url);
}

void Application::manualListClicked(const QString& entry) {
  trace("%s is selected\n", entry.toUtf8().constData());
  if (entry == ".PDF") {
    openManual();
  } else if (entry == "YOUTUBE") {
    if (services_.openUrl) services_.openUrl(QUrl(kVideoChannelAddress));
  } else {
    trace("No Manual");
  }
  page_.manualList->hide();
  page_.manual->show();
  setButtonLook(page_.manual, ButtonLook::Normal);
}

void Application::event_handler(QObject* object, UiEvent event) {
  const Action action(*this);
  for (const EventBranch& branch : branches_)
    if (branch(object, event)) return;
  if (event == UiEvent::ShortClicked) {
    if (!mainPageBranch(object)) trace("object not found\n");
    return;
  }
  if (event == UiEvent::Pressed || event == UiEvent::Released) return;
  // Any other event restores the normal look of a button.
  if (object != page_.background && object != page_.webLink)
    if (auto* button = qobject_cast<QPushButton*>(object)) setButtonLook(button, ButtonLook::Normal);
}

bool Application::mainPageBranch(QObject* object) {
  ControllerState& state = controller.state;
  MainPage& p = page_;
  if (object == nullptr) return false;
  if (object == p.openMonitor || object == p.openMonitor2) {
    trace("\nMonitor Button pressed - Inicio\n");
    if (startMonitor(MonitorProcess, false)) {
      p.openMonitor->hide();
      p.closeMonitor->show();
    }
    trace("\nMonitor Button pressed - Final\n");
  } else if (object == p.openVrMonitor || object == p.openVrMonitor2) {
    trace("\nVR Button pressed - Inicio\n");
    vrPanel_->show();
    vrPanel_->raise();
    if (startMonitor(VrMonitorProcess, true)) {
      p.openVrMonitor->hide();
      p.closeVrMonitor->show();
    }
    trace("\nVR Button pressed - Final\n");
  } else if (object == p.closeMonitor || object == p.closeMonitor2) {
    trace("\nMonitor OFF Button pressed - Inicio\n");
    if (!MonitorProcess.empty()) {
      MonitorProcess.stop();
      p.openMonitor->show();
      p.closeMonitor->hide();
    }
    trace("\nMonitor OFF Button pressed - Final\n");
  } else if (object == p.closeVrMonitor || object == p.closeVrMonitor2) {
    trace("\nVR Button off pressed - Inicio\n");
    if (!VrMonitorProcess.empty()) {
      vrPanel_->hide();
      VrMonitorProcess.stop();
      p.openVrMonitor->show();
      p.closeVrMonitor->hide();
    }
    trace("\nVR Button off pressed - Final\n");
  } else if (object == p.language) {
    trace("\nLanguage Button pressed - Inicio\n");
    p.language->hide();
    p.manual->hide();
    placeMenuList(p.languageList, p.language, 50);
    p.languageList->show();
    p.languageList->raise();
    p.manualList->hide();
    trace("\nLanguage Button pressed - Final\n");
  } else if (object == p.manual) {
    trace("\nManual Button pressed - Inicio\n");
    p.manual->hide();
    placeMenuList(p.manualList, p.manual, 120);
    p.manualList->show();
    p.manualList->raise();
    p.languageList->hide();
    trace("\nManual Button pressed - Final\n");
  } else if (object == p.pro) {
    trace("\nPro Button pressed - Inicio");
    p.languageList->hide();
    p.manualList->hide();
    hideEntriesUnderPage();
    proPage_->show();
    proPage_->raise();
    if (hooks_.proPageOpened) hooks_.proPageOpened(state.calibrated);
    if (state.calibrated) {
      operations.activateMode(false);
      applyModeLabel();
      setButtonLook(p.activatePro, ButtonLook::Highlighted);
    }
    // The page shows the zones the controller really holds.
    operations.readZones();
    if (hooks_.proZonesReadBack) hooks_.proZonesReadBack();
    trace("\nPro Button pressed - Final\n");
  } else if (object == p.custom) {
    trace("\nSports Button pressed - Inicio");
    p.languageList->hide();
    p.manualList->hide();
    hideEntriesUnderPage();
    customPage_->show();
    customPage_->raise();
    placeMenus(true);
    p.language->show();
    p.manual->show();
    p.exit->show();
    p.language->raise();
    p.manual->raise();
    p.exit->raise();
    if (hooks_.customPageOpened) hooks_.customPageOpened();
    operations.openCustom();
    applyModeLabel();
    trace("\nSports Button pressed - Final\n");
  } else if (object == p.activatePro || object == p.activateCustom) {
    // The two ACTIVATE buttons: zones on, one mode in force, both flags sent.
    const bool custom = object == p.activateCustom;
    const char* branch = custom ? "Activar SPORT" : "Activar PRO";
    trace("\n%s pressed - Inicio", branch);
    operations.activateMode(custom);
    applyModeLabel();
    setButtonLook(p.activatePro, custom ? ButtonLook::Normal : ButtonLook::Highlighted);
    setButtonLook(p.activateCustom, custom ? ButtonLook::Highlighted : ButtonLook::Normal);
    trace("\n%s pressed - Final\n", branch);
  } else if (object == p.exit) {
    trace("\nClose main pressed - Inicio\n");
    shutDown();
    trace("\nClose main pressed - Final\n");
  } else if (object == p.background) {
    trace("\nBackground main page\n");
    closeMenus();
    window_->update();
  } else if (object == p.webLink) {
    trace("\nAbrimos web %s\n", kMakerWebAddress);
    if (services_.openUrl) services_.openUrl(QUrl(kMakerWebAddress));
  } else {
    return false;
  }
  return true;
}

}  // namespace tkb::ui
