// What the live pedal bars show, computed without widgets: the percent conversions of the
// PRO and CUSTOM pages, the response-curve mapping, the dead-zone bands, the per-press
// trackers with their history columns and usage-log lines, the brake-excess statistics
// that Autocal averages, and the pedal update for the monitor. The sampling (trackers,
// statistics, monitor updates) runs every 10 ms whatever is shown; what a page shows is
// computed only when its view asks. The views in ui/live_bars put it on the widgets; tests
// and benchmarks drive it directly.
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

// What the PRO page shows of the last sample.
struct ProReadout {
  bool hasClutch = false;               // without a clutch its bar and label are left alone
  std::array<int, kReadoutPedals> percent{};
  std::array<std::string, kReadoutPedals> valueText{};  // "     64 %"
};

// What the CUSTOM page shows of the last sample.
struct CustomReadout {
  bool hasClutch = false;
  std::array<int, kReadoutPedals> input{};
  std::array<int, kReadoutPedals> output{};
};

// The monitor's pedal updates of one sample: the PRO page's while PRO is in force, the CUSTOM
// page's while CUSTOM is, each only when its brake settings are known (the monitor shows them
// as values).
struct MonitorUpdates {
  std::optional<monitor::MonitorDatagram> pro;
  std::optional<monitor::MonitorDatagram> custom;
};

class PedalReadout {
 public:
  PedalReadout();

  // The 10 ms sampling, which goes on whatever is shown and while the window is away: the
  // three PRO trackers (history entries, usage-log lines, brake statistics) and the CUSTOM
  // brake tracker, and the monitor's updates. maxBrakePress: the value of the MAX BRAKE PRESS
  // spin box. log may be null.
  MonitorUpdates sample(const ControllerState& state, const PedalAxes& axes, int maxBrakePress, UsageLog* log);

  // What each page shows of the last sample, computed only when a shown page asks.
  ProReadout pro(const ControllerState& state) const;
  CustomReadout custom(const ControllerState& state) const;

  // The texts of the history columns (the PRO brake one with its colour markup), entry 0 first.
  const std::array<std::string, kProHistoryEntries>& proHistory(int pedal) const { return proHistory_[pedal]; }
  const std::array<std::string, kCustomHistoryEntries>& customHistory() const { return customHistory_; }
  const PressTracker& proTracker(int pedal) const { return proTrackers_[pedal]; }

  BrakeExcess& excess() { return excess_; }
  const BrakeExcess& excess() const { return excess_; }

 private:
  void sampleCustom(const ControllerState& state, MonitorUpdates& updates);
  void runProTracker(int pedal, float value, float tracked, int brakeTotal, bool atLimit, int maxBrakePress,
                     UsageLog* log);

  PedalAxes axes_;  // the last sample's
  std::array<std::array<std::string, kProHistoryEntries>, kReadoutPedals> proHistory_;
  std::array<std::string, kCustomHistoryEntries> customHistory_;
  std::array<PressTracker, kReadoutPedals> proTrackers_;
  PressTracker customBrake_{10, 9};
  BrakeExcess excess_;
};

}  // namespace tkb
