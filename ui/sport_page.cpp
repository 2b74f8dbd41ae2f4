#include "ui/sport_page.h"

#include <QFrame>
#include <QShortcut>
#include <algorithm>

#include "link/settings.h"
#include "link/trace.h"
#include "ui/application.h"
#include "ui/frame_clock.h"
#include "ui/live_bars.h"
#include "ui/main_page.h"
#include "ui/page_profiles.h"
#include "ui/pedal_bar.h"
#include "ui/switch_led.h"
#include "ui/widgets.h"

namespace tkb::ui {

namespace {

constexpr int kZoneMax = 100;
constexpr int kLetterEntries = 6;

// Panel centres relative to the page centre, by pedal; without a clutch the brake panel,
// built after it, covers the clutch panel's right part.
constexpr int kPanelCentreWithClutch[kPedalCount] = {-273, 0, 273};
constexpr int kPanelCentreWithoutClutch[kPedalCount] = {-273, -131, 211};
// The panels stand 60 pixels above the page centre.
constexpr int kPanelRaisePx = 60;
// Window x of each chart's plotting area.
constexpr int kChartLeftWithClutch[kPedalCount] = {476, 749, 1022};
constexpr int kChartLeftWithoutClutch[kPedalCount] = {476, 617, 961};
constexpr int kChartTopInPanel = 285;
// The preset list: as wide as the chart, between the zone rows and the chart.
constexpr int kPresetListY = 248, kPresetListH = 24;

// Rows of the dead-zone controls in a panel: "-", spin box, "+", label, underline.
struct ZoneRow {
  int y;
};
constexpr ZoneRow kUpperRow{120}, kLowerRow{171}, kBrakeStopRow{212};
constexpr int kMinusX = 10, kBoxX = 30, kPlusX = 68, kRowLabelX = 95;
constexpr int kStepButtonW = 20, kBoxW = 38, kRowH = 25;

constexpr int kBarTop = 285, kBarW = 20, kBarH = 180;
constexpr int kInBarX = 200, kOutBarX = 225;
constexpr int kZoneMarkerX = 197, kBrakeStopMarkerX = 222, kMarkerW = 26, kMarkerH = 2;
constexpr int kMarkerScalePx = 178;

constexpr int kHistoryCentreRight = 105, kHistoryCentreUp = 65, kHistoryW = 22, kHistoryH = 155;
constexpr int kHistoryStepPx = 15;
constexpr int kLabelMarginPx = 3;
constexpr const char* kHistoryIdle = "     --";

constexpr int kPageButtonW = 130, kPageButtonH = 40, kPageButtonGap = 20;
constexpr int kCloseFromRight = 60, kPageButtonsFromBottom = 10;

Pedal pedalAt(int index) { return static_cast<Pedal>(index); }
const Setting& zoneRow(int pedal, bool upper) { return zoneSetting(pedalAt(pedal), upper); }

// The four key-letter lists of CUSTOM mode; the index of the chosen entry is the value.
struct LetterListRole {
  Field known;
  const char* caption;
  LabelRole captionRole;
  std::array<const char*, kLetterEntries> entries;
  uint8_t ControllerState::*field;
  void (Controller::*send)();
  const char* traceLine;
};
const LetterListRole kLetterLists[4] = {
    {Field::LetterMas, "PRESS +", LabelRole::KeyPressPlus, {"F2", "F4", "M+C+a", "M+C+s", "M+C+d", "M+C+f"}, &ControllerState::letterMas,
     &Controller::MandarLetraMas, "Option: Lista mas sport\n"},
    {Field::LetterMenos, "PRESS -", LabelRole::KeyPressMinus, {"F1", "F3", "M+C+z", "M+C+x", "M+C+c", "M+C+v"}, &ControllerState::letterMenos,
     &Controller::MandarLetraMenos, "Option: Lista menos sport\n"},
    {Field::LetterMas2, "LIMITER +", LabelRole::KeyLimiterPlus, {"F6", "F8", "F10", "M+C+q", "M+C+w", "M+C+e"}, &ControllerState::letterMas2,
     &Controller::MandarLetraMas2, "Option: Lista mas sport 2\n"},
    {Field::LetterMenos2, "LIMITER -", LabelRole::KeyLimiterMinus, {"F5", "F7", "F9", "M+C+b", "M+C+n", "M+C+m"}, &ControllerState::letterMenos2,
     &Controller::MandarLetraMenos2, "Option: Lista menos sport 2\n"},
};
const char* const kAutoBreakEntries[] = {"M+C+k", "M+C+l", "M+C+p"};

const LabelRole kTitleRoles[kPedalCount] = {LabelRole::CustomClutchTitle, LabelRole::CustomBrakeTitle,
                                            LabelRole::CustomThrottleTitle};

// The trace line of a curve read back, by pedal.
const char* const kCurveReadLines[kPedalCount] = {"\nLeemos curvas Embrague -> ", "\nLeemos curvas Freno -> ",
                                                  "\nLeemos curvas Acelerador -> "};

Field curveField(int pedal) { return curveSetting(pedalAt(pedal)).field; }
// A box shows the state's value without running its handler, or nothing while that is not known.
void showValue(ValueBox* box, bool known, int value) {
  if (known) {
    box->showValue(value);
  } else {
    box->showUnknown();
  }
}

// A box shows the controller's value, or nothing while that is not known.
void showBox(ValueBox* box, bool known, int value) {
  if (known) {
    box->set(value);
  } else {
    box->showUnknown();
  }
}

// The list entry of a letter, none while the letter is not known.
int letterEntry(const ControllerState& state, const LetterListRole& role) {
  if (!state.isKnown(role.known)) return -1;
  return std::clamp<int>(state.*role.field, 0, kLetterEntries - 1);
}

int zoneOf(const ZoneValues& z, int pedal, bool upper) { return z.of(pedalAt(pedal), upper); }

int panelX(bool hasClutch, int pedal) {
  const int offset = hasClutch ? kPanelCentreWithClutch[pedal] : kPanelCentreWithoutClutch[pedal];
  return kPageWidth / 2 - kSportPanelWidth / 2 + offset;
}
int panelY() { return kPageHeight / 2 - kSportPanelHeight / 2 - kPanelRaisePx; }
int brakeHistoryX() { return kSportPanelWidth / 2 + kHistoryCentreRight - kHistoryW / 2; }

QLabel* label(QWidget* parent, const QString& text, int x, int y, int pixelSize = 12) {
  QLabel* l = makeLabel(parent, text, pixelSize);
  l->move(x, y);
  return l;
}

QPushButton* stepButton(QWidget* parent, const char* text, int x, int y) {
  auto* b = new QPushButton(text, parent);
  b->setGeometry(x, y, kStepButtonW, kRowH);
  b->setFocusPolicy(Qt::NoFocus);
  b->setStyleSheet(
      "QPushButton{background:#f4f4f4;color:#202020;border:1px solid #c08020;border-radius:3px;"
      "font-weight:bold;} QPushButton:pressed{background:#d8d8d8;}");
  return b;
}

QWidget* line(QWidget* parent, int x, int y, int w, int h, const char* colour) {
  auto* f = new QFrame(parent);
  f->setGeometry(x, y, w, h);
  f->setStyleSheet(QString("background:%1;border:none;").arg(colour));
  f->setAttribute(Qt::WA_TransparentForMouseEvents);
  return f;
}

QPushButton* pageButton(QWidget* parent, const char* text, int w, int h) {
  auto* b = new QPushButton(text, parent);
  QFont font = b->font();
  font.setPixelSize(15);
  font.setBold(true);
  b->setFont(font);
  b->resize(w, h);
  b->setFocusPolicy(Qt::NoFocus);
  setButtonLook(b, ButtonLook::Normal);
  return b;
}

void setButtonText(QPushButton* b, const std::string& text) { setFittedText(b, QString::fromStdString(text)); }

}  // namespace

int chartLeftEdge(bool hasClutch, int pedal) {
  pedal = std::clamp(pedal, 0, kPedalCount - 1);
  return hasClutch ? kChartLeftWithClutch[pedal] : kChartLeftWithoutClutch[pedal];
}

int upperMarkerY(int value) { return 464 - std::clamp(value, 0, kZoneMax) * kMarkerScalePx / 100; }
int lowerMarkerY(int value) { return 463 - std::clamp(value, 0, kZoneMax) * kMarkerScalePx / 100; }

SportPage::SportPage(Application& app, PageProfiles& profiles)
    : app_(app),
      model_(&app.model()),
      profiles_(profiles),
      bars_(std::make_unique<CustomBars>(app.model().readout, app.controller.state,
                                         [&app] { return app.pedals() ? app.pedals()->axes() : PedalAxes{}; })) {
  QObject::connect(&app.mainPage(), &MainPage::customPageOpened, &context_, [this] { pageOpened(); });
  app.model().setChartPoints(this);
}

SportPage::~SportPage() {
  // A save must not read the charts once they are gone (the model may be gone first).
  if (model_) model_->setChartPoints(nullptr);
}

void SportPage::brakeUpperStep(int delta) {
  run([this, delta] { stepZone(kBrakePedal, true, delta); });
}

void SportPage::brakeStopStep(int delta) {
  run([this, delta] { stepBrakeStop(delta); });
}

void SportPage::setLed(int brightness) {
  if (widgets_.autoBrakeLed) widgets_.autoBrakeLed->setBrightness(brightness);
}

void SportPage::connectModel() {
  ControllerModel& model = app_.model();
  QObject::connect(&model, &ControllerModel::profileLoaded, &context_,
                   [this](ProfileKind kind, bool loaded) { showLoad(kind, loaded); });
  // Every box set from the state raises value-changed, as a driver's change does.
  QObject::connect(&model, &ControllerModel::zonesChanged, &context_, [this] { showStateZones(); });
  QObject::connect(&model, &ControllerModel::brakeZonesChanged, &context_, [this] { showBrakeZones(); });
  QObject::connect(&model, &ControllerModel::bandsChanged, &context_, [this] { bars_->showBands(); });
  QObject::connect(&model, &ControllerModel::curvesChanged, &context_, [this] { showCurvesFromState(); });
  QObject::connect(&model, &ControllerModel::curvesStored, &context_, [this] {
    takeBaseline(storedCurves_);
    if (!profileBaseline_) takeBaseline(savedCurves_);
    showMarks();
  });
  QObject::connect(&model, &ControllerModel::profileSaved, &context_, [this](ProfileKind kind) {
    if (kind != ProfileKind::Sport || !built()) return;
    // The file holds the charts' curves.
    for (int pedal = 0; pedal < kPedalCount; ++pedal) {
      const CurveChart* chart = widgets_.pedals[pedal].chart;
      savedCurves_[pedal] = chart->hasCurve() ? std::optional<Curve>(chart->curve()) : std::nullopt;
    }
    profileBaseline_ = true;
    showMarks();
  });
  QObject::connect(&model, &ControllerModel::lettersChanged, &context_, [this] { showKeyLetters(); });
  QObject::connect(&model, &ControllerModel::letterChanged, &context_,
                   [this](Field field, int index) { selectLetter(field, index); });
  QObject::connect(&model, &ControllerModel::autoBrakeChanged, &context_,
                   [this](bool on) { widgets_.autoBrakeSwitch->setOn(on, true); });
  QObject::connect(&model, &ControllerModel::settingSent, &context_, [this](Field field) { showSent(field); });
}

// A zone or the brake stop sent from outside the page: the box and its marker show it,
// without the box's handler (which would send it again while CUSTOM is active).
void SportPage::showSent(Field field) {
  if (!built()) return;
  const ControllerState& state = app_.controller.state;
  auto show = [&state, field](ValueBox* box) {
    if (state.isKnown(field)) {
      box->showValue(settingValue(state, field));
    } else {
      box->showUnknown();
    }
  };
  bool shown = false;
  for (int pedal = 0; pedal < kPedalCount; ++pedal)
    for (bool upper : {true, false})
      if (zoneRow(pedal, upper).field == field) {
        show(upper ? widgets_.pedals[pedal].upper : widgets_.pedals[pedal].lower);
        shown = true;
      }
  if (field == Field::Cheto) {
    show(widgets_.brakeStop);
    shown = true;
  }
  if (!shown) return;
  moveMarkers(zonesOf(state), state.cheto);
  redrawBars();
}

Curve SportPage::chartPoints(Pedal pedal) const {
  return built() ? widgets_.pedals[pedalIndex(pedal)].chart->curve() : Curve{};
}

void SportPage::showBrakeZones() {
  const SportPedalPanel& brake = widgets_.pedals[kBrakePedal];
  const ControllerState& state = app_.controller.state;
  showBox(brake.upper, state.isKnown(Field::BrakeUpper), state.brakeUpper);
  showBox(brake.lower, state.isKnown(Field::BrakeLower), state.brakeLower);
  brake.upperMarker->move(kZoneMarkerX, upperMarkerY(brake.upper->value()));
  brake.lowerMarker->move(kZoneMarkerX, lowerMarkerY(brake.lower->value()));
}

// The PRESS + and PRESS - lists show the letter chosen on either page; nothing is sent again.
void SportPage::selectLetter(Field field, int index) {
  const int list = field == Field::LetterMas ? kListMas : field == Field::LetterMenos ? kListMenos : -1;
  if (list >= 0) widgets_.letters[list]->setCurrentIndex(std::clamp(index, 0, kLetterEntries - 1));
}

// ---- Building ------------------------------------------------------------------------

void SportPage::Create_sport_page(QWidget* container) {
  trace("\nCreate_sport_page - Inicio");
  ControllerState& state = app_.controller.state;
  widgets_.page = container;
  container->setStyleSheet(container->styleSheet() + " QLabel{color:#e8e8e8;}");
  for (int pedal = 0; pedal < kPedalCount; ++pedal) buildPanel(pedal, container, state.hasClutch);
  buildBrakeParts(widgets_.pedals[kBrakePedal]);

  widgets_.adjustmentTitle = makeLabel(container, "ADJUSTEMENT AREA", 16);
  widgets_.adjustmentTitle->setStyleSheet("color:#ffb347;font-weight:bold;");
  placeAligned(widgets_.adjustmentTitle, Align::TopMid, 0, 4);
  app_.labels().add(LabelRole::CustomAdjustmentArea, [l = widgets_.adjustmentTitle](const std::string& t) {
    l->setText(QString::fromStdString(t));
    l->adjustSize();
    placeAligned(l, Align::TopMid, 0, 4);
  });

  buildPageButtons(container);
  buildLetterLists(container);
  buildAutoBrakeGroup(container, state.hasClutch);
  buildUndoKeys(container);

  // Without a clutch the clutch panel only backs the auto-brake group: its curve and
  // zones would be half covered by the brake panel and edit a pedal that is not there.
  if (!state.hasClutch) {
    SportPedalPanel& clutch = widgets_.pedals[kClutchPedal];
    for (QObject* child : clutch.panel->children())
      if (auto* w = qobject_cast<QWidget*>(child)) w->hide();
  }

  for (int pedal = 0; pedal < kPedalCount; ++pedal) {
    widgets_.pedals[pedal].chart->setCurve(defaultCurve());
    curveOf(state, pedalAt(pedal)) = defaultCurve();
  }
  for (int i = 0; i < 4; ++i) widgets_.letters[i]->setCurrentIndex(letterEntry(state, kLetterLists[i]));
  widgets_.autoBrakeSwitch->setOn(state.autoBrake != 0, false);
  publishBars();
  connectModel();
  container->hide();
  // The live markers move with the window's frames; the connection goes with the page.
  QObject::connect(&FrameClock::of(container), &FrameClock::frameStarted, container,
                   [this] { followLiveInputs(); });
  trace("\nCreate_sport_page - Final");
}

void SportPage::buildPanel(int pedal, QWidget* page, bool hasClutch) {
  SportPedalPanel& p = widgets_.pedals[pedal];
  auto* panel = new QFrame(page);
  panel->setObjectName(QString("SportPanel%1").arg(pedal));
  panel->setGeometry(panelX(hasClutch, pedal), panelY(), kSportPanelWidth, kSportPanelHeight);
  panel->setStyleSheet(QString("#SportPanel%1{background:rgba(58,64,74,235);border:1px solid #5a616d;"
                               "border-radius:8px;}")
                           .arg(pedal));
  p.panel = panel;

  p.title = makeLabel(panel, "---", 17);
  p.title->setStyleSheet("font-weight:bold;color:#ffffff;");
  p.title->setAlignment(Qt::AlignHCenter);
  p.title->setGeometry(0, 60, kSportPanelWidth, 24);
  app_.labels().add(kTitleRoles[pedal], [l = p.title](const std::string& t) { l->setText(QString::fromStdString(t)); });

  auto zoneRow = [&](ZoneRow row, QPushButton*& minus, ValueBox*& box, QPushButton*& plus,
                     QLabel*& caption, const char* text) {
    minus = stepButton(panel, "-", kMinusX, row.y);
    box = new ValueBox(panel, 0, kZoneMax);
    box->setGeometry(kBoxX, row.y, kBoxW, kRowH);
    plus = stepButton(panel, "+", kPlusX, row.y);
    caption = label(panel, text, kRowLabelX, row.y + 5, 11);
    line(panel, kBoxX + 2, row.y + 23, kBoxW - 4, 1, "#c5712f");
    const bool upper = &box == &p.upper;
    onClick(minus, [this, pedal, upper] { stepZone(pedal, upper, -1); });
    onClick(plus, [this, pedal, upper] { stepZone(pedal, upper, +1); });
    box->setHandler([this, pedal, upper, box](int) {
      run([this, pedal, upper, box] {
        if (app_.controller.state.sportProfileActive) zoneChanged(pedal, upper, box->value());
      });
    });
  };
  zoneRow(kUpperRow, p.upperMinus, p.upper, p.upperPlus, p.upperLabel, "TOP DEAD ZONE");
  zoneRow(kLowerRow, p.lowerMinus, p.lower, p.lowerPlus, p.lowerLabel, "LOWER DEAD ZONE");
  // The row labels end at the panel's edge, or in the brake panel at its history column.
  const int labelRoom = (pedal == kBrakePedal ? brakeHistoryX() : kSportPanelWidth) - kRowLabelX - kLabelMarginPx;
  auto relabel = [labelRoom](QLabel* l) {
    return [l, labelRoom](const std::string& t) { setFittedText(l, QString::fromStdString(t), labelRoom); };
  };
  app_.labels().add(pedal == kBrakePedal ? LabelRole::CustomBrakeUpper : LabelRole::CustomUpperZone,
                    relabel(p.upperLabel));
  app_.labels().add(LabelRole::CustomLowerZone, relabel(p.lowerLabel));

  p.chart = new CurveChart(panel);
  p.chart->move(chartLeftEdge(hasClutch, pedal) - kPageX - panel->x(), kChartTopInPanel);
  p.chart->onEvent = [this](CurveChart* chart, ChartEvent event, QPoint at) {
    sport_chart_handler(chart, event, at);
  };
  p.chart->onKeyEdit = [this](CurveChart* chart, ChartKeyEdit edit) { sport_chart_key_handler(chart, edit); };
  app_.labels().add(LabelRole::CustomChartKeys,
                    [chart = p.chart](const std::string& t) { chart->setToolTip(QString::fromStdString(t)); });
  app_.labels().add(LabelRole::CustomEntryKeys,
                    [entry = p.chart->entry()](const std::string& t) { entry->setToolTip(QString::fromStdString(t)); });
  buildPresetList(pedal, p);
  buildMarks(p);
  const int chartX = p.chart->x();
  p.readoutX = label(panel, kReadoutBlank, chartX + 10, kChartTopInPanel + 5);
  p.readoutY = label(panel, kReadoutBlank, chartX + 105, kChartTopInPanel + 155);
  for (QLabel* r : {p.readoutX, p.readoutY}) {
    r->setStyleSheet("color:#202020;font-weight:bold;background:transparent;");
    r->setFixedWidth(80);
    r->setAttribute(Qt::WA_TransparentForMouseEvents);
  }

  p.input = new PedalBar(panel, kBarW, kBarH);
  p.input->move(kInBarX, kBarTop);
  p.output = new PedalBar(panel, kBarW, kBarH);
  p.output->move(kOutBarX, kBarTop);
  PedalBar::Style outputStyle;
  outputStyle.radius = 0;
  p.output->setIndicatorStyle(outputStyle);
  label(panel, "IN", 199, 270, 11);
  label(panel, "OUT", 220, 270, 11);
  label(panel, "%", 209, 478, 11);
  p.inputValue = label(panel, "0 ", 197, 465, 11);
  p.outputValue = label(panel, "0 ", 222, 465, 11);
  for (QLabel* v : {p.inputValue, p.outputValue}) v->setFixedWidth(28);

  p.upperMarker = line(panel, kZoneMarkerX, upperMarkerY(kZoneMax), kMarkerW, kMarkerH, "#ff5a5a");
  p.lowerMarker = line(panel, kZoneMarkerX, lowerMarkerY(0), kMarkerW, kMarkerH, "#5ab4ff");

  p.defaultButton = pageButton(panel, "DEFAULT", 100, 25);
  p.defaultButton->move(50, 470);
  onClick(p.defaultButton, [this, pedal] { defaultPedal(pedal); });
  app_.labels().add(LabelRole::CustomDefault, [b = p.defaultButton](const std::string& t) { setButtonText(b, t); });
}

void SportPage::buildPresetList(int pedal, SportPedalPanel& p) {
  p.presets = new QComboBox(p.panel);
  p.presets->setObjectName(QString("SportPresetList%1").arg(pedal));
  p.presets->setGeometry(p.chart->x(), kPresetListY, kChartSizePx, kPresetListH);
  p.presets->setFocusPolicy(Qt::NoFocus);
  const std::vector<CurvePreset> presets = presetsFor(pedalAt(pedal));
  for (size_t i = 0; i < presets.size(); ++i) p.presets->addItem(QString());
  // No entry stays chosen: the list shows its prompt, the chart what was made of the preset.
  p.presets->setCurrentIndex(-1);
  p.presets->setPlaceholderText("CURVE PRESET");
  QComboBox* list = p.presets;
  app_.labels().add(LabelRole::CustomPresetPrompt,
                    [list](const std::string& t) { list->setPlaceholderText(QString::fromStdString(t)); });
  app_.labels().add(LabelRole::CustomPresetTip,
                    [list](const std::string& t) { list->setToolTip(QString::fromStdString(t)); });
  auto relabel = [list, presets](CurvePreset::Kind kind) {
    return [list, presets, kind](const std::string& t) {
      for (size_t i = 0; i < presets.size(); ++i) {
        if (presets[i].kind != kind) continue;
        const QString text = QString::fromStdString(t);
        list->setItemText(static_cast<int>(i), kind == CurvePreset::BrakeWall ? text.arg(presets[i].wall) : text);
      }
    };
  };
  app_.labels().add(LabelRole::CustomPresetLinear, relabel(CurvePreset::Linear));
  app_.labels().add(LabelRole::CustomPresetProgressive, relabel(CurvePreset::Progressive));
  app_.labels().add(LabelRole::CustomPresetAggressive, relabel(CurvePreset::Aggressive));
  app_.labels().add(LabelRole::CustomPresetSCurve, relabel(CurvePreset::SCurve));
  app_.labels().add(LabelRole::CustomPresetWall, relabel(CurvePreset::BrakeWall));
  QObject::connect(list, &QComboBox::activated, list, [this, pedal, list, presets](int index) {
    list->setCurrentIndex(-1);
    if (index < 0 || index >= static_cast<int>(presets.size())) return;
    run([this, pedal, preset = presets[index]] { applyPreset(pedal, preset); });
  });
}

void SportPage::buildMarks(SportPedalPanel& p) {
  constexpr int kMarkSize = 16, kMarkX = 8, kMarkGap = 4, kMarkY = 64;
  struct Mark {
    QLabel*& label;
    const char* text;
    const char* colour;
    LabelRole tip;
  };
  const Mark marks[] = {{p.notStored, "!", "#e07020", LabelRole::CustomMarkNotStored},
                        {p.notSaved, "*", "#3a78d0", LabelRole::CustomMarkNotSaved}};
  int x = kMarkX;
  for (const Mark& m : marks) {
    m.label = new QLabel(m.text, p.panel);
    m.label->setAlignment(Qt::AlignCenter);
    m.label->setGeometry(x, kMarkY, kMarkSize, kMarkSize);
    m.label->setStyleSheet(QString("background:%1;color:#ffffff;font-weight:bold;font-size:12px;"
                                   "border-radius:8px;")
                               .arg(m.colour));
    m.label->hide();
    app_.labels().add(m.tip, [l = m.label](const std::string& t) { l->setToolTip(QString::fromStdString(t)); });
    x += kMarkSize + kMarkGap;
  }
  p.chart->onCurveChanged = [this] { showMarks(); };
}

void SportPage::showMarks() {
  if (!built()) return;
  for (int pedal = 0; pedal < kPedalCount; ++pedal) {
    const SportPedalPanel& p = widgets_.pedals[pedal];
    if (p.notStored == nullptr || p.notSaved == nullptr) continue;  // still being built
    // A chart hidden with its panel's pedal (no clutch) or without a curve has nothing to mark.
    const bool shown = !p.chart->isHidden() && p.chart->hasCurve();
    auto differs = [&](const std::optional<Curve>& baseline) {
      return shown && baseline && p.chart->curve() != *baseline;
    };
    p.notStored->setVisible(differs(storedCurves_[pedal]));
    p.notSaved->setVisible(differs(savedCurves_[pedal]));
  }
}

void SportPage::takeBaseline(std::array<std::optional<Curve>, kPedalCount>& baseline) {
  const ControllerState& state = app_.controller.state;
  for (int pedal = 0; pedal < kPedalCount; ++pedal)
    baseline[pedal] = state.isKnown(curveField(pedal)) ? std::optional<Curve>(curveOf(state, pedalAt(pedal)))
                                                       : std::nullopt;
}

void SportPage::buildBrakeParts(SportPedalPanel& brake) {
  QWidget* panel = brake.panel;
  ZoneRow row = kBrakeStopRow;
  widgets_.brakeStopMinus = stepButton(panel, "-", kMinusX, row.y);
  widgets_.brakeStop = new ValueBox(panel, 0, kZoneMax);
  widgets_.brakeStop->setGeometry(kBoxX, row.y, kBoxW, kRowH);
  widgets_.brakeStopPlus = stepButton(panel, "+", kPlusX, row.y);
  widgets_.brakeStopLabel = label(panel, "BRAKE LIMITER", kRowLabelX, row.y + 5, 11);
  line(panel, kBoxX + 2, row.y + 23, kBoxW - 4, 1, "#c5712f");
  onClick(widgets_.brakeStopMinus, [this] { stepBrakeStop(-1); });
  onClick(widgets_.brakeStopPlus, [this] { stepBrakeStop(+1); });
  widgets_.brakeStop->setHandler([this](int) {
    run([this] {
      if (app_.controller.state.sportProfileActive) brakeStopChanged(widgets_.brakeStop->value());
    });
  });
  widgets_.brakeStop->setValue(kBrakeStopInactive);

  widgets_.brakeStopIndicator = label(panel, "STOP", 196, row.y + 4, 10);
  widgets_.brakeStopIndicator->setStyleSheet(
      "background:#d02020;color:#ffffff;font-weight:bold;border-radius:3px;padding:1px 3px;");
  widgets_.brakeStopIndicator->adjustSize();
  widgets_.brakeStopIndicator->hide();
  widgets_.brakeStopMarker =
      line(panel, kBrakeStopMarkerX, upperMarkerY(kBrakeStopInactive), kMarkerW, kMarkerH, "#ffd23f");

  // The history column: centred 105 px right of and 65 px above the panel's centre.
  const int columnX = brakeHistoryX();
  const int columnY = kSportPanelHeight / 2 - kHistoryCentreUp - kHistoryH / 2;
  for (int i = 0; i < kBrakeHistoryEntries; ++i) {
    widgets_.brakeHistory[i] = label(panel, kHistoryIdle, columnX, columnY + i * kHistoryStepPx, 11);
    widgets_.brakeHistory[i]->setFixedWidth(36);
  }
}

void SportPage::buildPageButtons(QWidget* page) {
  struct PageButton {
    QPushButton*& button;
    const char* text;
    LabelRole role;
  };
  // Left to right: DEFAULT ALL, LOAD, SAVE, APPLY, CLOSE (CLOSE 60 px from the right edge).
  const PageButton buttons[] = {
      {widgets_.defaultAll, "DEFAULT ALL", LabelRole::CustomDefaultAll},
      {widgets_.load, "LOAD", LabelRole::CustomLoad},
      {widgets_.save, "SAVE", LabelRole::CustomSave},
      {widgets_.apply, "APPLY", LabelRole::CustomApply},
      {widgets_.close, "CLOSE", LabelRole::CustomClose},
  };
  const int count = static_cast<int>(std::size(buttons));
  for (int i = 0; i < count; ++i) {
    QPushButton* b = pageButton(page, buttons[i].text, kPageButtonW, kPageButtonH);
    const int fromRight = kCloseFromRight + (count - 1 - i) * (kPageButtonW + kPageButtonGap);
    b->move(kPageWidth - kPageButtonW - fromRight, kPageHeight - kPageButtonH - kPageButtonsFromBottom);
    buttons[i].button = b;
    app_.labels().add(buttons[i].role, [b](const std::string& t) { setButtonText(b, t); });
  }
  onClick(widgets_.close, [this] { closePage(); });
  onClick(widgets_.defaultAll, [this] { defaultAll(); });
  onClick(widgets_.apply, [this] { applySettings(); });
  onClick(widgets_.load, [this] {
    if (const auto refusal = profiles_.profiles().CargarPerfilSport()) app_.showProfileRefusal(*refusal);
  });
  onClick(widgets_.save, [this] { profiles_.profiles().GuardarPerfilSport(); });
}

void SportPage::buildLetterLists(QWidget* page) {
  // A strip between the panels and the page buttons, left of where the main page's EXIT
  // button stands while the page is open.
  constexpr int kStripY = 476, kGroupW = 146, kCaptionW = 64, kListW = 78;
  for (int i = 0; i < 4; ++i) {
    const int x = 8 + i * kGroupW;
    QLabel* caption = label(page, kLetterLists[i].caption, x, kStripY + 6, 11);
    caption->setFixedWidth(kCaptionW);
    app_.labels().add(kLetterLists[i].captionRole, [caption](const std::string& t) {
      setFittedText(caption, QString::fromStdString(t), kCaptionW);
      caption->setFixedWidth(kCaptionW);
    });
    auto* list = new QComboBox(page);
    for (const char* entry : kLetterLists[i].entries) list->addItem(entry);
    list->setGeometry(x + kCaptionW, kStripY, kListW, 26);
    list->setFocusPolicy(Qt::NoFocus);
    list->setObjectName(QString("SportLetterList%1").arg(i));
    QObject::connect(list, &QComboBox::activated, list,
                     [this, i, list](int) {
                       run([this, i, list] {
                         if (app_.controller.state.sportProfileActive) letterChanged(i, list->currentIndex());
                       });
                     });
    widgets_.letters[i] = list;
  }
}

void SportPage::buildAutoBrakeGroup(QWidget* page, bool hasClutch) {
  widgets_.autoBrakeSwitch = new ToggleSwitch(page);
  placeAligned(widgets_.autoBrakeSwitch, Align::Center, -335, -70);
  widgets_.autoBrakeSwitch->onUserToggle = [this](bool) {
    run([this] {
      if (app_.controller.state.sportProfileActive) app_.operations.setAutoBrake(widgets_.autoBrakeSwitch->isOn());
    });
  };
  const QPoint at = widgets_.autoBrakeSwitch->pos();
  widgets_.autoBrakeCaption = label(page, "Autobrake", at.x(), at.y() - 24, 13);
  widgets_.autoBrakeLed = new Led(page);
  widgets_.autoBrakeLed->move(at.x() + widgets_.autoBrakeSwitch->width() + 10, at.y() + 2);
  widgets_.autoBreakList = new QComboBox(page);
  for (const char* entry : kAutoBreakEntries) widgets_.autoBreakList->addItem(entry);
  widgets_.autoBreakList->setGeometry(at.x() - 20, at.y() + 34, 100, 26);
  widgets_.autoBreakList->setFocusPolicy(Qt::NoFocus);
  widgets_.autoBreakList->setCurrentIndex(
      std::clamp<int>(app_.controller.state.letterAutoBrake, 0, static_cast<int>(std::size(kAutoBreakEntries)) - 1));
  QObject::connect(widgets_.autoBreakList, &QComboBox::activated, widgets_.autoBreakList,
                   [this](int) { run([this] { autoBreakListChanged(); }); });

  QWidget* clutchPanel = widgets_.pedals[kClutchPedal].panel;
  widgets_.clutchAutoBrakeCaption = makeLabel(clutchPanel, "Autobrake     ", 13);
  placeAligned(widgets_.clutchAutoBrakeCaption, Align::Center, 20, -10);
  // With a clutch the clutch panel's caption names the switch; without, the page's own
  // group (caption, LED, AutoBreak key list) is shown.
  widgets_.clutchAutoBrakeCaption->setVisible(hasClutch);
  for (QWidget* w : std::initializer_list<QWidget*>{widgets_.autoBrakeCaption, widgets_.autoBrakeLed,
                                                    widgets_.autoBreakList})
    w->setVisible(!hasClutch);
  widgets_.autoBrakeSwitch->raise();
}

// The shortcuts belong to the page: they act only while it is shown. The pedal set's own
// combinations carry Meta as well and do not match them.
void SportPage::buildUndoKeys(QWidget* page) {
  const struct {
    QKeySequence keys;
    void (SportPage::*action)();
  } keys[] = {
      {QKeySequence(Qt::CTRL | Qt::Key_Z), &SportPage::undoCurve},
      {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), &SportPage::redoCurve},
      {QKeySequence(Qt::CTRL | Qt::Key_Y), &SportPage::redoCurve},
  };
  for (const auto& k : keys) {
    auto* shortcut = new QShortcut(k.keys, page);
    shortcut->setContext(Qt::WindowShortcut);
    QObject::connect(shortcut, &QShortcut::activated, &context_, [this, action = k.action] { (this->*action)(); });
  }
}

