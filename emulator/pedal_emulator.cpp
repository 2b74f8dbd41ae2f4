#include "emulator/pedal_emulator.h"

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
#include <random>
#include <sstream>
#include <utility>

namespace tkb::emu {
namespace {

constexpr uint8_t kStart = 0x12;
constexpr uint8_t kEnd = 0x21;
constexpr int kPartialFrameTimeoutMs = 200;

// The ATmega32u4 and its AVR109 bootloader.
constexpr size_t kFlashBytes = 32768;
constexpr size_t kBootloaderBytes = 4096;  // the top of the flash, never written over
constexpr size_t kEepromBytes = 1024;
constexpr int kBootBlockBytes = 128;
constexpr int kBootIdleMs = 8000;   // the bootloader returns to the program when left alone
constexpr int kBootLeaveMs = 200;   // after 'E', time for the client to read the answer
constexpr uint8_t kBootOk = '\r';
constexpr uint8_t kBootUnknown = '?';
constexpr uint8_t kSignature[3] = {0x1E, 0x95, 0x87};

// "dir/ttyACM7" -> {"dir/ttyACM", 7}; -1 when the name does not end in a number.
std::pair<std::string, int> splitLink(const std::string& path) {
  size_t digits = path.size();
  while (digits > 0 && path[digits - 1] >= '0' && path[digits - 1] <= '9') --digits;
  if (digits == path.size() || path.size() - digits > 3) return {path, -1};
  return {path.substr(0, digits), std::atoi(path.c_str() + digits)};
}

bool nameTaken(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

// How many bytes the AVR109 command that starts the buffer needs in all (0: not known yet).
size_t bootCommandLength(const Bytes& command) {
  switch (command[0]) {
    case 'A': return 3;
    case 'H': return 4;
    case 'T': case 'l': case 'x': case 'y': return 2;
    case 'g': return 4;
    case 'B':
      if (command.size() < 3) return 0;
      return 4 + ((size_t{command[1]} << 8) | command[2]);
    default: return 1;
  }
}

uint8_t swapDigits(uint8_t code) { return static_cast<uint8_t>(((code & 0x0F) << 4) | (code >> 4)); }

Bytes framed(std::initializer_list<uint8_t> payload) {
  Bytes b;
  b.reserve(payload.size() + 2);
  b.push_back(kStart);
  for (uint8_t byte : payload) b.push_back(byte);
  b.push_back(kEnd);
  return b;
}

Bytes framedCurve(const Curve& c) {
  Bytes b{kStart};
  for (int p : c) b.push_back(static_cast<uint8_t>(p));
  b.push_back(kEnd);
  return b;
}

Bytes framedName(const ProfileName& n) {
  Bytes b{kStart};
  for (char ch : n) b.push_back(static_cast<uint8_t>(ch));
  b.push_back(kEnd);
  return b;
}

Bytes framedReadings(const PedalReadings& r) {
  auto hi = [](int16_t v) { return static_cast<uint8_t>((static_cast<uint16_t>(v) >> 8) & 0xFF); };
  auto lo = [](int16_t v) { return static_cast<uint8_t>(static_cast<uint16_t>(v) & 0xFF); };
  return framed({hi(r.clutch), lo(r.clutch), hi(r.brake), lo(r.brake), hi(r.throttle), lo(r.throttle)});
}

int percentOfTravel(int16_t position, int16_t rest) {
  const int travel = 32767 - rest;
  if (travel <= 0) return 100;
  const int pct = (position - rest) * 100 / travel;
  return pct < 0 ? 0 : pct > 100 ? 100 : pct;
}

void setBit(uint8_t& flags, int bit, int value) {
  if (value != 0) flags |= static_cast<uint8_t>(1u << bit);
  else flags &= static_cast<uint8_t>(~(1u << bit));
}

}  // namespace

int PedalEmulator::frameLength(uint8_t first) {
  switch (first) {
    case 0xFF: return 2;
    case 0xBA: case 0xBB: case 0xBC: return 13;
    case 0xBD: case 0xBE: return 17;
    case 0xB2: case 0xB3: case 0xB4: case 0xB5: case 0xB6:
    case 0xC1: case 0xC2: case 0xC3: case 0xC5: case 0xC6: case 0xC7: case 0xC8:
    case 0xCA: case 0xCB: case 0xCD: case 0xCE: case 0xCF:
    case 0xD6: case 0xD7: case 0xD8: case 0xE2: case 0xE3: case 0xE4: case 0xBF:
      return 3;
    case 0x4A: case 0x3A: case 0x5A: case 0x6A: case 0x3C: case 0x11: case 0x21:
    case 0xA2: case 0xA3: case 0xA4: case 0xA5: case 0xA6: case 0xA7: case 0xA8: case 0xA9:
    case 0xAA: case 0xAB: case 0xAC: case 0xAD: case 0xAE: case 0xAF:
    case 0xD1: case 0xD2: case 0xD3: case 0xD4: case 0xD5: case 0xD9: case 0xE1: case 0xE5:
      return 1;
    default: return 0;
  }
}

Bytes PedalEmulator::replyFor(uint8_t request, const FirmwareState& s) {
  auto u = [](int v) { return static_cast<uint8_t>(v); };
  switch (request) {
    case 0x4A: return framed({u(s.versionMajor), u(s.versionMinor), u(s.versionThird)});
    case 0x3A: return framed({s.modelReply});
    case 0x5A: return framedReadings(s.startReadings);
    case 0x6A: return framedReadings(s.calibrationReadings);
    case 0xA2: return framed({s.languageCode});
    case 0xA3: return framed({s.configFlags});
    case 0xE1: return framed({u(s.chetoActive)});
    case 0xAC: case 0x3C: return framed({u(s.brakeMax)});
    case 0xA4: return framed({u(s.zones.clutchUpper), u(s.zones.clutchLower)});
    // The brake reply carries the brake maximum between the two zones.
    case 0xA5: return framed({u(s.zones.brakeUpper), u(s.brakeMax), u(s.zones.brakeLower)});
    case 0xA6: return framed({u(s.zones.throttleUpper), u(s.zones.throttleLower)});
    case 0xA7: return framedCurve(s.curves.clutch);
    case 0xA8: return framedCurve(s.curves.brake);
    case 0xA9: return framedCurve(s.curves.throttle);
    case 0xD9: return framed({s.letterAbs});
    case 0xE5: return framed({s.letterAutoBrake});
    case 0xAA: return framed({s.letterMas});
    case 0xAB: return framed({s.letterMenos});
    case 0xAD: return framed({s.letterMas2});
    case 0xAE: return framed({s.letterMenos2});
    case 0xD3: return framed({u(s.autoBrake)});
    case 0xAF: return framed({u(s.cheto)});
    case 0xD1: return framedName(s.proProfileName);
    case 0xD2: return framedName(s.sportProfileName);
    case 0x11: return framed({s.proProfileState});
    case 0x21: return framed({s.sportProfileState});
    case 0xD4: return framed({s.model});
    case 0xD5: return framed({s.color});
    default: return {};
  }
}

void PedalEmulator::applyCommand(const Bytes& f, FirmwareState& s, const AxisPositions& axes) {
  if (f.size() == 2 && f[0] == 0xFF) {
    CalibrationPoints& c = s.pendingCalibration;
    switch (f[1]) {
      case 0xF2:
        s.pendingCalibration = s.calibration;
        s.calibrating = true;
        break;
      case 0xA0: c.throttleRest = axes.throttle; break;
      case 0xB0: c.brakeRest = axes.brake; break;
      case 0xC0: c.clutchRest = axes.clutch; break;
      case 0xAA: c.throttlePressed = axes.throttle; break;
      case 0xBA: c.brakePressed = axes.brake; break;
      case 0xCA: c.clutchPressed = axes.clutch; break;
      case 0xF1:
        if (s.calibrating) s.calibration = s.pendingCalibration;
        s.calibrating = false;
        setBit(s.configFlags, 2, 1);
        s.calibrationReadings = {s.calibration.clutchPressed, s.calibration.brakePressed,
                                 s.calibration.throttlePressed};
        s.brakeMax = static_cast<int8_t>(
            percentOfTravel(s.calibration.brakePressed, s.calibration.brakeRest));
        break;
      case 0xF3:
        s.pendingCalibration = s.calibration;
        s.calibrating = false;
        break;
      case 0xF4: s.storedZones = s.zones; break;
      case 0xF5: s.zones = ZoneSet{100, 0, s.brakeMax, 0, 100, 0}; break;
      case 0xF7: s.storedCurves = s.curves; break;
      case 0x21: s.sportProfileState = 1; break;
      case 0x11: s.proProfileState = 1; break;
      default: break;
    }
    return;
  }
  if (f.empty() || f.back() != swapDigits(f[0])) return;  // a frame that does not close is dropped
  if (f.size() == 13) {
    Curve c{};
    for (int i = 0; i < kCurvePoints; ++i) c[i] = f[1 + i];
    if (f[0] == 0xBA) s.curves.clutch = c;
    if (f[0] == 0xBB) s.curves.brake = c;
    if (f[0] == 0xBC) s.curves.throttle = c;
    return;
  }
  if (f.size() == 17) {
    ProfileName n{};
    for (int i = 0; i < kProfileNameBytes; ++i) n[i] = static_cast<char>(f[1 + i]);
    if (f[0] == 0xBD) s.proProfileName = n;
    if (f[0] == 0xBE) s.sportProfileName = n;
    return;
  }
  if (f.size() != 3) return;
  const uint8_t v = f[1];
  const int8_t sv = static_cast<int8_t>(v);
  switch (f[0]) {
    case 0xB2: s.languageCode = v; break;
    case 0xB3: setBit(s.configFlags, 3, v); break;
    case 0xB4: setBit(s.configFlags, 2, v); break;
    case 0xB5: setBit(s.configFlags, 0, v); break;
    case 0xB6: setBit(s.configFlags, 1, v); break;
    case 0xC1: s.zones.clutchUpper = v; break;
    case 0xC2: s.zones.clutchLower = v; break;
    case 0xC3: s.zones.brakeUpper = v; break;
    case 0xC5: s.zones.brakeLower = v; break;
    case 0xC6: s.zones.throttleUpper = v; break;
    case 0xC7: s.zones.throttleLower = v; break;
    case 0xC8: s.zones.brakeUpper = v; s.brakeMax = sv; break;
    case 0xCA: s.letterMas = v; break;
    case 0xCB: s.letterMenos = v; break;
    case 0xCD: s.letterMas2 = v; break;
    case 0xCE: s.letterMenos2 = v; break;
    case 0xD8: s.letterAbs = v; break;
    case 0xE4: s.letterAutoBrake = v; break;
    case 0xCF: s.cheto = sv; break;
    case 0xE2: s.chetoActive = sv; break;
    case 0xD6: s.model = v; break;
    case 0xD7: s.color = v; break;
    case 0xBF: s.autoBrake = sv; break;
    case 0xE3: s.autoBrake2 = sv; break;
    default: break;
  }
}

PedalEmulator::PedalEmulator(FirmwareState initial) : state_(std::move(initial)) {}

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
  Bytes pending;
  auto lastByte = std::chrono::steady_clock::now();
  while (!stop_) {
    {
      std::lock_guard<std::mutex> lock(taskMutex_);
      if (task_ != nullptr) {
        (*task_)();
        task_ = nullptr;
        pending.clear();
        taskDone_ = true;
      }
    }
    if (!inBootloader_ && (bootloaderRequested_.exchange(false) || touchedAt1200Baud())) {
      pending.clear();
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
      for (ssize_t i = 0; i < n; ++i) {
        pending.push_back(buffer[i]);
        const int wanted = frameLength(pending[0]);
        if (wanted == 0) {
          handleFrame(pending);  // unknown byte: recorded, otherwise ignored
          pending.clear();
        } else if (static_cast<int>(pending.size()) == wanted) {
          handleFrame(pending);
          pending.clear();
        }
      }
      if (n > 0) lastByte = std::chrono::steady_clock::now();
    }
    if (!pending.empty() && std::chrono::steady_clock::now() - lastByte >
                                std::chrono::milliseconds(kPartialFrameTimeoutMs)) {
      handleFrame(pending);  // a frame cut short is recorded and dropped
      pending.clear();
    }
  }
}

void PedalEmulator::handleFrame(const Bytes& frame) {
  Bytes answer;
  Faults faults;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    received_.push_back(frame);
    faults = faults_;
    const int wanted = frameLength(frame[0]);
    if (wanted == 1) {
      answer = replyFor(frame[0], state_);
      if (frame[0] == 0x4A && faults.identifyThirdByte9) answer[3] = 9;
      if (faults.ignoredRequests.count(frame[0]) != 0) answer.clear();
      if (auto it = faults.replyOverride.find(frame[0]); it != faults.replyOverride.end())
        answer = it->second;
    } else if (wanted == static_cast<int>(frame.size())) {
      applyCommand(frame, state_, axes_);
    }
  }
  if (answer.empty()) return;
  if (faults.silent) return;
  if (faults.silentAfterExchanges >= 0 && answered_.load() >= faults.silentAfterExchanges) return;
  if (faults.garbage) {
    static std::mt19937 random(12345);
    for (uint8_t& b : answer) b = static_cast<uint8_t>(random());
  }
  if (faults.wrongStart) answer.front() = 0x13;
  if (faults.wrongEnd) answer.back() = 0x20;
  if (faults.shortFrames) answer.pop_back();
  ++answered_;
  if (faults.replyDelayMs > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(faults.replyDelayMs));
  if (faults.byteDelayMs > 0) {
    for (uint8_t b : answer) {
      std::this_thread::sleep_for(std::chrono::milliseconds(faults.byteDelayMs));
      reply({b});
    }
  } else {
    reply(answer);
  }
}

