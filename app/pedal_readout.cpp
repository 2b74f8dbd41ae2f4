#include "app/pedal_readout.h"

#include <algorithm>
#include <cmath>

#include "link/settings.h"
#include "link/trace.h"

namespace tkb {

namespace {
constexpr int kClutch = static_cast<int>(Pedal::Clutch);
constexpr int kBrake = static_cast<int>(Pedal::Brake);
constexpr int kThrottle = static_cast<int>(Pedal::Throttle);

std::string valueText(int percent) { return "     " + std::to_string(percent) + " %"; }

// Every byte of the pedal update stays a byte: the brake relative to a small brake stop
// must not spill into the clutch byte (the monitor stops its bars at the top of its
// picture by itself).
std::uint8_t byteOf(int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 255)); }

// The update both pages send: the page's mode number, the brake upper zone, the page's brake
// figure (limiter or stop) and the three pedal values, each as the byte the monitor reads.
monitor::MonitorDatagram pageUpdate(const ControllerState& state, std::uint8_t mode, int cut,
                                    int clutch, int brake, int throttle) {
  monitor::PedalUpdate u;
  u.mode = mode;
  u.maxNumber = byteOf(state.brakeUpper);
  u.cutNumber = static_cast<std::uint16_t>(cut);
  u.clutch = byteOf(clutch);
  u.brake = byteOf(brake);
  u.throttle = byteOf(throttle);
  return monitor::pedalUpdateDatagram(u);
}

const Curve& curveOf(const ControllerState& state, int pedal) { return tkb::curveOf(state, static_cast<Pedal>(pedal)); }
}  // namespace

float proPercent(int16_t raw) {
  return static_cast<float>((static_cast<int>(raw) + 32767) * 100) / 65534.0f;
}

float customPercent(int16_t raw) {
  return (static_cast<float>(raw) + 32767.0f) * 100.0f / 65534.0f;
}

float brakeTotalPercent(int16_t raw) {
  return static_cast<float>((static_cast<int>(raw) + 32767) * 100) / 65034.0f;
}

int barPercent(float percent) { return static_cast<int>(std::min(percent, static_cast<float>(kBarMaximum))); }

int AplicarCurva(const ControllerState& state, int pedal, int v) {
  // Without a brake stop the brake has no scale: it counts as fully pressed rather than
  // dividing by zero.
  if (pedal == kBrakeOnStop) return state.cheto == 0 ? 100 : static_cast<int>(std::trunc(v * 100.0 / state.cheto));
  if (pedal < 0 || pedal >= kReadoutPedals) return 100;
  const Curve& p = curveOf(state, pedal);
  double x = v;
  if (pedal == kBrake) {
    if (state.cheto == 0) return 100;
    x = v * 100.0 / state.cheto;
  }
  int segment = 0;
  for (int k = 1; k < kCurvePoints; ++k)
    if (p[k - 1] <= x && x < p[k]) segment = k;
  if (segment == 0) return 100;
  const double low = p[segment - 1];
  if (x == low) return 10 * (segment - 1);
  return static_cast<int>(std::trunc((x - low) / (p[segment] - low) * 10 + 10 * (segment - 1)));
}

double curveOutputAt(const Curve& points, double input) {
  input = std::clamp(input, 0.0, 100.0);
  const int k = std::min(static_cast<int>(input / 10), kCurvePoints - 2);
  const double t = (input - 10.0 * k) / 10.0;
  return points[k] + t * (points[k + 1] - points[k]);
}

int curveInput(const ControllerState& state, int pedal, int v) {
  if (pedal != kBrake) return v;
  if (state.cheto <= 0) return 100;
  return std::min(100, static_cast<int>(std::trunc(v * 100.0 / state.cheto)));
}

int curveOutput(const ControllerState& state, int pedal, int v) {
  return static_cast<int>(std::trunc(curveOutputAt(curveOf(state, pedal), curveInput(state, pedal, v))));
}

DeadZoneBand deadZoneBand(int upper, int lower) { return {201 - 2 * upper, 2 * lower + 1}; }

DeadZoneBand outputBarBand(const DeadZoneBand& band) { return {band.padTop * 18 / 20, band.padBottom * 18 / 20}; }

std::array<DeadZoneBand, kReadoutPedals> deadZoneBands(const ControllerState& s) {
  std::array<DeadZoneBand, kReadoutPedals> bands{};
  for (Pedal pedal : kPedals)
    bands[pedalIndex(pedal)] = deadZoneBand(zoneValue(s, pedal, true), zoneValue(s, pedal, false));
  return bands;
}

PedalReadout::PedalReadout() {
  for (auto& column : proHistory_) column.fill(kEmptyHistoryEntry);
  customHistory_.fill(kEmptyHistoryEntry);
  proTrackers_[kClutch] = {12, 11};
  proTrackers_[kBrake] = {21, 20};
  proTrackers_[kThrottle] = {12, 11};
}

