#include "app/evdev_key_source.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bitset>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "app/wake_pipe.h"
#include "link/trace.h"

namespace tkb {
namespace {

constexpr int kWordBits = 64;  // capabilities bitmaps are printed in words of the kernel's long

// Letter key codes in A..Z order.
constexpr std::array<int, 26> kLetterCodes = {
    KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I, KEY_J, KEY_K, KEY_L, KEY_M,
    KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R, KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z};
constexpr std::array<int, 12> kFunctionCodes = {KEY_F1, KEY_F2, KEY_F3, KEY_F4,  KEY_F5,  KEY_F6,
                                                KEY_F7, KEY_F8, KEY_F9, KEY_F10, KEY_F11, KEY_F12};

bool isCtrl(int code) { return code == KEY_LEFTCTRL || code == KEY_RIGHTCTRL; }
bool isShift(int code) { return code == KEY_LEFTSHIFT || code == KEY_RIGHTSHIFT; }
bool isModifier(int code) { return isCtrl(code) || isShift(code); }

std::string readText(const std::string& path) {
  std::ifstream file(path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

unsigned long hexValue(const std::string& text) { return std::strtoul(text.c_str(), nullptr, 16); }

using KeyBits = std::bitset<KEY_CNT>;

}  // namespace

int evdevKeyIdentity(int code) {
  for (size_t i = 0; i < kFunctionCodes.size(); ++i)
    if (kFunctionCodes[i] == code) return functionKey(static_cast<int>(i) + 1);
  for (size_t i = 0; i < kLetterCodes.size(); ++i)
    if (kLetterCodes[i] == code) return 'A' + static_cast<int>(i);
  return kOtherKey;
}

bool hasKeyboardKeys(const std::string& capabilitiesKey) {
  std::istringstream words(capabilitiesKey);
  std::vector<std::string> highestFirst;
  for (std::string word; words >> word;) highestFirst.push_back(word);
  KeyBits bits;
  for (size_t i = 0; i < highestFirst.size(); ++i) {
    const std::string& word = highestFirst[highestFirst.size() - 1 - i];
    if (word.size() > 16 || word.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
      return false;
    const unsigned long long value = std::strtoull(word.c_str(), nullptr, 16);
    for (int b = 0; b < kWordBits; ++b) {
      const size_t code = i * kWordBits + static_cast<size_t>(b);
      if (code < bits.size() && ((value >> b) & 1ULL) != 0) bits.set(code);
    }
  }
  for (int code : kLetterCodes)
    if (bits.test(static_cast<size_t>(code))) return true;
  for (int code : kFunctionCodes)
    if (bits.test(static_cast<size_t>(code))) return true;
  return false;
}

std::optional<std::string> findPedalKeyboardNode(const DeviceRoots& roots) {
  const std::string folder = roots.sysfs + "/class/input";
  std::vector<std::pair<int, std::string>> nodes;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      const std::string digits = name.size() > 5 ? name.substr(5) : "";
      if (name.compare(0, 5, "event") != 0 || digits.empty() || digits.size() > 6 ||
          digits.find_first_not_of("0123456789") != std::string::npos)
        continue;
      nodes.emplace_back(std::atoi(digits.c_str()), name);
    }
    ::closedir(dir);
  }
  std::sort(nodes.begin(), nodes.end());
  for (const auto& [number, name] : nodes) {
    const std::string device = folder + "/" + name + "/device/";
    if (hexValue(readText(device + "id/vendor")) != kPedalVendorId ||
        hexValue(readText(device + "id/product")) != kPedalProductId ||
        !hasKeyboardKeys(readText(device + "capabilities/key")))
      continue;
    return roots.dev + "/input/" + name;
  }
  return std::nullopt;
}

struct EvdevKeySource::Impl {
  DeviceRoots roots;
  KeyDeliver deliver;
  std::thread thread;
  int wakePipe[2] = {-1, -1};
  std::atomic<int> reopenIntervalMs{kPedalReopenIntervalMs};

  // Owned by the reader thread while it runs.
  int fd = -1;
  KeyBits held;         // keys held on the pedals' keyboard, from its own events
  bool dropping = false;  // after SYN_DROPPED, until the next SYN_REPORT
  std::vector<uint8_t> pending;  // a record cut by a short read (a FIFO may do that)

  mutable std::mutex pathMutex;
  std::string path;

  void setPath(const std::string& value) {
    std::lock_guard lock(pathMutex);
    path = value;
  }

