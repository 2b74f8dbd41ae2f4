// What the live pedal bars show, computed without widgets: the percent conversions of the
// PRO and CUSTOM pages, the response-curve mapping, the dead-zone bands, the per-press
// trackers with their history columns and usage-log lines, the brake-excess statistics
// that Autocal averages, and the pedal update for the monitor. The views in ui/live_bars
// put the results on the widgets; tests and benchmarks drive it directly.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "app/usage_log.h"
#include "link/controller_state.h"
#include "link/pedal_input.h"
#include "link/monitor_datagram.h"

namespace tkb {

// Pedals are numbered as tkb::Pedal: 0 clutch, 1 brake, 2 throttle.
inline constexpr int kReadoutPedals = 3;
// AplicarCurva's extra "pedal": the brake input relative to the brake stop.
inline constexpr int kBrakeOnStop = 3;

inline constexpr int kProHistoryEntries = 12;
inline constexpr int kCustomHistoryEntries = 10;
inline constexpr const char* kEmptyHistoryEntry = "     --";
// Every bar's range is 0..100.
inline constexpr int kBarMaximum = 100;

// PRO page: ((raw + 32767) * 100 in integers) / 65534 in single precision.
float proPercent(int16_t raw);
// CUSTOM page: (raw + 32767.0) * 100 / 65534 in single precision.
float customPercent(int16_t raw);
// The brake total: divided by 65034, so full scale gives about 100.77 and raw 0 about 50.38.
float brakeTotalPercent(int16_t raw);
// What a bar shows of a percent: limited to the bar's maximum, truncated toward zero
// (the bar itself never goes below 0).
int barPercent(float percent);

// The response curve of a pedal applied to an input percent, or (kBrakeOnStop) the brake
// input relative to the brake stop `cheto`. A brake stop of 0 (possible after a profile
// load) maps every brake input to 100.
int AplicarCurva(const ControllerState& state, int pedal, int v);

// The output of a curve at an input percent, read along the line its chart draws (linear
// between the points, input clamped to 0..100).
double curveOutputAt(const Curve& points, double input);
// Where a pedal's input percent meets its curve: the input itself, for the brake the input
// relative to the brake stop (at most 100; a brake stop of 0 counts as fully pressed).
int curveInput(const ControllerState& state, int pedal, int v);
// What the CUSTOM page's OUT bar shows: curveOutputAt at curveInput, truncated.
int curveOutput(const ControllerState& state, int pedal, int v);

// The dead-zone band of a 202-pixel bar (2 px per percent): the paddings that confine the
// indicator between the lower and the upper dead zone.
struct DeadZoneBand {
  int padTop = 1;
  int padBottom = 1;
  bool operator==(const DeadZoneBand&) const = default;
};
// Top 201 - 2 * upper, bottom 2 * lower + 1.
DeadZoneBand deadZoneBand(int upper, int lower);
// The CUSTOM output bars are 9/10 as tall: both paddings * 18 / 20, truncated.
DeadZoneBand outputBarBand(const DeadZoneBand& band);
// The bands of the three pedals from the state's zones (the clutch's with or without one).
std::array<DeadZoneBand, kReadoutPedals> deadZoneBands(const ControllerState& state);

// One press tracker: waits for the value to pass the start threshold, follows the peak,
// and reports the end of the press when the value falls below the end threshold.
struct PressTracker {
  float start = 12, end = 11;
  bool tracking = true;
  int maximum = 0;
};

// The brake presses beyond MAX BRAKE PRESS: `total` of the current press, and the sum and
// count of the recorded ones that Autocal averages (and clears).
struct BrakeExcess {
  int total = 0;
  int parcial = 0;
  int numero = 0;
};

// What one PRO refresh computed.
struct ProReadout {
  bool hasClutch = false;               // without a clutch its bar and label are left alone
  std::array<int, kReadoutPedals> percent{};
  std::array<std::string, kReadoutPedals> valueText{};  // "     64 %"
  // The monitor's pedal update, when the PRO mode is active and the brake settings known.
  std::optional<monitor::MonitorDatagram> datagram;
};

// What one CUSTOM refresh computed.
struct CustomReadout {
  bool hasClutch = false;
  std::array<int, kReadoutPedals> input{};
  std::array<int, kReadoutPedals> output{};
  std::optional<monitor::MonitorDatagram> datagram;
};

class PedalReadout {
 public:
  PedalReadout();

  // One PRO refresh: percents and texts, the monitor update, then the three trackers
  // (history entries, usage-log lines, brake statistics). maxBrakePress: the value of the
  // MAX BRAKE PRESS spin box. log may be null.
  ProReadout pro(const ControllerState& state, const PedalAxes& axes, int maxBrakePress, UsageLog* log);
  // One CUSTOM refresh: input and output percents, the monitor update, the brake tracker.
  CustomReadout custom(const ControllerState& state, const PedalAxes& axes);

  // The texts of the history columns (the PRO brake one with its colour markup), entry 0 first.
  const std::array<std::string, kProHistoryEntries>& proHistory(int pedal) const { return proHistory_[pedal]; }
  const std::array<std::string, kCustomHistoryEntries>& customHistory() const { return customHistory_; }
  const PressTracker& proTracker(int pedal) const { return proTrackers_[pedal]; }

  BrakeExcess& excess() { return excess_; }
  const BrakeExcess& excess() const { return excess_; }

 private:
  void runProTracker(int pedal, float value, float tracked, const std::string& text, int brakeTotal,
                     bool atLimit, int maxBrakePress, UsageLog* log);

  std::array<std::array<std::string, kProHistoryEntries>, kReadoutPedals> proHistory_;
  std::array<std::string, kCustomHistoryEntries> customHistory_;
  std::array<PressTracker, kReadoutPedals> proTrackers_;
  PressTracker customBrake_{10, 9};
  BrakeExcess excess_;
};

}  // namespace tkb
