#include "link/pedal_input.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <linux/joystick.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "link/trace.h"

namespace tkb {
namespace {

using WallClock = std::chrono::steady_clock;

// A 10 ms task must not be kept busy by a flood of reports: this many reads at most.
constexpr int kMaxReportsPerRead = 256;

std::string envOr(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

std::string readText(const std::string& path) {
  std::ifstream file(path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// The numbered entries "<prefix>N" of a folder, lowest N first.
std::vector<std::pair<int, std::string>> numberedEntries(const std::string& folder,
                                                         const std::string& prefix) {
  std::vector<std::pair<int, std::string>> entries;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return entries;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string digits = name.substr(prefix.size());
    if (digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string::npos)
      continue;
    entries.emplace_back(std::atoi(digits.c_str()), name);
  }
  ::closedir(dir);
  std::sort(entries.begin(), entries.end());
  return entries;
}

int16_t littleEndian16(const uint8_t* bytes) {
  return static_cast<int16_t>(static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)));
}

// The node's report descriptor: asked of the node, or read from the device's sysfs entry
// when the node does not answer the call. Empty when neither tells.
std::vector<uint8_t> reportDescriptorOf(int fd, const std::string& sysfsDevice) {
  int size = 0;
  if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) == 0 && size > 0 && size <= HID_MAX_DESCRIPTOR_SIZE) {
    hidraw_report_descriptor descriptor{};
    descriptor.size = static_cast<uint32_t>(size);
    if (::ioctl(fd, HIDIOCGRDESC, &descriptor) == 0)
      return {descriptor.value, descriptor.value + size};
  }
  const std::string text = readText(sysfsDevice + "/report_descriptor");
  if (text.size() > HID_MAX_DESCRIPTOR_SIZE) return {};
  return {text.begin(), text.end()};
}

}  // namespace

PedalReport decodePedalReport(std::span<const uint8_t> report, const PedalReportLayout& layout) {
  PedalReport result;
  if (layout.hasReportIds && layout.axesReportId && !report.empty() &&
      report[0] != *layout.axesReportId)
    return result;
  const size_t first = layout.hasReportIds ? 1 : 0;
  if (report.size() != static_cast<size_t>(layout.length) || report.size() < first + 8) {
    result.kind = PedalReport::Kind::UnexpectedLength;
    return result;
  }
  const uint8_t* axes = report.data() + first;
  result.kind = PedalReport::Kind::Axes;
  result.axes = {littleEndian16(axes), littleEndian16(axes + 2), littleEndian16(axes + 4),
                 littleEndian16(axes + 6)};
  return result;
}

std::optional<PedalReportLayout> pedalReportLayout(std::span<const uint8_t> descriptor) {
  // Anything longer than a hidraw node hands out in one report is not the pedals.
  constexpr uint64_t kMostBits = 8 * 4096;
  constexpr uint64_t kAxesBits = 4 * 16;
  struct Globals {
    uint32_t reportSize = 0, reportCount = 0, reportId = 0;
  };
  Globals globals;
  std::vector<Globals> stack;
  bool usesIds = false;
  std::vector<std::pair<uint32_t, uint64_t>> inputBits;  // per report id, in descriptor order
  size_t i = 0;
  while (i < descriptor.size()) {
    const uint8_t prefix = descriptor[i];
    if (prefix == 0xFE) {  // long item: size, tag, data
      if (i + 1 >= descriptor.size()) return std::nullopt;
      i += 3 + descriptor[i + 1];
      continue;
    }
    const size_t size = (prefix & 3) == 3 ? 4 : (prefix & 3);
    if (i + 1 + size > descriptor.size()) return std::nullopt;
    uint32_t value = 0;
    for (size_t k = 0; k < size; ++k) value |= uint32_t{descriptor[i + 1 + k]} << (8 * k);
    const int type = (prefix >> 2) & 3;
    const int tag = prefix >> 4;
    if (type == 0 && tag == 0x8) {  // Main: Input
      auto entry = std::find_if(inputBits.begin(), inputBits.end(),
                                [&](const auto& e) { return e.first == globals.reportId; });
      if (entry == inputBits.end()) entry = inputBits.insert(entry, {globals.reportId, 0});
      // Saturates above the limit, so that huge sizes and counts cannot wrap around.
      entry->second = std::min(
          kMostBits + 1, entry->second + uint64_t{globals.reportSize} * globals.reportCount);
    } else if (type == 1) {  // Global
      switch (tag) {
        case 0x7: globals.reportSize = value; break;
        case 0x8: globals.reportId = value; usesIds = true; break;
        case 0x9: globals.reportCount = value; break;
        case 0xA: stack.push_back(globals); break;
        case 0xB:
          if (!stack.empty()) {
            globals = stack.back();
            stack.pop_back();
          }
          break;
        default: break;
      }
    }
    i += 1 + size;
  }
  uint64_t longest = 0;
  const std::pair<uint32_t, uint64_t>* axes = nullptr;
  for (const auto& entry : inputBits) {
    longest = std::max(longest, entry.second);
    if (axes == nullptr && entry.second >= kAxesBits) axes = &entry;
  }
  if (axes == nullptr || longest > kMostBits || (usesIds && axes->first > 0xFF))
    return std::nullopt;
  const int idByte = usesIds ? 1 : 0;
  PedalReportLayout layout;
  layout.hasReportIds = usesIds;
  if (usesIds) layout.axesReportId = static_cast<uint8_t>(axes->first);
  layout.length = static_cast<int>((axes->second + 7) / 8) + idByte;
  layout.longest = static_cast<int>((longest + 7) / 8) + idByte;
  return layout;
}

