#include "app/firmware_settings.h"

#include <sys/stat.h>

#include <cstring>

#include "app/profiles.h"
#include "app/startup_reads.h"
#include "link/settings.h"
#include "link/trace.h"

namespace tkb {
namespace {

// What a firmware update sends back: the language, every row of the settings table marked
// restored (in table order), and the two profile names before the model and colour, as the
// controller was always given them.
struct KeptSetting {
  const char* name;
  const Setting* row;  // nullptr: the language or a profile name
  Field field;
};

std::vector<KeptSetting> keptSettings() {
  std::vector<KeptSetting> kept{{"language", nullptr, Field::Language}};
  for (const Setting& row : settingsTable()) {
    if (!row.restored) continue;
    if (row.role == Role::Device && kept.back().row != nullptr && kept.back().row->role != Role::Device) {
      kept.push_back({"proProfileName", nullptr, Field::ProProfileName});
      kept.push_back({"sportProfileName", nullptr, Field::SportProfileName});
    }
    kept.push_back({row.name, &row, row.field});
  }
  return kept;
}

bool differs(const KeptSetting& s, const ControllerState& a, const ControllerState& b) {
  switch (s.field) {
    case Field::Language: return a.language != b.language;
    case Field::ProProfileName: return a.proProfileName != b.proProfileName;
    case Field::SportProfileName: return a.sportProfileName != b.sportProfileName;
    // The flag is the controller's own and is kept as it was, with the brake stop.
    case Field::Cheto: return a.cheto != b.cheto || a.chetoActive != b.chetoActive;
    default: break;
  }
  if (s.row->curve) return curveOf(a, s.field) != curveOf(b, s.field);
  return s.row->get(a) != s.row->get(b);
}

// The kept value goes into the state just before it is sent.
void restore(const KeptSetting& s, Controller& c, const ControllerState& k) {
  switch (s.field) {
    case Field::Language: c.state.language = k.language; c.MandarDatosIdioma(); return;
    case Field::ProProfileName: c.state.proProfileName = k.proProfileName; c.MandarPerfilPro(); return;
    case Field::SportProfileName: c.state.sportProfileName = k.sportProfileName; c.MandarPerfilSport(); return;
    case Field::BrakeMax:
      // No command writes the brake maximum: the brake recalibration to that point sets it,
      // and with it the brake upper zone, which then gets its own value back.
      c.state.brakeMax = k.brakeMax;
      setSetting(c.state, Field::BrakeRecalPoint, k.brakeMax);
      c.RecalibradoFrenoSuperior();
      c.state.brakeUpper = k.brakeUpper;
      c.MandarDatosZonaSuperiorFreno();
      return;
    case Field::Cheto: c.state.chetoActive = k.chetoActive; break;
    default: break;
  }
  if (s.row->curve) {
    curveOf(c.state, s.field) = curveOf(k, s.field);
  } else {
    s.row->put(c.state, s.row->get(k));
  }
  s.row->send(c);
}

// The controller keeps zones (FF F4) and curves (FF F7) over a power cycle only once stored.
bool storedByZoneSave(const KeptSetting& s) {
  return s.row != nullptr && (s.row->role == Role::UpperZone || s.row->role == Role::LowerZone ||
                              s.row->role == Role::BrakeMax);
}
bool storedByCurveSave(const KeptSetting& s) { return s.row != nullptr && s.row->curve; }

std::string stampText(std::time_t when) {
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d-%H%M%S", std::gmtime(&when));
  return text;
}

}  // namespace

std::vector<std::string> differingSettings(const ControllerState& a, const ControllerState& b) {
  std::vector<std::string> names;
  for (const KeptSetting& s : keptSettings())
    if (differs(s, a, b)) names.push_back(s.name);
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
  const std::vector<KeptSetting> kept = keptSettings();
  std::vector<const KeptSetting*> lost;
  for (const KeptSetting& s : kept)
    if (!read || differs(s, before_, controller.state)) lost.push_back(&s);
  // Every kept value was read before the update; each one is put back into the state just
  // before it is sent, and the rest equal what was read after it.
  controller.state.known.add(before_.known);
  std::vector<std::string> sent;
  bool zones = false, curves = false;
  for (const KeptSetting* s : lost) {
    trace("\nRestauramos %s", s->name);
    restore(*s, controller, before_);
    sent.push_back(s->name);
    zones = zones || storedByZoneSave(*s);
    curves = curves || storedByCurveSave(*s);
  }
  // The controller keeps zones and curves over a power cycle only once they are stored.
  if (zones) controller.SetGuardarZonasPedales();
  if (curves) controller.SetGuardarCurvasPedales();
  if (sent.empty()) trace("\nConfiguracion intacta despues de actualizar\n");
  return sent;
}

}  // namespace tkb