MonitorUpdates PedalReadout::sample(const ControllerState& state, const PedalAxes& axes, int maxBrakePress,
                                    UsageLog* log) {
  axes_ = axes;
  MonitorUpdates updates;
  const float limit = static_cast<float>(kBarMaximum);
  const float clutch = state.hasClutch ? std::min(proPercent(axes.axis3), limit) : 0.0f;
  const float brakeUnlimited = proPercent(axes.axis2);
  const bool atLimit = brakeUnlimited >= limit;
  const float brake = std::min(brakeUnlimited, limit);
  const float total = brakeTotalPercent(axes.axis4);
  const float throttle = std::min(proPercent(axes.axis1), limit);
  if (atLimit) trace("\nFreno %f -> total:%d", static_cast<double>(brake), static_cast<int>(total));

  // The monitor shows the brake settings as values: unknown ones are never sent to it.
  if (state.proProfileActive && state.isKnown(Field::BrakeMax) && state.isKnown(Field::BrakeUpper)) {
    updates.pro = pageUpdate(state, state.hasClutch ? 2 : 0, state.brakeMax, static_cast<int>(clutch),
                             static_cast<int>(brake), static_cast<int>(throttle));
  }
  runProTracker(kClutch, clutch, clutch, 0, false, maxBrakePress, log);
  runProTracker(kBrake, brake, total, static_cast<int>(total), atLimit, maxBrakePress, log);
  runProTracker(kThrottle, throttle, throttle, 0, false, maxBrakePress, log);
  sampleCustom(state, updates);
  return updates;
}

void PedalReadout::runProTracker(int pedal, float value, float tracked, int brakeTotal, bool atLimit,
                                 int maxBrakePress, UsageLog* log) {
  PressTracker& t = proTrackers_[pedal];
  auto& column = proHistory_[pedal];
  if (!t.tracking) {
    if (value > t.start) t.tracking = true;
    return;
  }
  if (tracked > static_cast<float>(t.maximum)) {
    t.maximum = static_cast<int>(tracked);
    // The entry is what the value label shows; the brake's is the total, in red (colour
    // markup) while the brake stands at its limit.
    if (pedal != kBrake) {
      column[0] = valueText(static_cast<int>(value));
    } else if (atLimit) {
      column[0] = "#ff0000      " + std::to_string(brakeTotal) + "#";
    } else {
      column[0] = "     " + std::to_string(brakeTotal);
    }
    if (pedal == kBrake && tracked > static_cast<float>(maxBrakePress)) excess_.total = brakeTotal;
    return;
  }
  if (value >= t.end) return;
  // The press has ended: its peak goes to the logs and the column moves down.
  if (log) log->pressPeak(static_cast<Pedal>(pedal), column[0]);
  if (pedal == kBrake) {
    BrakeExcess& e = excess_;
    trace("\nRojo %d  -> total:%d", atLimit ? 1 : 0, e.total);
    if (e.total != 0) {
      // A first 50 is what the brake total shows before any joystick data arrived.
      if (!(e.numero == 0 && e.total == 50)) {
        e.parcial += e.total;
        e.numero += 1;
      }
      trace("\nParcial %d  -> numero:%d", e.parcial, e.numero);
      e.total = 0;
    }
  }
  t.tracking = false;
  t.maximum = 0;
  std::shift_right(column.begin(), column.end(), 1);
  column[0] = kEmptyHistoryEntry;
}

void PedalReadout::sampleCustom(const ControllerState& state, MonitorUpdates& updates) {
  const int brake = barPercent(customPercent(axes_.axis2));
  if (state.sportProfileActive && state.isKnown(Field::Cheto) && state.isKnown(Field::BrakeUpper)) {
    const int clutch = state.hasClutch ? barPercent(customPercent(axes_.axis3)) : 0;
    updates.custom = pageUpdate(state, state.hasClutch ? 3 : 1, state.cheto, clutch,
                                AplicarCurva(state, kBrakeOnStop, brake), barPercent(customPercent(axes_.axis1)));
  }
  PressTracker& t = customBrake_;
  const float v = static_cast<float>(brake);
  if (!t.tracking) {
    if (v > t.start) t.tracking = true;
  } else if (v > static_cast<float>(t.maximum)) {
    t.maximum = brake;
    // The entry is what the brake's OUT label shows.
    customHistory_[0] = std::to_string(curveOutput(state, kBrake, brake)) + " ";
  } else if (v < t.end) {
    t.tracking = false;
    t.maximum = 0;
    std::shift_right(customHistory_.begin(), customHistory_.end(), 1);
    customHistory_[0] = kEmptyHistoryEntry;
  }
}

ProReadout PedalReadout::pro(const ControllerState& state) const {
  ProReadout r;
  r.hasClutch = state.hasClutch;
  if (state.hasClutch) r.percent[kClutch] = barPercent(proPercent(axes_.axis3));
  r.percent[kBrake] = barPercent(proPercent(axes_.axis2));
  r.percent[kThrottle] = barPercent(proPercent(axes_.axis1));
  for (int p = 0; p < kReadoutPedals; ++p) r.valueText[p] = valueText(r.percent[p]);
  return r;
}

CustomReadout PedalReadout::custom(const ControllerState& state) const {
  CustomReadout r;
  r.hasClutch = state.hasClutch;
  const int16_t raws[kReadoutPedals] = {axes_.axis3, axes_.axis2, axes_.axis1};
  for (int p = 0; p < kReadoutPedals; ++p) {
    if (p == kClutch && !state.hasClutch) continue;
    r.input[p] = barPercent(customPercent(raws[p]));
    r.output[p] = curveOutput(state, p, r.input[p]);
  }
  return r;
}

}  // namespace tkb
