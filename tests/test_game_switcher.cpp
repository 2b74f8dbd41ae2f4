#include "app/game_switcher.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/startup_reads.h"
#include "memory_fixture.h"
#include "test_support.h"

extern char** environ;

namespace tkb {
namespace {

using test::MemoryController;
using test::readFile;
using test::TempDir;
using test::TraceCapture;
using test::writeFile;

TEST(GameTable, NamesThatWouldBreakTheFileAreRefusedAndEditsKeepTheRest) {
  const struct {
    std::string name;
    bool allowed;
  } names[] = {{"FakeGame.exe", true}, {"Wheel Game (x64).exe", true}, {"", false},  {"a=b.exe", false},
               {";x", false},          {"[GAMES]", false},               {"a]", false}, {"#x", false},
               {"line\nbreak", false}, {"cr\r", false},                  {" lead", false},
               // A file name holds at most 255 bytes.
               {std::string(255, 'g'), true}, {std::string(256, 'g'), false}, {std::string(100000, 'g'), false}};
  for (const auto& c : names) EXPECT_EQ(gameNameAllowed(c.name), c.allowed) << c.name.substr(0, 40);
  EXPECT_TRUE(gameProfileAllowed("/p/race.TKS"));
  EXPECT_FALSE(gameProfileAllowed("/p/race.ini"));
  EXPECT_FALSE(gameProfileAllowed("/p/ra\nce.tks"));

  TempDir dir;
  const std::string path = dir.file("config.ini");
  writeFile(path, "[MONITOR]\nx=5\n[GAMES]\nbad;x=/p/a.tks\nrF2.exe=/p/notes.txt\n");
  const AppConfig config(path);
  EXPECT_TRUE(readGameTable(config).empty()) << "entries no editor could have made are left out";
  EXPECT_FALSE(writeGameEntry(config, {"a=b", "/p/a.tks"}));
  ASSERT_TRUE(writeGameEntry(config, {"FakeGame.exe", "/p/a.tks"}));
  ASSERT_TRUE(writeGameEntry(config, {"fakegame.EXE", "/p/b.tkb"}));
  EXPECT_EQ(readGameTable(config), (std::vector<GameEntry>{{"FakeGame.exe", "/p/b.tkb"}}));
  ASSERT_TRUE(removeGameEntry(config, "FAKEGAME.exe"));
  EXPECT_EQ(readFile(path), "[MONITOR]\nx=5\n[GAMES]\nbad;x=/p/a.tks\nrF2.exe=/p/notes.txt\n");
}

TEST(ProgramMatches, ByArgvNameOrByAnotherProgramsComm) {
  const struct {
    RunningProgram program;
    const char* wanted;
    bool matches;
  } cases[] = {
      {{1, "FakeGame.exe", "FakeGame.exe"}, "fakegame.EXE", true},
      {{1, "ALongerGameName.exe", "ALongerGameName"}, "ALongerGameName.exe", true},
      // Two games sharing their first 15 bytes: the comm does not stand for the other one.
      {{1, "ALongerGameName.exe", "ALongerGameName"}, "ALongerGameName2.exe", false},
      // A script run by its interpreter: argv[0] is the interpreter, comm the script.
      {{1, "sh", "launch.sh"}, "launch.sh", true},
      {{1, "wine64-preload", "LongWindowsGam"}, "LongWindowsGame.exe", false},
      {{1, "wine64-preload", "LongWindowsGame"}, "LongWindowsGame.exe", true},
      {{1, "", ""}, "", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(programMatches(c.program, c.wanted), c.matches) << c.program.name << "/" << c.program.comm << " vs " << c.wanted;
  EXPECT_EQ(programNameOfCommandLine(std::string("Z:\\games\\Race\\Race.exe\0-x\0", 26)), "Race.exe");
}

// A process caught in exec: its new comm is there, its command line still empty. The next
// scan reads the name, so a comm shared by two games' first 15 bytes does not stand for it.
TEST(ProcessWatcherTest, ANameReadEmptyInTheMiddleOfExecIsReadAgain) {
  TempDir proc;
  std::filesystem::create_directory(proc.path() / "4242");
  writeFile(proc.file("4242/comm"), "ALongerGameName\n");
  writeFile(proc.file("4242/cmdline"), "");
  writeFile(proc.file("4242/stat"), "4242 (ALongerGameName) S 1");
  ProcessWatcher watcher(proc.path().string());
  const std::vector<RunningProgram>& seen = watcher.scan();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_TRUE(programMatches(seen[0], "ALongerGameName2.exe")) << "only the comm is known yet";
  writeFile(proc.file("4242/cmdline"), std::string("Z:\\games\\ALongerGameName1.exe\0", 30));
  watcher.scan();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].name, "ALongerGameName1.exe");
  EXPECT_FALSE(programMatches(seen[0], "ALongerGameName2.exe"));
}

// What the games dialog offers: programs that may be games, not shells, compilers, desktop
// services, the Wine services or ours.
TEST(PlausiblyGame, ShellsCompilersServicesAndOursAreNotOffered) {
  for (const char* game : {"FakeGame.exe", "acc.exe", "AMS2AVX.exe", "rFactor2.exe", "dirt5", "java", "wine64-preload",
                           "BeamNG.drive.x64", "iRacingSim64DX11.exe"})
    EXPECT_TRUE(plausiblyGame(game)) << game;
  for (const char* other : {"", "bash", "sh", "zsh", "cc1plus", "g++-12", "x86_64-linux-gnu-gcc-12", "ninja", "ld.gold",
                            "python3.11", "systemd", "systemd-journald", "dbus-daemon", "gnome-shell", "Xwayland",
                            "pipewire-pulse", "wineserver", "services.exe", "steamwebhelper", "TKB-Tunedeck",
                            "TKB_Monitor", "BASH"})
    EXPECT_FALSE(plausiblyGame(other)) << other;
}

// Records what the switcher asks of its host; load refuses the paths listed in refused.
class RecordingHost : public GameSwitchHost {
 public:
  std::optional<ProfileSnapshot> capture() override {
    calls.push_back("capture");
    return ProfileSnapshot::decode(snapshotText);
  }
  bool pending() override { return edits; }
  std::optional<std::string> autosave() override {
    calls.push_back("autosave");
    edits = false;
    return std::string("tkb/autosave.tks");
  }
  std::optional<std::string> load(const std::string& path) override {
    calls.push_back("load " + path);
    if (path == refused) return std::string("damaged");
    return std::nullopt;
  }
  bool restore(const ProfileSnapshot&) override {
    calls.push_back("restore");
    return true;
  }
  void tell(const GameNotice& notice) override { calls.push_back("tell " + notice.message()); }

