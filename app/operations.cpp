#include "app/operations.h"

#include <algorithm>

#include "link/trace.h"

namespace tkb {
namespace {

constexpr int kZoneMax = 100;

// The brake rules compare values scaled by 100 / (brakeMax + 10). A brake limit that
// leaves no positive divisor gives the plain comparison instead of a division by zero.
int brakeScaled(int value, int brakeMax) {
  const int divisor = brakeMax + 10;
  return divisor > 0 ? value * 100 / divisor : value;
}

// The trace line of a zone change, by page and pedal: lower, upper.
const char* const kProZoneNames[kPedalCount][2] = {
    {"clutch Lower", "clutch upper"}, {"brake Lower", "Brake upper"}, {"Accelerator Lower", "Accelerator upper"}};
const char* const kCustomZoneLines[kPedalCount][2] = {
    {"SPORT-EV - value of clutch Lower dead zone is %d\n", "\nSPORT-EV - value of clutch upper dead zone is %d\n"},
    {"SPORT-EV - value of brake Lower dead zone is %d\n", "SPORT-EV - value of brake maximum force is %d\n"},
    {"SPORT-EV - value of Accelerator Lower dead zone is %d\n", "SPORT-EV - value of Accelerator upper dead zone is %d\n"},
};

}  // namespace

void traceZoneChange(ZonePage page, Pedal pedal, bool upper, int value) {
  const int i = pedalIndex(pedal), u = upper ? 1 : 0;
  if (page == ZonePage::Pro) {
    trace("\nPRO-EV - value of %s dead zone is %d\n", kProZoneNames[i][u], value);
  } else {
    trace(kCustomZoneLines[i][u], value);
  }
}

bool zoneStepAllowed(Pedal pedal, bool upper, bool plus, int upperValue, int lowerValue, int brakeMax) {
  if (upper && plus) return upperValue <= kZoneMax - 1;
  if (!upper && !plus) return lowerValue >= 1;
  if (pedal == Pedal::Brake) {
    if (upper) return upperValue > brakeScaled(lowerValue, brakeMax);  // MAX BRAKE PRESS "-"
    return brakeScaled(upperValue, brakeMax) > brakeScaled(lowerValue, brakeMax);
  }
  return lowerValue < upperValue;
}

std::optional<int> customZoneStep(bool upper, int delta, int upperValue, int lowerValue) {
  if (upper) {
    if (delta > 0 && upperValue < kZoneMax) return std::min(upperValue + delta, kZoneMax);
    if (delta < 0 && lowerValue < upperValue) return std::max(upperValue + delta, 0);
  } else {
    if (delta > 0 && lowerValue < upperValue) return std::min(lowerValue + delta, kZoneMax);
    if (delta < 0 && lowerValue > 0) return std::max(lowerValue + delta, 0);
  }
  return std::nullopt;
}

int brakeStopStep(int value, int delta) { return std::clamp(value + delta, 0, kZoneMax); }

void Operations::setZonesEnabled(bool on) {
  c_.state.zonesEnabled = on;
  c_.MandarDatosConfigZonas();
}

void Operations::activateMode(bool custom) {
  ControllerState& s = c_.state;
  s.zonesEnabled = true;
  s.proProfileActive = !custom;
  s.sportProfileActive = custom;
  c_.MandarDatosConfigZonas();
  c_.MandarDatosConfigSportActivado();
}

void Operations::openCustom() {
  ControllerState& s = c_.state;
  s.sportProfileLoaded = true;
  s.sportProfileActive = true;
  s.proProfileActive = false;
  c_.MandarDatosConfigSportCargado();
  c_.MandarDatosConfigSportActivado();
}

namespace {
void activateCustomFlags(Controller& c) {
  setSetting(c.state, Field::ZonesEnabled, 1);
  setSetting(c.state, Field::SportProfileActive, 1);
  c.MandarDatosConfigZonas();
  c.MandarDatosConfigSportActivado();
}
}  // namespace

void Operations::activateCustom() {
  activateCustomFlags(c_);
  for (Pedal pedal : kPedals) curveSetting(pedal).send(c_);
}

void Operations::activateCustom(Pedal onlyCurve) {
  activateCustomFlags(c_);
  curveSetting(onlyCurve).send(c_);
}

void Operations::readZones() {
  for (Pedal pedal : kPedals) c_.query(*zoneSetting(pedal, true).query);
}

bool Operations::setZone(ZonePage page, Pedal pedal, bool upper, int value) {
  // Outside CUSTOM mode the CUSTOM page only shows; nothing reaches the controller.
  if (page == ZonePage::Custom && !c_.state.sportProfileActive) return false;
  const Setting& zone = zoneSetting(pedal, upper);
  // The value is the driver's (or one the controller reported): known from now.
  if (!setSetting(c_.state, zone.field, value)) return false;
  zone.send(c_);
  traceZoneChange(page, pedal, upper, value);
  return true;
}

void Operations::setZones(ZonePage page, const std::array<std::array<int, 2>, kPedalCount>& values) {
  for (Pedal pedal : kPedals) {
    setZone(page, pedal, true, std::clamp(values[pedalIndex(pedal)][0], 0, kZoneMax));
    setZone(page, pedal, false, std::clamp(values[pedalIndex(pedal)][1], 0, kZoneMax));
  }
}

bool Operations::setBrakeStop(int value) {
  if (!c_.state.sportProfileActive) return false;
  // The brake stop in use unless 100 (kBrakeStopInactive): setSetting sets the flag with it.
  if (!setSetting(c_.state, Field::Cheto, value)) return false;
  findSetting(Field::Cheto)->send(c_);
  trace("SPORT-EV - value of brake upper dead zone is %d\n", value);
  return true;
}

void Operations::defaultCurve(Pedal pedal) {
  curveOf(c_.state, pedal) = straightCurve();
  c_.state.markKnown(curveSetting(pedal).field);  // the driver chose the straight line
  activateCustom(pedal);
}

void Operations::sendCurve(Pedal pedal, const Curve& curve) {
  curveOf(c_.state, pedal) = curve;
  c_.state.markKnown(curveSetting(pedal).field);
  curveSetting(pedal).send(c_);
  c_.state.sportProfileLoaded = true;
  c_.MandarDatosConfigSportCargado();
}

bool Operations::setLetter(Field letter, int index) {
  const Setting* row = findSetting(letter);
  if (row == nullptr || row->role != Role::Letter || !setSetting(c_.state, letter, index)) return false;
  row->send(c_);
  return true;
}

void Operations::setAutoBrake(bool on) { on ? c_.ActivarAutoBrake() : c_.DesactivarAutoBrake(); }

bool Operations::endAutoBrakeTest() {
  if (c_.state.autoBrake2 != 1) return false;
  c_.DesactivarAutoBrake2();
  return true;
}

void Operations::testAutoBrake(bool on) { on ? c_.ActivarAutoBrake2() : c_.DesactivarAutoBrake2(); }

void Operations::storeZones() { c_.SetGuardarZonasPedales(); }

void Operations::storeZonesAndCurves() {
  c_.SetGuardarZonasPedales();
  c_.SetGuardarCurvasPedales();
}

bool Operations::set(const Setting& row, int value) {
  if (row.send == nullptr || !setSetting(c_.state, row.field, value)) return false;
  row.send(c_);
  return true;
}

bool Operations::set(const Setting& row, const Curve& curve) {
  if (row.send == nullptr || !setCurve(c_.state, row.field, curve)) return false;
  row.send(c_);
  return true;
}

}  // namespace tkb
