#include "app/file_replace.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>
#include <string_view>

namespace tkb {
namespace {

constexpr const char* kPartialMarker = ".tkb-partial-";
constexpr int kMaxLinkDepth = 40;  // what the kernel allows before ELOOP

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// O_CREAT | O_EXCL with a random suffix, as mkstemp does, but with our own name pattern.
int createPartialFile(const std::string& target, std::string& partial) {
  static thread_local std::mt19937_64 random{std::random_device{}() ^
                                             static_cast<std::uint64_t>(::getpid())};
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  const std::string folder = folderOf(target);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string suffix(6, 'x');
    for (char& c : suffix) c = kLetters[random() % (sizeof kLetters - 1)];
    partial = folder + "/." + nameOf(target) + kPartialMarker + suffix;
    const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool writeAll(int fd, std::string_view text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// The rename itself is only durable once the folder is flushed too.
void syncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// The hidden partial file beside target, locked, with the old file's mode (and, for root
// editing a driver's file, the old owner, so the file is not left owned by root); its
// descriptor and name, or -1 with nothing left behind. Tried again while a cleaner holds
// a new file's lock (it takes it for a leftover and removes it).
int openLockedPartial(const std::string& target, const struct stat* old, unsigned mode,
                      std::string& partial) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int fd = createPartialFile(target, partial);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      continue;
    }
    bool ok = ::fchmod(fd, old != nullptr ? (old->st_mode & 07777) : mode) == 0;
    if (ok && old != nullptr && ::geteuid() == 0) ok = ::fchown(fd, old->st_uid, old->st_gid) == 0;
    if (ok) return fd;
    ::close(fd);
    ::unlink(partial.c_str());
    return -1;
  }
  return -1;
}

}  // namespace

std::string writeTarget(const std::string& path) {
  std::string current = path;
  for (int depth = 0; depth <= kMaxLinkDepth; ++depth) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
    char link[PATH_MAX];
    const ssize_t length = ::readlink(current.c_str(), link, sizeof link - 1);
    if (length <= 0) return {};
    const std::string destination(link, static_cast<size_t>(length));
    current = destination[0] == '/' ? destination : folderOf(current) + "/" + destination;
  }
  return {};
}

bool isReadOnlyFile(const std::string& target) {
  struct stat info {};
  if (::stat(target.c_str(), &info) != 0) return false;  // a new file
  if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return true;
  return ::access(target.c_str(), W_OK) != 0 && errno == EACCES;
}

ReplaceResult replaceFileContents(const std::string& target, const std::string& text, unsigned mode) {
  if (isReadOnlyFile(target)) return ReplaceResult::ReadOnly;
  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  // A cleaner may take the new file for a leftover between its creation and its lock; the
  // rename then finds it gone and the write starts over.
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::string partial;
    const int fd = openLockedPartial(target, exists ? &old : nullptr, mode, partial);
    if (fd < 0) return ReplaceResult::Failed;
    const bool ok = writeAll(fd, text) && ::fsync(fd) == 0;
    const bool renamed = ok && std::rename(partial.c_str(), target.c_str()) == 0;
    const int renameError = errno;
    ::close(fd);  // releases the lock, after the rename
    if (renamed) {
      syncFolder(folderOf(target));
      return ReplaceResult::Replaced;
    }
    ::unlink(partial.c_str());
    if (!ok || renameError != ENOENT) return ReplaceResult::Failed;
  }
  return ReplaceResult::Failed;
}

ReplaceResult StreamedReplacement::begin(const std::string& path, unsigned mode) {
  abandon();
  target_ = writeTarget(path);
  if (target_.empty()) return ReplaceResult::Failed;
  if (isReadOnlyFile(target_)) return ReplaceResult::ReadOnly;
  struct stat old {};
  const bool exists = ::stat(target_.c_str(), &old) == 0;
  fd_ = openLockedPartial(target_, exists ? &old : nullptr, mode, partial_);
  if (fd_ < 0) return ReplaceResult::Failed;
  failed_ = false;
  return ReplaceResult::Replaced;
}

bool StreamedReplacement::write(const char* bytes, std::size_t count) {
  if (fd_ < 0 || failed_) return false;
  if (!writeAll(fd_, std::string_view(bytes, count))) failed_ = true;
  return !failed_;
}

ReplaceResult StreamedReplacement::commit() {
  if (fd_ < 0) return ReplaceResult::Failed;
  const bool renamed = !failed_ && ::fsync(fd_) == 0 && std::rename(partial_.c_str(), target_.c_str()) == 0;
  ::close(fd_);  // releases the lock, after the rename
  fd_ = -1;
  if (!renamed) {
    ::unlink(partial_.c_str());
    return ReplaceResult::Failed;
  }
  syncFolder(folderOf(target_));
  return ReplaceResult::Replaced;
}

void StreamedReplacement::abandon() {
  if (fd_ < 0) return;
  ::unlink(partial_.c_str());
  ::close(fd_);
  fd_ = -1;
}

void removeUnfinishedWrites(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  const int folderFd = ::dirfd(dir);
  while (const dirent* entry = ::readdir(dir)) {
    const char* name = entry->d_name;
    if (name[0] != '.' || std::strstr(name, kPartialMarker) == nullptr) continue;
    const int fd = ::openat(folderFd, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) continue;
    struct stat opened {}, now {};
    // A writer holds its lock until after the rename; a free lock on a file still named so
    // means its writer died. Only regular files of our own, and the very file we locked.
    if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_uid == ::geteuid() &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::fstatat(folderFd, name, &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_ino == opened.st_ino &&
        now.st_dev == opened.st_dev) {
      ::unlinkat(folderFd, name, 0);
    }
    ::close(fd);
  }
  ::closedir(dir);
}

}  // namespace tkb
