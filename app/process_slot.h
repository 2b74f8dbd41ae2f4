// ProcessSlot: one started monitor program that the configuration program can stop later.
// Started with posix_spawn in its own working directory, with no inherited descriptors
// and the caller's environment; stopped with SIGTERM, then SIGKILL when it does not end
// within a short grace period, and always reaped. A slot whose program ended by itself
// stays "running" until it is stopped, which then only reaps it.
// Used by the main page's monitor buttons and the VR panel.
#pragma once

#include <sys/types.h>

#include <string>

namespace tkb {

inline constexpr int kStopGraceMs = 1000;

class ProcessSlot {
 public:
  ProcessSlot() = default;
  // Dropping a slot leaves its program running: closing the window must not end a monitor.
  ~ProcessSlot() = default;
  ProcessSlot(const ProcessSlot&) = delete;
  ProcessSlot& operator=(const ProcessSlot&) = delete;

  // Starts program (relative paths are taken from the current working directory) with
  // workingDirectory as its working directory. False when it could not be started; the
  // slot is then empty.
  bool start(const std::string& program, const std::string& workingDirectory);
  // Ends the program (if it still runs) and empties the slot; nothing when empty.
  void stop();

  bool empty() const { return pid_ <= 0; }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

}  // namespace tkb
