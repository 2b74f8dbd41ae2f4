#include "app/profiles.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "link/settings.h"
#include "link/trace.h"

namespace tkb {
namespace {

// The seven zone keys in the order the saves write them; sections and keys come from the
// settings table.
constexpr Field kZoneKeys[] = {Field::ThrottleUpper, Field::ThrottleLower, Field::ClutchUpper,
                               Field::ClutchLower,   Field::BrakeUpper,    Field::BrakeMax,
                               Field::BrakeLower};

const Setting& row(Field field) { return *findSetting(field); }

// The brake maximum is 16 bits, written unsigned; a loaded value keeps its low 16 bits.
std::string fileText(const ControllerState& s, Field field) {
  if (field == Field::BrakeMax) return std::to_string(static_cast<uint16_t>(s.brakeMax));
  return std::to_string(settingValue(s, field));
}
int fromFile(Field field, int value) {
  if (field == Field::BrakeMax) return static_cast<int16_t>(static_cast<uint16_t>(value));
  return value;
}

std::string curveKeyName(const Setting& curve, int point) {
  char name[32];
  std::snprintf(name, sizeof name, curve.key, point);
  return name;
}

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// Whether decimalValue finds a number in the text: leading blanks, an optional sign, then at
// least one digit.
bool holdsNumber(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  return i < text.size() && text[i] >= '0' && text[i] <= '9';
}

}  // namespace

ZoneValues zonesOf(const ControllerState& s) {
  ZoneValues zones;
  for (Pedal pedal : kPedals) {
    zones.upper(pedal) = zoneValue(s, pedal, true);
    zones.lower(pedal) = zoneValue(s, pedal, false);
  }
  return zones;
}

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
  setProfileName(state, Field::ProProfileName, kind == ProfileKind::Pro ? own : other);
  setProfileName(state, Field::SportProfileName, kind == ProfileKind::Sport ? own : other);
  controller_.MandarPerfilPro();
  controller_.MandarPerfilSport();
  controller_.SetPerfilSport();
  controller_.SetPerfilPro();
  pages_.setProfileLabel("Profile: " + name);
}

bool Profiles::writeProfile(const std::string& path, ProfileKind kind) {
  if (!writeProfileFile(path, kind, controller_.state)) return false;
  baseline_.take(controller_.state, profileFields(kind));
  return true;
}

std::optional<ProfileKind> profileKindOfPath(const std::string& path) {
  const size_t separator = path.find_last_of("/\\");
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) return std::nullopt;
  std::string extension = path.substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == "tkb") return ProfileKind::Pro;
  if (extension == "tks") return ProfileKind::Sport;
  return std::nullopt;
}

void Profiles::setCurrentProfileName(const std::string& name) {
  std::string kept = name;
  std::erase_if(kept, [](unsigned char c) { return c < 0x20 || c == 0x7F; });
  if (kept.size() > kProfileNameMaxChars) kept.resize(kProfileNameMaxChars);
  perfilActual_ = "\\" + kept;
  pages_.setProfileLabel("Profile: " + currentProfileName());
}

FieldSet profileFields(ProfileKind kind) {
  FieldSet fields;
  for (Field f : kZoneKeys) fields.add(f);
  if (kind == ProfileKind::Sport) {
    fields.add(Field::Cheto);
    fields.add(Field::AutoBrake);
    for (Pedal pedal : kPedals) fields.add(curveSetting(pedal).field);
  }
  return fields;
}

bool writeProfileFile(const std::string& path, ProfileKind kind, const ControllerState& state) {
  // A profile holds what the controller holds: a value the program never learnt has no place
  // in it, and an old file is better left as it was than overwritten with guesses.
  for (const Setting& setting : settingsTable()) {
    if (profileFields(kind).has(setting.field) && !state.isKnown(setting.field)) {
      trace("\nProfile not saved (value unknown: %s) -> %s", setting.name, path.c_str());
      return false;
    }
  }
  std::vector<IniEntry> entries;
  auto add = [&](Field field) {
    entries.push_back({row(field).section, row(field).key, fileText(state, field)});
  };
  for (Field field : kZoneKeys) add(field);
  if (kind == ProfileKind::Sport) {
    add(Field::Cheto);
    add(Field::AutoBrake);
    for (int point = 0; point < kCurvePoints; ++point) {
      for (Pedal pedal : kPedals) {
        const Setting& curve = curveSetting(pedal);
        entries.push_back({curve.section, curveKeyName(curve, point), std::to_string(curveOf(state, pedal)[point])});
      }
    }
  }
  if (AppConfig(path, AppConfig::Locking::None).writeAll(entries)) return true;
  trace("\nProfile not saved -> %s", path.c_str());
  return false;
}