void SportPage::publishBars() {
  CustomBarWidgets& bars = bars_->widgets;
  for (int pedal = 0; pedal < kPedalCount; ++pedal) {
    const SportPedalPanel& p = widgets_.pedals[pedal];
    bars.input[pedal] = p.input;
    bars.output[pedal] = p.output;
    bars.inputLabel[pedal] = p.inputValue;
    bars.outputLabel[pedal] = p.outputValue;
  }
  for (int i = 0; i < kBrakeHistoryEntries; ++i) bars.brakeHistory[i] = widgets_.brakeHistory[i];
}

// ---- What the widgets run -----------------------------------------------------------

// One action of the driver, once the page is built.
template <typename F>
void SportPage::run(F action) {
  if (!built()) return;
  const Application::Action driverAction(app_);
  action();
}

template <typename F>
void SportPage::onClick(QPushButton* b, F action) {
  QObject::connect(b, &QPushButton::clicked, b, [this, action] { run(action); });
}

// The AutoBreak key list is served as on the PRO page, in either mode.
void SportPage::autoBreakListChanged() {
  if (widgets_.autoBreakList->currentIndex() < 0) return;  // no entry: nothing chosen
  trace("Option: Letra AB\n");
  app_.operations.setLetter(Field::LetterAutoBrake, widgets_.autoBreakList->currentIndex());
}

