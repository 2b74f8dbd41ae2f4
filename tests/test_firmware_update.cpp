// The firmware update: the port-list comparison, and the whole update over pseudo-terminals
// with the real wkf/modo.sh and the real avrdude against the emulated controller.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "emulator/intel_hex.h"
#include "emulator/pedal_emulator.h"
#include "link/firmware_update.h"
#include "link/trace.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using tkb::PortChange;

namespace {

// ---------------------------------------------------------------------------------------
// Port-list comparison

struct ComparisonCase {
  const char* what;
  std::vector<std::string> before, after;
  PortChange change;
  std::string newPort;
};

class PortListComparison : public testing::TestWithParam<ComparisonCase> {};

TEST(PortListComparisonReplaced, ControllersNameStandingForAnotherDeviceIsNew) {
  using tkb::comparePortLists;
  EXPECT_EQ(comparePortLists({"COM3", "COM7"}, {"COM3", "COM7"}, "COM7", true).newPort, "COM7");
  EXPECT_EQ(comparePortLists({"COM3", "COM7"}, {"COM3", "COM7"}, "COM7", false).change,
            PortChange::NoNewPort);
  EXPECT_EQ(comparePortLists({"COM3", "COM7"}, {"COM3", "COM7", "COM8"}, "COM7", true).change,
            PortChange::SeveralNewPorts);
  EXPECT_EQ(comparePortLists({"COM3", "COM7"}, {"COM7"}, "COM7", true).change,
            PortChange::OtherPortVanished);
  EXPECT_EQ(comparePortLists({"COM7"}, {"COM8"}, "COM7", true).newPort, "COM8");
}

// A USB serial port's identity carries its bus and device numbers from sysfs, so a device
// that enumerated again under the same name is told apart.
TEST(PortIdentity, FollowsTheUsbDeviceNumber) {
  char pattern[] = "/tmp/tkb-identity-XXXXXX";
  const fs::path root = ::mkdtemp(pattern);
  fs::create_directories(root / "dev");
  std::ofstream(root / "dev" / "ttyACM7") << "";
  const fs::path usb = root / "sys" / "devices" / "usb1" / "1-2";
  fs::create_directories(usb / "1-2:1.0");
  fs::create_directories(root / "sys" / "class" / "tty" / "ttyACM7");
  fs::create_directory_symlink(usb / "1-2:1.0", root / "sys" / "class" / "tty" / "ttyACM7" / "device");
  std::ofstream(usb / "busnum") << "1\n";
  std::ofstream(usb / "devnum") << "5\n";
  ::setenv("TKB_SERIAL_PREFIX", (root / "dev" / "ttyACM").c_str(), 1);
  ::setenv("TKB_SYSFS_ROOT", (root / "sys").c_str(), 1);

  const std::string before = tkb::portIdentity("COM7");
  EXPECT_EQ(before, (root / "dev" / "ttyACM7").string() + "@1.5");
  std::ofstream(usb / "devnum") << "6\n";
  EXPECT_NE(tkb::portIdentity("COM7"), before);
  EXPECT_EQ(tkb::portIdentity("COM8"), "");

  ::unsetenv("TKB_SERIAL_PREFIX");
  ::unsetenv("TKB_SYSFS_ROOT");
  fs::remove_all(root);
}

TEST_P(PortListComparison, FindsTheBootloaderPortOrRefuses) {
  const ComparisonCase& c = GetParam();
  const tkb::PortComparison result = tkb::comparePortLists(c.before, c.after, "COM7");
  EXPECT_EQ(result.change, c.change) << c.what;
  EXPECT_EQ(result.newPort, c.newPort) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PortListComparison,
    testing::Values(
        ComparisonCase{"controller port stays, one new", {"COM3", "COM7"}, {"COM3", "COM7", "COM8"},
                       PortChange::BootloaderFound, "COM8"},
        ComparisonCase{"controller port gone, one new", {"COM3", "COM7"}, {"COM3", "COM8"},
                       PortChange::BootloaderFound, "COM8"},
        ComparisonCase{"new port below the old ones", {"COM3", "COM7"}, {"COM0", "COM3"},
                       PortChange::BootloaderFound, "COM0"},
        ComparisonCase{"two new ports", {"COM3", "COM7"}, {"COM3", "COM8", "COM9"},
                       PortChange::SeveralNewPorts, ""},
        ComparisonCase{"a foreign port vanished", {"COM3", "COM7"}, {"COM7", "COM8"},
                       PortChange::OtherPortVanished, ""},
        ComparisonCase{"a foreign port vanished, two new", {"COM3", "COM7"},
                       {"COM7", "COM8", "COM9"}, PortChange::OtherPortVanished, ""},
        ComparisonCase{"several vanished, none new", {"COM1", "COM3", "COM7"}, {},
                       PortChange::OtherPortVanished, ""},
        ComparisonCase{"nothing changed", {"COM3", "COM7"}, {"COM3", "COM7"},
                       PortChange::NoNewPort, ""},
        ComparisonCase{"only the controller port vanished", {"COM3", "COM7"}, {"COM3"},
                       PortChange::NoNewPort, ""},
        ComparisonCase{"probe saw a name twice", {"COM7", "COM7"}, {"COM8"},
                       PortChange::BootloaderFound, "COM8"},
        ComparisonCase{"rescan lists a name twice", {"COM7"}, {"COM8", "COM8"},
                       PortChange::BootloaderFound, "COM8"}));

TEST(FirmwareCommands, AreTheToolCommandLines) {
  setenv("TKB_SERIAL_PREFIX", "/dev/ttyACM", 1);
  EXPECT_EQ(tkb::bootloaderRequestCommand("COM7"),
            (std::vector<std::string>{"sh", "modo.sh", "COM7:"}));
  EXPECT_EQ(tkb::flashCommand("COM8"),
            (std::vector<std::string>{"avrdude", "-Cavrdude.conf", "-patmega32u4", "-cavr109",
                                      "-P/dev/ttyACM8", "-b57600", "-D",
                                      "-Uflash:w:firmcor.wkf:i"}));
}

// ---------------------------------------------------------------------------------------
// End to end

// A folder of ttyACM links (TKB_SERIAL_PREFIX points into it) and a wkf/ folder with the
// staged modo.sh and avrdude.conf, unique per test.
class FirmwareUpdateEndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tkb-fw-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    wkf_ = dir_ / "wkf";
    fs::create_directory(wkf_);
    fs::copy_file(fs::path(TKB_STAGE_DIR) / "wkf" / "modo.sh", wkf_ / "modo.sh");
    fs::copy_file(fs::path(TKB_STAGE_DIR) / "wkf" / "avrdude.conf", wkf_ / "avrdude.conf");
    setenv("TKB_SERIAL_PREFIX", (dir_ / "ttyACM").c_str(), 1);
    traceFile_ = std::tmpfile();
    tkb::setTraceSink(traceFile_);
  }

  void TearDown() override {
    tkb::setTraceSink(nullptr);
    if (traceFile_ != nullptr) std::fclose(traceFile_);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::string link(int n) const { return (dir_ / ("ttyACM" + std::to_string(n))).string(); }

  std::string traced() {
    std::fflush(traceFile_);
    std::rewind(traceFile_);
    std::string text;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, traceFile_)) > 0) text.append(chunk, n);
    return text;
  }

  // A program image in Intel HEX: 300 bytes at address 0, so the last flash page is only
  // partly covered.
  std::vector<uint8_t> writeImage() {
    const std::vector<uint8_t> image = tkb::emu::patternImage(300, 37);
    EXPECT_TRUE(tkb::emu::writeIntelHex((wkf_ / tkb::kFirmwareImage).string(), image));
    return image;
  }

  tkb::emu::FirmwareState oldFirmware() const {
    tkb::emu::FirmwareState state;
    state.versionMajor = 7;
    state.versionMinor = 5;
    return state;
  }

  tkb::FirmwareUpdateOptions options() const {
    tkb::FirmwareUpdateOptions o;
    o.toolFolder = wkf_.string();
    return o;
  }

  fs::path dir_, wkf_;
  std::FILE* traceFile_ = nullptr;
};

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST_F(FirmwareUpdateEndToEnd, FlashesOldFirmwareWithAvrdudeAndFindsTheControllerAgain) {
  const std::vector<uint8_t> image = writeImage();
  tkb::emu::PedalEmulator other(tkb::emu::FirmwareState{});
  {
    tkb::emu::Faults faults;
    faults.silent = true;
    other.setFaults(faults);
  }
  ASSERT_TRUE(other.start(link(3)));
  tkb::emu::PedalEmulator pedals(oldFirmware());
  pedals.setVersionAfterFlash(7, 6);
  ASSERT_TRUE(pedals.start(link(7)));

  tkb::Controller controller;
  tkb::ProbeOptions probe;
  probe.firmwareUpdate = tkb::makeFirmwareUpdater(options());
  probe.maxPasses = 4;
  const auto started = Clock::now();
  const int result = tkb::probeController(controller, probe);
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  std::printf("probe with firmware update took %.1f s\n", seconds);

  EXPECT_EQ(result, 1);
  EXPECT_EQ(controller.portName(), "COM7");
  EXPECT_EQ(controller.state.firmwareVersion, (std::array<int, 3>{7, 6, 0}));
  EXPECT_EQ(pedals.bootloaderSessions(), 1);
  EXPECT_FALSE(pedals.inBootloader());

  const std::vector<uint8_t> flash = pedals.flash();
  ASSERT_EQ(flash.size(), 32768u);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin())) << "flash differs from image";
  EXPECT_TRUE(std::all_of(flash.begin() + static_cast<long>(image.size()), flash.end(),
                          [](uint8_t b) { return b == 0xFF; }));

  const std::string text = traced();
  EXPECT_TRUE(contains(text, "\nCARGAR FIRMWARE NECESARIO\nDat1: 7\nDat2: 5\nDat3: 0\n"));
  EXPECT_TRUE(contains(text, "\ncomando: sh modo.sh COM7:\n"));
  EXPECT_TRUE(contains(text, "\nLista1 -> COM7\nLista2 -> COM8"));
  EXPECT_TRUE(contains(text, "\nCargamos firmware !!!! en -> COM8"));
  EXPECT_TRUE(contains(text, "\nCargamos firmware !!!! -> avrdude -Cavrdude.conf -patmega32u4 "
                             "-cavr109 -P" + link(8) + " -b57600 -D -Uflash:w:firmcor.wkf:i"));
}

