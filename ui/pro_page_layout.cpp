// The PRO page's widgets: where each stands and how it looks.
#include <QRect>
#include <algorithm>

#include "link/trace.h"
#include "ui/pro_page.h"

namespace tkb::ui {

namespace {
constexpr int kButtonWidth = 130, kButtonHeight = 40;
constexpr int kDefaultButtonHeight = 50;  // buttons are aligned at this height, then resized
constexpr int kBarColumnX[3] = {39, 302, 567};
constexpr int kZoneColumnX[3] = {110, 373, 638};
constexpr int kTwoPedalShift[3] = {0, 200, 100};
constexpr int kColumnY = 135, kValueY = 350, kZonesOffShift = 50;
constexpr int kBarHeight = 202, kBarTop = 4;
// Wide enough for the longest dead-zone caption in the smallest readable size.
constexpr int kZoneColumnWidth = 140, kZoneLabelX = 2, kZoneRowX = 19;
constexpr int kNameRoomPx = 200;
// The peaks column left of each bar: its heading, then one entry every 15 px, right-aligned
// a little before the bar.
constexpr int kHistoryWidth = 40, kHistoryEntryWidth = 37, kHistoryEntryPx = 11;
constexpr int kHistoryTop = kColumnY - 9, kHistoryFirstEntry = 21, kHistoryStepPx = 15;
// The key-letter lists: a caption, then the list.
constexpr int kCaptionWidth = 84, kCaptionGap = 6, kListRowPx = 33, kListTop = 345, kListTextPx = 14;
// While the driver checks the calibration the bars stand right of the wizard's buttons,
// under the wizard's panel, which then shrinks to a band along the page's top.
constexpr int kCheckShift = 80, kCheckNameCentre = 17;
constexpr QRect kWizardPanelFull{30, 30, 760, 250}, kWizardPanelBand{30, 6, 760, 92};
constexpr int kWizardTextPx = 22, kWizardNotePx = 16, kBandTextPx = 15, kBandNotePx = 12;
// The AutoBrake switch stands left of the lowest list, its label left of it.
constexpr int kSwitchLeftOfLists = 58, kSwitchLabelGap = 6, kAutoBrakeLabelRoom = 120;
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
  setTextPx(list, kListTextPx);
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
}  // namespace

int proColumnX(int pedal, bool zonesEnabled, bool hasClutch) {
  return kBarColumnX[pedal] - (hasClutch ? 0 : kTwoPedalShift[pedal]) + (zonesEnabled ? 0 : kZonesOffShift);
}

int proZoneColumnX(int pedal, bool hasClutch) {
  return kZoneColumnX[pedal] - (hasClutch ? 0 : kTwoPedalShift[pedal]);
}

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
  bars_->pro.page = container;
  const ControllerState& state = model_.state();
  auto onText = [this](LabelRole role, QAbstractButton* b) {
    labels_.add(role, [b](const std::string& t) { setFittedText(b, QString::fromStdString(t)); });
  };
  model_.readout().excess() = {};

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

  wizardPanel = new QFrame(page);
  wizardPanel->setObjectName("WizardPanel");
  wizardPanel->setGeometry(30, 30, 760, 250);
  wizardPanel->setStyleSheet("#WizardPanel{background:#f4f4f4;border-radius:8px;}");
  wizardText = makeLabel(wizardPanel, "", kWizardTextPx);
  wizardText->setTextFormat(Qt::RichText);
  setRecolouredText(wizardText, "DON'T PRESS ANY PEDALS AND PRESS \nCALIBRATE.");
  wizardText->setAlignment(Qt::AlignCenter);
  wizardNote = makeLabel(wizardPanel, "", kWizardNotePx);
  wizardNote->setTextFormat(Qt::RichText);
  wizardNote->setAlignment(Qt::AlignCenter);
  placeWizardPanel(false);
  wizardPanel->hide();

  const char* confirmTexts[4] = {"SETTINGS APPLY!", "SETTINGS SAVED!", "SETTINGS LOADED!", "SETTINGS NOT SAVED!"};
  const LabelRole confirmRoles[4] = {LabelRole::ProApplied, LabelRole::ProSaved, LabelRole::ProLoaded,
                                     LabelRole::ProNotSaved};
  for (int i = 0; i < 4; ++i) {
    QLabel* l = makeLabel(page, confirmTexts[i], 18);
    l->setStyleSheet(i == 3 ? "color:#e04040;" : "color:#3fd16a;");
    auto centre = [l, this] { l->move(410 - l->width() / 2, page->height() - 98 - l->height() / 2); };
    centre();
    labels_.add(confirmRoles[i], [l, centre, this](const std::string& t) {
      setFittedText(l, QString::fromStdString(t), page->width());
      centre();
    });
    l->hide();
    confirmations[i] = l;
  }

