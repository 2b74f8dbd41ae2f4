#include "link/probe.h"

#include <cerrno>
#include <chrono>
#include <thread>

#include "link/pedal_input.h"
#include "link/trace.h"
#include "link/usb_port.h"

namespace tkb {
namespace {

bool stopRequested(const ProbeOptions& options) {
  return options.stop != nullptr && options.stop->load();
}

void sleepUnlessStopped(int ms, const ProbeOptions& options) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < until && !stopRequested(options))
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 20)));
}

// Writes the identification request and reads its reply, sharing the attempt counter with
// the model exchange that follows.
void readIdentification(SerialPort& port, uint8_t (&id)[kIdentifyReplyBytes], int& readAttempts) {
  const uint8_t identify = kIdentifyRequest;
  // What an earlier session left in the port (a late reply) is not the identification.
  port.discardInput();
  if (!port.write({&identify, 1})) return;
  ReadResult r;
  do {
    r = port.read(id);
    ++readAttempts;
  } while (r.count < kIdentifyReplyBytes && readAttempts < kProbeReadAttempts);
}

}  // namespace

// Steps 4 to 6: open exclusively, 9600 8N1 with the time-outs, then a DTR pulse. Each
// failing call prints its own line; the probe goes on and its exchanges then fail.
int openAndConfigure(SerialPort& port, const std::string& path) {
  int openError = 0;
  if (!port.open(path)) {
    openError = port.lastError();
    trace("--> Invalid Handle\n");
    if (port.lastError() == EACCES)
      trace("\nSin permiso para abrir %s: add your user to the 'dialout' group, or give "
            "access once: %s\n",
            path.c_str(), udevAccessHint().c_str());
  } else {
    trace("\nok - %s - Write", path.c_str());
  }
  if (!port.getState()) trace("\nError getting comm state.");
  if (!port.buildState()) trace("\nError building comm DCB.");
  if (!port.applyState()) {
    trace("\nSetCommState failed with error %d.\n", port.lastError());
  } else if (!port.setTimeouts()) {
    trace("Error setting timeouts\n");
  }
  if (!port.clearDtr()) trace("Error clearing DTR\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(kDtrPulseMs));
  if (!port.setDtr()) trace("Error setting DTR\n");
  return openError;
}

std::optional<std::array<int, 3>> identifyController(SerialPort& port) {
  uint8_t id[kIdentifyReplyBytes] = {};
  int attempts = 0;
  readIdentification(port, id, attempts);
  if (id[0] != kReplyStart || id[4] != kReplyEnd) return std::nullopt;
  return std::array<int, 3>{static_cast<int8_t>(id[1]), static_cast<int8_t>(id[2]),
                            static_cast<int8_t>(id[3])};
}

namespace {

// A port whose USB ids are known and are not the pedal set's is left alone: opening it
// pulses DTR, which resets an Arduino or a 3D printer mid-job. It still counts as seen, so
// the firmware update's before-and-after comparison is the same.
bool isOtherMakersPort(const std::string& name, const std::optional<UsbIds>& ids) {
  if (!ids || mayBePedalSet(*ids)) return false;
  trace("\n%s: USB %04x:%04x, not the pedal set: not opened", name.c_str(), ids->vendor, ids->product);
  return true;
}

PortOutcome openOutcome(int error) {
  if (error == EACCES || error == EPERM) return PortOutcome::NoPermission;
  if (error == EBUSY) return PortOutcome::InUse;
  return PortOutcome::NotOpened;
}

}  // namespace

int probeController(Controller& controller, const ProbeOptions& options) {
  SerialPort& port = controller.link();
  ProbeTables tables;
  int readAttempts = 0;  // shared by both exchanges of a port
  bool updateNeeded = false;
  // Without an updater, and after the one update of this probe, old firmware is taken as
  // it is: asking again would restart the pedals into their bootloader over and over.
  bool keepOldFirmware = !options.firmwareUpdate;

  // The pass that follows the update does not count against maxPasses.
  int updatePasses = 0;
  for (int pass = 0; options.maxPasses == 0 || pass < options.maxPasses + updatePasses; ++pass) {
    ProbePass seen{pass + 1, {}};
    tables.portsSeen.clear();
    tables.oldFirmwarePort.clear();
    for (int number = 0; number < kPortCount; ++number) {
      if (stopRequested(options)) return 0;
      const std::string name = portName(number);
      const std::optional<std::string> target = lookUpPort(name);
      trace("\n%s -> %s", name.c_str(), target ? target->c_str() : "");
      if (!target) continue;
      const std::string path = portPath(name);
      trace("\nSerial -> %s", path.c_str());
      tables.portsSeen.push_back(name);
      PortSighting& sighting = seen.ports.emplace_back();
      sighting.name = name;
      sighting.path = path;
      sighting.ids = portUsbIds(name);
      if (!options.probeAllPorts && isOtherMakersPort(name, sighting.ids)) {
        sighting.outcome = PortOutcome::OtherMaker;
        continue;
      }

      port.close();
      if (const int error = openAndConfigure(port, path); error != 0) {
        sighting.error = error;
        sighting.outcome = openOutcome(error);
      }

      uint8_t id[kIdentifyReplyBytes] = {};
      readIdentification(port, id, readAttempts);
      if (id[0] == kReplyStart && id[4] == kReplyEnd && id[3] != 9) {
        const int major = static_cast<int8_t>(id[1]);
        const int minor = static_cast<int8_t>(id[2]);
        if (!keepOldFirmware && major * 100 + minor < kMinimumFirmware) {
          updateNeeded = true;
          if (tables.oldFirmwarePort.empty()) tables.oldFirmwarePort = name;
          trace("\nCARGAR FIRMWARE NECESARIO\n");
          trace("Dat1: %d\n", static_cast<int8_t>(id[1]));
          trace("Dat2: %d\n", static_cast<int8_t>(id[2]));
          trace("Dat3: %d\n", static_cast<int8_t>(id[3]));
        }
        controller.state.firmwareVersion = {major, minor, static_cast<int8_t>(id[3])};
        controller.state.markKnown(Field::FirmwareVersion);
        tables.controllerPort = name;
      }
      if (updateNeeded) continue;

      const uint8_t model = kModelRequest;
      if (!port.write({&model, 1})) continue;
      uint8_t reply[kModelReplyBytes] = {};
      ReadResult r;
      do {
        r = port.read(reply);
        ++readAttempts;
      } while (r.count < kModelReplyBytes && readAttempts < kProbeReadAttempts);
      readAttempts = 0;

      if (r.count == kModelReplyBytes && reply[0] == kReplyStart && reply[2] == kReplyEnd) {
        int result = 0;
        if (reply[1] == kModelClutch || reply[1] == kModelClutchAlt) result = 1;
        if (reply[1] == kModelNoClutch) result = 2;
        if (reply[1] == kModelNoClutchAlt) result = 3;
        if (result != 0) {
          controller.setPortName(name);
          return result;
        }
      }
    }

    if (updateNeeded) {
      const std::optional<int> outcome = options.firmwareUpdate(controller, tables);
      if (outcome && *outcome != kFirmwareUpdateUnavailable) return *outcome;
      keepOldFirmware = true;
      updateNeeded = false;
      updatePasses = 1;
      continue;
    }
    port.close();
    if (options.passSeen) options.passSeen(seen);
    sleepUnlessStopped(options.passPauseMs, options);
  }
  return 0;
}

void applyProbeResult(ControllerState& state, int result) {
  state.probeResult = result;
  if (result >= 1 && result <= 3) {
    state.connected = true;
    state.hasClutch = result == 1;
  } else {
    state.connected = false;
  }
}

}  // namespace tkb
