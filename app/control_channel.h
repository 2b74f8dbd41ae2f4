// The control channel of TKB-Tunedeck: one running program per user, and the requests other
// processes of the same user send it. A second start asks the first to come to the front
// (Activate); tkb-cli hands it its argument vector (Command) when the program holds the
// pedals' port, and prints the reply. The channel is a Unix stream socket "control" in the
// user's own channel folder ($XDG_RUNTIME_DIR/tkb-tunedeck, mode 0700), guarded by the
// instance lock "control.lock" beside it. No Qt here: tkb-cli, the GUI and the tests link it.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tkb::control {

inline constexpr const char* kControlSocketName = "control";
inline constexpr const char* kControlLockName = "control.lock";
// A message is its length (uint32, little-endian) and that many bytes. A request is small:
// an argument vector and a folder; a reply carries a command's whole output.
inline constexpr std::size_t kMaxRequestBytes = 64 * 1024;
inline constexpr std::size_t kMaxReplyBytes = 8 * 1024 * 1024;
inline constexpr std::size_t kMaxArguments = 256;
// How long the program waits for a whole request once a client has connected; a client
// that sends nothing or half a request is dropped after it.
inline constexpr int kRequestWaitMs = 3000;
// How long a caller keeps trying to connect while the program runs (its lock is held) but its
// queue of connections is full or its socket not bound yet.
inline constexpr int kConnectWaitMs = 10'000;
inline constexpr int kConnectRetryMs = 20;

// The folder of the user's channels (the monitor's too), and the two names in it.
std::string controlFolder();

// Asks the running program to bring its window to the front. The token lets the desktop
// hand the focus over (XDG_ACTIVATION_TOKEN on Wayland, DESKTOP_STARTUP_ID on X11).
struct ActivateRequest {
  std::string activationToken;
  std::string startupId;
};
// One tkb-cli command: its arguments (without the program name) and the caller's working
// directory, against which relative file names are taken.
struct CommandRequest {
  std::vector<std::string> arguments;
  std::string workingDirectory;
  // Not in the message: the program learns it from the connection (0 when unknown).
  pid_t peerPid = 0;
};
using Request = std::variant<ActivateRequest, CommandRequest>;

struct Reply {
  std::string out;
  std::string err;
  int status = 0;
};

// The payloads (without the length prefix). decode gives nothing for any byte string that
// encode could not have made: unknown type, a length past the end, bytes left over, more
// than kMaxArguments arguments.
std::vector<std::uint8_t> encodeRequest(const Request& request);
std::optional<Request> decodeRequest(const std::uint8_t* bytes, std::size_t length);
std::vector<std::uint8_t> encodeReply(const Reply& reply);
std::optional<Reply> decodeReply(const std::uint8_t* bytes, std::size_t length);
// The length prefix and the payload.
std::vector<std::uint8_t> frameMessage(const std::vector<std::uint8_t>& payload);

// Collects one length-prefixed message from bytes as they arrive.
class MessageReader {
 public:
  explicit MessageReader(std::size_t maxBytes) : max_(maxBytes) {}
  // Malformed: longer than maxBytes, or bytes after the message.
  enum class Status { NeedMore, Complete, Malformed };
  // Takes what arrived; bytes after a complete message are an error too (one message per
  // connection).
  Status feed(const std::uint8_t* bytes, std::size_t length);
  Status status() const { return status_; }
  const std::vector<std::uint8_t>& payload() const { return payload_; }

 private:
  std::size_t max_;
  std::uint8_t prefix_[4] = {};
  std::size_t prefixBytes_ = 0;
  std::size_t expected_ = 0;
  std::vector<std::uint8_t> payload_;
  Status status_ = Status::NeedMore;
};

// The uid of the process at the other end of a connected Unix socket, none when unknown.
std::optional<uid_t> peerUid(int fd);
// The pid of the process at the other end, 0 when unknown.
pid_t peerPid(int fd);

// The instance lock: held for the program's whole life (the kernel drops it when the
// process ends, however it ends), so two starts at once cannot both win.
class InstanceLock {
 public:
  explicit InstanceLock(std::string folder = controlFolder());
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  enum class Result { Acquired, HeldElsewhere, Failed };
  // Makes the folder when missing; Failed (problem() says why) when it is not fit.
  Result acquire();
  bool held() const { return held_; }
  const std::string& folder() const { return folder_; }
  const std::string& problem() const { return problem_; }

 private:
  std::string folder_;
  std::string problem_;
  int fd_ = -1;
  bool held_ = false;
};

// The program's end of the channel: a non-blocking listening socket. Only the lock holder
// binds it; a socket file left by a program that crashed is removed first.
class ControlListener {
 public:
  explicit ControlListener(std::string folder = controlFolder(), uid_t expectedUid = ::geteuid());
  ~ControlListener();
  ControlListener(const ControlListener&) = delete;
  ControlListener& operator=(const ControlListener&) = delete;

  bool listen(const InstanceLock& lock);
  int fd() const { return fd_; }
  const std::string& problem() const { return problem_; }
  // The next waiting connection (non-blocking, close-on-exec) of a process of the expected
  // user; connections of others are closed at once. -1 when none is waiting.
  int accept();

 private:
  std::string folder_;
  uid_t expectedUid_;
  std::string problem_;
  int fd_ = -1;
};

// Reads one request from a connection until it is complete, malformed or waitMs have
// passed; blocking (the tests' and tkb-cli's side; the GUI reads without blocking).
std::optional<Request> readRequest(int fd, int waitMs);
// Writes a whole message, waiting at most waitMs for the peer to take it.
bool writeMessage(int fd, const std::vector<std::uint8_t>& payload, int waitMs);

// Whether a program holds the instance lock of folder (it runs); looked at without taking
// the lock for longer than the look.
bool instanceLockHeld(const std::string& folder);

// The caller's end. Nobody: no program runs (the instance lock is free and nobody takes the
// connection), the folder is not ours, or the listener belongs to another user; the caller
// then does the work itself. Busy: the program runs, but took no connection within
// min(waitMs, kConnectWaitMs) (its queue full, its socket not bound): the caller must not do
// the work itself. NoReply: the program took the request but gave no whole reply within
// waitMs (it may have done part of the work, so the caller must not do it again).
struct CallResult {
  enum class Outcome { Nobody, Replied, NoReply, Busy };
  Outcome outcome = Outcome::Nobody;
  Reply reply;
};
CallResult call(const Request& request, int waitMs, const std::string& folder = controlFolder());

}  // namespace tkb::control
