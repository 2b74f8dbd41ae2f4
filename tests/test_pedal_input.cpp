// The pedal input: report decoding, report descriptors, device identification, and the
// hidraw reader over a fake sysfs tree whose device node is a FIFO the test writes reports to.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link/pedal_input.h"
#include "link/trace.h"

namespace fs = std::filesystem;
using tkb::PedalAxes;

namespace {

using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------------------------------
// Pure parts

TEST(PedalReport, DecodesFourLittleEndianSignedAxes) {
  struct Case {
    Bytes report;
    PedalAxes axes;
  };
  const Case cases[] = {
      {{1, 0x01, 0x80, 0xFF, 0x7F, 0x00, 0x00, 0x00, 0x80}, {-32767, 32767, 0, -32768}},
      {{7, 0x34, 0x12, 0xFF, 0xFF, 0x01, 0x00, 0xCC, 0xED}, {0x1234, -1, 1, -4660}},
      // Trailing bytes of a longer report are not axes.
      {{1, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00, 0x05, 0x00, 0x99}, {2, 3, 4, 5}},
  };
  for (const Case& c : cases) {
    const std::optional<PedalAxes> axes = tkb::decodePedalReport(c.report);
    ASSERT_TRUE(axes.has_value());
    EXPECT_EQ(*axes, c.axes);
  }
  EXPECT_FALSE(tkb::decodePedalReport(Bytes{1, 0x01, 0x80, 0xFF, 0x7F, 0, 0, 0}).has_value());
  EXPECT_FALSE(tkb::decodePedalReport(Bytes{}).has_value());
}

// The pedals' own kind of descriptor: report id 1, four 16-bit axes.
const Bytes kPedalDescriptor = {
    0x05, 0x01, 0x09, 0x04, 0xA1, 0x01,  // Generic Desktop, Joystick, Collection
    0x85, 0x01,                          // Report ID 1
    0x09, 0x32, 0x09, 0x31, 0x09, 0x30, 0x09, 0x33,
    0x16, 0x01, 0x80, 0x26, 0xFF, 0x7F,  // logical -32767..32767
    0x75, 0x10, 0x95, 0x04,              // 16 bits x 4
    0x81, 0x02,                          // Input
    0xC0};

TEST(ReportDescriptor, GivesTheInputReportLength) {
  struct Case {
    const char* what;
    Bytes descriptor;
    std::optional<int> length;
  };
  Bytes withoutId = kPedalDescriptor;
  withoutId.erase(withoutId.begin() + 6, withoutId.begin() + 8);
  Bytes withButtonsAndOutput = kPedalDescriptor;
  withButtonsAndOutput.insert(withButtonsAndOutput.end() - 1,
                              {0x75, 0x01, 0x95, 0x08, 0x81, 0x02,    // 8 buttons in
                               0x75, 0x08, 0x95, 0x20, 0x91, 0x02});  // 32-byte output
  // Pop brings back the count of 2 that push saved: 5 + 2 bytes after the id.
  Bytes pushPop = {0x85, 0x02, 0x75, 0x08, 0x95, 0x02, 0xA4, 0x95, 0x05,
                   0x81, 0x02, 0xB4, 0x81, 0x02};
  const Case cases[] = {
      {"pedals", kPedalDescriptor, 9},
      {"no report id", withoutId, 8},
      {"buttons count, output does not", withButtonsAndOutput, 10},
      {"push and pop", pushPop, 8},
      {"cut inside an item", Bytes(kPedalDescriptor.begin(), kPedalDescriptor.begin() + 17),
       std::nullopt},
      {"no input", {0x05, 0x01, 0x75, 0x08, 0x95, 0x02, 0x91, 0x02}, std::nullopt},
      {"empty", {}, std::nullopt},
      {"long item skipped", {0xFE, 0x02, 0x10, 0xAA, 0xBB, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02},
       2},
  };
  for (const Case& c : cases) EXPECT_EQ(tkb::inputReportLength(c.descriptor), c.length) << c.what;
}

TEST(PedalUevent, MatchesThePedalIdsOnly) {
  const std::pair<const char*, bool> cases[] = {
      {"DRIVER=hid-generic\nHID_ID=0003:000016D0:00000F53\nHID_NAME=TKB\n", true},
      {"HID_ID=0003:000016d0:00000f53", true},
      {"HID_ID=0005:000016D0:00000F53\n", true},  // same pedals over another bus
      {"HID_ID=0003:000016D0:00000F54\n", false},
      {"HID_ID=0003:000016C0:00000F53\n", false},
      {"HID_NAME=HID_ID=0003:000016D0:00000F53\n", false},
      {"HID_ID=garbage\n", false},
      {"", false},
  };
  for (const auto& [text, match] : cases) EXPECT_EQ(tkb::isPedalUevent(text), match) << text;
}

// ---------------------------------------------------------------------------------------
// The hidraw reader over a fake device tree

class HidrawReader : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tkb-hid-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
    fs::permissions(root_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::create_directories(root_ / "sys/class/hidraw");
    fs::create_directories(root_ / "dev");
    traceFile_ = std::tmpfile();
    tkb::setTraceSink(traceFile_);
  }

