// The AVR109 bootloader the controller restarts into on the 1200-baud touch, and the
// names its port and the controller's port take while it runs and after it.
#include "emulator/pedal_emulator.h"
#include "emulator/bootloader.h"

#include <sys/stat.h>
#include <termios.h>

#include <cstdlib>
#include <utility>

namespace tkb::emu {
namespace {

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

}  // namespace

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
    if (model_.faults().ignoreBootloaderTouch) return false;
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
    reuseName = model_.faults().bootloaderReusesName;
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
    if (flashBlocks_ > flashBlocksAtEntry_ && model_.faults().flashResetsSettings) {
      FirmwareState factory;
      factory.modelReply = model_.state().modelReply;
      model_.state() = factory;
    }
    if (flashBlocks_ > 0) {
      model_.state().versionMajor = versionAfterFlashMajor_;
      model_.state().versionMinor = versionAfterFlashMinor_;
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

}  // namespace tkb::emu
