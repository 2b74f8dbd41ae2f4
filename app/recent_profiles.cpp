#include "app/recent_profiles.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace tkb {

namespace {
constexpr const char* kSection = "GENERAL";
constexpr const char* kProKind = "pro";
constexpr const char* kSportKind = "sport";

std::string slotKey(int slot) { return "recent" + std::to_string(slot + 1); }

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string absolutePath(const std::string& path) {
  std::error_code error;
  const std::filesystem::path full = std::filesystem::absolute(path, error);
  return (error ? std::filesystem::path(path) : full).lexically_normal().string();
}

bool isFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

// The stored entries as they are, missing files included; a value that is not
// "<kind>|<absolute path>" is no entry.
std::vector<RecentProfile> storedEntries(const IniValues& values) {
  std::vector<RecentProfile> entries;
  for (int slot = 0; slot < kRecentProfileCount; ++slot) {
    const std::string value = values.readText(kSection, slotKey(slot), "", 4096);
    const auto bar = value.find('|');
    if (bar == std::string::npos) continue;
    const std::string kind = value.substr(0, bar);
    RecentProfile entry{kind == kSportKind ? ProfileKind::Sport : ProfileKind::Pro, value.substr(bar + 1)};
    if ((kind != kProKind && kind != kSportKind) || entry.path.empty() || entry.path.front() != '/') continue;
    if (std::none_of(entries.begin(), entries.end(), [&](const RecentProfile& e) { return e.path == entry.path; }))
      entries.push_back(std::move(entry));
  }
  return entries;
}
}  // namespace

ProfileKind recentProfileKind(const std::string& path, ProfileKind usedAs) {
  const std::string extension = lower(std::filesystem::path(path).extension().string());
  if (extension == ".tkb") return ProfileKind::Pro;
  if (extension == ".tks") return ProfileKind::Sport;
  return usedAs;
}

std::vector<RecentProfile> RecentProfiles::files() const {
  std::vector<RecentProfile> entries = storedEntries(config_.load());
  std::erase_if(entries, [](const RecentProfile& e) { return !isFile(e.path); });
  return entries;
}

bool RecentProfiles::add(const std::string& path, ProfileKind usedAs) {
  const std::string full = absolutePath(path);
  std::vector<RecentProfile> entries = storedEntries(config_.load());
  std::erase_if(entries, [&](const RecentProfile& e) { return e.path == full || !isFile(e.path); });
  entries.insert(entries.begin(), RecentProfile{recentProfileKind(full, usedAs), full});
  std::vector<IniEntry> writes;
  for (int slot = 0; slot < kRecentProfileCount; ++slot) {
    std::string value;
    if (slot < static_cast<int>(entries.size()))
      value = std::string(entries[slot].kind == ProfileKind::Sport ? kSportKind : kProKind) + "|" + entries[slot].path;
    writes.push_back({kSection, slotKey(slot), value});
  }
  return config_.writeAll(writes);
}

bool traySetting(const AppConfig& config) { return config.readInt(kSection, "tray", 0) == 1; }

bool writeTraySetting(const AppConfig& config, bool on) { return config.write(kSection, "tray", on ? "1" : "0"); }

}  // namespace tkb
