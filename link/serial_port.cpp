#include "link/serial_port.h"
#include "link/usb_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace tkb {

using WallClock = std::chrono::steady_clock;

struct SerialPort::Settings {
  termios tio{};
};

namespace {

std::string serialPrefix() {
  const char* prefix = std::getenv("TKB_SERIAL_PREFIX");
  return prefix != nullptr && *prefix != '\0' ? prefix : "/dev/ttyACM";
}

int remainingMs(WallClock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - WallClock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

std::string portName(int number) { return "COM" + std::to_string(number); }

std::string portPath(const std::string& name) {
  if (name.size() < 4 || name.compare(0, 3, "COM") != 0) return {};
  for (size_t i = 3; i < name.size(); ++i)
    if (name[i] < '0' || name[i] > '9') return {};
  return serialPrefix() + name.substr(3);
}

std::optional<std::string> lookUpPort(const std::string& name) {
  const std::string path = portPath(name);
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0) return std::nullopt;
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return path;
  return std::string(resolved);
}

namespace {

std::string readFirstLine(const std::string& path) {
  std::string line;
  if (std::FILE* f = std::fopen(path.c_str(), "r")) {
    char buffer[64];
    if (std::fgets(buffer, sizeof buffer, f) != nullptr) line = buffer;
    std::fclose(f);
  }
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

}  // namespace

std::string portIdentity(const std::string& name) {
  const std::optional<std::string> device = lookUpPort(name);
  if (!device) return {};
  const std::string usbDevice = usbDeviceFolder(name);
  if (usbDevice.empty()) return *device;
  return *device + "@" + readFirstLine(usbDevice + "/busnum") + "." +
         readFirstLine(usbDevice + "/devnum");
}

SerialPort::~SerialPort() {
  close();
  delete settings_;
}

bool SerialPort::open(const std::string& path) {
  close();
  lost_ = false;
  fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    lastError_ = errno;
    return false;
  }
  path_ = path;
  struct stat info {};
  if (::fstat(fd_, &info) == 0) {
    device_ = static_cast<unsigned long>(info.st_rdev);
    inode_ = static_cast<unsigned long>(info.st_ino);
  }
  // Nobody else may open the controller's port while we hold it.
  ::ioctl(fd_, TIOCEXCL);
  return true;
}

void SerialPort::close() {
  if (fd_ >= 0) {
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
  }
  fd_ = -1;
}

bool SerialPort::getState() {
  if (settings_ == nullptr) settings_ = new Settings;
  if (::tcgetattr(fd_, &settings_->tio) != 0) {
    lastError_ = errno;
    return false;
  }
  return true;
}

bool SerialPort::buildState() {
  if (settings_ == nullptr) settings_ = new Settings;
  termios& t = settings_->tio;
  ::cfmakeraw(&t);
  t.c_cflag &= ~(PARENB | CSTOPB | CSIZE | CRTSCTS);
  t.c_cflag |= CS8 | CREAD | CLOCAL;
  t.c_iflag &= ~(IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (::cfsetispeed(&t, B9600) != 0 || ::cfsetospeed(&t, B9600) != 0) {
    lastError_ = errno;
    return false;
  }
  return true;
}

bool SerialPort::applyState() {
  if (settings_ == nullptr || ::tcsetattr(fd_, TCSANOW, &settings_->tio) != 0) {
    lastError_ = settings_ == nullptr ? EINVAL : errno;
    return false;
  }
  return true;
}

bool SerialPort::setTimeouts() {
  // The time-outs live in read() and write(); the descriptor must not block for them.
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags < 0 || ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) != 0) {
    lastError_ = errno;
    return false;
  }
  return true;
}

bool SerialPort::clearDtr() {
  int bits = TIOCM_DTR;
  if (::ioctl(fd_, TIOCMBIC, &bits) != 0) {
    lastError_ = errno;
    return false;
  }
  return true;
}

bool SerialPort::setDtr() {
  int bits = TIOCM_DTR;
  if (::ioctl(fd_, TIOCMBIS, &bits) != 0) {
    lastError_ = errno;
    return false;
  }
  return true;
}

