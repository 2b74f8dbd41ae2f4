// Keeps the driver's settings across a firmware update. Before the pedals are restarted
// into their bootloader, their whole configuration is read and kept, and written as a
// profile pair (tkb/before-update-<date>.tkb and .tks) that the driver can load again
// later; once they are back, the configuration is read again and every setting that
// differs is sent back, then stored. Used by TKB-Tunedeck and tkb-cli through the firmware
// update.
#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "link/firmware_update.h"

namespace tkb {

inline constexpr const char* kBeforeUpdatePrefix = "before-update-";

class ProfileSettingsKeeper : public SettingsKeeper {
 public:
  // profileFolder: where the profile pair goes (created when missing).
  explicit ProfileSettingsKeeper(std::string profileFolder);
  void setClock(std::function<std::time_t()> clock) { clock_ = std::move(clock); }

  bool saveBefore(Controller& controller) override;
  std::vector<std::string> restoreAfter(Controller& controller) override;

  // The pair written by saveBefore, without its extension ("<folder>/before-update-...").
  const std::string& savedProfile() const { return saved_; }

 private:
  std::string folder_;
  std::string saved_;
  ControllerState before_;
  std::function<std::time_t()> clock_;
};

// The names of the settings that differ between two states, in the order they are sent.
std::vector<std::string> differingSettings(const ControllerState& a, const ControllerState& b);

}  // namespace tkb
