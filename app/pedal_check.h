// The pedal check: with the feet off for 5 s it measures where each pedal rests (its rest
// band) and how regularly the reports come; then, while the driver presses each pedal fully
// once, how far each one reaches. From that it suggests lower and upper dead zones, each
// with its reason. Fed with reports and their times, no I/O: tkb-cli pedal-check feeds every
// report, the trace panel's PEDAL CHECK its 10 ms samples (the rate it measures is then the
// feed's). The suggestions are sent as the zone settings (Operations, tkb-cli set).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/pedal_input.h"
#include "link/settings.h"

namespace tkb {

inline constexpr int64_t kCheckRestUs = 5'000'000;
// The longest the press phase waits for every pedal to be pressed and let go.
inline constexpr int64_t kCheckPressUs = 15'000'000;
// A pedal is pressed once it rises this far above its rest band, and let go again when it is
// back within kCheckLetGoAbovePercent of it.
inline constexpr float kCheckPressedAbovePercent = 20.0f;
inline constexpr float kCheckLetGoAbovePercent = 5.0f;
// A rest band wider than this is a foot on the pedal, not noise; one above this a pedal
// that needs calibrating, not a dead zone.
inline constexpr float kCheckRestSpreadLimitPercent = 8.0f;
inline constexpr float kCheckRestCeilingPercent = 20.0f;
// Room between the highest resting reading and the lower dead zone: at least this, or half
// the rest band when that is wider.
inline constexpr float kCheckLowerMarginPercent = 0.5f;
// Room between the reachable top and the upper dead zone.
inline constexpr float kCheckUpperMarginPercent = 1.5f;
// An upper dead zone must stay this far above the lower one.
inline constexpr int kCheckMinimumBand = 10;

struct RestBand {
  float min = 0;
  float max = 0;
  float spread() const { return max - min; }
};

struct ReportTiming {
  long reports = 0;
  double perSecond = 0;
  double jitterMs = 0;      // standard deviation of the time between reports
  double longestGapMs = 0;
};

// What the check found for one pedal. The rest band and pressing are in the pedal's percent
// as the PRO bars show it; the brake's reachable top is in percent of its force (the brake
// total), the unit of its upper dead zone, the brake limit.
struct PedalFinding {
  enum class Lower { Suggested, MovedAtRest, TooHigh, NotPressed };
  enum class Upper { Suggested, NotPressed, TooShort, BrakeLimit };
  RestBand rest;
  float top = 0;
  bool pressed = false;
  bool letGo = false;
  Lower lowerAdvice = Lower::NotPressed;
  Upper upperAdvice = Upper::NotPressed;
  std::optional<int> lower;  // suggested lower dead zone
  std::optional<int> upper;  // suggested upper dead zone; for the brake the most its limit
                             // may be for a full press to reach 100 (advice, never sent)
};

struct PedalCheckResult {
  ReportTiming timing;
  std::array<PedalFinding, kPedalCount> pedals{};  // as tkb::Pedal: clutch, brake, throttle
  bool hasClutch = true;

  // The zone settings to send, lower before upper, pedal by pedal (the brake limit is the
  // driver's choice and is never among them).
  std::vector<std::pair<Field, int>> zones() const;
  // One English sentence per pedal and zone, e.g. "throttle rests between 0.4 and 2.1 %: a
  // lower dead zone of 3 % keeps the game at 0".
  std::vector<std::string> reasons() const;
};

class PedalCheck {
 public:
  enum class Phase { Rest, Press, Done };

  // startUs: when the feet went off (microseconds of a steady clock). Without a clutch its
  // pedal is neither waited for nor judged.
  explicit PedalCheck(int64_t startUs, bool hasClutch = true);

  // One report and when it came (never before the previous one). The phase after it.
  Phase add(int64_t timeUs, const PedalAxes& axes);
  // Time passes without reports: ends a phase whose time is up.
  Phase advance(int64_t nowUs);
  // Ends the press phase now (the driver is done, or the two-pedal set has no clutch).
  void finishPress();

  Phase phase() const { return phase_; }
  // When the phase under way ends at the latest.
  int64_t phaseEndsUs() const;
  // Whether the rest phase had reports to measure (without them there is nothing to suggest).
  bool heardReports() const { return timing_.reports > 0; }
  // The findings so far; complete once the phase is Done.
  PedalCheckResult result() const;

 private:
  void endRest();

  int64_t startUs_;
  int64_t pressStartUs_ = 0;
  bool hasClutch_;
  Phase phase_ = Phase::Rest;
  ReportTiming timing_;
  int64_t lastUs_ = -1;
  double meanGapUs_ = 0, gapSquares_ = 0;  // Welford's running mean and sum of squares
  long gaps_ = 0;
  int64_t firstUs_ = 0;
  std::array<RestBand, kPedalCount> rest_{};
  std::array<float, kPedalCount> top_{};
  std::array<bool, kPedalCount> pressed_{};
  std::array<bool, kPedalCount> letGo_{};
};

}  // namespace tkb