void PedalEmulator::reply(Bytes bytes) {
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

std::string PedalEmulator::nextFreeLink(const std::string& from, bool includeSelf) const {
  const auto [stem, number] = splitLink(from);
  if (number < 0) return from + "-boot";
  for (int n = includeSelf ? number : number + 1; n < 256; ++n)
    if (!nameTaken(stem + std::to_string(n))) return stem + std::to_string(n);
  for (int n = 0; n < number; ++n)
    if (!nameTaken(stem + std::to_string(n))) return stem + std::to_string(n);
  return {};
}

bool PedalEmulator::touchedAt1200Baud() const {
  if (slave_ < 0) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (faults_.ignoreBootloaderTouch) return false;
  }
  termios t{};
  return ::tcgetattr(slave_, &t) == 0 && ::cfgetospeed(&t) == B1200;
}

void PedalEmulator::enterBootloader() {
  applicationLink_ = linkPath();
  retireTerminal();
  bool reuseName = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    reuseName = faults_.bootloaderReusesName;
  }
  const std::string bootLink =
      applicationLink_.empty() ? std::string() : nextFreeLink(applicationLink_, reuseName);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    bootCommand_.clear();
    bootAddress_ = 0;
    leaving_ = false;
    flashBlocksAtEntry_ = flashBlocks_;
  }
  if (!openTerminal(bootLink)) openTerminal({});
  bootDeadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBootIdleMs);
  ++bootloaderSessions_;
  inBootloader_ = true;
}

