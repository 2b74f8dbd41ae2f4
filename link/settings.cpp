#include "link/settings.h"

#include "link/controller.h"

namespace tkb {
namespace {

constexpr int kPercentMax = 100;

// In the order tkb-cli lists them. The key lists of the pages give the letter ranges: five
// keys for ABS, three for AutoBreak, six for the others.
const Setting kSettings[] = {
    {"zonesEnabled", Field::ZonesEnabled, 0, 1, false, Query::GeneralConfig, nullptr, nullptr,
     [](Controller& c) { c.MandarDatosConfigZonas(); }},
    {"calibrated", Field::Calibrated, 0, 1, false, Query::GeneralConfig, nullptr, nullptr,
     [](Controller& c) { c.MandarDatosConfigCalibrado(); }},
    {"sportProfileActive", Field::SportProfileActive, 0, 1, false, Query::GeneralConfig, nullptr,
     nullptr, [](Controller& c) { c.MandarDatosConfigSportActivado(); }},
    {"sportProfileLoaded", Field::SportProfileLoaded, 0, 1, false, Query::GeneralConfig, nullptr,
     nullptr, [](Controller& c) { c.MandarDatosConfigSportCargado(); }},
    {"clutchUpper", Field::ClutchUpper, 0, kPercentMax, false, Query::ClutchZones, "CLUTCH",
     "UPPER DEAD ZONE", [](Controller& c) { c.MandarDatosZonaSuperiorEmbrague(); }},
    {"clutchLower", Field::ClutchLower, 0, kPercentMax, false, Query::ClutchZones, "CLUTCH",
     "LOWER DEAD ZONE", [](Controller& c) { c.MandarDatosZonaInferiorEmbrague(); }},
    {"brakeUpper", Field::BrakeUpper, 0, kPercentMax, false, Query::BrakeZones, "BRAKE",
     "UPPER DEAD ZONE", [](Controller& c) { c.MandarDatosZonaSuperiorFreno(); }},
    {"brakeLower", Field::BrakeLower, 0, kPercentMax, false, Query::BrakeZones, "BRAKE",
     "LOWER DEAD ZONE", [](Controller& c) { c.MandarDatosZonaInferiorFreno(); }},
    {"throttleUpper", Field::ThrottleUpper, 0, kPercentMax, false, Query::ThrottleZones,
     "ACCELERATOR", "UPPER DEAD ZONE", [](Controller& c) { c.MandarDatosZonaSuperiorAcelerador(); }},
    {"throttleLower", Field::ThrottleLower, 0, kPercentMax, false, Query::ThrottleZones,
     "ACCELERATOR", "LOWER DEAD ZONE", [](Controller& c) { c.MandarDatosZonaInferiorAcelerador(); }},
    // The brake maximum is a point of the brake's travel in percent, as the brake upper
    // zone that it becomes after a calibration. No command writes it.
    {"brakeMax", Field::BrakeMax, 0, kPercentMax, false, Query::BrakeMax, "BRAKE", "BRAKE LIMITER",
     nullptr},
    {"brakeRecalPoint", Field::BrakeRecalPoint, 0, kPercentMax, false, std::nullopt, nullptr,
     nullptr, [](Controller& c) { c.RecalibradoFrenoSuperior(); }},
    {"letterAbs", Field::LetterAbs, 0, 4, false, Query::LetterAbs, nullptr, nullptr,
     [](Controller& c) { c.MandarLetraABS(); }},
    {"letterAutoBrake", Field::LetterAutoBrake, 0, 2, false, Query::LetterAutoBrake, nullptr,
     nullptr, [](Controller& c) { c.MandarLetraAutoBreak(); }},
    {"letterMas", Field::LetterMas, 0, 5, false, Query::LetterMas, nullptr, nullptr,
     [](Controller& c) { c.MandarLetraMas(); }},
    {"letterMenos", Field::LetterMenos, 0, 5, false, Query::LetterMenos, nullptr, nullptr,
     [](Controller& c) { c.MandarLetraMenos(); }},
    {"letterMas2", Field::LetterMas2, 0, 5, false, Query::LetterMas2, nullptr, nullptr,
     [](Controller& c) { c.MandarLetraMas2(); }},
    {"letterMenos2", Field::LetterMenos2, 0, 5, false, Query::LetterMenos2, nullptr, nullptr,
     [](Controller& c) { c.MandarLetraMenos2(); }},
    {"autoBrake", Field::AutoBrake, 0, 1, false, Query::AutoBrake, "BRAKE", "AUTO",
     [](Controller& c) { c.state.autoBrake != 0 ? c.ActivarAutoBrake() : c.DesactivarAutoBrake(); }},
    {"autoBrake2", Field::AutoBrake2, 0, 1, false, std::nullopt, nullptr, nullptr,
     [](Controller& c) { c.state.autoBrake2 != 0 ? c.ActivarAutoBrake2() : c.DesactivarAutoBrake2(); }},
    {"cheto", Field::Cheto, 0, kPercentMax, false, Query::Cheto, "BRAKE", "BRAKE STOP",
     [](Controller& c) {
       c.MandarCheto();
       c.MandarChetoActivo();
     }},
    {"chetoActive", Field::ChetoActive, 0, 1, false, Query::ChetoActive, nullptr, nullptr, nullptr},
    {"model", Field::Model, 0, 6, false, Query::Model, nullptr, nullptr,
     [](Controller& c) { c.MandarModelo(); }},
    {"color", Field::Color, 0, 2, false, Query::Color, nullptr, nullptr,
     [](Controller& c) { c.MandarColor(); }},
    {"clutchCurve", Field::ClutchCurve, 0, kPercentMax, true, Query::ClutchCurve, "CLUTCH",
     "CLUTCH_CURVE_%d", [](Controller& c) { c.MandarDatosCurvaEmbrague(); }},
    {"brakeCurve", Field::BrakeCurve, 0, kPercentMax, true, Query::BrakeCurve, "BRAKE",
     "BRAKE_CURVE_%d", [](Controller& c) { c.MandarDatosCurvaFreno(); }},
    {"throttleCurve", Field::ThrottleCurve, 0, kPercentMax, true, Query::ThrottleCurve,
     "ACCELERATOR", "ACCELERATOR_CURVE_%d", [](Controller& c) { c.MandarDatosCurvaAcelerador(); }},
};

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

int settingValue(const ControllerState& s, Field field) {
  switch (field) {
    case Field::ZonesEnabled: return s.zonesEnabled ? 1 : 0;
    case Field::Calibrated: return s.calibrated ? 1 : 0;
    case Field::SportProfileActive: return s.sportProfileActive ? 1 : 0;
    case Field::SportProfileLoaded: return s.sportProfileLoaded ? 1 : 0;
    case Field::ClutchUpper: return s.clutchUpper;
    case Field::ClutchLower: return s.clutchLower;
    case Field::BrakeUpper: return s.brakeUpper;
    case Field::BrakeLower: return s.brakeLower;
    case Field::ThrottleUpper: return s.throttleUpper;
    case Field::ThrottleLower: return s.throttleLower;
    case Field::BrakeMax: return s.brakeMax;
    case Field::BrakeRecalPoint: return s.brakeRecalPoint;
    case Field::LetterAbs: return s.letterAbs;
    case Field::LetterAutoBrake: return s.letterAutoBrake;
    case Field::LetterMas: return s.letterMas;
    case Field::LetterMenos: return s.letterMenos;
    case Field::LetterMas2: return s.letterMas2;
    case Field::LetterMenos2: return s.letterMenos2;
    case Field::AutoBrake: return s.autoBrake;
    case Field::AutoBrake2: return s.autoBrake2;
    case Field::Cheto: return s.cheto;
    case Field::ChetoActive: return s.chetoActive;
    case Field::Model: return s.model;
    case Field::Color: return s.color;
    default: return 0;
  }
}

bool setSetting(ControllerState& s, Field field, int v) {
  const Setting* row = findSetting(field);
  if (row == nullptr || row->curve || v < row->min || v > row->max) return false;
  switch (field) {
    case Field::ZonesEnabled: s.zonesEnabled = v != 0; break;
    case Field::Calibrated: s.calibrated = v != 0; break;
    case Field::SportProfileActive:
      s.sportProfileActive = v != 0;
      s.proProfileActive = v == 0;
      break;
    case Field::SportProfileLoaded: s.sportProfileLoaded = v != 0; break;
    case Field::ClutchUpper: s.clutchUpper = v; break;
    case Field::ClutchLower: s.clutchLower = v; break;
    case Field::BrakeUpper: s.brakeUpper = v; break;
    case Field::BrakeLower: s.brakeLower = v; break;
    case Field::ThrottleUpper: s.throttleUpper = v; break;
    case Field::ThrottleLower: s.throttleLower = v; break;
    case Field::BrakeMax: s.brakeMax = static_cast<int16_t>(v); break;
    case Field::BrakeRecalPoint: s.brakeRecalPoint = v; break;
    case Field::LetterAbs: s.letterAbs = static_cast<uint8_t>(v); break;
    case Field::LetterAutoBrake: s.letterAutoBrake = static_cast<uint8_t>(v); break;
    case Field::LetterMas: s.letterMas = static_cast<uint8_t>(v); break;
    case Field::LetterMenos: s.letterMenos = static_cast<uint8_t>(v); break;
    case Field::LetterMas2: s.letterMas2 = static_cast<uint8_t>(v); break;
    case Field::LetterMenos2: s.letterMenos2 = static_cast<uint8_t>(v); break;
    case Field::AutoBrake: s.autoBrake = v; break;
    case Field::AutoBrake2: s.autoBrake2 = v; break;
    case Field::Cheto:
      s.cheto = v;
      s.chetoActive = v != kPercentMax ? 1 : 0;  // a brake stop of 100 is "off"
      s.markKnown(Field::ChetoActive);
      break;
    case Field::ChetoActive: s.chetoActive = v; break;
    case Field::Model: s.model = v; break;
    case Field::Color: s.color = v; break;
    default: return false;
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
