// The search for a pedal set that was unplugged: a background thread that runs one probe
// pass whenever something appears in the serial ports' folder (inotify) and otherwise every
// couple of seconds, until a controller answers, on the same port name or another. Used by
// the window after the link went Disconnected; the thread owns the controller's link
// meanwhile.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "link/probe.h"

namespace tkb {

// Between passes when nothing shows up in the folder (ports that appear without a folder
// event, or that could not be opened yet because their permissions were still being set).
inline constexpr int kReconnectSlowPassMs = 2000;
// After a folder event, so that udev has set the new node's permissions.
inline constexpr int kReconnectSettleMs = 20;

class Reconnector {
 public:
  Reconnector() = default;
  ~Reconnector() { stop(); }
  Reconnector(const Reconnector&) = delete;
  Reconnector& operator=(const Reconnector&) = delete;

  // found(result) is called on the search thread with the probe's result (1, 2 or 3) once
  // a controller answered; the controller's link is then open on its port. options gives
  // the probe's switches (probeAllPorts); its passes, pause and stop flag are the search's.
  void start(Controller& controller, ProbeOptions options, std::function<void(int result)> found);
  // Ends the search (also from found) and waits for the thread.
  void stop();
  bool running() const { return thread_.joinable() && !finished_.load(); }
  // How many probe passes ran: for the tests and the benchmark.
  int passes() const { return passes_.load(); }

 private:
  void search(Controller& controller, ProbeOptions options, std::function<void(int)> found);

  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{false};
  std::atomic<int> passes_{0};
  int wake_[2] = {-1, -1};
};

}  // namespace tkb
