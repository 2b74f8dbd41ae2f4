// The pedal input: report decoding, report descriptors, device identification, and the
// hidraw reader over a fake sysfs tree whose device node is a FIFO the test writes reports to.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fake_event_nodes.h"
#include "link/pedal_input.h"
#include "link/trace.h"

namespace fs = std::filesystem;
using tkb::PedalAxes;

namespace {

using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------------------------------
// Pure parts

const tkb::PedalReportLayout kWithId1{true, 1, 9, 9};
const tkb::PedalReportLayout kWithoutIds{false, std::nullopt, 8, 8};

TEST(PedalReport, TakesTheAxesOfTheAxesReportOnly) {
  using Kind = tkb::PedalReport::Kind;
  struct Case {
    const char* what;
    Bytes report;
    tkb::PedalReportLayout layout;
    Kind kind;
    PedalAxes axes;
  };
  const Case cases[] = {
      {"unknown id: any id", {1, 0x01, 0x80, 0xFF, 0x7F, 0x00, 0x00, 0x00, 0x80}, {},
       Kind::Axes, {-32767, 32767, 0, -32768}},
      {"unknown id: any id", {7, 0x34, 0x12, 0xFF, 0xFF, 0x01, 0x00, 0xCC, 0xED}, {},
       Kind::Axes, {0x1234, -1, 1, -4660}},
      {"one byte short", {1, 0x01, 0x80, 0xFF, 0x7F, 0, 0, 0}, {}, Kind::UnexpectedLength, {}},
      {"one byte long", {1, 2, 0, 3, 0, 4, 0, 5, 0, 0x99}, {}, Kind::UnexpectedLength, {}},
      {"empty", {}, {}, Kind::UnexpectedLength, {}},
      {"the axes id", {1, 2, 0, 3, 0, 4, 0, 5, 0}, kWithId1, Kind::Axes, {2, 3, 4, 5}},
      {"another id", {2, 2, 0, 3, 0, 4, 0, 5, 0}, kWithId1, Kind::OtherReport, {}},
      {"another id, short", {3, 0xFF}, kWithId1, Kind::OtherReport, {}},
      {"the axes id, short", {1, 0xFF}, kWithId1, Kind::UnexpectedLength, {}},
      {"no ids: axes from byte 0", {0x01, 0x80, 0xFF, 0x7F, 2, 0, 3, 0}, kWithoutIds, Kind::Axes,
       {-32767, 32767, 2, 3}},
      {"no ids: an id byte too many", {1, 1, 0x80, 0xFF, 0x7F, 2, 0, 3, 0}, kWithoutIds,
       Kind::UnexpectedLength, {}},
  };
  for (const Case& c : cases) {
    const tkb::PedalReport r = tkb::decodePedalReport(c.report, c.layout);
    EXPECT_EQ(r.kind, c.kind) << c.what;
    EXPECT_EQ(r.axes, c.axes) << c.what;
  }
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

// A report of eight buttons with id 2, declared before the axes report with id 3.
const Bytes kButtonsFirstDescriptor = {0x85, 0x02, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02,
                                       0x85, 0x03, 0x75, 0x10, 0x95, 0x04, 0x81, 0x02};

const Bytes kWrappingDescriptor = {0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF,
                                   0x81, 0x02, 0x77, 0x05, 0x00, 0x00, 0x00, 0x97, 0x73, 0x66,
                                   0x66, 0x66, 0x81, 0x02};

TEST(ReportDescriptor, GivesTheAxesReportLayout) {
  struct Case {
    const char* what;
    Bytes descriptor;
    std::optional<tkb::PedalReportLayout> layout;
  };
  Bytes withoutId = kPedalDescriptor;
  withoutId.erase(withoutId.begin() + 6, withoutId.begin() + 8);
  Bytes withButtonsAndOutput = kPedalDescriptor;
  withButtonsAndOutput.insert(withButtonsAndOutput.end() - 1,
                              {0x75, 0x01, 0x95, 0x08, 0x81, 0x02,    // 8 buttons in
                               0x75, 0x08, 0x95, 0x20, 0x91, 0x02});  // 32-byte output
  Bytes vendorReportAfter = kPedalDescriptor;
  vendorReportAfter.insert(vendorReportAfter.end(), {0x85, 0x05, 0x75, 0x08, 0x95, 0x20, 0x81, 0x02});
  // Pop brings back the count of 2 that push saved: 6 + 2 bytes after the id.
  Bytes pushPop = {0x85, 0x02, 0x75, 0x08, 0x95, 0x02, 0xA4, 0x95, 0x06,
                   0x81, 0x02, 0xB4, 0x81, 0x02};
  const Case cases[] = {
      {"pedals", kPedalDescriptor, kWithId1},
      {"no report id", withoutId, kWithoutIds},
      {"buttons count, output does not", withButtonsAndOutput, tkb::PedalReportLayout{true, 1, 10, 10}},
      {"buttons report first", kButtonsFirstDescriptor, tkb::PedalReportLayout{true, 3, 9, 9}},
      {"longer vendor report after the axes", vendorReportAfter, tkb::PedalReportLayout{true, 1, 9, 33}},
      {"push and pop", pushPop, tkb::PedalReportLayout{true, 2, 9, 9}},
      {"8-bit axes only", {0x85, 0x01, 0x75, 0x08, 0x95, 0x04, 0x81, 0x02}, std::nullopt},
      {"cut inside an item", Bytes(kPedalDescriptor.begin(), kPedalDescriptor.begin() + 17),
       std::nullopt},
      {"no input", {0x05, 0x01, 0x75, 0x08, 0x95, 0x10, 0x91, 0x02}, std::nullopt},
      // (2^32-1)^2 + 5 * 0x66666673 bits wrap around to 64 bits.
      {"bit count past 64 bits", kWrappingDescriptor, std::nullopt},
      {"empty", {}, std::nullopt},
      {"long item skipped", {0xFE, 0x02, 0x10, 0xAA, 0xBB, 0x75, 0x08, 0x95, 0x08, 0x81, 0x02},
       kWithoutIds},
  };
  for (const Case& c : cases) EXPECT_EQ(tkb::pedalReportLayout(c.descriptor), c.layout) << c.what;
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
    tkb::setTraceSink(nullptr);
    std::fclose(traceFile_);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  tkb::DeviceRoots roots() const { return {(root_ / "sys").string(), (root_ / "dev").string()}; }

  // A hidraw node in sysfs with the given ids and, when given, its report descriptor; a
  // FIFO as its device node (which has no descriptor of its own to tell).
  void plug(const std::string& node, const std::string& hidId = "0003:000016D0:00000F53",
            const Bytes& descriptor = {}) {
    const fs::path device = root_ / "sys/class/hidraw" / node / "device";
    fs::create_directories(device);
    std::ofstream(device / "uevent") << "DRIVER=hid-generic\nHID_ID=" << hidId << "\n";
    if (!descriptor.empty())
      std::ofstream(device / "report_descriptor", std::ios::binary)
          .write(reinterpret_cast<const char*>(descriptor.data()), std::streamsize(descriptor.size()));
    fifos_.open(node, (root_ / "dev" / node).string());
  }

  void unplug(const std::string& node) {
    fifos_.close(node);
    fs::remove_all(root_ / "sys/class/hidraw" / node);
    fs::remove(root_ / "dev" / node);
  }

  void send(const std::string& node, const Bytes& bytes) {
    fifos_.write(node, bytes.data(), bytes.size());
  }

  static Bytes report(int16_t a1, int16_t a2, int16_t a3, int16_t a4, int id = 1) {
    Bytes r;
    if (id >= 0) r.push_back(static_cast<uint8_t>(id));
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
  tkb::test::FifoNodes fifos_;
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

// A kept malformed input (tests/data/reports), named after the fault it once caused.
Bytes dataFile(const std::string& name) {
  const char* data = std::getenv("TKB_TEST_DATA");
  std::ifstream in(std::string(data != nullptr ? data : "tests/data") + "/reports/" + name,
                   std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Each report is sent and taken in on its own, as hidraw hands them out; the trace names
// an axes report of an unexpected length once per opening.
TEST_F(HidrawReader, TakesTheAxesReportTheDescriptorDeclares) {
  struct Case {
    const char* what;
    Bytes descriptor;
    std::vector<Bytes> reports;
    PedalAxes axes;
    int lengthTraces;
  };
  const Case cases[] = {
      {"a report of another id is not the axes", kPedalDescriptor,
       {report(1, 2, 3, 4), dataFile("report-of-another-id-read-as-axes")}, {1, 2, 3, 4}, 0},
      {"short axes reports", kPedalDescriptor,
       {report(1, 2, 3, 4), {1, 0x10, 0x00, 0x20}, {1, 0x10}}, {1, 2, 3, 4}, 1},
      {"no report ids: axes from byte 0", dataFile("descriptor-without-report-ids-never-read"),
       {report(-5, 6, -7, 8, -1)}, {-5, 6, -7, 8}, 0},
      {"no report ids, short report", dataFile("descriptor-without-report-ids-never-read"),
       {report(-5, 6, -7, 8, -1), {1, 2, 3}}, {-5, 6, -7, 8}, 1},
      {"buttons report before the axes report", kButtonsFirstDescriptor,
       {report(10, 20, 30, 40, 3), {2, 0xFF}}, {10, 20, 30, 40}, 0},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string node = "hidraw" + std::to_string(n++);
    plug(node, "0003:000016D0:00000F53", c.descriptor);
    const size_t tracedBefore = traced().size();
    tkb::HidrawPedalInput input(roots());
    tkb::ControllerState state;
    ASSERT_TRUE(input.findJoystick(state)) << c.what;
    for (const Bytes& r : c.reports) {
      send(node, r);
      input.readPedalAxes();
    }
    EXPECT_EQ(input.axes(), c.axes) << c.what;
    const std::string lines = traced().substr(tracedBefore);
    int traces = 0;
    for (size_t at = lines.find("ignorado"); at != std::string::npos; at = lines.find("ignorado", at + 1))
      ++traces;
    EXPECT_EQ(traces, c.lengthTraces) << c.what << "\n" << lines;
    unplug(node);
  }
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
        const bool names = input.permissionProblem().find(tkb::udevAccessHint()) !=
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
