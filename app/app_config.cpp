#include "app/app_config.h"

#include <SimpleIni.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "app/file_replace.h"
#include "link/trace.h"

namespace tkb {
namespace {

// Holds an advisory lock on "<file>.lock" for the life of the object. The lock file stays
// beside the settings file because the settings file itself is replaced by rename.
class FileLock {
 public:
  FileLock(const std::string& path, AppConfig::Locking locking, int operation) {
    if (locking == AppConfig::Locking::None) return;
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

enum class FileRead { Ok, Missing, Unreadable, Corrupt };

struct FileText {
  FileRead status = FileRead::Missing;
  std::string text;
  mode_t mode = 0644;
};

// Settings and profile files hold a few dozen short lines; anything this big was not
// written by either program.
constexpr off_t kMaxIniFileBytes = 1 << 20;

// A settings file is text; a zero byte means it was damaged (the INI parser would stop
// there and a rewrite would drop everything after it). Non-blocking open: a FIFO or device
// chosen by mistake must not hang the program; only regular files are read.
FileText readWholeFile(const std::string& path) {
  FileText file;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    file.status = errno == ENOENT ? FileRead::Missing : FileRead::Unreadable;
    return file;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    file.status = FileRead::Unreadable;
    return file;
  }
  file.mode = info.st_mode & 07777;
  if (info.st_size > kMaxIniFileBytes) {
    ::close(fd);
    file.status = FileRead::Corrupt;
    return file;
  }
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      file.status = FileRead::Unreadable;
      file.text.clear();
      return file;
    }
    file.text.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  file.status = file.text.find('\0') == std::string::npos ? FileRead::Ok : FileRead::Corrupt;
  return file;
}

void configure(CSimpleIniA& ini) {
  ini.SetMultiKey(true);    // a repeated key is kept; reads take the first one
  ini.SetQuotes(true);      // "value" reads as value, as with the Windows reader
}

bool parse(CSimpleIniA& ini, const std::string& text) {
  configure(ini);
  if (ini.LoadData(text) < 0) {
    ini.Reset();
    return false;
  }
  return true;
}

std::string lookupName(const std::string& section, const std::string& key) {
  std::string name = section + '\n' + key;
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return name;
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

void IniValues::add(const std::string& section, const std::string& key, const std::string& value) {
  values_.emplace(lookupName(section, key), value);  // the first occurrence stays
}

void IniValues::set(const std::string& section, const std::string& key, const std::string& value) {
  values_[lookupName(section, key)] = value;
}

std::string IniValues::readText(const std::string& section, const std::string& key,
                                const std::string& fallback, std::size_t bufferSize) const {
  const auto found = values_.find(lookupName(section, key));
  std::string text = found != values_.end() ? found->second : fallback;
  const std::size_t limit = bufferSize > 0 ? bufferSize - 1 : 0;
  if (text.size() > limit) text.resize(limit);
  return text;
}

bool IniValues::has(const std::string& section, const std::string& key) const {
  return values_.count(lookupName(section, key)) != 0;
}

int IniValues::readInt(const std::string& section, const std::string& key, int fallback) const {
  const auto found = values_.find(lookupName(section, key));
  return found != values_.end() ? decimalValue(found->second) : fallback;
}

IniValues iniValuesOf(const std::string& text) {
  IniValues values;
  CSimpleIniA ini;
  if (!parse(ini, text)) return values;
  CSimpleIniA::TNamesDepend sections;
  ini.GetAllSections(sections);
  for (const auto& section : sections) {
    const CSimpleIniA::TKeyVal* keys = ini.GetSection(section.pItem);
    if (keys == nullptr) continue;
    // Equal keys follow each other in load order, so the first one is added first.
    for (const auto& [key, value] : *keys) values.add(section.pItem, key.pItem, value);
  }
  return values;
}

IniValues AppConfig::load() const {
  ReadStatus status;
  return load(status);
}

IniValues AppConfig::load(ReadStatus& status) const {
  struct stat info {};
  if (::stat(path_.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    status = ReadStatus::NotRegular;
    return {};
  }
  FileText file;
  {
    const std::string target = writeTarget(path_);
    FileLock lock(target.empty() ? path_ : target, locking_, LOCK_SH);
    file = readWholeFile(path_);
  }
  switch (file.status) {
    case FileRead::Ok: status = ReadStatus::Ok; break;
    case FileRead::Missing: status = ReadStatus::Missing; return {};
    case FileRead::Unreadable: status = ReadStatus::Unreadable; return {};
    case FileRead::Corrupt:
      status = ReadStatus::Damaged;
      trace("\nINI file damaged, defaults used -> %s", path_.c_str());
      return {};
  }
  CSimpleIniA ini;
  if (!parse(ini, file.text)) {
    status = ReadStatus::Damaged;
    return {};
  }
  return iniValuesOf(file.text);
}

bool AppConfig::write(const std::string& section, const std::string& key,
                      const std::string& value) const {
  const IniEntry entry{section, key, value};
  return writeAll(std::span<const IniEntry>(&entry, 1));
}

bool AppConfig::writeAll(std::span<const IniEntry> entries) const {
  for (const IniEntry& entry : entries) {
    if (!iniEntryWritable(entry)) {
      trace("\nINI write refused, [%s] %s would break the file's lines -> %s", entry.section.c_str(),
            entry.key.c_str(), path_.c_str());
      return false;
    }
  }
  return rewrite([&](const std::string& text) { return setIniValues(text, entries); });
}

bool AppConfig::remove(const std::string& section, const std::string& key) const {
  return rewrite([&](const std::string& text) { return removeIniKey(text, section, key); });
}

std::vector<IniEntry> AppConfig::sectionEntries(const std::string& section) const {
  struct stat info {};
  if (::stat(path_.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) return {};
  FileText file;
  {
    const std::string target = writeTarget(path_);
    FileLock lock(target.empty() ? path_ : target, locking_, LOCK_SH);
    file = readWholeFile(path_);
  }
  if (file.status != FileRead::Ok) return {};
  CSimpleIniA ini;
  if (!parse(ini, file.text)) return {};
  // Names and order as written; each value as the reader takes it ("quoted" without quotes).
  const IniValues values = iniValuesOf(file.text);
  std::vector<IniEntry> entries = iniSectionEntries(file.text, section);
  for (IniEntry& entry : entries) entry.value = values.readText(section, entry.key, entry.value);
  return entries;
}

bool AppConfig::rewrite(const std::function<std::string(const std::string&)>& edit) const {
  // A link to a settings file stays a link: its target is what gets replaced.
  const std::string target = writeTarget(path_);
  if (target.empty()) {
    trace("\nINI file not written, its links loop -> %s", path_.c_str());
    return false;
  }
  const size_t slash = target.rfind('/');
  removeUnfinishedWrites(slash == std::string::npos ? "." : target.substr(0, slash + 1));
  FileLock lock(target, locking_, LOCK_EX);
  if (isReadOnlyFile(target)) {
    trace("\nINI file is read-only, not written -> %s", target.c_str());
    return false;
  }
  FileText file = readWholeFile(target);
  // An existing file that cannot be read would be lost by writing over it.
  if (file.status == FileRead::Unreadable) {
    trace("\nINI file cannot be read, not written -> %s", target.c_str());
    return false;
  }
  if (file.status == FileRead::Corrupt) {
    // Nothing of it can be trusted, but nothing is thrown away either.
    const std::string kept = target + ".corrupt";
    if (std::rename(target.c_str(), kept.c_str()) != 0) return false;
    trace("\nINI file damaged, kept as %s", kept.c_str());
    file.text.clear();
  }
  const std::string next = edit(file.text);
  if (next == file.text) return true;  // nothing to change: no write, no new file
  switch (replaceFileContents(target, next, file.mode)) {
    case ReplaceResult::Replaced: return true;
    case ReplaceResult::ReadOnly: trace("\nINI file is read-only, not written -> %s", target.c_str()); break;
    case ReplaceResult::Failed: trace("\nINI file not written -> %s", target.c_str()); break;
  }
  return false;
}

std::string AppConfig::readText(const std::string& section, const std::string& key,
                                const std::string& fallback, std::size_t bufferSize) const {
  return load().readText(section, key, fallback, bufferSize);
}

int AppConfig::readInt(const std::string& section, const std::string& key, int fallback) const {
  return load().readInt(section, key, fallback);
}

bool probeAllPortsSetting(const AppConfig& config) {
  return config.readInt("GENERAL", "probe_all_ports", 0) == 1;
}

}  // namespace tkb
