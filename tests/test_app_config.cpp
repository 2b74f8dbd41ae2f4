#include "app/app_config.h"
#include "app/file_replace.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"

namespace tkb {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

struct ReadCase {
  const char* what;
  const char* content;  // nullptr: no file
  const char* section;
  const char* key;
  const char* fallback;
  size_t buffer;
  const char* expected;
};

void PrintTo(const ReadCase& c, std::ostream* out) { *out << c.what; }

class ReadText : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadText, GivesTheValueOrTheDefault) {
  const ReadCase& c = GetParam();
  TempDir dir;
  const std::string path = dir.file("config.ini");
  if (c.content != nullptr) writeFile(path, c.content);
  EXPECT_EQ(AppConfig(path).readText(c.section, c.key, c.fallback, c.buffer), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Ini, ReadText,
    ::testing::Values(
        ReadCase{"plain", "[MONITOR]\nvr_size=30\n", "MONITOR", "vr_size", "20", 5, "30"},
        ReadCase{"section and key in other case", "[Monitor]\nVR_Size=31\n", "MONITOR", "vr_size", "20", 5, "31"},
        ReadCase{"five characters through a 5-byte buffer", "[MONITOR]\nvr_posx=-1000\n", "MONITOR", "vr_posx", "0", 5, "-100"},
        ReadCase{"fallback is cut like a value", nullptr, "MONITOR", "vr_posy", "-40000", 5, "-400"},
        ReadCase{"missing file", nullptr, "MONITOR", "vr_size", "20", 5, "20"},
        ReadCase{"missing section", "[GENERAL]\nfile=x\n", "MONITOR", "vr_size", "20", 5, "20"},
        ReadCase{"missing key", "[MONITOR]\nvr_posx=3\n", "MONITOR", "vr_size", "20", 5, "20"},
        ReadCase{"key of another section", "[GENERAL]\nvr_size=44\n[MONITOR]\n", "MONITOR", "vr_size", "20", 5, "20"},
        ReadCase{"CRLF and blanks around =", "[MONITOR]\r\n  vr_size = 55 \r\n", "MONITOR", "vr_size", "20", 5, "55"},
        ReadCase{"quoted value", "[MONITOR]\nvr_size=\"66\"\n", "MONITOR", "vr_size", "20", 5, "66"},
        ReadCase{"repeated key: the first counts", "[MONITOR]\nvr_size=11\nvr_size=12\n", "MONITOR", "vr_size", "20", 5, "11"},
        ReadCase{"value with =", "[GENERAL]\nfile=a=b\n", "GENERAL", "file", "", 256, "a=b"},
        ReadCase{"non-numeric text is returned as text", "[MONITOR]\nvr_size=abc\n", "MONITOR", "vr_size", "20", 5, "abc"}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(AppConfig, FileWithZeroByteReadsAsDefaults) {
  TempDir dir;
  const std::string path = dir.file("config.ini");
  writeFile(path, std::string("[MONITOR]\nvr_size=30\n\0\n[GENERAL]\nfile=x\n", 38));
  const AppConfig config(path);
  EXPECT_EQ(config.readText("MONITOR", "vr_size", "20", 5), "20");
  EXPECT_EQ(config.readInt("GENERAL", "mod", 7), 7);
}

TEST(AppConfig, UnreadablePathGivesDefaultsAndIsNotWritten) {
  TempDir dir;
  const std::string path = dir.file("config.ini");
  std::filesystem::create_directory(path);  // a folder where the file should be
  const AppConfig config(path);
  EXPECT_EQ(config.readInt("MONITOR", "x", -1), -1);
  EXPECT_FALSE(config.write("MONITOR", "x", "5"));
  EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST(AppConfig, FilesNoProgramWroteReadAsDefaults) {
  TempDir dir;
  const std::string fifo = dir.file("fifo.tkb");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(AppConfig(fifo, AppConfig::Locking::None).readInt("BRAKE", "AUTO", -1), -1);  // and does not hang

  const std::string big = dir.file("big.ini");
  writeFile(big, "[MONITOR]\nx=5\n;" + std::string(2 << 20, 'x') + "\n");
  const AppConfig config(big);
  EXPECT_EQ(config.readInt("MONITOR", "x", -1), -1);
  ASSERT_TRUE(config.write("MONITOR", "y", "1"));
  EXPECT_EQ(readFile(big), "[MONITOR]\ny=1\n");
  EXPECT_TRUE(std::filesystem::exists(big + ".corrupt"));
}

TEST(DecimalValue, ConvertsLikeThePrograms) {
  const struct {
    const char* text;
    int value;
  } cases[] = {
      {"0", 0},          {"42", 42},       {"-40", -40},     {"+7", 7},
      {"  12", 12},      {"\t3", 3},       {"12abc", 12},    {"abc", 0},
      {"", 0},           {"-", 0},         {"- 5", 0},       {"-100", -100},
      {"99999999999", 2147483647},         {"-99999999999", -2147483647 - 1},
      {"1.5", 1},        {"0x10", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(decimalValue(c.text), c.value) << '"' << c.text << '"';
}

TEST(AppConfig, ReadIntUsesTheDefaultOnlyForMissingKeys) {
  TempDir dir;
  const std::string path = dir.file("config.ini");
  writeFile(path, "[MONITOR]\nx=-5\nlast_mode=junk\n");
  const AppConfig config(path);
  EXPECT_EQ(config.readInt("monitor", "X", -1), -5);
  EXPECT_EQ(config.readInt("MONITOR", "last_mode", 9), 0);
  EXPECT_EQ(config.readInt("MONITOR", "y", -1), -1);
}

struct WriteCase {
  const char* what;
  const char* before;  // nullptr: no file
  const char* section;
  const char* key;
  const char* value;
  const char* after;
};

void PrintTo(const WriteCase& c, std::ostream* out) { *out << c.what; }

class Write : public ::testing::TestWithParam<WriteCase> {};

TEST_P(Write, ReplacesInPlaceOrAppends) {
  const WriteCase& c = GetParam();
  TempDir dir;
  const std::string path = dir.file("config.ini");
  if (c.before != nullptr) writeFile(path, c.before);
  ASSERT_TRUE(AppConfig(path).write(c.section, c.key, c.value)) << c.what;
  EXPECT_EQ(readFile(path), c.after) << c.what;
  EXPECT_EQ(AppConfig(path).readText(c.section, c.key, "?"), c.value) << "the reader disagrees: " << c.what;
}

// Only the written key's line changes (or one line is added); every other byte stays.
INSTANTIATE_TEST_SUITE_P(
    Ini, Write,
    ::testing::Values(
        WriteCase{"missing file is created", nullptr, "MONITOR", "vr_size", "30", "[MONITOR]\nvr_size=30\n"},
        WriteCase{"replaced in place, every other line kept",
                  "[MONITOR]\nenable_window=1\nvr_size=20\nvr_posx=0\n\n[GENERAL]\nfile=a\n", "MONITOR",
                  "vr_size", "30", "[MONITOR]\nenable_window=1\nvr_size=30\nvr_posx=0\n\n[GENERAL]\nfile=a\n"},
        WriteCase{"names match without regard to case; the file keeps its spelling",
                  "[Monitor]\nVR_Size=20\n", "MONITOR", "vr_size", "30", "[Monitor]\nVR_Size=30\n"},
        WriteCase{"missing key added after the last key of its section",
                  "[MONITOR]\nx=1\n; kept with the next section\n\n[GENERAL]\nfile=a\n", "MONITOR", "y", "2",
                  "[MONITOR]\nx=1\ny=2\n; kept with the next section\n\n[GENERAL]\nfile=a\n"},
        WriteCase{"missing section appended after one blank line", "[MONITOR]\nx=1\n", "GENERAL", "mod", "0",
                  "[MONITOR]\nx=1\n\n[GENERAL]\nmod=0\n"},
        WriteCase{"Windows line ends, blanks around = and unknown lines stay",
                  "\xEF\xBB\xBF[MONITOR]\r\nx = 1 \r\nno key here\r\n[broken\r\n\r\n  \r\ny=2\r\n", "MONITOR", "x", "5",
                  "\xEF\xBB\xBF[MONITOR]\r\nx = 5 \r\nno key here\r\n[broken\r\n\r\n  \r\ny=2\r\n"},
        WriteCase{"added lines end like the file's", "[MONITOR]\r\nx=1\r\n", "GENERAL", "mod", "0",
                  "[MONITOR]\r\nx=1\r\n\r\n[GENERAL]\r\nmod=0\r\n"},
        WriteCase{"an unended last line gets its line end", "[MONITOR]\r\nx=1", "MONITOR", "y", "2",
                  "[MONITOR]\r\nx=1\r\ny=2\r\n"},
        WriteCase{"comments and quotes", "; placement\n[MONITOR]\n# left edge\nx=\"1\"\n", "MONITOR", "x", "2",
                  "; placement\n[MONITOR]\n# left edge\nx=2\n"},
        WriteCase{"a repeated key: the first one, which readers take, changes", "[MONITOR]\nx=1\ny=0\nx=2\n",
                  "MONITOR", "x", "3", "[MONITOR]\nx=3\ny=0\nx=2\n"},
        WriteCase{"a repeated section: keys of either are found, new ones go to the first",
                  "[A]\nx=1\n[B]\ny=1\n[a]\nz=1\n", "A", "w", "2", "[A]\nx=1\nw=2\n[B]\ny=1\n[a]\nz=1\n"},
        WriteCase{"keys below an unclosed section header belong to no section the reader knows",
                  "[MONITOR]\n[broken\nx=1\n", "MONITOR", "x", "5", "[MONITOR]\nx=5\n[broken\nx=1\n"},
        WriteCase{"a key of the second occurrence", "[A]\nx=1\n[B]\n[a]\nz=1\n", "A", "Z", "7",
                  "[A]\nx=1\n[B]\n[a]\nz=7\n"}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(AppConfig, WriteAllKeepsTheOrderOfFirstWriting) {
  TempDir dir;
  const std::string path = dir.file("set.tkb");
  const IniEntry entries[] = {{"ACCELERATOR", "UPPER DEAD ZONE", "1"},
                              {"CLUTCH", "UPPER DEAD ZONE", "2"},
                              {"BRAKE", "UPPER DEAD ZONE", "3"},
                              {"ACCELERATOR", "LOWER DEAD ZONE", "4"}};
  ASSERT_TRUE(AppConfig(path, AppConfig::Locking::None).writeAll(entries));
  EXPECT_EQ(readFile(path),
            "[ACCELERATOR]\nUPPER DEAD ZONE=1\nLOWER DEAD ZONE=4\n\n[CLUTCH]\nUPPER DEAD ZONE=2\n\n"
            "[BRAKE]\nUPPER DEAD ZONE=3\n");
  EXPECT_FALSE(std::filesystem::exists(path + ".lock"));
}

TEST(AppConfig, DamagedFileIsKeptAsideWhenWritten) {
  TempDir dir;
  const std::string path = dir.file("config.ini");
  const std::string damaged("[MONITOR]\nx=1\n\0\0\x01\x02", 18);
  writeFile(path, damaged);
  ASSERT_TRUE(AppConfig(path).write("MONITOR", "y", "2"));
  EXPECT_EQ(readFile(path), "[MONITOR]\ny=2\n");
  EXPECT_EQ(readFile(path + ".corrupt"), damaged);
}

TEST(AppConfig, KeepsThePermissionsOfTheFile) {
  TempDir dir;
  const std::string path = dir.file("config.ini");
  writeFile(path, "[MONITOR]\nx=1\n");
  std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  ASSERT_TRUE(AppConfig(path).write("MONITOR", "x", "2"));
  EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

// The monitor writes its position while the configuration program writes its keys: each
// write must see the other's last one.
TEST(AppConfig, TwoProcessesWritingAtOnceLoseNothing) {
  TempDir dir;
  const std::string path = dir.file("config.ini");
  constexpr int kWrites = 500;
  auto writer = [&](const char* prefix) {
    const AppConfig config(path);
    for (int i = 0; i < kWrites; ++i)
      if (!config.write("MONITOR", prefix + std::to_string(i), std::to_string(i * 7))) return 1;
    return 0;
  };
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(writer("monitor_"));
  const int ownResult = writer("tunedeck_");
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ownResult, 0);

  const IniValues values = AppConfig(path).load();
  int missing = 0;
  for (int i = 0; i < kWrites; ++i) {
    for (const char* prefix : {"monitor_", "tunedeck_"})
      if (values.readInt("MONITOR", prefix + std::to_string(i), -1) != i * 7) ++missing;
  }
  EXPECT_EQ(missing, 0);
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    EXPECT_TRUE(entry.path().filename() == "config.ini" || entry.path().filename() == "config.ini.lock")
        << "left over: " << entry.path();
}


std::vector<std::string> namesIn(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(AppConfig, WritesThroughSymbolicLinksToTheirTarget) {
  TempDir dir;
  std::filesystem::create_directories(dir.path() / "real" / "opt");
  std::filesystem::create_directories(dir.path() / "links");
  const std::string target = dir.file("real/opt/config.ini");
  writeFile(target, "[MONITOR]\nx=1\n");
  // links/config.ini -> hop.ini -> ../real/opt/config.ini, both relative.
  std::filesystem::create_symlink("../real/opt/config.ini", dir.path() / "links" / "hop.ini");
  std::filesystem::create_symlink("hop.ini", dir.path() / "links" / "config.ini");
  ASSERT_TRUE(AppConfig(dir.file("links/config.ini")).write("MONITOR", "x", "2"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "links" / "config.ini"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "links" / "hop.ini"));
  EXPECT_EQ(readFile(target), "[MONITOR]\nx=2\n");
  EXPECT_EQ(namesIn(dir.path() / "real" / "opt"), (std::vector<std::string>{"config.ini", "config.ini.lock"}));

  // A link to a file not made yet: the file is made where the link points.
  std::filesystem::create_symlink("../real/new.tkb", dir.path() / "links" / "new.tkb");
  ASSERT_TRUE(AppConfig(dir.file("links/new.tkb"), AppConfig::Locking::None).write("BRAKE", "AUTO", "1"));
  EXPECT_EQ(readFile(dir.file("real/new.tkb")), "[BRAKE]\nAUTO=1\n");

  std::filesystem::create_symlink("loop.ini", dir.path() / "loop.ini");
  EXPECT_FALSE(AppConfig(dir.file("loop.ini")).write("MONITOR", "x", "1"));
}

TEST(AppConfig, ReadOnlyFileIsRefusedAndLeftUntouched) {
  TempDir dir;
  const std::string path = dir.file("race.tkb");
  writeFile(path, "[BRAKE]\nAUTO=0\n");
  ::chmod(path.c_str(), 0444);
  test::TraceCapture trace;
  EXPECT_FALSE(AppConfig(path, AppConfig::Locking::None).write("BRAKE", "AUTO", "1"));
  EXPECT_EQ(readFile(path), "[BRAKE]\nAUTO=0\n");
  EXPECT_NE(trace.text().find("INI file is read-only, not written -> " + path), std::string::npos) << trace.text();
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"race.tkb"});
}

TEST(AppConfig, ValuesThatWouldChangeTheFileStructureAreRefused) {
  TempDir dir;
  const std::string path = dir.file("config.ini");
  const std::string before = "[GENERAL]\nfile=Default\n";
  const IniEntry refused[] = {
      {"GENERAL", "file", "race\n[MONITOR]\nenable_vr=1"},
      {"GENERAL", "file", "race\r[MONITOR]"},
      {"GENERAL", "file", std::string("race\0x", 6)},
      {"GENERAL]\n[MONITOR", "file", "x"},
      {"GENERAL", "enable_vr=1\nfile", "x"},
      {"GENERAL", "[MONITOR]", "x"},
      {"GENERAL", "", "x"},
  };
  for (const IniEntry& entry : refused) {
    writeFile(path, before);
    test::TraceCapture trace;
    const IniEntry both[] = {{"GENERAL", "mod", "0"}, entry};
    EXPECT_FALSE(AppConfig(path).writeAll(both)) << entry.value;
    EXPECT_EQ(readFile(path), before) << "nothing of a refused write is written";
    EXPECT_NE(trace.text().find("INI write refused"), std::string::npos);
  }
  EXPECT_EQ(AppConfig(path).readInt("MONITOR", "enable_vr", 0), 0);
}

// A writer killed at any point leaves the old or the new file, whole, and its temporary file
// is removed by the next start.
TEST(AppConfig, KilledWritesNeverTearTheFileAndLeaveNothingAfterTheNextStart) {
  TempDir dir;
  const std::string path = dir.file("config.ini");
  const std::string padding(4000, 'p');  // big enough for a kill to land inside a write
  ASSERT_TRUE(AppConfig(path).write("MONITOR", "first", "0"));
  std::mt19937 random(12345);
  int killedInsideAWrite = 0;
  for (int round = 0; round < 100; ++round) {
    int started[2];
    ASSERT_EQ(::pipe(started), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const AppConfig config(path);
      for (int i = 1;; ++i) {
        const IniEntry entries[] = {{"MONITOR", "first", std::to_string(i)},
                                    {"MONITOR", "padding", padding},
                                    {"END", "last", std::to_string(i)}};
        config.writeAll(entries);
        if (i == 1) (void)!::write(started[1], "w", 1);
      }
    }
    // The kill lands while the child is writing, however slowly it started (a loaded or
    // sanitized run may take longer than the whole pause to get there).
    ::close(started[1]);
    char byte = 0;
    ASSERT_EQ(::read(started[0], &byte, 1), 1);
    ::close(started[0]);
    ::usleep(std::uniform_int_distribution<int>(0, 3000)(random));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    for (const std::string& name : namesIn(dir.path()))
      if (name.starts_with(".config.ini.tkb-partial-")) ++killedInsideAWrite;
    const IniValues values = AppConfig(path).load();
    const int first = values.readInt("MONITOR", "first", -1);
    ASSERT_GE(first, 0) << "round " << round << ":\n" << readFile(path);
    if (first > 0) {
      ASSERT_EQ(values.readInt("END", "last", -1), first) << "torn in round " << round;
    }
  }
  EXPECT_GT(killedInsideAWrite, 0) << "no kill landed inside a write: nothing was shown";
  removeUnfinishedWrites(dir.path().string());
  EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"config.ini", "config.ini.lock"}));
}

TEST(RemoveUnfinishedWrites, LeavesWritesInProgressAndOtherFilesAlone) {
  TempDir dir;
  const std::string partial = dir.file(".race.tkb.tkb-partial-abc123");
  writeFile(partial, "[BRAKE]\n");
  writeFile(dir.file("race.tkb.tkb-partial-keep"), "not hidden: not ours");
  writeFile(dir.file("config.ini.Ab3dE9"), "a name the old writer used, or the driver's own");
  const int writer = ::open(partial.c_str(), O_RDONLY);
  ASSERT_EQ(::flock(writer, LOCK_EX), 0);
  removeUnfinishedWrites(dir.path().string());
  EXPECT_TRUE(std::filesystem::exists(partial)) << "its writer still holds it";
  ::close(writer);
  removeUnfinishedWrites(dir.path().string());
  EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"config.ini.Ab3dE9", "race.tkb.tkb-partial-keep"}));
}

TEST(AppConfig, RemovesAndListsTheKeysOfASectionKeepingEveryOtherByte) {
  TempDir dir;
  const std::string path = dir.file("config.ini");
  // CRLF lines, a comment, an unknown line, a key repeated in a second [GAMES] and a key of
  // the same name in another section.
  const std::string before =
      "; kept\r\n[GAMES]\r\nFakeGame.exe = /p/race.tks\r\nrF2.exe=\"/p/rf2.tkb\"\r\n?? odd\r\n"
      "[MONITOR]\r\nfakegame.exe=5\r\n[games]\r\nFAKEGAME.EXE=/p/second.tks\r\nAcc.exe=/p/acc.tks";
  writeFile(path, before);
  const AppConfig config(path);
  const std::vector<IniEntry> listed = config.sectionEntries("Games");
  ASSERT_EQ(listed.size(), 3u);
  EXPECT_EQ(listed[0].key, "FakeGame.exe");
  EXPECT_EQ(listed[0].value, "/p/race.tks") << "the first occurrence counts";
  EXPECT_EQ(listed[1].key, "rF2.exe");
  EXPECT_EQ(listed[1].value, "/p/rf2.tkb") << "as the reader takes it";
  EXPECT_EQ(listed[2].key, "Acc.exe");

  ASSERT_TRUE(config.remove("GAMES", "fakegame.EXE"));
  EXPECT_EQ(readFile(path),
            "; kept\r\n[GAMES]\r\nrF2.exe=\"/p/rf2.tkb\"\r\n?? odd\r\n"
            "[MONITOR]\r\nfakegame.exe=5\r\n[games]\r\nAcc.exe=/p/acc.tks")
      << "every line of the key goes, so no later one takes its place";
  ASSERT_TRUE(config.remove("GAMES", "Acc.exe"));
  EXPECT_EQ(readFile(path), "; kept\r\n[GAMES]\r\nrF2.exe=\"/p/rf2.tkb\"\r\n?? odd\r\n[MONITOR]\r\nfakegame.exe=5\r\n[games]\r\n");
  EXPECT_TRUE(config.remove("GAMES", "absent.exe"));
  EXPECT_TRUE(config.remove("OTHER", "x"));
  EXPECT_EQ(config.sectionEntries("GAMES").size(), 1u);

  const AppConfig missing(dir.file("none.ini"));
  EXPECT_TRUE(missing.remove("GAMES", "x"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("none.ini"))) << "removing from no file makes none";
  EXPECT_TRUE(missing.sectionEntries("GAMES").empty());
}

}  // namespace
}  // namespace tkb
