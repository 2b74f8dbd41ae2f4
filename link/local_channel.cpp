#include "link/local_channel.h"

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
  const char* temporary = std::getenv("TMPDIR");
  const std::string base = isFolder(temporary) ? temporary : "/tmp";
  return base + "/" + kChannelFolderName + "-" + std::to_string(::geteuid());
}

std::string checkChannelFolder(const std::string& folder, bool create) {
  // In a shared temporary folder another user may have made the folder (or a link by that
  // name) first, to receive our updates: only a folder of our own that nobody else may enter
  // will do. lstat: a link is never followed.
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
