// Profile files: the PRO profile (*.tkb: dead zones and brake limiter) and the sport
// profile (*.tks: the same plus brake stop, auto-brake and the three response curves),
// saved and loaded from the PRO and CUSTOM pages and by tkb-cli. Each save and load also
// names the profile, sends both profile names to the controller and marks both profiles
// as set there; a load sends what it changed as the pages send it. No Qt here: the file
// dialog and the pages are reached through the two interfaces below, which the GUI
// implements (tests and tkb-cli give their own).
#pragma once

#include <optional>
#include <string>

#include "app/app_config.h"
#include "app/operations.h"
#include "app/profile_snapshot.h"
#include "link/controller.h"
#include "link/settings.h"

namespace tkb {

enum class ProfileKind { Pro, Sport };

inline constexpr const char* kProfileFolder = "./tkb/";
inline constexpr std::size_t kProfileValueBufferChars = 20;  // value keys: 19 characters read
inline constexpr std::size_t kProfileCurveBufferChars = 10;  // curve keys: 9 characters read
inline constexpr std::size_t kProfileNameMaxChars = 48;      // longer names are cut
inline constexpr const char* kDefaultProfileName = "Default";
inline constexpr const char* kSettingsFolder = "opt";

// What the modal file dialog is to show. The GUI builds a QFileDialog from it: accept mode
// save or open, name filters nameFilters(), directory initialFolder, default suffix
// defaultSuffix (empty: none), and for an open dialog only existing files.
struct FileDialogRequest {
  bool save = false;
  std::string filterName;     // "TKB Pro Profile" / "TKB Sport Profile"
  std::string pattern;        // "*.tkb" / "*.tks"
  std::string initialFolder;  // "./tkb/"
  std::string defaultSuffix;  // "tkb" / "tks" on save, empty on load

  // "TKB Pro Profile (*.tkb);;All (*.*)", the QFileDialog filter string.
  std::string nameFilters() const;
};

FileDialogRequest profileDialogRequest(ProfileKind kind, bool save);

class ProfileFileChooser {
 public:
  virtual ~ProfileFileChooser() = default;
  // Runs the modal dialog; the chosen full path, or nothing when the user cancelled.
  virtual std::optional<std::string> choose(const FileDialogRequest& request) = 0;
};

// For front ends that choose the file before the operation (tkb-cli names it, the window asks
// its dialog before the action): the operations ask no dialog of their own.
class NoProfileDialog : public ProfileFileChooser {
 public:
  std::optional<std::string> choose(const FileDialogRequest&) override { return std::nullopt; }
};

// The six dead zones, by pedal (0 clutch, 1 brake, 2 throttle): upper, lower.
struct ZoneValues {
  std::array<std::array<int, 2>, kPedalCount> values{};
  int upper(Pedal pedal) const { return values[pedalIndex(pedal)][0]; }
  int lower(Pedal pedal) const { return values[pedalIndex(pedal)][1]; }
  int& upper(Pedal pedal) { return values[pedalIndex(pedal)][0]; }
  int& lower(Pedal pedal) { return values[pedalIndex(pedal)][1]; }
  int of(Pedal pedal, bool isUpper) const { return isUpper ? upper(pedal) : lower(pedal); }
};
// The state's six zones.
ZoneValues zonesOf(const ControllerState& state);

// What the pages show of a save or load. Called on the GUI thread, inside the operation;
// none of them sends anything.
class ProfilePages {
 public:
  virtual ~ProfilePages() = default;
  // The main page's profile label, text "Profile: <name>" (the name may be empty).
  virtual void setProfileLabel(const std::string& text) = 0;
  // A load is over and everything it sent is in the state: the pages show the state's
  // zones and brake stop; after a sport load also the auto-brake switches and the curves,
  // and CUSTOM as the active mode. A sport load whose dialog was cancelled (loaded false)
  // still made CUSTOM the active mode.
  virtual void showLoad(ProfileKind kind, bool loaded) = 0;
  // The eleven points of a CUSTOM page curve chart: what a sport save writes.
  virtual Curve chartPoints(Pedal pedal) const = 0;
  // A profile file was written (nothing is told when the dialog was cancelled).
  virtual void showSaved(ProfileKind) {}
  // The file a save wrote or a LOAD took, as the dialog gave it (a refused or cancelled one
  // is not told, nor a file the program loads by itself through loadFile).
  virtual void fileUsed(ProfileKind, const std::string& /*path*/) {}
};

// What the name of a chosen path is: the last component up to its first dot (all of it
// when it has none), at most 48 characters, without control bytes (a line break in a file name
// must not reach config.ini nor the controller). Both separators count, '/' and '\'.
struct ProfilePathName {
  std::string fromSeparator;  // the path from its last separator on ("\1 Proc" trace)
  std::string perfil;         // '\' and the name: the form PerfilActual keeps
  std::string name;
};
ProfilePathName profileNameFromPath(const std::string& path);

// Why a profile file was not loaded. A file is loaded whole or not at all: nothing is sent
// for a file that is not a regular file, cannot be read, is damaged, lacks a key that the save
// of its kind writes, holds a value without a number (the reading takes leading blanks, an
// optional sign and the digits up to the first other character: "12abc" is 12, "abc" and an
// empty value are none), or a value outside its setting's range (after the file's own
// conversions: a brake limiter keeps its low 16 bits, curve points are 16-bit) or a curve
// the editor could not have made.
struct ProfileRefusal {
  enum class Reason { NotRegularFile, Unreadable, Damaged, OutOfRange, BadCurve, MissingKey, NotANumber };
  Reason reason = Reason::Unreadable;
  std::string path;
  std::string section, key, value;  // the first key at fault, the value as written
  int min = 0, max = 0;             // OutOfRange: the setting's range
  // One line in English, e.g. "profile not loaded: [BRAKE] UPPER DEAD ZONE=101 is outside
  // 0..100". The window shows its own translation built from the fields above.
  std::string message() const;
};

// Reads a profile file of a kind and checks every value a load would take from it. On
// success `into` holds the state with the file's values stored (and marked known).
std::optional<ProfileRefusal> readProfileFile(const std::string& path, ProfileKind kind,
                                              ControllerState& into);

// The settings a profile of a kind holds; a save writes nothing while any is unknown.
FieldSet profileFields(ProfileKind kind);

// The kind of a profile file by its extension, without regard to case: ".tkb" PRO, ".tks"
// sport; none for any other name.
std::optional<ProfileKind> profileKindOfPath(const std::string& path);

class Profiles {
 public:
  Profiles(Controller& controller, ProfileFileChooser& chooser, ProfilePages& pages)
      : controller_(controller), ops_(controller), chooser_(chooser), pages_(pages) {}

