// probeController: finds the pedal controller by trying every serial port name COM0..COM255
// with the identification exchange (0x4A) and the model exchange (0x3A), and leaves the
// controller's link open on the port that answered. Firmware older than 7.06 is handed to
// the firmware updater after a full pass.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/controller.h"

namespace tkb {

inline constexpr int kProbeReadAttempts = 30;
inline constexpr int kDtrPulseMs = 100;
inline constexpr int kMinimumFirmware = 706;  // major * 100 + minor
inline constexpr int kProbeResultUpdateFailed = 8;
// What a firmware updater returns when it cannot update at all (no image delivered): the
// probe then takes the controller with the firmware it has instead of asking again for ever.
inline constexpr int kFirmwareUpdateUnavailable = -1;

// Model replies of the 0x3A exchange and the probe results they give.
inline constexpr uint8_t kModelClutch = 0x1F;
inline constexpr uint8_t kModelClutchAlt = 0x4F;
inline constexpr uint8_t kModelNoClutch = 0x2F;
inline constexpr uint8_t kModelNoClutchAlt = 0x3F;

// What the probe saw, for the firmware update: every existing port of the current pass in
// probing order, and the name of the port whose identification last passed.
struct ProbeTables {
  std::vector<std::string> portsSeen;
  std::string controllerPort;
};

// Runs the firmware update. Returns 8 when the bootloader's port could not be identified,
// kFirmwareUpdateUnavailable when no update can be made, nothing when the probe is to scan
// again from port 0.
using FirmwareUpdater = std::function<std::optional<int>(Controller&, const ProbeTables&)>;

struct ProbeOptions {
  FirmwareUpdater firmwareUpdate;      // empty: old firmware is reported and scanning goes on
  const std::atomic<bool>* stop = nullptr;  // set from another thread to give up (result 0)
  int passPauseMs = 500;  // between full passes without a controller, so no core is kept busy
  int maxPasses = 0;      // 0: for ever (tests bound it)
  // Also open ports whose USB ids name another maker's device (config.ini switch).
  bool probeAllPorts = false;
};

// 1: controller with clutch; 2, 3: controller without clutch; 8: update failed;
// 0: stopped or out of passes before a controller answered.
int probeController(Controller& controller, const ProbeOptions& options = {});

// start-up's mapping of a probe result onto the state: 1 sets connected and hasClutch,
// 2 and 3 set connected and clear hasClutch, anything else clears connected.
void applyProbeResult(ControllerState& state, int result);

}  // namespace tkb
