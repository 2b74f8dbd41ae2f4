// The reads that fill ControllerState once the probe has found the controller: the
// start-up readings, model and colour (sent back at once), the firmware version, and
// loadData, which reads the whole configuration in the controller's fixed order.
// Used by the start-up sequence of TKB-Tunedeck and by tkb-cli.
#pragma once

#include "app/usage_log.h"
#include "link/controller.h"

namespace tkb {

inline constexpr int16_t kBrakeMaxPreset = 4096;
inline constexpr int kFirmwareThirdPreset = 10;

// 0x5A: the clutch, brake and throttle readings of the [Inicio] line.
void readStartReadings(Controller& controller);
// 0xD4 and 0xD5 (out-of-range values read as 1), then D6 and D7 sent back.
void readModelAndColour(Controller& controller);
// 0x4A again, with the third version number preset to 10.
void readFirmwareVersion(Controller& controller);
// Every configuration query in order, then the usage-log
// lines of the initial data (when a log is given).
void loadData(Controller& controller, UsageLog* log);

// Every query of the controller's stored configuration (loadData's and model and colour),
// without sending anything or writing any log line. True when every reply was accepted.
bool readConfiguration(Controller& controller);

// All of the above in the start-up order, opening the logs between the readings and the
// model exchange when a log is given.
void readControllerAtStartup(Controller& controller, UsageLog* log);

}  // namespace tkb
