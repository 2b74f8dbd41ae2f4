// The profile files the driver loaded or saved last, most recent first, kept in config.ini
// [GENERAL] recent1 ... recent5 as "<kind>|<path>" so that the tray menu can load one with a
// click. A file that is no longer there is left out; nothing here needs Qt.
#pragma once

#include <string>
#include <vector>

#include "app/app_config.h"
#include "app/profiles.h"

namespace tkb {

inline constexpr int kRecentProfileCount = 5;

struct RecentProfile {
  ProfileKind kind = ProfileKind::Pro;
  std::string path;  // absolute
};

// The kind a file is loaded as: *.tkb PRO, *.tks sport (any case); any other name the
// kind of the page that loaded or saved it.
ProfileKind recentProfileKind(const std::string& path, ProfileKind usedAs);

class RecentProfiles {
 public:
  explicit RecentProfiles(AppConfig config) : config_(std::move(config)) {}

  // The list as stored, without files that are gone and without repeats.
  std::vector<RecentProfile> files() const;
  // A file loaded or saved: first in the list, once; the oldest beyond five drop out.
  // False when config.ini could not be written (the list then stays as it was).
  bool add(const std::string& path, ProfileKind usedAs);

 private:
  AppConfig config_;
};

// config.ini [GENERAL] tray=1: the tray icon is shown and closing the window hides it.
bool traySetting(const AppConfig& config);
bool writeTraySetting(const AppConfig& config, bool on);

}  // namespace tkb
