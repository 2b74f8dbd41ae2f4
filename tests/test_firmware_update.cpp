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
#include <functional>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include "app/firmware_settings.h"
#include "emulator/intel_hex.h"
#include "emulator/pedal_emulator.h"
#include "link/firmware_update.h"
#include "link/trace.h"
#include "test_support.h"

extern char** environ;

namespace fs = std::filesystem;
using WallClock = std::chrono::steady_clock;
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
    if (!savedPath_.empty()) setenv("PATH", savedPath_.c_str(), 1);
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

  // The update as the program makes it, its report kept in report_.
  tkb::FirmwareUpdateOptions options() {
    tkb::FirmwareUpdateOptions o;
    o.toolFolder = wkf_.string();
    o.logPath = (dir_ / tkb::kFlashLogName).string();
    o.finished = [this](const tkb::FirmwareReport& r) { report_ = r; };
    return o;
  }

  int probeWithUpdate(tkb::Controller& controller, tkb::FirmwareUpdateOptions o) {
    tkb::ProbeOptions probe;
    probe.firmwareUpdate = tkb::makeFirmwareUpdater(std::move(o));
    probe.maxPasses = 2;
    probe.passPauseMs = 0;
    return tkb::probeController(controller, probe);
  }

  // PATH holds only dir/bin: sh and stty for modo.sh, and avrdude when given.
  void pathWithAvrdude(const std::string& avrdude) {
    const fs::path bin = dir_ / "bin";
    fs::create_directory(bin);
    fs::create_symlink("/bin/sh", bin / "sh");
    fs::create_symlink("/bin/stty", bin / "stty");
    if (!avrdude.empty()) fs::create_symlink(avrdude, bin / "avrdude");
    savedPath_ = std::getenv("PATH");
    setenv("PATH", bin.c_str(), 1);
  }

  fs::path dir_, wkf_;
  std::string savedPath_;
  std::optional<tkb::FirmwareReport> report_;
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
  const auto started = WallClock::now();
  const int result = tkb::probeController(controller, probe);
  const double seconds = std::chrono::duration<double>(WallClock::now() - started).count();
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
  EXPECT_EQ(probeWithUpdate(controller, options()), 1);
  EXPECT_EQ(controller.state.firmwareVersion, (std::array<int, 3>{7, 5, 0}));
  EXPECT_EQ(pedals.bootloaderSessions(), 0);
  const std::string text = traced();
  EXPECT_TRUE(contains(text, "firmcor.wkf not found"));
  EXPECT_FALSE(contains(text, "comando:"));
}


// ---------------------------------------------------------------------------------------
// Bounded failure: one touch, the driver told, the old firmware used.

TEST_F(FirmwareUpdateEndToEnd, AvrdudeMissingOrFailingEndsAfterOneAttemptOnTheOldFirmware) {
  struct Case {
    const char* what;
    std::string avrdude;
    tkb::FirmwareOutcome outcome;
  } cases[] = {
      {"avrdude missing", "", tkb::FirmwareOutcome::ToolNotStarted},
      {"avrdude fails", TKB_TOOL_STUB, tkb::FirmwareOutcome::ToolFailed},
  };
  // A descriptor of ours that a child must not see.
  const int stray = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(::dup2(stray, 251), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    writeImage();
    pathWithAvrdude(c.avrdude);
    const std::string fdFile = (dir_ / "stub-fds").string();
    setenv("TKB_STUB_FD_FILE", fdFile.c_str(), 1);
    tkb::emu::PedalEmulator pedals(oldFirmware());
    ASSERT_TRUE(pedals.start(link(7)));

    tkb::Controller controller;
    EXPECT_EQ(probeWithUpdate(controller, options()), 1);
    EXPECT_EQ(controller.state.firmwareVersion, (std::array<int, 3>{7, 5, 0}));
    EXPECT_EQ(pedals.bootloaderSessions(), 1);
    ASSERT_TRUE(report_.has_value());
    EXPECT_EQ(report_->outcome, c.outcome);
    if (c.outcome == tkb::FirmwareOutcome::ToolFailed) {
      EXPECT_EQ(tkb::test::readFile(fdFile), "0\n1\n2\n") << "the tool inherited descriptors";
      EXPECT_TRUE(contains(tkb::test::readFile(report_->logPath), "can't open device: stub"));
      EXPECT_TRUE(contains(tkb::describeFirmwareReport(*report_), report_->logPath));
    }
    unsetenv("TKB_STUB_FD_FILE");
  }
  ::close(251);
  ::close(stray);
}

