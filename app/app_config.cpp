#include "app/app_config.h"

#include <SimpleIni.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

namespace tkb {
namespace {

// Holds an advisory lock on "<file>.lock" for the life of the object. The lock file stays
// beside the settings file because the settings file itself is replaced by rename.
class FileLock {
 public:
  FileLock(const std::string& path, int operation) {
    fd_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0) {
      while (::flock(fd_, operation) != 0 && errno == EINTR) {
      }
    }
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_ = -1;
};

bool loadIni(CSimpleIniA& ini, const std::string& path) {
  ini.SetSpaces(false);
  ini.SetMultiKey(false);
  const SI_Error rc = ini.LoadFile(path.c_str());
  if (rc < 0) {
    ini.Reset();
    return false;
  }
  return true;
}

}  // namespace

int decimalValue(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<int>(value);
}

bool AppConfig::write(const std::string& section, const std::string& key,
                      const std::string& value) const {
  FileLock lock(path_, LOCK_EX);
  CSimpleIniA ini;
  // An existing file that cannot be read would be lost by writing over it.
  if (!loadIni(ini, path_) && ::access(path_.c_str(), F_OK) == 0) return false;
  ini.SetValue(section.c_str(), key.c_str(), value.c_str());
  std::string text;
  if (ini.Save(text) < 0) return false;

  const std::string temporary = path_ + ".tmp";
  std::FILE* out = std::fopen(temporary.c_str(), "wb");
  if (out == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  const bool flushed = std::fflush(out) == 0 && ::fsync(::fileno(out)) == 0;
  if (std::fclose(out) != 0 || !written || !flushed) {
    std::remove(temporary.c_str());
    return false;
  }
  if (std::rename(temporary.c_str(), path_.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

std::string AppConfig::readText(const std::string& section, const std::string& key,
                                const std::string& fallback, std::size_t bufferSize) const {
  std::string text = fallback;
  {
    FileLock lock(path_, LOCK_SH);
    CSimpleIniA ini;
    if (loadIni(ini, path_)) {
      const char* found = ini.GetValue(section.c_str(), key.c_str(), nullptr);
      if (found != nullptr) text = found;
    }
  }
  const std::size_t limit = bufferSize > 0 ? bufferSize - 1 : 0;
  if (text.size() > limit) text.resize(limit);
  return text;
}

int AppConfig::readInt(const std::string& section, const std::string& key, int fallback) const {
  FileLock lock(path_, LOCK_SH);
  CSimpleIniA ini;
  if (!loadIni(ini, path_)) return fallback;
  const char* found = ini.GetValue(section.c_str(), key.c_str(), nullptr);
  return found != nullptr ? decimalValue(found) : fallback;
}

}  // namespace tkb