  void TearDown() override {
    for (auto& [node, fd] : writers_) ::close(fd);
    tkb::setTraceSink(nullptr);
    std::fclose(traceFile_);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  tkb::DeviceRoots roots() const { return {(root_ / "sys").string(), (root_ / "dev").string()}; }

  // A hidraw node in sysfs with the given ids, and a FIFO as its device node, kept open for
  // writing by the test (a closed writer reads as an unplugged device).
  void plug(const std::string& node, const std::string& hidId = "0003:000016D0:00000F53") {
    const fs::path device = root_ / "sys/class/hidraw" / node / "device";
    fs::create_directories(device);
    std::ofstream(device / "uevent") << "DRIVER=hid-generic\nHID_ID=" << hidId << "\n";
    const fs::path fifo = root_ / "dev" / node;
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const int fd = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    writers_.emplace_back(node, fd);
  }

  void unplug(const std::string& node) {
    for (auto it = writers_.begin(); it != writers_.end(); ++it) {
      if (it->first != node) continue;
      ::close(it->second);
      writers_.erase(it);
      break;
    }
    fs::remove_all(root_ / "sys/class/hidraw" / node);
    fs::remove(root_ / "dev" / node);
  }

  void send(const std::string& node, const Bytes& bytes) {
    for (auto& [name, fd] : writers_) {
      if (name == node) {
        ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
      }
    }
  }

  static Bytes report(int16_t a1, int16_t a2, int16_t a3, int16_t a4) {
    Bytes r{1};
    for (int16_t v : {a1, a2, a3, a4}) {
      r.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) & 0xFF));
      r.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
    }
    return r;
  }

  std::string traced() {
    std::fflush(traceFile_);
    std::rewind(traceFile_);
    std::string text;
    char chunk[1024];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, traceFile_)) > 0) text.append(chunk, n);
    return text;
  }

  fs::path root_;
  std::vector<std::pair<std::string, int>> writers_;
  std::FILE* traceFile_ = nullptr;
};

TEST_F(HidrawReader, OpensTheLowestMatchingNodeByNumber) {
  plug("hidraw0", "0003:0000046D:0000C52B");  // some mouse
  plug("hidraw10");
  plug("hidraw2");
  tkb::HidrawPedalInput input(roots());
  tkb::ControllerState state;
  state.connected = true;
  EXPECT_TRUE(input.findJoystick(state));
  EXPECT_TRUE(state.connected);
  EXPECT_EQ(input.nodePath(), (root_ / "dev/hidraw2").string());
  EXPECT_EQ(input.reportLength(), tkb::kPedalReportBytes);  // a FIFO has no descriptor
  EXPECT_NE(traced().find("#1: 3"), std::string::npos);

  send("hidraw10", report(9, 9, 9, 9));
  send("hidraw2", report(-32767, 100, 200, 32767));
  input.readPedalAxes();
  EXPECT_EQ(input.axes(), (PedalAxes{-32767, 100, 200, 32767}));
}

TEST_F(HidrawReader, MissingPedalsClearConnected) {
  plug("hidraw0", "0003:0000046D:0000C52B");
  tkb::HidrawPedalInput input(roots());
  tkb::ControllerState state;
  state.connected = true;
  EXPECT_FALSE(input.findJoystick(state));
  EXPECT_FALSE(state.connected);
  EXPECT_FALSE(input.found());
  input.readPedalAxes();  // harmless without a device
  EXPECT_EQ(input.axes(), PedalAxes{});
}