// ---------------------------------------------------------------------------------------
// The right controller, settings kept

tkb::emu::FirmwareState customised(tkb::emu::FirmwareState s) {
  s.languageCode = 0x03;
  s.zones.brakeUpper = 70;
  s.zones.throttleLower = 5;
  s.brakeMax = 80;
  s.curves.brake = {0, 5, 10, 20, 30, 40, 50, 60, 70, 85, 100};
  s.letterMas = 3;
  s.cheto = 60;
  s.chetoActive = 1;
  s.proProfileName = tkb::makeProfileName("Monza");
  s.model = 4;
  return s;
}

TEST_F(FirmwareUpdateEndToEnd, OldControllerBesideAnUpToDateOneIsFlashedAndKeepsItsSettings) {
  const std::vector<uint8_t> image = writeImage();
  tkb::emu::PedalEmulator old(customised(oldFirmware()));
  old.setVersionAfterFlash(7, 6);
  tkb::emu::Faults faults;
  faults.flashResetsSettings = true;
  old.setFaults(faults);
  ASSERT_TRUE(old.start(link(3)));
  tkb::emu::PedalEmulator current;
  ASSERT_TRUE(current.start(link(5)));
  const tkb::emu::FirmwareState before = old.state();

  tkb::Controller controller;
  tkb::FirmwareUpdateOptions o = options();
  auto keeper = std::make_shared<tkb::ProfileSettingsKeeper>((dir_ / "tkb").string());
  o.settings = keeper;
  EXPECT_EQ(probeWithUpdate(controller, o), 1);
  EXPECT_EQ(controller.portName(), "COM3");
  EXPECT_EQ(controller.state.firmwareVersion, (std::array<int, 3>{7, 6, 0}));
  EXPECT_EQ(old.bootloaderSessions(), 1);
  EXPECT_EQ(current.bootloaderSessions(), 0);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), old.flash().begin())) << "flash differs from image";

  ASSERT_TRUE(report_.has_value());
  EXPECT_EQ(report_->outcome, tkb::FirmwareOutcome::Updated);
  EXPECT_FALSE(report_->restoredSettings.empty());
  const tkb::emu::FirmwareState after = old.state();
  EXPECT_EQ(after.languageCode, before.languageCode);
  EXPECT_EQ(after.zones.brakeUpper, 70);
  EXPECT_EQ(after.brakeMax, 80);
  EXPECT_EQ(after.zones.throttleLower, 5);
  EXPECT_EQ(after.curves.brake, before.curves.brake);
  EXPECT_EQ(after.storedZones.brakeUpper, 70) << "restored zones not stored (FF F4)";
  EXPECT_EQ(after.storedCurves.brake, before.curves.brake) << "restored curves not stored (FF F7)";
  EXPECT_EQ(after.letterMas, 3);
  EXPECT_EQ(after.cheto, 60);
  EXPECT_EQ(after.proProfileName, before.proProfileName);
  EXPECT_EQ(after.model, 4);
  EXPECT_TRUE(contains(traced(), "\nRestauramos brakeUpper"));
  const std::string saved = tkb::test::readFile(keeper->savedProfile() + ".tks");
  EXPECT_TRUE(contains(saved, "UPPER DEAD ZONE=70"));
  EXPECT_TRUE(contains(saved, "BRAKE_CURVE_9=85"));
  EXPECT_TRUE(fs::exists(keeper->savedProfile() + ".tkb"));
  EXPECT_EQ(fs::path(keeper->savedProfile()).filename().string().rfind("before-update-", 0), 0u);
}

TEST_F(FirmwareUpdateEndToEnd, UnreadableSettingsKeepTheControllerOutOfItsBootloader) {
  writeImage();
  tkb::emu::PedalEmulator pedals(oldFirmware());
  tkb::emu::Faults faults;
  faults.ignoredRequests = {0xA8};  // the brake curve
  pedals.setFaults(faults);
  ASSERT_TRUE(pedals.start(link(7)));
  tkb::Controller controller;
  tkb::FirmwareUpdateOptions o = options();
  o.settings = std::make_shared<tkb::ProfileSettingsKeeper>((dir_ / "tkb").string());
  EXPECT_EQ(probeWithUpdate(controller, o), 1);
  EXPECT_EQ(pedals.bootloaderSessions(), 0);
  ASSERT_TRUE(report_.has_value());
  EXPECT_EQ(report_->outcome, tkb::FirmwareOutcome::SettingsUnread);
  EXPECT_EQ(controller.state.firmwareVersion[1], 5);
}

