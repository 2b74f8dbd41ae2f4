// The profile in force on the controller, kept aside while another profile is in use and put
// back afterwards: the game switcher keeps one while a game's own profile is loaded, and
// tkb-cli can carry one as a line of text. Also the "edits pending" test: whether the profile
// values differ from those of the last load or save. No Qt: a snapshot is taken from a
// ControllerState and sent back through Operations, as the pages send what they change.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/operations.h"
#include "link/controller_state.h"
#include "link/settings.h"

namespace tkb {

// What a snapshot holds: every value of a sport profile (the seven zone keys with the brake
// limiter, the brake stop, the auto-brake, the three curves), the mode in force (CUSTOM or
// PRO active, zones on) and both profile names the controller keeps.
FieldSet snapshotFields();

class ProfileSnapshot {
 public:
  // The profile in force in the state, with the program's current profile name (the name
  // PerfilActual holds, without its '\'). None while any of snapshotFields() is unknown: a
  // value the program never learnt cannot be put back.
  static std::optional<ProfileSnapshot> capture(const ControllerState& state, std::string currentProfileName);

  // Sends the snapshot to the controller through the operations the pages use: the
  // auto-brake, the six zones (as the PRO page sends them), the brake stop, both profile
  // names with their naming commands, the mode flags (B3, B5) and the three curves; the
  // brake limiter, which no command writes, goes into the state as a load puts it there.
  // Then asks the controller for its mode. False when the link was down, a frame could not be
  // written, or the controller did not answer or reports another mode.
  bool restore(Operations& operations) const;

  // One line of printable ASCII ("tkb-snapshot/1 clutchUpper=0 ..."); decode() takes exactly
  // what encode() gives and refuses anything else: another header, an unknown, repeated or
  // missing key, a value that is not plain decimal or lies outside its range, a curve of
  // another length, a name too long or with control bytes, a broken %XX escape.
  std::string encode() const;
  static std::optional<ProfileSnapshot> decode(std::string_view text);

  // The snapshot's values: exactly snapshotFields() are known.
  const ControllerState& values() const { return values_; }
  bool customActive() const { return values_.sportProfileActive; }
  const std::string& currentProfileName() const { return currentProfileName_; }

  bool operator==(const ProfileSnapshot&) const = default;

 private:
  ControllerState values_;
  std::string currentProfileName_;
};

// The profile values of the last load or save (or those read at start-up before either), to
// tell whether the driver has edits that no profile file holds.
class ProfileBaseline {
 public:
  // A load or save of a kind: the values a file of that kind holds become the baseline; the
  // others keep theirs (a PRO save leaves curve edits pending).
  void take(const ControllerState& state, const FieldSet& fields);
  // Start-up, or a sport file that holds the whole state: every profile value.
  void take(const ControllerState& state);
  // A known profile value of the state that the baseline does not hold, or holds otherwise.
  bool pending(const ControllerState& state) const;

  bool operator==(const ProfileBaseline&) const = default;

 private:
  ControllerState values_;
};

}  // namespace tkb
