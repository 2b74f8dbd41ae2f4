#include "app/control_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstring>
#include <thread>

#include "link/local_channel.h"

namespace tkb::control {
namespace {

enum : std::uint8_t { kActivate = 1, kCommand = 2, kReply = 3 };

using Clock = std::chrono::steady_clock;
using monitor::socketAddress;

int remainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

class Writer {
 public:
  void byte(std::uint8_t v) { out.push_back(v); }
  void u32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void text(const std::string& s) {
    u32(static_cast<std::uint32_t>(s.size()));
    out.insert(out.end(), s.begin(), s.end());
  }
  std::vector<std::uint8_t> out;
};

class Reader {
 public:
  Reader(const std::uint8_t* bytes, std::size_t length) : p_(bytes), left_(bytes ? length : 0) {}
  bool byte(std::uint8_t& v) {
    if (left_ < 1) return false;
    v = *p_++;
    --left_;
    return true;
  }
  bool u32(std::uint32_t& v) {
    if (left_ < 4) return false;
    v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | p_[i];
    p_ += 4;
    left_ -= 4;
    return true;
  }
  bool text(std::string& s) {
    std::uint32_t n = 0;
    if (!u32(n) || n > left_) return false;
    s.assign(reinterpret_cast<const char*>(p_), n);
    p_ += n;
    left_ -= n;
    return true;
  }
  bool done() const { return left_ == 0; }

 private:
  const std::uint8_t* p_;
  std::size_t left_;
};

// Reads one message of at most maxBytes until it is whole or the deadline passes.
std::optional<std::vector<std::uint8_t>> readMessage(int fd, std::size_t maxBytes, Clock::time_point deadline) {
  MessageReader reader(maxBytes);
  std::uint8_t buffer[16384];
  while (reader.status() == MessageReader::Status::NeedMore) {
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, remainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return std::nullopt;
    reader.feed(buffer, static_cast<std::size_t>(n));
  }
  if (reader.status() != MessageReader::Status::Complete) return std::nullopt;
  return reader.payload();
}

}  // namespace

std::string controlFolder() { return monitor::monitorChannelFolder(); }

std::vector<std::uint8_t> encodeRequest(const Request& request) {
  Writer w;
  if (const auto* activate = std::get_if<ActivateRequest>(&request)) {
    w.byte(kActivate);
    w.text(activate->activationToken);
    w.text(activate->startupId);
  } else {
    const auto& command = std::get<CommandRequest>(request);
    w.byte(kCommand);
    w.text(command.workingDirectory);
    w.u32(static_cast<std::uint32_t>(command.arguments.size()));
    for (const std::string& argument : command.arguments) w.text(argument);
  }
  return w.out;
}

std::optional<Request> decodeRequest(const std::uint8_t* bytes, std::size_t length) {
  Reader r(bytes, length);
  std::uint8_t type = 0;
  if (!r.byte(type)) return std::nullopt;
  if (type == kActivate) {
    ActivateRequest activate;
    if (!r.text(activate.activationToken) || !r.text(activate.startupId) || !r.done()) return std::nullopt;
    return activate;
  }
  if (type != kCommand) return std::nullopt;
  CommandRequest command;
  std::uint32_t count = 0;
  if (!r.text(command.workingDirectory) || !r.u32(count) || count > kMaxArguments) return std::nullopt;
  command.arguments.resize(count);
  for (std::string& argument : command.arguments)
    if (!r.text(argument)) return std::nullopt;
  if (!r.done()) return std::nullopt;
  return command;
}

std::vector<std::uint8_t> encodeReply(const Reply& reply) {
  Writer w;
  w.byte(kReply);
  w.u32(static_cast<std::uint32_t>(reply.status));
  w.text(reply.out);
  w.text(reply.err);
  return w.out;
}

std::optional<Reply> decodeReply(const std::uint8_t* bytes, std::size_t length) {
  Reader r(bytes, length);
  std::uint8_t type = 0;
  std::uint32_t status = 0;
  Reply reply;
  if (!r.byte(type) || type != kReply || !r.u32(status) || !r.text(reply.out) || !r.text(reply.err) || !r.done())
    return std::nullopt;
  // An exit status is 0..255; anything else did not come from our program.
  if (status > 255) return std::nullopt;
  reply.status = static_cast<int>(status);
  return reply;
}

std::vector<std::uint8_t> frameMessage(const std::vector<std::uint8_t>& payload) {
  Writer w;
  w.u32(static_cast<std::uint32_t>(payload.size()));
  w.out.insert(w.out.end(), payload.begin(), payload.end());
  return w.out;
}

MessageReader::Status MessageReader::feed(const std::uint8_t* bytes, std::size_t length) {
  for (std::size_t i = 0; i < length && status_ != Status::Malformed; ++i) {
    if (status_ == Status::Complete) {
      status_ = Status::Malformed;  // more than one message
      break;
    }
    if (prefixBytes_ < 4) {
      prefix_[prefixBytes_++] = bytes[i];
      if (prefixBytes_ == 4) {
        expected_ = static_cast<std::size_t>(prefix_[0]) | (static_cast<std::size_t>(prefix_[1]) << 8) |
                    (static_cast<std::size_t>(prefix_[2]) << 16) | (static_cast<std::size_t>(prefix_[3]) << 24);
        if (expected_ > max_) {
          status_ = Status::Malformed;
        } else if (expected_ == 0) {
          status_ = Status::Complete;
        } else {
          payload_.reserve(expected_);
        }
      }
      continue;
    }
    payload_.push_back(bytes[i]);
    if (payload_.size() == expected_) status_ = Status::Complete;
  }
  return status_;
}

std::optional<uid_t> peerUid(int fd) {
  ucred credentials{};
  socklen_t length = sizeof credentials;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 || length != sizeof credentials)
    return std::nullopt;
  return credentials.uid;
}