void SportPage::zoneChanged(int pedal, bool upper, int value) {
  app_.operations.setZone(ZonePage::Custom, pedalAt(pedal), upper, value);
  redrawBars();
}

void SportPage::brakeStopChanged(int value) {
  const ControllerState& state = app_.controller.state;
  app_.operations.setBrakeStop(value);
  showBrakeStopIndicator(state.chetoActive != 0);
  emit app_.model().modeChanged();  // "Mode: CUSTOM M" follows the brake stop
}

void SportPage::letterChanged(int list, int index) {
  if (index < 0) return;
  const LetterListRole& role = kLetterLists[list];
  // The PRO page's Mas and Menos lists show the same letters.
  app_.model().setLetter(role.known, index);
  trace("%s", role.traceLine);
}

// The buttons keep the lower dead zone from rising above the upper one (they may meet).
void SportPage::stepZone(int pedal, bool upper, int delta) {
  const SportPedalPanel& p = widgets_.pedals[pedal];
  // A step from a value that is not known would send a made-up one.
  if (!p.upper->known() || !p.lower->known()) {
    trace("SPORT-EV - dead zone not known: step ignored\n");
    return;
  }
  if (const auto next = customZoneStep(upper, delta, p.upper->value(), p.lower->value()))
    (upper ? p.upper : p.lower)->set(*next);
  p.upperMarker->move(kZoneMarkerX, upperMarkerY(p.upper->value()));
  p.lowerMarker->move(kZoneMarkerX, lowerMarkerY(p.lower->value()));
}

