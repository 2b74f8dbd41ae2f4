#include "ui/sport_page.h"

#include <algorithm>

#include "link/settings.h"
#include "link/trace.h"
#include "ui/pedal_bar.h"
#include "ui/sport_page_tables.h"
#include "ui/switch_led.h"
#include "ui/widgets.h"

namespace tkb::ui {

using namespace sport;

namespace {

Field curveField(int pedal) { return curveSetting(pedalAt(pedal)).field; }

// A box shows the state's value, or nothing while that is not known.
void showValue(ValueBox* box, const ControllerState& state, Field field) {
  if (state.isKnown(field)) {
    box->showValue(std::clamp(settingValue(state, field), 0, kZoneMax));
  } else {
    box->showUnknown();
  }
}

}  // namespace

SportPage::SportPage(ControllerModel& model, LabelBoard& labels, ProfileDialogs& dialogs)
    : model_(model), labels_(labels), dialogs_(dialogs), bars_(std::make_unique<CustomBars>(model)) {
  model_.setChartPoints(this);
}

SportPage::~SportPage() { model_.setChartPoints(nullptr); }

// ---- What the widgets ask ------------------------------------------------------------------

bool SportPage::ignoredWhileBusy() const {
  if (!model_.busy()) return false;
  trace("\nCUSTOM page busy: click ignored");
  return true;
}

void SportPage::onClick(QPushButton* b, std::function<void()> action) {
  connect(b, &QPushButton::clicked, this, [this, action] {
    if (built() && !ignoredWhileBusy()) action();
  });
}

// The chart goes back to a straight line, and the controller with it.
void SportPage::defaultPedal(int pedal) {
  const SportPedalPanel& p = widgets_.pedals[pedal];
  // A chart without a curve has nothing to go back to.
  if (p.chart->hasCurve()) history_.record(pedalAt(pedal), p.chart->curve(), defaultCurve());
  editStart_[pedal].reset();
  p.chart->setCurve(defaultCurve());
  model_.defaultCurve(pedalAt(pedal));
}

// The charts go back to straight lines; the state keeps its curves until a chart is edited.
void SportPage::defaultAll() {
  for (SportPedalPanel& p : widgets_.pedals) p.chart->setCurve(defaultCurve());
  model_.defaultAllCurves();
}

// ---- What the page shows ---------------------------------------------------------------------

void SportPage::connectModel() {
  ControllerModel& m = model_;
  connect(&m, &ControllerModel::customPageOpened, this, &SportPage::pageOpened);
  connect(&m, &ControllerModel::customPageClosed, this, &SportPage::pageClosed);
  connect(&m, &ControllerModel::profileLoaded, this, &SportPage::showLoad);
  connect(&m, &ControllerModel::zonesChanged, this, &SportPage::showStateZones);
  connect(&m, &ControllerModel::brakeZonesChanged, this, &SportPage::showBrakeZones);
  connect(&m, &ControllerModel::zoneSent, this, &SportPage::showSent);
  connect(&m, &ControllerModel::settingSent, this, &SportPage::showSent);
  connect(&m, &ControllerModel::bandsChanged, this, [this] { bars_->showBands(); });
  connect(&m, &ControllerModel::curvesChanged, this, &SportPage::showCurvesFromState);
  connect(&m, &ControllerModel::curvesStored, this, [this] {
    takeBaseline(storedCurves_);
    if (!profileBaseline_) takeBaseline(savedCurves_);
    showMarks();
  });
  connect(&m, &ControllerModel::applied, this, [this](ControllerModel::Page page) {
    if (page != ControllerModel::Page::Custom) return;
    // The controller stores the curves it was sent: the state's.
    takeBaseline(storedCurves_);
    showMarks();
  });
  connect(&m, &ControllerModel::profileSaved, this, [this](ProfileKind kind) {
    if (kind != ProfileKind::Sport || !built()) return;
    // The file holds the charts' curves.
    for (int pedal = 0; pedal < kPedalCount; ++pedal) {
      const CurveChart* chart = widgets_.pedals[pedal].chart;
      savedCurves_[pedal] = chart->hasCurve() ? std::optional<Curve>(chart->curve()) : std::nullopt;
    }
    profileBaseline_ = true;
    showMarks();
  });
  connect(&m, &ControllerModel::lettersChanged, this, &SportPage::showKeyLetters);
  connect(&m, &ControllerModel::letterChanged, this, &SportPage::selectLetter);
  connect(&m, &ControllerModel::autoBrakeChanged, this, [this](bool on) { widgets_.autoBrakeSwitch->setOn(on, true); });
  connect(&m, &ControllerModel::autoBrakeLed, this, [this](bool customPage, int brightness) {
    if (customPage && widgets_.autoBrakeLed) widgets_.autoBrakeLed->setBrightness(brightness);
  });
  connect(&m, &ControllerModel::modeChanged, this, &SportPage::showBrakeStopIndicator);
  connect(&m, &ControllerModel::pedalsSampled, this, [this] { bars_->RefrescoBarrasSport(); });
}

Curve SportPage::chartPoints(Pedal pedal) const {
  return built() ? widgets_.pedals[pedalIndex(pedal)].chart->curve() : Curve{};
}

// A zone or the brake stop sent (a step, a key, tkb-cli through the program): its box and
// marker show the state's value.
void SportPage::showSent(Field field) {
  if (!built()) return;
  const ControllerState& state = model_.state();
  bool shown = false;
  for (int pedal = 0; pedal < kPedalCount; ++pedal)
    for (bool upper : {true, false})
      if (zoneRow(pedal, upper).field == field) {
        showValue(upper ? widgets_.pedals[pedal].upper : widgets_.pedals[pedal].lower, state, field);
        shown = true;
      }
  if (field == Field::Cheto) {
    showValue(widgets_.brakeStop, state, field);
    shown = true;
  }
  if (shown) moveMarkers();
}

void SportPage::showBrakeZones() {
  if (!built()) return;
  showSent(Field::BrakeUpper);
  showSent(Field::BrakeLower);
}

// The PRESS + and PRESS - lists show the letter chosen on either page; nothing is sent again.
void SportPage::selectLetter(Field field, int index) {
  if (!built()) return;
  const int list = field == Field::LetterMas ? kListMas : field == Field::LetterMenos ? kListMenos : -1;
  if (list >= 0) widgets_.letters[list]->setCurrentIndex(std::clamp(index, 0, kLetterEntries - 1));
}

void SportPage::showLoad(ProfileKind kind, bool loaded) {
  if (!built()) return;
  const ControllerState& state = model_.state();
  if (loaded) {
    if (kind == ProfileKind::Sport) {
      widgets_.autoBrakeSwitch->setOn(state.autoBrake != 0, true);
      for (Pedal pedal : kPedals) widgets_.pedals[pedalIndex(pedal)].chart->setCurve(curveOf(state, pedal));
      takeBaseline(savedCurves_);
      profileBaseline_ = true;
      showMarks();
    }
    showStateZones();
  }
  showBrakeStopIndicator();
}

void SportPage::moveMarkers() {
  if (!built()) return;
  const SportWidgets& w = widgets_;
  for (int pedal = 0; pedal < kPedalCount; ++pedal) {
    const SportPedalPanel& p = w.pedals[pedal];
    p.upperMarker->move(kZoneMarkerX, upperMarkerY(p.upper->value()));
    p.lowerMarker->move(kZoneMarkerX, lowerMarkerY(p.lower->value()));
  }
  w.brakeStopMarker->move(kBrakeStopMarkerX, upperMarkerY(w.brakeStop->value()));
}

void SportPage::showStateZones() {
  if (!built()) return;
  const ControllerState& state = model_.state();
  for (int pedal = 0; pedal < kPedalCount; ++pedal)
    for (bool upper : {true, false}) {
      const Field field = zoneRow(pedal, upper).field;
      showValue(upper ? widgets_.pedals[pedal].upper : widgets_.pedals[pedal].lower, state, field);
    }
  showValue(widgets_.brakeStop, state, Field::Cheto);
  moveMarkers();
}

void SportPage::showCurvesFromState() {
  if (!built()) return;
  const ControllerState& state = model_.state();
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
  const ControllerState& state = model_.state();
  for (int i = 0; i < 4; ++i) widgets_.letters[i]->setCurrentIndex(letterEntry(state, kLetterLists[i]));
}

void SportPage::showBrakeStopIndicator() {
  if (widgets_.brakeStopIndicator) widgets_.brakeStopIndicator->setVisible(model_.state().chetoActive != 0);
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
  const ControllerState& state = model_.state();
  for (int pedal = 0; pedal < kPedalCount; ++pedal)
    baseline[pedal] = state.isKnown(curveField(pedal)) ? std::optional<Curve>(curveOf(state, pedalAt(pedal)))
                                                       : std::nullopt;
}

// ---- Opening and closing -------------------------------------------------------------

void SportPage::pageOpened() {
  if (!built()) return;
  open_ = true;
  widgets_.page->show();
  widgets_.page->raise();
  showStateZones();
  showCurvesFromState();
  showBrakeStopIndicator();
  followLiveInputs();
}

void SportPage::pageClosed() {
  if (!built()) return;
  widgets_.page->hide();
  open_ = false;
}

// Each chart marks where its pedal's live input sits on the curve.
void SportPage::followLiveInputs() {
  if (!built() || !widgets_.page->isVisible()) return;
  const PedalInput* pedals = model_.pedals();
  if (pedals == nullptr) return;
  const PedalAxes axes = pedals->axes();
  auto percent = [](int16_t raw) { return barPercent(customPercent(raw)); };
  const ControllerState& state = model_.state();
  widgets_.pedals[kClutchPedal].chart->setLiveInput(state.hasClutch ? std::optional<int>(percent(axes.axis3))
                                                                    : std::nullopt);
  // The brake meets its curve relative to the brake stop, as its OUT bar does.
  widgets_.pedals[kBrakePedal].chart->setLiveInput(curveInput(state, kBrakePedal, percent(axes.axis2)));
  widgets_.pedals[kThrottlePedal].chart->setLiveInput(percent(axes.axis1));
}

// ---- sport_chart_handler -------------------------------------------------------------

void SportPage::sport_chart_handler(CurveChart* chart, ChartEvent event, QPoint at) {
  // A chart without a curve (the controller's was not read) is not edited: one point
  // moved would send ten made-up ones with it.
  if (chart != nullptr && !chart->hasCurve()) {
    trace("SPORT-EV - curve not known: edit ignored\n");
    return;
  }
  const int pedal = chartPedal(chart);
  if (event == ChartEvent::Pressing) {
    trace("x = %d y = %d\n", at.x(), at.y());
    if (pedal < 0) {
      trace("Object not found");
      return;
    }
    const SportPedalPanel& p = widgets_.pedals[pedal];
    const int k = chartPointAt(at.x(), chartLeftEdge(model_.state().hasClutch, pedal));
    beginChartEdit(pedal);
    Curve points = chart->curve();
    points[k] = chartPointValue(points, k, at.y());
    chart->setCurve(points);
    p.readoutX->setText(QString("X -> %1 %").arg(10 * k));
    p.readoutY->setText(QString("Y -> %1 %").arg(chart->curve()[k]));
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

// The edit is over: blank read-outs, then the chart's whole curve (a chart reset by DEFAULT
// ALL goes out as drawn) and B6 go out, and the edit becomes one step of the history.
void SportPage::finishChartEdit(int pedal) {
  const SportPedalPanel& p = widgets_.pedals[pedal];
  p.readoutX->setText(kReadoutBlank);
  p.readoutY->setText(kReadoutBlank);
  const Curve sent = p.chart->curve();
  model_.sendCurve(pedalAt(pedal), sent);
  history_.record(pedalAt(pedal), editStart_[pedal].value_or(sent), sent);
  editStart_[pedal].reset();
}

void SportPage::undoCurve() {
  if (built() && !ignoredWhileBusy()) restoreCurve(history_.undo(), "undo");
}

void SportPage::redoCurve() {
  if (built() && !ignoredWhileBusy()) restoreCurve(history_.redo(), "redo");
}

void SportPage::applyPreset(int pedal, const CurvePreset& preset) {
  if (!built() || pedal < 0 || pedal >= kPedalCount) return;
  const Curve curve = presetCurve(preset);
  const SportPedalPanel& p = widgets_.pedals[pedal];
  trace("SPORT-EV - preset %d (%d) on curve %d\n", static_cast<int>(preset.kind), preset.wall, pedal);
  // A chart without a curve has nothing to go back to: the preset is then no undo step.
  if (p.chart->hasCurve()) beginChartEdit(pedal);
  p.chart->setCurve(curve);
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
  model_.sendCurve(restore->pedal, restore->curve);
}

void SportPage::sport_chart_key_handler(CurveChart* chart, ChartKeyEdit edit) {
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
  // A confirmed value is a finished edit at once.
  if (entered) finishChartEdit(pedal);
}

}  // namespace tkb::ui
