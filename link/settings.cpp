#include "link/settings.h"

#include "link/controller.h"

namespace tkb {
namespace {

constexpr int kPercentMax = 100;

// The state's member as a plain int, both ways.
#define TKB_MEMBER(m)                                                        \
  [](const ControllerState& s) { return static_cast<int>(s.m); },            \
      [](ControllerState& s, int v) { s.m = static_cast<decltype(ControllerState::m)>(v); }
#define TKB_SEND(fn) [](Controller& c) { c.fn(); }

constexpr auto kClutch = Pedal::Clutch;
constexpr auto kBrake = Pedal::Brake;
constexpr auto kThrottle = Pedal::Throttle;
constexpr std::optional<Pedal> kNoPedal = std::nullopt;

// In the order tkb-cli lists them and a firmware update sends them back: the brake maximum
// (C8) also sets the brake upper zone, so it comes before the zones. The key lists of the
// pages give the letter ranges: five keys for ABS, three for AutoBreak, six for the others.
const Setting kSettings[] = {
    {"zonesEnabled", Field::ZonesEnabled, 0, 1, false, Query::GeneralConfig, nullptr, nullptr,
     TKB_SEND(MandarDatosConfigZonas), kNoPedal, Role::Config, true, TKB_MEMBER(zonesEnabled)},
    {"calibrated", Field::Calibrated, 0, 1, false, Query::GeneralConfig, nullptr, nullptr,
     TKB_SEND(MandarDatosConfigCalibrado), kNoPedal, Role::Config, true, TKB_MEMBER(calibrated)},
    // PRO is active exactly while CUSTOM is not.
    {"sportProfileActive", Field::SportProfileActive, 0, 1, false, Query::GeneralConfig, nullptr,
     nullptr, TKB_SEND(MandarDatosConfigSportActivado), kNoPedal, Role::Config, true,
     [](const ControllerState& s) { return s.sportProfileActive ? 1 : 0; },
     [](ControllerState& s, int v) {
       s.sportProfileActive = v != 0;
       s.proProfileActive = v == 0;
     }},
    {"sportProfileLoaded", Field::SportProfileLoaded, 0, 1, false, Query::GeneralConfig, nullptr,
     nullptr, TKB_SEND(MandarDatosConfigSportCargado), kNoPedal, Role::Config, true,
     TKB_MEMBER(sportProfileLoaded)},
    // The brake maximum is a point of the brake's travel in percent, as the brake upper
    // zone that it becomes after a calibration. No command writes it.
    {"brakeMax", Field::BrakeMax, 0, kPercentMax, false, Query::BrakeMax, "BRAKE", "BRAKE LIMITER",
     nullptr, kBrake, Role::BrakeMax, true, TKB_MEMBER(brakeMax)},
    {"clutchUpper", Field::ClutchUpper, 0, kPercentMax, false, Query::ClutchZones, "CLUTCH",
     "UPPER DEAD ZONE", TKB_SEND(MandarDatosZonaSuperiorEmbrague), kClutch, Role::UpperZone, true,
     TKB_MEMBER(clutchUpper)},
    {"clutchLower", Field::ClutchLower, 0, kPercentMax, false, Query::ClutchZones, "CLUTCH",
     "LOWER DEAD ZONE", TKB_SEND(MandarDatosZonaInferiorEmbrague), kClutch, Role::LowerZone, true,
     TKB_MEMBER(clutchLower)},
    {"brakeUpper", Field::BrakeUpper, 0, kPercentMax, false, Query::BrakeZones, "BRAKE",
     "UPPER DEAD ZONE", TKB_SEND(MandarDatosZonaSuperiorFreno), kBrake, Role::UpperZone, true,
     TKB_MEMBER(brakeUpper)},
    {"brakeLower", Field::BrakeLower, 0, kPercentMax, false, Query::BrakeZones, "BRAKE",
     "LOWER DEAD ZONE", TKB_SEND(MandarDatosZonaInferiorFreno), kBrake, Role::LowerZone, true,
     TKB_MEMBER(brakeLower)},
    {"throttleUpper", Field::ThrottleUpper, 0, kPercentMax, false, Query::ThrottleZones,
     "ACCELERATOR", "UPPER DEAD ZONE", TKB_SEND(MandarDatosZonaSuperiorAcelerador), kThrottle,
     Role::UpperZone, true, TKB_MEMBER(throttleUpper)},
    {"throttleLower", Field::ThrottleLower, 0, kPercentMax, false, Query::ThrottleZones,
     "ACCELERATOR", "LOWER DEAD ZONE", TKB_SEND(MandarDatosZonaInferiorAcelerador), kThrottle,
     Role::LowerZone, true, TKB_MEMBER(throttleLower)},
    {"brakeRecalPoint", Field::BrakeRecalPoint, 0, kPercentMax, false, std::nullopt, nullptr,
     nullptr, TKB_SEND(RecalibradoFrenoSuperior), kBrake, Role::BrakeRecalPoint, false,
     TKB_MEMBER(brakeRecalPoint)},
    {"clutchCurve", Field::ClutchCurve, 0, kPercentMax, true, Query::ClutchCurve, "CLUTCH",
     "CLUTCH_CURVE_%d", TKB_SEND(MandarDatosCurvaEmbrague), kClutch, Role::Curve, true, nullptr, nullptr},
    {"brakeCurve", Field::BrakeCurve, 0, kPercentMax, true, Query::BrakeCurve, "BRAKE",
     "BRAKE_CURVE_%d", TKB_SEND(MandarDatosCurvaFreno), kBrake, Role::Curve, true, nullptr, nullptr},
    {"throttleCurve", Field::ThrottleCurve, 0, kPercentMax, true, Query::ThrottleCurve,
     "ACCELERATOR", "ACCELERATOR_CURVE_%d", TKB_SEND(MandarDatosCurvaAcelerador), kThrottle,
     Role::Curve, true, nullptr, nullptr},
    {"letterAbs", Field::LetterAbs, 0, 4, false, Query::LetterAbs, nullptr, nullptr,
     TKB_SEND(MandarLetraABS), kNoPedal, Role::Letter, true, TKB_MEMBER(letterAbs)},
    {"letterAutoBrake", Field::LetterAutoBrake, 0, 2, false, Query::LetterAutoBrake, nullptr, nullptr,
     TKB_SEND(MandarLetraAutoBreak), kNoPedal, Role::Letter, true, TKB_MEMBER(letterAutoBrake)},
    {"letterMas", Field::LetterMas, 0, 5, false, Query::LetterMas, nullptr, nullptr,
     TKB_SEND(MandarLetraMas), kNoPedal, Role::Letter, true, TKB_MEMBER(letterMas)},
    {"letterMenos", Field::LetterMenos, 0, 5, false, Query::LetterMenos, nullptr, nullptr,
     TKB_SEND(MandarLetraMenos), kNoPedal, Role::Letter, true, TKB_MEMBER(letterMenos)},
    {"letterMas2", Field::LetterMas2, 0, 5, false, Query::LetterMas2, nullptr, nullptr,
     TKB_SEND(MandarLetraMas2), kNoPedal, Role::Letter, true, TKB_MEMBER(letterMas2)},
    {"letterMenos2", Field::LetterMenos2, 0, 5, false, Query::LetterMenos2, nullptr, nullptr,
     TKB_SEND(MandarLetraMenos2), kNoPedal, Role::Letter, true, TKB_MEMBER(letterMenos2)},
    {"autoBrake", Field::AutoBrake, 0, 1, false, Query::AutoBrake, "BRAKE", "AUTO",
     [](Controller& c) { c.state.autoBrake != 0 ? c.ActivarAutoBrake() : c.DesactivarAutoBrake(); },
     kNoPedal, Role::AutoBrake, true, TKB_MEMBER(autoBrake)},
    {"autoBrake2", Field::AutoBrake2, 0, 1, false, std::nullopt, nullptr, nullptr,
     [](Controller& c) { c.state.autoBrake2 != 0 ? c.ActivarAutoBrake2() : c.DesactivarAutoBrake2(); },
     kNoPedal, Role::AutoBrake, false, TKB_MEMBER(autoBrake2)},
    {"cheto", Field::Cheto, 0, kPercentMax, false, Query::Cheto, "BRAKE", "BRAKE STOP",
     [](Controller& c) {
       c.MandarCheto();
       c.MandarChetoActivo();
     },
     kBrake, Role::BrakeStop, true, TKB_MEMBER(cheto)},
    {"chetoActive", Field::ChetoActive, 0, 1, false, Query::ChetoActive, nullptr, nullptr, nullptr,
     kBrake, Role::BrakeStop, false, TKB_MEMBER(chetoActive)},
    {"model", Field::Model, 0, 6, false, Query::Model, nullptr, nullptr, TKB_SEND(MandarModelo),
     kNoPedal, Role::Device, true, TKB_MEMBER(model)},
    {"color", Field::Color, 0, 2, false, Query::Color, nullptr, nullptr, TKB_SEND(MandarColor),
     kNoPedal, Role::Device, true, TKB_MEMBER(color)},
};

#undef TKB_MEMBER
#undef TKB_SEND

const Setting* findRow(Pedal pedal, Role role) {
  for (const Setting& s : kSettings)
    if (s.pedal == pedal && s.role == role) return &s;
  return nullptr;
}

}  // namespace

std::span<const Setting> settingsTable() { return kSettings; }

const Setting* findSetting(Field field) {
  for (const Setting& s : kSettings)
    if (s.field == field) return &s;
  return nullptr;
}

const Setting* findSetting(std::string_view name) {
  for (const Setting& s : kSettings)
    if (name == s.name) return &s;
  return nullptr;
}

bool inRange(Field field, int value) {
  const Setting* s = findSetting(field);
  return s == nullptr || (value >= s->min && value <= s->max);
}

Curve straightCurve() {
  Curve c{};
  for (int k = 0; k < kCurvePoints; ++k) c[k] = k * kPercentMax / (kCurvePoints - 1);
  return c;
}

bool curveInRange(const Curve& curve) {
  for (int point : curve)
    if (point < 0 || point > kPercentMax) return false;
  return true;
}

bool curveAllowed(const Curve& curve) {
  if (curve.front() != 0 || curve.back() != kPercentMax) return false;
  for (int i = 1; i < kCurvePoints; ++i)
    if (curve[i] <= curve[i - 1]) return false;
  return true;
}

Curve& curveOf(ControllerState& s, Field field) {
  switch (field) {
    case Field::ClutchCurve: return s.clutchCurve;
    case Field::BrakeCurve: return s.brakeCurve;
    default: return s.throttleCurve;
  }
}

const Curve& curveOf(const ControllerState& s, Field field) {
  return curveOf(const_cast<ControllerState&>(s), field);
}

Curve& curveOf(ControllerState& s, Pedal pedal) { return curveOf(s, curveSetting(pedal).field); }
const Curve& curveOf(const ControllerState& s, Pedal pedal) { return curveOf(s, curveSetting(pedal).field); }

const Setting& zoneSetting(Pedal pedal, bool upper) {
  return *findRow(pedal, upper ? Role::UpperZone : Role::LowerZone);
}

const Setting& curveSetting(Pedal pedal) { return *findRow(pedal, Role::Curve); }

int zoneValue(const ControllerState& s, Pedal pedal, bool upper) { return zoneSetting(pedal, upper).get(s); }

int settingValue(const ControllerState& s, Field field) {
  const Setting* row = findSetting(field);
  return row != nullptr && row->get != nullptr ? row->get(s) : 0;
}

bool setSetting(ControllerState& s, Field field, int v) {
  const Setting* row = findSetting(field);
  if (row == nullptr || row->put == nullptr || v < row->min || v > row->max) return false;
  row->put(s, v);
  if (field == Field::Cheto) {
    s.chetoActive = v != kBrakeStopInactive ? 1 : 0;
    s.markKnown(Field::ChetoActive);
  }
  s.markKnown(field);
  return true;
}

bool setCurve(ControllerState& s, Field field, const Curve& curve) {
  const Setting* row = findSetting(field);
  if (row == nullptr || !row->curve || !curveInRange(curve) || !curveAllowed(curve)) return false;
  curveOf(s, field) = curve;
  s.markKnown(field);
  return true;
}

bool setLanguage(ControllerState& s, const std::string& name) {
  for (const char* known : kLanguageNames) {
    if (name == known) {
      s.language = name;
      s.markKnown(Field::Language);
      return true;
    }
  }
  return false;
}

bool setProfileName(ControllerState& s, Field field, const ProfileName& name) {
  if (field != Field::ProProfileName && field != Field::SportProfileName) return false;
  (field == Field::ProProfileName ? s.proProfileName : s.sportProfileName) = name;
  s.markKnown(field);
  return true;
}

}  // namespace tkb
