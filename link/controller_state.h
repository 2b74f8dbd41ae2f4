// ControllerState: the program's mirror of everything the pedal controller stores, plus
// what the probe learned about it. Filled at start-up by the queries, edited by the pages,
// and read by every command sender at the moment it sends.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <initializer_list>
#include <string>

namespace tkb {

inline constexpr int kCurvePoints = 11;
inline constexpr int kProfileNameBytes = 15;

using Curve = std::array<int, kCurvePoints>;
using ProfileName = std::array<char, kProfileNameBytes>;  // zero-filled, not always terminated

// Three signed 16-bit readings the controller reports (clutch, brake, throttle).
struct PedalReadings {
  int16_t clutch = 0;
  int16_t brake = 0;
  int16_t throttle = 0;

  bool operator==(const PedalReadings&) const = default;
};

// The values the controller holds, one entry each. A field is known once a reply carrying
// it was accepted, or once the driver set it; until then it is unknown and must never be
// shown, sent back, written to a profile or sent to the monitor.
enum class Field {
  FirmwareVersion,
  StartReadings,
  CalibrationReadings,
  Language,
  // The four settings of the general-configuration byte (proProfileActive goes with
  // SportProfileActive, always its opposite).
  SportProfileActive,
  SportProfileLoaded,
  Calibrated,
  ZonesEnabled,
  ChetoActive,
  BrakeMax,
  ClutchUpper,
  ClutchLower,
  BrakeUpper,
  BrakeLower,
  ThrottleUpper,
  ThrottleLower,
  ClutchCurve,
  BrakeCurve,
  ThrottleCurve,
  LetterAbs,
  LetterAutoBrake,
  LetterMas,
  LetterMenos,
  LetterMas2,
  LetterMenos2,
  AutoBrake,
  AutoBrake2,
  Cheto,
  ProProfileName,
  SportProfileName,
  Model,
  Color,
  BrakeRecalPoint,  // never read: computed by the automatic brake calibration
  Count_
};
inline constexpr int kFieldCount = static_cast<int>(Field::Count_);

class FieldSet {
 public:
  FieldSet() = default;
  FieldSet(std::initializer_list<Field> fields) {
    for (Field f : fields) add(f);
  }
  static FieldSet all() {
    FieldSet s;
    s.bits_.set();
    return s;
  }
  bool has(Field f) const { return bits_.test(static_cast<size_t>(f)); }
  void add(Field f) { bits_.set(static_cast<size_t>(f)); }
  void add(const FieldSet& other) { bits_ |= other.bits_; }
  void remove(Field f) { bits_.reset(static_cast<size_t>(f)); }
  void remove(const FieldSet& other) { bits_ &= ~other.bits_; }
  bool hasAll(const FieldSet& other) const { return (bits_ & other.bits_) == other.bits_; }
  bool empty() const { return bits_.none(); }
  int size() const { return static_cast<int>(bits_.count()); }
  bool operator==(const FieldSet&) const = default;

 private:
  std::bitset<kFieldCount> bits_;
};

struct ControllerState {
  // What of the values below is known (see Field). Empty until the start-up reads.
  FieldSet known;
  bool isKnown(Field f) const { return known.has(f); }
  void markKnown(Field f) { known.add(f); }

  bool connected = false;
  bool hasClutch = false;
  int probeResult = 0;
  std::array<int, 3> firmwareVersion{};

  // General-configuration byte (query 0xA3).
  bool proProfileActive = false;
  bool sportProfileActive = false;
  bool sportProfileLoaded = false;
  bool calibrated = false;
  bool zonesEnabled = false;

  std::string language;  // one of the six names, or empty while none was read

  int16_t brakeMax = 0;
  int clutchUpper = 0, clutchLower = 0;
  int brakeUpper = 0, brakeLower = 0;
  int throttleUpper = 0, throttleLower = 0;

  Curve clutchCurve{};
  Curve brakeCurve{};
  Curve throttleCurve{};

  uint8_t letterAbs = 0, letterAutoBrake = 0;
  uint8_t letterMas = 0, letterMenos = 0, letterMas2 = 0, letterMenos2 = 0;

  int autoBrake = 0;
  int autoBrake2 = 0;
  int cheto = 0;
  int chetoActive = 0;

  ProfileName proProfileName{};
  ProfileName sportProfileName{};

  int model = 0;
  int color = 0;

  PedalReadings startReadings;
  PedalReadings calibrationReadings;
  int brakeRecalPoint = 0;

  bool operator==(const ControllerState&) const = default;
};

// The profile name as text: the bytes up to the first zero, at most 15.
std::string profileNameText(const ProfileName& name);
// The first 15 bytes of text, zero-filled.
ProfileName makeProfileName(const std::string& text);

}  // namespace tkb
