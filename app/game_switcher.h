// Per-game profiles: the table of game executable names and their profile files (config.ini
// section [GAMES]), and the switcher that loads a game's profile when the game starts and
// puts back the profile that was in force before when it ends. Edits that no profile file
// holds are first saved as tkb/autosave-<date>.tks and the driver is told. No Qt: the
// switcher works through a small host (the GUI's, or ProfileSwitchHost over a Controller and
// Profiles) and is fed each scan of the process watcher.
#pragma once

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/app_config.h"
#include "app/process_watcher.h"
#include "app/profile_snapshot.h"
#include "app/profiles.h"

namespace tkb {

inline constexpr const char* kGamesSection = "GAMES";
// How often the GUI scans the running programs.
inline constexpr int kGameScanPeriodMs = 2000;
// A program's file name holds at most 255 bytes; a longer name can match no game.
inline constexpr std::size_t kGameNameMaxBytes = 255;

struct GameEntry {
  std::string name;         // the executable's name as the process list shows it
  std::string profilePath;  // a .tks or .tkb file

  bool operator==(const GameEntry&) const = default;
};

// A name that can be a key of [GAMES]: not empty, at most kGameNameMaxBytes, no blank at
// either end, none of '=', ';', '#', '[', ']' and no control byte (line breaks included).
bool gameNameAllowed(const std::string& name);
// A profile path for the table: a .tks or .tkb name without control bytes.
bool gameProfileAllowed(const std::string& path);

// The table in config.ini, in file order; entries that are not allowed are left out.
std::vector<GameEntry> readGameTable(const AppConfig& config);
// Adds or replaces (names without regard to case) one entry; false when refused or not written.
bool writeGameEntry(const AppConfig& config, const GameEntry& entry);
bool removeGameEntry(const AppConfig& config, const std::string& name);

// The first free name of folder/autosave-<date>.tks, then -2, -3, ... (date YYYY-MM-DD, UTC),
// created empty and exclusively so that no other writer takes it; none when it cannot be made.
std::optional<std::string> reserveAutosavePath(const std::string& folder, std::time_t now);

// What the switcher tells the driver.
struct GameNotice {
  enum class Kind {
    Autosaved,       // path: the autosave file
    AutosaveFailed,  // nothing was switched: the edits stay on the pedals
    Loaded,          // path: the game's profile
    LoadRefused,     // path, detail: why
    Restored,        // the profile in force before the game is back
    RestoreFailed,
    NotCaptured,     // the profile in force is not fully known: nothing was switched
  };
  Kind kind = Kind::Loaded;
  std::string game;
  std::string path;
  std::string detail;

  // One line in English, also the trace line.
  std::string message() const;
};

class GameSwitchHost {
 public:
  virtual ~GameSwitchHost() = default;
  // The profile in force, none when it is not fully known.
  virtual std::optional<ProfileSnapshot> capture() = 0;
  // Edits no profile file holds (see ProfileBaseline).
  virtual bool pending() = 0;
  // The edits saved as a sport profile: the file written, none when it could not be.
  virtual std::optional<std::string> autosave() = 0;
  // Loads a profile file as LOAD does; why it was refused, none when it was loaded.
  virtual std::optional<std::string> load(const std::string& path) = 0;
  virtual bool restore(const ProfileSnapshot& snapshot) = 0;
  virtual void tell(const GameNotice& notice) = 0;
};

class GameSwitcher {
 public:
  explicit GameSwitcher(GameSwitchHost& host) : host_(host) {}

  void setTable(std::vector<GameEntry> table) { table_ = std::move(table); }
  const std::vector<GameEntry>& table() const { return table_; }
  // The table's names, for ProcessWatcher::watch.
  std::vector<std::string> names() const;

  // One scan's running programs. A mapped game that starts while none is active: the profile
  // in force is kept, pending edits saved, the game's profile loaded. When it ends: pending
  // edits saved, then another mapped game still running takes over (its profile loaded) or
  // the kept profile is put back.
  void update(const std::vector<RunningProgram>& running);

  // The table name of the game whose turn it is, empty when none.
  const std::string& activeGame() const { return active_; }

 private:
  const GameEntry* firstRunning(const std::vector<RunningProgram>& running) const;
  void start(const GameEntry& game);
  // Saves pending edits first; false (told) when they could not be saved.
  bool savePending(const std::string& game);
  bool loadGame(const GameEntry& game);

  GameSwitchHost& host_;
  std::vector<GameEntry> table_;
  std::string active_;
  bool loaded_ = false;  // the active game's profile is on the pedals
  std::optional<ProfileSnapshot> snapshot_;
};

// The host over a controller and its Profiles: what tkb-cli and the tests use, and what the
// GUI builds on. Loads go through Profiles::loadFile, so its pages show them; an autosave
// counts as a save of every value; a restore also puts back the current profile name and the
// baseline of edits as they were before the game.
class ProfileSwitchHost : public GameSwitchHost {
 public:
  ProfileSwitchHost(Controller& controller, Profiles& profiles, std::string profileFolder,
                    std::function<void(const GameNotice&)> told = {});

  std::optional<ProfileSnapshot> capture() override;
  bool pending() override;
  std::optional<std::string> autosave() override;
  std::optional<std::string> load(const std::string& path) override;
  bool restore(const ProfileSnapshot& snapshot) override;
  void tell(const GameNotice& notice) override;

  // For tests: the clock of the autosave names.
  void setClock(std::function<std::time_t()> clock) { clock_ = std::move(clock); }

 private:
  Controller& controller_;
  Operations operations_;
  Profiles& profiles_;
  std::string folder_;
  std::function<void(const GameNotice&)> told_;
  std::function<std::time_t()> clock_;
  ProfileBaseline baselineBefore_;
  bool gameLoaded_ = false;
};

}  // namespace tkb