  std::string snapshotText;
  bool edits = false;
  std::string refused;
  std::vector<std::string> calls;
};

std::vector<RunningProgram> running(std::initializer_list<const char*> names) {
  std::vector<RunningProgram> programs;
  for (const char* name : names) programs.push_back({1, name, std::string(name).substr(0, kCommBytes)});
  return programs;
}

TEST(GameSwitcher, HandsOverToASecondGameAndTellsARefusalOnce) {
  TraceCapture quiet;
  MemoryController link;
  ASSERT_TRUE(link.connect());
  ASSERT_TRUE(loadData(link.controller, nullptr).ok());
  RecordingHost host;
  host.snapshotText = ProfileSnapshot::capture(link.controller.state, "Default")->encode();
  GameSwitcher switcher(host);
  switcher.setTable({{"A.exe", "a.tks"}, {"B.exe", "b.tkb"}, {"C.exe", "c.tks"}});
  host.refused = "c.tks";

  switcher.update(running({"bash", "B.exe", "A.exe"}));  // the table's order decides
  switcher.update(running({"B.exe", "A.exe"}));
  host.edits = true;  // changed while A ran
  switcher.update(running({"B.exe"}));
  switcher.update(running({}));
  switcher.update(running({"C.exe"}));
  switcher.update(running({"C.exe"}));
  switcher.update(running({}));
  EXPECT_EQ(host.calls, (std::vector<std::string>{
                            "capture", "load a.tks", "tell A.exe started: profile a.tks loaded",
                            "autosave", "tell Unsaved pedal edits saved as tkb/autosave.tks before switching profiles for A.exe",
                            "load b.tkb", "tell B.exe started: profile b.tkb loaded",
                            "restore", "tell B.exe ended: the profile in use before it is back",
                            "capture", "load c.tks", "tell C.exe started: damaged"}))
      << "nothing was loaded for C, so nothing is put back";
  EXPECT_EQ(switcher.activeGame(), "");
}

// A real program under a game's name: a copy of sleep, started with the given argv[0].
class FakeGame {
 public:
  FakeGame(const std::string& binary, const std::string& argv0) {
    std::vector<char*> argv{const_cast<char*>(argv0.c_str()), const_cast<char*>("60"), nullptr};
    EXPECT_EQ(::posix_spawn(&pid_, binary.c_str(), nullptr, nullptr, argv.data(), environ), 0);
  }
  ~FakeGame() { end(true); }
  void end(bool reap) {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    if (!reap) return;
    ::waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }

 private:
  pid_t pid_ = 0;
};

std::string copyOfSleep(const TempDir& dir, const std::string& name) {
  const std::string path = dir.file(name);
  std::filesystem::copy_file("/bin/sleep", path);
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  return path;
}

class GameProfilesTest : public ::testing::Test {
 protected:
  TraceCapture quiet;
  void SetUp() override {
    ASSERT_TRUE(link.connect());
    ASSERT_TRUE(loadData(link.controller, nullptr).ok());
    profiles.baseline().take(link.controller.state);  // what the start-up read
    before = link.firmware().state();
    std::filesystem::create_directory(dir.path() / "tkb");
    // The game's own profile: other zones and a bent throttle curve.
    ControllerState race = link.controller.state;
    race.brakeUpper = 66, race.throttleLower = 7;
    race.throttleCurve = {0, 2, 6, 12, 20, 30, 42, 56, 72, 88, 100};
    ASSERT_TRUE(writeProfileFile(dir.file("race.tks"), ProfileKind::Sport, race));
    switcher.setTable({{game, dir.file("race.tks")}, {longGame, dir.file("race.tks")}});
    watcher.watch(switcher.names());
  }

