// The last seconds of the three pedals for the window's trace panel: the 10 ms feed appends
// one point per run (input and output percent of each pedal), the panel draws from it. A
// ring of fixed size: appending never allocates. No Qt, no other module.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tkb {

// Pedals in the order of tkb::Pedal: 0 clutch, 1 brake, 2 throttle.
inline constexpr int kTracePedals = 3;

struct PedalTracePoint {
  int64_t timeMs = 0;  // any steady clock; never going back
  std::array<float, kTracePedals> input{};   // the pedal input in percent
  std::array<float, kTracePedals> output{};  // what the game gets, in percent
};

class PedalTraceRing {
 public:
  // Room for `seconds` of points `sampleMs` apart (one more, so that a full span has both ends).
  explicit PedalTraceRing(int seconds = 10, int sampleMs = 10)
      : points_(static_cast<std::size_t>(seconds > 0 && sampleMs > 0 ? seconds * 1000 / sampleMs + 1 : 1)) {}

  void append(const PedalTracePoint& point) {
    points_[(first_ + size_) % points_.size()] = point;
    if (size_ < points_.size()) {
      ++size_;
    } else {
      first_ = (first_ + 1) % points_.size();
    }
  }
  void clear() { first_ = size_ = 0; }

  std::size_t size() const { return size_; }
  std::size_t capacity() const { return points_.size(); }
  bool empty() const { return size_ == 0; }
  // 0 is the oldest point kept, size() - 1 the newest.
  const PedalTracePoint& at(std::size_t i) const { return points_[(first_ + i) % points_.size()]; }
  const PedalTracePoint& newest() const { return at(size_ - 1); }

  // The index of the first point at or after timeMs (size() when there is none): what a view
  // of the last N seconds starts from, newest().timeMs - N * 1000.
  std::size_t firstAtOrAfter(int64_t timeMs) const {
    std::size_t low = 0, high = size_;
    while (low < high) {
      const std::size_t mid = (low + high) / 2;
      if (at(mid).timeMs < timeMs) {
        low = mid + 1;
      } else {
        high = mid;
      }
    }
    return low;
  }

 private:
  std::vector<PedalTracePoint> points_;
  std::size_t first_ = 0;
  std::size_t size_ = 0;
};

}  // namespace tkb