// ---------------------------------------------------------------------------------------
// Waits

TEST_F(FirmwareUpdateEndToEnd, NoNewPortEndsWith8AfterTheBootloaderWait) {
  writeImage();
  tkb::emu::PedalEmulator pedals(oldFirmware());
  tkb::emu::Faults faults;
  faults.ignoreBootloaderTouch = true;
  pedals.setFaults(faults);
  ASSERT_TRUE(pedals.start(link(7)));
  tkb::Controller controller;
  tkb::FirmwareUpdateOptions o = options();
  o.bootloaderSearchMs = 1500;
  const auto started = WallClock::now();
  EXPECT_EQ(tkb::updateFirmware(controller, {{"COM7"}, "COM7", "COM7"}, o), tkb::kProbeResultUpdateFailed);
  EXPECT_GE(WallClock::now() - started, std::chrono::milliseconds(1500));
  ASSERT_TRUE(report_.has_value());
  EXPECT_EQ(report_->outcome, tkb::FirmwareOutcome::BootloaderNotFound);
  EXPECT_FALSE(contains(traced(), "Cargamos firmware"));
}

TEST_F(FirmwareUpdateEndToEnd, LateBootloaderIsFlashedAsSoonAsItAppears) {
  const std::vector<uint8_t> image = writeImage();
  tkb::emu::PedalEmulator pedals(oldFirmware());
  tkb::emu::Faults faults;
  faults.ignoreBootloaderTouch = true;
  pedals.setFaults(faults);
  ASSERT_TRUE(pedals.start(link(7)));
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    pedals.requestBootloader();
  });
  tkb::Controller controller;
  std::vector<tkb::FirmwareStage> stages;
  tkb::FirmwareUpdateOptions o = options();
  o.progress = [&](const tkb::FirmwareProgress& p) {
    if (stages.empty() || stages.back() != p.stage) stages.push_back(p.stage);
  };
  EXPECT_EQ(tkb::updateFirmware(controller, {{"COM7"}, "COM7", "COM7"}, o), std::nullopt);
  late.join();
  EXPECT_TRUE(std::equal(image.begin(), image.end(), pedals.flash().begin())) << "flash differs from image";
  EXPECT_TRUE(contains(traced(), "\nLista2 -> COM8"));
  using S = tkb::FirmwareStage;
  EXPECT_EQ(stages, (std::vector<S>{S::Restarting, S::WaitingForBootloader, S::Writing, S::Verifying,
                                    S::WaitingForController}));
}

TEST_F(FirmwareUpdateEndToEnd, StopBeforeTheTouchLeavesTheControllerAlone) {
  writeImage();
  tkb::emu::PedalEmulator pedals(oldFirmware());
  ASSERT_TRUE(pedals.start(link(7)));
  std::atomic<bool> stop{true};
  tkb::Controller controller;
  tkb::FirmwareUpdateOptions o = options();
  o.stop = &stop;
  EXPECT_EQ(tkb::updateFirmware(controller, {{"COM7"}, "COM7", "COM7"}, o), std::nullopt);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(pedals.bootloaderSessions(), 0);
  EXPECT_FALSE(contains(traced(), "comando:"));
}

// ---------------------------------------------------------------------------------------
// tkb-cli firmware

struct CliResult {
  int status = -1;
  std::string out, err;
};

// Runs tkb-cli in `folder`; onStart gets its pid while it runs.
CliResult runCli(const fs::path& folder, const std::vector<std::string>& arguments,
                 const std::function<void(pid_t)>& onStart = {}) {
  std::vector<std::string> argv{TKB_CLI_PATH};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  const std::string out = (folder / "cli.out").string(), err = (folder / "cli.err").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  CliResult result;
  const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return result;
  if (onStart) onStart(pid);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = tkb::test::readFile(out);
  result.err = tkb::test::readFile(err);
  return result;
}