void PedalEmulator::leaveBootloader() {
  retireTerminal();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (flashBlocks_ > flashBlocksAtEntry_ && faults_.flashResetsSettings) {
      FirmwareState factory;
      factory.modelReply = state_.modelReply;
      state_ = factory;
    }
    if (flashBlocks_ > 0) {
      state_.versionMajor = versionAfterFlashMajor_;
      state_.versionMinor = versionAfterFlashMinor_;
    }
  }
  const std::string link =
      applicationLink_.empty() ? std::string() : nextFreeLink(applicationLink_, true);
  if (!openTerminal(link)) openTerminal({});
  inBootloader_ = false;
}

void PedalEmulator::handleBootloaderBytes(const uint8_t* bytes, size_t count) {
  const auto now = std::chrono::steady_clock::now();
  bootDeadline_ = now + std::chrono::milliseconds(kBootIdleMs);
  for (size_t i = 0; i < count; ++i) {
    Bytes answer;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (leaving_) return;
      bootCommand_.push_back(bytes[i]);
      const size_t wanted = bootCommandLength(bootCommand_);
      if (wanted == 0 || bootCommand_.size() < wanted) continue;
      const Bytes c = std::move(bootCommand_);
      bootCommand_.clear();
      switch (c[0]) {
        case 0x1B: break;  // the escape avrdude sends first: no answer
        case 'S': answer = {'C', 'A', 'T', 'E', 'R', 'I', 'N'}; break;
        case 'V': answer = {'1', '0'}; break;
        case 'v': answer = {kBootUnknown}; break;
        case 'p': answer = {'S'}; break;
        case 'a': answer = {'Y'}; break;
        case 'b': answer = {'Y', 0, kBootBlockBytes}; break;
        case 't': answer = {0x44, 0}; break;
        case 's': answer = {kSignature[2], kSignature[1], kSignature[0]}; break;
        case 'F': case 'N': case 'Q': case 'r': answer = {0xFF}; break;
        case 'T': case 'P': case 'L': case 'l': case 'x': case 'y': answer = {kBootOk}; break;
        case 'A':
          bootAddress_ = (uint32_t{c[1]} << 8) | c[2];
          answer = {kBootOk};
          break;
        case 'H':
          bootAddress_ = (uint32_t{c[1]} << 16) | (uint32_t{c[2]} << 8) | c[3];
          answer = {kBootOk};
          break;
        case 'e':
          std::fill(flash_.begin(), flash_.end() - kBootloaderBytes, 0xFF);
          answer = {kBootOk};
          break;
        case 'B': {
          const size_t size = c.size() - 4;
          const size_t start = size_t{bootAddress_} * 2;
          if (c[3] == 'F' && start + size <= kFlashBytes - kBootloaderBytes) {
            std::copy(c.begin() + 4, c.end(), flash_.begin() + static_cast<long>(start));
            bootAddress_ += static_cast<uint32_t>(size / 2);
            ++flashBlocks_;
            answer = {kBootOk};
          } else if (c[3] == 'E' && bootAddress_ + size <= kEepromBytes) {
            bootAddress_ += static_cast<uint32_t>(size);
            answer = {kBootOk};
          } else {
            answer = {kBootUnknown};
          }
          break;
        }
        case 'g': {
          const size_t size = (size_t{c[1]} << 8) | c[2];
          const size_t start = size_t{bootAddress_} * 2;
          if (c[3] == 'F' && start + size <= kFlashBytes) {
            answer.assign(flash_.begin() + static_cast<long>(start),
                          flash_.begin() + static_cast<long>(start + size));
            bootAddress_ += static_cast<uint32_t>((size + 1) / 2);
          } else if (c[3] == 'E' && bootAddress_ + size <= kEepromBytes) {
            answer.assign(size, 0xFF);
            bootAddress_ += static_cast<uint32_t>(size);
          } else {
            answer = {kBootUnknown};
          }
          break;
        }
        case 'E':
          answer = {kBootOk};
          leaving_ = true;
          bootDeadline_ = now + std::chrono::milliseconds(kBootLeaveMs);
          break;
        default: answer = {kBootUnknown}; break;
      }
    }
    if (!answer.empty()) reply(answer);
  }
}

