// probeController: finds the pedal controller by trying every serial port name COM0..COM255
// with the identification exchange (0x4A) and the model exchange (0x3A), and leaves the
// controller's link open on the port that answered. Firmware older than 7.06 is handed to
// the firmware updater after a full pass.
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/controller.h"
#include "link/usb_port.h"

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
// probing order, the name of the port whose identification last passed, and the first
// port that reported firmware older than 7.06 (the one to update: another pedal set on a
// later port may be up to date).
struct ProbeTables {
  std::vector<std::string> portsSeen;
  std::string controllerPort;
  std::string oldFirmwarePort;
};

// Runs the firmware update. Returns 8 when the bootloader's port could not be identified,
// kFirmwareUpdateUnavailable when no update can be made, nothing when the probe is to scan
// again from port 0.
using FirmwareUpdater = std::function<std::optional<int>(Controller&, const ProbeTables&)>;

// Why a pass of the search passed over a port that exists.
enum class PortOutcome {
  OtherMaker,    // USB ids of another maker's device: left alone, never opened
  NoPermission,  // the open was refused (EACCES, EPERM)
  InUse,         // another program holds it exclusively (EBUSY)
  NotOpened,     // the open failed otherwise (error says why)
  NotAnswering,  // opened, but no reply of the pedal set to the identification and model
};

// What one pass saw of a port.
struct PortSighting {
  std::string name;  // "COM3"
  std::string path;  // "/dev/ttyACM3"
  std::optional<UsbIds> ids;
  PortOutcome outcome = PortOutcome::NotAnswering;
  int error = 0;  // errno of a failed open
};

// One full pass without a controller: its number (1 for the first) and every existing port
// in probing order.
struct ProbePass {
  int number = 0;
  std::vector<PortSighting> ports;
};

struct ProbeOptions {
  // Empty: a controller with old firmware is taken as it is. The updater is asked at most
  // once per probe; afterwards the controller is taken with whatever firmware it reports.
  FirmwareUpdater firmwareUpdate;
  const std::atomic<bool>* stop = nullptr;  // set from another thread to give up (result 0)
  int passPauseMs = 500;  // between full passes without a controller, so no core is kept busy
  int maxPasses = 0;      // 0: for ever (tests bound it)
  // Also open ports whose USB ids name another maker's device (config.ini switch).
  bool probeAllPorts = false;
  // Called on the probe's own thread after each pass that found no controller, before the
  // pause; whoever shows it elsewhere takes a copy.
  std::function<void(const ProbePass&)> passSeen;
};

// 1: controller with clutch; 2, 3: controller without clutch; 8: update failed;
// 0: stopped or out of passes before a controller answered.
int probeController(Controller& controller, const ProbeOptions& options = {});

// Opens a port exclusively, sets 9600 8N1 with the time-outs and pulses DTR, each failing
// call printing its own line, as the probe does for every port. Returns the open's errno, 0
// when the port is open.
int openAndConfigure(SerialPort& port, const std::string& path);
// The identification exchange alone (0x4A, up to 30 reads): the three version numbers
// when the reply passes its frame check.
std::optional<std::array<int, 3>> identifyController(SerialPort& port);

// start-up's mapping of a probe result onto the state: 1 sets connected and hasClutch,
// 2 and 3 set connected and clear hasClutch, anything else clears connected.
void applyProbeResult(ControllerState& state, int result);

}  // namespace tkb