// The bootloader comes back under the controller's own name, as Linux usually numbers it:
// the name now stands for another device, so it is the bootloader's port.
TEST_F(FirmwareUpdateEndToEnd, BootloaderUnderTheControllersOwnNameIsFlashed) {
  const std::vector<uint8_t> image = writeImage();
  tkb::emu::PedalEmulator pedals(oldFirmware());
  pedals.setVersionAfterFlash(7, 6);
  {
    tkb::emu::Faults faults;
    faults.bootloaderReusesName = true;
    pedals.setFaults(faults);
  }
  ASSERT_TRUE(pedals.start(link(7)));

  tkb::Controller controller;
  tkb::ProbeOptions probe;
  probe.firmwareUpdate = tkb::makeFirmwareUpdater(options());
  probe.maxPasses = 4;
  EXPECT_EQ(tkb::probeController(controller, probe), 1);
  EXPECT_EQ(controller.state.firmwareVersion, (std::array<int, 3>{7, 6, 0}));
  EXPECT_EQ(pedals.bootloaderSessions(), 1);
  const std::vector<uint8_t> flash = pedals.flash();
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin())) << "flash differs from image";
  const std::string text = traced();
  EXPECT_TRUE(contains(text, "\nLista1 -> COM7\nLista2 -> COM7"));
  EXPECT_TRUE(contains(text, "-P" + link(7) + " -b57600"));
}

