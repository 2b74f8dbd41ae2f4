// The pedal inputs the window can use: the emulated pedal set's joystick (demo mode and
// tests) and the pedal set's own joystick on this machine.
#pragma once

#include <atomic>
#include <memory>

#include "emulator/pedal_emulator.h"
#include "ui/services.h"

namespace tkb::ui {

// The joystick of an emulated pedal set: its axes are the emulator's current positions.
// "Plugged" can be changed to model a pedal set whose joystick interface is missing.
class EmulatedPedalInput : public PedalInput {
 public:
  explicit EmulatedPedalInput(emu::PedalEmulator& emulator) : emulator_(emulator) {}
  void setPlugged(bool plugged) { plugged_ = plugged; }
  bool findJoystick() override { return plugged_; }
  void readPedalAxes() override;
  std::array<int16_t, 4> axes() const override { return axes_; }
  int reads() const { return reads_; }

 private:
  emu::PedalEmulator& emulator_;
  std::atomic<bool> plugged_{true};
  std::array<int16_t, 4> axes_{-32767, -32767, -32767, -32767};
  int reads_ = 0;
};

// The pedal set's joystick on this machine (hidraw).
std::unique_ptr<PedalInput> createSystemPedalInput();
// The system-wide key listener (X11), or none where this build has none.
std::unique_ptr<KeyListener> createSystemKeyListener();

}  // namespace tkb::ui
