#include "link/monitor_datagram.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace tkb::monitor {
namespace {

void putLittleEndian(std::uint8_t* out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint64_t getLittleEndian(const std::uint8_t* in, int bytes) {
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | in[i];
  return value;
}

std::uint8_t byteOf(std::int64_t parameter, int index) {
  return static_cast<std::uint8_t>(static_cast<std::uint64_t>(parameter) >> (8 * index));
}

}  // namespace

std::string monitorChannelName() {
  const char* overridden = std::getenv(kChannelNameVariable);
  if (overridden != nullptr && *overridden != '\0') return overridden;
  return kMonitorWindowTitle;
}

std::array<std::uint8_t, kDatagramBytes> encodeDatagram(const MonitorDatagram& datagram) {
  std::array<std::uint8_t, kDatagramBytes> bytes{};
  putLittleEndian(bytes.data(), datagram.message, 4);
  putLittleEndian(bytes.data() + 4, static_cast<std::uint64_t>(datagram.wParam), 8);
  putLittleEndian(bytes.data() + 12, static_cast<std::uint64_t>(datagram.lParam), 8);
  return bytes;
}

std::optional<MonitorDatagram> decodeDatagram(const std::uint8_t* bytes, std::size_t length) {
  if (bytes == nullptr || length != kDatagramBytes) return std::nullopt;
  MonitorDatagram datagram;
  datagram.message = static_cast<std::uint32_t>(getLittleEndian(bytes, 4));
  datagram.wParam = static_cast<std::int64_t>(getLittleEndian(bytes + 4, 8));
  datagram.lParam = static_cast<std::int64_t>(getLittleEndian(bytes + 12, 8));
  return datagram;
}

std::optional<PedalUpdate> pedalUpdateOf(const MonitorDatagram& datagram) {
  if (datagram.message != kPedalUpdateMessage) return std::nullopt;
  PedalUpdate update;
  update.mode = byteOf(datagram.wParam, 0);
  update.maxNumber = byteOf(datagram.wParam, 1);
  update.cutNumber = byteOf(datagram.wParam, 2);
  update.throttle = byteOf(datagram.lParam, 0);
  update.brake = byteOf(datagram.lParam, 1);
  update.clutch = byteOf(datagram.lParam, 2);
  return update;
}

std::int64_t packParameter(std::uint32_t high, std::uint32_t middle, std::uint32_t low) {
  // Unsigned arithmetic wraps exactly like the sender's 32-bit signed arithmetic does.
  const std::uint32_t packed = ((high * 256u) + middle) * 256u + low;
  return static_cast<std::int64_t>(static_cast<std::int32_t>(packed));
}

MonitorDatagram pedalUpdateDatagram(const PedalUpdate& update) {
  MonitorDatagram datagram;
  datagram.message = kPedalUpdateMessage;
  datagram.wParam = packParameter(update.cutNumber, update.maxNumber, update.mode);
  datagram.lParam = packParameter(update.clutch, update.brake, update.throttle);
  return datagram;
}

MonitorSender::MonitorSender(std::string name, std::string folder)
    : name_(std::move(name)), folder_(std::move(folder)) {
  fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

MonitorSender::~MonitorSender() {
  if (fd_ >= 0) ::close(fd_);
}

bool MonitorSender::send(const MonitorDatagram& datagram) {
  const auto bytes = encodeDatagram(datagram);
  return sendBytes(bytes.data(), bytes.size());
}

bool MonitorSender::sendBytes(const std::uint8_t* bytes, std::size_t length) {
  if (fd_ < 0) return false;
  auto sendOnce = [&] {
    ssize_t sent;
    do {
      sent = ::send(fd_, bytes, length, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(length);
  };
  // Connected to the monitor's socket, a send neither looks the name up nor checks the folder:
  // both were checked when the monitor was found, and the connection stays with that monitor
  // whatever becomes of the folder. EAGAIN: its queue is full; the next update follows in
  // 10 ms anyway. Any other failure (ECONNREFUSED once the monitor ended): the name is looked
  // up again at once, so the update reaches a monitor started since.
  if (connected_) {
    if (sendOnce()) return true;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return false;
    connected_ = false;
  }
  return connectToMonitor() && sendOnce();
}

bool MonitorSender::connectToMonitor() {
  sockaddr_un address;
  socklen_t addressLength = 0;
  if (!socketAddress(folder_ + "/" + name_, address, addressLength)) return false;
  // The folder may appear (or be replaced) at any time before our monitor makes it: checked
  // before every look-up of the name.
  if (!checkChannelFolder(folder_, false).empty()) return false;
  int result;
  do {
    result = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), addressLength);
  } while (result < 0 && errno == EINTR);
  // ENOENT, ECONNREFUSED: nobody bound to the name.
  connected_ = result == 0;
  return connected_;
}

MonitorReceiver::MonitorReceiver(std::string name, uid_t expectedUid, std::string folder)
    : name_(std::move(name)), expectedUid_(expectedUid), folder_(std::move(folder)) {}

MonitorReceiver::~MonitorReceiver() {
  if (fd_ >= 0) {
    ::unlink(path().c_str());  // still ours: the lock is held until the next line
    ::close(fd_);
  }
  if (lockFd_ >= 0) ::close(lockFd_);
}

bool MonitorReceiver::bind() {
  if (fd_ >= 0) return true;
  problem_ = checkChannelFolder(folder_, true);
  if (!problem_.empty()) return false;
  const std::string socketPath = path();
  sockaddr_un address;
  socklen_t addressLength = 0;
  if (!socketAddress(socketPath, address, addressLength)) {
    problem_ = socketPath + ": the name is too long for a socket";
    return false;
  }
  if (lockFd_ < 0) {
    // The lock file stays when the monitor ends: removing it would let two monitors lock two
    // different files of the same name.
    lockFd_ = ::open((socketPath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd_ < 0) {
      problem_ = socketPath + ".lock: " + std::strerror(errno);
      return false;
    }
  }
  if (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) return false;  // another monitor of ours
  // Holding the lock, a socket file left here belongs to a monitor that died.
  ::unlink(socketPath.c_str());
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  const int on = 1;
  if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0 ||
      ::bind(fd, reinterpret_cast<sockaddr*>(&address), addressLength) != 0 ||
      ::chmod(socketPath.c_str(), 0600) != 0) {
    problem_ = socketPath + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    ::flock(lockFd_, LOCK_UN);
    return false;
  }
  fd_ = fd;
  return true;
}

std::optional<MonitorDatagram> MonitorReceiver::receive() {
  if (fd_ < 0) return std::nullopt;
  for (;;) {
    // One byte more than a datagram, so that a longer one shows as longer.
    std::uint8_t buffer[kDatagramBytes + 1];
    iovec part{buffer, sizeof buffer};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    msghdr header{};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    const ssize_t length = ::recvmsg(fd_, &header, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    if (length < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;  // EAGAIN: nothing more waiting
    }
    bool fromOwnUser = false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS &&
          c->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
        ucred credentials;
        std::memcpy(&credentials, CMSG_DATA(c), sizeof credentials);
        fromOwnUser = credentials.uid == expectedUid_;
      }
    }
    if (!fromOwnUser || (header.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0) continue;
    if (auto datagram = decodeDatagram(buffer, static_cast<std::size_t>(length))) return datagram;
  }
}

}  // namespace tkb::monitor