TEST_F(FirmwareUpdateEndToEnd, TwoNewPortsEndWithResult8AndNothingIsFlashed) {
  writeImage();
  tkb::emu::PedalEmulator pedals(oldFirmware());
  ASSERT_TRUE(pedals.start(link(7)));
  // A second device shows up together with the bootloader.
  std::atomic<bool> done{false};
  std::thread other([&] {
    while (!done && !pedals.inBootloader()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    fs::create_symlink("/dev/null", link(12));
  });

  tkb::Controller controller;
  tkb::ProbeOptions probe;
  probe.firmwareUpdate = tkb::makeFirmwareUpdater(options());
  probe.maxPasses = 2;
  const int result = tkb::probeController(controller, probe);
  done = true;
  other.join();

  EXPECT_EQ(result, tkb::kProbeResultUpdateFailed);
  EXPECT_EQ(pedals.flashBlocksWritten(), 0);
  const std::string text = traced();
  EXPECT_TRUE(contains(text, "\ncomando: sh modo.sh COM7:\n"));
  EXPECT_FALSE(contains(text, "Cargamos firmware"));
}

TEST_F(FirmwareUpdateEndToEnd, MissingImageKeepsTheControllerWithItsFirmware) {
  tkb::emu::PedalEmulator pedals(oldFirmware());
  ASSERT_TRUE(pedals.start(link(7)));

  tkb::Controller controller;
  tkb::ProbeOptions probe;
  probe.firmwareUpdate = tkb::makeFirmwareUpdater(options());
  probe.maxPasses = 3;
  EXPECT_EQ(tkb::probeController(controller, probe), 1);
  EXPECT_EQ(controller.state.firmwareVersion, (std::array<int, 3>{7, 5, 0}));
  EXPECT_EQ(pedals.bootloaderSessions(), 0);
  const std::string text = traced();
  EXPECT_TRUE(contains(text, "firmcor.wkf not found"));
  EXPECT_FALSE(contains(text, "comando:"));
}

TEST_F(FirmwareUpdateEndToEnd, NoNewPortIsLookedForAgainThenEndsWith8) {
  writeImage();
  tkb::emu::PedalEmulator pedals(oldFirmware());
  {
    tkb::emu::Faults faults;
    faults.ignoreBootloaderTouch = true;
    pedals.setFaults(faults);
  }
  ASSERT_TRUE(pedals.start(link(7)));

  tkb::Controller controller;
  tkb::ProbeTables tables{{"COM7"}, "COM7"};
  tkb::FirmwareUpdateOptions o = options();
  o.bootloaderWaitMs = 300;
  o.newPortSearchMs = 1500;
  const auto started = Clock::now();
  EXPECT_EQ(tkb::updateFirmware(controller, tables, o), tkb::kProbeResultUpdateFailed);
  EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(1800));
  const std::string text = traced();
  size_t rescans = 0;
  for (size_t at = 0; (at = text.find("\nCOM0 -> ", at)) != std::string::npos; ++at) ++rescans;
  EXPECT_GE(rescans, 3u) << "the rescan was not repeated";
  EXPECT_FALSE(contains(text, "Cargamos firmware"));
}

