// The usage and brake logs: rotation at the size limit, line formats, one run in brake.txt.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/usage_log.h"
#include "test_support.h"

namespace tkb {
namespace {

namespace fs = std::filesystem;

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class UsageLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_.file("opt"));
    state_.known = FieldSet::all();  // as after start-up reads that all succeeded
  }
  static void fixClock(UsageLog& log) {
    log.setClock([] { return std::time_t{1718000000}; });  // 10/06/2024 06:13:20 UTC
  }
  void writeFile(const std::string& path, size_t bytes, char fill) {
    std::ofstream out(path, std::ios::binary);
    out << std::string(bytes, fill);
  }
  test::TempDir dir_;
  ControllerState state_;
};

TEST(LogStamp, IsUtcDayMonthYear) {
  EXPECT_EQ(logStamp(0), "[01/01/1970 - 00:00:00]");
  EXPECT_EQ(logStamp(1718000000), "[10/06/2024 - 06:13:20]");
  EXPECT_EQ(logStamp(951782400), "[29/02/2000 - 00:00:00]");
}

TEST_F(UsageLogTest, RotatesOnlyAboveTheLimit) {
  struct Case {
    long size;
    bool rotated;
  } cases[] = {{kUsageLogLimitBytes - 1, false}, {kUsageLogLimitBytes, false}, {kUsageLogLimitBytes + 1, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    UsageLog log(dir_.path().string());
    fs::remove(log.previousUsagePath());
    writeFile(log.usagePath(), static_cast<size_t>(c.size), 'x');
    log.open(state_);
    log.close();
    const std::string current = readAll(log.usagePath());
    if (c.rotated) {
      EXPECT_EQ(fs::file_size(log.previousUsagePath()), static_cast<uintmax_t>(c.size));
      EXPECT_EQ(readAll(log.previousUsagePath()), std::string(c.size, 'x'));
      ASSERT_GE(current.size(), 2u);
      EXPECT_EQ(current[0], ' ');
      EXPECT_EQ(current[1], '[');  // the new [Inicio] line follows the space directly
    } else {
      EXPECT_FALSE(fs::exists(log.previousUsagePath()));
      EXPECT_EQ(current.substr(0, c.size), std::string(c.size, 'x'));
    }
  }
}

TEST_F(UsageLogTest, RotationReplacesTheOlderGeneration) {
  UsageLog log(dir_.path().string());
  writeFile(log.previousUsagePath(), 10, 'o');
  writeFile(log.usagePath(), kUsageLogLimitBytes + 5, 'n');
  log.open(state_);
  log.close();
  EXPECT_EQ(readAll(log.previousUsagePath()), std::string(kUsageLogLimitBytes + 5, 'n'));
}

TEST_F(UsageLogTest, StartLinesAndEveryLineFormat) {
  state_.startReadings = {456, 0, -1};
  state_.probeResult = 3;
  state_.chetoActive = 0;
  state_.brakeMax = 87;
  state_.clutchUpper = 95; state_.clutchLower = 2;
  state_.brakeUpper = 80; state_.brakeLower = 10;
  state_.throttleUpper = 99; state_.throttleLower = 1;
  UsageLog log(dir_.path().string());
  fixClock(log);
  log.open(state_);
  log.dataLines(state_);
  log.modeLine(true);
  log.modeLine(false);
  log.calibrationStarted();
  log.calibrationSaved({100, 200, -300});
  log.calibrationCancelled();
  log.pressPeak(Pedal::Clutch, "     64 %");
  log.pressPeak(Pedal::Brake, "#ff0000      73#");
  log.pressPeak(Pedal::Throttle, "     --");
  log.setAbs(57);
  log.close();
  const std::string s = "[10/06/2024 - 06:13:20]";
  EXPECT_EQ(readAll(log.usagePath()),
            s + " Embrague:456 - Freno:0 - Acelerador:-1 [Inicio]\n" +
            s + " 3 [Estado]\n" +
            s + " Cheto:OFF Max_freno:87 [Datos iniciales]\n" +
            s + " Max:95 Min:2 [Embrague]\n" +
            s + " Max:80 Min:10 [Freno]\n" +
            s + " Max:99 Min:1 [Acelerador]\n" +
            s + " Modo:PRO [Modo]\n" +
            s + " Modo:Custom [Modo]\n" +
            s + " Calibración inicio [Calibrado]\n" +
            s + " Embrague: 100 - Freno: 200 - Acelerador: -300 [Calibrado]\n" +
            s + " Calibración guardada [Calibrado]\n" +
            s + " Calibración cancelada [Calibrado]\n" +
            s + "      64 % [Embrague Max]\n" +
            s + " #ff0000      73# [Freno Max]\n" +
            s + "      -- [Acelerador Max]\n" +
            s + " 57 [Set ABS]\n");
  EXPECT_EQ(readAll(log.brakePath()),
            s + "\nFreno:0 [Inicio]\n#ff0000      73#\n[57]-- Set ABS --\n");
}

// A controller that stopped answering during the start-up reads: what was not read stays
// empty, a value read as 0 is still 0, and every line keeps its keys and tag.
TEST_F(UsageLogTest, UnknownValuesAreLeftEmpty) {
  ControllerState state;
  state.probeResult = 3;
  state.startReadings = {11, 22, 33};
  state.chetoActive = 1;
  state.brakeMax = 90;
  state.clutchUpper = 95;
  state.brakeLower = 7;
  state.brakeUpper = 80;
  state.known = {Field::BrakeMax, Field::ClutchUpper, Field::ClutchLower, Field::BrakeLower};
  UsageLog log(dir_.path().string());
  fixClock(log);
  log.open(state);
  log.dataLines(state);
  log.modeLine(state);
  state.markKnown(Field::SportProfileActive);
  log.modeLine(state);
  log.close();
  const std::string s = "[10/06/2024 - 06:13:20]";
  EXPECT_EQ(readAll(log.usagePath()),
            s + " Embrague: - Freno: - Acelerador: [Inicio]\n" +
            s + " 3 [Estado]\n" +
            s + " Cheto: Max_freno:90 [Datos iniciales]\n" +
            s + " Max:95 Min:0 [Embrague]\n" +
            s + " Max: Min:7 [Freno]\n" +
            s + " Max: Min: [Acelerador]\n" +
            s + " Modo: [Modo]\n" +
            s + " Modo:Custom [Modo]\n");
  EXPECT_EQ(readAll(log.brakePath()), s + "\nFreno: [Inicio]\n");
}

TEST_F(UsageLogTest, BrakeLogHoldsOnlyTheCurrentRunAndUsageLogGrows) {
  for (int run = 0; run < 2; ++run) {
    UsageLog log(dir_.path().string());
  fixClock(log);
    state_.startReadings.brake = static_cast<int16_t>(100 + run);
    log.open(state_);
    log.pressPeak(Pedal::Brake, "run " + std::to_string(run));
    log.close();
  }
  UsageLog log(dir_.path().string());
  const std::string brake = readAll(log.brakePath());
  EXPECT_EQ(brake.find("run 0"), std::string::npos);
  EXPECT_NE(brake.find("Freno:101 [Inicio]\nrun 1\n"), std::string::npos);
  const std::string usage = readAll(log.usagePath());
  EXPECT_NE(usage.find("Freno:100 - Acelerador"), std::string::npos);
  EXPECT_NE(usage.find("Freno:101 - Acelerador"), std::string::npos);
}

TEST_F(UsageLogTest, NothingIsWrittenWhileClosed) {
  UsageLog log(dir_.path().string());
  fixClock(log);
  log.modeLine(true);
  log.pressPeak(Pedal::Brake, "x");
  log.setAbs(3);
  EXPECT_FALSE(fs::exists(log.usagePath()));
  EXPECT_FALSE(fs::exists(log.brakePath()));
}

TEST_F(UsageLogTest, MissingOptFolderDropsLinesWithoutFailing) {
  test::TempDir bare;
  UsageLog log(bare.path().string());
  log.open(state_);
  log.modeLine(false);
  log.close();
  EXPECT_FALSE(fs::exists(log.usagePath()));
  EXPECT_TRUE(fs::exists(log.brakePath()));
}

}  // namespace
}  // namespace tkb
