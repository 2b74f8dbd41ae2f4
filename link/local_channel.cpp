#include "link/local_channel.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace tkb::monitor {
namespace {

constexpr const char* kChannelFolderName = "tkb-tunedeck";

bool isFolder(const char* path) {
  struct stat info {};
  return path != nullptr && path[0] == '/' && ::stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

// The user's home when it is a folder of the user's own: $HOME, else the password entry's.
std::string ownHome() {
  std::string home;
  if (const char* variable = std::getenv("HOME"); variable != nullptr && variable[0] == '/') {
    home = variable;
  } else {
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr)
      home = found->pw_dir;
  }
  struct stat info {};
  if (home.empty() || home[0] != '/' || ::stat(home.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
      info.st_uid != ::geteuid())
    return {};
  return home;
}

// The machine's name, as a folder name: a home shared by several machines holds a channel
// folder per machine (a lock or socket there belongs to a program of that machine only).
std::string hostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  std::string host = name;
  for (char& c : host)
    if (c == '/') c = '_';
  return host;
}

// mkdir -p with mode 0700 for what is missing above folder.
void makeParents(const std::string& folder) {
  for (size_t slash = folder.find('/', 1); slash != std::string::npos; slash = folder.find('/', slash + 1))
    ::mkdir(folder.substr(0, slash).c_str(), 0700);
}

}  // namespace

bool socketAddress(const std::string& path, sockaddr_un& address, socklen_t& length) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() + 1 > sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.data(), path.size());
  length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
  return true;
}

std::string monitorChannelFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (isFolder(runtime)) return std::string(runtime) + "/" + kChannelFolderName;
  // A shared temporary folder lets any user make our folder's name first and so deny us the
  // channels; inside the user's own home nobody else can.
  if (const std::string home = ownHome(); !home.empty()) {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    const std::string base = cache != nullptr && cache[0] == '/' ? cache : home + "/.cache";
    return base + "/" + kChannelFolderName + "-" + hostName();
  }
  const char* temporary = std::getenv("TMPDIR");
  const std::string base = isFolder(temporary) ? temporary : "/tmp";
  return base + "/" + kChannelFolderName + "-" + std::to_string(::geteuid());
}

std::string checkChannelFolder(const std::string& folder, bool create) {
  // In a shared temporary folder another user may have made the folder (or a link by that
  // name) first, to receive our updates: only a folder of our own that nobody else may enter
  // will do. lstat: a link is never followed.
  if (create) makeParents(folder);
  if (create && ::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    return folder + ": " + std::strerror(errno);
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) return folder + ": " + std::strerror(errno);
  if (!S_ISDIR(info.st_mode)) return folder + " is not a folder";
  if (info.st_uid != ::geteuid()) return folder + " belongs to another user";
  if ((info.st_mode & 077) != 0) {
    if (!create || ::chmod(folder.c_str(), 0700) != 0) return folder + " is open to other users";
  }
  return {};
}

}  // namespace tkb::monitor
