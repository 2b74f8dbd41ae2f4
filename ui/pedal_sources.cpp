#include "ui/pedal_sources.h"

#include "link/trace.h"

namespace tkb::ui {

void EmulatedPedalInput::readPedalAxes() {
  const emu::AxisPositions a = emulator_.axes();
  axes_ = {a.throttle, a.brake, a.clutch, a.brakeTotal};
  ++reads_;
}

namespace {

// SEAM: the hidraw reader (findJoystick / readPedalAxes of the pedal-input layer) is
// built on its own branch and is wired in here when it is merged. Until then a real
// pedal set is reported as "joystick not found", which shows NotDetectedBox: the window
// never pretends to read pedals it cannot read.
class MissingHidrawInput : public PedalInput {
 public:
  bool findJoystick() override {
    trace("\nPedal input (hidraw) not part of this build: joystick not found\n");
    return false;
  }
  void readPedalAxes() override {}
  std::array<int16_t, 4> axes() const override { return {-32767, -32767, -32767, -32767}; }
};

}  // namespace

std::unique_ptr<PedalInput> createSystemPedalInput() { return std::make_unique<MissingHidrawInput>(); }

// SEAM: the X11 key listener is built on its own branch and is wired in here when it is
// merged; without it the start-up skips the key step with a trace line.
std::unique_ptr<KeyListener> createSystemKeyListener() { return nullptr; }

}  // namespace tkb::ui
