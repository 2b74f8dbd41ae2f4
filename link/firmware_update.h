// The firmware update that the probe runs when the controller reports firmware older than
// 7.06: the controller is restarted into its bootloader with wkf/modo.sh (the 1200-baud
// touch), the bootloader's serial port is found by comparing the port lists before and after,
// and avrdude writes wkf/firmcor.wkf through it. Used by the start-up probe.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "link/probe.h"

namespace tkb {

// The bootloader needs this long to show up after the touch.
inline constexpr int kBootloaderWaitMs = 5000;
// avrdude is given this long to write the image before the probe looks again.
inline constexpr int kFlashWaitMs = 10000;
// No new port after the first rescan: look again this often, for this long, then give up.
inline constexpr int kNewPortRescanMs = 250;
inline constexpr int kNewPortSearchMs = 10000;
// A flashing tool still running after kFlashWaitMs is waited for up to this much longer:
// probing the bootloader's port while avrdude writes would break the update.
inline constexpr int kFlashToolLimitMs = 120000;

inline constexpr const char* kToolFolder = "wkf";
inline constexpr const char* kFirmwareImage = "firmcor.wkf";

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

struct FirmwareUpdateOptions {
  std::string toolFolder = kToolFolder;     // holds firmcor.wkf; the tools run in it
  // As the tools started in toolFolder name them: beside the image when staged, the
  // installed script and the system's avrdude.conf when installed.
  std::string bootloaderScript = "modo.sh";
  std::string avrdudeConfig = "avrdude.conf";
  const std::atomic<bool>* stop = nullptr;  // the probe's stop flag: ends every wait early
  int bootloaderWaitMs = kBootloaderWaitMs;
  int flashWaitMs = kFlashWaitMs;
  int newPortRescanMs = kNewPortRescanMs;
  int newPortSearchMs = kNewPortSearchMs;
};

// The command lines, as started in the tool folder and printed in the trace.
std::vector<std::string> bootloaderRequestCommand(const std::string& controllerPort,
                                                  const std::string& script = "modo.sh");
std::vector<std::string> flashCommand(const std::string& bootloaderPort,
                                      const std::string& avrdudeConfig = "avrdude.conf");

// Runs one update for the controller on tables.controllerPort. Returns 8 when the bootloader's
// port could not be identified, kFirmwareUpdateUnavailable when there is no image to write
// (the controller is then kept with the firmware it has), and nothing when the probe is to
// scan again from port 0.
std::optional<int> updateFirmware(Controller& controller, const ProbeTables& tables,
                                  const FirmwareUpdateOptions& options = {});

// The hook for ProbeOptions::firmwareUpdate.
FirmwareUpdater makeFirmwareUpdater(FirmwareUpdateOptions options = {});

}  // namespace tkb
