#include "app/game_switcher.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "link/trace.h"

namespace tkb {
namespace {

// An autosave name is found among this many; a folder that already holds them all is full.
constexpr int kAutosaveNamesPerDay = 999;

bool controlByte(unsigned char c) { return c < 0x20 || c == 0x7F; }

}  // namespace

bool gameNameAllowed(const std::string& name) {
  if (name.empty() || name.size() > kGameNameMaxBytes || name.front() == ' ' || name.back() == ' ' ||
      name.front() == '\t' || name.back() == '\t')
    return false;
  return std::none_of(name.begin(), name.end(), [](unsigned char c) {
    return controlByte(c) || c == '=' || c == ';' || c == '#' || c == '[' || c == ']';
  });
}

bool gameProfileAllowed(const std::string& path) {
  return profileKindOfPath(path).has_value() &&
         std::none_of(path.begin(), path.end(), [](unsigned char c) { return controlByte(c); }) &&
         iniEntryWritable({kGamesSection, "x", path});
}

std::vector<GameEntry> readGameTable(const AppConfig& config) {
  std::vector<GameEntry> table;
  for (const IniEntry& entry : config.sectionEntries(kGamesSection)) {
    if (gameNameAllowed(entry.key) && gameProfileAllowed(entry.value)) table.push_back({entry.key, entry.value});
  }
  return table;
}

bool writeGameEntry(const AppConfig& config, const GameEntry& entry) {
  if (!gameNameAllowed(entry.name) || !gameProfileAllowed(entry.profilePath)) return false;
  return config.write(kGamesSection, entry.name, entry.profilePath);
}

bool removeGameEntry(const AppConfig& config, const std::string& name) {
  return !name.empty() && config.remove(kGamesSection, name);
}

std::optional<std::string> reserveAutosavePath(const std::string& folder, std::time_t now) {
  std::tm utc{};
  gmtime_r(&now, &utc);
  char date[16];
  std::strftime(date, sizeof date, "%Y-%m-%d", &utc);
  const std::string base = folder + (folder.empty() || folder.back() == '/' ? "" : "/") + "autosave-" + date;
  for (int n = 1; n <= kAutosaveNamesPerDay; ++n) {
    const std::string path = base + (n == 1 ? "" : "-" + std::to_string(n)) + ".tks";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd >= 0) {
      ::close(fd);
      return path;
    }
    if (errno != EEXIST) return std::nullopt;
  }
  return std::nullopt;
}

std::string GameNotice::message() const {
  switch (kind) {
    case Kind::Autosaved: return "Unsaved pedal edits saved as " + path + " before switching profiles for " + game;
    case Kind::AutosaveFailed:
      return "Unsaved pedal edits could not be saved (" + detail + "): the profile for " + game + " was not switched";
    case Kind::Loaded: return game + " started: profile " + path + " loaded";
    case Kind::LoadRefused: return game + " started: " + detail;
    case Kind::Restored: return game + " ended: the profile in use before it is back";
    case Kind::RestoreFailed: return game + " ended: the profile in use before it could not be put back";
    case Kind::NotCaptured:
      return game + " started: the settings in use are not all known, so its profile was not loaded";
  }
  return game;
}

std::vector<std::string> GameSwitcher::names() const {
  std::vector<std::string> names;
  for (const GameEntry& entry : table_) names.push_back(entry.name);
  return names;
}

const GameEntry* GameSwitcher::firstRunning(const std::vector<RunningProgram>& running) const {
  for (const GameEntry& entry : table_) {
    if (std::any_of(running.begin(), running.end(),
                    [&](const RunningProgram& program) { return programMatches(program, entry.name); }))
      return &entry;
  }
  return nullptr;
}

bool GameSwitcher::savePending(const std::string& game) {
  if (!host_.pending()) return true;
  if (const auto path = host_.autosave()) {
    host_.tell({GameNotice::Kind::Autosaved, game, *path, ""});
    return true;
  }
  host_.tell({GameNotice::Kind::AutosaveFailed, game, "", "tkb/ cannot be written"});
  return false;
}

bool GameSwitcher::loadGame(const GameEntry& game) {
  if (const auto why = host_.load(game.profilePath)) {
    host_.tell({GameNotice::Kind::LoadRefused, game.name, game.profilePath, *why});
    return false;
  }
  host_.tell({GameNotice::Kind::Loaded, game.name, game.profilePath, ""});
  return true;
}

