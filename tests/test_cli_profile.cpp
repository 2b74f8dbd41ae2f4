// tkb-cli profile save / load, run as a program against the emulated pedal set.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/app_config.h"
#include "link/protocol.h"
#include "test_support.h"

namespace tkb {
namespace {

using emu::Bytes;
using test::EmulatedController;
using test::hex;
using test::readFile;
using test::writeFile;

struct CliRun {
  int status = -1;
  std::string out, err;
};

class CliProfile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(link.emulator.start(link.dir.file("ttyACM7")));
  }

  CliRun cli(const std::string& arguments) {
    const std::string out = link.dir.file("out.txt"), err = link.dir.file("err.txt");
    const std::string command = "cd '" + link.dir.path().string() + "' && TKB_SERIAL_PREFIX='" + link.dir.file("ttyACM") + "' '" TKB_CLI_PATH "' --passes 1 " +
                                arguments + " >'" + out + "' 2>'" + err + "'";
    CliRun run;
    const int raw = std::system(command.c_str());
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = readFile(out);
    run.err = readFile(err);
    return run;
  }

  // The command frames (requests are single bytes), once `expected` of them arrived (the
  // emulator may still be reading what the finished program wrote) or a generous time passed.
  std::vector<Bytes> commands(size_t expected) {
    std::vector<Bytes> frames;
    for (int waited = 0; waited <= 10000; waited += 10) {
      frames.clear();
      for (const Bytes& frame : link.emulator.received())
        if (frame.size() > 1) frames.push_back(frame);
      if (frames.size() >= expected) break;
      ::usleep(10000);
    }
    ::usleep(20000);
    return frames;
  }

  std::string quoted(const std::string& name) { return "'" + link.dir.file(name) + "'"; }

  EmulatedController link;
};

TEST_F(CliProfile, RefusesFilesItCannotUseBeforeSendingAnything) {
  std::filesystem::create_directory(link.dir.file("folder.tks"));
  writeFile(link.dir.file("notes.txt"), "[BRAKE]\nAUTO=1\n");
  writeFile(link.dir.file("zone-101.tkb"), "[ACCELERATOR]\nUPPER DEAD ZONE=97\nLOWER DEAD ZONE=1\n[CLUTCH]\n"
                                           "UPPER DEAD ZONE=95\nLOWER DEAD ZONE=3\n[BRAKE]\nUPPER DEAD ZONE=101\n");
  writeFile(link.dir.file("empty.tkb"), "");
  writeFile(link.dir.file("damaged.tks"), std::string("[BRAKE]\nAUTO=1\n\0\0", 17));
  ASSERT_EQ(::mkfifo(link.dir.file("fifo.tkb").c_str(), 0600), 0);
  const struct {
    const char* arguments;
    const char* message;
  } cases[] = {
      {"profile load missing.tks", "cannot read"},
      {"profile load folder.tks", "is not a regular file"},
      {"profile load fifo.tkb", "is not a regular file"},
      {"profile load zone-101.tkb", "[BRAKE] UPPER DEAD ZONE=101 is outside 0..100"},
      {"profile load empty.tkb", "has no [ACCELERATOR] UPPER DEAD ZONE"},
      {"profile load damaged.tks", "is damaged"},
      {"profile load notes.txt", "neither a PRO profile"},
      {"profile save nowhere/x.tkb", "cannot write"},
      {"profile copy a.tkb", "expected 'save FILE' or 'load FILE'"},
      {"profile load", "expected 'save FILE' or 'load FILE'"},
  };
  for (const auto& c : cases) {
    std::string arguments = c.arguments;
    const size_t space = arguments.rfind(' ');
    if (arguments.find('.') != std::string::npos) arguments = arguments.substr(0, space + 1) + quoted(arguments.substr(space + 1));
    const CliRun run = cli(arguments);
    EXPECT_EQ(run.status, 2) << c.arguments;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.arguments << ": " << run.err;
  }
  EXPECT_TRUE(link.emulator.received().empty()) << hex(link.emulator.received());
  EXPECT_EQ(link.emulator.answeredRequests(), 0);
}

