// tkb-cli profile save / load, run as a program against the emulated pedal set.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

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
  writeFile(link.dir.file("zone-101.tkb"), "[BRAKE]\nUPPER DEAD ZONE=101\n");
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
  const std::string good = "[ACCELERATOR]\r\nUPPER DEAD ZONE=97\r\n; kept\r\n[BRAKE]\r\nBRAKE LIMITER=85\r\n";
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

}  // namespace
}  // namespace tkb
