// Test fixtures: emulated controllers on real pseudo-terminals, linked as ttyACM<n> in a
// private folder that TKB_SERIAL_PREFIX points at, and frames printed as hex.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "emulator/pedal_emulator.h"
#include "link/trace.h"
#include "test_support.h"

namespace tkb::test {

inline std::string hex(const std::vector<uint8_t>& bytes) {
  std::string out;
  char b[4];
  for (uint8_t v : bytes) {
    std::snprintf(b, sizeof b, "%02X ", v);
    out += b;
  }
  if (!out.empty()) out.pop_back();
  return out;
}

inline std::string hexFrames(const std::vector<std::vector<uint8_t>>& frames) {
  std::string out;
  for (const auto& f : frames) out += "[" + hex(f) + "] ";
  return out;
}

// Several emulated controllers, each on its own port number.
class EmulatedPorts {
 public:
  EmulatedPorts() { ::setenv("TKB_SERIAL_PREFIX", dir_.file("ttyACM").c_str(), 1); }
  ~EmulatedPorts() {
    ports_.clear();
    ::unsetenv("TKB_SERIAL_PREFIX");
  }

  emu::PedalEmulator& add(int number, emu::FirmwareState state = {}) {
    auto emulator = std::make_unique<emu::PedalEmulator>(std::move(state));
    EXPECT_TRUE(emulator->start(dir_.file("ttyACM" + std::to_string(number))));
    auto& ref = *emulator;
    ports_[number] = std::move(emulator);
    return ref;
  }
  emu::PedalEmulator& at(int number) { return *ports_.at(number); }
  std::string dir() const { return dir_.path().string(); }

 private:
  TempDir dir_;
  std::map<int, std::unique_ptr<emu::PedalEmulator>> ports_;
};

}  // namespace tkb::test
