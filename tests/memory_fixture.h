// Test fixture: a controller wired to the firmware model through the in-memory transport,
// on a fake clock. Nothing waits in real time: a silent controller's time-out is counted in
// fake milliseconds.
#pragma once

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "emulator/memory_transport.h"
#include "link/controller.h"
#include "link/probe.h"

namespace tkb::test {

class MemoryController {
 public:
  explicit MemoryController(emu::FirmwareState initial = {}) : link(std::move(initial)) {
    controller.useTransport(link);
  }

  // What the probe leaves behind, with the probe's two exchanges (identification and model)
  // answered by the model: the version, the clutch and the connection in the state, the
  // frame log empty.
  bool connect() {
    const Bytes id = exchange(kIdentifyRequest, kIdentifyReplyBytes);
    const Bytes model = exchange(kModelRequest, kModelReplyBytes);
    int result = 0;
    if (id[0] == kReplyStart && id[4] == kReplyEnd) {
      controller.state.firmwareVersion = {static_cast<int8_t>(id[1]), static_cast<int8_t>(id[2]),
                                          static_cast<int8_t>(id[3])};
      controller.state.markKnown(Field::FirmwareVersion);
      if (model[0] == kReplyStart && model[2] == kReplyEnd) {
        if (model[1] == kModelClutch || model[1] == kModelClutchAlt) result = 1;
        if (model[1] == kModelNoClutch) result = 2;
        if (model[1] == kModelNoClutchAlt) result = 3;
      }
    }
    applyProbeResult(controller.state, result);
    link.model().clearReceived();
    return controller.state.connected;
  }

  emu::FirmwareModel& firmware() { return link.model(); }
  // Every frame the model received since connect(), in order.
  const std::vector<Bytes>& frames() { return link.model().received(); }
  // Fake milliseconds spent by `action`.
  template <class Action>
  long long msTaken(Action&& action) {
    const auto start = link.clock().elapsed();
    action();
    return (link.clock().elapsed() - start).count();
  }

  emu::MemoryTransport link;
  Controller controller;  // after link: it goes first

 private:
  Bytes exchange(uint8_t request, int replyBytes) {
    Bytes reply(static_cast<size_t>(replyBytes), 0);
    link.write({&request, 1});
    link.read(reply);
    return reply;
  }
};

}  // namespace tkb::test
