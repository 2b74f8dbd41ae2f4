// The query exchange against a controller whose answers are the input, through the
// in-memory transport on its fake clock. The input is a run of steps: a byte that picks the
// query (top bit: a new action starts first), a byte with the length of its answer (low five
// bits) and how late the answer comes (top three bits: 0, 50, 100, 200, 400, 800, 1100 or
// 1500 ms), then the answer's bytes (none: not answered). Whatever arrives, no query waits
// longer than the drain and one time-out, every value the state holds as known lies in its
// field's range, and while no answer came late a query is accepted only on its own answer,
// decoded as that answer alone decodes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "emulator/memory_transport.h"
#include "link/controller.h"
#include "link/settings.h"
#include "link/trace.h"

namespace {

constexpr int kLateMs[] = {0, 50, 100, 200, 400, 800, 1100, 1500};

bool stateInRange(const tkb::ControllerState& state) {
  for (const tkb::Setting& s : tkb::settingsTable()) {
    if (!state.isKnown(s.field)) continue;
    if (s.curve ? !tkb::curveInRange(tkb::curveOf(state, s.field))
                : !tkb::inRange(s.field, tkb::settingValue(state, s.field)))
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tkb::setTraceEnabled(false);
  tkb::emu::MemoryTransport link;
  tkb::Controller controller;
  controller.useTransport(link);
  const auto queries = tkb::allQueries();
  bool anyLate = false;
  size_t at = 0;
  while (at + 2 <= size) {
    const tkb::QuerySpec& spec = queries[(data[at] & 0x7F) % queries.size()];
    const bool newAction = (data[at] & 0x80) != 0;
    const size_t length = data[at + 1] & 0x1F;
    const int lateMs = kLateMs[data[at + 1] >> 5];
    at += 2;
    const std::span<const uint8_t> answer(data + at, std::min(length, size - at));
    at += answer.size();

    tkb::emu::Faults& faults = link.model().faults();
    faults.replyOverride[spec.request] = tkb::Bytes(answer.begin(), answer.end());
    faults.lateMs[spec.request] = lateMs;
    anyLate = anyLate || (lateMs > 0 && !answer.empty());
    if (newAction) controller.beginAction();

    tkb::ControllerState expected = controller.state;
    const auto start = link.clock().now();
    const tkb::QueryResult result = controller.ask(spec.query);
    const auto took = link.clock().now() - start;
    if (took > std::chrono::milliseconds(tkb::kResyncDrainMaxMs + tkb::kQueryWaitLimitMs +
                                         tkb::readTotalMs(spec.replyBytes) + tkb::kResyncTrailingMs))
      std::abort();  // a query waited longer than one time-out
    if (!stateInRange(controller.state)) std::abort();  // a value outside its range was kept
    // Accepted on bytes that were not its own answer (what an earlier answer left behind).
    if (result == tkb::QueryResult::Accepted && !anyLate &&
        (answer.size() < static_cast<size_t>(spec.replyBytes) ||
         !tkb::applyReply(spec.query, answer.first(static_cast<size_t>(spec.replyBytes)), expected) ||
         !(expected == controller.state)))
      std::abort();
  }
  return 0;
}
