// The channel between TKB-Tunedeck and TKB_Monitor: the configuration program's bar tasks send
// one pedal update every 10 ms to the monitor, found by its window title. On Linux the title is
// the name of a Unix datagram socket in a folder of the user's own ($XDG_RUNTIME_DIR/tkb-tunedeck,
// mode 0700), so no other user of the machine can take the name, listen in or send; each
// datagram is the message number (uint32), wParam (int64) and lParam (int64), little-endian,
// 20 bytes in all. No Qt here: both programs and the tests link this.
#pragma once

#include <sys/types.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "link/local_channel.h"

namespace tkb::monitor {

// The monitor's window title, which is also the socket name the sender looks up.
inline constexpr const char* kMonitorWindowTitle = "TKB Monitor Window";
// The pedal update: the first user message plus one.
inline constexpr std::uint32_t kPedalUpdateMessage = 0x401;
inline constexpr std::size_t kDatagramBytes = 20;
// Environment variable that replaces the socket name (tests run several monitors at once).
inline constexpr const char* kChannelNameVariable = "TKB_MONITOR_CHANNEL";

// kMonitorWindowTitle, or the value of TKB_MONITOR_CHANNEL when that is set and not empty.
std::string monitorChannelName();

struct MonitorDatagram {
  std::uint32_t message = 0;
  std::int64_t wParam = 0;
  std::int64_t lParam = 0;
};

std::array<std::uint8_t, kDatagramBytes> encodeDatagram(const MonitorDatagram& datagram);
// Exactly 20 bytes decode; any other length gives nothing.
std::optional<MonitorDatagram> decodeDatagram(const std::uint8_t* bytes, std::size_t length);

// What one pedal update carries: bits 0-7, 8-15 and 16-23 of the two parameters.
struct PedalUpdate {
  std::uint8_t mode = 0;       // bit 0: "MAX" and "CUT" numbers, bit 1: clutch bar
  std::uint8_t maxNumber = 0;  // shown under "MAX" (the brake limiter)
  // Shown under "CUT" (byte 2). The configuration program puts its whole 16-bit brake
  // limiter or brake stop in bits 16 and up; the monitor reads byte 2 only.
  std::uint16_t cutNumber = 0;
  std::uint8_t throttle = 0;   // percentages, 0..100 from the sender
  std::uint8_t brake = 0;
  std::uint8_t clutch = 0;
};

// The pedal update of a datagram; nothing for any other message number.
std::optional<PedalUpdate> pedalUpdateOf(const MonitorDatagram& datagram);

// The sender's packing of one parameter: ((high * 256) + middle) * 256 + low in 32-bit signed
// arithmetic (wrapping), widened with sign extension. The receiver only looks at bytes 0-2.
std::int64_t packParameter(std::uint32_t high, std::uint32_t middle, std::uint32_t low);
MonitorDatagram pedalUpdateDatagram(const PedalUpdate& update);

// Sends datagrams to the monitor by name. send() returns false when no monitor is bound to the
// name (or the datagram could not be queued, or the channel folder is not ours); that simply
// means "no monitor" to the caller. The name is looked up when no monitor has been found yet or
// the one found has gone; in between, the updates go straight to the monitor found.
class MonitorSender {
 public:
  explicit MonitorSender(std::string name = monitorChannelName(),
                         std::string folder = monitorChannelFolder());
  ~MonitorSender();
  MonitorSender(const MonitorSender&) = delete;
  MonitorSender& operator=(const MonitorSender&) = delete;

  bool send(const MonitorDatagram& datagram);
  // Raw bytes, for tests that send what a correct sender never would.
  bool sendBytes(const std::uint8_t* bytes, std::size_t length);

 private:
  // Looks the name up (after checking the folder) and connects the socket to the monitor bound
  // to it.
  bool connectToMonitor();

  std::string name_;
  std::string folder_;
  int fd_ = -1;
  bool connected_ = false;  // to the monitor found by the last look-up
};

// The monitor's end: a non-blocking socket bound to the name, passing the sender's credentials.
// Only datagrams from expectedUid (the monitor's own user) with exactly the 20-byte layout are
// handed on; everything else is read and dropped (a second wall behind the folder's mode).
// While bound it holds the lock "<name>.lock" beside the socket, so a second monitor of the
// same user sees the name in use, and the socket file of one that died is replaced.
class MonitorReceiver {
 public:
  explicit MonitorReceiver(std::string name = monitorChannelName(), uid_t expectedUid = ::getuid(),
                           std::string folder = monitorChannelFolder());
  ~MonitorReceiver();
  MonitorReceiver(const MonitorReceiver&) = delete;
  MonitorReceiver& operator=(const MonitorReceiver&) = delete;

  // Binds the name; false when another monitor holds it, the folder is not fit (problem() says
  // why) or the socket cannot be made.
  bool bind();
  bool bound() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::string& name() const { return name_; }
  std::string path() const { return folder_ + "/" + name_; }
  // Empty, or why the last bind() failed other than by the name being in use.
  const std::string& problem() const { return problem_; }

  // The next acceptable datagram waiting, skipping unacceptable ones; nothing when the
  // queue is empty.
  std::optional<MonitorDatagram> receive();

 private:
  std::string name_;
  uid_t expectedUid_;
  std::string folder_;
  std::string problem_;
  int fd_ = -1;
  int lockFd_ = -1;
};

}  // namespace tkb::monitor
