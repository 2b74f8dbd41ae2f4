#include "app/app_config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

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
}

// The writer puts one empty line before every section after the first.
INSTANTIATE_TEST_SUITE_P(
    Ini, Write,
    ::testing::Values(
        WriteCase{"missing file is created", nullptr, "MONITOR", "vr_size", "30", "[MONITOR]\nvr_size=30\n"},
        WriteCase{"replaced in place, every other line kept",
                  "[MONITOR]\nenable_window=1\nvr_size=20\nvr_posx=0\n\n[GENERAL]\nfile=a\n", "MONITOR",
                  "vr_size", "30", "[MONITOR]\nenable_window=1\nvr_size=30\nvr_posx=0\n\n\n[GENERAL]\nfile=a\n"},
        WriteCase{"names match without regard to case; the file keeps its spelling",
                  "[Monitor]\nVR_Size=20\n", "MONITOR", "vr_size", "30", "[Monitor]\nvr_size=30\n"},
        WriteCase{"missing key appended to its section", "[MONITOR]\nx=1\n\n[GENERAL]\nfile=a\n", "MONITOR",
                  "y", "2", "[MONITOR]\nx=1\ny=2\n\n\n[GENERAL]\nfile=a\n"},
        WriteCase{"missing section appended at the end", "[MONITOR]\nx=1\n", "GENERAL", "mod", "0",
                  "[MONITOR]\nx=1\n\n\n[GENERAL]\nmod=0\n"},
        WriteCase{"Windows line ends and blanks are read and written plainly",
                  "[MONITOR]\r\nx = 1\r\ny=2\r\n", "MONITOR", "x", "5", "[MONITOR]\nx=5\ny=2\n"},
        WriteCase{"comments stay", "; placement\n[MONITOR]\n; left edge\nx=1\n", "MONITOR", "x", "2",
                  "; placement\n\n\n[MONITOR]\n\n; left edge\nx=2\n"},
        WriteCase{"a repeated key becomes one", "[MONITOR]\nx=1\ny=0\nx=2\n", "MONITOR", "x", "3",
                  "[MONITOR]\nx=3\ny=0\n"}),
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
            "[ACCELERATOR]\nUPPER DEAD ZONE=1\nLOWER DEAD ZONE=4\n\n\n[CLUTCH]\nUPPER DEAD ZONE=2\n\n\n"
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

}  // namespace
}  // namespace tkb
