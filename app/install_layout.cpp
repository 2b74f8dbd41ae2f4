#include "app/install_layout.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace tkb {
namespace {

bool isFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string parentOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string currentFolder() {
  char buffer[PATH_MAX];
  return ::getcwd(buffer, sizeof buffer) != nullptr ? buffer : ".";
}

std::string runningProgram() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

// mkdir that accepts a folder that is already there.
bool makeFolder(const std::string& path, mode_t mode, std::string& error) {
  if (::mkdir(path.c_str(), mode) == 0 || (errno == EEXIST && isFolder(path))) return true;
  error = "cannot create " + path + ": " + std::strerror(errno);
  return false;
}

bool makeFolders(const std::string& path, std::string& error) {
  if (path.empty() || isFolder(path)) return true;
  const std::string parent = parentOf(path);
  if (parent != path && !makeFolders(parent, error)) return false;
  return makeFolder(path, 0700, error);
}

}  // namespace

std::string InstallLayout::monitorProgram() const {
  return installed ? programFolder + "/TKB_Monitor" : "./opt/TKB_Monitor";
}

std::string InstallLayout::bootloaderScript() const {
  return installed ? dataFolder + "/modo.sh" : "modo.sh";
}

std::string InstallLayout::avrdudeConfig() const {
  return installed ? kSystemAvrdudeConfig : "avrdude.conf";
}

std::string InstallLayout::manualFolder() const { return installed ? dataFolder : baseFolder; }

std::string InstallLayout::udevRule() const {
  if (!installed) {
    // The staged copy, or the source tree's when started from there.
    const std::string staged = dataFolder + "/" + kUdevRuleName;
    const std::string source = dataFolder + "/packaging/" + kUdevRuleName;
    struct stat info {};
    return ::stat(staged.c_str(), &info) != 0 && ::stat(source.c_str(), &info) == 0 ? source : staged;
  }
  // <prefix>/share/tkb-tunedeck -> <prefix>/lib/udev/rules.d
  return parentOf(parentOf(dataFolder)) + "/lib/udev/rules.d/" + kUdevRuleName;
}

std::string userBaseFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  // A relative XDG_DATA_HOME is invalid and must be ignored.
  if (data != nullptr && data[0] == '/') return std::string(data) + "/" + kInstalledName;
  std::string home;
  if (const char* h = std::getenv("HOME"); h != nullptr && h[0] == '/') {
    home = h;
  } else if (const passwd* user = ::getpwuid(::getuid()); user != nullptr && user->pw_dir != nullptr) {
    home = user->pw_dir;
  }
  if (home.empty()) return {};
  return home + "/.local/share/" + kInstalledName;
}

InstallLayout detectInstallLayout(const std::string& executable) {
  const std::string program = executable.empty() ? runningProgram() : executable;
  InstallLayout layout;
  layout.programFolder = program.empty() ? currentFolder() : parentOf(program);
  const std::string lib = parentOf(layout.programFolder);
  const std::string share = parentOf(lib) + "/share/" + kInstalledName;
  if (nameOf(layout.programFolder) == kInstalledName && nameOf(lib) == "lib" && isFolder(share)) {
    layout.installed = true;
    layout.dataFolder = share;
    layout.baseFolder = userBaseFolder();
  } else {
    layout.dataFolder = currentFolder();
    layout.baseFolder = layout.dataFolder;
  }
  return layout;
}

std::string openVrLibrary() {
  const char* overridden = std::getenv("TKB_OPENVR_LIBRARY");
  return overridden != nullptr && *overridden != '\0' ? overridden : "libopenvr_api.so";
}

bool makeBaseFolder(const std::string& base, std::string& error) {
  if (base.empty() || base[0] != '/') {
    error = "no home folder to keep the settings in (set HOME or XDG_DATA_HOME)";
    return false;
  }
  if (!makeFolders(base, error)) return false;
  for (const char* sub : {"opt", "tkb", "wkf"})
    if (!makeFolder(base + "/" + sub, 0700, error)) return false;
  if (::access(base.c_str(), W_OK | X_OK) != 0 || ::access((base + "/opt").c_str(), W_OK | X_OK) != 0) {
    error = base + " is not writable: " + std::strerror(errno);
    return false;
  }
  return true;
}

bool enterBaseFolder(const InstallLayout& layout, const std::string& sub, std::string& error) {
  if (!layout.installed) return true;
  if (!makeBaseFolder(layout.baseFolder, error)) return false;
  const std::string folder = sub.empty() ? layout.baseFolder : layout.baseFolder + "/" + sub;
  if (::chdir(folder.c_str()) != 0) {
    error = "cannot enter " + folder + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace tkb