void GameSwitcher::start(const GameEntry& game) {
  // The game is active from now on, whatever follows: a refusal is told once, not at every scan.
  active_ = game.name;
  loaded_ = false;
  trace("\nGame started: %s -> %s", game.name.c_str(), game.profilePath.c_str());
  snapshot_ = host_.capture();
  if (!snapshot_) {
    host_.tell({GameNotice::Kind::NotCaptured, game.name, game.profilePath, ""});
    return;
  }
  if (!savePending(game.name)) return;
  loaded_ = loadGame(game);
}

void GameSwitcher::update(const std::vector<RunningProgram>& running) {
  const GameEntry* next = firstRunning(running);
  if (active_.empty()) {
    if (next != nullptr) start(*next);
    return;
  }
  const auto activeEntry = std::find_if(table_.begin(), table_.end(),
                                        [&](const GameEntry& e) { return sameProgramName(e.name, active_); });
  const bool stillRunning =
      activeEntry != table_.end() &&
      std::any_of(running.begin(), running.end(), [&](const RunningProgram& p) { return programMatches(p, active_); });
  if (stillRunning) return;

  const std::string ended = active_;
  trace("\nGame ended: %s", ended.c_str());
  active_.clear();
  if (!loaded_) {
    snapshot_.reset();
    if (next != nullptr) start(*next);
    return;
  }
  loaded_ = false;
  // Edits made while the game ran are saved before anything replaces them; when they cannot
  // be, they stay on the pedals.
  if (!savePending(ended)) {
    snapshot_.reset();
    return;
  }
  if (next != nullptr) {
    // Another game of the table still runs: its profile, and the kept one for when it ends.
    active_ = next->name;
    trace("\nGame active: %s -> %s", next->name.c_str(), next->profilePath.c_str());
    loaded_ = loadGame(*next);
    if (loaded_) return;
  }
  const bool restored = host_.restore(*snapshot_);
  host_.tell({restored ? GameNotice::Kind::Restored : GameNotice::Kind::RestoreFailed, ended, "", ""});
  if (active_.empty()) snapshot_.reset();
}

ProfileSwitchHost::ProfileSwitchHost(Controller& controller, Profiles& profiles, std::string profileFolder,
                                     std::function<void(const GameNotice&)> told)
    : controller_(controller),
      operations_(controller),
      profiles_(profiles),
      folder_(std::move(profileFolder)),
      told_(std::move(told)),
      clock_([] { return std::time(nullptr); }) {}

std::optional<ProfileSnapshot> ProfileSwitchHost::capture() {
  baselineBefore_ = profiles_.baseline();
  gameLoaded_ = false;
  return ProfileSnapshot::capture(controller_.state, profiles_.currentProfileName());
}

bool ProfileSwitchHost::pending() { return profiles_.editsPending(); }

std::optional<std::string> ProfileSwitchHost::autosave() {
  ::mkdir(folder_.c_str(), 0755);  // the profile folder of a first run may not exist yet
  const auto path = reserveAutosavePath(folder_, clock_());
  if (!path) return std::nullopt;
  if (!writeProfileFile(*path, ProfileKind::Sport, controller_.state)) {
    ::unlink(path->c_str());
    return std::nullopt;
  }
  trace("\nAutosave -> %s", path->c_str());
  profiles_.baseline().take(controller_.state);
  // Saved before the game's profile came: after the game nothing of it is pending any more.
  if (!gameLoaded_) baselineBefore_ = profiles_.baseline();
  return path;
}

std::optional<std::string> ProfileSwitchHost::load(const std::string& path) {
  if (const auto refusal = profiles_.loadFile(path)) return refusal->message();
  gameLoaded_ = true;
  return std::nullopt;
}

bool ProfileSwitchHost::restore(const ProfileSnapshot& snapshot) {
  const bool ok = snapshot.restore(operations_);
  profiles_.setCurrentProfileName(snapshot.currentProfileName());
  profiles_.baseline() = baselineBefore_;
  gameLoaded_ = false;
  return ok;
}

void ProfileSwitchHost::tell(const GameNotice& notice) {
  trace("\n%s\n", notice.message().c_str());
  if (told_) told_(notice);
}

}  // namespace tkb
