#include "ui/pro_page.h"

#include <QTimer>
#include <algorithm>
#include <chrono>
#include <thread>

#include "app/profiles.h"
#include "link/pedal_input.h"
#include "link/settings.h"
#include "link/trace.h"
#include "ui/application.h"

namespace tkb::ui {

namespace {
constexpr int kButtonWidth = 130, kButtonHeight = 40;
constexpr int kDefaultButtonHeight = 50;  // buttons are aligned at this height, then resized
constexpr int kBarColumnX[3] = {39, 302, 567};
constexpr int kZoneColumnX[3] = {110, 373, 638};
constexpr int kTwoPedalShift[3] = {0, 200, 100};
constexpr int kColumnY = 135, kValueY = 350, kZonesOffShift = 50;
constexpr int kBarHeight = 202, kBarTop = 4;
constexpr int kBusyRetryMs = 50;
constexpr int kZoneColumnWidth = 130;
constexpr int kNameRoomPx = 200;
// The key-letter lists: a caption, then the list.
constexpr int kCaptionWidth = 72, kCaptionGap = 4, kListRowPx = 33, kListTop = 345;
// The AutoBrake switch stands left of the lowest list, its label left of it.
constexpr int kSwitchLeftOfLists = 58, kSwitchLabelGap = 6;
// Where the wizard's arrows stand on the pedal faces of the calibration pictures (window
// x of each face's centre by pedal, three- and two-pedal sets; the top of the arrows).
constexpr int kArrowFaceX[2][3] = {{122, 225, 328}, {0, 162, 288}};
constexpr int kArrowTop = 262, kArrowWidth = 60, kArrowHeight = 100;
const char* const kAbsLetters[] = {"F11", "F12", "M+C+y", "M+C+h", "M+C+u"};
const char* const kAutoBrakeLetters[] = {"M+C+k", "M+C+l", "M+C+p"};
const char* const kMasLetters[] = {"F2", "F4", "M+C+a", "M+C+s", "M+C+d", "M+C+f"};
const char* const kMenosLetters[] = {"F1", "F3", "M+C+z", "M+C+x", "M+C+c", "M+C+v"};

QComboBox* letterList(QWidget* parent, const char* const* options, int n) {
  auto* list = new QComboBox(parent);
  for (int i = 0; i < n; ++i) list->addItem(options[i]);
  list->setFocusPolicy(Qt::NoFocus);
  list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  list->adjustSize();
  return list;
}

QLabel* whiteLabel(QWidget* parent, const QString& text, int size = 15) {
  QLabel* l = makeLabel(parent, text, size);
  l->setStyleSheet("color:#f0f0f0;");
  return l;
}

// A zone box shows the controller's value, or nothing while that is not known.
void showZoneBox(ValueBox* box, bool known, int value) {
  if (known) {
    box->set(std::clamp(value, 0, 100));
  } else {
    box->showUnknown();
  }
}

}  // namespace

int proColumnX(int pedal, bool zonesEnabled, bool hasClutch) {
  return kBarColumnX[pedal] - (hasClutch ? 0 : kTwoPedalShift[pedal]) + (zonesEnabled ? 0 : kZonesOffShift);
}

int proZoneColumnX(int pedal, bool hasClutch) {
  return kZoneColumnX[pedal] - (hasClutch ? 0 : kTwoPedalShift[pedal]);
}

ProPage::ProPage(Application& app, Profiles& profiles)
    : app_(app),
      profiles_(profiles),
      wizard_(app.controller, *this,
              {[] { resetJoystickCalibration(); }, [&app] { return app.usageLog(); },
               [&app] { return app.basePath(); }}) {
  bars_ = std::make_unique<ProBars>(
      app.model().readout, app.controller.state,
      [&app] { return app.pedals() ? app.pedals()->axes() : PedalAxes{}; },
      [&app] { return app.usageLog(); });
  bars_->maxBrakePress = [this] {
    return zones[kBrakePedal].upper ? zones[kBrakePedal].upper->value() : app_.controller.state.brakeUpper;
  };
  // The PRO entry of the main page opens this page, then shows the zones read back.
  MainPage& main = app.mainPage();
  QObject::connect(&main, &MainPage::proPageOpened, &timerContext_, [this](bool calibrated) { pageOpened(calibrated); });
  QObject::connect(&main, &MainPage::proZonesReadBack, &timerContext_, [this] { showZonesFromState(); });
}

ProPage::~ProPage() = default;

QPushButton* ProPage::button(const QString& text, int w, int h, int x, int y, bool bottom, bool right) {
  auto* b = new QPushButton(text, page);
  b->setFocusPolicy(Qt::NoFocus);
  setButtonLook(b, ButtonLook::Normal);
  // Aligned at the default height, then resized keeping the top-left corner; kept inside.
  int top = bottom ? page->height() - kDefaultButtonHeight + y : y;
  top = std::clamp(top, 0, page->height() - h);
  const int left = right ? page->width() - w + x : x;
  b->setGeometry(left, top, w, h);
  return b;
}

void ProPage::Create_pro_page(QWidget* container) {
  trace("\nCreate_pro_page - Inicio");
  page = container;
  ControllerState& state = app_.controller.state;
  LabelBoard& board = app_.labels();
  auto onText = [&board](LabelRole role, QAbstractButton* b) {
    board.add(role, [b](const std::string& t) { setFittedText(b, QString::fromStdString(t)); });
  };
  auto onLabel = [&board](LabelRole role, QLabel* l) {
    board.add(role, [l](const std::string& t) { setFittedText(l, QString::fromStdString(t), kNameRoomPx); });
  };
  app_.model().readout.excess().parcial = 0;
  app_.model().readout.excess().numero = 0;

  calibrate = button("CALIBRATE", kButtonWidth, kButtonHeight, 30, -3, true);
  next = button("NEXT", kButtonWidth, kButtonHeight, 30, 310, false);
  cancel = button("CANCEL", kButtonWidth, kButtonHeight, 30, 370, false);
  cancel->hide();
  saveCalibration = button("SAVE", kButtonWidth, kButtonHeight, 30, -60, true);
  saveCalibration->hide();
  apply = button("APPLY SETTINGS", 240, kButtonHeight, 290, -40, true);
  saveProfile = button("SAVE", kButtonWidth, kButtonHeight, 420, 17, true);
  loadProfile = button("LOAD", kButtonWidth, kButtonHeight, 270, 17, true);
  close = button("CLOSE", kButtonWidth, kButtonHeight, -60, -3, true, true);
  onText(LabelRole::ProCalibrate, calibrate);
  onText(LabelRole::ProNext, next);
  onText(LabelRole::ProCancel, cancel);
  onText(LabelRole::ProCalibrationSave, saveCalibration);
  onText(LabelRole::ProApply, apply);
  onText(LabelRole::ProSave, saveProfile);
  onText(LabelRole::ProLoad, loadProfile);
  onText(LabelRole::ProClose, close);
  connectButtons();

  wizardPanel = new QFrame(page);
  wizardPanel->setObjectName("WizardPanel");
  wizardPanel->setGeometry(30, 30, 760, 250);
  wizardPanel->setStyleSheet("#WizardPanel{background:#f4f4f4;border-radius:8px;}");
  wizardText = makeLabel(wizardPanel, "", 22);
  wizardText->setTextFormat(Qt::RichText);
  setRecolouredText(wizardText, "DON'T PRESS ANY PEDALS AND PRESS \nCALIBRATE.");
  wizardText->setAlignment(Qt::AlignCenter);
  wizardText->setGeometry(20, 40, 720, 110);
  wizardNote = makeLabel(wizardPanel, "", 16);
  wizardNote->setTextFormat(Qt::RichText);
  wizardNote->setAlignment(Qt::AlignCenter);
  wizardNote->setGeometry(20, 160, 720, 70);
  wizardPanel->hide();

  const char* confirmTexts[4] = {"SETTINGS APPLY!", "SETTINGS SAVED!", "SETTINGS LOADED!", "SETTINGS NOT SAVED!"};
  const LabelRole confirmRoles[4] = {LabelRole::ProApplied, LabelRole::ProSaved, LabelRole::ProLoaded,
                                     LabelRole::ProNotSaved};
  for (int i = 0; i < 4; ++i) {
    QLabel* l = makeLabel(page, confirmTexts[i], 18);
    l->setStyleSheet(i == 3 ? "color:#e04040;" : "color:#3fd16a;");
    auto centre = [l, this] { l->move(410 - l->width() / 2, page->height() - 98 - l->height() / 2); };
    centre();
    board.add(confirmRoles[i], [l, centre, this](const std::string& t) {
      setFittedText(l, QString::fromStdString(t), page->width());
      centre();
    });
    l->hide();
    confirmations[i] = l;
  }

  for (int p = 0; p < 3; ++p) buildColumn(p);
  for (int p = 0; p < 3; ++p) buildZoneColumn(p);
  onLabel(LabelRole::ProClutchTitle, names[0]);
  onLabel(LabelRole::ProBrakeTitle, names[1]);
  onLabel(LabelRole::ProThrottleTitle, names[2]);
  buildBrakeExtras();
  if (!state.hasClutch) {
    // Two-pedal models have no clutch column at all.
    barColumns[0]->hide();
    valueBoxes[0]->hide();
    historyColumns[0]->hide();
    names[0]->hide();
    zones[0].column->hide();
  }
  moveColumns(true);

  connectModel();
  trace("\nCreate_pro_page - Final");
}

void ProPage::connectModel() {
  ControllerModel& model = app_.model();
  QObject* context = &timerContext_;
  QObject::connect(&model, &ControllerModel::profileLoaded, context, [this](ProfileKind kind, bool loaded) {
    if (!loaded) return;
    showLoadedZones();
    if (kind == ProfileKind::Sport) autoBrakeSwitch->setOn(app_.controller.state.autoBrake != 0);
  });
  QObject::connect(&model, &ControllerModel::zonesChanged, context, [this] {
    if (!showingOwnZones_) showZonesFromState();
  });
  QObject::connect(&model, &ControllerModel::bandsChanged, context, [this] { bars_->showBands(); });
  QObject::connect(&model, &ControllerModel::lettersChanged, context, [this] { showKeyLetters(); });
  QObject::connect(&model, &ControllerModel::letterChanged, context,
                   [this](Field field, int index) { selectLetter(field, index); });
  QObject::connect(&model, &ControllerModel::autoBrakeChanged, context,
                   [this](bool on) { autoBrakeSwitch->setOn(on); });
  // A zone sent from outside the page: shown as one the wizard sent, not sent again.
  QObject::connect(&model, &ControllerModel::settingSent, context, [this](Field field) {
    const ControllerState& s = app_.controller.state;
    for (Pedal pedal : kPedals)
      for (bool upper : {true, false})
        if (zoneSetting(pedal, upper).field == field)
          zoneShown(field, s.isKnown(field) ? std::optional<int>(settingValue(s, field)) : std::nullopt);
  });
}

// The Mas and Menos lists show the letter chosen on either page; nothing is sent again.
void ProPage::selectLetter(Field field, int index) {
  QComboBox* list = field == Field::LetterMas ? masList : field == Field::LetterMenos ? menosList : nullptr;
  if (list == nullptr) return;
  settingLists_ = true;
  list->setCurrentIndex(index);
  settingLists_ = false;
}

void ProPage::buildColumn(int pedal) {
  const char* titles[3] = {"CLUTCH", "BRAKE", "THROTTLE"};
  names[pedal] = whiteLabel(page, titles[pedal], 17);

  auto* column = new QFrame(page);
  column->resize(90, 210);
  auto* bar = new PedalBar(column, 30, kBarHeight);
  bar->move(2, kBarTop);
  bars_->pro.bar[pedal] = bar;
  for (int i = 0; i < 11; ++i) {
    QLabel* tick = whiteLabel(column, "-", 12);
    tick->move(34, kBarTop + i * 20 - tick->height() / 2 + 1);
  }
  const QStringList scale = pedal == kBrakePedal ? QStringList{"100", "0"} : QStringList{"100", "50", "0"};
  for (int i = 0; i < scale.size(); ++i) {
    QLabel* l = whiteLabel(column, scale[i], 12);
    const int y = scale[i] == "100" ? 0 : scale[i] == "50" ? 96 : 192;
    l->move(44, y);
    if (scale[i] == "100") scaleLabels[pedal][1] = l;
    if (scale[i] == "0") scaleLabels[pedal][0] = l;
  }
  for (int m = 0; m < 2; ++m) {
    auto* marker = new QFrame(column);
    marker->setGeometry(0, kBarTop + kBarHeight - 1, 34, 2);
    marker->setStyleSheet("background:#ff3030;");
    (m == 0 ? zones[pedal].upperMarker : zones[pedal].lowerMarker) = marker;
  }
  barColumns[pedal] = column;

  auto* value = new QFrame(page);
  value->resize(90, 30);
  QLabel* valueLabel = whiteLabel(value, "     0 %", 16);
  valueLabel->setGeometry(0, 4, 90, 22);
  bars_->pro.value[pedal] = valueLabel;
  valueBoxes[pedal] = value;

  auto* history = new QFrame(page);
  history->resize(35, 185);
  for (int i = 0; i < kProHistoryEntries; ++i) {
    QLabel* entry = whiteLabel(history, kEmptyHistoryEntry, 10);
    entry->setTextFormat(pedal == kBrakePedal ? Qt::RichText : Qt::PlainText);
    entry->setGeometry(0, i * 15, 35, 15);
    // The entries' leading blanks only pushed them right: they are drawn right-aligned.
    entry->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    bars_->pro.history[pedal][i] = entry;
  }
  historyColumns[pedal] = history;
}

void ProPage::buildZoneColumn(int pedal) {
  ZoneColumn& z = zones[pedal];
  z.column = new QFrame(page);
  z.column->resize(kZoneColumnWidth, 210);
  const bool brake = pedal == kBrakePedal;
  z.upperLabel = whiteLabel(z.column, brake ? "MAX BRAKE PRESS" : "TOP DEAD ZONE", 12);
  z.lowerLabel = whiteLabel(z.column, "LOWER DEAD ZONE", 12);
  z.upperLabel->move(4, 0);
  z.lowerLabel->move(4, 62);
  auto fit = [](QLabel* l) {
    return [l](const std::string& t) { setFittedText(l, QString::fromStdString(t), kZoneColumnWidth - 2 * l->x()); };
  };
  app_.labels().add(brake ? LabelRole::ProBrakeLimit : LabelRole::ProUpperZone, fit(z.upperLabel));
  app_.labels().add(LabelRole::ProLowerZone, fit(z.lowerLabel));
  auto row = [&](int y, ValueBox*& box, QPushButton*& minus, QPushButton*& plus, bool upper) {
    minus = new QPushButton("-", z.column);
    plus = new QPushButton("+", z.column);
    box = new ValueBox(z.column, 0, 100);
    minus->setGeometry(14, y, 26, 25);
    box->setGeometry(46, y, 38, 25);
    plus->setGeometry(90, y, 26, 25);
    for (QPushButton* b : {minus, plus}) {
      b->setFocusPolicy(Qt::NoFocus);
      setButtonLook(b, ButtonLook::Normal);
      QObject::connect(b, &QPushButton::clicked, page,
                       [this, pedal, upper, isPlus = b == plus] {
                         const Application::Action action(app_);
                         zoneButton(pedal, upper, isPlus);
                       });
    }
    box->setHandler([this, pedal, upper](int v) { zoneChanged(pedal, upper, v); });
  };
  row(22, z.upper, z.upperMinus, z.upperPlus, true);
  row(84, z.lower, z.lowerMinus, z.lowerPlus, false);
}

void ProPage::buildBrakeExtras() {
  ControllerState& state = app_.controller.state;
  QFrame* brakeColumn = zones[kBrakePedal].column;
  abs = new QPushButton("ABS", brakeColumn);
  abs->setFocusPolicy(Qt::NoFocus);
  abs->setGeometry(35, 210 - 30 - 25, 80, 30);
  setButtonLook(abs, ButtonLook::Normal);
  onClick(abs, [this] { autocal(); });

  absList = letterList(page, kAbsLetters, 5);
  masList = letterList(page, kMasLetters, 6);
  menosList = letterList(page, kMenosLetters, 6);
  autoBrakeList = letterList(page, kAutoBrakeLetters, 3);
  const LabelRole captionRoles[4] = {LabelRole::KeyAbs, LabelRole::KeyPressPlus, LabelRole::KeyPressMinus,
                                     LabelRole::KeyAutoBrake};
  const char* const captionTexts[4] = {"ABS", "PRESS +", "PRESS -", "AUTOBRAKE"};
  for (int i = 0; i < 4; ++i) {
    QLabel* caption = whiteLabel(page, captionTexts[i], 11);
    caption->setFixedWidth(kCaptionWidth);
    caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    app_.labels().add(captionRoles[i], [caption](const std::string& t) {
      setFittedText(caption, QString::fromStdString(t), kCaptionWidth);
      caption->setFixedWidth(kCaptionWidth);
    });
    listCaptions[i] = caption;
  }
  absList->setCurrentIndex(std::min<int>(state.letterAbs, 4));
  masList->setCurrentIndex(std::min<int>(state.letterMas, 5));
  menosList->setCurrentIndex(std::min<int>(state.letterMenos, 5));
  autoBrakeList->setCurrentIndex(std::min<int>(state.letterAutoBrake, 2));
  // A list set by the page itself (settingLists_) only shows; one the driver sets sends.
  struct ListRole {
    QComboBox* list;
    Field letter;
    const char* traceLine;
  };
  const ListRole roles[] = {{absList, Field::LetterAbs, "Option: Letra ABS\n"},
                            {autoBrakeList, Field::LetterAutoBrake, "Option: Letra AB\n"},
                            {masList, Field::LetterMas, "Option: Letra mas pro\n"},
                            {menosList, Field::LetterMenos, "Option: Lista menos PRO\n"}};
  for (const ListRole& role : roles)
    QObject::connect(role.list, &QComboBox::currentIndexChanged, page, [this, role](int index) {
      const Application::Action action(app_);
      if (settingLists_) return;
      trace("%s", role.traceLine);
      app_.model().setLetter(role.letter, index);
    });

  // Set by the program the switch reports nothing; flipped by the user it reaches the handler.
  autoBrakeSwitch = new ToggleSwitch(page);
  autoBrakeSwitch->setOn(state.autoBrake == 1, false);
  autoBrakeSwitch->onUserToggle = [this](bool) {
    const Application::Action action(app_);
    if (settingLists_) return;
    app_.operations.setAutoBrake(autoBrakeSwitch->isOn());
    if (!autoBrakeSwitch->isOn() && app_.operations.endAutoBrakeTest()) setLed(100);
  };
  autoBrakeLabel = whiteLabel(page, "Autobrake     ", 14);
  autoBrakeTest = new QPushButton("Autobrake", page);
  autoBrakeTest->setFocusPolicy(Qt::NoFocus);
  autoBrakeTest->resize(130, 30);
  setButtonLook(autoBrakeTest, ButtonLook::Normal);
  // The test button works on press and release, not on clicks.
  for (const bool pressed : {true, false})
    QObject::connect(autoBrakeTest, pressed ? &QPushButton::pressed : &QPushButton::released, page, [this, pressed] {
      const Application::Action action(app_);
      app_.operations.testAutoBrake(pressed);
      setLed(pressed ? 255 : 100);
    });
  led = new Led(page);
  led->setBrightness(100);
  autoBrakeLabel->setVisible(state.hasClutch);
  autoBrakeTest->setVisible(!state.hasClutch);
  autoBrakeList->setVisible(!state.hasClutch);
  listCaptions[3]->setVisible(!state.hasClutch);
  led->setVisible(!state.hasClutch);

  // The wizard's arrows over the calibration picture: green down on the pedal to press,
  // red up on every pedal that must rest.
  for (int p = 0; p < 3; ++p) {
    pressArrows[p] = new Picture(app_.window(), ":/pictures/arrow_down.svg", kArrowWidth, kArrowHeight);
    restArrows[p] = new Picture(app_.window(), ":/pictures/arrow_up.svg", kArrowWidth, kArrowHeight);
    for (QLabel* arrow : {pressArrows[p], restArrows[p]}) {
      arrow->move(kArrowFaceX[state.hasClutch ? 0 : 1][p] - kArrowWidth / 2, kArrowTop);
      arrow->hide();
    }
  }
}

void ProPage::moveColumns(bool zonesEnabled) {
  const bool clutch = app_.controller.state.hasClutch;
  for (int p = 0; p < 3; ++p) {
    const int x = proColumnX(p, zonesEnabled, clutch);
    barColumns[p]->move(x, kColumnY);
    valueBoxes[p]->move(x, kValueY);
    historyColumns[p]->move(x - 38, kColumnY + 12);
    names[p]->move(x + 10, kColumnY - 30);
    zones[p].column->move(proZoneColumnX(p, clutch), kColumnY);
  }
  const int bx = proZoneColumnX(kBrakePedal, clutch) + 22;
  QComboBox* const brakeLists[3] = {absList, masList, menosList};
  for (int i = 0; i < 3; ++i) {
    const int y = kListTop + i * kListRowPx;
    listCaptions[i]->move(bx, y + (brakeLists[i]->height() - listCaptions[i]->height()) / 2);
    brakeLists[i]->move(bx + kCaptionWidth + kCaptionGap, y);
  }
  // Beside the lowest list, clear of the confirmations below.
  const int switchY = kListTop + 2 * kListRowPx;
  autoBrakeSwitch->move(bx - kSwitchLeftOfLists, switchY);
  autoBrakeLabel->move(autoBrakeSwitch->x() - kSwitchLabelGap - autoBrakeLabel->width(),
                       switchY + (autoBrakeSwitch->height() - autoBrakeLabel->height()) / 2);
  const int tx = proZoneColumnX(kThrottlePedal, clutch) + 62;
  autoBrakeTest->move(tx, 360);
  autoBrakeList->move(tx, 398);
  listCaptions[3]->move(tx - kCaptionGap - kCaptionWidth, 398 + (autoBrakeList->height() - listCaptions[3]->height()) / 2);
  led->move(tx + 140, 365);
}

void ProPage::mostrar_controles_pro(bool show) {
  if (page == nullptr) return;  // the page was not built
  trace("\nmostrar_controles_pro - Inicio");
  const bool clutch = app_.controller.state.hasClutch;
  for (int p = 0; p < 3; ++p) {
    const bool visible = show && (p != kClutchPedal || clutch);
    ZoneColumn& z = zones[p];
    for (QWidget* w : std::initializer_list<QWidget*>{z.upper, z.lower, z.upperLabel, z.lowerLabel, z.upperMinus,
                                                      z.upperPlus, z.lowerMinus, z.lowerPlus, z.upperMarker,
                                                      z.lowerMarker, names[p], barColumns[p], valueBoxes[p],
                                                      historyColumns[p]})
      w->setVisible(visible);
  }
  trace("\nmostrar_controles_pro - Final");
}

void ProPage::MostrarPasoCalibracion(int step) {
  if (page == nullptr) return;  // the page was not built
  app_.TextoPasoCalibracion(step, wizardText, wizardNote);
  // Steps 0 to 3 show the calibration picture of the pedal kind beside the wizard.
  if (step >= 0 && step <= 3) app_.mainPage().showCalibrationPicture(false);
  showArrows(step);
}

// Step 0: every pedal rests; steps 1 to 3: the throttle, the brake, the clutch is pressed.
void ProPage::showArrows(int step) {
  const bool clutch = app_.controller.state.hasClutch;
  const int pressed = step == 1 ? kThrottlePedal : step == 2 ? kBrakePedal : step == 3 ? kClutchPedal : -1;
  for (int p = 0; p < 3; ++p) {
    const bool present = p != kClutchPedal || clutch;
    pressArrows[p]->setVisible(present && p == pressed);
    restArrows[p]->setVisible(present && step == 0);
    if (pressArrows[p]->isVisible()) pressArrows[p]->raise();
    if (restArrows[p]->isVisible()) restArrows[p]->raise();
  }
}

void ProPage::hideConfirmations(int except) {
  for (int i = 0; i < 4; ++i) confirmations[i]->setVisible(i == except);
}

void ProPage::showAutoBrakeWidgets(bool show) {
  const bool clutch = app_.controller.state.hasClutch;
  autoBrakeSwitch->setVisible(show);
  autoBrakeLabel->setVisible(show && clutch);
  autoBrakeTest->setVisible(show && !clutch);
  autoBrakeList->setVisible(show && !clutch);
  listCaptions[3]->setVisible(show && !clutch);
  led->setVisible(show && !clutch);
}

void ProPage::showZoneControls(bool on) {
  const bool clutch = app_.controller.state.hasClutch;
  apply->setVisible(on);
  saveProfile->setVisible(on);
  loadProfile->setVisible(on);
  for (int p = 0; p < 3; ++p) zones[p].column->setVisible(on && (p != kClutchPedal || clutch));
  for (QComboBox* list : {absList, masList, menosList}) list->setVisible(on);
  for (int i = 0; i < 3; ++i) listCaptions[i]->setVisible(on);
  moveColumns(on);
  if (on) {
    ActualizarBarras();
  } else {
    bars_->plainProBars();
  }
}

void ProPage::switchZones(bool on) {
  trace(on ? "\nSet zones PRO pressed - Inicio" : "\nReset zones PRO pressed - Inicio");
  hideConfirmations();
  app_.operations.setZonesEnabled(on);
  showZoneControls(on);
  trace(on ? "\nSet zones PRO pressed - Final\n" : "\nReset zones PRO pressed - Final\n");
}

void ProPage::showLoadedZones() {
  if (page == nullptr) return;  // the page was not built
  const ControllerState& s = app_.controller.state;
  for (Pedal pedal : kPedals) {
    for (bool upper : {true, false}) {
      ZoneColumn& z = zones[pedalIndex(pedal)];
      const int value = std::clamp(zoneValue(s, pedal, upper), 0, 100);
      (upper ? z.upper : z.lower)->showValue(value);
      moveMarker(pedalIndex(pedal), upper, value);
    }
  }
  for (auto& labels : scaleLabels)
    for (QLabel* l : labels)
      if (l) l->update();
  ActualizarBarras();
}

void ProPage::moveMarker(int pedal, bool upper, int value) {
  QFrame* marker = upper ? zones[pedal].upperMarker : zones[pedal].lowerMarker;
  marker->move(0, kBarTop + kBarHeight - 1 - 2 * value);
}

void ProPage::showZonesFromState() {
  if (page == nullptr) return;  // the page was not built
  const ControllerState& s = app_.controller.state;
  for (Pedal pedal : kPedals) {
    for (bool upper : {true, false}) {
      const Setting& zone = zoneSetting(pedal, upper);
      showZoneBox(upper ? zones[pedalIndex(pedal)].upper : zones[pedalIndex(pedal)].lower, s.isKnown(zone.field),
                  zone.get(s));
    }
  }
  for (auto& labels : scaleLabels)
    for (QLabel* l : labels)
      if (l) l->update();
}

void ProPage::zoneChanged(int pedal, bool upper, int value) {
  // The value on the box is the driver's (or one the controller reported): known from now.
  // A value the wizard has just sent is only shown.
  const Pedal p = static_cast<Pedal>(pedal);
  if (!showingSent_) app_.operations.setZone(ZonePage::Pro, p, upper, value);
  moveMarker(pedal, upper, value);
  ActualizarBarras();
  if (showingSent_) traceZoneChange(ZonePage::Pro, p, upper, value);
}

void ProPage::zoneButton(int pedal, bool upper, bool plus) {
  hideConfirmations();
  ZoneColumn& z = zones[pedal];
  // A step from a value that is not known would send a made-up one.
  if (!z.upper->known() || !z.lower->known()) {
    trace("\nPRO-EV - dead zone not known: step ignored");
    return;
  }
  if (zoneStepAllowed(static_cast<Pedal>(pedal), upper, plus, z.upper->value(), z.lower->value(),
                      app_.controller.state.brakeMax)) {
    ValueBox* box = upper ? z.upper : z.lower;
    box->set(box->value() + (plus ? 1 : -1));
  }
}

void ProPage::setLed(int brightness) {
  if (page == nullptr) return;  // the page was not built
  led->setBrightness(brightness);
}

void ProPage::showKeyLetters() {
  if (page == nullptr) return;  // the page was not built
  const ControllerState& s = app_.controller.state;
  // A letter that is not known leaves its list without an entry.
  auto entry = [&s](Field f, int value, int last) { return s.isKnown(f) ? std::min(value, last) : -1; };
  settingLists_ = true;
  absList->setCurrentIndex(entry(Field::LetterAbs, s.letterAbs, 4));
  autoBrakeList->setCurrentIndex(entry(Field::LetterAutoBrake, s.letterAutoBrake, 2));
  masList->setCurrentIndex(entry(Field::LetterMas, s.letterMas, 5));
  menosList->setCurrentIndex(entry(Field::LetterMenos, s.letterMenos, 5));
  settingLists_ = false;
}

void ProPage::placeControls() {
  if (page == nullptr) return;  // the page was not built
  // loadSettings: the page shows what the controller holds; nothing is sent.
  const ControllerState& s = app_.controller.state;
  mostrar_controles_pro(s.calibrated);
  showZoneControls(s.zonesEnabled);
  showAutoBrakeWidgets(s.calibrated);
}

void ProPage::pageOpened(bool calibrated) {
  if (page == nullptr) return;  // the page was not built
  ControllerState& s = app_.controller.state;
  emit app_.model().autoBrakeChanged(s.autoBrake == 1);
  next->hide();
  if (calibrated) {
    mostrar_controles_pro(true);
    switchZones(true);
    MostrarPasoCalibracion(4);
  } else {
    showAutoBrakeWidgets(false);
    mostrar_controles_pro(false);
    switchZones(false);
    app_.TextoPasoCalibracion(0, wizardText, wizardNote);
    MostrarPasoCalibracion(0);
    wizardPanel->show();
    wizardPanel->raise();
    wizardText->show();
    wizardNote->show();
  }
}

void ProPage::afterPause(CalibrationPause pause) {
  if (!pause) return;
  pending_ = true;
  QTimer::singleShot(pause.ms, &timerContext_, [this] {
    // While the settings are read again (or the pedals are away) the step waits its turn.
    if (!app_.controllerFree()) return afterPause({kBusyRetryMs});
    pending_ = false;
    const Application::Action action(app_);
    wizard_.resume();
  });
}

void ProPage::endCalibration() {
  const CalibrationPause pause = wizard_.end();
  if (!pause) return;
  // The controller is storing the points: it takes this long, and then gets the rest of SAVE.
  std::this_thread::sleep_for(std::chrono::milliseconds(pause.ms));
  wizard_.resume();
}

// The wizard's widgets at each point of the procedure (the frames are the wizard's).
void ProPage::calibrationStarted() {
  app_.mainPage().showCalibrationPicture(true);
  showAutoBrakeWidgets(false);
  hideConfirmations();
}

void ProPage::zoneControlsShown(bool on) {
  hideConfirmations();
  showZoneControls(on);
}

void ProPage::wizardOpened() {
  next->show();
  next->raise();
  app_.mainPage().hideActivateButtons();
  saveCalibration->hide();
  cancel->show();
  cancel->raise();
  mostrar_controles_pro(false);
}

void ProPage::stepShown(int step) {
  if (step < 4) {
    MostrarPasoCalibracion(step);
    if (step == 1) wizardPanel->show();
    return;
  }
  next->hide();
  saveCalibration->show();
  saveCalibration->raise();
  MostrarPasoCalibracion(4);
  app_.mainPage().markActiveMode(false);
}

void ProPage::calibrationEnding() {
  app_.mainPage().showModelPicturesAgain();
  showArrows(-1);
  showAutoBrakeWidgets(true);
}

void ProPage::zoneAreaShown() {
  mostrar_controles_pro(true);
  hideConfirmations();
}

// The wizard sent the value: the box, its marker and the bands show it, nothing is sent again.
void ProPage::zoneShown(Field field, std::optional<int> value) {
  for (Pedal pedal : kPedals)
    for (bool upper : {true, false}) {
      if (zoneSetting(pedal, upper).field != field) continue;
      ValueBox* box = upper ? zones[pedalIndex(pedal)].upper : zones[pedalIndex(pedal)].lower;
      if (!value) {
        box->showUnknown();
        return;
      }
      showingSent_ = true;
      box->set(*value);
      showingSent_ = false;
      return;
    }
}

void ProPage::zonesShown() {
  for (auto& labels : scaleLabels)
    for (QLabel* l : labels)
      if (l) l->update();
  // This page shows them already; the other page shows them from the state.
  showingOwnZones_ = true;
  emit app_.model().zonesChanged();
  showingOwnZones_ = false;
}

void ProPage::modeShown() { emit app_.model().modeChanged(); }

void ProPage::wizardClosed(bool saved) {
  if (saved) {
    app_.TextoPasoCalibracion(5, wizardText, wizardNote);
    saveCalibration->hide();
    cancel->hide();
    wizardText->move(wizardText->x(), (wizardPanel->height() - wizardText->height()) / 2 - 30);
  } else {
    saveCalibration->hide();
    cancel->hide();
    next->hide();
    app_.TextoPasoCalibracion(5, wizardText, wizardNote);
  }
  wizardPanel->hide();
}

void ProPage::profileShown() { emit app_.model().profileChanged(); }

void ProPage::brakeZonesShown() {
  emit app_.model().brakeZonesChanged();
  ActualizarBarras();
}

void ProPage::exitPro() {
  trace("\nExit Pro pressed - Inicio");
  ControllerState& s = app_.controller.state;
  cancel->hide();
  app_.mainPage().showModelPicturesAgain();
  showArrows(-1);
  hideConfirmations();
  wizard_.close();
  // The calibration hid the AutoBrake widgets; they belong to a calibrated set.
  showAutoBrakeWidgets(s.calibrated);
  page->hide();
  // An unfinished wizard is over: its buttons go with the page.
  next->hide();
  saveCalibration->hide();
  wizardPanel->hide();
  app_.mainPage().showModeButtonsAfterPage();
  if (s.sportProfileLoaded) {
    for (Query q : {Query::ClutchCurve, Query::BrakeCurve, Query::ThrottleCurve}) app_.controller.query(q);
    emit app_.model().curvesChanged();
  }
  trace("\nExit Pro pressed - Final\n");
}

// The dead-zone bands of both pages' bars follow the zones (the CUSTOM page restyles its
// own output bars).
void ProPage::ActualizarBarras() { app_.model().showBands(); }

void ProPage::autocal() {
  if (page == nullptr) return;  // the page was not built
  tkb::autocal(app_.controller, app_.model().readout.excess(), app_.usageLog(), *this);
}

void ProPage::brakeUpperStep(int delta) {
  if (page == nullptr) return;  // the page was not built
  const Application::Action action(app_);
  hideConfirmations();
  if (const auto value = stepMaxBrakePress(app_.operations, delta)) {
    zones[kBrakePedal].upper->showValue(*value);
    moveMarker(kBrakePedal, true, *value);
    ActualizarBarras();
  }
}

template <typename F>
void ProPage::onClick(QPushButton* b, F run) {
  QObject::connect(b, &QPushButton::clicked, page, [this, run] {
    const Application::Action action(app_);
    run();
  });
}

// The wizard's buttons wait for a pending step: a click meanwhile would interleave frames.
template <typename F>
void ProPage::onWizardClick(QPushButton* b, F run) {
  onClick(b, [this, run] {
    if (pending_) {
      trace("\nPRO wizard busy: click ignored");
      return;
    }
    run();
  });
}

void ProPage::connectButtons() {
  onWizardClick(calibrate, [this] { afterPause(wizard_.calibrate()); });
  onWizardClick(next, [this] { wizard_.next(); });
  onWizardClick(saveCalibration, [this] { afterPause(wizard_.save()); });
  onWizardClick(cancel, [this] { wizard_.cancel(); });
  onWizardClick(close, [this] { exitPro(); });
  onClick(apply, [this] {
    trace("\nAplicar zones PRO pressed - Inicio");
    hideConfirmations(0);
    app_.operations.storeZones();
    profiles_.recordActiveProfile(app_.basePath());
    trace("\nAplicar zones PRO pressed - Final\n");
  });
  // The profile operations print their own "Guardar/Cargar zones PRO pressed" lines.
  // As on the CUSTOM page, a file that was not written is not called saved.
  onClick(saveProfile, [this] {
    hideConfirmations(1);
    if (!profiles_.GuardarPerfilPro()) hideConfirmations(3);
  });
  onClick(loadProfile, [this] {
    hideConfirmations(2);
    if (const auto refusal = profiles_.CargarPerfilPro()) {
      hideConfirmations();
      app_.showProfileRefusal(*refusal);
    }
  });
}

}  // namespace tkb::ui
