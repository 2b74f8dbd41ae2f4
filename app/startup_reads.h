// The reads that fill ControllerState once the probe has found the controller: the
// start-up readings, model and colour (sent back at once), the firmware version, and
// loadData, which reads the whole configuration in the controller's fixed order.
// Each step says which of its queries got no accepted reply; those fields stay unknown,
// and nothing unknown is sent back. Used by the start-up sequence of TKB-Tunedeck,
// tkb-cli and the settings kept across a firmware update.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "app/usage_log.h"
#include "link/controller.h"

namespace tkb {

inline constexpr int16_t kBrakeMaxPreset = 4096;
inline constexpr int kFirmwareThirdPreset = 10;

// What one or more read steps got: every query whose reply was not accepted, in order.
struct ReadReport {
  std::vector<std::pair<Query, QueryResult>> failed;

  bool ok() const { return failed.empty(); }
  void add(const ReadReport& other);
  // Runs one query and notes it when its reply was not accepted.
  bool ask(Controller& controller, Query query);
  // "A8 timed out, A9 skipped" (request bytes in hex); empty when nothing failed.
  std::string describe() const;
};

// 0x5A: the clutch, brake and throttle readings of the [Inicio] line.
ReadReport readStartReadings(Controller& controller);
// 0xD4 and 0xD5 (out-of-range values read as 1); with sendBack, D6 and D7 sent back, each
// only when its read was accepted.
ReadReport readModelAndColour(Controller& controller, bool sendBack = true);
// 0x4A again. The third version number is preset to 10 for the reply; when no reply is
// accepted the version stays what it was.
ReadReport readFirmwareVersion(Controller& controller);
// Every configuration query in order, then the usage-log lines of the initial data (when a
// log is given). The brake maximum is preset to 4096 first, as unknown.
ReadReport loadData(Controller& controller, UsageLog* log);

// Every query of the controller's stored configuration (loadData's and model and colour),
// without sending anything or writing any log line; one action.
ReadReport readConfiguration(Controller& controller);

// All of the above in the start-up order, opening the logs between the readings and the
// model exchange when a log is given. Without writeBack, model and colour are not sent
// back (tkb-cli dump only reads). The whole sequence is one action: after the first query
// that gets no answer the rest is skipped (and reported), so a quiet controller costs one
// time-out.
ReadReport readControllerAtStartup(Controller& controller, UsageLog* log, bool writeBack = true);

}  // namespace tkb
