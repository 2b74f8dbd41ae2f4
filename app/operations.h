// The device procedures every front end runs: the modes, the dead zones with their step
// rules, the brake stop, the curves, the key letters, the auto-brake and the stores. Plain
// code over a Controller and its ControllerState, no widgets: the PRO and CUSTOM pages call
// these and then show the state, and tkb-cli calls the same ones.
#pragma once

#include <optional>

#include "link/controller.h"
#include "link/settings.h"

namespace tkb {

// Whose rules a dead-zone change follows: the PRO page sends every change; the CUSTOM page
// sends its zones and brake stop only while CUSTOM is the active mode.
enum class ZonePage { Pro, Custom };

// The PRO page's "-"/"+" rule: whether a step is allowed. upper: the upper-zone box (else
// the lower one); plus: the "+" button. The brake compares values scaled by
// 100 / (brakeMax + 10) (MAX BRAKE PRESS against the lower zone).
bool zoneStepAllowed(Pedal pedal, bool upper, bool plus, int upperValue, int lowerValue, int brakeMax);
// The CUSTOM page's rule: the lower zone never rises above the upper one (they may meet),
// both stay in 0..100. The value after the step, none when the step is not allowed.
std::optional<int> customZoneStep(bool upper, int delta, int upperValue, int lowerValue);
// The brake stop steps within 0..100.
int brakeStopStep(int value, int delta);

// The trace line of a zone value a page set (and setZone sent).
void traceZoneChange(ZonePage page, Pedal pedal, bool upper, int value);

class Operations {
 public:
  explicit Operations(Controller& controller) : c_(controller) {}

  Controller& controller() { return c_; }
  ControllerState& state() { return c_.state; }

  // ---- Modes
  // Zones on or off on the controller (B3).
  void setZonesEnabled(bool on);
  // PRO or CUSTOM in force with the zones on (B3 01, B5): the ACTIVATE buttons, the PRO
  // button of a calibrated set.
  void activateMode(bool custom);
  // The CUSTOM button: CUSTOM loaded and active (B6 01, B5 01).
  void openCustom();
  // CUSTOM active with the curves in the state: B3 01, B5 01, then the three curves
  // (clutch, brake, throttle), or only one.
  void activateCustom();
  void activateCustom(Pedal onlyCurve);
  // What the controller holds of the three zone pairs, into the state.
  void readZones();

  // ---- Dead zones and brake stop
  // A zone value the driver chose on a page: into the state and sent, with its trace line.
  // False when nothing was sent (CUSTOM not active on the CUSTOM page, value out of range).
  bool setZone(ZonePage page, Pedal pedal, bool upper, int value);
  // All six as a page shows them, each clamped to 0..100 as the spin boxes are.
  void setZones(ZonePage page, const std::array<std::array<int, 2>, kPedalCount>& values);
  // The CUSTOM page's brake stop (CF, then E2: 00 for 100, the brake stop that stops
  // nothing, else 01); only while CUSTOM is active.
  bool setBrakeStop(int value);

  // ---- Curves
  // DEFAULT of one pedal: its curve a straight line, CUSTOM active with that curve.
  void defaultCurve(Pedal pedal);
  // The end of a chart edit: the pedal's curve as drawn goes out, CUSTOM counts as loaded.
  void sendCurve(Pedal pedal, const Curve& curve);

  // ---- Letters, auto-brake
  // A key letter (LetterAbs ... LetterMenos2) by list index; out of range sends nothing.
  bool setLetter(Field letter, int index);
  // The auto-brake switch (20 01 / 20 00).
  void setAutoBrake(bool on);
  // Ends the auto-brake test when it runs (the PRO switch turned off); true when it did.
  bool endAutoBrakeTest();
  // The auto-brake test button, pressed and released.
  void testAutoBrake(bool on);

  // ---- Stores
  // APPLY on the PRO page (FF F4) and on the CUSTOM page (FF F4, FF F7).
  void storeZones();
  void storeZonesAndCurves();

  // ---- Any one setting (tkb-cli set): into the state, range-checked, sent by its row.
  bool set(const Setting& row, int value);
  bool set(const Setting& row, const Curve& curve);

 private:
  Controller& c_;
};

}  // namespace tkb
