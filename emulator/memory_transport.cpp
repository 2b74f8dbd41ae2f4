// The in-memory transport: the serial port's read rules played on the fake clock.
#include "emulator/memory_transport.h"

#include <algorithm>
#include <cerrno>

namespace tkb::emu {

using std::chrono::milliseconds;

FirmwareModel::Millis MemoryTransport::modelTime(Clock::TimePoint t) const {
  return std::chrono::duration_cast<FirmwareModel::Millis>(t.time_since_epoch());
}

bool MemoryTransport::write(std::span<const uint8_t> bytes) {
  lastWriteCount_ = 0;
  if (lost_) return false;
  const std::size_t fits = readable_ ? std::min(*readable_, bytes.size()) : bytes.size();
  if (readable_) *readable_ -= fits;
  for (uint8_t byte : bytes.first(fits)) {
    // While an answer is still on its way the firmware takes no new byte.
    Clock::TimePoint t = overtaking_ ? clock_.now() : std::max(clock_.now(), busyUntil_);
    const Answer answer = model_.receive(byte, modelTime(t));
    for (const ReplyPart& part : answer) {
      t += milliseconds(part.delayMs);
      // In time order: an answer may overtake one that is late.
      auto at = std::find_if(input_.begin(), input_.end(), [t](const auto& in) { return in.first > t; });
      for (uint8_t b : part.bytes) at = std::next(input_.insert(at, {t, b}));
    }
    if (!answer.empty()) busyUntil_ = t;
  }
  lastWriteCount_ = fits;
  if (fits == bytes.size()) return true;
  clock_.sleepFor(milliseconds(writeTotalMs(bytes.size())));  // the write's time-out
  return false;
}

ReadResult MemoryTransport::read(std::span<uint8_t> buffer) {
  ReadResult result;
  const auto deadline = clock_.now() + milliseconds(readTotalMs(buffer.size()));
  if (lost_) {
    clock_.advanceTo(deadline);  // a failing read takes its time, as the serial port's does
    result.error = EIO;
    return result;
  }
  result.ok = true;
  const int wanted = static_cast<int>(buffer.size());
  while (result.count < wanted) {
    // The total time-out, and once a byte came, the interval between bytes.
    Clock::TimePoint limit = deadline;
    if (result.count > 0) limit = std::min(limit, clock_.now() + milliseconds(kReadIntervalMs));
    if (clock_.now() >= limit) break;
    if (input_.empty() || input_.front().first > limit) {
      clock_.advanceTo(limit);
      break;
    }
    clock_.advanceTo(input_.front().first);
    while (result.count < wanted && !input_.empty() && input_.front().first <= clock_.now()) {
      buffer[static_cast<size_t>(result.count++)] = input_.front().second;
      input_.pop_front();
    }
  }
  model_.idle(modelTime(clock_.now()));
  return result;
}

int MemoryTransport::discardInput() {
  int dropped = 0;
  while (!input_.empty() && input_.front().first <= clock_.now()) {
    input_.pop_front();
    ++dropped;
  }
  return dropped;
}

bool MemoryTransport::inputWithin(int ms) {
  if (lost_) return false;  // a hung-up terminal says so at once
  const auto until = clock_.now() + milliseconds(std::max(ms, 0));
  if (!input_.empty() && input_.front().first <= until) {
    clock_.advanceTo(input_.front().first);
    return true;
  }
  clock_.advanceTo(until);
  return false;
}

}  // namespace tkb::emu