void SportPage::stepBrakeStop(int delta) {
  if (!widgets_.brakeStop->known()) {
    trace("SPORT-EV - brake limiter not known: step ignored\n");
    return;
  }
  widgets_.brakeStop->set(tkb::brakeStopStep(widgets_.brakeStop->value(), delta));
  widgets_.brakeStopMarker->move(kBrakeStopMarkerX, upperMarkerY(widgets_.brakeStop->value()));
}

void SportPage::defaultPedal(int pedal) {
  trace("Default button (%d) pressed SPORT -- Inicio\n", pedal);
  ControllerState& state = app_.controller.state;
  const SportPedalPanel& p = widgets_.pedals[pedal];
  showBox(p.upper, state.isKnown(zoneRow(pedal, true).field), zoneRow(pedal, true).get(state));
  showBox(p.lower, state.isKnown(zoneRow(pedal, false).field), zoneRow(pedal, false).get(state));
  p.upperMarker->move(kZoneMarkerX, upperMarkerY(p.upper->value()));
  p.lowerMarker->move(kZoneMarkerX, lowerMarkerY(p.lower->value()));
  // A chart without a curve has nothing to go back to.
  if (p.chart->hasCurve()) history_.record(pedalAt(pedal), p.chart->curve(), defaultCurve());
  editStart_[pedal].reset();
  p.chart->setCurve(defaultCurve());
  app_.operations.defaultCurve(pedalAt(pedal));
  showCustomModeActive(state.chetoActive != 0);
  trace("\nDefault button (%d) pressed SPORT -- Final\n", pedal);
}