  // Scans until the switcher's active game is `game` (at most two seconds: a spawned program
  // shows its own name once it has run exec).
  bool scanUntilActive(const std::string& game) {
    for (int i = 0; i < 200; ++i) {
      switcher.update(watcher.scan());
      if (switcher.activeGame() == game) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  // Names of this test process's own: the watcher sees every program of the machine, and
  // another run of these tests may have its fake game running at the same time.
  const std::string game = "FakeGame" + std::to_string(::getpid()) + ".exe";
  // The pid leads the long name so that its 15-byte comm is this run's own too.
  const std::string longGame = std::to_string(::getpid()) + "ALongerGameName.exe";
  TempDir dir;
  MemoryController link;
  class NoDialog : public ProfileFileChooser {
    std::optional<std::string> choose(const FileDialogRequest&) override { return std::nullopt; }
  } noDialog;
  class NoPages : public ProfilePages {
    void setProfileLabel(const std::string&) override {}
    void showLoad(ProfileKind, bool) override {}
    Curve chartPoints(Pedal pedal) const override { return straightCurve(); (void)pedal; }
  } noPages;
  Profiles profiles{link.controller, noDialog, noPages};
  std::vector<GameNotice> notices;
  ProfileSwitchHost host{link.controller, profiles, dir.file("tkb"), [this](const GameNotice& n) { notices.push_back(n); }};
  GameSwitcher switcher{host};
  ProcessWatcher watcher;
  emu::FirmwareState before;
};

TEST_F(GameProfilesTest, LoadsTheGamesProfileWhileItRunsAndPutsTheOneBeforeBack) {
  FakeGame fake(copyOfSleep(dir, game), dir.file(game));
  ASSERT_TRUE(scanUntilActive(game));
  const emu::FirmwareState& fw = link.firmware().state();
  EXPECT_EQ(fw.zones.brakeUpper, 66);
  EXPECT_EQ(fw.zones.throttleLower, 7);
  EXPECT_EQ(fw.curves.throttle[1], 2);
  EXPECT_EQ(fw.configFlags & 0x01, 0x01) << "a sport profile makes CUSTOM active";
  EXPECT_EQ(profileNameText(fw.sportProfileName), "race");

  fake.end(true);
  ASSERT_TRUE(scanUntilActive(""));
  EXPECT_EQ(fw.zones.brakeUpper, before.zones.brakeUpper);
  EXPECT_EQ(fw.zones.throttleLower, before.zones.throttleLower);
  EXPECT_EQ(fw.curves.throttle, before.curves.throttle);
  EXPECT_EQ(fw.configFlags & 0x09, before.configFlags & 0x09);
  EXPECT_EQ(profileNameText(fw.sportProfileName), profileNameText(before.sportProfileName));
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_EQ(notices[0].kind, GameNotice::Kind::Loaded);
  EXPECT_EQ(notices[1].kind, GameNotice::Kind::Restored);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path() / "tkb")) << "nothing was pending: no autosave";
}

TEST_F(GameProfilesTest, PendingEditsAreSavedFirstAndAGameLeftUncollectedCountsAsEnded) {
  Operations ops(link.controller);
  ASSERT_TRUE(ops.setZone(ZonePage::Pro, Pedal::Clutch, false, 12));
  host.setClock([] { return std::time_t{1'780'000'000}; });  // 2026-05-28
  writeFile(dir.file("tkb/autosave-2026-05-28.tks"), "the driver's own file");

  // A name longer than the kernel's 15-byte comm, shown the way Proton shows a game.
  FakeGame fake(copyOfSleep(dir, longGame), "Z:\\games\\" + longGame);
  ASSERT_TRUE(scanUntilActive(longGame));
  EXPECT_EQ(readFile(dir.file("tkb/autosave-2026-05-28.tks")), "the driver's own file");
  const std::string autosave = dir.file("tkb/autosave-2026-05-28-2.tks");
  ControllerState saved;
  ASSERT_FALSE(readProfileFile(autosave, ProfileKind::Sport, saved));
  EXPECT_EQ(saved.clutchLower, 12) << "the edit is in the autosave";
  ASSERT_FALSE(notices.empty());
  EXPECT_EQ(notices[0].kind, GameNotice::Kind::Autosaved);
  EXPECT_EQ(notices[0].path, autosave);
  EXPECT_EQ(link.firmware().state().zones.clutchLower, before.zones.clutchLower) << "the game's profile is on";

  fake.end(false);  // killed, not yet collected by its parent
  ASSERT_TRUE(scanUntilActive(""));
  EXPECT_EQ(link.firmware().state().zones.clutchLower, 12) << "the edited profile is back";
  EXPECT_EQ(notices.back().kind, GameNotice::Kind::Restored);
  EXPECT_FALSE(profiles.editsPending()) << "the autosave holds the edits";
  fake.end(true);
}

}  // namespace
}  // namespace tkb
