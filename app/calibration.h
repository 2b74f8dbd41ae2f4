// The device side of the PRO calibration: the wizard (CALIBRATE, NEXT, SAVE, CANCEL and
// the wizard's part of CLOSE) as a state machine over Controller, Autocal and the MAX BRAKE
// PRESS step. The PRO page and tkb-cli calibrate drive the same machine; what each shows
// at each point is its own (CalibrationView). No Qt: the two pauses of the wizard are
// handed back to the caller, which waits on a timer (the window) or sleeps (tkb-cli).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "app/operations.h"
#include "link/controller.h"

namespace tkb {

class UsageLog;
struct BrakeExcess;

// After the joystick correction is reset the pedals need this long before the controller
// takes its rest points; after FF F1 the controller needs this long to store the points.
inline constexpr int kCalibrationSettleMs = 450;
inline constexpr int kCalibrationStoreMs = 100;

// What a front end shows while a procedure runs. Each call comes at its place between the
// frames; nothing here sends anything. The defaults show nothing.
class CalibrationView {
 public:
  virtual ~CalibrationView() = default;
  // CALIBRATE, before anything is sent: the calibration picture instead of the model's.
  virtual void calibrationStarted() {}
  // The dead-zone controls after the zones were switched on or off (B3 sent).
  virtual void zoneControlsShown(bool /*on*/) {}
  // After FF F2: the wizard's buttons instead of the mode buttons, the zone columns away.
  virtual void wizardOpened() {}
  // A step's instruction: 1 throttle, 2 brake, 3 clutch pressed; 4 the points are taken.
  virtual void stepShown(int /*step*/) {}
  // SAVE and CANCEL, before anything is sent: the model picture back.
  virtual void calibrationEnding() {}
  // SAVE after the store pause, CANCEL after FF F3: the dead-zone columns back.
  virtual void zoneAreaShown() {}
  // A zone value was sent (value), or is not known and was not (nullopt).
  virtual void zoneShown(Field /*field*/, std::optional<int> /*value*/) {}
  // SAVE: all six zones are through; the other views of the zones may follow.
  virtual void zonesShown() {}
  // SAVE: PRO became the active mode.
  virtual void modeShown() {}
  // SAVE or CANCEL: the wizard is over (saved: the new points are stored).
  virtual void wizardClosed(bool /*saved*/) {}
  // SAVE: the profile is "Default" again.
  virtual void profileShown() {}
  // Autocal: the brake zones were sent again.
  virtual void brakeZonesShown() {}
};

// What the machine needs beyond the controller; every member may stay empty.
struct CalibrationHooks {
  // The reset of the system's joystick correction (best effort).
  std::function<void()> resetJoystick;
  // The usage log of the calibration lines, when one is open.
  std::function<UsageLog*()> usageLog;
  // The base folder whose opt/config.ini records the "Default" profile after SAVE.
  std::function<std::string()> basePath;
};

// A pause the caller must make before it calls resume(); ms 0: none.
struct CalibrationPause {
  int ms = 0;
  explicit operator bool() const { return ms > 0; }
};

class CalibrationWizard {
 public:
  enum class State {
    Idle,        // no calibration since the start
    Settling,    // CALIBRATE: the joystick correction was reset, the pedals settle
    Throttle,    // rest points taken: the throttle is to be pressed fully
    Brake,       // the brake is to be held where its maximum shall be
    Clutch,      // the clutch is to be pressed fully (three-pedal sets)
    Calibrated,  // all points taken: SAVE, CANCEL or CALIBRATE again
    Storing,     // SAVE: FF F1 sent, the controller stores the points
    Saved,
    Cancelled,
  };

  CalibrationWizard(Controller& controller, CalibrationView& view, CalibrationHooks hooks = {});

  State state() const { return state_; }
  // The step on show (1 throttle, 2 brake, 3 clutch, 4 calibrated), 0 outside the steps.
  int count() const;
  // How far the points went; above 0 while the controller holds points not yet stored.
  int pCount() const { return count(); }
  // A pause is running: nothing but resume() may be called.
  bool pending() const { return state_ == State::Settling || state_ == State::Storing; }

  // CALIBRATE, from any state but a pause: zones off, joystick reset, then the pause.
  [[nodiscard]] CalibrationPause calibrate();
  // NEXT: the pressed point of the step on show; nothing outside the steps 1 to 3.
  void next();
  // SAVE (step 4 only): the readings, FF F1, then the pause.
  [[nodiscard]] CalibrationPause save();
  // CANCEL (steps 1 to 4): FF F3 restores the points the controller had before.
  void cancel();
  // The wizard's part of CLOSE: points not yet stored are restored (FF F3), zones on.
  void close();
  // The rest of CALIBRATE or SAVE once its pause is over.
  void resume();
  // The program ends in the middle of the wizard: the controller must not be left with its
  // zones off and half-taken points. Settling: the zones on again (nothing else was sent);
  // steps 1 to 4: as CLOSE (FF F3, zones on); Storing: the store is under way, so the caller
  // waits the pause this returns and calls resume() to finish SAVE. Nothing otherwise.
  [[nodiscard]] CalibrationPause end();
  // How many of the last SAVE's queries (readings, brake limit, zones) got no valid reply:
  // what they should have read stayed as it was.
  int failedReads() const { return failedReads_; }

 private:
  void zonesPro(bool on);
  UsageLog* log() const;

  Controller& c_;
  CalibrationView& view_;
  CalibrationHooks hooks_;
  State state_ = State::Idle;
  int failedReads_ = 0;
};

const char* calibrationStateName(CalibrationWizard::State state);

// Autocal: from the brake presses recorded beyond the limit (their average + 1) a new brake
// limit is sent (C8), made the brake's upper zone and stored (ReaplicarFreno). The
// statistics start again. Nothing is sent while no press was recorded; false then.
bool autocal(Controller& controller, BrakeExcess& excess, UsageLog* log, CalibrationView& view);

// MAX BRAKE PRESS "-" (delta < 0) or "+" (the pedals' own Menos and Mas keys as well): the
// brake's upper zone one step down or up when the PRO rule allows it. The value sent; none
// when the rule stops the step or a brake zone is not known (a step from an unknown value
// would send a made-up one).
std::optional<int> stepMaxBrakePress(Operations& operations, int delta);

}  // namespace tkb