std::string ProfileRefusal::message() const {
  switch (reason) {
    case Reason::NotRegularFile: return "profile not loaded: '" + path + "' is not a regular file";
    case Reason::Unreadable: return "profile not loaded: cannot read '" + path + "'";
    case Reason::Damaged: return "profile not loaded: '" + path + "' is damaged";
    case Reason::OutOfRange:
      return "profile not loaded: [" + section + "] " + key + "=" + value + " is outside " +
             std::to_string(min) + ".." + std::to_string(max);
    case Reason::BadCurve:
      return "profile not loaded: [" + section + "] " + key + "=" + value +
             " breaks the curve (0 first, 100 last, each point above the one before)";
    case Reason::MissingKey: return "profile not loaded: '" + path + "' has no [" + section + "] " + key;
    case Reason::NotANumber: return "profile not loaded: [" + section + "] " + key + "=" + value + " is not a number";
  }
  return "profile not loaded";
}

std::optional<ProfileRefusal> readProfileFile(const std::string& path, ProfileKind kind,
                                              ControllerState& into) {
  ProfileRefusal refusal;
  refusal.path = path;
  AppConfig::ReadStatus status = AppConfig::ReadStatus::Ok;
  const IniValues file = AppConfig(path, AppConfig::Locking::None).load(status);
  switch (status) {
    case AppConfig::ReadStatus::Ok: break;
    case AppConfig::ReadStatus::NotRegular: refusal.reason = ProfileRefusal::Reason::NotRegularFile; return refusal;
    case AppConfig::ReadStatus::Missing:
    case AppConfig::ReadStatus::Unreadable: refusal.reason = ProfileRefusal::Reason::Unreadable; return refusal;
    case AppConfig::ReadStatus::Damaged: refusal.reason = ProfileRefusal::Reason::Damaged; return refusal;
  }
  ControllerState next = into;
  // Every key the save of this kind writes is there and holds a number: the reader's 0 for a
  // missing key or a value without digits never becomes a value the pedals are sent.
  std::string text;
  auto found = [&](const char* section, const std::string& key, std::size_t buffer) {
    if (!file.has(section, key)) {
      refusal = {ProfileRefusal::Reason::MissingKey, path, section, key, "", 0, 0};
      return false;
    }
    text = file.readText(section, key, "", buffer);
    if (holdsNumber(text)) return true;
    refusal = {ProfileRefusal::Reason::NotANumber, path, section, key, text, 0, 0};
    return false;
  };
  auto take = [&](Field field) {
    const Setting& setting = row(field);
    if (!found(setting.section, setting.key, kProfileValueBufferChars)) return false;
    if (setSetting(next, field, fromFile(field, decimalValue(text)))) return true;
    refusal = {ProfileRefusal::Reason::OutOfRange, path, setting.section, setting.key, text,
               setting.min, setting.max};
    return false;
  };
  for (Field field : kZoneKeys)
    if (!take(field)) return refusal;
  // A PRO file holds no brake stop: the brake stop stays as it was (read as 0 it would stop
  // the brake at no travel at all in CUSTOM mode). A sport file opened here gives its own.
  const Setting& brakeStop = row(Field::Cheto);
  if ((kind == ProfileKind::Sport || file.has(brakeStop.section, brakeStop.key)) && !take(Field::Cheto))
    return refusal;
  if (kind == ProfileKind::Sport) {
    if (!take(Field::AutoBrake)) return refusal;
    for (Pedal pedal : kPedals) {
      const Setting& row = curveSetting(pedal);
      Curve curve{};
      for (int point = 0; point < kCurvePoints; ++point) {
        // The charts hold 16-bit points.
        const std::string name = curveKeyName(row, point);
        if (!found(row.section, name, kProfileCurveBufferChars)) return refusal;
        curve[point] = static_cast<int16_t>(decimalValue(text));
        if (!inRange(row.field, curve[point])) {
          refusal = {ProfileRefusal::Reason::OutOfRange, path, row.section, name, text, row.min, row.max};
          return refusal;
        }
        if ((point == 0 && curve[0] != 0) || (point > 0 && curve[point] <= curve[point - 1]) ||
            (point == kCurvePoints - 1 && curve[point] != row.max)) {
          refusal = {ProfileRefusal::Reason::BadCurve, path, row.section, name, text, 0, 0};
          return refusal;
        }
      }
      setCurve(next, row.field, curve);
    }
  }
  into = std::move(next);
  return std::nullopt;
}

bool Profiles::save(ProfileKind kind, const std::optional<std::string>& path) {
  const bool sport = kind == ProfileKind::Sport;
  trace(sport ? "\nGuardar button pressed SPORT -- Inicio\n" : "\nGuardar zones PRO pressed - Inicio");
  ensureSettingsFolder(sport ? firstSportSave_ : firstProSave_);
  bool saved = true;
  if (path) {
    // Saving brings the state's curves into line with the charts.
    if (sport)
      for (Pedal pedal : kPedals) setCurve(controller_.state, curveSetting(pedal).field, pages_.chartPoints(pedal));
    saved = writeProfile(*path, kind);
    if (saved) {
      applyNaming(kind, NombreDePerfil(*path));
      if (sport) pages_.showSaved(kind);
      pages_.fileUsed(kind, *path);
    }
  }
  trace(sport ? "\nGuardar button pressed SPORT -- Final\n" : "\nGuardar zones PRO pressed - Final\n");
  return saved;
}

