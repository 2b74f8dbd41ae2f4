// tkb-cli as a user runs it: against an emulated controller on a pseudo-terminal.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <thread>
#include <cstdio>

#include "emulator_fixture.h"
#include "test_support.h"

namespace tkb {
namespace {
using emu::Bytes;

struct CliRun {
  int status;
  std::string out;
};

// Standard error goes to errFile when one is named.
CliRun runCli(const std::string& arguments, const std::string& errFile = "/dev/null") {
  const std::string command = std::string(TKB_CLI_PATH) + " " + arguments + " 2>'" + errFile + "'";
  CliRun run{};
  if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
    std::array<char, 4096> buffer{};
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.out.append(buffer.data(), n);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return run;
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override { emulator_ = &ports_.add(3); }
  test::EmulatedPorts ports_;
  emu::PedalEmulator* emulator_ = nullptr;
};

TEST_F(CliTest, ProbeNamesPortAndFirmware) {
  const CliRun run = runCli("probe");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "result 1\nport COM3\nfirmware 7.6.0\n");
}

TEST_F(CliTest, DumpPrintsTheControllersWholeState) {
  emulator_->update([](emu::FirmwareState& s) {
    s.languageCode = 2;
    s.zones.throttleLower = 7;
    s.curves.throttle = {0, 3, 9, 20, 35, 50, 65, 78, 88, 95, 100};
    s.sportProfileName = makeProfileName("Spa \"wet\"");
    s.letterMas2 = 4;
  });
  const CliRun run = runCli("dump");
  EXPECT_EQ(run.status, 0);
  for (const char* expected :
       {"\"language\": \"Italian\"", "\"throttleLower\": 7",
        "\"throttleCurve\": [0, 3, 9, 20, 35, 50, 65, 78, 88, 95, 100]",
        "\"sportProfileName\": \"Spa \\\"wet\\\"\"", "\"letterMas2\": 4", "\"brakeMax\": 90",
        "\"firmwareVersion\": [7, 6, 0]", "\"hasClutch\": true", "\"port\": \"COM3\""})
    EXPECT_NE(run.out.find(expected), std::string::npos) << expected << "\n" << run.out;
}

TEST_F(CliTest, SetSendsTheFieldsCommand) {
  const std::pair<const char*, std::vector<Bytes>> cases[] = {
      {"set brakeUpper 80", {{0xC3, 0x50, 0x3C}}},
      {"set language German", {{0xB2, 0x04, 0x2B}}},
      {"set cheto 100", {{0xCF, 0x64, 0xFC}, {0xE2, 0x00, 0x2E}}},
      {"set brakeCurve 0 10 20 30 40 50 60 70 80 90 100",
       {{0xBB, 0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 0xBB}}},
      {"set sportProfileName Monza", {{0xBE, 'M', 'o', 'n', 'z', 'a', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xEB}}},
      {"set autoBrake 1", {{0xBF, 0x01, 0xFB}}},
      // Several fields in one go, in order; a name may be spelled like a field.
      {"set brakeLower 3 throttleUpper 96", {{0xC5, 0x03, 0x5C}, {0xC6, 0x60, 0x6C}}},
      {"set sportProfileName brakeUpper brakeUpper 80",
       {{0xBE, 'b', 'r', 'a', 'k', 'e', 'U', 'p', 'p', 'e', 'r', 0, 0, 0, 0, 0, 0xEB}, {0xC3, 0x50, 0x3C}}},
  };
  for (const auto& [args, frames] : cases) {
    SCOPED_TRACE(args);
    emulator_->clearReceived();
    EXPECT_EQ(runCli(args).status, 0);
    // The program may end before the emulator has read what it wrote.
    std::vector<Bytes> commands;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (commands.size() < frames.size() && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      commands.clear();
      for (const Bytes& f : emulator_->received())
        if (f.size() > 1) commands.push_back(f);
    }
    EXPECT_EQ(commands, frames) << test::hexFrames(commands);
  }
  EXPECT_EQ(emulator_->state().zones.brakeUpper, 80);
  EXPECT_EQ(emulator_->state().languageCode, 4);
}

// set reads the field back with its query: 0 only when the controller holds the value, 3 when
// it did not answer, 1 when it holds another value; a field it cannot be asked for is sent
// and said so.
TEST_F(CliTest, SetSaysWhetherTheControllerTookTheValue) {
  struct Case {
    const char* args;
    emu::Faults faults;
    int status;
    const char* message;
  };
  std::vector<Case> cases = {
      {"set letterAbs 3", {}, 0, ""},
      {"set brakeUpper 80", {}, 3, "did not answer when asked for it (A5 timed out)"},
      {"set brakeUpper 80", {}, 1, "sent 80, but the controller holds 40"},
      {"set language German", {}, 1, "sent German, but the controller holds Spanish"},
      {"set throttleCurve 0 10 20 30 40 50 60 70 80 90 100", {}, 3, "(A9 rejected)"},
      {"set autoBrake2 1", {}, 0, "sent; the controller cannot be asked"},
  };
  cases[1].faults.silentAfterExchanges = 2;  // the probe's
  cases[2].faults.replyOverride[0xA5] = {0x12, 40, 0, 10, 0x21};
  cases[3].faults.replyOverride[0xA2] = {0x12, 1, 0x21};
  cases[4].faults.replyOverride[0xA9] = {0x12, 0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 0x20};  // unframed
  cases[5].faults.silentAfterExchanges = 2;
  const test::TempDir dir;
  for (Case& c : cases) {
    SCOPED_TRACE(c.args);
    if (c.faults.silentAfterExchanges >= 0) c.faults.silentAfterExchanges += emulator_->answeredRequests();
    emulator_->setFaults(c.faults);
    const CliRun run = runCli(c.args, dir.file("err.txt"));
    const std::string err = test::readFile(dir.file("err.txt"));
    EXPECT_EQ(run.status, c.status) << err;
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
  }
}

TEST_F(CliTest, BadArgumentsExitTwoAndSendNothing) {
  for (const char* args :
       {"set", "set nosuchfield 1", "set brakeUpper", "set brakeUpper 101", "set brakeUpper -1",
        "set brakeUpper 8x", "set brakeCurve 1 2 3", "set brakeCurve 0 10 20 30 40 50 60 70 80 90 101",
        "set language Klingon", "set letterAbs 5", "set proProfileName ThisNameIsTooLongForIt",
        "set model 7", "set color 3", "set brakeMax 50",
        "set clutchCurve 0 10 20 30 40 35 60 70 80 90 100", "set brakeUpper 80 90",
        "set brakeLower 3 throttleUpper 101", "frobnicate", ""}) {
    SCOPED_TRACE(args);
    EXPECT_EQ(runCli(args).status, 2);
  }
  EXPECT_TRUE(emulator_->received().empty()) << test::hexFrames(emulator_->received());
}

TEST(CliNoController, ProbeGivesUp) {
  test::EmulatedPorts none;
  EXPECT_EQ(runCli("--passes 1 probe").status, 1);
}

// 0 only when every exchange succeeded; 3 names the queries that got no answer. dump only
// reads (no model and colour sent back) and prints what it could not read as null.
TEST_F(CliTest, ExitStatusSaysWhetherTheControllerAnsweredEverything) {
  struct Case {
    const char* name;
    emu::Faults faults;
    int status;
  };
  std::vector<Case> cases(6);
  cases[0] = {"no fault", {}, 0};
  cases[1] = {"stray byte after E1", {}, 0};
  cases[1].faults.extraAfter[0xE1] = {0x21};
  cases[2] = {"silent after the probe", {}, 3};
  cases[2].faults.silentAfterExchanges = 2;
  cases[3] = {"brake curve 1.2 s late", {}, 3};
  cases[3].faults.lateMs[0xA8] = 1200;
  cases[4] = {"brake zones cut short", {}, 3};
  cases[4].faults.replyOverride[0xA5] = {0x12, 80, 0, 0x21};
  cases[5] = {"silent", {}, 1};
  cases[5].faults.silent = true;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    emu::Faults faults = c.faults;
    if (faults.silentAfterExchanges >= 0) faults.silentAfterExchanges += emulator_->answeredRequests();
    emulator_->setFaults(faults);
    emulator_->clearReceived();
    const CliRun run = runCli("--passes 1 dump");
    EXPECT_EQ(run.status, c.status) << run.out;
    if (c.status == 3) {
      EXPECT_NE(run.out.find("\"throttleCurve\": null"), std::string::npos) << run.out;
    }
    for (const Bytes& frame : emulator_->received()) EXPECT_EQ(frame.size(), 1u) << test::hexFrames(emulator_->received());
  }
}