bool isPedalUevent(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.compare(0, 7, "HID_ID=") != 0) continue;
    unsigned bus = 0, vendor = 0, product = 0;
    char end = 0;
    if (std::sscanf(line.c_str() + 7, "%x:%x:%x%c", &bus, &vendor, &product, &end) >= 3)
      return vendor == kPedalVendorId && product == kPedalProductId;
  }
  return false;
}

DeviceRoots DeviceRoots::fromEnvironment() {
  return {envOr("TKB_SYSFS_ROOT", "/sys"), envOr("TKB_DEV_ROOT", "/dev")};
}

bool PedalInput::findJoystick(ControllerState& state) {
  found_ = open();
  if (!found_) state.connected = false;
  return found_;
}

std::string udevAccessHint() {
  for (const char* folder : {"/etc/udev/rules.d", "/run/udev/rules.d", "/usr/lib/udev/rules.d", "/lib/udev/rules.d"}) {
    if (::access((std::string(folder) + "/70-tkb-pedals.rules").c_str(), F_OK) == 0)
      return "sudo udevadm control --reload && sudo udevadm trigger";
  }
  return "install the pedals' udev rule (70-tkb-pedals.rules); tkb-cli doctor prints the command";
}

HidrawPedalInput::HidrawPedalInput(DeviceRoots roots, std::string accessFix)
    : roots_(std::move(roots)), accessFix_(std::move(accessFix)) {}

HidrawPedalInput::~HidrawPedalInput() { lose(); }

bool HidrawPedalInput::open() { return openQuietly(true); }

bool HidrawPedalInput::openQuietly(bool traceCount) {
  lose();
  permissionProblem_.clear();
  if (traceCount)
    trace("#1: %d", static_cast<int>(numberedEntries(roots_.sysfs + "/class/hidraw", "hidraw").size()));
  // The lowest matching node is the pedals; another one would be a second set.
  const std::optional<std::string> node = findPedalHidrawNode(roots_);
  if (!node) return false;
  const std::string& path = *node;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == EACCES || errno == EPERM) {
      permissionProblem_ =
          "No permission to read the pedals (" + path + "). Give access once: " + accessFix_;
      trace("\nSin permiso para abrir %s: %s\n", path.c_str(), permissionProblem_.c_str());
    }
    return false;
  }
  fd_ = fd;
  nodePath_ = path;
  const std::string device = roots_.sysfs + "/class/hidraw/" + path.substr(path.rfind('/') + 1) +
                             "/device";
  layout_ = pedalReportLayout(reportDescriptorOf(fd, device)).value_or(PedalReportLayout{});
  lengthTraced_ = false;
  buffer_.assign(static_cast<size_t>(layout_.longest), 0);
  return true;
}

