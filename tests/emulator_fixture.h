// Test fixtures: emulated controllers on real pseudo-terminals, linked as ttyACM<n> in a
// private folder that TKB_SERIAL_PREFIX points at, and a capture of the trace lines.
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

// A private folder, removed at the end.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/tkb-test-XXXXXX";
    path_ = ::mkdtemp(pattern);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Several emulated controllers, each on its own port number.
class EmulatedPorts {
 public:
  EmulatedPorts() { ::setenv("TKB_SERIAL_PREFIX", (dir_.path() + "/ttyACM").c_str(), 1); }
  ~EmulatedPorts() {
    ports_.clear();
    ::unsetenv("TKB_SERIAL_PREFIX");
  }

  emu::PedalEmulator& add(int number, emu::FirmwareState state = {}) {
    auto emulator = std::make_unique<emu::PedalEmulator>(std::move(state));
    EXPECT_TRUE(emulator->start(dir_.path() + "/ttyACM" + std::to_string(number)));
    auto& ref = *emulator;
    ports_[number] = std::move(emulator);
    return ref;
  }
  emu::PedalEmulator& at(int number) { return *ports_.at(number); }
  const std::string& dir() const { return dir_.path(); }

 private:
  TempDir dir_;
  std::map<int, std::unique_ptr<emu::PedalEmulator>> ports_;
};

// Collects every trace line written while it lives.
class TraceCapture {
 public:
  TraceCapture() {
    stream_ = ::open_memstream(&buffer_, &size_);
    previous_ = setTraceSink(stream_);
  }
  ~TraceCapture() {
    setTraceSink(previous_);
    std::fclose(stream_);
    std::free(buffer_);
  }
  std::string text() {
    std::fflush(stream_);
    return std::string(buffer_, size_);
  }

 private:
  char* buffer_ = nullptr;
  size_t size_ = 0;
  std::FILE* stream_ = nullptr;
  std::FILE* previous_ = nullptr;
};

}  // namespace tkb::test
