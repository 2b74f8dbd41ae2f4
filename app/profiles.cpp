#include "app/profiles.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "link/trace.h"

namespace tkb {
namespace {

// One value key of a profile file and the state field behind it.
struct ValueKey {
  const char* section;
  const char* key;
  int (*get)(const ControllerState&);
  void (*set)(ControllerState&, int);
};

// The seven zone keys in the order the saves write them.
const ValueKey kZoneKeys[] = {
    {"ACCELERATOR", "UPPER DEAD ZONE", [](const ControllerState& s) { return s.throttleUpper; },
     [](ControllerState& s, int v) { s.throttleUpper = v; }},
    {"ACCELERATOR", "LOWER DEAD ZONE", [](const ControllerState& s) { return s.throttleLower; },
     [](ControllerState& s, int v) { s.throttleLower = v; }},
    {"CLUTCH", "UPPER DEAD ZONE", [](const ControllerState& s) { return s.clutchUpper; },
     [](ControllerState& s, int v) { s.clutchUpper = v; }},
    {"CLUTCH", "LOWER DEAD ZONE", [](const ControllerState& s) { return s.clutchLower; },
     [](ControllerState& s, int v) { s.clutchLower = v; }},
    {"BRAKE", "UPPER DEAD ZONE", [](const ControllerState& s) { return s.brakeUpper; },
     [](ControllerState& s, int v) { s.brakeUpper = v; }},
    // The brake maximum is 16 bits, written unsigned; a loaded value keeps its low 16 bits.
    {"BRAKE", "BRAKE LIMITER",
     [](const ControllerState& s) { return static_cast<int>(static_cast<uint16_t>(s.brakeMax)); },
     [](ControllerState& s, int v) { s.brakeMax = static_cast<int16_t>(static_cast<uint16_t>(v)); }},
    {"BRAKE", "LOWER DEAD ZONE", [](const ControllerState& s) { return s.brakeLower; },
     [](ControllerState& s, int v) { s.brakeLower = v; }},
};

const ValueKey kBrakeStopKey = {"BRAKE", "BRAKE STOP", [](const ControllerState& s) { return s.cheto; },
                                [](ControllerState& s, int v) { s.cheto = v; }};
const ValueKey kAutoBrakeKey = {"BRAKE", "AUTO", [](const ControllerState& s) { return s.autoBrake; },
                                [](ControllerState& s, int v) { s.autoBrake = v; }};

struct CurveKey {
  CurvePedal pedal;
  const char* section;
  const char* format;
};
// Per point index, in this order.
const CurveKey kCurveKeys[] = {
    {CurvePedal::Clutch, "CLUTCH", "CLUTCH_CURVE_%d"},
    {CurvePedal::Brake, "BRAKE", "BRAKE_CURVE_%d"},
    {CurvePedal::Throttle, "ACCELERATOR", "ACCELERATOR_CURVE_%d"},
};

constexpr int kBrakeStopInactive = 100;

std::string curveKeyName(const CurveKey& key, int point) {
  char name[32];
  std::snprintf(name, sizeof name, key.format, point);
  return name;
}

Curve& stateCurve(ControllerState& state, CurvePedal pedal) {
  switch (pedal) {
    case CurvePedal::Clutch: return state.clutchCurve;
    case CurvePedal::Brake: return state.brakeCurve;
    case CurvePedal::Throttle: break;
  }
  return state.throttleCurve;
}

const Curve& stateCurve(const ControllerState& state, CurvePedal pedal) {
  return stateCurve(const_cast<ControllerState&>(state), pedal);
}

ZoneValues zonesOf(const ControllerState& s) {
  return {s.clutchUpper, s.clutchLower, s.brakeUpper, s.brakeLower, s.throttleUpper, s.throttleLower};
}

bool isSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace

std::string FileDialogRequest::nameFilters() const {
  return filterName + " (" + pattern + ");;All (*.*)";
}

FileDialogRequest profileDialogRequest(ProfileKind kind, bool save) {
  FileDialogRequest request;
  request.save = save;
  request.filterName = kind == ProfileKind::Pro ? "TKB Pro Profile" : "TKB Sport Profile";
  request.pattern = kind == ProfileKind::Pro ? "*.tkb" : "*.tks";
  request.initialFolder = kProfileFolder;
  if (save) request.defaultSuffix = kind == ProfileKind::Pro ? "tkb" : "tks";
  return request;
}

ProfilePathName profileNameFromPath(const std::string& path) {
  ProfilePathName result;
  size_t start = path.size();
  while (start > 0 && !isSeparator(path[start - 1])) --start;
  result.fromSeparator = start > 0 ? path.substr(start - 1) : path;
  const std::string component = path.substr(start);
  result.name = component.substr(0, component.find('.'));
  // A file name may hold line breaks and other control bytes; the name goes into config.ini
  // and to the controller, where they have no place.
  std::erase_if(result.name, [](unsigned char c) { return c < 0x20 || c == 0x7F; });
  if (result.name.size() > kProfileNameMaxChars) result.name.resize(kProfileNameMaxChars);
  result.perfil = "\\" + result.name;
  return result;
}

void sendCurve(Controller& controller, CurvePedal pedal) {
  switch (pedal) {
    case CurvePedal::Clutch: controller.MandarDatosCurvaEmbrague(); return;
    case CurvePedal::Brake: controller.MandarDatosCurvaFreno(); return;
    case CurvePedal::Throttle: controller.MandarDatosCurvaAcelerador(); return;
  }
}

namespace {
void activateCustomFlags(Controller& controller) {
  controller.state.zonesEnabled = true;
  controller.state.proProfileActive = false;
  controller.state.sportProfileActive = true;
  controller.MandarDatosConfigZonas();
  controller.MandarDatosConfigSportActivado();
}
}  // namespace

void activateCustomMode(Controller& controller) {
  activateCustomFlags(controller);
  for (const CurveKey& key : kCurveKeys) sendCurve(controller, key.pedal);
}

void activateCustomMode(Controller& controller, CurvePedal onlyCurve) {
  activateCustomFlags(controller);
  sendCurve(controller, onlyCurve);
}

std::string Profiles::NombreDePerfil(const std::string& path, bool withTrace) {
  const ProfilePathName parts = profileNameFromPath(path);
  perfilActual_ = parts.perfil;
  if (withTrace) {
    trace("\nOrig-> %s", path.c_str());
    trace("\n1 Proc-> %s", parts.fromSeparator.c_str());
    trace("\nPre fin -> %s", perfilActual_.c_str());
    trace("\nFin -> %s", parts.name.c_str());
  }
  return parts.name;
}

void Profiles::ensureSettingsFolder(bool& firstSave) {
  if (!firstSave) return;
  firstSave = false;
  if (::mkdir(kSettingsFolder, 0755) == 0) {
    trace("Directory created\n");
  } else {
    trace("Unable to create directory %d\n", 0);
  }
}

void Profiles::applyNaming(ProfileKind kind, const std::string& name) {
  ControllerState& state = controller_.state;
  const ProfileName own = makeProfileName(name);
  const ProfileName other = makeProfileName(kDefaultProfileName);
  state.proProfileName = kind == ProfileKind::Pro ? own : other;
  state.sportProfileName = kind == ProfileKind::Sport ? own : other;
  controller_.MandarPerfilPro();
  controller_.MandarPerfilSport();
  controller_.SetPerfilSport();
  controller_.SetPerfilPro();
  pages_.setProfileLabel("Profile: " + name);
}

bool Profiles::writeProfile(const std::string& path, ProfileKind kind) {
  return writeProfileFile(path, kind, controller_.state);
}

bool writeProfileFile(const std::string& path, ProfileKind kind, const ControllerState& state) {
  std::vector<IniEntry> entries;
  auto add = [&](const ValueKey& key) {
    entries.push_back({key.section, key.key, std::to_string(key.get(state))});
  };
  for (const ValueKey& key : kZoneKeys) add(key);
  if (kind == ProfileKind::Sport) {
    add(kBrakeStopKey);
    add(kAutoBrakeKey);
    for (int point = 0; point < kCurvePoints; ++point) {
      for (const CurveKey& key : kCurveKeys) {
        entries.push_back({key.section, curveKeyName(key, point),
                           std::to_string(stateCurve(state, key.pedal)[point])});
      }
    }
  }
  if (AppConfig(path, AppConfig::Locking::None).writeAll(entries)) return true;
  trace("\nProfile not saved -> %s", path.c_str());
  return false;
}

IniValues Profiles::readProfile(const std::string& path) {
  return AppConfig(path, AppConfig::Locking::None).load();
}

namespace {
int readValue(const IniValues& file, const char* section, const std::string& key, std::size_t buffer) {
  return decimalValue(file.readText(section, key, "0", buffer));
}
}  // namespace

void Profiles::readZones(const IniValues& file) {
  for (const ValueKey& key : kZoneKeys)
    key.set(controller_.state, readValue(file, key.section, key.key, kProfileValueBufferChars));
  kBrakeStopKey.set(controller_.state,
                    readValue(file, kBrakeStopKey.section, kBrakeStopKey.key, kProfileValueBufferChars));
}

bool Profiles::GuardarPerfilPro() {
  trace("\nGuardar zones PRO pressed - Inicio");
  ensureSettingsFolder(firstProSave_);
  bool saved = true;
  if (const auto path = chooser_.choose(profileDialogRequest(ProfileKind::Pro, true))) {
    saved = writeProfile(*path, ProfileKind::Pro);
    if (saved) applyNaming(ProfileKind::Pro, NombreDePerfil(*path));
  }
  trace("\nGuardar zones PRO pressed - Final\n");
  return saved;
}

bool Profiles::GuardarPerfilSport() {
  trace("\nGuardar button pressed SPORT -- Inicio\n");
  ensureSettingsFolder(firstSportSave_);
  bool saved = true;
  if (const auto path = chooser_.choose(profileDialogRequest(ProfileKind::Sport, true))) {
    // Saving brings the state's curves into line with the charts.
    for (const CurveKey& key : kCurveKeys) stateCurve(controller_.state, key.pedal) = pages_.chartPoints(key.pedal);
    saved = writeProfile(*path, ProfileKind::Sport);
    if (saved) applyNaming(ProfileKind::Sport, NombreDePerfil(*path));
  }
  trace("\nGuardar button pressed SPORT -- Final\n");
  return saved;
}

void Profiles::CargarPerfilPro() {
  trace("\nCargar zones PRO pressed - Inicio");
  if (const auto path = chooser_.choose(profileDialogRequest(ProfileKind::Pro, false))) {
    const std::string name = NombreDePerfil(*path, false);
    trace("\nFin -> %s", name.c_str());
    applyNaming(ProfileKind::Pro, name);
    ControllerState& state = controller_.state;
    const IniValues file = readProfile(*path);
    const int brakeStop = state.cheto;
    readZones(file);
    // A PRO file holds no brake stop: the brake stop stays as it was (read as 0 it would
    // stop the brake at no travel at all in CUSTOM mode). A sport file opened here gives
    // its own.
    if (file.readText(kBrakeStopKey.section, kBrakeStopKey.key, "").empty()) state.cheto = brakeStop;
    ZoneValues shown = zonesOf(state);
    if (state.brakeMax == 0) shown.brakeUpper = 0;
    pages_.showProZones(shown);
    pages_.showCustomZones(zonesOf(state), state.cheto);
  }
  trace("\nCargar zones PRO pressed - Final\n");
}

void Profiles::CargarPerfilSport() {
  trace("\nCargar button pressed SPORT -- Inicio\n");
  ControllerState& state = controller_.state;
  if (const auto path = chooser_.choose(profileDialogRequest(ProfileKind::Sport, false))) {
    // The name goes to the controller only; PerfilActual keeps the last PRO or save name.
    const std::string name = profileNameFromPath(*path).name;
    applyNaming(ProfileKind::Sport, name);
    const IniValues file = readProfile(*path);
    readZones(file);
    kAutoBrakeKey.set(state, readValue(file, kAutoBrakeKey.section, kAutoBrakeKey.key,
                                       kProfileValueBufferChars));
    state.chetoActive = state.cheto != kBrakeStopInactive ? 1 : 0;

    const bool autoBrakeOn = state.autoBrake != 0;
    pages_.setAutoBrakeSwitches(autoBrakeOn);
    autoBrakeOn ? controller_.ActivarAutoBrake() : controller_.DesactivarAutoBrake();

    // The charts hold 16-bit points.
    Curve curves[3]{};
    for (int point = 0; point < kCurvePoints; ++point) {
      for (size_t i = 0; i < std::size(kCurveKeys); ++i) {
        const CurveKey& key = kCurveKeys[i];
        curves[i][point] = static_cast<int16_t>(
            readValue(file, key.section, curveKeyName(key, point), kProfileCurveBufferChars));
      }
    }
    for (size_t i = 0; i < std::size(kCurveKeys); ++i) pages_.setChartPoints(kCurveKeys[i].pedal, curves[i]);

    const bool customWasActive = state.sportProfileActive;
    pages_.showCustomZones(zonesOf(state), state.cheto);
    pages_.showProZones(zonesOf(state));
    pages_.moveCustomMarkers(zonesOf(state), state.cheto);
    for (size_t i = 0; i < std::size(kCurveKeys); ++i) stateCurve(state, kCurveKeys[i].pedal) = curves[i];

    // The CUSTOM page sends its brake stop only while CUSTOM is active; the load is about
    // to make it active, and it must not run with the controller's old brake stop.
    if (!customWasActive) {
      state.cheto = std::clamp(state.cheto, 0, kBrakeStopInactive);  // the spin box's range
      state.chetoActive = state.cheto != kBrakeStopInactive ? 1 : 0;
      controller_.MandarCheto();
      controller_.MandarChetoActivo();
    }
  }
  // Loaded or not, the load leaves the controller in CUSTOM mode with the curves sent.
  activateCustomMode(controller_);
  pages_.showCustomModeActive(state.chetoActive != 0);
  trace("\nCargar button pressed SPORT -- Final\n");
}

void Profiles::recordActiveProfile(const std::string& basePath) const {
  const std::string name = currentProfileName();
  trace("\nPre guardado -> %s", perfilActual_.c_str());
  trace("\nDonde se guardara -> %s/opt/config.ini", basePath.c_str());
  trace("\nLo que se guardara -> %s", name.c_str());
  const IniEntry entries[] = {{"GENERAL", "file", name}, {"GENERAL", "mod", "0"}};
  AppConfig(basePath + "/opt/config.ini").writeAll(entries);
}

void recordDefaultProfile(const std::string& basePath) {
  const IniEntry entries[] = {{"GENERAL", "file", kDefaultProfileName}, {"GENERAL", "mod", "0"}};
  AppConfig(basePath + "/opt/config.ini").writeAll(entries);
}

}  // namespace tkb
