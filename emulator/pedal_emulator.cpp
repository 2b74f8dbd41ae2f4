// Serving the emulated controller on a pseudo-terminal: the terminal and its link, unplug
// and plugIn, the serving thread that feeds the firmware model and writes its answers back
// after the delays it gives, and the accessors.
#include "emulator/pedal_emulator.h"
#include "emulator/bootloader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

namespace tkb::emu {
namespace {

FirmwareModel::Millis sinceStart() {
  return std::chrono::duration_cast<FirmwareModel::Millis>(
      std::chrono::steady_clock::now().time_since_epoch());
}

}  // namespace

PedalEmulator::PedalEmulator(FirmwareState initial) : model_(std::move(initial)) {}

PedalEmulator::~PedalEmulator() { stop(); }

bool PedalEmulator::openTerminal(const std::string& linkPath) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    std::perror("emulator: pseudo-terminal");
    if (master >= 0) ::close(master);
    return false;
  }
  const std::string slavePath = ::ptsname(master);
  // Holding the other end open keeps the terminal alive between clients, lets us set it
  // raw before anyone writes to it, and shows us the line speed a client sets.
  const int slave = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave >= 0) {
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
  }
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  if (!linkPath.empty()) {
    ::unlink(linkPath.c_str());
    if (::symlink(slavePath.c_str(), linkPath.c_str()) != 0) {
      std::perror(("emulator: link " + linkPath).c_str());
      if (slave >= 0) ::close(slave);
      ::close(master);
      return false;
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  master_ = master;
  slave_ = slave;
  slavePath_ = slavePath;
  linkPath_ = linkPath;
  return true;
}

// The served terminal goes away as a USB device does: its link first; the descriptors stay
// open until the next switch so that a client in the middle of a call is not cut off.
void PedalEmulator::retireTerminal() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!linkPath_.empty()) ::unlink(linkPath_.c_str());
  for (int fd : retiredFds_) ::close(fd);
  retiredFds_.clear();
  if (slave_ >= 0) retiredFds_.push_back(slave_);
  if (master_ >= 0) retiredFds_.push_back(master_);
  slave_ = master_ = -1;
  slavePath_.clear();
  linkPath_.clear();
}

bool PedalEmulator::start(const std::string& linkPath) {
  stop();
  if (flash_.empty()) flash_.assign(kFlashBytes, 0xFF);
  if (!openTerminal(linkPath)) {
    stop();
    return false;
  }
  stop_ = false;
  thread_ = std::thread([this] { serve(); });
  return true;
}

void PedalEmulator::stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  retireTerminal();
  std::lock_guard<std::mutex> lock(mutex_);
  for (int fd : retiredFds_) ::close(fd);
  retiredFds_.clear();
  inBootloader_ = false;
  bootloaderRequested_ = false;
}

std::string PedalEmulator::devicePath() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return slavePath_;
}

std::string PedalEmulator::linkPath() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return linkPath_;
}

void PedalEmulator::unplug() {
  onServeThread([this] {
    unpluggedLink_ = linkPath();
    retireTerminal();
    std::lock_guard<std::mutex> lock(mutex_);
    for (int fd : retiredFds_) ::close(fd);
    retiredFds_.clear();
  });
}

bool PedalEmulator::plugIn(const std::string& linkPath) {
  bool plugged = false;
  onServeThread([&] { plugged = openTerminal(linkPath.empty() ? unpluggedLink_ : linkPath); });
  return plugged;
}

void PedalEmulator::onServeThread(const std::function<void()>& task) {
  if (!running()) return task();
  {
    std::lock_guard<std::mutex> lock(taskMutex_);
    taskDone_ = false;
    task_ = &task;
  }
  while (!taskDone_ && !stop_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void PedalEmulator::serve() {
  while (!stop_) {
    {
      std::lock_guard<std::mutex> lock(taskMutex_);
      if (task_ != nullptr) {
        (*task_)();
        task_ = nullptr;
        std::lock_guard<std::mutex> modelLock(mutex_);
        model_.dropPartialFrame();
        taskDone_ = true;
      }
    }
    if (!inBootloader_ && (bootloaderRequested_.exchange(false) || touchedAt1200Baud())) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        model_.dropPartialFrame();
      }
      enterBootloader();
    }
    if (inBootloader_ && std::chrono::steady_clock::now() >= bootDeadline_) leaveBootloader();
    if (master_ < 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    pollfd p{master_, POLLIN, 0};
    const int ready = ::poll(&p, 1, 10);
    if (ready > 0 && (p.revents & POLLIN)) {
      uint8_t buffer[256];
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (inBootloader_) {
        if (n > 0) handleBootloaderBytes(buffer, static_cast<size_t>(n));
        continue;
      }
      // Byte by byte: each answer is written before the next byte is looked at, as the
      // firmware does.
      for (ssize_t i = 0; i < n; ++i) {
        Answer parts;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          parts = model_.receive(buffer[i], sinceStart());
        }
        answer(parts);
      }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    model_.idle(sinceStart());
  }
}

void PedalEmulator::answer(const Answer& parts) {
  for (const ReplyPart& part : parts) {
    if (part.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(part.delayMs));
    reply(part.bytes);
  }
}

void PedalEmulator::reply(const Bytes& bytes) {
  size_t done = 0;
  while (done < bytes.size() && !stop_) {
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else {
      pollfd p{master_, POLLOUT, 0};
      ::poll(&p, 1, 10);
    }
  }
}

std::vector<Bytes> PedalEmulator::received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_.received();
}

void PedalEmulator::clearReceived() {
  std::lock_guard<std::mutex> lock(mutex_);
  model_.clearReceived();
}

int PedalEmulator::answeredRequests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_.answeredRequests();
}

FirmwareState PedalEmulator::state() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_.state();
}

void PedalEmulator::update(const std::function<void(FirmwareState&)>& change) {
  std::lock_guard<std::mutex> lock(mutex_);
  change(model_.state());
}

void PedalEmulator::setFaults(const Faults& faults) {
  std::lock_guard<std::mutex> lock(mutex_);
  model_.faults() = faults;
}

void PedalEmulator::setAxes(const AxisPositions& axes) {
  std::lock_guard<std::mutex> lock(mutex_);
  model_.axes() = axes;
}

AxisPositions PedalEmulator::axes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_.axes();
}

}  // namespace tkb::emu
