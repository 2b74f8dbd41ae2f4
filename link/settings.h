// The one table of the controller's value settings: per setting its tkb-cli name, the
// ControllerState field, the range of each value, the query that reads it, the profile key
// that keeps it and the sender that writes it. The senders, the reply decoders, the profile
// files, tkb-cli set and the pages all check values against this table, and a value the
// driver chose enters the state only through setSetting (or its text and curve siblings).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "link/controller_state.h"
#include "link/protocol.h"

namespace tkb {

class Controller;

struct Setting {
  const char* name;  // tkb-cli name, the state member it stands for
  Field field;
  int min, max;  // of the value, or of each point of a curve
  bool curve;    // eleven points
  std::optional<Query> query;  // none: the controller cannot be asked for it
  const char* section;         // profile section, or nullptr when no profile keeps it
  const char* key;             // profile key; for a curve the format with the point index
  void (*send)(Controller&);   // writes the state's value; nullptr: no sender of its own
};

std::span<const Setting> settingsTable();
const Setting* findSetting(Field field);
const Setting* findSetting(std::string_view name);

// Whether a value lies in its field's range; fields without a row take any value.
bool inRange(Field field, int value);
// Every point of a curve in range.
bool curveInRange(const Curve& curve);
// A curve the editor could have made: point 0 is 0, point 10 is 100, strictly increasing.
bool curveAllowed(const Curve& curve);

// The state's value of a one-value setting (no curves, no texts).
int settingValue(const ControllerState& state, Field field);

// The one way to put a value the driver (or the program for the driver) chose into the
// state: range-checked, stored and marked known. False, with the state unchanged, when the
// value is out of range or the field is not a one-value setting. SportProfileActive also
// sets proProfileActive to its opposite; Cheto also sets chetoActive (1 unless 100).
bool setSetting(ControllerState& state, Field field, int value);
// The same for a curve (ClutchCurve, BrakeCurve, ThrottleCurve): every point in range and
// curveAllowed().
bool setCurve(ControllerState& state, Field field, const Curve& curve);
// One of the six language names.
bool setLanguage(ControllerState& state, const std::string& name);
// ProProfileName or SportProfileName.
bool setProfileName(ControllerState& state, Field field, const ProfileName& name);

// The curve a curve field stands for.
Curve& curveOf(ControllerState& state, Field field);
const Curve& curveOf(const ControllerState& state, Field field);

}  // namespace tkb