namespace {
std::optional<ProfileRefusal> refuse(const ProfileRefusal& refusal, const char* closingTrace) {
  trace("\n%s", refusal.message().c_str());
  trace("%s", closingTrace);
  return refusal;
}
}  // namespace

std::optional<ProfileRefusal> Profiles::load(ProfileKind kind, std::optional<std::string> path, bool askDialog) {
  const bool sport = kind == ProfileKind::Sport;
  trace(sport ? "\nCargar button pressed SPORT -- Inicio\n" : "\nCargar zones PRO pressed - Inicio");
  if (askDialog) path = chooser_.choose(profileDialogRequest(kind, false));
  auto refusal = sport ? loadSport(path) : loadPro(path);
  // The driver's own loads make the recent profiles; a game's profile does not.
  if (path && !refusal) pages_.fileUsed(kind, *path);
  return refusal;
}

std::optional<ProfileRefusal> Profiles::loadFile(const std::string& path) {
  const auto kind = profileKindOfPath(path);
  if (!kind) {
    ProfileRefusal refusal;
    refusal.reason = ProfileRefusal::Reason::Unreadable;
    refusal.path = path;
    trace("\nNot a profile file (.tkb or .tks), not loaded -> %s", path.c_str());
    return refusal;
  }
  if (*kind == ProfileKind::Pro) {
    trace("\nCargar zones PRO pressed - Inicio");
    return loadPro(path);
  }
  trace("\nCargar button pressed SPORT -- Inicio\n");
  return loadSport(path);
}

std::optional<ProfileRefusal> Profiles::loadPro(const std::optional<std::string>& path) {
  constexpr const char* kClosing = "\nCargar zones PRO pressed - Final\n";
  if (path) {
    ControllerState& state = controller_.state;
    ControllerState loaded = state;
    if (auto refusal = readProfileFile(*path, ProfileKind::Pro, loaded)) return refuse(*refusal, kClosing);
    const std::string name = NombreDePerfil(*path, false);
    trace("\nFin -> %s", name.c_str());
    applyNaming(ProfileKind::Pro, name);
    loaded.proProfileName = state.proProfileName;
    loaded.sportProfileName = state.sportProfileName;
    loaded.known.add(state.known);
    state = loaded;
    ZoneValues shown = zonesOf(state);
    if (state.brakeMax == 0) shown.upper(Pedal::Brake) = 0;
    ops_.setZones(ZonePage::Pro, shown.values);
    sendCustomZones();
    baseline_.take(state, profileFields(ProfileKind::Pro));
    pages_.showLoad(ProfileKind::Pro, true);
  }
  trace("%s", kClosing);
  return std::nullopt;
}

std::optional<ProfileRefusal> Profiles::loadSport(const std::optional<std::string>& path) {
  constexpr const char* kClosing = "\nCargar button pressed SPORT -- Final\n";
  ControllerState& state = controller_.state;
  const bool loadedFile = path.has_value();
  if (path) {
    ControllerState loaded = state;
    if (auto refusal = readProfileFile(*path, ProfileKind::Sport, loaded)) return refuse(*refusal, kClosing);
    // The name goes to the controller only; PerfilActual keeps the last PRO or save name.
    const std::string name = profileNameFromPath(*path).name;
    applyNaming(ProfileKind::Sport, name);
    loaded.proProfileName = state.proProfileName;
    loaded.sportProfileName = state.sportProfileName;
    const FieldSet before = state.known;
    state = loaded;
    state.known.add(before);

    ops_.setAutoBrake(state.autoBrake != 0);
    const bool customWasActive = state.sportProfileActive;
    sendCustomZones();
    ops_.setZones(ZonePage::Pro, zonesOf(state).values);
    // The CUSTOM page sends its brake stop only while CUSTOM is active; the load is about
    // to make it active, and it must not run with the controller's old brake stop.
    if (!customWasActive) findSetting(Field::Cheto)->send(controller_);
  }
  // Loaded or not, the load leaves the controller in CUSTOM mode with the curves sent.
  ops_.activateCustom();
  if (loadedFile) baseline_.take(state);
  pages_.showLoad(ProfileKind::Sport, loadedFile);
  trace("%s", kClosing);
  return std::nullopt;
}

void Profiles::sendCustomZones() {
  const ControllerState& state = controller_.state;
  if (!state.sportProfileActive) return;
  ops_.setZones(ZonePage::Custom, zonesOf(state).values);
  // A brake stop the controller never reported is not made up.
  if (state.isKnown(Field::Cheto)) ops_.setBrakeStop(state.cheto);
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
