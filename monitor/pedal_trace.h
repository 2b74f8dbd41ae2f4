// What the monitor's trace view draws: the last 5 s of the three pedals, one column per 40 ms,
// and the last brake application, held from the brake leaving its rest to its return. Fed with
// every pedal update (the configuration program sends one every 10 ms) whatever view is shown,
// so that a switch to the trace view shows a full trace at once. No Qt.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace tkb::monitor {

inline constexpr int kSamplesPerTraceColumn = 4;  // 40 ms of updates
inline constexpr int kTraceColumns = 125;         // 5 s
// The brake counts as applied while it stands more than this above its rest.
inline constexpr int kBrakeRestMarginPercent = 2;
// An application whose peak rises less than this above the rest is noise and is not held.
inline constexpr int kBrakeApplicationMinimumPercent = 10;

enum class TracePedal { Throttle = 0, Brake = 1, Clutch = 2 };

// The percentages (0..100) one column saw: lowest, highest and the last one.
struct TraceSpan {
  std::uint8_t low = 0;
  std::uint8_t high = 0;
  std::uint8_t last = 0;
};

struct TraceColumn {
  std::array<TraceSpan, 3> pedals;  // by TracePedal
  const TraceSpan& operator[](TracePedal pedal) const { return pedals[static_cast<int>(pedal)]; }
};

class PedalTrace {
 public:
  PedalTrace();

  // One update; values outside 0..100 are taken as the nearest end.
  void add(int throttle, int brake, int clutch);

  // The columns of the last 5 s, oldest first; the newest may hold fewer than 4 updates.
  int columnCount() const { return count_; }
  const TraceColumn& column(int index) const;

  // The last finished brake application, from the update before it left its rest to the one
  // that came back (at most 5 s of it), in columns from its start; empty until one finished.
  const std::vector<TraceSpan>& heldBrake() const { return held_; }

 private:
  enum class BrakeState { Resting, Applying, WaitingForRest };

  TraceColumn& newestColumn();
  int restOfLastSeconds() const;  // the lowest brake of the columns kept
  void followBrake(int brake);
  void finishApplication();

  std::array<TraceColumn, kTraceColumns> columns_;
  int first_ = 0;  // index of the oldest column
  int count_ = 0;
  int samplesInNewest_ = kSamplesPerTraceColumn;

  BrakeState brakeState_ = BrakeState::Resting;
  int previousBrake_ = -1;
  int applicationRest_ = 0;
  int applicationPeak_ = 0;
  int applicationSamples_ = 0;
  std::vector<TraceSpan> capture_;
  std::vector<TraceSpan> held_;
};

}  // namespace tkb::monitor
