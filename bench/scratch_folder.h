// The scratch folder of a benchmark that starts the window against the emulator: a fresh
// folder under /tmp holding the program's opt/, made the working directory, with the serial
// ports looked for in it (the emulator's pseudo-terminal goes there as ttyACM0) and the trace
// off. The offscreen platform unless QT_QPA_PLATFORM names another.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "link/trace.h"

namespace tkb::bench {

// The folder, or empty when it could not be made or entered.
inline std::string enterScratchFolder(const std::string& name) {
  setenv("QT_QPA_PLATFORM", getenv("QT_QPA_PLATFORM") ? getenv("QT_QPA_PLATFORM") : "offscreen", 1);
  std::string pattern = "/tmp/tkb-bench-" + name + "-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return {};
  std::error_code error;
  std::filesystem::create_directories(pattern + "/opt", error);
  if (error || chdir(pattern.c_str()) != 0) return {};
  setenv("TKB_SERIAL_PREFIX", (pattern + "/ttyACM").c_str(), 1);
  tkb::setTraceEnabled(false);
  return pattern;
}

}  // namespace tkb::bench
