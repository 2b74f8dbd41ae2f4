// The emulated controller without a terminal: a Transport that hands every byte written to
// a FirmwareModel and lets the model's answers be read once their time has come, on a fake
// clock. A read that would wait moves the fake clock on instead of sleeping, by exactly what
// the serial port's time-outs would have taken, so a controller that stays silent for a
// whole query costs no real time. The model is served as the pseudo-terminal server serves
// it: bytes written while an answer is still being delayed are taken after it.
// One thread; for the tests and the fuzz targets.
#pragma once

#include <chrono>
#include <deque>
#include <optional>
#include <span>
#include <utility>

#include "emulator/firmware_model.h"
#include "link/transport.h"

namespace tkb::emu {

// Time that passes only when told to. Starts well past the clock's epoch, so that a gap
// measured from a time point never set is always long.
class FakeClock final : public Clock {
 public:
  TimePoint now() override { return now_; }
  void sleepFor(std::chrono::milliseconds duration) override {
    if (duration.count() > 0) now_ += duration;
  }
  void advanceTo(TimePoint t) {
    if (t > now_) now_ = t;
  }
  // Fake time since the clock was made.
  std::chrono::milliseconds elapsed() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(now_ - kStart);
  }

 private:
  static constexpr TimePoint kStart = TimePoint{} + std::chrono::hours(1);
  TimePoint now_ = kStart;
};

class MemoryTransport final : public Transport {
 public:
  explicit MemoryTransport(FirmwareState initial = {}) : model_(std::move(initial)) {}

  bool write(std::span<const uint8_t> bytes) override;
  std::size_t lastWriteCount() const override { return lastWriteCount_; }
  ReadResult read(std::span<uint8_t> buffer) override;
  int discardInput() override;
  bool inputWithin(int ms) override;
  bool lost() const override { return lost_; }
  bool checkLink() override { return !lost_; }
  FakeClock& clock() override { return clock_; }

  FirmwareModel& model() { return model_; }
  // The cable pulled: writes and reads fail as on a hung-up port, and nothing is answered.
  void unplug() { lost_ = true; }
  // Answers no longer wait for one another: a request written while a late answer is still
  // on its way is answered at once, and its answer may arrive before the late one (as
  // through a USB serial adapter with buffers of its own).
  void letRepliesOvertake() { overtaking_ = true; }
  // The controller stops reading after `bytes` more bytes: a write that does not fit times
  // out part-way (as the serial port's does) with what fitted written. readAgain() ends it.
  void stopReadingAfter(std::size_t bytes) { readable_ = bytes; }
  void readAgain() { readable_.reset(); }
  // Bytes the model sent that nobody has read or thrown away yet (readable or not yet).
  size_t unread() const { return input_.size(); }

 private:
  FirmwareModel::Millis modelTime(Clock::TimePoint t) const;

  FirmwareModel model_;
  FakeClock clock_;
  std::deque<std::pair<Clock::TimePoint, uint8_t>> input_;  // readable from that time on
  Clock::TimePoint busyUntil_{};  // the model's last answer is out by then
  bool lost_ = false;
  bool overtaking_ = false;
  std::optional<std::size_t> readable_;  // bytes the controller still takes, none: any
  std::size_t lastWriteCount_ = 0;
};

}  // namespace tkb::emu