TEST_F(HidrawReader, KeepsTheNewestCompleteReportAndIgnoresShortOnes) {
  plug("hidraw1");
  tkb::HidrawPedalInput input(roots());
  tkb::ControllerState state;
  ASSERT_TRUE(input.findJoystick(state));

  input.readPedalAxes();  // nothing there yet: the start values stay
  EXPECT_EQ(input.axes(), PedalAxes{});

  Bytes two = report(1, 2, 3, 4);
  const Bytes second = report(5, 6, 7, 8);
  two.insert(two.end(), second.begin(), second.end());
  send("hidraw1", two);
  input.readPedalAxes();
  EXPECT_EQ(input.axes(), (PedalAxes{5, 6, 7, 8}));

  send("hidraw1", {1, 0x10, 0x00, 0x20});  // a short report
  input.readPedalAxes();
  EXPECT_EQ(input.axes(), (PedalAxes{5, 6, 7, 8}));
  input.readPedalAxes();  // and then nothing at all
  EXPECT_EQ(input.axes(), (PedalAxes{5, 6, 7, 8}));
  EXPECT_TRUE(input.isOpen());

  send("hidraw1", report(-1, -2, -3, -4));
  input.readPedalAxes();
  EXPECT_EQ(input.axes(), (PedalAxes{-1, -2, -3, -4}));
}

TEST_F(HidrawReader, UnplugFreezesTheValuesAndReplugOpensTheNodeAgain) {
  plug("hidraw1");
  tkb::HidrawPedalInput input(roots());
  input.setReopenIntervalMs(0);
  tkb::ControllerState state;
  ASSERT_TRUE(input.findJoystick(state));
  send("hidraw1", report(100, 200, 300, 400));
  input.readPedalAxes();

  unplug("hidraw1");
  input.readPedalAxes();
  EXPECT_FALSE(input.isOpen());
  input.readPedalAxes();  // looks again, finds nothing
  EXPECT_EQ(input.axes(), (PedalAxes{100, 200, 300, 400}));

  plug("hidraw4");  // the kernel may give the pedals another number
  send("hidraw4", report(7, 8, 9, 10));
  input.readPedalAxes();
  EXPECT_TRUE(input.isOpen());
  EXPECT_EQ(input.nodePath(), (root_ / "dev/hidraw4").string());
  EXPECT_EQ(input.axes(), (PedalAxes{7, 8, 9, 10}));
}

TEST_F(HidrawReader, ReopeningWaitsForTheInterval) {
  plug("hidraw1");
  tkb::HidrawPedalInput input(roots());
  input.setReopenIntervalMs(60'000);
  tkb::ControllerState state;
  ASSERT_TRUE(input.findJoystick(state));
  unplug("hidraw1");
  input.readPedalAxes();
  plug("hidraw1");
  input.readPedalAxes();  // a 10 ms task must not scan the device tree every time
  EXPECT_FALSE(input.isOpen());
}

// The node exists but this user may not open it: the message names the rule's install
// command. Run as an unprivileged user in a child so that it also holds under root.
TEST_F(HidrawReader, UnreadableNodeSaysHowToInstallTheRule) {
  plug("hidraw3");
  fs::permissions(root_ / "dev/hidraw3", fs::perms::owner_write);
  EXPECT_EXIT(
      {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) std::_Exit(3);
        tkb::HidrawPedalInput input(roots());
        tkb::ControllerState state;
        state.connected = true;
        const bool found = input.findJoystick(state);
        const bool names = input.permissionProblem().find(tkb::kUdevRuleInstallCommand) !=
                           std::string::npos;
        std::_Exit(!found && !state.connected && names ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST_F(HidrawReader, CalibrationResetWithoutAPedalJoystickDoesNothing) {
  const fs::path js = root_ / "sys/class/input/js0/device/id";
  fs::create_directories(js);
  std::ofstream(js / "vendor") << "046d\n";
  std::ofstream(js / "product") << "c52b\n";
  fs::create_directories(root_ / "dev/input");
  std::ofstream(root_ / "dev/input/js0") << "";
  EXPECT_FALSE(tkb::resetJoystickCalibration(roots()));
  // The pedals' joystick, but its node refuses the correction call: still only false.
  const fs::path pedals = root_ / "sys/class/input/js1/device/id";
  fs::create_directories(pedals);
  std::ofstream(pedals / "vendor") << "16d0\n";
  std::ofstream(pedals / "product") << "0f53\n";
  std::ofstream(root_ / "dev/input/js1") << "untouched";
  EXPECT_FALSE(tkb::resetJoystickCalibration(roots()));
  std::ifstream node(root_ / "dev/input/js1");
  std::string text;
  node >> text;
  EXPECT_EQ(text, "untouched");
  EXPECT_FALSE(tkb::resetJoystickCalibration(tkb::DeviceRoots{"/nonexistent", "/nonexistent"}));
}

}  // namespace