// tkb-cli with a driver at the terminal: each instruction it prints (a line that asks for
// Enter) goes to `answer`, which types a line back (with its Enter), or ends the input.
using Answer = std::function<std::optional<std::string>(const std::string& line)>;
CliRun runTyped(const std::string& arguments, const std::string& folder, const Answer& answer) {
  int in[2], out[2];
  if (::pipe(in) != 0 || ::pipe(out) != 0) return {-1, {}};
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 2);
    for (int fd : {in[0], in[1], out[0], out[1], null}) ::close(fd);
    if (::chdir(folder.c_str()) != 0) ::_exit(127);
    ::execl(TKB_CLI_PATH, TKB_CLI_PATH, arguments.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  CliRun run{};
  std::FILE* lines = ::fdopen(out[0], "r");
  char line[512];
  int typing = in[1];
  while (std::fgets(line, sizeof line, lines) != nullptr) {
    run.out += line;
    if (typing < 0 || std::string(line).find("press Enter") == std::string::npos) continue;
    if (const auto typed = answer(line)) {
      const std::string text = *typed + "\n";
      if (::write(typing, text.data(), text.size()) != static_cast<ssize_t>(text.size())) break;
    } else {
      ::close(typing);
      typing = -1;
    }
  }
  if (typing >= 0) ::close(typing);
  std::fclose(lines);
  int status = 0;
  ::waitpid(child, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

bool startsWith(const std::string& line, const char* start) { return line.rfind(start, 0) == 0; }

// The driver follows the instructions: the pedals are where each step asks (pressed pedals
// held on), once the controller has the previous step's points.
TEST_F(CliTest, CalibrateGuidesThroughEveryStepAndStoresTheNewPoints) {
  test::TempDir folder;
  emu::AxisPositions held;
  auto hold = [&](int16_t emu::AxisPositions::*pedal, int16_t at, const Bytes& after) {
    for (int i = 0; i < 500 && (emulator_->received().empty() || emulator_->received().back() != after); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    held.*pedal = at;
    emulator_->setAxes(held);
  };
  const CliRun run = runTyped("calibrate", folder.path().string(), [&](const std::string& line) {
    if (startsWith(line, "Press the throttle")) hold(&emu::AxisPositions::throttle, 32767, {0xFF, 0xC0});
    if (startsWith(line, "Press the brake")) hold(&emu::AxisPositions::brake, 19661, {0xFF, 0xAA});
    if (startsWith(line, "Press the clutch")) hold(&emu::AxisPositions::clutch, 30000, {0xFF, 0xBA});
    return std::optional<std::string>("");
  });
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Calibration saved.\nbrakeMax 80\nclutchUpper 100\nclutchLower 0\nbrakeUpper 80\n"
                         "brakeLower 0\nthrottleUpper 100\nthrottleLower 0\n"),
            std::string::npos)
      << run.out;
  // The program may end before the emulator has read its last frame (the profile names).
  for (int i = 0; i < 500 && (emulator_->received().empty() || emulator_->received().back()[0] != 0xBE); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  const emu::FirmwareState s = emulator_->state();
  EXPECT_EQ(s.calibration.throttlePressed, 32767);
  EXPECT_EQ(s.calibration.brakePressed, 19661);
  EXPECT_EQ(s.calibration.clutchPressed, 30000);
  EXPECT_EQ(s.calibration.throttleRest, -32767);
  EXPECT_EQ(s.brakeMax, 80);
  EXPECT_EQ(s.storedZones.brakeUpper, 80);
  EXPECT_NE(test::readFile(folder.file("opt/config.ini")).find("file=Default"), std::string::npos);
}

// q, the end of input, or a stop signal at a step: FF F3 gives the controller its old
// points back, MAX BRAKE PRESS and the zones are sent again; before the first step nothing
// at all is sent.
TEST_F(CliTest, CalibrateCancelledRestoresTheOldPoints) {
  struct Row {
    const char* what;
    const char* stopAt;  // the instruction at which the driver gives up
    bool endOfInput;
    std::vector<Bytes> tail;
  };
  const Row rows[] = {
      {"q before the first step", "Do not press", false, {}},
      {"q at the throttle", "Press the throttle", false, {{0xFF, 0xF3}, {0xC3, 90, 0x3C}, {0xB3, 0x01, 0x3B}}},
      {"end of input at the clutch", "Press the clutch", true, {{0xFF, 0xF3}, {0xC3, 90, 0x3C}, {0xB3, 0x01, 0x3B}}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    emulator_->clearReceived();
    test::TempDir folder;
    const CliRun run = runTyped("calibrate", folder.path().string(), [&](const std::string& line) {
      if (!startsWith(line, r.stopAt)) return std::optional<std::string>("");
      return r.endOfInput ? std::nullopt : std::optional<std::string>("q");
    });
    EXPECT_EQ(run.status, 6) << run.out;
    EXPECT_NE(run.out.find("Calibration cancelled"), std::string::npos) << run.out;
    // The program may end before the emulator has read what it wrote.
    std::vector<Bytes> commands;
    for (int waited = 0; waited < 2000; waited += 10) {
      commands.clear();
      for (const Bytes& f : emulator_->received())
        if (f.size() > 1) commands.push_back(f);
      if (commands.size() >= r.tail.size() && (r.tail.empty() || commands.back() == r.tail.back())) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const size_t n = std::min(commands.size(), r.tail.size());
    EXPECT_EQ(std::vector<Bytes>(commands.end() - static_cast<long>(n), commands.end()), r.tail);
    if (r.tail.empty()) {
      EXPECT_TRUE(commands.empty()) << test::hexFrames(commands);
    }
    EXPECT_FALSE(emulator_->state().calibrating);
    EXPECT_EQ(emulator_->state().calibration.brakePressed, emu::CalibrationPoints{}.brakePressed);
  }
}

}  // namespace
}  // namespace tkb
