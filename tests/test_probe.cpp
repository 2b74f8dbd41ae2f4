// probeController over several emulated ports: which port wins, the firmware check, the
// model replies, and the 30 read attempts that both exchanges of a port share.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <termios.h>

#include <sys/ioctl.h>
#include <sys/stat.h>

#include "dac_override.h"
#include "emulator_fixture.h"
#include "link/probe.h"
#include "link/usb_port.h"

namespace tkb {
namespace {

using test::EmulatedPorts;
using test::TraceCapture;

ProbeOptions onePass() {
  ProbeOptions options;
  options.maxPasses = 1;
  options.passPauseMs = 0;
  return options;
}

std::vector<uint8_t> requestsOf(const emu::PedalEmulator& emulator) {
  std::vector<uint8_t> out;
  for (const auto& f : emulator.received())
    if (f.size() == 1) out.push_back(f[0]);
  return out;
}

TEST(Probe, ModelRepliesGiveTheResult) {
  const std::pair<uint8_t, int> cases[] = {{0x1F, 1}, {0x4F, 1}, {0x2F, 2}, {0x3F, 3}, {0x5F, 0}};
  for (auto [reply, result] : cases) {
    SCOPED_TRACE(int(reply));
    EmulatedPorts ports;
    emu::FirmwareState state;
    state.modelReply = reply;
    ports.add(4, state);
    Controller controller;
    EXPECT_EQ(probeController(controller, onePass()), result);
    if (result != 0) {
      EXPECT_EQ(controller.portName(), "COM4");
      EXPECT_TRUE(controller.link().isOpen());
    }
  }
}

TEST(Probe, ResultMapsOntoTheState) {
  const std::tuple<int, bool, bool> cases[] = {
      {1, true, true}, {2, true, false}, {3, true, false}, {8, false, true}, {0, false, true}};
  for (auto [result, connected, clutch] : cases) {
    ControllerState s;
    s.hasClutch = true;
    applyProbeResult(s, result);
    EXPECT_EQ(s.connected, connected) << result;
    EXPECT_EQ(s.hasClutch, clutch) << result;
    EXPECT_EQ(s.probeResult, result);
  }
}

TEST(Probe, LowerPortWins) {
  EmulatedPorts ports;
  emu::FirmwareState noClutch;
  noClutch.modelReply = 0x2F;
  ports.add(9);
  ports.add(3, noClutch);
  Controller controller;
  EXPECT_EQ(probeController(controller, onePass()), 2);
  EXPECT_EQ(controller.portName(), "COM3");
  EXPECT_TRUE(ports.at(9).received().empty());
}

TEST(Probe, FirmwareVersionDecidesOnTheUpdate) {
  struct Case {
    int major, minor;
    bool update;
  } cases[] = {{7, 5, true}, {7, 6, false}, {6, 99, true}, {8, 0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.major) + "." + std::to_string(c.minor));
    EmulatedPorts ports;
    emu::FirmwareState state;
    state.versionMajor = c.major;
    state.versionMinor = c.minor;
    ports.add(2, state);
    Controller controller;
    int updates = 0;
    ProbeOptions options = onePass();
    options.firmwareUpdate = [&](Controller&, const ProbeTables& tables) -> std::optional<int> {
      ++updates;
      EXPECT_EQ(tables.controllerPort, "COM2");
      EXPECT_EQ(tables.portsSeen, std::vector<std::string>{"COM2"});
      return 8;
    };
    TraceCapture capture;
    const int result = probeController(controller, options);
    EXPECT_EQ(updates, c.update ? 1 : 0);
    EXPECT_EQ(result, c.update ? 8 : 1);
    EXPECT_EQ(controller.state.firmwareVersion[0], c.major);
    EXPECT_EQ(controller.state.firmwareVersion[1], c.minor);
    EXPECT_EQ(capture.text().find("\nCARGAR FIRMWARE NECESARIO\n") != std::string::npos, c.update);
  }
}

// Once old firmware was seen, no later port gets the model exchange in that pass.
TEST(Probe, OldFirmwareSkipsTheModelExchangeForLaterPorts) {
  EmulatedPorts ports;
  emu::FirmwareState old;
  old.versionMinor = 5;
  ports.add(1, old);
  ports.add(6);
  Controller controller;
  ProbeOptions options = onePass();
  options.firmwareUpdate = [](Controller&, const ProbeTables& tables) -> std::optional<int> {
    EXPECT_EQ(tables.portsSeen, (std::vector<std::string>{"COM1", "COM6"}));
    EXPECT_EQ(tables.controllerPort, "COM6");  // the last port whose identification passed
    EXPECT_EQ(tables.oldFirmwarePort, "COM1");  // the one to update
    return 8;
  };
  EXPECT_EQ(probeController(controller, options), 8);
  EXPECT_EQ(requestsOf(ports.at(1)), std::vector<uint8_t>{0x4A});
  EXPECT_EQ(requestsOf(ports.at(6)), std::vector<uint8_t>{0x4A});
}

TEST(Probe, UpdaterThatReturnsNothingStartsANewPass) {
  EmulatedPorts ports;
  emu::FirmwareState old;
  old.versionMinor = 5;
  auto& emulator = ports.add(0, old);
  Controller controller;
  ProbeOptions options;
  options.maxPasses = 3;
  options.passPauseMs = 0;
  int updates = 0;
  options.firmwareUpdate = [&](Controller&, const ProbeTables&) -> std::optional<int> {
    ++updates;
    emulator.update([](emu::FirmwareState& s) { s.versionMinor = 6; });  // "flashed"
    return std::nullopt;
  };
  EXPECT_EQ(probeController(controller, options), 1);
  EXPECT_EQ(updates, 1);
  EXPECT_EQ(controller.state.firmwareVersion[1], 6);
}

TEST(Probe, ThirdByteNineIsAcceptedWithoutVersionTest) {
  EmulatedPorts ports;
  emu::FirmwareState state;
  state.versionMajor = 1;
  state.versionMinor = 0;
  auto& emulator = ports.add(5, state);
  emu::Faults faults;
  faults.identifyThirdByte9 = true;
  emulator.setFaults(faults);
  Controller controller;
  controller.state.firmwareVersion = {3, 3, 3};
  ProbeOptions options = onePass();
  options.firmwareUpdate = [](Controller&, const ProbeTables&) -> std::optional<int> {
    ADD_FAILURE() << "no update for a reply with third byte 9";
    return 8;
  };
  EXPECT_EQ(probeController(controller, options), 1);
  EXPECT_EQ(controller.state.firmwareVersion, (std::array<int, 3>{3, 3, 3}));
}

TEST(Probe, ModelReplyOfTwoBytesIsPassedOver) {
  EmulatedPorts ports;
  auto& shortReply = ports.add(2);
  emu::Faults faults;
  faults.replyOverride[0x3A] = {0x12, 0x1F};
  shortReply.setFaults(faults);
  ports.add(8);
  Controller controller;
  EXPECT_EQ(probeController(controller, onePass()), 1);
  EXPECT_EQ(controller.portName(), "COM8");
}

TEST(Probe, MalformedIdentificationRepliesAreNotControllers) {
  const std::pair<const char*, Bytes> cases[] = {
      {"wrong start", {0x13, 7, 6, 0, 0x21}}, {"wrong end", {0x12, 7, 6, 0, 0x20}},
      {"short", {0x12, 7, 6, 0x21}}, {"garbage", {0xDE, 0xAD, 0xBE, 0xEF, 0x00}}};
  for (const auto& [name, reply] : cases) {
    SCOPED_TRACE(name);
    EmulatedPorts ports;
    auto& emulator = ports.add(0);
    emu::Faults faults;
    faults.replyOverride[0x4A] = reply;
    faults.ignoredRequests = {0x3A};
    emulator.setFaults(faults);
    Controller controller;
    controller.state.firmwareVersion = {1, 2, 3};
    EXPECT_EQ(probeController(controller, onePass()), 0);
    EXPECT_EQ(controller.state.firmwareVersion, (std::array<int, 3>{1, 2, 3}));
  }
}

// A port silent to the identification uses up the 30 shared reads, so its model reply gets
// a single read of 60 ms and a reply 150 ms late is missed; with a working identification
// the model exchange has reads to spare and catches the same late reply.
TEST(Probe, SilentPortUsesUpTheSharedReadAttempts) {
  for (bool identifies : {false, true}) {
    SCOPED_TRACE(identifies ? "identifies" : "silent identification");
    EmulatedPorts ports;
    auto& slow = ports.add(3);
    emu::Faults faults;
    if (!identifies) faults.ignoredRequests = {0x4A};
    faults.replyDelayMs = 150;
    slow.setFaults(faults);
    ports.add(5);
    Controller controller;
    EXPECT_EQ(probeController(controller, onePass()), 1);
    EXPECT_EQ(controller.portName(), identifies ? "COM3" : "COM5");
  }
}

TEST(Probe, NamesThatDoNotExistAreNeverOpened) {
  EmulatedPorts ports;
  ports.add(7);
  Controller controller;
  TraceCapture capture;
  EXPECT_EQ(probeController(controller, onePass()), 1);
  const std::string text = capture.text();
  EXPECT_NE(text.find("\nCOM6 -> \n"), std::string::npos);
  EXPECT_EQ(text.find("\nSerial -> "), text.rfind("\nSerial -> "));  // only COM7 was opened
  EXPECT_NE(text.find("\nSerial -> " + ports.dir() + "/ttyACM7"), std::string::npos);
  EXPECT_NE(text.find("\nok - " + ports.dir() + "/ttyACM7 - Write"), std::string::npos);
}

// A fake sysfs tree: the USB device behind a port's device node (named as the node its
// link resolves to) with the given ids.
void giveUsbIds(const std::filesystem::path& sysfs, const std::string& portLink, const char* vendor,
                const char* product) {
  namespace fs = std::filesystem;
  static int device = 0;
  const fs::path usb = sysfs / "devices/usb1" / ("1-" + std::to_string(++device));
  fs::create_directories(usb / "1.0");
  std::ofstream(usb / "idVendor") << vendor << "\n";
  std::ofstream(usb / "idProduct") << product << "\n";
  const fs::path tty = sysfs / "class/tty" / fs::canonical(portLink).filename();
  fs::create_directories(tty);
  fs::create_directory_symlink(usb / "1.0", tty / "device");
}

// Another maker's device on a lower port (an Arduino) is never opened: no DTR pulse, no
// byte, its settings untouched. The config.ini switch opens it like any other port.
TEST(Probe, OtherMakersPortsAreLeftAlone) {
  for (bool probeAll : {false, true}) {
    SCOPED_TRACE(probeAll ? "probe every port" : "ids respected");
    EmulatedPorts ports;
    test::TempDir sysfs;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);
    const std::string arduino = ports.dir() + "/ttyACM2";
    ASSERT_EQ(::symlink(slave.c_str(), arduino.c_str()), 0);
    ports.add(5);
    giveUsbIds(sysfs.path(), arduino, "2341", "0043");
    giveUsbIds(sysfs.path(), ports.dir() + "/ttyACM5", "16d0", "0f53");
    ::setenv("TKB_SYSFS_ROOT", sysfs.path().c_str(), 1);
    EXPECT_EQ(portUsbIds("COM2"), (UsbIds{0x2341, 0x0043}));
    termios before{};
    ASSERT_EQ(::tcgetattr(master, &before), 0);
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(watch, slave.c_str(), IN_OPEN), 0);

