#include "app/firmware_settings.h"

#include <sys/stat.h>

#include <cstring>

#include "app/profiles.h"
#include "app/startup_reads.h"
#include "link/settings.h"
#include "link/trace.h"

namespace tkb {
namespace {

// One setting the controller stores: how two states differ in it, and how the kept value is
// put back (into the state, then sent with its own sender).
struct KeptSetting {
  const char* name;
  bool (*differs)(const ControllerState&, const ControllerState&);
  void (*restore)(Controller&, const ControllerState& kept);
  bool zone;   // stored by FF F4
  bool curve;  // stored by FF F7
};

#define TKB_DIFFERS(field) [](const ControllerState& a, const ControllerState& b) { return a.field != b.field; }

// In sending order: the brake maximum (C8) also sets the brake upper zone, so it goes first
// and the zone follows it.
const KeptSetting kKeptSettings[] = {
    {"language", TKB_DIFFERS(language), [](Controller& c, const ControllerState& k) { c.state.language = k.language; c.MandarDatosIdioma(); }, false, false},
    {"zonesEnabled", TKB_DIFFERS(zonesEnabled), [](Controller& c, const ControllerState& k) { c.state.zonesEnabled = k.zonesEnabled; c.MandarDatosConfigZonas(); }, false, false},
    {"calibrated", TKB_DIFFERS(calibrated), [](Controller& c, const ControllerState& k) { c.state.calibrated = k.calibrated; c.MandarDatosConfigCalibrado(); }, false, false},
    {"sportProfileActive", TKB_DIFFERS(sportProfileActive), [](Controller& c, const ControllerState& k) {
       c.state.sportProfileActive = k.sportProfileActive;
       c.state.proProfileActive = k.proProfileActive;
       c.MandarDatosConfigSportActivado();
     }, false, false},
    {"sportProfileLoaded", TKB_DIFFERS(sportProfileLoaded), [](Controller& c, const ControllerState& k) { c.state.sportProfileLoaded = k.sportProfileLoaded; c.MandarDatosConfigSportCargado(); }, false, false},
    {"brakeMax", TKB_DIFFERS(brakeMax), [](Controller& c, const ControllerState& k) {
       c.state.brakeMax = k.brakeMax;
       setSetting(c.state, Field::BrakeRecalPoint, k.brakeMax);
       c.RecalibradoFrenoSuperior();
       c.state.brakeUpper = k.brakeUpper;
       c.MandarDatosZonaSuperiorFreno();
     }, true, false},
    {"clutchUpper", TKB_DIFFERS(clutchUpper), [](Controller& c, const ControllerState& k) { c.state.clutchUpper = k.clutchUpper; c.MandarDatosZonaSuperiorEmbrague(); }, true, false},
    {"clutchLower", TKB_DIFFERS(clutchLower), [](Controller& c, const ControllerState& k) { c.state.clutchLower = k.clutchLower; c.MandarDatosZonaInferiorEmbrague(); }, true, false},
    {"brakeUpper", TKB_DIFFERS(brakeUpper), [](Controller& c, const ControllerState& k) { c.state.brakeUpper = k.brakeUpper; c.MandarDatosZonaSuperiorFreno(); }, true, false},
    {"brakeLower", TKB_DIFFERS(brakeLower), [](Controller& c, const ControllerState& k) { c.state.brakeLower = k.brakeLower; c.MandarDatosZonaInferiorFreno(); }, true, false},
    {"throttleUpper", TKB_DIFFERS(throttleUpper), [](Controller& c, const ControllerState& k) { c.state.throttleUpper = k.throttleUpper; c.MandarDatosZonaSuperiorAcelerador(); }, true, false},
    {"throttleLower", TKB_DIFFERS(throttleLower), [](Controller& c, const ControllerState& k) { c.state.throttleLower = k.throttleLower; c.MandarDatosZonaInferiorAcelerador(); }, true, false},
    {"clutchCurve", TKB_DIFFERS(clutchCurve), [](Controller& c, const ControllerState& k) { c.state.clutchCurve = k.clutchCurve; c.MandarDatosCurvaEmbrague(); }, false, true},
    {"brakeCurve", TKB_DIFFERS(brakeCurve), [](Controller& c, const ControllerState& k) { c.state.brakeCurve = k.brakeCurve; c.MandarDatosCurvaFreno(); }, false, true},
    {"throttleCurve", TKB_DIFFERS(throttleCurve), [](Controller& c, const ControllerState& k) { c.state.throttleCurve = k.throttleCurve; c.MandarDatosCurvaAcelerador(); }, false, true},
    {"letterAbs", TKB_DIFFERS(letterAbs), [](Controller& c, const ControllerState& k) { c.state.letterAbs = k.letterAbs; c.MandarLetraABS(); }, false, false},
    {"letterAutoBrake", TKB_DIFFERS(letterAutoBrake), [](Controller& c, const ControllerState& k) { c.state.letterAutoBrake = k.letterAutoBrake; c.MandarLetraAutoBreak(); }, false, false},
    {"letterMas", TKB_DIFFERS(letterMas), [](Controller& c, const ControllerState& k) { c.state.letterMas = k.letterMas; c.MandarLetraMas(); }, false, false},
    {"letterMenos", TKB_DIFFERS(letterMenos), [](Controller& c, const ControllerState& k) { c.state.letterMenos = k.letterMenos; c.MandarLetraMenos(); }, false, false},
    {"letterMas2", TKB_DIFFERS(letterMas2), [](Controller& c, const ControllerState& k) { c.state.letterMas2 = k.letterMas2; c.MandarLetraMas2(); }, false, false},
    {"letterMenos2", TKB_DIFFERS(letterMenos2), [](Controller& c, const ControllerState& k) { c.state.letterMenos2 = k.letterMenos2; c.MandarLetraMenos2(); }, false, false},
    {"autoBrake", TKB_DIFFERS(autoBrake), [](Controller& c, const ControllerState& k) { k.autoBrake != 0 ? c.ActivarAutoBrake() : c.DesactivarAutoBrake(); }, false, false},
    {"cheto", [](const ControllerState& a, const ControllerState& b) { return a.cheto != b.cheto || a.chetoActive != b.chetoActive; },
     [](Controller& c, const ControllerState& k) {
       c.state.cheto = k.cheto;
       c.state.chetoActive = k.chetoActive;
       c.MandarCheto();
       c.MandarChetoActivo();
     }, false, false},
    {"proProfileName", TKB_DIFFERS(proProfileName), [](Controller& c, const ControllerState& k) { c.state.proProfileName = k.proProfileName; c.MandarPerfilPro(); }, false, false},
    {"sportProfileName", TKB_DIFFERS(sportProfileName), [](Controller& c, const ControllerState& k) { c.state.sportProfileName = k.sportProfileName; c.MandarPerfilSport(); }, false, false},
    {"model", TKB_DIFFERS(model), [](Controller& c, const ControllerState& k) { c.state.model = k.model; c.MandarModelo(); }, false, false},
    {"color", TKB_DIFFERS(color), [](Controller& c, const ControllerState& k) { c.state.color = k.color; c.MandarColor(); }, false, false},
};

#undef TKB_DIFFERS

std::string stampText(std::time_t when) {
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d-%H%M%S", std::gmtime(&when));
  return text;
}

}  // namespace

std::vector<std::string> differingSettings(const ControllerState& a, const ControllerState& b) {
  std::vector<std::string> names;
  for (const KeptSetting& s : kKeptSettings)
    if (s.differs(a, b)) names.push_back(s.name);
  return names;
}

ProfileSettingsKeeper::ProfileSettingsKeeper(std::string profileFolder)
    : folder_(std::move(profileFolder)), clock_([] { return std::time(nullptr); }) {}

bool ProfileSettingsKeeper::saveBefore(Controller& controller) {
  trace("\nLeemos la configuracion antes de actualizar");
  if (const ReadReport report = readConfiguration(controller); !report.ok()) {
    trace("\nSin respuesta: %s", report.describe().c_str());
    trace("\nNo se pudo leer la configuracion: the update is not started\n");
    return false;
  }
  before_ = controller.state;
  ::mkdir(folder_.c_str(), 0755);
  saved_ = folder_ + (folder_.empty() || folder_.back() == '/' ? "" : "/") + kBeforeUpdatePrefix +
           stampText(clock_());
  writeProfileFile(saved_ + ".tkb", ProfileKind::Pro, before_);
  writeProfileFile(saved_ + ".tks", ProfileKind::Sport, before_);
  trace("\nConfiguracion guardada en %s.tkb / .tks\n", saved_.c_str());
  return true;
}

std::vector<std::string> ProfileSettingsKeeper::restoreAfter(Controller& controller) {
  trace("\nLeemos la configuracion despues de actualizar");
  // Settings that cannot be read back are sent back all the same: better once too often
  // than a setting lost.
  const bool read = readConfiguration(controller).ok();
  std::vector<const KeptSetting*> lost;
  for (const KeptSetting& s : kKeptSettings)
    if (!read || s.differs(before_, controller.state)) lost.push_back(&s);
  // Every kept value was read before the update; each one is put back into the state just
  // before it is sent, and the rest equal what was read after it.
  controller.state.known.add(before_.known);
  std::vector<std::string> sent;
  bool zones = false, curves = false;
  for (const KeptSetting* s : lost) {
    trace("\nRestauramos %s", s->name);
    s->restore(controller, before_);
    sent.push_back(s->name);
    zones = zones || s->zone;
    curves = curves || s->curve;
  }
  // The controller keeps zones and curves over a power cycle only once they are stored.
  if (zones) controller.SetGuardarZonasPedales();
  if (curves) controller.SetGuardarCurvasPedales();
  if (sent.empty()) trace("\nConfiguracion intacta despues de actualizar\n");
  return sent;
}

}  // namespace tkb
