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

using D = DoctorText;

Phrase say(DoctorText text, std::vector<std::string> args = {}) { return {text, std::move(args)}; }

std::vector<FixStep> plugIn() { return {{say(D::FixPlugIn), "sudo dmesg | tail"}}; }

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

Finding finding(Phrase topic, Verdict verdict, std::vector<Phrase> detail, std::vector<FixStep> fix) {
  Finding f;
  f.topic = std::move(topic);
  f.verdict = verdict;
  f.detail = std::move(detail);
  f.fix = std::move(fix);
  return f;
}
Finding problem(Phrase topic, std::vector<Phrase> detail, std::vector<FixStep> fix, Cause cause = Cause::Own) {
  Finding f = finding(std::move(topic), Verdict::Problem, std::move(detail), std::move(fix));
  f.cause = cause;
  f.accessDenied = cause == Cause::NoAccess;
  return f;
}
Finding ok(Phrase topic, std::vector<Phrase> detail) {
  return finding(std::move(topic), Verdict::Ok, std::move(detail), {});
}
Finding note(Phrase topic, std::vector<Phrase> detail, std::vector<FixStep> fix = {}) {
  return finding(std::move(topic), Verdict::Note, std::move(detail), std::move(fix));
}

struct PortFacts {
  std::string name, path;
  std::optional<UsbIds> ids;
};

std::vector<FixStep> accessFix(const DoctorSetup& setup) {
  return {{say(D::FixAccess), accessFixCommand(setup)}};
}

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
    const Phrase topic = say(D::TopicSerialPort, {name, path});
    const std::string idText = ids ? hex4(ids->vendor) + ":" + hex4(ids->product) : std::string();
    if (ids && !mayBePedalSet(*ids)) {
      // Another maker's device: opening it would pulse DTR (an Arduino would reset).
      report.findings.push_back(ok(topic, {say(D::UsbIds, {idText}), say(D::OtherDevice)}));
      continue;
    }
    Phrase which = say(D::NoUsbIds);
    if (ids) {
      which = say(ids->product == kPedalProductId ? D::UsbPedalSet : D::UsbBootloader, {idText});
      pedalPorts.push_back({name, path, ids});
    }
    if (name == setup.ownPort) {
      report.findings.push_back(ok(topic, {which, say(D::InUseByUs)}));
      continue;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      ::close(fd);
      report.findings.push_back(ok(topic, {which, say(D::CanBeOpened)}));
    } else if (errno == EACCES || errno == EPERM) {
      const std::string group = groupOf(path);
      std::vector<FixStep> fix = accessFix(setup);
      if (!group.empty() && group != "root")
        fix.push_back({say(D::FixJoinGroup, {group}), "sudo usermod -aG " + group + " $USER"});
      report.findings.push_back(
          problem(topic, {which, say(D::NoPermissionGroup, {group})}, std::move(fix), Cause::NoAccess));
    } else if (errno == EBUSY && setup.searching) {
      report.findings.push_back(note(topic, {which, say(D::InUseMaybeSearch)}));
    } else if (errno == EBUSY) {
      report.findings.push_back(problem(topic, {which, say(D::InUseByOther)}, {{say(D::FixCloseHolder, {path}), {}}}));
    } else {
      report.findings.push_back(
          problem(topic, {which, say(D::CannotOpen, {std::strerror(errno)})}, plugIn(), Cause::PedalsAbsent));
    }
  }
  if (seen == 0) {
    const std::string prefix = portPath("COM0");
    report.findings.push_back(problem(say(D::TopicSerialPorts), {say(D::NoSerialPort, {prefix.substr(0, prefix.size() - 1)})},
                                      plugIn(), Cause::PedalsAbsent));
  }
  return pedalPorts;
}

// A node of the pedal set: there and readable, refused, or failing otherwise.
Finding checkNode(const DoctorSetup& setup, DoctorText topic, DoctorText missing,
                  const std::optional<std::string>& node) {
  if (!node) return problem(say(topic), {say(missing)}, plugIn(), Cause::PedalsAbsent);
  if (const int fd = ::open(node->c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); fd >= 0) {
    ::close(fd);
    return ok(say(topic), {say(D::NodeReadable, {*node})});
  }
  if (errno == EACCES || errno == EPERM)
    return problem(say(topic), {say(D::NodeNoPermission, {*node})}, accessFix(setup), Cause::NoAccess);
  return problem(say(topic), {say(D::NodeCannotRead, {*node, std::strerror(errno)})}, plugIn(), Cause::PedalsAbsent);
}