  // Opens the node now; on failure the reason, naming the rule for a permission problem.
  bool open(std::string* error) {
    const std::optional<std::string> node = findPedalKeyboardNode(roots);
    if (!node) {
      if (error != nullptr) *error = "the pedal set's keyboard event node is not there";
      return false;
    }
    const int opened = ::open(node->c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (opened < 0) {
      if (error != nullptr) {
        *error = errno == EACCES || errno == EPERM
                     ? "no permission to read the pedals' keys (" + *node +
                           "). Give access once: " + udevAccessHint()
                     : *node + ": " + std::strerror(errno);
      }
      return false;
    }
    fd = opened;
    held.reset();
    dropping = false;
    pending.clear();
    readHeldKeys(held);  // Ctrl or Shift may be down already
    setPath(*node);
    return true;
  }

  // The node's own key state, where it can tell (an event device can, a FIFO cannot).
  bool readHeldKeys(KeyBits& keys) const {
    std::array<unsigned char, (KEY_CNT + 7) / 8> bytes{};
    if (::ioctl(fd, EVIOCGKEY(sizeof bytes), bytes.data()) < 0) return false;
    keys.reset();
    for (size_t code = 0; code < keys.size(); ++code)
      if ((bytes[code / 8] >> (code % 8)) & 1) keys.set(code);
    return true;
  }

  void key(int code, int value) {
    if (code < 0 || code >= KEY_CNT) return;
    KeyEvent event;
    event.kind = value == 0 ? KeyEventKind::Up : KeyEventKind::Down;  // 2 is a repeat
    event.key = evdevKeyIdentity(code);
    for (size_t c = 0; c < held.size(); ++c) {
      if (!held.test(c)) continue;
      event.ctrl = event.ctrl || isCtrl(static_cast<int>(c));
      event.shift = event.shift || isShift(static_cast<int>(c));
    }
    if (value != 2) held.set(static_cast<size_t>(code), value != 0);
    if (deliver) deliver(event);
  }

  // Brings the held keys to `now` with events of their own: releases first (modifiers
  // last), then presses (modifiers first), so that a key let go while events were lost
  // still ends what its press began.
  void moveTo(const KeyBits& now) {
    for (bool modifiers : {false, true})
      for (int code = 0; code < KEY_CNT; ++code)
        if (held.test(code) && !now.test(code) && isModifier(code) == modifiers) key(code, 0);
    for (bool modifiers : {true, false})
      for (int code = 0; code < KEY_CNT; ++code)
        if (!held.test(code) && now.test(code) && isModifier(code) == modifiers) key(code, 1);
  }

  void record(const input_event& e) {
    if (e.type == EV_SYN && e.code == SYN_DROPPED) {
      dropping = true;
      return;
    }
    if (dropping) {
      // The kernel's buffer overflowed: what follows up to the next report is incomplete.
      if (e.type != EV_SYN || e.code != SYN_REPORT) return;
      dropping = false;
      KeyBits now;
      if (readHeldKeys(now)) moveTo(now);
      return;
    }
    if (e.type == EV_KEY) key(e.code, e.value);
  }

  // The pedals went away: what they held is released, and the node is looked for again.
  void lose() {
    trace("\nTeclado del pedal perdido -> %s", nodePathCopy().c_str());
    moveTo(KeyBits{});
    ::close(fd);
    fd = -1;
    setPath({});
  }

  std::string nodePathCopy() const {
    std::lock_guard lock(pathMutex);
    return path;
  }

  // False when the node is gone.
  bool readRecords() {
    uint8_t buffer[64 * sizeof(input_event)];
    for (;;) {
      const ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
      if (got <= 0) return false;  // end of file or an error such as ENODEV: unplugged
      pending.insert(pending.end(), buffer, buffer + got);
      size_t used = 0;
      for (; used + sizeof(input_event) <= pending.size(); used += sizeof(input_event)) {
        input_event e;
        std::memcpy(&e, pending.data() + used, sizeof e);
        record(e);
      }
      pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(used));
    }
  }

  void run() {
    for (;;) {
      pollfd fds[2] = {{wakePipe[0], POLLIN, 0}, {fd, POLLIN, 0}};
      const int ready = ::poll(fds, fd >= 0 ? 2 : 1, fd >= 0 ? -1 : std::max(reopenIntervalMs.load(), 10));
      if (ready < 0 && errno != EINTR) return;
      if (fds[0].revents != 0) return;
      if (fd < 0) {
        if (open(nullptr)) trace("\nTeclado del pedal -> %s", nodePathCopy().c_str());
        continue;
      }
      if (fds[1].revents != 0 && !readRecords()) lose();
    }
  }

  void close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
    for (int& end : wakePipe) {
      if (end >= 0) ::close(end);
      end = -1;
    }
    setPath({});
  }
};

EvdevKeySource::EvdevKeySource(DeviceRoots roots) : impl_(std::make_unique<Impl>()) {
  impl_->roots = std::move(roots);
}

EvdevKeySource::~EvdevKeySource() { stop(); }

bool EvdevKeySource::running() const { return impl_->thread.joinable(); }

std::string EvdevKeySource::nodePath() const { return impl_->nodePathCopy(); }

void EvdevKeySource::setReopenIntervalMs(int ms) { impl_->reopenIntervalMs = ms; }

bool EvdevKeySource::start(KeyDeliver deliver, std::string* error) {
  if (running()) return true;
  Impl& s = *impl_;
  if (!s.open(error)) return false;
  if (::pipe2(s.wakePipe, O_CLOEXEC) != 0) {
    if (error != nullptr) *error = "no pipe";
    s.close();
    return false;
  }
  s.deliver = std::move(deliver);
  s.thread = std::thread([&s] { s.run(); });
  return true;
}

void EvdevKeySource::stop() {
  Impl& s = *impl_;
  wakeAndJoin(s.thread, s.wakePipe[1]);
  s.close();
  s.deliver = nullptr;
}

}  // namespace tkb
