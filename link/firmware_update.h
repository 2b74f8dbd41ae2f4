// The firmware update that the probe runs when the controller reports firmware older than
// 7.06: the controller's settings are read and kept, the controller is restarted into its
// bootloader with wkf/modo.sh (the 1200-baud touch), the bootloader's serial port is found
// by comparing the port lists before and after, avrdude writes wkf/firmcor.wkf through it,
// and once the controller is back its settings are checked and sent back where they were
// lost. Used by the start-up probe of TKB-Tunedeck and by tkb-cli.
//
// Once the touch is made nothing ends the update early: a half-written controller does not
// start. Every wait is bounded, so the update always ends.
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/probe.h"

namespace tkb {

// After the touch the new port is looked for this often, for this long: the bootloader of
// an ATmega32u4 goes back to the old program after about 8 s without a programmer.
inline constexpr int kPortPollMs = 100;
inline constexpr int kBootloaderSearchMs = 8000;
// After avrdude, the controller is looked for this long.
inline constexpr int kControllerReturnMs = 10000;
// modo.sh only sets the line speed; it is given this long.
inline constexpr int kTouchToolLimitMs = 5000;
// avrdude is ended after this long: a programmer that hangs must not hang the program.
inline constexpr int kFlashToolLimitMs = 120000;

inline constexpr const char* kToolFolder = "wkf";
inline constexpr const char* kFirmwareImage = "firmcor.wkf";
inline constexpr const char* kFlashLogName = "avrdude.log";

// How the port list after the bootloader request compares with the list the probe saw.
enum class PortChange {
  BootloaderFound,    // exactly one new port, and only the controller's own port vanished
  OtherPortVanished,  // a port other than the controller's is gone
  SeveralNewPorts,    // more than one new port: no way to tell which one is the bootloader
  NoNewPort,          // nothing new (yet)
};

struct PortComparison {
  PortChange change = PortChange::NoNewPort;
  std::string newPort;  // the bootloader's port when change is BootloaderFound
};

// Pure: `before` is what the probe saw, `after` the rescan, `controllerPort` the port whose
// identification reported the old firmware. A vanished foreign port is checked first.
// controllerPortReplaced: the controller's name is back but stands for another device (on
// Linux the bootloader usually takes the lowest free name, often the controller's own);
// the name then counts as a new port.
PortComparison comparePortLists(const std::vector<std::string>& before,
                                const std::vector<std::string>& after,
                                const std::string& controllerPort,
                                bool controllerPortReplaced = false);

// The stages the driver is shown, in order.
enum class FirmwareStage { Restarting, WaitingForBootloader, Writing, Verifying, WaitingForController };

struct FirmwareProgress {
  FirmwareStage stage = FirmwareStage::Restarting;
  int percent = -1;  // avrdude's own progress while writing and verifying, else -1
  bool operator==(const FirmwareProgress&) const = default;
};

// Follows avrdude's progress output as it arrives. Without a terminal avrdude prints a
// header ("Writing | ", "Reading | ") and then one '#' per 2 % of the work; the first
// "Reading" bar (the signature) comes before anything is written, the one after the
// writing is the verification. Pure.
class AvrdudeProgress {
 public:
  // What changed in this piece of output, in order: each bar that starts, and the last
  // percentage each bar reached in it.
  std::vector<FirmwareProgress> feed(std::string_view output);
  FirmwareStage stage() const { return stage_; }
  int percent() const { return percent_; }

 private:
  FirmwareStage stage_ = FirmwareStage::Writing;
  int percent_ = 0;
  int hashes_ = 0;
  bool inBar_ = false;
  bool wrote_ = false;
  std::string tail_;
};

enum class FirmwareOutcome {
  Updated,             // the controller came back at 7.06 or later
  NoImage,             // no image to write: nothing was done
  SettingsUnread,      // the controller's settings could not be read: nothing was done
  AlreadyTried,        // one attempt per run: nothing was done
  BootloaderNotFound,  // the bootloader's port could not be told apart (result 8)
  ToolNotStarted,      // avrdude could not be started
  ToolFailed,          // avrdude ended with a failure (or hung and was ended)
  NotBack,             // the controller did not come back in time
  StillOld,            // the controller came back still older than 7.06
};

struct FirmwareReport {
  FirmwareOutcome outcome = FirmwareOutcome::Updated;
  int toolStatus = 0;                  // avrdude's exit status for ToolFailed (-1: ended)
  std::array<int, 3> versionAfter{};   // what the controller reported when it came back
  std::string logPath;                 // avrdude's output
  std::string image;
  std::vector<std::string> restoredSettings;  // settings that had to be sent back
};

// Keeps the controller's settings across the update. The controller link is open on the
// controller's port for both calls.
class SettingsKeeper {
 public:
  virtual ~SettingsKeeper() = default;
  // Reads the whole configuration and keeps it. False: it could not be read, and the update
  // must not start.
  virtual bool saveBefore(Controller& controller) = 0;
  // Reads it again and sends back what differs; the names of the settings sent.
  virtual std::vector<std::string> restoreAfter(Controller& controller) = 0;
};

struct FirmwareUpdateOptions {
  std::string toolFolder = kToolFolder;  // holds firmcor.wkf; the tools run in it
  // As the tools started in toolFolder name them: beside the image when staged, the
  // installed script and the system's avrdude.conf when installed.
  std::string bootloaderScript = "modo.sh";
  std::string avrdudeConfig = "avrdude.conf";
  std::string image;                     // empty: firmcor.wkf in the tool folder
  std::string logPath;                   // avrdude's output; empty: none kept
  // The probe's stop flag: ends the update before the touch; never after it.
  const std::atomic<bool>* stop = nullptr;
  // Set from the touch until the update has ended: the program must not end meanwhile.
  std::atomic<bool>* busy = nullptr;
  std::shared_ptr<SettingsKeeper> settings;  // none: settings are not looked at
  // Called on the thread that runs the update.
  std::function<void(const FirmwareProgress&)> progress;
  std::function<void(const FirmwareReport&)> finished;
  int portPollMs = kPortPollMs;
  int bootloaderSearchMs = kBootloaderSearchMs;
  int controllerReturnMs = kControllerReturnMs;
};

// The command lines, as started in the tool folder and printed in the trace.
std::vector<std::string> bootloaderRequestCommand(const std::string& controllerPort,
                                                  const std::string& script = "modo.sh");
std::vector<std::string> flashCommand(const std::string& bootloaderPort,
                                      const std::string& avrdudeConfig = "avrdude.conf",
                                      const std::string& image = kFirmwareImage);

// Runs one update for the controller on tables.oldFirmwarePort and reports it through
// options.finished. Returns 8 when the bootloader's port could not be identified,
// kFirmwareUpdateUnavailable when nothing was done (the controller is then kept with the
// firmware it has), and nothing when the probe is to scan again from port 0.
std::optional<int> updateFirmware(Controller& controller, const ProbeTables& tables,
                                  const FirmwareUpdateOptions& options = {});

// The hook for ProbeOptions::firmwareUpdate. It restarts the controller into its bootloader
// at most once: later calls report AlreadyTried and keep the old firmware.
FirmwareUpdater makeFirmwareUpdater(FirmwareUpdateOptions options = {});

// A short English line on an outcome, for traces and tkb-cli.
std::string describeFirmwareReport(const FirmwareReport& report);

}  // namespace tkb
