// AppConfig: an INI file read and written key by key. It serves opt/config.ini, which
// TKB-Tunedeck and TKB_Monitor share, and the profile files (*.tkb, *.tks).
// Section and key names match without regard to case; a written key replaces its value in
// place or is appended to its section; a missing section is appended, a missing file made;
// every other byte of the file stays as it was (ini_text.h). Every write is one complete
// read-modify-write replacing the file atomically (file_replace.h: through symbolic links,
// never over a read-only file); for the shared settings file it runs under an advisory lock,
// so the two programs never tear the file nor lose each other's keys. A missing, unreadable
// or corrupt file reads as the defaults; a corrupt one is kept aside as "<file>.corrupt" when
// it is next written.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "app/ini_text.h"

namespace tkb {

// The values of one read of a file. Names are looked up without regard to case; when a
// key appears twice in a section the first one counts, as with the Windows INI reader.
class IniValues {
 public:
  // The value as text, at most bufferSize - 1 characters of it (the programs read through
  // fixed buffers: the VR keys through 5 bytes, so "-1000" reads as "-100"). The fallback
  // is cut the same way.
  std::string readText(const std::string& section, const std::string& key,
                       const std::string& fallback, std::size_t bufferSize = 256) const;
  // The value through decimalValue; a missing key gives fallback.
  int readInt(const std::string& section, const std::string& key, int fallback) const;
  // Whether the section holds the key (with any value, an empty one too).
  bool has(const std::string& section, const std::string& key) const;

  bool empty() const { return values_.empty(); }
  // add keeps a value already there (the first occurrence counts); set replaces it.
  void add(const std::string& section, const std::string& key, const std::string& value);
  void set(const std::string& section, const std::string& key, const std::string& value);
  bool operator==(const IniValues&) const = default;

 private:
  std::map<std::string, std::string> values_;  // "section\nkey" in lower case -> value
};

class AppConfig {
 public:
  // Locking::SharedFile takes "<file>.lock" beside the file for every access; profile
  // files, which one program writes from one thread, need no lock file next to them.
  enum class Locking { SharedFile, None };

  explicit AppConfig(std::string path, Locking locking = Locking::SharedFile)
      : path_(std::move(path)), locking_(locking) {}

  const std::string& path() const { return path_; }

  // Writes one value; false when the file was not written: it is read-only (or a folder, or
  // unreadable), its folder refused the new file, or the value would have changed the file's
  // structure (a line break or NUL). Each refusal prints its trace line; the file is untouched.
  bool write(const std::string& section, const std::string& key, const std::string& value) const;
  // Writes several values in the given order in one read-modify-write: the result is the
  // same as writing them one by one, but nobody sees the file half written.
  bool writeAll(std::span<const IniEntry> entries) const;
  // Removes a key from a section (every line of it, see removeIniKey), with the same
  // atomic replace and refusals as a write; true when the file no longer holds the key.
  bool remove(const std::string& section, const std::string& key) const;
  // The keys of a section and their values as the reader takes them, names as written, in
  // file order (empty when the file is missing, unreadable or damaged).
  std::vector<IniEntry> sectionEntries(const std::string& section) const;

  // One read of the whole file (empty when missing, unreadable or corrupt).
  IniValues load() const;
  // The same, saying why it is empty: NotRegular for a FIFO, device or folder (never opened
  // for reading, so never waited on), Damaged for a file no program of ours wrote.
  enum class ReadStatus { Ok, Missing, NotRegular, Unreadable, Damaged };
  IniValues load(ReadStatus& status) const;

  std::string readText(const std::string& section, const std::string& key,
                       const std::string& fallback, std::size_t bufferSize = 256) const;
  int readInt(const std::string& section, const std::string& key, int fallback) const;

 private:
  // One locked read-modify-write of the file: edit gets the text (empty for a missing
  // file) and gives the new one.
  bool rewrite(const std::function<std::string(const std::string&)>& edit) const;

  std::string path_;
  Locking locking_;
};

// The values of an INI text as the readers see it (empty when it cannot be parsed).
IniValues iniValuesOf(const std::string& text);

// config.ini [GENERAL] probe_all_ports=1: the probe also opens the serial ports of other
// makers' USB devices, which it otherwise leaves alone. Read at each start of the probe.
bool probeAllPortsSetting(const AppConfig& config);

// Plain decimal conversion: leading blanks, an optional sign, the digits up to the first
// other character. Text without digits gives 0; values beyond the int range are clamped.
int decimalValue(const std::string& text);

}  // namespace tkb
