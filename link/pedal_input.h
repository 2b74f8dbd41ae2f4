// The pedals as a joystick: the controller is also a USB game controller (vendor 0x16D0,
// product 0x0F53) whose four axes are throttle, brake, clutch and brake total. The program
// reads them for the live bars and the monitor through PedalInput; the real source is the
// hidraw node of the pedals, the demo mode and the tests use the emulator's simulated driver.
// Also the best-effort reset of the system's joystick correction before a calibration.
#pragma once

#include <signal.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/controller_state.h"

namespace tkb {

inline constexpr uint16_t kPedalVendorId = 0x16D0;
inline constexpr uint16_t kPedalProductId = 0x0F53;
// Report id, then four little-endian signed 16-bit axes.
inline constexpr int kPedalReportBytes = 9;
// While the pedals are unplugged, look for them again this often.
inline constexpr int kPedalReopenIntervalMs = 500;

// What gives the desktop user access to the pedals, for a message that cannot know where the
// program is installed: with the pedals' udev rule in one of udev's rule folders, the command
// that reloads it; without, where to find the command that installs the rule shipped with this
// installation (the doctor knows it).
std::string udevAccessHint();

// The four axes of the newest report; all 0 until one arrived.
struct PedalAxes {
  int16_t axis1 = 0;  // throttle
  int16_t axis2 = 0;  // brake, limited by the brake limit
  int16_t axis3 = 0;  // clutch (meaningful only with a clutch pedal)
  int16_t axis4 = 0;  // brake total, without the limit
  bool operator==(const PedalAxes&) const = default;
};

// Where the four axes are in what one read of the pedals' hidraw node gives. With report
// ids, byte 0 of every report is its id and only the axes report carries the axes; without
// them the axes start at byte 0. When the descriptor cannot be read: an id byte, any id.
struct PedalReportLayout {
  bool hasReportIds = true;
  std::optional<uint8_t> axesReportId;  // nothing: not known, any id is taken
  int length = kPedalReportBytes;       // bytes of the axes report, id included
  int longest = kPedalReportBytes;      // bytes of the longest input report: one read's buffer
  bool operator==(const PedalReportLayout&) const = default;
};

// What one report is to the pedal input.
struct PedalReport {
  enum class Kind { Axes, OtherReport, UnexpectedLength };
  Kind kind = Kind::OtherReport;
  PedalAxes axes;  // with Axes only
};

// Pure. One report as read from the node: the axes, a report of another id (buttons,
// vendor data: not the pedals' axes), or an axes report whose length is not the layout's.
PedalReport decodePedalReport(std::span<const uint8_t> report,
                              const PedalReportLayout& layout = {});
// Pure. The layout a HID report descriptor declares: the axes report is the first input
// report, in descriptor order, of at least the four 16-bit axes. Nothing for a descriptor
// without such a report or one that is cut short.
std::optional<PedalReportLayout> pedalReportLayout(std::span<const uint8_t> descriptor);
// Pure. Whether a hidraw node's device/uevent text names the pedals
// (line HID_ID=<bus>:000016D0:00000F53).
bool isPedalUevent(const std::string& ueventText);

// Where the device trees are: $TKB_SYSFS_ROOT (default /sys) and $TKB_DEV_ROOT (default /dev).
struct DeviceRoots {
  std::string sysfs = "/sys";
  std::string dev = "/dev";
  static DeviceRoots fromEnvironment();
};

// The pedals' hidraw node: the lowest $sysfs/class/hidraw/hidrawN whose device names the
// pedal ids, as $dev/hidrawN (whether it exists there or not); nothing without such a device.
std::optional<std::string> findPedalHidrawNode(const DeviceRoots& roots);

// A source of pedal positions. findJoystick once at start-up; readPedalAxes every 10 ms on
// the GUI thread; axes() for the bars. Neither call blocks.
class PedalInput {
 public:
  virtual ~PedalInput() = default;

  // Looks for the pedals. When they are not there, clears state.connected: start-up then
  // shows its not-connected state even though the serial probe succeeded.
  bool findJoystick(ControllerState& state);
  // Takes in what arrived since the last call; keeps the previous values when nothing did.
  virtual void readPedalAxes() = 0;
  PedalAxes axes() const { return axes_; }
  bool found() const { return found_; }

 protected:
  virtual bool open() = 0;
  PedalAxes axes_;

 private:
  bool found_ = false;
};

// The pedals' hidraw node: the lowest /sys/class/hidraw/hidrawN whose device names the pedal
// ids, opened non-blocking; its report descriptor tells which reports carry the axes (the
// fixed layout when it cannot be read). When it goes away (unplugged) the values stay as
// they were and the node is looked for again every kPedalReopenIntervalMs, so the bars come
// back by themselves when the pedals are plugged in again.
class HidrawPedalInput : public PedalInput {
 public:
  // accessFix: the command named when the node may not be opened.
  explicit HidrawPedalInput(DeviceRoots roots = DeviceRoots::fromEnvironment(),
                            std::string accessFix = udevAccessHint());
  ~HidrawPedalInput() override;
  HidrawPedalInput(const HidrawPedalInput&) = delete;
  HidrawPedalInput& operator=(const HidrawPedalInput&) = delete;

  void readPedalAxes() override;

  // For a reader that wants every report rather than the newest (tkb-cli record and
  // pedal-check), on a thread of its own: waits at most timeoutMs for the node to deliver,
  // then hands each axes report that is there to `report`, in arrival order (axes() ends as
  // the newest). waitMask, when given, is the signal mask during the wait (as ppoll takes
  // it): the caller blocks its stop signals and lets them in only here, so that none is
  // missed between its check and the wait. The node is not looked for again once lost.
  enum class Wait { Reports, Quiet, Interrupted, Lost };
  Wait waitForReports(int timeoutMs, const std::function<void(const PedalAxes&)>& report,
                      const sigset_t* waitMask = nullptr);

  bool isOpen() const { return fd_ >= 0; }
  const std::string& nodePath() const { return nodePath_; }
  int reportLength() const { return layout_.length; }
  const PedalReportLayout& reportLayout() const { return layout_; }
  // When the pedals' node exists but may not be opened: the message to show, naming the
  // command that installs the udev rule. Empty otherwise.
  const std::string& permissionProblem() const { return permissionProblem_; }
  void setReopenIntervalMs(int ms) { reopenIntervalMs_ = ms; }

 protected:
  bool open() override;

 private:
  bool openQuietly(bool traceCount);
  void lose();
  // Reads what the node holds, each axes report to `report`; false when the node was lost.
  bool drainReports(const std::function<void(const PedalAxes&)>& report);

  DeviceRoots roots_;
  std::string accessFix_;
  int fd_ = -1;
  std::string nodePath_;
  PedalReportLayout layout_;
  bool lengthTraced_ = false;  // an unexpected report length is traced once per opening
  std::string permissionProblem_;
  int reopenIntervalMs_ = kPedalReopenIntervalMs;
  std::chrono::steady_clock::time_point nextReopen_{};
  std::vector<uint8_t> buffer_;
};

// Removes any axis correction the system keeps for the pedals' joystick device
// (/dev/input/jsN of the pedal ids), so that games get the axes as the controller sends
// them. Best effort: without such a device or the right to change it, nothing happens.
// Returns whether a correction was reset; callers need not look.
bool resetJoystickCalibration();
bool resetJoystickCalibration(const DeviceRoots& roots);

}  // namespace tkb
