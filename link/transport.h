// Transport: what the controller link needs of the line to the pedal controller, whatever
// carries it: a frame written whole or not at all within its time-out, reads with the
// time-outs the controller was designed for (a read of N bytes returns after at most
// 30 + 10*N ms with whatever arrived, or 30 ms after the last byte when the next one does
// not come), pending input thrown away, a look whether input comes, and whether the line is
// gone. Each transport brings the Clock its time-outs run on; the Controller measures its
// waits, the 300 ms gap between actions and the resync windows on that same clock. The
// termios SerialPort (link/serial_port.h) runs on the wall clock; the in-memory transport of
// the tests runs on a fake one.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tkb {

inline constexpr int kReadIntervalMs = 30;
inline constexpr int kReadTotalConstantMs = 30;
inline constexpr int kReadTotalPerByteMs = 10;
inline constexpr int kWriteTotalConstantMs = 30;
inline constexpr int kWriteTotalPerByteMs = 10;

// The longest a read of `bytes` bytes may take, and a write of them.
constexpr int readTotalMs(size_t bytes) {
  return kReadTotalConstantMs + kReadTotalPerByteMs * static_cast<int>(bytes);
}
constexpr int writeTotalMs(size_t bytes) {
  return kWriteTotalConstantMs + kWriteTotalPerByteMs * static_cast<int>(bytes);
}

class Clock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~Clock() = default;
  virtual TimePoint now() = 0;
  virtual void sleepFor(std::chrono::milliseconds duration) = 0;
};

// std::chrono::steady_clock and real sleeping.
class SteadyClock final : public Clock {
 public:
  TimePoint now() override { return std::chrono::steady_clock::now(); }
  void sleepFor(std::chrono::milliseconds duration) override;
  static SteadyClock& instance();
};

struct ReadResult {
  bool ok = false;  // false: the read call itself failed (error holds errno)
  int count = 0;
  int error = 0;
};

class Transport {
 public:
  virtual ~Transport() = default;

  // The whole frame within writeTotalMs(size). False when it could not be written (then
  // lost() tells whether the line is gone, lastWriteCount() how much of it left).
  virtual bool write(std::span<const uint8_t> bytes) = 0;
  // How many bytes of the last write() went out: fewer than the frame when its time-out
  // struck part-way (the controller stopped reading), and the controller then holds the
  // start of a frame whose rest never came.
  virtual std::size_t lastWriteCount() const = 0;
  // Up to buffer.size() bytes into the start of buffer, with the time-outs above. A failing
  // read still takes its time, so that callers retrying it never spin.
  virtual ReadResult read(std::span<uint8_t> buffer) = 0;
  // Throws away whatever input is pending, so that a stray or late byte is never read as
  // part of the next reply. Returns how many bytes were dropped.
  virtual int discardInput() = 0;
  // Whether input arrives (or is pending) within ms milliseconds; nothing is read.
  virtual bool inputWithin(int ms) = 0;
  // The line went away under an open transport (the cable was pulled). Stays set until
  // the transport is opened again.
  virtual bool lost() const = 0;
  // Looks without waiting: false (and lost() from then on) when the line is gone.
  virtual bool checkLink() = 0;

  virtual Clock& clock() = 0;
};

}  // namespace tkb
