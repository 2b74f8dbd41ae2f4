// The INI reader and the line-preserving writer on any text. The first byte picks the value
// written and where; the rest is the file. After a write the reader sees the new value and
// every other value exactly as before, and the file grows by no more than the new line(s).
// After a removal the reader no longer finds the key and sees every other value as before;
// every key a section lists is one the reader finds there.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/app_config.h"
#include "app/ini_text.h"

namespace {

const tkb::IniEntry kEntries[] = {
    {"MONITOR", "vr_size", "30"},   {"GENERAL", "file", "Race setup"}, {"monitor", "X", "-5"},
    {"BRAKE", "BRAKE_CURVE_10", ""}, {"A", "a", "1"},                  {"ACCELERATOR", "UPPER DEAD ZONE", "7"},
};

// A key the reader does not find gives whichever fallback it is asked with.
bool missing(const tkb::IniValues& values, const std::string& section, const std::string& key) {
  return values.readText(section, key, "\x01") == "\x01" && values.readText(section, key, "\x02") == "\x02";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const tkb::IniEntry& entry = kEntries[data[0] % std::size(kEntries)];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  if (text.find('\0') != std::string::npos) return 0;  // the file reader refuses such files
  tkb::IniValues expected = tkb::iniValuesOf(text);
  expected.set(entry.section, entry.key, entry.value);

  const tkb::IniEntry entries[] = {entry};
  const std::string written = tkb::setIniValues(text, entries);
  if (!(tkb::iniValuesOf(written) == expected)) std::abort();
  if (written.size() > text.size() + entry.section.size() + entry.key.size() + entry.value.size() + 16)
    std::abort();
  if (tkb::setIniValues(written, entries) != written) std::abort();  // writing again changes nothing

  const std::string removed = tkb::removeIniKey(text, entry.section, entry.key);
  if (removed.size() > text.size()) std::abort();
  tkb::IniValues after = tkb::iniValuesOf(removed);
  if (!missing(after, entry.section, entry.key)) std::abort();
  tkb::IniValues before = tkb::iniValuesOf(text);
  after.set(entry.section, entry.key, "");
  before.set(entry.section, entry.key, "");
  if (!(after == before)) std::abort();
  const tkb::IniValues values = tkb::iniValuesOf(text);
  for (const tkb::IniEntry& listed : tkb::iniSectionEntries(text, entry.section))
    if (missing(values, entry.section, listed.key)) std::abort();
  return 0;
}