// The charts go back to straight lines; the state keeps its curves until a chart is edited.
void SportPage::defaultAll() {
  trace("Default button pressed SPORT -- Inicio\n");
  const ControllerState& state = app_.controller.state;
  const ZoneValues zones = zonesOf(state);
  for (int pedal = 0; pedal < kPedalCount; ++pedal) {
    showBox(widgets_.pedals[pedal].upper, state.isKnown(zoneRow(pedal, true).field), zoneOf(zones, pedal, true));
    showBox(widgets_.pedals[pedal].lower, state.isKnown(zoneRow(pedal, false).field), zoneOf(zones, pedal, false));
  }
  moveMarkers(zones, widgets_.brakeStop->value());
  for (SportPedalPanel& p : widgets_.pedals) p.chart->setCurve(defaultCurve());
  trace("\nDefault button pressed SPORT -- Final\n");
}

void SportPage::applySettings() {
  trace("\nAplicar zones SPORT pressed - Inicio");
  app_.operations.storeZonesAndCurves();
  // The controller stores the curves it was sent: the state's.
  takeBaseline(storedCurves_);
  showMarks();
  profiles_.profiles().recordActiveProfile(app_.basePath());
  trace("\nAplicar zones SPORT pressed - Final\n");
}

void SportPage::showCustomModeActive(bool brakeStopActive) {
  showBrakeStopIndicator(brakeStopActive);
  app_.mainPage().markActiveMode(true);
  emit app_.model().modeChanged();
  // The profile label names the CUSTOM profile now that CUSTOM is active.
  emit app_.model().profileChanged();
}

