// The one table of the controller's value settings: per setting its tkb-cli name, the
// ControllerState field, the range of each value, the query that reads it, the profile key
// that keeps it, the sender that writes it, the pedal and role it has on the pages, and
// whether a firmware update sends it back. The senders, the reply decoders, the profile
// files, tkb-cli, the firmware update and the pages all read this table, and a value the
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

// The pedals as the pages number them: 0 clutch, 1 brake, 2 throttle.
enum class Pedal { Clutch, Brake, Throttle };
inline constexpr int kPedalCount = 3;
inline constexpr Pedal kPedals[kPedalCount] = {Pedal::Clutch, Pedal::Brake, Pedal::Throttle};
constexpr int pedalIndex(Pedal pedal) { return static_cast<int>(pedal); }

// A brake stop of 100 % stops nothing: the controller is told the brake stop is off.
inline constexpr int kBrakeStopInactive = 100;

// What a setting is to its pedal (or to the program when it belongs to no pedal).
enum class Role { Config, UpperZone, LowerZone, BrakeMax, BrakeRecalPoint, Curve, Letter, AutoBrake, BrakeStop, Device };

struct Setting {
  const char* name;  // tkb-cli name, the state member it stands for
  Field field;
  int min, max;  // of the value, or of each point of a curve
  bool curve;    // eleven points
  std::optional<Query> query;  // none: the controller cannot be asked for it
  const char* section;         // profile section, or nullptr when no profile keeps it
  const char* key;             // profile key; for a curve the format with the point index
  void (*send)(Controller&);   // writes the state's value; nullptr: no sender of its own
  std::optional<Pedal> pedal;  // the pedal it belongs to, none for the program-wide ones
  Role role;
  bool restored;  // sent back after a firmware update when the controller lost it
  // The state's member as a plain value, read and written without any rule (one-value
  // settings only; nullptr for curves).
  int (*get)(const ControllerState&);
  void (*put)(ControllerState&, int);
};

std::span<const Setting> settingsTable();
const Setting* findSetting(Field field);
const Setting* findSetting(std::string_view name);

// The dead-zone setting of a pedal (the upper or the lower one) and its curve.
const Setting& zoneSetting(Pedal pedal, bool upper);
const Setting& curveSetting(Pedal pedal);
// The state's zone value of a pedal.
int zoneValue(const ControllerState& state, Pedal pedal, bool upper);

// The curve of a pedal that changes nothing: 0, 10, ... 100.
Curve straightCurve();

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

// The curve a curve field stands for, or a pedal's curve.
Curve& curveOf(ControllerState& state, Field field);
const Curve& curveOf(const ControllerState& state, Field field);
Curve& curveOf(ControllerState& state, Pedal pedal);
const Curve& curveOf(const ControllerState& state, Pedal pedal);

}  // namespace tkb