void PedalEmulator::setVersionAfterFlash(int major, int minor) {
  std::lock_guard<std::mutex> lock(mutex_);
  versionAfterFlashMajor_ = major;
  versionAfterFlashMinor_ = minor;
}

Bytes PedalEmulator::flash() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return flash_.empty() ? Bytes(kFlashBytes, 0xFF) : flash_;
}

int PedalEmulator::flashBlocksWritten() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return flashBlocks_;
}

std::vector<Bytes> PedalEmulator::received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

void PedalEmulator::clearReceived() {
  std::lock_guard<std::mutex> lock(mutex_);
  received_.clear();
}

FirmwareState PedalEmulator::state() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

void PedalEmulator::update(const std::function<void(FirmwareState&)>& change) {
  std::lock_guard<std::mutex> lock(mutex_);
  change(state_);
}

void PedalEmulator::setFaults(const Faults& faults) {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_ = faults;
}

void PedalEmulator::setAxes(const AxisPositions& axes) {
  std::lock_guard<std::mutex> lock(mutex_);
  axes_ = axes;
}

AxisPositions PedalEmulator::axes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return axes_;
}

// The state file: one "key=value" line per field; curves and names as lists.
namespace {

void putCurve(std::ostream& out, const char* key, const Curve& c) {
  out << key << '=';
  for (int i = 0; i < kCurvePoints; ++i) out << (i ? "," : "") << c[i];
  out << '\n';
}

bool getCurve(const std::string& text, Curve& c) {
  std::istringstream in(text);
  Curve parsed{};
  for (int i = 0; i < kCurvePoints; ++i) {
    if (!(in >> parsed[i])) return false;
    if (i + 1 < kCurvePoints && in.get() != ',') return false;
  }
  c = parsed;
  return true;
}

std::string nameText(const ProfileName& n) { return profileNameText(n); }

}  // namespace