void SportPage::showBrakeStopIndicator(bool active) {
  if (widgets_.brakeStopIndicator) widgets_.brakeStopIndicator->setVisible(active);
}

// The dead-zone bands of the output bars follow the zones. The live bars restyle every
// bar of both pages; without them this page restyles its own output bars the same way.
void SportPage::redrawBars() { app_.model().showBands(); }

// ---- Showing the state ---------------------------------------------------------------

void SportPage::showLoad(ProfileKind kind, bool loaded) {
  if (!built()) return;
  const ControllerState& state = app_.controller.state;
  if (loaded) {
    if (kind == ProfileKind::Sport) {
      widgets_.autoBrakeSwitch->setOn(state.autoBrake != 0, true);
      for (Pedal pedal : kPedals) widgets_.pedals[pedalIndex(pedal)].chart->setCurve(curveOf(state, pedal));
      takeBaseline(savedCurves_);
      profileBaseline_ = true;
      showMarks();
    }
    for (Pedal pedal : kPedals) {
      const SportPedalPanel& p = widgets_.pedals[pedalIndex(pedal)];
      showValue(p.upper, state.isKnown(zoneSetting(pedal, true).field), zoneValue(state, pedal, true));
      showValue(p.lower, state.isKnown(zoneSetting(pedal, false).field), zoneValue(state, pedal, false));
    }
    showValue(widgets_.brakeStop, state.isKnown(Field::Cheto), state.cheto);
    moveMarkers(zonesOf(state), state.cheto);
    if (state.sportProfileActive) {
      redrawBars();
      showBrakeStopIndicator(state.chetoActive != 0);
      emit app_.model().modeChanged();
    }
  }
  if (kind == ProfileKind::Sport) showCustomModeActive(state.chetoActive != 0);
}