// Which key source the program would use now (it may connect to the X server to tell).
// Without one, the keyboard node's cause is its cause too.
void checkKeySource(const DoctorSetup& setup, const Finding& keyboardNode, DoctorReport& report) {
  const Phrase topic = say(D::TopicKeySource);
  const KeySourceChoice choice = chooseKeySource(setup.roots);
  if (choice.kind == KeySourceKind::Evdev) {
    report.findings.push_back(ok(topic, {say(D::KeysEvdev, {choice.evdevNode})}));
  } else if (choice.kind == KeySourceKind::X11Record) {
    report.findings.push_back(ok(topic, {say(D::KeysX11)}));
  } else if (keyboardNode.verdict == Verdict::Problem) {
    report.findings.push_back(problem(topic, {say(D::KeysNone)}, keyboardNode.fix, keyboardNode.cause));
  } else {
    report.findings.push_back(problem(topic, {say(D::KeysNone), say(D::Value, {choice.evdevProblem})}, {}));
  }
}

void checkRuleAndModemManager(const DoctorSetup& setup, const std::vector<PortFacts>& pedalPorts,
                              DoctorReport& report) {
  const std::string rule = installedRule(setup);
  const std::vector<FixStep> installRule = {{say(D::FixInstallRule), accessFixCommand(setup)}};
  if (rule.empty()) {
    report.findings.push_back(note(say(D::TopicUdevRule), {say(D::RuleMissing)}, installRule));
  } else {
    report.findings.push_back(ok(say(D::TopicUdevRule), {say(D::Value, {rule})}));
  }
  const Phrase topic = say(D::TopicModemManager);
  if (!processRuns(setup, "ModemManager")) {
    report.findings.push_back(ok(topic, {say(D::MmNotRunning)}));
    return;
  }
  if (pedalPorts.empty()) {
    if (rule.empty()) {
      report.findings.push_back(note(topic, {say(D::MmNoRule)}, installRule));
    } else {
      report.findings.push_back(note(topic, {say(D::MmRuleKeepsAway)}));
    }
    return;
  }
  for (const PortFacts& port : pedalPorts) {
    if (modemManagerIgnores(setup, port.path)) {
      report.findings.push_back(ok(topic, {say(D::MmKeptAwayFrom, {port.name})}));
    } else {
      std::vector<FixStep> fix = accessFix(setup);
      fix.push_back({say(D::FixStopModemManager), "sudo systemctl disable --now ModemManager"});
      report.findings.push_back(problem(topic, {say(D::MmMayProbe, {port.name})}, std::move(fix)));
    }
  }
}

void checkSession(DoctorReport& report) {
  const char* type = std::getenv("XDG_SESSION_TYPE");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const char* x11 = std::getenv("DISPLAY");
  const bool hasX = x11 != nullptr && *x11 != '\0';
  const Phrase topic = say(D::TopicSession);
  if ((wayland != nullptr && *wayland != '\0') || (type != nullptr && std::strcmp(type, "wayland") == 0)) {
    report.findings.push_back(ok(topic, {hasX ? say(D::SessionWaylandX, {x11}) : say(D::SessionWaylandOnly)}));
  } else if (hasX) {
    report.findings.push_back(ok(topic, {say(D::SessionX11, {x11})}));
  } else {
    report.findings.push_back(note(topic, {say(D::SessionNone)}));
  }
}

void checkVrRuntime(DoctorReport& report) {
  const std::string library = openVrLibrary();
  if (vrRuntimeLoads()) {
    report.findings.push_back(ok(say(D::TopicVrRuntime), {say(D::Found, {library})}));
    return;
  }
  report.findings.push_back(note(say(D::TopicVrRuntime), {say(D::VrMissing, {library})}, {{say(D::FixInstallVr), {}}}));
}

void checkFirmwareTools(const DoctorSetup& setup, DoctorReport& report) {
  const InstallLayout& layout = setup.layout;
  const std::string avrdude = programOnPath("avrdude");
  if (avrdude.empty()) {
    report.findings.push_back(
        problem(say(D::TopicAvrdude), {say(D::NotOnPath)}, {{say(D::FixInstallAvrdude), "sudo apt install avrdude"}}));
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
    std::vector<Phrase> detail = {say(D::Value, {avrdude})};
    if (!version.empty()) detail.push_back(say(D::Value, {version}));
    report.findings.push_back(ok(say(D::TopicAvrdude), std::move(detail)));
  }
  const std::string wkf = layout.baseFolder + "/" + kToolFolder;
  std::string config = layout.avrdudeConfig();
  if (config[0] != '/') config = wkf + "/" + config;
  if (!exists(config))
    report.findings.push_back(problem(say(D::TopicAvrdudeConfig), {say(D::NotFound, {config})},
                                      {layout.installed ? FixStep{say(D::FixReinstallAvrdude), "sudo apt install --reinstall avrdude"}
                                                        : FixStep{say(D::FixInstallAvrdudeAndBuild),
                                                                  "sudo apt install avrdude && cmake --build build"}}));
  const std::string image = wkf + "/" + kFirmwareImage;
  if (exists(image)) {
    report.findings.push_back(ok(say(D::TopicFirmwareImage), {say(D::Value, {image})}));
  } else {
    report.findings.push_back(note(say(D::TopicFirmwareImage), {say(D::ImageMissing, {image})},
                                   {{say(D::FixPutImage, {kFirmwareImage, wkf + "/"}), {}}}));
  }
}