  // The four button operations. Each brackets its work with its trace lines. A cancelled
  // dialog is not an error to the user.
  // A save returns false when the chosen file was not written (read-only, its folder
  // refused it, or a value it would hold is unknown); the profile is then not named after it.
  // A load sends the zones as the PRO page does (each one, clamped to 0..100; the brake
  // upper zone 0 while the brake limiter is 0) and, while CUSTOM is active, as the CUSTOM
  // page does with its brake stop; a sport load first sends the auto-brake, and ends with
  // the brake stop (unless CUSTOM was active) and CUSTOM made active with the curves, even
  // when the dialog was cancelled. A load returns why it refused the chosen file: nothing
  // was sent (not even the CUSTOM activation of the sport load), nothing named, the state
  // is as it was.
  bool GuardarPerfilPro() { return save(ProfileKind::Pro, chooser_.choose(profileDialogRequest(ProfileKind::Pro, true))); }
  std::optional<ProfileRefusal> CargarPerfilPro() { return load(ProfileKind::Pro, std::nullopt, true); }
  bool GuardarPerfilSport() {
    return save(ProfileKind::Sport, chooser_.choose(profileDialogRequest(ProfileKind::Sport, true)));
  }
  std::optional<ProfileRefusal> CargarPerfilSport() { return load(ProfileKind::Sport, std::nullopt, true); }

  // The same with the file already chosen (nothing: the dialog was cancelled), as the window
  // asks its dialog before the action and tkb-cli names the file.
  bool save(ProfileKind kind, const std::optional<std::string>& path);
  std::optional<ProfileRefusal> load(ProfileKind kind, const std::optional<std::string>& path) {
    return load(kind, path, false);
  }

  // A file the program chose (a game's profile), loaded as the LOAD button of its kind loads
  // the file picked in the dialog; a name that is neither .tkb nor .tks is refused unread.
  std::optional<ProfileRefusal> loadFile(const std::string& path);

  // The name from a chosen path into PerfilActual, with the save operations' trace lines.
  std::string NombreDePerfil(const std::string& path, bool withTrace = true);

  // tkb-cli: the saves make no "opt" folder in the caller's current folder.
  void skipSettingsFolder() { firstProSave_ = firstSportSave_ = false; }

  // '\' followed by the current profile name; "\Default" at start-up.
  const std::string& PerfilActual() const { return perfilActual_; }
  std::string currentProfileName() const { return perfilActual_.substr(1); }
  // A name put back (a restored snapshot's): PerfilActual and the profile label take it.
  void setCurrentProfileName(const std::string& name);

  // The profile values of the last load or save; the front end takes it from the state once
  // the start-up reads are in. Edits are pending while the state's values differ from it.
  ProfileBaseline& baseline() { return baseline_; }
  bool editsPending() const { return baseline_.pending(controller_.state); }

  // The apply buttons: the current profile name as [GENERAL] file (and mod = "0") in the
  // settings file at basePath + "/opt/config.ini", with their trace lines.
  void recordActiveProfile(const std::string& basePath) const;

 private:
  void ensureSettingsFolder(bool& firstSave);
  // The CUSTOM page's zones and brake stop, while CUSTOM is active.
  void sendCustomZones();
  void applyNaming(ProfileKind kind, const std::string& name);
  bool writeProfile(const std::string& path, ProfileKind kind);
  // The loads once the file is known (none: the dialog was cancelled), to their closing trace.
  std::optional<ProfileRefusal> loadPro(const std::optional<std::string>& path);
  std::optional<ProfileRefusal> loadSport(const std::optional<std::string>& path);
  // LOAD of a kind: the file chosen (askDialog: by the dialog, asked here once its trace
  // line is out), to its closing trace line; the driver's own loads make the recent files.
  std::optional<ProfileRefusal> load(ProfileKind kind, std::optional<std::string> path, bool askDialog);

  Controller& controller_;
  Operations ops_;
  ProfileFileChooser& chooser_;
  ProfilePages& pages_;
  std::string perfilActual_ = std::string("\\") + kDefaultProfileName;
  bool firstProSave_ = true;
  bool firstSportSave_ = true;
  ProfileBaseline baseline_;
};

// Writes the profile file of a kind from a state, as the saves do (nothing is sent); false
// when it could not be written or a value it would hold is unknown (nothing is written then).
bool writeProfileFile(const std::string& path, ProfileKind kind, const ControllerState& state);

// The end of a PRO calibration: [GENERAL] file = "Default", mod = "0".
void recordDefaultProfile(const std::string& basePath);

}  // namespace tkb
