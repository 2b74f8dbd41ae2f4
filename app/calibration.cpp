#include "app/calibration.h"

#include <algorithm>

#include "app/pedal_readout.h"
#include "app/profiles.h"
#include "app/usage_log.h"
#include "link/settings.h"
#include "link/trace.h"

namespace tkb {

namespace {
constexpr int kZoneMin = 0, kZoneMax = 100;

// A zone value as a spin box takes it and as its column sends it: clamped to 0..100, then
// stored and sent. A zone that is not known is neither.
void sendZone(Controller& c, const Setting& zone, bool known, int value, CalibrationView& view) {
  if (!known) {
    view.zoneShown(zone.field, std::nullopt);
    return;
  }
  const int shown = std::clamp(value, kZoneMin, kZoneMax);
  setSetting(c.state, zone.field, shown);
  zone.send(c);
  view.zoneShown(zone.field, shown);
}
}  // namespace

const char* calibrationStateName(CalibrationWizard::State state) {
  using S = CalibrationWizard::State;
  switch (state) {
    case S::Idle: return "idle";
    case S::Settling: return "settling";
    case S::Throttle: return "throttle";
    case S::Brake: return "brake";
    case S::Clutch: return "clutch";
    case S::Calibrated: return "calibrated";
    case S::Storing: return "storing";
    case S::Saved: return "saved";
    case S::Cancelled: return "cancelled";
  }
  return "";
}

CalibrationWizard::CalibrationWizard(Controller& controller, CalibrationView& view, CalibrationHooks hooks)
    : c_(controller), view_(view), hooks_(std::move(hooks)) {}

int CalibrationWizard::count() const {
  switch (state_) {
    case State::Throttle: return 1;
    case State::Brake: return 2;
    case State::Clutch: return 3;
    case State::Calibrated: return 4;
    default: return 0;
  }
}

UsageLog* CalibrationWizard::log() const { return hooks_.usageLog ? hooks_.usageLog() : nullptr; }

// "Set zones PRO" / "Reset zones PRO": the zones on or off, and the controls with them.
void CalibrationWizard::zonesPro(bool on) {
  trace(on ? "\nSet zones PRO pressed - Inicio" : "\nReset zones PRO pressed - Inicio");
  Operations(c_).setZonesEnabled(on);
  view_.zoneControlsShown(on);
  trace(on ? "\nSet zones PRO pressed - Final\n" : "\nReset zones PRO pressed - Final\n");
}

CalibrationPause CalibrationWizard::calibrate() {
  if (pending()) return {};
  trace("\nCalibrate Pro pressed - Inicio");
  view_.calibrationStarted();
  if (UsageLog* l = log()) l->calibrationStarted();
  zonesPro(false);
  if (hooks_.resetJoystick) hooks_.resetJoystick();
  state_ = State::Settling;
  return {kCalibrationSettleMs};
}

void CalibrationWizard::resume() {
  if (state_ == State::Settling) {
    c_.SetPedalesInicial();
    view_.wizardOpened();
    c_.SetPuntosCalibracion(0);
    state_ = State::Throttle;
    view_.stepShown(1);
    // Once more: the rest points must not be distorted by a correction taken meanwhile.
    if (hooks_.resetJoystick) hooks_.resetJoystick();
    trace("\nCalibrate Pro pressed - Final\n");
    return;
  }
  if (state_ != State::Storing) return;
  ControllerState& s = c_.state;
  view_.zoneAreaShown();
  c_.SetInicializarZonasPedales();
  for (Query q : {Query::BrakeMaxAfterCalibration, Query::ClutchZones, Query::BrakeZones, Query::ThrottleZones})
    if (!c_.query(q)) ++failedReads_;
  // The new brake limit becomes the brake's upper zone only when it was read.
  if (s.isKnown(Field::BrakeMax)) {
    s.brakeUpper = s.brakeMax;
    s.markKnown(Field::BrakeUpper);
  }
  // Clutch, brake, throttle, each upper then lower (C1, C2, C3, C5, C6, C7).
  for (Pedal pedal : kPedals)
    for (bool upper : {true, false}) {
      const Setting& zone = zoneSetting(pedal, upper);
      sendZone(c_, zone, s.isKnown(zone.field), zone.get(s), view_);
    }
  view_.zonesShown();
  s.proProfileActive = true;
  s.sportProfileActive = false;
  s.calibrated = true;
  view_.modeShown();
  c_.MandarDatosConfigCalibrado();
  c_.MandarDatosConfigSportCargado();
  c_.MandarDatosConfigSportActivado();
  c_.SetGuardarZonasPedales();
  zonesPro(true);
  s.zonesEnabled = true;
  state_ = State::Saved;
  view_.wizardClosed(true);
  if (hooks_.basePath) recordDefaultProfile(hooks_.basePath());
  s.proProfileName = makeProfileName(kDefaultProfileName);
  s.sportProfileName = makeProfileName(kDefaultProfileName);
  setProfileName(s, Field::ProProfileName, s.proProfileName);
  setProfileName(s, Field::SportProfileName, s.sportProfileName);
  c_.MandarPerfilPro();
  c_.MandarPerfilSport();
  view_.profileShown();
  trace("\nSave PRO calibration pressed - Final\n");
}

void CalibrationWizard::next() {
  if (pending()) return;
  trace("\nPro next pressed - Inicio");
  trace("\nCount -> %d", count());
  trace("\npCount -> %d", pCount());
  const bool clutch = c_.state.hasClutch;
  if (state_ == State::Throttle) {
    c_.SetPuntosCalibracion(1);
    state_ = State::Brake;
    view_.stepShown(2);
  } else if (state_ == State::Brake) {
    c_.SetPuntosCalibracion(2);
    // Two-pedal sets have no clutch step.
    state_ = clutch ? State::Clutch : State::Calibrated;
    view_.stepShown(clutch ? 3 : 4);
  } else if (state_ == State::Clutch) {
    c_.SetPuntosCalibracion(3);
    state_ = State::Calibrated;
    view_.stepShown(4);
  }
  trace("\nCount -> %d", count());
  trace("\npCount -> %d", pCount());
  trace("\nPro next pressed - Final\n");
}

CalibrationPause CalibrationWizard::save() {
  if (state_ != State::Calibrated) return {};
  trace("\nSave PRO calibration pressed - Inicio");
  view_.calibrationEnding();
  failedReads_ = c_.query(Query::CalibrationReadings) ? 0 : 1;
  if (UsageLog* l = log()) l->calibrationSaved(c_.state.calibrationReadings);
  c_.SetPedalesGuardar();
  state_ = State::Storing;
  return {kCalibrationStoreMs};
}

void CalibrationWizard::cancel() {
  if (count() == 0) return;
  trace("\nCancelar calibracion PRO pressed - Inicio");
  view_.calibrationEnding();
  if (UsageLog* l = log()) l->calibrationCancelled();
  c_.SetPedalesRestaurar();
  view_.zoneAreaShown();
  const Setting& maxBrakePress = zoneSetting(Pedal::Brake, true);
  sendZone(c_, maxBrakePress, c_.state.isKnown(maxBrakePress.field), c_.state.brakeUpper, view_);
  zonesPro(true);
  c_.state.zonesEnabled = true;
  state_ = State::Cancelled;
  view_.wizardClosed(false);
  trace("\nCancelar calibracion PRO pressed - Final\n");
}

void CalibrationWizard::close() {
  if (pending() || pCount() == 0) return;
  state_ = State::Cancelled;
  c_.SetPedalesRestaurar();
  zonesPro(true);
  c_.state.zonesEnabled = true;
}

CalibrationPause CalibrationWizard::end() {
  switch (state_) {
    case State::Settling:
      zonesPro(true);
      c_.state.zonesEnabled = true;
      state_ = State::Cancelled;
      return {};
    case State::Storing: return {kCalibrationStoreMs};
    default: close(); return {};
  }
}

bool autocal(Controller& c, BrakeExcess& e, UsageLog* log, CalibrationView& view) {
  trace("\nAutocal Button pressed - Inicio\n");
  const bool recorded = e.numero != 0;
  if (recorded) {
    trace("\nRecalibrado\n");
    const int point = e.parcial / e.numero + 1;
    for (int i = 0; i < 3; ++i) trace("\nMedia %d", point);
    if (log != nullptr) log->setAbs(point);
    // A point outside the brake's travel is never sent; ReaplicarFreno makes it the brake
    // limit and the brake's upper zone.
    if (!setSetting(c.state, Field::BrakeRecalPoint, point)) c.state.known.remove(Field::BrakeRecalPoint);
    c.RecalibradoFrenoSuperior();
    e.parcial = 0;
    e.numero = 0;
    c.ReaplicarFreno([&c, &view] {
      const ControllerState& s = c.state;
      // MAX BRAKE PRESS takes the new limit, the lower zone is sent as it stands.
      sendZone(c, zoneSetting(Pedal::Brake, true), s.isKnown(Field::BrakeMax), s.brakeMax, view);
      sendZone(c, zoneSetting(Pedal::Brake, false), s.isKnown(Field::BrakeLower), s.brakeLower, view);
      view.brakeZonesShown();
    });
  }
  trace("\nAutocal Button pressed - Final\n");
  return recorded;
}

std::optional<int> stepMaxBrakePress(Operations& operations, int delta) {
  const ControllerState& s = operations.state();
  if (!s.isKnown(Field::BrakeUpper) || !s.isKnown(Field::BrakeLower)) {
    trace("\nPRO-EV - dead zone not known: step ignored");
    return std::nullopt;
  }
  const bool plus = delta > 0;
  if (!zoneStepAllowed(Pedal::Brake, true, plus, s.brakeUpper, s.brakeLower, s.brakeMax)) return std::nullopt;
  const int value = s.brakeUpper + (plus ? 1 : -1);
  if (!operations.setZone(ZonePage::Pro, Pedal::Brake, true, value)) return std::nullopt;
  return value;
}

}  // namespace tkb
