// The brake applications the trace views hold. Fed with the brake's input percent every
// 10 ms, BrakeCapture captures each application, from the brake leaving its lower dead zone
// to its return, with its figures (peak, time to peak, time held near the peak, release
// time). The one the driver pins (PIN) is kept in config.ini as one value. No Qt and no other
// module: the window's 10 ms feed and the monitor's trace view feed one each.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tkb {

// An application starts when the brake rises more than this above its lower dead zone; the
// dead zone's own edge is not enough, so that a sensor resting on the edge does not start one
// with every flicker.
inline constexpr float kApplicationStartAbovePercent = 1.0f;
// At or below the lower dead zone plus this the brake is back: the application has ended.
inline constexpr float kApplicationReturnAbovePercent = 0.5f;
// An application must peak more than this above the dead zone to be kept: less is noise. A
// release that settles at or below the dead zone plus this for kApplicationSettleMs (a pedal
// resting a little above its dead zone) has ended too, where it settled.
inline constexpr float kApplicationRestAbovePercent = 5.0f;
inline constexpr int kApplicationSettleMs = 300;
// 30 s of 10 ms samples. A longer application (the brake held in the pits) is not a braking to
// study: it is dropped, and the capture waits for the brake to return.
inline constexpr int kApplicationMaxSamples = 3000;
// Held: at or above this share of the peak.
inline constexpr float kHeldShareOfPeak = 0.9f;

struct BrakeSample {
  int32_t ms = 0;     // since the brake left its dead zone (samples before that are negative)
  float percent = 0;  // brake input percent
  bool operator==(const BrakeSample&) const = default;
};

struct BrakeFigures {
  float peakPercent = 0;
  // From leaving the dead zone to the first sample at the peak.
  int timeToPeakMs = 0;
  // The time at or above 90 % of the peak: each such sample counts until the next one.
  int heldMs = 0;
  // From the last sample at or above 90 % of the peak to the return (the first sample back in
  // the dead zone, or where the release settled above it); -1 while the application is open.
  int releaseMs = -1;
  bool operator==(const BrakeFigures&) const = default;
};

struct BrakeApplication {
  std::vector<BrakeSample> samples;  // the last one is the return once it ended
  BrakeFigures figures;
  bool open = false;
  bool empty() const { return samples.empty(); }
};

// Pure. The figures of an application's samples; returned: the last sample is its return
// (otherwise it is still open and has no release time).
BrakeFigures brakeFigures(std::span<const BrakeSample> samples, bool returned);

class BrakeCapture {
 public:
  BrakeCapture();

  // One sample: its time (milliseconds of a steady clock), the brake input percent and the
  // brake's lower dead zone in percent. True when it ended an application that is kept:
  // last() is then that one.
  bool add(int64_t timeMs, float percent, int lowerZone);

  // The last application that ended (empty until one did).
  const BrakeApplication& last() const { return last_; }
  // The application under way, its figures as far as they go (peak and time to peak; the
  // rest once it ends); empty while the brake rests.
  const BrakeApplication& current() const { return current_; }
  bool applying() const { return state_ == State::Applying; }
  // How many applications were kept so far: a view redraws the held one when it changes.
  long kept() const { return kept_; }

 private:
  enum class State { Resting, Applying, TooLong, SettledAbove };
  struct Timed {
    int64_t timeMs;
    float percent;
  };
  static constexpr int kPreRoll = 16;

  void start(int64_t timeMs, float percent);
  bool end(std::size_t returnIndex, float lowerZone);
  int32_t sinceStart(int64_t timeMs) const;

  State state_ = State::Resting;
  BrakeApplication current_;
  BrakeApplication last_;
  long kept_ = 0;
  // Where the present run above the resting level began, and the last sample at that level.
  std::optional<int64_t> leftAt_;
  std::optional<int64_t> lastAtRestAt_;
  int64_t startedAt_ = 0;
  std::optional<std::size_t> settleFrom_;  // first sample of a release settling above the zone
  Timed preRoll_[kPreRoll] = {};
  int preRollCount_ = 0;
  int preRollNext_ = 0;
};

// config.ini [TRACE] brake_reference: the application the driver pinned, as one line.
inline constexpr const char* kTraceSection = "TRACE";
inline constexpr const char* kBrakeReferenceKey = "brake_reference";
// At most this many points are kept (10 s at 10 ms; a longer one is kept at a coarser step),
// and a value longer than kBrakeReferenceMaxChars is not one of ours: read it through a
// buffer of kBrakeReferenceMaxChars + 2 (AppConfig::readText), so that a longer one is seen
// as such and not cut to a length that decodes.
inline constexpr int kBrakeReferenceMaxPoints = 1000;
inline constexpr std::size_t kBrakeReferenceMaxChars = 8192;

// Pure. "1,<first ms>,<step ms>,<peak>,<time to peak>,<held>,<release>,<v0>,<v1>,..." with
// the percentages in tenths (0..1000) and the figures as they were measured; the samples are
// resampled at a fixed step. Empty for an open or empty application (nothing to keep).
std::string encodeBrakeReference(const BrakeApplication& application);
// Pure. The application of such a value; nothing for anything else (damaged, cut short, out
// of range, too long): a damaged value gives no reference.
std::optional<BrakeApplication> decodeBrakeReference(std::string_view text);

}  // namespace tkb