    Controller controller;
    ProbeOptions options = onePass();
    options.probeAllPorts = probeAll;
    EXPECT_EQ(probeController(controller, options), 1);
    EXPECT_EQ(controller.portName(), "COM5");

    char event[256];
    EXPECT_EQ(::read(watch, event, sizeof event) > 0, probeAll) << "the port was opened";
    pollfd pending{master, POLLIN, 0};
    EXPECT_EQ(::poll(&pending, 1, 100) == 1, probeAll) << "bytes reached the port";
    if (!probeAll) {
      termios after{};
      ASSERT_EQ(::tcgetattr(master, &after), 0);
      EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
      EXPECT_EQ(after.c_lflag, before.c_lflag);
    }
    ::close(watch);
    ::close(master);
    ::unsetenv("TKB_SYSFS_ROOT");
  }
}

// A skipped port still exists: the firmware update's before-and-after lists keep it.
TEST(Probe, SkippedPortsStillCountAsSeen) {
  EmulatedPorts ports;
  test::TempDir sysfs;
  emu::FirmwareState old;
  old.versionMinor = 5;
  ports.add(1);
  ports.add(4, old);
  giveUsbIds(sysfs.path(), ports.dir() + "/ttyACM1", "0483", "5740");
  // Another product of the pedal maker (its bootloader has one of its own) is probed.
  giveUsbIds(sysfs.path(), ports.dir() + "/ttyACM4", "16d0", "0f54");
  ::setenv("TKB_SYSFS_ROOT", sysfs.path().c_str(), 1);
  Controller controller;
  ProbeOptions options = onePass();
  options.firmwareUpdate = [](Controller&, const ProbeTables& tables) -> std::optional<int> {
    EXPECT_EQ(tables.portsSeen, (std::vector<std::string>{"COM1", "COM4"}));
    return 8;
  };
  EXPECT_EQ(probeController(controller, options), 8);
  EXPECT_TRUE(ports.at(1).received().empty());
  ::unsetenv("TKB_SYSFS_ROOT");
}