bool PedalEmulator::saveState(const std::string& path) const {
  const FirmwareState s = state();
  std::ostringstream out;
  out << "version=" << s.versionMajor << '.' << s.versionMinor << '.' << s.versionThird << '\n'
      << "modelReply=" << int(s.modelReply) << '\n'
      << "language=" << int(s.languageCode) << '\n'
      << "configFlags=" << int(s.configFlags) << '\n'
      << "brakeMax=" << int(s.brakeMax) << '\n'
      << "zones=" << s.storedZones.clutchUpper << ',' << s.storedZones.clutchLower << ','
      << s.storedZones.brakeUpper << ',' << s.storedZones.brakeLower << ','
      << s.storedZones.throttleUpper << ',' << s.storedZones.throttleLower << '\n'
      << "letters=" << int(s.letterAbs) << ',' << int(s.letterAutoBrake) << ','
      << int(s.letterMas) << ',' << int(s.letterMenos) << ',' << int(s.letterMas2) << ','
      << int(s.letterMenos2) << '\n'
      << "autoBrake=" << int(s.autoBrake) << '\n'
      << "cheto=" << int(s.cheto) << ',' << int(s.chetoActive) << '\n'
      << "proProfileName=" << nameText(s.proProfileName) << '\n'
      << "sportProfileName=" << nameText(s.sportProfileName) << '\n'
      << "model=" << int(s.model) << ',' << int(s.color) << '\n';
  putCurve(out, "clutchCurve", s.storedCurves.clutch);
  putCurve(out, "brakeCurve", s.storedCurves.brake);
  putCurve(out, "throttleCurve", s.storedCurves.throttle);

  const std::string temporary = path + ".tmp";
  {
    std::ofstream file(temporary, std::ios::trunc);
    file << out.str();
    if (!file.flush()) return false;
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

bool PedalEmulator::loadState(const std::string& path, FirmwareState& s) {
  std::ifstream file(path);
  if (!file) return false;
  std::string line;
  while (std::getline(file, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    const std::string value = line.substr(eq + 1);
    std::vector<int> n;
    {
      std::string item;
      std::istringstream in(value);
      while (std::getline(in, item, key == "version" ? '.' : ','))
        n.push_back(std::atoi(item.c_str()));
    }
    auto has = [&](size_t count) { return n.size() >= count; };
    if (key == "version" && has(3)) {
      s.versionMajor = n[0]; s.versionMinor = n[1]; s.versionThird = n[2];
    } else if (key == "modelReply" && has(1)) {
      s.modelReply = static_cast<uint8_t>(n[0]);
    } else if (key == "language" && has(1)) {
      s.languageCode = static_cast<uint8_t>(n[0]);
    } else if (key == "configFlags" && has(1)) {
      s.configFlags = static_cast<uint8_t>(n[0]);
    } else if (key == "brakeMax" && has(1)) {
      s.brakeMax = static_cast<int8_t>(n[0]);
    } else if (key == "zones" && has(6)) {
      s.storedZones = ZoneSet{n[0], n[1], n[2], n[3], n[4], n[5]};
      s.zones = s.storedZones;  // a power cycle brings back what was stored
    } else if (key == "letters" && has(6)) {
      s.letterAbs = uint8_t(n[0]); s.letterAutoBrake = uint8_t(n[1]); s.letterMas = uint8_t(n[2]);
      s.letterMenos = uint8_t(n[3]); s.letterMas2 = uint8_t(n[4]); s.letterMenos2 = uint8_t(n[5]);
    } else if (key == "autoBrake" && has(1)) {
      s.autoBrake = static_cast<int8_t>(n[0]);
    } else if (key == "cheto" && has(2)) {
      s.cheto = static_cast<int8_t>(n[0]); s.chetoActive = static_cast<int8_t>(n[1]);
    } else if (key == "proProfileName") {
      s.proProfileName = makeProfileName(value);
    } else if (key == "sportProfileName") {
      s.sportProfileName = makeProfileName(value);
    } else if (key == "model" && has(2)) {
      s.model = uint8_t(n[0]); s.color = uint8_t(n[1]);
    } else if (key == "clutchCurve" && getCurve(value, s.storedCurves.clutch)) {
      s.curves.clutch = s.storedCurves.clutch;
    } else if (key == "brakeCurve" && getCurve(value, s.storedCurves.brake)) {
      s.curves.brake = s.storedCurves.brake;
    } else if (key == "throttleCurve" && getCurve(value, s.storedCurves.throttle)) {
      s.curves.throttle = s.storedCurves.throttle;
    }
  }
  return true;
}

}  // namespace tkb::emu