void checkBaseFolder(const DoctorSetup& setup, DoctorReport& report) {
  const std::string& base = setup.layout.baseFolder;
  const Phrase topic = say(D::TopicBaseFolder);
  if (base.empty()) {
    report.findings.push_back(problem(topic, {say(D::NoHome)}, {{say(D::FixSetHome), {}}}));
    return;
  }
  // The folder, or the nearest existing folder above it (it is made on first start).
  std::string existing = base;
  while (!exists(existing) && existing.find('/') != std::string::npos && existing != "/")
    existing = existing.substr(0, std::max<size_t>(1, existing.find_last_of('/')));
  if (!isFolder(existing)) {
    report.findings.push_back(problem(topic, {say(D::NotAFolder, {existing})},
                                      {{say(D::FixMoveAway), "mv '" + existing + "' '" + existing + ".old'"}}));
  } else if (::access(existing.c_str(), W_OK | X_OK) != 0) {
    report.findings.push_back(problem(topic, {say(D::NotWritable, {existing})},
                                      {{say(D::FixTakeOwnership), "sudo chown -R \"$USER\": '" + existing + "'"}}));
  } else {
    report.findings.push_back(ok(topic, {say(existing == base ? D::Writable : D::MadeOnFirstStart, {base})}));
  }
}

// The second and later problems of one cause follow from the first, which names it.
void nameEachCauseOnce(DoctorReport& report) {
  for (size_t i = 0; i < report.findings.size(); ++i) {
    Finding& f = report.findings[i];
    if (f.verdict != Verdict::Problem || f.cause == Cause::Own) continue;
    for (size_t first = 0; first < i; ++first) {
      const Finding& earlier = report.findings[first];
      if (earlier.verdict != Verdict::Problem || earlier.cause != f.cause) continue;
      f.verdict = Verdict::Follows;
      f.followsFrom = static_cast<int>(first);
      f.fix.clear();
      break;
    }
  }
}

}  // namespace

std::string Finding::topicText() const { return english(topic); }

std::string Finding::detailText() const {
  std::string out;
  for (const Phrase& part : detail) out += (out.empty() ? "" : ", ") + english(part);
  return out;
}

std::string Finding::fixText() const {
  std::string out;
  for (const FixStep& step : fix) {
    out += (out.empty() ? "" : "\n") + english(step.what);
    if (!step.command.empty()) out += "\n  " + step.command;
  }
  return out;
}

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
    const char* mark = f.verdict == Verdict::Ok        ? "[ok]      "
                       : f.verdict == Verdict::Note    ? "[note]    "
                       : f.verdict == Verdict::Problem ? "[PROBLEM] "
                                                       : "[follows] ";
    out += mark + f.topicText() + ": " + f.detailText();
    if (f.followsFrom >= 0 && f.followsFrom < static_cast<int>(findings.size()))
      out += " (" + english({DoctorText::FollowsFrom, {findings[static_cast<size_t>(f.followsFrom)].topicText()}}) + ")";
    out += "\n";
    std::istringstream lines(f.fixText());
    std::string line;
    bool first = true;
    while (std::getline(lines, line)) {
      out += (first ? "          fix: " : "               ") + line + "\n";
      first = false;
    }
  }
  const int n = problems();
  out += n == 0 ? "Nothing is wrong.\n" : std::to_string(n) + (n == 1 ? " problem" : " problems") + " found.\n";
  return out;
}

bool vrRuntimeLoads() {
  void* handle = ::dlopen(openVrLibrary().c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (handle == nullptr) return false;
  ::dlclose(handle);
  return true;
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
  report.findings.push_back(checkNode(setup, D::TopicRawHid, D::NoHidraw, findPedalHidrawNode(setup.roots)));
  report.findings.push_back(checkNode(setup, D::TopicKeyboard, D::NoKeyboardNode, findPedalKeyboardNode(setup.roots)));
  return report;
}

DoctorReport runDoctor(const DoctorSetup& setup) {
  DoctorReport report;
  const std::vector<PortFacts> pedalPorts = checkPorts(setup, report);
  checkRuleAndModemManager(setup, pedalPorts, report);
  report.findings.push_back(checkNode(setup, D::TopicRawHid, D::NoHidraw, findPedalHidrawNode(setup.roots)));
  const Finding keyboard = checkNode(setup, D::TopicKeyboard, D::NoKeyboardNode, findPedalKeyboardNode(setup.roots));
  report.findings.push_back(keyboard);
  checkSession(report);
  checkKeySource(setup, keyboard, report);
  checkVrRuntime(report);
  checkFirmwareTools(setup, report);
  checkBaseFolder(setup, report);
  nameEachCauseOnce(report);
  return report;
}

}  // namespace tkb