  for (int p = 0; p < 3; ++p) buildColumn(p);
  for (int p = 0; p < 3; ++p) buildZoneColumn(p);
  const LabelRole titleRoles[3] = {LabelRole::ProClutchTitle, LabelRole::ProBrakeTitle, LabelRole::ProThrottleTitle};
  for (int p = 0; p < 3; ++p)
    labels_.add(titleRoles[p], [l = names[p]](const std::string& t) {
      setFittedText(l, QString::fromStdString(t), kNameRoomPx);
    });
  buildBrakeExtras();
  buildWizardArrows();
  if (!state.hasClutch) {
    // Two-pedal models have no clutch column at all.
    barColumns[0]->hide();
    valueBoxes[0]->hide();
    historyColumns[0]->hide();
    names[0]->hide();
    zones[0].column->hide();
  }
  moveColumns(true);
  connectButtons();
  connectModel();
  trace("\nCreate_pro_page - Final");
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
    auto* marker = new SolidLine(column, QColor(0xff, 0x30, 0x30));
    marker->setGeometry(0, kBarTop + kBarHeight - 1, 34, 2);
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
  history->resize(kHistoryWidth, kHistoryFirstEntry + kProHistoryEntries * kHistoryStepPx);
  QLabel* heading = whiteLabel(history, "PEAKS", kHistoryEntryPx);
  heading->setStyleSheet("color:#ffb347;font-weight:bold;");
  labels_.add(LabelRole::PeaksHeading, [heading](const std::string& t) {
    setFittedText(heading, QString::fromStdString(t), kHistoryWidth);
    heading->move(kHistoryWidth - heading->width(), 2);
  });
  heading->move(kHistoryWidth - heading->width(), 2);
  for (int i = 0; i < kProHistoryEntries; ++i) {
    QLabel* entry = whiteLabel(history, kEmptyHistoryEntry, kHistoryEntryPx);
    entry->setTextFormat(pedal == kBrakePedal ? Qt::RichText : Qt::PlainText);
    entry->setGeometry(0, kHistoryFirstEntry + i * kHistoryStepPx, kHistoryEntryWidth, kHistoryStepPx);
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
  z.upperLabel->move(kZoneLabelX, 0);
  z.lowerLabel->move(kZoneLabelX, 62);
  auto fit = [](QLabel* l) {
    return [l](const std::string& t) { setFittedText(l, QString::fromStdString(t), kZoneColumnWidth - 2 * l->x()); };
  };
  labels_.add(brake ? LabelRole::ProBrakeLimit : LabelRole::ProUpperZone, fit(z.upperLabel));
  labels_.add(LabelRole::ProLowerZone, fit(z.lowerLabel));
  auto row = [&](int y, ValueBox*& box, QPushButton*& minus, QPushButton*& plus, bool upper) {
    minus = new QPushButton("-", z.column);
    plus = new QPushButton("+", z.column);
    box = new ValueBox(z.column, 0, 100);
    minus->setGeometry(kZoneRowX, y, 26, 25);
    box->setGeometry(kZoneRowX + 32, y, 38, 25);
    plus->setGeometry(kZoneRowX + 76, y, 26, 25);
    for (QPushButton* b : {minus, plus}) {
      b->setFocusPolicy(Qt::NoFocus);
      setButtonLook(b, ButtonLook::Normal);
      onClick(b, [this, pedal, upper, isPlus = b == plus] {
        hideConfirmations();
        model_.stepZone(ControllerModel::Page::Pro, static_cast<Pedal>(pedal), upper, isPlus ? +1 : -1);
      });
    }
  };
  row(22, z.upper, z.upperMinus, z.upperPlus, true);
  row(84, z.lower, z.lowerMinus, z.lowerPlus, false);
}

void ProPage::buildBrakeExtras() {
  const ControllerState& state = model_.state();
  QFrame* brakeColumn = zones[kBrakePedal].column;
  abs = new QPushButton("ABS", brakeColumn);
  abs->setFocusPolicy(Qt::NoFocus);
  abs->setGeometry(kZoneRowX + 21, 210 - 30 - 25, 80, 30);
  setButtonLook(abs, ButtonLook::Normal);

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
    labels_.add(captionRoles[i], [caption](const std::string& t) {
      setFittedText(caption, QString::fromStdString(t), kCaptionWidth);
      caption->setFixedWidth(kCaptionWidth);
    });
    listCaptions[i] = caption;
  }
  showKeyLetters();