TEST_F(CliProfile, LoadOfASportProfileSendsWhatThePagesWould) {
  std::string file = "[ACCELERATOR]\r\nUPPER DEAD ZONE=91\r\nLOWER DEAD ZONE=2\r\n"
                     "[CLUTCH]\r\nUPPER DEAD ZONE=100\r\nLOWER DEAD ZONE=3\r\n"
                     "[BRAKE]\r\nUPPER DEAD ZONE=81\r\nBRAKE LIMITER=88\r\nLOWER DEAD ZONE=4\r\nBRAKE STOP=65\r\nAUTO=1\r\n";
  Curve curve{};
  const Curve line{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
  for (int i = 0; i < kCurvePoints; ++i) {
    curve[i] = i * i;
    file += "BRAKE_CURVE_" + std::to_string(i) + "=" + std::to_string(curve[i]) + "\r\n";
    file += "[CLUTCH]\r\nCLUTCH_CURVE_" + std::to_string(i) + "=" + std::to_string(line[i]) + "\r\n";
    file += "[ACCELERATOR]\r\nACCELERATOR_CURVE_" + std::to_string(i) + "=" + std::to_string(line[i]) + "\r\n[BRAKE]\r\n";
  }
  writeFile(link.dir.file("Wet track.tks"), file);
  const CliRun run = cli("profile load " + quoted("Wet track.tks"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Profile: Wet track\n");

  const std::vector<Bytes> expected = {
      encodeProfileFrame(block::kPerfilPro, makeProfileName("Default")),
      encodeProfileFrame(block::kPerfilSport, makeProfileName("Wet track")),
      encodeFixed(fixed::kSetPerfilSport),
      encodeFixed(fixed::kSetPerfilPro),
      encodeValueFrame(value::kAutoBrake, 1),
      // The PRO page's spin boxes.
      encodeValueFrame(value::kZonaSuperiorEmbrague, 100),
      encodeValueFrame(value::kZonaInferiorEmbrague, 3),
      encodeValueFrame(value::kZonaSuperiorFreno, 81),
      encodeValueFrame(value::kZonaInferiorFreno, 4),
      encodeValueFrame(value::kZonaSuperiorAcelerador, 91),
      encodeValueFrame(value::kZonaInferiorAcelerador, 2),
      encodeValueFrame(value::kCheto, 65),
      encodeValueFrame(value::kChetoActivo, 1),
      encodeValueFrame(value::kConfigZonas, 1),
      encodeValueFrame(value::kConfigSportActivado, 1),
      encodeCurveFrame(block::kCurvaEmbrague, line),
      encodeCurveFrame(block::kCurvaFreno, curve),
      encodeCurveFrame(block::kCurvaAcelerador, line),
  };
  const auto frames = commands(expected.size());
  EXPECT_EQ(frames, expected) << hex(frames);
  const emu::FirmwareState state = link.emulator.state();
  EXPECT_EQ(state.curves.brake, curve);
  EXPECT_EQ(state.cheto, 65);
  EXPECT_EQ(profileNameText(state.sportProfileName), "Wet track");
  EXPECT_EQ(state.configFlags & 1, 1) << "CUSTOM active";
}

TEST_F(CliProfile, SaveWritesTheControllersSettings) {
  link.emulator.update([](emu::FirmwareState& s) {
    s.zones.brakeUpper = 77;
    s.zones.throttleLower = 5;
    s.brakeMax = 83;
  });
  const CliRun run = cli("profile save " + quoted("Dry.TKB"));
  ASSERT_EQ(run.status, 0) << run.err;
  const AppConfig profile(link.dir.file("Dry.TKB"), AppConfig::Locking::None);
  EXPECT_EQ(profile.readInt("BRAKE", "UPPER DEAD ZONE", -1), 77);
  EXPECT_EQ(profile.readInt("BRAKE", "BRAKE LIMITER", -1), 83);
  EXPECT_EQ(profile.readInt("ACCELERATOR", "LOWER DEAD ZONE", -1), 5);
  EXPECT_EQ(profile.readInt("BRAKE", "BRAKE STOP", -1), -1) << "a PRO profile has no brake stop";
  const std::vector<Bytes> expected = {encodeProfileFrame(block::kPerfilPro, makeProfileName("Dry")),
                                       encodeProfileFrame(block::kPerfilSport, makeProfileName("Default")),
                                       encodeFixed(fixed::kSetPerfilSport), encodeFixed(fixed::kSetPerfilPro)};
  const auto frames = commands(expected.size());
  EXPECT_EQ(frames, expected) << hex(frames);
  EXPECT_FALSE(std::filesystem::exists(link.dir.file("opt"))) << "tkb-cli made an opt folder";
}

// A controller that falls quiet after the probe: the old profile stays byte for byte, and
// the load sends nothing.
TEST_F(CliProfile, QuietControllerLeavesTheProfileUntouchedAndExitsThree) {
  const std::string good = "[ACCELERATOR]\r\nUPPER DEAD ZONE=97\r\nLOWER DEAD ZONE=1\r\n; kept\r\n[CLUTCH]\r\n"
                           "UPPER DEAD ZONE=95\r\nLOWER DEAD ZONE=3\r\n[BRAKE]\r\nUPPER DEAD ZONE=80\r\n"
                           "BRAKE LIMITER=85\r\nLOWER DEAD ZONE=2\r\n";
  writeFile(link.dir.file("race.tks"), good);
  writeFile(link.dir.file("race.tkb"), good);
  for (const char* command : {"profile save race.tks", "profile load race.tkb"}) {
    SCOPED_TRACE(command);
    emu::Faults faults;
    faults.silentAfterExchanges = link.emulator.answeredRequests() + 2;  // the probe's two
    link.emulator.setFaults(faults);
    const std::string c = command;
    const CliRun run = cli(c.substr(0, 13) + quoted(c.substr(13)));
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_NE(run.err.find("\ntkb-cli profile"), std::string::npos) << "a message of its own line: " << run.err;
    EXPECT_NE(run.err.find("A2 timed out"), std::string::npos) << run.err;
  }
  EXPECT_EQ(readFile(link.dir.file("race.tks")), good);
  EXPECT_EQ(readFile(link.dir.file("race.tkb")), good);
  for (const Bytes& frame : link.emulator.received()) EXPECT_EQ(frame.size(), 1u) << hex(link.emulator.received());
}

// The values a run's profile puts on the pedals, and the controller's before it.
std::string wetProfile() {
  std::string file = "[ACCELERATOR]\r\nUPPER DEAD ZONE=100\r\nLOWER DEAD ZONE=0\r\n[CLUTCH]\r\nUPPER DEAD ZONE=100\r\n"
                     "LOWER DEAD ZONE=0\r\n[BRAKE]\r\nUPPER DEAD ZONE=81\r\nBRAKE LIMITER=90\r\nLOWER DEAD ZONE=0\r\n"
                     "BRAKE STOP=65\r\nAUTO=1\r\n";
  for (const char* pedal : {"BRAKE", "CLUTCH", "ACCELERATOR"}) {
    file += std::string("[") + pedal + "]\r\n";
    for (int i = 0; i < kCurvePoints; ++i)
      file += std::string(pedal) + "_CURVE_" + std::to_string(i) + "=" + std::to_string(i * 10) + "\r\n";
  }
  return file;
}

class CliRunCommand : public CliProfile {
 protected:
  void SetUp() override {
    CliProfile::SetUp();
    link.emulator.update([](emu::FirmwareState& s) {
      s.zones.brakeUpper = 70;
      s.cheto = 40;
      s.autoBrake = 0;
      s.sportProfileName = makeProfileName("Dry");
    });
    before_ = link.emulator.state();
    writeFile(link.dir.file("wet.tks"), wetProfile());
  }
  // The pedals hold again what they held before the run.
  void expectPutBack() {
    const emu::FirmwareState after = link.emulator.state();
    EXPECT_EQ(after.zones.brakeUpper, 70);
    EXPECT_EQ(after.cheto, 40);
    EXPECT_EQ(after.autoBrake, 0);
    EXPECT_EQ(profileNameText(after.sportProfileName), "Dry");
    EXPECT_EQ(after.configFlags, before_.configFlags);
    EXPECT_EQ(after.curves.brake, before_.curves.brake);
  }
  emu::FirmwareState before_;
};

// The command itself opens the port (a nested tkb-cli dump): the run's profile is on the
// pedals while it runs, the port was released for it, and its status comes through.
TEST_F(CliRunCommand, LoadsTheProfileForTheCommandAndPutsTheOldOneBack) {
  const CliRun run = cli("run --profile wet.tks -- sh -c \"'" TKB_CLI_PATH "' --passes 1 dump > during.json; exit 3\"");
  EXPECT_EQ(run.status, 3) << run.err;
  EXPECT_EQ(run.out, "") << "the wrapper's standard output is the command's";
  const std::string during = readFile(link.dir.file("during.json"));
  EXPECT_NE(during.find("\"brakeUpper\": 81,"), std::string::npos) << during;
  EXPECT_NE(during.find("\"sportProfileName\": \"wet\""), std::string::npos) << during;
  expectPutBack();
}

TEST_F(CliRunCommand, StatusIsTheCommandsAsAShellGivesIt) {
  const struct {
    const char* command;
    int status;
  } cases[] = {
      {"true", 0},
      {"no-such-command-for-tkb", 127},
      {"sh -c 'kill -TERM $$'", 128 + SIGTERM},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    link.emulator.update([](emu::FirmwareState& s) { s.zones.brakeUpper = 70; });
    const CliRun run = cli(std::string("run --profile wet.tks -- ") + c.command);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(link.emulator.state().zones.brakeUpper, 70) << "restored even when the command failed";
  }
  EXPECT_NE(cli("run --profile wet.tks -- no-such-command-for-tkb").err.find("command not found"), std::string::npos);
}

TEST_F(CliRunCommand, BadArgumentsRunNothingAndSendNothing) {
  writeFile(link.dir.file("notes.txt"), "[BRAKE]\nAUTO=1\n");
  writeFile(link.dir.file("zone-101.tks"), "[BRAKE]\nUPPER DEAD ZONE=101\n");
  for (const char* arguments : {"run", "run --profile wet.tks", "run --profile wet.tks -- ", "run --profile wet.tks touch ran",
                                "run wet.tks -- touch ran", "run --profile notes.txt -- touch ran",
                                "run --profile missing.tks -- touch ran", "run --profile zone-101.tks -- touch ran"}) {
    const CliRun run = cli(arguments);
    EXPECT_EQ(run.status, 2) << arguments;
    EXPECT_FALSE(run.err.empty()) << arguments;
  }
  EXPECT_FALSE(std::filesystem::exists(link.dir.file("ran")));
  EXPECT_TRUE(link.emulator.received().empty()) << hex(link.emulator.received());
}

// Without pedals the driver is told, and the game starts all the same.
TEST(CliRunWithoutPedals, SaysSoAndStillRunsTheCommand) {
  test::TempDir dir;
  writeFile(dir.file("wet.tks"), wetProfile());
  const std::string command = "cd '" + dir.path().string() + "' && TKB_SERIAL_PREFIX='" + dir.file("none") +
                              "' '" TKB_CLI_PATH "' --passes 1 run --profile wet.tks -- sh -c 'exit 5' 2>err.txt";
  const int raw = std::system(command.c_str());
  EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 5);
  EXPECT_NE(readFile(dir.file("err.txt")).find("is NOT loaded"), std::string::npos) << readFile(dir.file("err.txt"));
}

TEST_F(CliRunCommand, SnapshotAndRestoreRoundTrip) {
  const CliRun taken = cli("profile snapshot");
  ASSERT_EQ(taken.status, 0) << taken.err;
  ASSERT_EQ(taken.out.rfind("tkb-snapshot/1 ", 0), 0u) << taken.out;
  ASSERT_EQ(cli("profile load wet.tks").status, 0);
  // The emulator may still be reading what the finished program wrote.
  for (int waited = 0; waited < 5000 && link.emulator.state().zones.brakeUpper != 81; waited += 10) ::usleep(10000);
  ASSERT_EQ(link.emulator.state().zones.brakeUpper, 81);
  std::string text = taken.out;
  text.pop_back();  // the line break
  EXPECT_EQ(cli("profile restore '" + text + "'").status, 0);
  expectPutBack();

  link.emulator.clearReceived();
  for (const std::string& damaged : {std::string("not-a-snapshot"), text.substr(0, text.size() - 3)})
    EXPECT_EQ(cli("profile restore '" + damaged + "'").status, 2) << damaged;
  EXPECT_TRUE(link.emulator.received().empty()) << hex(link.emulator.received());
}

}  // namespace
}  // namespace tkb
