// A simulated driver on the emulated pedals: clutch, throttle and brake are pressed and
// released in a repeating pattern with varying peaks, some brake presses going past the
// brake limit (the brake axis then stays at full scale while the brake total goes on).
// It is the pedal input of the demo mode and of the tests of the bars, and it can move the
// emulated controller's pedals too, so that calibration commands record real positions.
#pragma once

#include <cstdint>
#include <functional>

#include "emulator/pedal_emulator.h"
#include "link/pedal_input.h"

namespace tkb::emu {

// One pass of the pattern: clutch, throttle, brake, throttle again.
inline constexpr int64_t kDriverCycleMs = 6400;

class SimulatedDriver : public tkb::PedalInput {
 public:
  using MillisecondClock = std::function<int64_t()>;

  // emulator: when given, its pedals follow the driver and its brake maximum is the limit.
  // now: milliseconds since any fixed start (steady clock by default; tests step it).
  explicit SimulatedDriver(PedalEmulator* emulator = nullptr, MillisecondClock now = {});

  void readPedalAxes() override;

  // Without an emulator: the brake limit in percent of travel, and whether a clutch is there.
  void setBrakeLimitPercent(int percent) { brakeLimitPercent_ = percent; }
  void setHasClutch(bool hasClutch) { hasClutch_ = hasClutch; }

  // Pure: the four axes at time ms of the pattern.
  static tkb::PedalAxes axesAt(int64_t ms, int brakeLimitPercent, bool hasClutch);

 protected:
  bool open() override { return true; }

 private:
  PedalEmulator* emulator_;
  MillisecondClock now_;
  int brakeLimitPercent_ = 90;
  bool hasClutch_ = true;
};

}  // namespace tkb::emu