  // Set by the program the switch reports nothing; flipped by the user it asks the session.
  autoBrakeSwitch = new ToggleSwitch(page);
  autoBrakeSwitch->setOn(state.autoBrake == 1, false);
  autoBrakeLabel = whiteLabel(page, "Autobrake     ", 14);
  autoBrakeTest = new QPushButton("Autobrake", page);
  autoBrakeTest->setFocusPolicy(Qt::NoFocus);
  autoBrakeTest->resize(130, 30);
  setButtonLook(autoBrakeTest, ButtonLook::Normal);
  labels_.add(LabelRole::AutoBrakeCaption, [this](const std::string& t) {
    // Right of its text stands the switch: the label keeps its right edge.
    const int right = autoBrakeLabel->x() + autoBrakeLabel->width();
    setFittedText(autoBrakeLabel, QString::fromStdString(t), kAutoBrakeLabelRoom);
    autoBrakeLabel->move(right - autoBrakeLabel->width(), autoBrakeLabel->y());
    setFittedText(autoBrakeTest, QString::fromStdString(t));
  });
  led = new Led(page);
  led->setBrightness(100);
  autoBrakeLabel->setVisible(state.hasClutch);
  autoBrakeTest->setVisible(!state.hasClutch);
  autoBrakeList->setVisible(!state.hasClutch);
  listCaptions[3]->setVisible(!state.hasClutch);
  led->setVisible(!state.hasClutch);
}

// The wizard's arrows over the calibration picture: green down on the pedal to press, red
// up on every pedal that must rest.
void ProPage::buildWizardArrows() {
  const bool clutch = model_.state().hasClutch;
  for (int p = 0; p < 3; ++p) {
    pressArrows[p] = new Picture(window_, ":/pictures/arrow_down.svg", kArrowWidth, kArrowHeight);
    restArrows[p] = new Picture(window_, ":/pictures/arrow_up.svg", kArrowWidth, kArrowHeight);
    for (QLabel* arrow : {pressArrows[p], restArrows[p]}) {
      arrow->move(kArrowFaceX[clutch ? 0 : 1][p] - kArrowWidth / 2, kArrowTop);
      arrow->hide();
    }
  }
}

void ProPage::moveColumns(bool zonesEnabled) {
  const bool clutch = model_.state().hasClutch;
  for (int p = 0; p < 3; ++p) {
    const int x = proColumnX(p, zonesEnabled, clutch);
    barColumns[p]->move(x, kColumnY);
    valueBoxes[p]->move(x, kValueY);
    historyColumns[p]->move(x - kHistoryWidth + 2, kHistoryTop);
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

void ProPage::placeWizardPanel(bool band) {
  wizardPanel->setGeometry(band ? kWizardPanelBand : kWizardPanelFull);
  auto size = [](QLabel* l, int px) {
    QFont font = l->font();
    font.setPixelSize(px);
    l->setFont(font);
  };
  size(wizardText, band ? kBandTextPx : kWizardTextPx);
  size(wizardNote, band ? kBandNotePx : kWizardNotePx);
  if (band) {
    // The saved text over its note, or the step's text alone.
    const bool note = !wizardNote->isHidden() && !wizardNote->text().isEmpty();
    wizardText->setGeometry(12, 2, 736, note ? 22 : 88);
    wizardNote->setGeometry(12, 26, 736, 64);
  } else {
    wizardText->setGeometry(20, 40, 720, 110);
    wizardNote->setGeometry(20, 160, 720, 70);
  }
}

void ProPage::showCheckColumns() {
  const bool clutch = model_.state().hasClutch;
  for (int p = 0; p < 3; ++p) {
    if (p == kClutchPedal && !clutch) continue;
    const int x = proColumnX(p, false, clutch) + kCheckShift;
    barColumns[p]->move(x, kColumnY);
    valueBoxes[p]->move(x, kValueY);
    // Centred over its bar: the name stays inside the page right of the wizard's buttons.
    names[p]->move(x + kCheckNameCentre - names[p]->width() / 2, kColumnY - 30);
    for (QWidget* w : std::initializer_list<QWidget*>{barColumns[p], valueBoxes[p], names[p]}) w->show();
  }
}

void ProPage::moveMarker(int pedal, bool upper, int value) {
  QWidget* marker = upper ? zones[pedal].upperMarker : zones[pedal].lowerMarker;
  marker->move(0, kBarTop + kBarHeight - 1 - 2 * std::clamp(value, 0, 100));
}

}  // namespace tkb::ui
