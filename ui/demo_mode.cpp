#include "ui/demo_mode.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace tkb::ui {

DemoPedalSet::DemoPedalSet() : emulator_(std::make_unique<emu::PedalEmulator>()) {}

DemoPedalSet::~DemoPedalSet() {
  emulator_->stop();
  if (!folder_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
}

bool DemoPedalSet::start(std::string& error) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tkb-demo-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    error = "temporary folder " + pattern + ": " + std::strerror(errno);
    return false;
  }
  folder_ = pattern;
  if (!emulator_->start(folder_ + "/ttyACM0")) {
    error = "no pseudo-terminal for the emulated pedals in " + folder_ + ": " + std::strerror(errno);
    return false;
  }
  setenv("TKB_SERIAL_PREFIX", (folder_ + "/ttyACM").c_str(), 1);
  return true;
}

}  // namespace tkb::ui
