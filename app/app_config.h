// AppConfig: the INI settings file opt/config.ini that TKB-Tunedeck and TKB_Monitor share.
// Section and key names match without regard to case; a written key replaces its value in
// place or is appended to its section. Every write is one complete read-modify-write under
// an advisory lock, replacing the file atomically, so the two programs never tear the file
// nor lose each other's keys. A missing, unreadable or corrupt file reads as the defaults.
#pragma once

#include <cstddef>
#include <string>

namespace tkb {

class AppConfig {
 public:
  explicit AppConfig(std::string path) : path_(std::move(path)) {}

  const std::string& path() const { return path_; }

  // Writes one value; false when the file could not be written (callers ignore it).
  bool write(const std::string& section, const std::string& key, const std::string& value) const;

  // The value as text, at most bufferSize - 1 characters of it (the programs read through
  // fixed buffers: the VR keys through 5 bytes, so "-1000" reads as "-100").
  std::string readText(const std::string& section, const std::string& key,
                       const std::string& fallback, std::size_t bufferSize = 256) const;

  // The value as a decimal integer; a missing key gives fallback.
  int readInt(const std::string& section, const std::string& key, int fallback) const;

 private:
  std::string path_;
};

// Plain decimal conversion: leading blanks, an optional sign, the digits up to the first
// other character. Text without digits gives 0.
int decimalValue(const std::string& text);

}  // namespace tkb