void SportPage::moveMarkers(const ZoneValues& zones, int brakeStop) {
  if (!built()) return;
  for (int pedal = 0; pedal < kPedalCount; ++pedal) {
    const SportPedalPanel& p = widgets_.pedals[pedal];
    p.upperMarker->move(kZoneMarkerX, upperMarkerY(zoneOf(zones, pedal, true)));
    p.lowerMarker->move(kZoneMarkerX, lowerMarkerY(zoneOf(zones, pedal, false)));
  }
  widgets_.brakeStopMarker->move(kBrakeStopMarkerX, upperMarkerY(brakeStop));
}

void SportPage::showStateZones() {
  if (!built()) return;
  const ControllerState& state = app_.controller.state;
  const ZoneValues zones = zonesOf(state);
  for (int pedal = 0; pedal < kPedalCount; ++pedal) {
    showBox(widgets_.pedals[pedal].upper, state.isKnown(zoneRow(pedal, true).field), zoneOf(zones, pedal, true));
    showBox(widgets_.pedals[pedal].lower, state.isKnown(zoneRow(pedal, false).field), zoneOf(zones, pedal, false));
  }
  showBox(widgets_.brakeStop, state.isKnown(Field::Cheto), state.cheto);
  moveMarkers(zones, state.cheto);
  redrawBars();
}

void SportPage::showCurvesFromState() {
  if (!built()) return;
  ControllerState& state = app_.controller.state;
  for (int pedal = 0; pedal < kPedalCount; ++pedal) {
    CurveChart* chart = widgets_.pedals[pedal].chart;
    if (state.isKnown(curveField(pedal))) {
      chart->setCurve(curveOf(state, pedalAt(pedal)));
    } else {
      chart->clearCurve();  // no curve rather than one the controller does not hold
    }
  }
}

void SportPage::showKeyLetters() {
  if (!built()) return;
  const ControllerState& state = app_.controller.state;
  for (int i = 0; i < 4; ++i) widgets_.letters[i]->setCurrentIndex(letterEntry(state, kLetterLists[i]));
}

// ---- Opening and closing -------------------------------------------------------------

void SportPage::pageOpened() {
  if (!built()) return;
  open_ = true;
  const ControllerState& state = app_.controller.state;
  const bool autoBrakeOn = state.autoBrake != 0;
  emit app_.model().autoBrakeChanged(autoBrakeOn);
  showStateZones();
  showCurvesFromState();
  showBrakeStopIndicator(state.chetoActive != 0);
  followLiveInputs();
}

void SportPage::closePage() {
  trace("\nClose SPORT pressed - Inicio");
  widgets_.page->hide();
  open_ = false;
  readCurvesBack();
  app_.mainPage().showModeButtonsAfterPage();
  if (UsageLog* log = app_.usageLog()) log->modeLine(app_.controller.state);
  trace("\nClose SPORT pressed - Final\n");
}

// What the controller really holds goes into the state and the charts.
void SportPage::readCurvesBack() {
  ControllerState& state = app_.controller.state;
  for (Pedal pedal : kPedals) {
    app_.controller.query(*curveSetting(pedal).query);
    trace("%s", kCurveReadLines[pedalIndex(pedal)]);
    const Curve& curve = curveOf(state, pedal);
    for (int i = 0; i < kCurvePoints; ++i) trace("\n\tDato %d -> %d", i, curve[i]);
  }
  showCurvesFromState();
}

