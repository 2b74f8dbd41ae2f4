#include "app/reconnect.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <string>

#include "app/wake_pipe.h"
#include "link/serial_port.h"
#include "link/trace.h"

namespace tkb {

namespace {

// The folder the port names live in ("/dev" for /dev/ttyACM<n>).
std::string portFolder() {
  const std::string path = portPath(portName(0));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

void Reconnector::start(Controller& controller, ProbeOptions options, std::function<void(int)> found) {
  stop();
  stop_ = false;
  finished_ = false;
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
  thread_ = std::thread([this, &controller, options = std::move(options), found = std::move(found)] {
    search(controller, options, found);
    finished_ = true;
  });
}

void Reconnector::stop() {
  stop_ = true;
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();  // asked from found(): the thread ends by itself
    } else if (wake_[1] >= 0) {
      wakeAndJoin(thread_, wake_[1]);
    } else {
      thread_.join();
    }
  }
  for (int& fd : wake_) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

void Reconnector::search(Controller& controller, ProbeOptions options, std::function<void(int)> found) {
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch >= 0 &&
      ::inotify_add_watch(watch, portFolder().c_str(), IN_CREATE | IN_ATTRIB | IN_MOVED_TO) < 0) {
    trace("\nReconexion: no se vigila %s, solo cada %d ms", portFolder().c_str(), kReconnectSlowPassMs);
  }
  // One pass at a time: no firmware update, no pause of its own, stopped with the search.
  options.firmwareUpdate = {};
  options.maxPasses = 1;
  options.passPauseMs = 0;
  options.stop = &stop_;
  while (!stop_) {
    ++passes_;
    const int result = probeController(controller, options);
    if (result >= 1 && result <= 3) {
      trace("\nReconexion: pedales en %s", controller.portName().c_str());
      if (watch >= 0) ::close(watch);
      found(result);
      return;
    }
    pollfd waits[2] = {{watch, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(waits, 2, kReconnectSlowPassMs) > 0 && (waits[0].revents & POLLIN) != 0) {
      char events[4096];
      while (::read(watch, events, sizeof events) > 0) {
      }
      ::usleep(kReconnectSettleMs * 1000);
    }
  }
  if (watch >= 0) ::close(watch);
}

}  // namespace tkb
