#include "emulator/simulated_driver.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <numbers>

namespace tkb::emu {
namespace {

enum class Pedal { Clutch, Throttle, Brake };

// One press: when it starts in the cycle, how long its foot takes to go down, stay and come
// back, and the peaks (percent of travel; for the brake, of the brake total) it takes in
// turn from one cycle to the next.
struct Press {
  Pedal pedal;
  int startMs, riseMs, holdMs, fallMs;
  std::array<int, 5> peaks;
};

constexpr Press kPattern[] = {
    {Pedal::Clutch, 0, 250, 550, 350, {100, 92, 100, 65, 97}},
    {Pedal::Throttle, 1000, 400, 900, 300, {100, 78, 91, 64, 100}},
    {Pedal::Brake, 3000, 200, 900, 400, {58, 86, 97, 74, 100}},
    {Pedal::Throttle, 4800, 300, 800, 300, {45, 100, 70, 88, 100}},
};

// The foot's position in the press, 0..1: eased down, held with a slight tremble, eased up.
double pressShape(int64_t t, const Press& p) {
  const double pi = std::numbers::pi;
  if (t < 0) return 0;
  if (t < p.riseMs) return 0.5 - 0.5 * std::cos(pi * static_cast<double>(t) / p.riseMs);
  t -= p.riseMs;
  if (t < p.holdMs) return 1.0 - 0.015 * (1 - std::cos(2 * pi * static_cast<double>(t) / 300.0));
  t -= p.holdMs;
  if (t < p.fallMs) return 0.5 + 0.5 * std::cos(pi * static_cast<double>(t) / p.fallMs);
  return 0;
}

int16_t pedalRaw(double percent) {
  const double raw = -32767.0 + std::clamp(percent, 0.0, 100.0) * 65534.0 / 100.0;
  return static_cast<int16_t>(std::lround(raw));
}

// The brake total uses its own scale: full scale is a little over 100 %.
int16_t brakeTotalRaw(double percent) {
  const double raw = -32767.0 + std::max(percent, 0.0) * 65034.0 / 100.0;
  return static_cast<int16_t>(std::lround(std::min(raw, 32767.0)));
}

int64_t steadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

SimulatedDriver::SimulatedDriver(PedalEmulator* emulator, MillisecondClock now)
    : emulator_(emulator), now_(now ? std::move(now) : MillisecondClock(steadyMilliseconds)) {}

tkb::PedalAxes SimulatedDriver::axesAt(int64_t ms, int brakeLimitPercent, bool hasClutch) {
  const int64_t cycle = ms / kDriverCycleMs;
  const int64_t inCycle = ms % kDriverCycleMs;
  double clutch = 0, throttle = 0, total = 0;
  for (const Press& p : kPattern) {
    const double peak = p.peaks[static_cast<size_t>(cycle % p.peaks.size())];
    const double percent = peak * pressShape(inCycle - p.startMs, p);
    if (p.pedal == Pedal::Clutch) clutch = std::max(clutch, percent);
    if (p.pedal == Pedal::Throttle) throttle = std::max(throttle, percent);
    if (p.pedal == Pedal::Brake) total = std::max(total, percent);
  }
  // The controller spreads the brake up to its limit over the whole axis and stops there.
  const double limit = std::clamp(brakeLimitPercent, 1, 100);
  const double brake = std::min(100.0, total * 100.0 / limit);
  return {pedalRaw(throttle), pedalRaw(brake), pedalRaw(hasClutch ? clutch : 0),
          brakeTotalRaw(total)};
}

void SimulatedDriver::readPedalAxes() {
  int limit = brakeLimitPercent_;
  bool clutch = hasClutch_;
  if (emulator_ != nullptr) {
    const FirmwareState state = emulator_->state();
    limit = state.brakeMax;
    clutch = state.modelReply == 0x1F || state.modelReply == 0x4F;
  }
  axes_ = axesAt(now_(), limit, clutch);
  if (emulator_ != nullptr)
    emulator_->setAxes({axes_.axis1, axes_.axis2, axes_.axis3, axes_.axis4});
}

}  // namespace tkb::emu