// Each chart marks where its pedal's live input sits on the curve.
void SportPage::followLiveInputs() {
  if (!built() || !widgets_.page->isVisible()) return;
  const PedalInput* pedals = app_.pedals();
  if (pedals == nullptr) return;
  const PedalAxes axes = pedals->axes();
  auto percent = [](int16_t raw) { return barPercent(customPercent(raw)); };
  const bool hasClutch = app_.controller.state.hasClutch;
  widgets_.pedals[kClutchPedal].chart->setLiveInput(hasClutch ? std::optional<int>(percent(axes.axis3))
                                                              : std::nullopt);
  // The brake meets its curve relative to the brake stop, as its OUT bar does.
  widgets_.pedals[kBrakePedal].chart->setLiveInput(curveInput(app_.controller.state, kBrakePedal, percent(axes.axis2)));
  widgets_.pedals[kThrottlePedal].chart->setLiveInput(percent(axes.axis1));
}

// ---- sport_chart_handler -------------------------------------------------------------

void SportPage::sport_chart_handler(CurveChart* chart, ChartEvent event, QPoint at) {
  const Application::Action action(app_);
  // A chart without a curve (the controller's was not read) is not edited: one point
  // moved would send ten made-up ones with it.
  if (chart != nullptr && !chart->hasCurve()) {
    trace("SPORT-EV - curve not known: edit ignored\n");
    return;
  }
  const int pedal = chartPedal(chart);
  ControllerState& state = app_.controller.state;

  if (event == ChartEvent::Pressing) {
    trace("x = %d y = %d\n", at.x(), at.y());
    if (pedal < 0) {
      trace("Object not found");
      return;
    }
    const SportPedalPanel& p = widgets_.pedals[pedal];
    const int k = chartPointAt(at.x(), chartLeftEdge(state.hasClutch, pedal));
    beginChartEdit(pedal);
    Curve points = chart->curve();
    points[k] = chartPointValue(points, k, at.y());
    chart->setCurve(points);
    p.readoutX->setText(QString("X -> %1 %").arg(10 * k));
    p.readoutY->setText(QString("Y -> %1 %").arg(chart->curve()[k]));
    // The state's curve is what the release sends: it takes the whole chart, so that a
    // chart reset by DEFAULT ALL goes out as drawn.
    curveOf(state, pedalAt(pedal)) = chart->curve();
    state.markKnown(curveField(pedal));
    return;
  }
  if (pedal < 0) {
    trace("Object not found");
    return;
  }
  // Press lost or clicked: the edit is over.
  finishChartEdit(pedal);
}

int SportPage::chartPedal(const CurveChart* chart) const {
  for (int i = 0; i < kPedalCount; ++i)
    if (built() && chart == widgets_.pedals[i].chart) return i;
  return -1;
}

void SportPage::beginChartEdit(int pedal) {
  if (!editStart_[pedal]) editStart_[pedal] = widgets_.pedals[pedal].chart->curve();
}

// The edit is over: blank read-outs, then the chart's curve and B6 go out, and the edit
// becomes one step of the history.
void SportPage::finishChartEdit(int pedal) {
  const SportPedalPanel& p = widgets_.pedals[pedal];
  p.readoutX->setText(kReadoutBlank);
  p.readoutY->setText(kReadoutBlank);
  const Curve& sent = curveOf(app_.controller.state, pedalAt(pedal));
  app_.operations.sendCurve(pedalAt(pedal), sent);
  history_.record(pedalAt(pedal), editStart_[pedal].value_or(sent), sent);
  editStart_[pedal].reset();
}

void SportPage::undoCurve() {
  run([this] { restoreCurve(history_.undo(), "undo"); });
}

void SportPage::redoCurve() {
  run([this] { restoreCurve(history_.redo(), "redo"); });
}

void SportPage::applyPreset(int pedal, const CurvePreset& preset) {
  if (!built() || pedal < 0 || pedal >= kPedalCount) return;
  const Curve curve = presetCurve(preset);
  const SportPedalPanel& p = widgets_.pedals[pedal];
  trace("SPORT-EV - preset %d (%d) on curve %d\n", static_cast<int>(preset.kind), preset.wall, pedal);
  // A chart without a curve has nothing to go back to: the preset is then no undo step.
  if (p.chart->hasCurve()) beginChartEdit(pedal);
  p.chart->setCurve(curve);
  ControllerState& state = app_.controller.state;
  curveOf(state, pedalAt(pedal)) = curve;
  state.markKnown(curveField(pedal));
  finishChartEdit(pedal);
}

void SportPage::restoreCurve(const std::optional<CurveHistory::Restore>& restore, const char* what) {
  if (!restore) {
    trace("SPORT-EV - nothing to %s\n", what);
    return;
  }
  const int pedal = pedalIndex(restore->pedal);
  editStart_[pedal].reset();  // an edit under way is replaced by what comes back
  widgets_.pedals[pedal].chart->setCurve(restore->curve);
  trace("SPORT-EV - %s: curve %d restored\n", what, pedal);
  app_.operations.sendCurve(restore->pedal, restore->curve);
}

void SportPage::sport_chart_key_handler(CurveChart* chart, ChartKeyEdit edit) {
  const Application::Action action(app_);
  const int pedal = chartPedal(chart);
  if (pedal < 0) {
    trace("Object not found");
    return;
  }
  if (!chart->hasCurve()) {
    trace("SPORT-EV - curve not known: edit ignored\n");
    return;
  }
  if (edit.kind == ChartKeyEdit::StepsDone) {
    finishChartEdit(pedal);
    return;
  }
  ControllerState& state = app_.controller.state;
  const SportPedalPanel& p = widgets_.pedals[pedal];
  const int k = std::clamp(edit.point, 0, kCurveLastPoint);
  beginChartEdit(pedal);
  Curve points = chart->curve();
  const bool entered = edit.kind == ChartKeyEdit::Entered;
  // A value typed in is kept in the order as a step would be.
  points[k] = chartPointStep(points, k, entered ? edit.amount - points[k] : edit.amount);
  chart->setCurve(points);
  trace("SPORT-EV - curve point %d -> %d (%s)\n", k, points[k], entered ? "entered" : "key");
  p.readoutX->setText(QString("X -> %1 %").arg(10 * k));
  p.readoutY->setText(QString("Y -> %1 %").arg(points[k]));
  // As for a press: the state takes the whole chart, the release sends it.
  curveOf(state, pedalAt(pedal)) = chart->curve();
  state.markKnown(curveField(pedal));
  // A confirmed value is a finished edit at once.
  if (entered) finishChartEdit(pedal);
}

}  // namespace tkb::ui