// Each pass without a controller tells what it saw of every port and why it passed it over,
// so that the window can show it while the search goes on.
TEST(Probe, EachPassSaysWhyEveryPortWasPassedOver) {
  EmulatedPorts ports;
  test::TempDir sysfs;
  auto pty = [&](int number) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_GE(master, 0);
    EXPECT_EQ(::grantpt(master) | ::unlockpt(master), 0);
    const std::string link = ports.dir() + "/ttyACM" + std::to_string(number);
    EXPECT_EQ(::symlink(::ptsname(master), link.c_str()), 0);
    return master;
  };
  const int arduino = pty(1);
  giveUsbIds(sysfs.path(), ports.dir() + "/ttyACM1", "2341", "0043");
  emu::Faults silent;
  silent.ignoredRequests = {0x4A, 0x3A};
  ports.add(2).setFaults(silent);
  ASSERT_EQ(::mkfifo((ports.dir() + "/ttyACM3").c_str(), 0), 0);  // refuses us
  const int heldMaster = pty(4);
  const int held = ::open((ports.dir() + "/ttyACM4").c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::ioctl(held, TIOCEXCL), 0);  // another program holds it
  std::filesystem::create_directory(ports.dir() + "/ttyACM5");
  ::setenv("TKB_SYSFS_ROOT", sysfs.path().c_str(), 1);

  std::vector<ProbePass> passes;
  ProbeOptions options;
  options.maxPasses = 2;
  options.passPauseMs = 0;
  options.passSeen = [&](const ProbePass& pass) { passes.push_back(pass); };
  Controller controller;
  {
    // Root opens everything: the refusals need the kernel's own checks.
    test::WithoutDacOverride asUser;
    ASSERT_TRUE(asUser.dropped());
    test::WithoutCapability noAdmin(1u << CAP_SYS_ADMIN);  // TIOCEXCL binds all but root
    setTraceEnabled(false);
    EXPECT_EQ(probeController(controller, options), 0);
    setTraceEnabled(true);
  }
  ASSERT_EQ(passes.size(), 2u);
  EXPECT_EQ(passes[0].number, 1);
  EXPECT_EQ(passes[1].number, 2);
  struct Expected {
    const char* name;
    PortOutcome outcome;
    int error;
  };
  const Expected expected[] = {{"COM1", PortOutcome::OtherMaker, 0},  {"COM2", PortOutcome::NotAnswering, 0},
                               {"COM3", PortOutcome::NoPermission, EACCES}, {"COM4", PortOutcome::InUse, EBUSY},
                               {"COM5", PortOutcome::NotOpened, EISDIR}};
  for (const ProbePass& pass : passes) {
    ASSERT_EQ(pass.ports.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
      SCOPED_TRACE(expected[i].name);
      EXPECT_EQ(pass.ports[i].name, expected[i].name);
      EXPECT_EQ(pass.ports[i].path, ports.dir() + "/ttyACM" + std::to_string(i + 1));
      EXPECT_EQ(pass.ports[i].outcome, expected[i].outcome);
      EXPECT_EQ(pass.ports[i].error, expected[i].error);
    }
  }
  EXPECT_EQ(passes[0].ports[0].ids, (UsbIds{0x2341, 0x0043}));
  EXPECT_EQ(passes[0].ports[1].ids, std::nullopt);
  ::unsetenv("TKB_SYSFS_ROOT");
  for (int fd : {held, heldMaster, arduino}) ::close(fd);
}

TEST(Probe, StopFlagEndsAnEndlessSearch) {
  EmulatedPorts ports;  // no controller at all
  std::atomic<bool> stop{false};
  ProbeOptions options;
  options.stop = &stop;
  options.passPauseMs = 50;
  Controller controller;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop = true;
  });
  setTraceEnabled(false);
  EXPECT_EQ(probeController(controller, options), 0);
  setTraceEnabled(true);
  stopper.join();
}

}  // namespace
}  // namespace tkb
