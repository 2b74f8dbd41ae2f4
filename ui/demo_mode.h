// Demo mode: an emulated pedal set inside the program, served on a pseudo-terminal in a
// private temporary folder that the serial layer is pointed at (TKB_SERIAL_PREFIX), so
// that the whole program runs without pedals.
#pragma once

#include <memory>
#include <string>

#include "emulator/pedal_emulator.h"

namespace tkb::ui {

class DemoPedalSet {
 public:
  DemoPedalSet();
  ~DemoPedalSet();
  DemoPedalSet(const DemoPedalSet&) = delete;
  DemoPedalSet& operator=(const DemoPedalSet&) = delete;

  // Creates the folder, starts the emulator as COM0 in it and sets TKB_SERIAL_PREFIX
  // (before the probe runs). False with the reason.
  bool start(std::string& error);
  emu::PedalEmulator& emulator() { return *emulator_; }
  const std::string& folder() const { return folder_; }

 private:
  std::unique_ptr<emu::PedalEmulator> emulator_;
  std::string folder_;
};

}  // namespace tkb::ui