TEST_F(FirmwareUpdateEndToEnd, CliProbeStatusAndUpdate) {
  const std::vector<uint8_t> image = writeImage();
  tkb::emu::PedalEmulator pedals(oldFirmware());
  pedals.setVersionAfterFlash(7, 6);
  ASSERT_TRUE(pedals.start(link(7)));

  const CliResult probe = runCli(dir_, {"probe"});
  EXPECT_EQ(probe.status, 4);
  EXPECT_TRUE(contains(probe.out, "firmware 7.5.0\n")) << probe.out;
  EXPECT_TRUE(contains(probe.out, "tkb-cli firmware update")) << probe.out;
  const CliResult status = runCli(dir_, {"firmware", "status"});
  EXPECT_EQ(status.status, 0);
  EXPECT_TRUE(contains(status.out, "update needed yes\nimage " + (wkf_ / tkb::kFirmwareImage).string() +
                                       " present\n")) << status.out;
  EXPECT_EQ(pedals.bootloaderSessions(), 0);

  const CliResult update = runCli(dir_, {"firmware", "update"});
  EXPECT_EQ(update.status, 0) << update.out;
  EXPECT_TRUE(contains(update.out, "the pedal firmware is now 7.06")) << update.out;
  EXPECT_TRUE(contains(update.err, "Writing the new firmware: 100 %")) << update.err;
  EXPECT_EQ(pedals.bootloaderSessions(), 1);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), pedals.flash().begin())) << "flash differs from image";
  EXPECT_TRUE(fs::exists(dir_ / "opt" / tkb::kFlashLogName));
  EXPECT_EQ(runCli(dir_, {"probe"}).status, 0);
}

// SIGTERM while avrdude writes a full program: avrdude finishes, the controller is whole.
TEST_F(FirmwareUpdateEndToEnd, CliUpdateIsNotCutShortBySigterm) {
  const std::vector<uint8_t> image = tkb::emu::patternImage(28672, 91);
  ASSERT_TRUE(tkb::emu::writeIntelHex((dir_ / "big.hex").string(), image));
  tkb::emu::PedalEmulator pedals(oldFirmware());
  ASSERT_TRUE(pedals.start(link(7)));
  const CliResult update = runCli(dir_, {"firmware", "update", "--image", "big.hex"}, [&](pid_t pid) {
    const auto limit = WallClock::now() + std::chrono::seconds(60);
    while (pedals.flashBlocksWritten() == 0 && WallClock::now() < limit)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ::kill(pid, SIGTERM);
  });
  EXPECT_GT(pedals.flashBlocksWritten(), 0);
  EXPECT_EQ(update.status, 0) << update.out << update.err.substr(update.err.size() > 2000 ? update.err.size() - 2000 : 0);
  EXPECT_TRUE(contains(update.err, "Updating the pedal firmware - do not unplug the pedals"));
  EXPECT_TRUE(std::equal(image.begin(), image.end(), pedals.flash().begin())) << "flash differs from image";
  EXPECT_FALSE(pedals.inBootloader());
}

// ---------------------------------------------------------------------------------------
// avrdude's progress output

TEST(AvrdudeProgress, FollowsWritingAndVerifyingBars) {
  const std::string output =
      "avrdude: AVR device initialized and ready to accept instructions\n\n"
      "Reading | ################################################## | 100% 0.00s\n\n"
      "avrdude: writing 300 bytes flash ...\n\nWriting | " + std::string(25, '#') +
      std::string(25, '#') + " | 100% 0.05s\n\navrdude: verifying flash memory\n\nReading | " +
      std::string(50, '#') + " | 100% 0.10s\n\navrdude done.  Thank you.\n";
  tkb::AvrdudeProgress progress;
  std::vector<std::pair<tkb::FirmwareStage, int>> seen;
  for (size_t at = 0; at < output.size(); at += 7) {  // as it arrives, in pieces
    for (const tkb::FirmwareProgress& p : progress.feed(std::string_view(output).substr(at, 7)))
      seen.emplace_back(p.stage, p.percent);
  }
  using S = tkb::FirmwareStage;
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front(), std::make_pair(S::Writing, 0)) << "the signature read is not the verification";
  EXPECT_NE(std::find(seen.begin(), seen.end(), std::make_pair(S::Writing, 100)), seen.end());
  EXPECT_EQ(seen.back(), std::make_pair(S::Verifying, 100));
  // All of it at once still shows where writing ended.
  tkb::AvrdudeProgress whole;
  const auto once = whole.feed(output);
  EXPECT_NE(std::find(once.begin(), once.end(), tkb::FirmwareProgress{S::Writing, 100}), once.end());
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
}

}  // namespace