pid_t peerPid(int fd) {
  ucred credentials{};
  socklen_t length = sizeof credentials;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 || length != sizeof credentials) return 0;
  return credentials.pid;
}

InstanceLock::InstanceLock(std::string folder) : folder_(std::move(folder)) {}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

InstanceLock::Result InstanceLock::acquire() {
  if (held_) return Result::Acquired;
  problem_ = monitor::checkChannelFolder(folder_, true);
  if (!problem_.empty()) return Result::Failed;
  if (fd_ < 0) {
    // The lock file stays when the program ends: removing it would let two programs lock
    // two different files of the same name.
    const std::string path = folder_ + "/" + kControlLockName;
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) {
      problem_ = path + ": " + std::strerror(errno);
      return Result::Failed;
    }
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return Result::HeldElsewhere;
    problem_ = folder_ + "/" + kControlLockName + ": " + std::strerror(errno);
    return Result::Failed;
  }
  held_ = true;
  return Result::Acquired;
}

ControlListener::ControlListener(std::string folder, uid_t expectedUid)
    : folder_(std::move(folder)), expectedUid_(expectedUid) {}

ControlListener::~ControlListener() {
  if (fd_ >= 0) {
    // Still ours: the lock is held until the program ends.
    ::unlink((folder_ + "/" + kControlSocketName).c_str());
    ::close(fd_);
  }
}

bool ControlListener::listen(const InstanceLock& lock) {
  if (fd_ >= 0) return true;
  if (!lock.held()) {
    problem_ = "the instance lock is not held";
    return false;
  }
  const std::string path = folder_ + "/" + kControlSocketName;
  sockaddr_un address;
  socklen_t length = 0;
  if (!socketAddress(path, address, length)) {
    problem_ = path + ": the name is too long for a socket";
    return false;
  }
  // Holding the lock, a socket file here belongs to a program that died.
  ::unlink(path.c_str());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  // The longest queue the system allows (the kernel caps the backlog at net.core.somaxconn):
  // a flood of connections of the same user must not turn tkb-cli's connect away.
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::chmod(path.c_str(), 0600) != 0 || ::listen(fd, INT_MAX) != 0) {
    problem_ = path + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

int ControlListener::accept() {
  if (fd_ < 0) return -1;
  for (;;) {
    const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return -1;
    }
    // The folder already keeps other users out; this is the second wall.
    const auto uid = peerUid(fd);
    if (uid && *uid == expectedUid_) return fd;
    ::close(fd);
  }
}

std::optional<Request> readRequest(int fd, int waitMs) {
  const auto payload = readMessage(fd, kMaxRequestBytes, Clock::now() + std::chrono::milliseconds(waitMs));
  if (!payload) return std::nullopt;
  return decodeRequest(payload->data(), payload->size());
}

bool writeMessage(int fd, const std::vector<std::uint8_t>& payload, int waitMs) {
  const std::vector<std::uint8_t> message = frameMessage(payload);
  const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  std::size_t sent = 0;
  while (sent < message.size()) {
    const ssize_t n = ::send(fd, message.data() + sent, message.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return false;
    pollfd p{fd, POLLOUT, 0};
    const int ready = ::poll(&p, 1, remainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || (p.revents & (POLLERR | POLLHUP))) return false;
  }
  return true;
}

bool instanceLockHeld(const std::string& folder) {
  const int fd = ::open((folder + "/" + kControlLockName).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  // A shared lock is refused only while the program holds its exclusive one. A program that
  // starts in this instant finds the lock taken and tries again a moment later.
  const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

namespace {

// A connected socket (non-blocking), -1 when nobody took the connection: retried while the
// program runs but cannot take it yet, `busy` set when the time ran out that way.
int connectToProgram(const std::string& folder, const sockaddr_un& address, socklen_t length, int waitMs,
                     bool& busy) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::min(waitMs, kConnectWaitMs));
  for (;;) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    int connected;
    do {
      connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length);
    } while (connected != 0 && errno == EINTR);
    if (connected == 0) return fd;
    const int error = errno;
    ::close(fd);
    // A full queue means a program listens. Otherwise (no socket, or one a program that died
    // left) nobody runs unless the instance lock is held: then the program is starting and
    // binds its socket in a moment.
    if (error != EAGAIN && !instanceLockHeld(folder)) return -1;
    if (Clock::now() >= deadline) {
      busy = true;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kConnectRetryMs));
  }
}

}  // namespace

CallResult call(const Request& request, int waitMs, const std::string& folder) {
  CallResult result;
  if (!monitor::checkChannelFolder(folder, false).empty()) return result;
  sockaddr_un address;
  socklen_t length = 0;
  if (!socketAddress(folder + "/" + kControlSocketName, address, length)) return result;
  bool busy = false;
  const int fd = connectToProgram(folder, address, length, waitMs, busy);
  if (fd < 0) {
    if (busy) result.outcome = CallResult::Outcome::Busy;
    return result;
  }
  // Only a program of our own user is asked.
  const auto uid = peerUid(fd);
  if (!uid || *uid != ::geteuid()) {
    ::close(fd);
    return result;
  }
  result.outcome = CallResult::Outcome::NoReply;
  if (writeMessage(fd, encodeRequest(request), waitMs)) {
    if (const auto payload = readMessage(fd, kMaxReplyBytes, Clock::now() + std::chrono::milliseconds(waitMs))) {
      if (auto reply = decodeReply(payload->data(), payload->size())) {
        result.outcome = CallResult::Outcome::Replied;
        result.reply = std::move(*reply);
      }
    }
  }
  ::close(fd);
  return result;
}

}  // namespace tkb::control