TEST_F(FirmwareUpdateEndToEnd, LateBootloaderIsFoundByTheRepeatedRescan) {
  const std::vector<uint8_t> image = writeImage();
  tkb::emu::PedalEmulator pedals(oldFirmware());
  {
    tkb::emu::Faults faults;
    faults.ignoreBootloaderTouch = true;
    pedals.setFaults(faults);
  }
  ASSERT_TRUE(pedals.start(link(7)));
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    pedals.requestBootloader();
  });

  tkb::Controller controller;
  tkb::ProbeTables tables{{"COM7"}, "COM7"};
  tkb::FirmwareUpdateOptions o = options();
  o.bootloaderWaitMs = 200;
  o.flashWaitMs = 500;  // avrdude is waited for while it still runs
  EXPECT_EQ(tkb::updateFirmware(controller, tables, o), std::nullopt);
  late.join();
  const std::vector<uint8_t> flash = pedals.flash();
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin())) << "flash differs from image";
  EXPECT_TRUE(contains(traced(), "\nLista2 -> COM8"));
}

TEST_F(FirmwareUpdateEndToEnd, StopFlagEndsTheWaitAtOnce) {
  writeImage();
  tkb::emu::PedalEmulator pedals(oldFirmware());
  {
    tkb::emu::Faults faults;
    faults.ignoreBootloaderTouch = true;
    pedals.setFaults(faults);
  }
  ASSERT_TRUE(pedals.start(link(7)));
  std::atomic<bool> stop{false};
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop = true;
  });
  tkb::Controller controller;
  tkb::FirmwareUpdateOptions o = options();
  o.stop = &stop;
  const auto started = Clock::now();
  EXPECT_EQ(tkb::updateFirmware(controller, {{"COM7"}, "COM7"}, o), std::nullopt);
  EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(tkb::kBootloaderWaitMs));
  stopper.join();
}

}  // namespace
