#include "app/doctor.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>

#include "link/usb_port.h"
#include "app/evdev_key_source.h"
#include "app/key_source.h"
#include "link/firmware_update.h"
#include "link/serial_port.h"

namespace tkb {
namespace {

constexpr const char* kReplug = " (then unplug the pedals and plug them in again)";
constexpr const char* kPlugIn = "plug the pedal set in (USB); 'sudo dmesg | tail' shows whether the kernel sees it";

std::string readAll(const std::string& path) {
  std::ifstream file(path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

bool exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

bool isFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string hex4(uint16_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", v);
  return text;
}

}  // namespace

std::string programOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    const std::string candidate = (folder.empty() ? "." : folder) + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0 && !isFolder(candidate)) return candidate;
  }
  return {};
}

namespace {

std::string groupOf(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {};
  const group* g = ::getgrgid(info.st_gid);
  return g != nullptr ? g->gr_name : std::to_string(info.st_gid);
}

bool processRuns(const DoctorSetup& setup, const std::string& name) {
  DIR* dir = ::opendir(setup.procRoot.c_str());
  if (dir == nullptr) return false;
  bool found = false;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string pid = entry->d_name;
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string comm = readAll(setup.procRoot + "/" + pid + "/comm");
    while (!comm.empty() && comm.back() == '\n') comm.pop_back();
    if (comm == name) {
      found = true;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

// Whether udev marked the character device at path for ModemManager to leave alone.
bool modemManagerIgnores(const DoctorSetup& setup, const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return false;
  const std::string db = setup.udevDataRoot + "/c" + std::to_string(major(info.st_rdev)) + ":" +
                         std::to_string(minor(info.st_rdev));
  return readAll(db).find("E:ID_MM_DEVICE_IGNORE=1") != std::string::npos;
}

Finding problem(std::string topic, std::string detail, std::string fix, bool access = false) {
  return {std::move(topic), Verdict::Problem, std::move(detail), std::move(fix), access};
}
Finding ok(std::string topic, std::string detail) {
  return {std::move(topic), Verdict::Ok, std::move(detail), {}, false};
}
Finding note(std::string topic, std::string detail, std::string fix = {}) {
  return {std::move(topic), Verdict::Note, std::move(detail), std::move(fix), false};
}

struct PortFacts {
  std::string name, path;
  std::optional<UsbIds> ids;
};

// One finding per existing port; the pedal set's ports are also returned.
std::vector<PortFacts> checkPorts(const DoctorSetup& setup, DoctorReport& report) {
  std::vector<PortFacts> pedalPorts;
  int seen = 0;
  for (int n = 0; n < kPortCount; ++n) {
    const std::string name = portName(n);
    if (!lookUpPort(name)) continue;
    ++seen;
    const std::string path = portPath(name);
    const std::optional<UsbIds> ids = portUsbIds(name);
    const std::string topic = "Serial port " + name + " (" + path + ")";
    std::string idText = ids ? "USB " + hex4(ids->vendor) + ":" + hex4(ids->product) : "no USB ids";
    if (ids && !mayBePedalSet(*ids)) {
      // Another maker's device: opening it would pulse DTR (an Arduino would reset).
      report.findings.push_back(ok(topic, idText + ", another device: left alone, not opened"));
      continue;
    }
    if (ids) {
      idText += ids->product == kPedalProductId ? " (the pedal set)" : " (the pedal set's bootloader)";
      pedalPorts.push_back({name, path, ids});
    } else {
      idText += " (a pseudo-terminal or another driver)";
    }
    if (name == setup.ownPort) {
      report.findings.push_back(ok(topic, idText + ", in use by this program"));
      continue;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      ::close(fd);
      report.findings.push_back(ok(topic, idText + ", can be opened"));
    } else if (errno == EACCES || errno == EPERM) {
      const std::string group = groupOf(path);
      std::string fix = accessFixCommand(setup) + kReplug;
      if (!group.empty() && group != "root")
        fix += "\nor: sudo usermod -aG " + group + " $USER (then log out and in again)";
      report.findings.push_back(
          problem(topic, idText + ", no permission to open it (group " + group + ")", fix, true));
    } else if (errno == EBUSY) {
      report.findings.push_back(problem(topic, idText + ", in use by another program",
                                        "close the other program that holds " + path +
                                            " (another TKB-Tunedeck, a serial terminal)"));
    } else {
      report.findings.push_back(
          problem(topic, idText + ", cannot be opened: " + std::strerror(errno), kPlugIn));
    }
  }
  if (seen == 0)
    report.findings.push_back(problem("Serial ports", "no serial port " + portPath("COM0").substr(0, portPath("COM0").size() - 1) + "<n> at all", kPlugIn));
  return pedalPorts;
}

void checkHidraw(const DoctorSetup& setup, DoctorReport& report) {
  const std::string topic = "Raw HID node (pedal axes)";
  const std::optional<std::string> node = findPedalHidrawNode(setup.roots);
  if (!node) {
    report.findings.push_back(problem(topic, "no hidraw device of the pedal set (16d0:0f53)", kPlugIn));
    return;
  }
  const int fd = ::open(node->c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    ::close(fd);
    report.findings.push_back(ok(topic, *node + " found, readable"));
  } else if (errno == EACCES || errno == EPERM) {
    report.findings.push_back(problem(topic, *node + " found, no permission to read it",
                                      accessFixCommand(setup) + kReplug, true));
  } else {
    report.findings.push_back(problem(topic, *node + " found, cannot be read: " + std::strerror(errno), kPlugIn));
  }
}

// The pedals' keyboard node; true when it is there but refused.
bool checkKeyboardNode(const DoctorSetup& setup, DoctorReport& report) {
  const std::string topic = "Keyboard event node (key functions)";
  const std::optional<std::string> node = findPedalKeyboardNode(setup.roots);
  if (!node) {
    report.findings.push_back(problem(topic, "no keyboard event device of the pedal set (16d0:0f53)", kPlugIn));
    return false;
  }
  if (const int fd = ::open(node->c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); fd >= 0) {
    ::close(fd);
    report.findings.push_back(ok(topic, *node + " found, readable"));
    return false;
  }
  const bool refused = errno == EACCES || errno == EPERM;
  report.findings.push_back(problem(topic, *node + " found, cannot be read: " + std::strerror(errno),
                                    refused ? accessFixCommand(setup) + kReplug : kPlugIn, refused));
  return refused;
}

// Which key source the program would use now (it may connect to the X server to tell).
void checkKeySource(const DoctorSetup& setup, bool nodeRefused, DoctorReport& report) {
  const KeySourceChoice choice = chooseKeySource(setup.roots);
  if (choice.kind != KeySourceKind::None) {
    report.findings.push_back(ok("Key source", describeKeySource(choice)));
    return;
  }
  report.findings.push_back(problem("Key source", describeKeySource(choice),
                                    nodeRefused ? accessFixCommand(setup) + kReplug : std::string(kPlugIn)));
}

void checkRuleAndModemManager(const DoctorSetup& setup, const std::vector<PortFacts>& pedalPorts,
                              DoctorReport& report) {
  const std::string rule = installedRule(setup);
  if (rule.empty()) {
    report.findings.push_back(note("udev rule", "not installed: the pedals are reachable only through group rights",
                                   accessFixCommand(setup)));
  } else {
    report.findings.push_back(ok("udev rule", rule));
  }
  const std::string topic = "ModemManager";
  if (!processRuns(setup, "ModemManager")) {
    report.findings.push_back(ok(topic, "not running"));
    return;
  }
  if (pedalPorts.empty()) {
    report.findings.push_back(note(topic, rule.empty() ? "running; without the udev rule it may take the pedal port"
                                                       : "running; the udev rule keeps it away from the pedal port",
                                   rule.empty() ? accessFixCommand(setup) : std::string()));
    return;
  }
  for (const PortFacts& port : pedalPorts) {
    if (modemManagerIgnores(setup, port.path)) {
      report.findings.push_back(ok(topic, "running, kept away from " + port.name + " by the udev rule"));
    } else {
      report.findings.push_back(problem(topic, "running and may probe " + port.name + " (the udev rule does not cover it)",
                                        accessFixCommand(setup) + kReplug +
                                            "\nor: sudo systemctl disable --now ModemManager"));
    }
  }
}

void checkSession(DoctorReport& report) {
  const char* type = std::getenv("XDG_SESSION_TYPE");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const char* x11 = std::getenv("DISPLAY");
  const bool hasX = x11 != nullptr && *x11 != '\0';
  std::string detail;
  if ((wayland != nullptr && *wayland != '\0') || (type != nullptr && std::strcmp(type, "wayland") == 0)) {
    detail = std::string("Wayland") + (hasX ? std::string(", XWayland on ") + x11 : ", no XWayland");
  } else if (hasX) {
    detail = std::string("X11 on ") + x11;
  } else {
    report.findings.push_back(note("Desktop session", "no graphical session (DISPLAY and WAYLAND_DISPLAY unset)"));
    return;
  }
  report.findings.push_back(ok("Desktop session", detail));
}

void checkVrRuntime(DoctorReport& report) {
  const std::string library = openVrLibrary();
  void* handle = ::dlopen(library.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (handle != nullptr) {
    ::dlclose(handle);
    report.findings.push_back(ok("VR runtime", library + " found"));
    return;
  }
  report.findings.push_back(note("VR runtime", library + " not found: OPEN VR MONITOR shows the window only",
                                 "install SteamVR; its libopenvr_api.so must be on the library path (LD_LIBRARY_PATH)"));
}

void checkFirmwareTools(const DoctorSetup& setup, DoctorReport& report) {
  const InstallLayout& layout = setup.layout;
  const std::string avrdude = programOnPath("avrdude");
  if (avrdude.empty()) {
    report.findings.push_back(problem("avrdude", "not found on PATH", "sudo apt install avrdude"));
  } else {
    std::string version;
    if (std::FILE* out = ::popen(("'" + avrdude + "' -? 2>&1").c_str(), "r")) {
      char line[256];
      while (std::fgets(line, sizeof line, out) != nullptr)
        if (version.empty() && std::strstr(line, "version") != nullptr) version = line;
      ::pclose(out);
    }
    while (!version.empty() && (version.back() == '\n' || version.back() == ' ')) version.pop_back();
    // "avrdude version 7.1, URL: <...>": the version alone.
    const size_t at = version.find("version");
    version = at == std::string::npos ? std::string() : version.substr(at, version.find(',', at) - at);
    report.findings.push_back(ok("avrdude", avrdude + (version.empty() ? "" : ", " + version)));
  }
  const std::string wkf = layout.baseFolder + "/" + kToolFolder;
  std::string config = layout.avrdudeConfig();
  if (config[0] != '/') config = wkf + "/" + config;
  if (!exists(config))
    report.findings.push_back(problem("avrdude.conf", config + " not found",
                                      layout.installed ? "sudo apt install --reinstall avrdude"
                                                       : "sudo apt install avrdude, then build again (cmake --build build)"));
  const std::string image = wkf + "/" + kFirmwareImage;
  if (exists(image)) {
    report.findings.push_back(ok("Firmware image", image));
  } else {
    report.findings.push_back(note("Firmware image", image + " not there: needed only to update firmware older than 7.06",
                                   "put the pedal maker's " + std::string(kFirmwareImage) + " into " + wkf + "/"));
  }
}

void checkBaseFolder(const DoctorSetup& setup, DoctorReport& report) {
  const std::string& base = setup.layout.baseFolder;
  const std::string topic = "Base folder";
  if (base.empty()) {
    report.findings.push_back(problem(topic, "no home folder known", "set HOME (or XDG_DATA_HOME)"));
    return;
  }
  // The folder, or the nearest existing folder above it (it is made on first start).
  std::string existing = base;
  while (!exists(existing) && existing.find('/') != std::string::npos && existing != "/")
    existing = existing.substr(0, std::max<size_t>(1, existing.find_last_of('/')));
  if (!isFolder(existing)) {
    report.findings.push_back(problem(topic, existing + " is not a folder",
                                      "mv '" + existing + "' '" + existing + ".old'"));
  } else if (::access(existing.c_str(), W_OK | X_OK) != 0) {
    report.findings.push_back(problem(topic, existing + " is not writable",
                                      "sudo chown -R \"$USER\": '" + existing + "'"));
  } else {
    report.findings.push_back(ok(topic, base + (existing == base ? ", writable" : ", made on first start")));
  }
}

}  // namespace

int DoctorReport::problems() const {
  int n = 0;
  for (const Finding& f : findings) n += f.verdict == Verdict::Problem ? 1 : 0;
  return n;
}

bool DoctorReport::accessDenied() const {
  for (const Finding& f : findings)
    if (f.accessDenied) return true;
  return false;
}

std::string DoctorReport::text() const {
  std::string out;
  for (const Finding& f : findings) {
    const char* mark = f.verdict == Verdict::Ok ? "[ok]      " : f.verdict == Verdict::Note ? "[note]    " : "[PROBLEM] ";
    out += mark + f.topic + ": " + f.detail + "\n";
    if (!f.fix.empty()) {
      std::istringstream lines(f.fix);
      std::string line;
      bool first = true;
      while (std::getline(lines, line)) {
        out += (first ? "          fix: " : "               ") + line + "\n";
        first = false;
      }
    }
  }
  const int n = problems();
  out += n == 0 ? "Nothing is wrong.\n" : std::to_string(n) + (n == 1 ? " problem" : " problems") + " found.\n";
  return out;
}

std::string installedRule(const DoctorSetup& setup) {
  for (const std::string& folder : setup.ruleFolders) {
    const std::string path = folder + "/" + kUdevRuleName;
    if (exists(path)) return path;
  }
  return {};
}

std::string accessFixCommand(const DoctorSetup& setup) {
  const std::string reload = "sudo udevadm control --reload && sudo udevadm trigger";
  if (!installedRule(setup).empty()) return reload;
  return "sudo install -m 0644 '" + setup.layout.udevRule() + "' /etc/udev/rules.d/ && " + reload;
}

std::vector<std::string> pkexecAccessFix(const DoctorSetup& setup) {
  const std::string reload = "udevadm control --reload && udevadm trigger";
  if (!installedRule(setup).empty()) return {"pkexec", "/bin/sh", "-c", reload};
  return {"pkexec", "/bin/sh", "-c", "install -m 0644 \"$1\" /etc/udev/rules.d/ && " + reload, "sh",
          setup.layout.udevRule()};
}

DoctorReport runAccessChecks(const DoctorSetup& setup) {
  DoctorReport report;
  checkPorts(setup, report);
  checkHidraw(setup, report);
  checkKeyboardNode(setup, report);
  return report;
}

DoctorReport runDoctor(const DoctorSetup& setup) {
  DoctorReport report;
  const std::vector<PortFacts> pedalPorts = checkPorts(setup, report);
  checkRuleAndModemManager(setup, pedalPorts, report);
  checkHidraw(setup, report);
  const bool keysRefused = checkKeyboardNode(setup, report);
  checkSession(report);
  checkKeySource(setup, keysRefused, report);
  checkVrRuntime(report);
  checkFirmwareTools(setup, report);
  checkBaseFolder(setup, report);
  return report;
}

}  // namespace tkb
