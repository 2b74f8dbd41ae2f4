// The simulated driver of the demo mode: presses that start and end at rest, peaks that vary,
// brake presses past the limit, and the emulated pedals following it.
#include <gtest/gtest.h>

#include <set>

#include "emulator/simulated_driver.h"

namespace {

using tkb::emu::SimulatedDriver;

constexpr int16_t kRest = -32767;
constexpr int16_t kFull = 32767;

double totalPercent(int16_t raw) { return (raw + 32767) * 100.0 / 65034.0; }
double pedalPercent(int16_t raw) { return (raw + 32767) * 100.0 / 65534.0; }

// Peaks of each press of one axis over the samples, a press being the time above 5 %.
std::vector<double> pressPeaks(const std::vector<int16_t>& samples) {
  std::vector<double> peaks;
  double peak = 0;
  for (int16_t raw : samples) {
    const double p = pedalPercent(raw);
    if (p > 5) peak = std::max(peak, p);
    else if (peak > 0) peaks.push_back(peak), peak = 0;
  }
  return peaks;
}

TEST(SimulatedDriver, PressesStartAndEndAtRestWithVaryingPeaks) {
  std::vector<int16_t> clutch, throttle, brake;
  for (int64_t ms = 0; ms < 5 * tkb::emu::kDriverCycleMs; ms += 10) {
    const tkb::PedalAxes a = SimulatedDriver::axesAt(ms, 90, true);
    clutch.push_back(a.axis3);
    throttle.push_back(a.axis1);
    brake.push_back(a.axis2);
  }
  EXPECT_EQ(clutch.front(), kRest);
  EXPECT_EQ(brake.front(), kRest);
  for (const auto* axis : {&clutch, &throttle, &brake}) {
    const std::vector<double> peaks = pressPeaks(*axis);
    EXPECT_GE(peaks.size(), 5u);
    std::set<int> distinct;
    for (double p : peaks) distinct.insert(static_cast<int>(p));
    EXPECT_GE(distinct.size(), 3u) << "peaks should vary from press to press";
  }
  EXPECT_EQ(pressPeaks(throttle).size(), 10u);  // two throttle presses per cycle
}

TEST(SimulatedDriver, BrakeStopsAtFullScaleWhenTheTotalPassesTheLimit) {
  int pastLimit = 0, belowLimitPeaks = 0;
  double pressPeak = 0;
  for (int64_t ms = 0; ms < 5 * tkb::emu::kDriverCycleMs; ms += 5) {
    const tkb::PedalAxes a = SimulatedDriver::axesAt(ms, 80, true);
    const double total = totalPercent(a.axis4);
    // The brake axis is the total spread over the travel up to the limit.
    if (total >= 80.5) {
      EXPECT_EQ(a.axis2, kFull) << ms;
    } else if (total < 79.5) {
      EXPECT_LT(a.axis2, kFull) << ms;
    }
    if (total > 5) {
      pressPeak = std::max(pressPeak, total);
    } else if (pressPeak > 0) {
      ++(pressPeak > 80 ? pastLimit : belowLimitPeaks);
      pressPeak = 0;
    }
  }
  EXPECT_GE(pastLimit, 2);
  EXPECT_GE(belowLimitPeaks, 1);
}

TEST(SimulatedDriver, WithoutClutchTheClutchStaysAtRest) {
  for (int64_t ms = 0; ms < tkb::emu::kDriverCycleMs; ms += 10)
    ASSERT_EQ(SimulatedDriver::axesAt(ms, 90, false).axis3, kRest) << ms;
}

TEST(SimulatedDriver, MovesTheEmulatedPedalsWithTheControllersLimit) {
  tkb::emu::FirmwareState state;
  state.brakeMax = 50;
  state.modelReply = 0x2F;  // no clutch
  tkb::emu::PedalEmulator emulator(state);
  int64_t now = 0;
  SimulatedDriver driver(&emulator, [&] { return now; });
  tkb::ControllerState controller;
  controller.connected = true;
  EXPECT_TRUE(driver.findJoystick(controller));
  EXPECT_TRUE(controller.connected);

  now = 3000 + 200 + 450;  // brake held in the first cycle (peak 58 % > 50 %)
  driver.readPedalAxes();
  const tkb::PedalAxes a = driver.axes();
  EXPECT_EQ(a, SimulatedDriver::axesAt(now, 50, false));
  EXPECT_EQ(a.axis2, kFull);
  const tkb::emu::AxisPositions moved = emulator.axes();
  EXPECT_EQ(moved.throttle, a.axis1);
  EXPECT_EQ(moved.brake, a.axis2);
  EXPECT_EQ(moved.clutch, kRest);
  EXPECT_EQ(moved.brakeTotal, a.axis4);

  // The controller records where the brake is held when told to (FF BA).
  tkb::emu::FirmwareState recorded = emulator.state();
  tkb::emu::PedalEmulator::applyCommand({0xFF, 0xBA}, recorded, emulator.axes());
  EXPECT_EQ(recorded.pendingCalibration.brakePressed, kFull);
}

}  // namespace
