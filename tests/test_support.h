// Helpers shared by the test suites: unique temporary folders, whole-file reads and
// writes, and a controller connected to the emulator over a real pseudo-terminal.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "emulator/pedal_emulator.h"
#include "link/controller.h"
#include "link/probe.h"
#include "link/trace.h"

namespace tkb::test {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tkb-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string hex(const std::vector<emu::Bytes>& frames) {
  std::ostringstream out;
  for (const auto& frame : frames) {
    out << "\n  ";
    for (uint8_t b : frame) {
      char text[4];
      std::snprintf(text, sizeof text, "%02X ", b);
      out << text;
    }
  }
  return out.str();
}

// Trace lines go to a temporary file for the life of the object.
class TraceCapture {
 public:
  // Appending: a line traced on another thread while text() reads lands at the end.
  TraceCapture() : file_(std::tmpfile()) {
    ::fcntl(::fileno(file_), F_SETFL, O_APPEND);
    previous_ = setTraceSink(file_);
  }
  ~TraceCapture() {
    setTraceSink(previous_);
    std::fclose(file_);
  }
  std::string text() const {
    std::fflush(file_);
    std::rewind(file_);
    std::string out;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) out.append(buffer, n);
    std::fseek(file_, 0, SEEK_END);
    return out;
  }

 private:
  std::FILE* file_;
  std::FILE* previous_;
};

// An emulated pedal set on COM7 of a private serial prefix, and a controller that found
// it with the real probe.
class EmulatedController {
 public:
  explicit EmulatedController(emu::FirmwareState initial = {}) : emulator(initial) {}

  bool connect() {
    if (!emulator.start(dir.file("ttyACM7"))) return false;
    ::setenv("TKB_SERIAL_PREFIX", dir.file("ttyACM").c_str(), 1);
    ProbeOptions options;
    options.maxPasses = 1;
    options.passPauseMs = 0;
    applyProbeResult(controller.state, probeController(controller, options));
    emulator.clearReceived();
    return controller.state.connected;
  }

  // The frames received once at least `expected` have arrived (the emulator reads on its
  // own thread), or whatever arrived within a generous time.
  std::vector<emu::Bytes> frames(size_t expected) {
    for (int waited = 0; waited < 10000; waited += 5) {
      if (emulator.received().size() >= expected) break;
      ::usleep(5000);
    }
    ::usleep(20000);  // lets a frame too many show up too
    return emulator.received();
  }

  TempDir dir;
  emu::PedalEmulator emulator;
  Controller controller;
};

}  // namespace tkb::test