bool SerialPort::setBaud(int baud) {
  termios t{};
  if (::tcgetattr(fd_, &t) != 0) {
    lastError_ = errno;
    return false;
  }
  const speed_t speed = baud == 1200 ? B1200 : baud == 57600 ? B57600 : B9600;
  ::cfsetispeed(&t, speed);
  ::cfsetospeed(&t, speed);
  if (::tcsetattr(fd_, TCSANOW, &t) != 0) {
    lastError_ = errno;
    return false;
  }
  return true;
}

bool SerialPort::write(std::span<const uint8_t> bytes) {
  lastWriteCount_ = 0;
  if (fd_ < 0) {
    lastError_ = EBADF;
    return false;
  }
  const auto deadline = WallClock::now() + std::chrono::milliseconds(writeTotalMs(bytes.size()));
  size_t& done = lastWriteCount_;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      noteError(errno);
      return false;
    }
    pollfd p{fd_, POLLOUT, 0};
    const int left = remainingMs(deadline);
    if (left == 0 || ::poll(&p, 1, left) <= 0) {
      lastError_ = ETIMEDOUT;
      return false;
    }
    if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      noteError(EIO);
      return false;
    }
  }
  return true;
}

ReadResult SerialPort::read(std::span<uint8_t> buffer) {
  ReadResult result;
  const int wanted = static_cast<int>(buffer.size());
  const auto deadline = WallClock::now() + std::chrono::milliseconds(readTotalMs(buffer.size()));
  auto fail = [&](int error) {
    // A failing read still takes its time, as the port's time-outs would, so that
    // callers retrying it never spin.
    std::this_thread::sleep_until(deadline);
    noteError(error);
    result.ok = false;
    result.error = error;
    return result;
  };
  if (fd_ < 0) return fail(EBADF);
  result.ok = true;
  while (result.count < wanted) {
    int wait = remainingMs(deadline);
    if (result.count > 0 && wait > kReadIntervalMs) wait = kReadIntervalMs;
    if (wait == 0) break;
    pollfd p{fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, wait);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    if (ready == 0) break;  // total or interval time-out: return what arrived
    if ((p.revents & POLLIN) == 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
      return fail(EIO);  // hung up with nothing left to read
    const ssize_t n = ::read(fd_, buffer.data() + result.count, wanted - result.count);
    if (n > 0) {
      result.count += static_cast<int>(n);
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      return fail(n == 0 ? EIO : errno);
    }
  }
  return result;
}

}  // namespace tkb

namespace tkb {

int SerialPort::discardInput() {
  if (fd_ < 0) return 0;
  // tcflush drops what the driver holds; the non-blocking drain takes what a pseudo-terminal
  // or the kernel still had in flight.
  ::tcflush(fd_, TCIFLUSH);
  int dropped = 0;
  uint8_t sink[256];
  for (;;) {
    const ssize_t n = ::read(fd_, sink, sizeof sink);
    if (n > 0) {
      dropped += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  return dropped;
}

bool SerialPort::inputWithin(int ms) {
  if (fd_ < 0) return false;
  pollfd p{fd_, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&p, 1, ms);
  } while (ready < 0 && errno == EINTR);
  return ready > 0 && (p.revents & POLLIN) != 0;
}

}  // namespace tkb

namespace tkb {

void SerialPort::noteError(int error) {
  lastError_ = error;
  if (error == EIO || error == ENXIO || error == ENODEV || error == EPIPE) lost_ = true;
}

bool SerialPort::checkLink() {
  if (fd_ < 0) return false;
  if (lost_) return false;
  pollfd p{fd_, 0, 0};
  if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
    lost_ = true;
    return false;
  }
  // A USB serial node that vanished keeps the open descriptor quiet for a while; the name
  // going away, or naming another device, tells at once.
  struct stat info {};
  if (::stat(path_.c_str(), &info) != 0 || static_cast<unsigned long>(info.st_rdev) != device_ ||
      static_cast<unsigned long>(info.st_ino) != inode_) {
    lost_ = true;
    return false;
  }
  return true;
}

}  // namespace tkb