std::optional<std::string> findPedalHidrawNode(const DeviceRoots& roots) {
  for (const auto& [number, name] : numberedEntries(roots.sysfs + "/class/hidraw", "hidraw"))
    if (isPedalUevent(readText(roots.sysfs + "/class/hidraw/" + name + "/device/uevent")))
      return roots.dev + "/" + name;
  return std::nullopt;
}

void HidrawPedalInput::lose() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  nextReopen_ = WallClock::now() + std::chrono::milliseconds(reopenIntervalMs_);
}

void HidrawPedalInput::readPedalAxes() {
  if (fd_ < 0) {
    if (WallClock::now() < nextReopen_) return;
    if (!openQuietly(false)) {
      nextReopen_ = WallClock::now() + std::chrono::milliseconds(reopenIntervalMs_);
      return;
    }
    trace("\nJoystick -> %s", nodePath_.c_str());
  }
  std::optional<PedalAxes> newest;
  drainReports([&newest](const PedalAxes& axes) { newest = axes; });
  if (newest) axes_ = *newest;
}

HidrawPedalInput::Wait HidrawPedalInput::waitForReports(
    int timeoutMs, const std::function<void(const PedalAxes&)>& report, const sigset_t* waitMask) {
  if (fd_ < 0) return Wait::Lost;
  pollfd node{fd_, POLLIN, 0};
  const timespec timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1'000'000L};
  const int ready = ::ppoll(&node, 1, timeoutMs < 0 ? nullptr : &timeout, waitMask);
  if (ready < 0) return errno == EINTR ? Wait::Interrupted : Wait::Lost;
  if (ready == 0) return Wait::Quiet;
  bool any = false;
  const bool kept = drainReports([&](const PedalAxes& axes) {
    any = true;
    axes_ = axes;
    report(axes);
  });
  if (!kept) return any ? Wait::Reports : Wait::Lost;
  return any ? Wait::Reports : Wait::Quiet;
}

bool HidrawPedalInput::drainReports(const std::function<void(const PedalAxes&)>& each) {
  // hidraw hands out one report per read: read until nothing is left. Reports of other ids
  // are not the axes; an axes report of another length than the descriptor declares is
  // dropped (traced once), and the values stay as they were.
  for (int n = 0; n < kMaxReportsPerRead; ++n) {
    const ssize_t got = ::read(fd_, buffer_.data(), buffer_.size());
    if (got > 0) {
      const PedalReport report =
          decodePedalReport({buffer_.data(), static_cast<size_t>(got)}, layout_);
      if (report.kind == PedalReport::Kind::Axes) {
        each(report.axes);
      } else if (report.kind == PedalReport::Kind::UnexpectedLength && !lengthTraced_) {
        lengthTraced_ = true;
        trace("\nJoystick: informe de %d bytes ignorado (se esperaban %d) -> %s",
              static_cast<int>(got), layout_.length, nodePath_.c_str());
      }
      continue;
    }
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (got < 0 && errno == EINTR) continue;
    // End of file or an error: the pedals were unplugged.
    trace("\nJoystick perdido -> %s", nodePath_.c_str());
    lose();
    return false;
  }
  return true;
}

bool resetJoystickCalibration() { return resetJoystickCalibration(DeviceRoots::fromEnvironment()); }

bool resetJoystickCalibration(const DeviceRoots& roots) {
  bool reset = false;
  for (const auto& [number, name] : numberedEntries(roots.sysfs + "/class/input", "js")) {
    const std::string id = roots.sysfs + "/class/input/" + name + "/device/id/";
    const unsigned long vendor = std::strtoul(readText(id + "vendor").c_str(), nullptr, 16);
    const unsigned long product = std::strtoul(readText(id + "product").c_str(), nullptr, 16);
    if (vendor != kPedalVendorId || product != kPedalProductId) continue;
    const std::string path = roots.dev + "/input/" + name;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    // One entry per possible axis; the driver takes as many as the device has.
    js_corr none[ABS_CNT] = {};
    for (js_corr& axis : none) axis.type = JS_CORR_NONE;
    if (::ioctl(fd, JSIOCSCORR, none) == 0) reset = true;
    ::close(fd);
  }
  return reset;
}

}  // namespace tkb
