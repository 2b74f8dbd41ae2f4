// ControllerModel: the program's one session with the pedal set. It owns the controller
// link, the device procedures (app/operations), the profile operations, the calibration
// wizard, the pedal input with its 10 ms feed and readout, and the link's life (probe,
// start-up reads, not answering, unplug and replug, retry, the firmware update's phase).
//
// Every exchange runs on the link thread, one action at a time in the order the actions were
// asked for; a method posts its action and returns at once. What an action changed comes
// back to the main thread as this object's signals, each with the state as it stood at that
// point of the action (state()). Pages read state() and change it only through the methods
// below; nothing else fires the signals. The window, pages, tray, game switcher and control
// socket ask canSendSettings() before they send on their own.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/calibration.h"
#include "app/key_event.h"
#include "app/link_worker.h"
#include "app/operations.h"
#include "app/pedal_readout.h"
#include "app/profiles.h"
#include "app/reconnect.h"
#include "app/usage_log.h"
#include "link/controller.h"
#include "link/firmware_update.h"
#include "link/monitor_datagram.h"
#include "link/pedal_input.h"
#include "link/probe.h"
#include "link/settings.h"
#include "ui/pedal_trace_feed.h"

namespace tkb::ui {

// The pages' per-pedal widgets stand in arrays indexed by the pedal's number.
inline constexpr int kClutchPedal = pedalIndex(Pedal::Clutch);
inline constexpr int kBrakePedal = pedalIndex(Pedal::Brake);
inline constexpr int kThrottlePedal = pedalIndex(Pedal::Throttle);
inline constexpr int kTaskPeriodMs = 10;

// The curves drawn on the CUSTOM page's charts: what a sport save writes.
class ChartPoints {
 public:
  virtual ~ChartPoints() = default;
  virtual Curve chartPoints(Pedal pedal) const = 0;
};

// The link thread's view of the session, for code that runs a whole procedure as one action
// (tkb-cli's commands through the program, the game switcher).
struct LinkSession {
  Controller& controller;
  Operations& operations;
  Profiles& profiles;
};

class ControllerModel : public QObject {
  Q_OBJECT

 public:
  // ReadFailed: the controller was found but did not answer all of the start-up reads; the
  // window says so and offers RETRY instead of pages of made-up values.
  enum class Phase { Idle, Probing, NotDetected, Running, Stopped, ReadFailed };
  // What the link notice under the pages says (none while the link is fine).
  enum class LinkNotice { None, Reading, NotAnswering, Disconnected };
  // The page the driver has open: the key functions and the zone rules follow it.
  enum class Page { None, Pro, Custom };

  // pedals: the joystick (hidraw, or the simulated driver); none: no pedal input at all.
  explicit ControllerModel(std::unique_ptr<PedalInput> pedals = nullptr, ProbeOptions probe = {});
  ~ControllerModel() override;

  // ---- What the window shows (main thread) -------------------------------------------
  const ControllerState& state() const { return shown_; }
  Phase phase() const { return phase_; }
  LinkNotice linkNotice() const { return linkNotice_; }
  LinkState linkState() const { return controller_.linkState(); }
  // An action is queued or running on the link thread.
  bool busy() const { return pendingActions_ > 0; }
  // The start-up reads run (at start, after RETRY or a replug).
  bool reading() const { return reading_; }
  bool firmwareUpdating() const { return firmwareBusy_.load(); }
  // The pages are up and the link can take an action: not reading, not unplugged, no update.
  bool linkFree() const;
  // May something be sent without the driver asking for it on a page (the tray, a game's
  // profile, tkb-cli through the program)? Only while the pages run on a free link and no
  // calibration is under way (its zones are off and its points half taken).
  bool canSendSettings() const;
  // The calibration wizard's step on show (1 throttle .. 4 calibrated, 0 outside) and
  // whether one of its pauses runs; as of the last action.
  int wizardStep() const { return wizardStep_; }
  bool wizardPending() const { return wizardPending_; }
  CalibrationWizard::State wizardState() const { return wizardState_; }
  bool calibrationUnderWay() const { return wizardPending_ || wizardStep_ > 0; }
  // The current profile name (PerfilActual without its '\').
  const std::string& currentProfileName() const { return currentProfileName_; }
  // The page on show, as the window tells it.
  Page openPage() const { return openPage_; }
  void setOpenPage(Page page) { openPage_ = page; }

  // The pedals' joystick and what the 10 ms feed computed of it.
  PedalInput* pedals() const { return pedals_.get(); }
  PedalReadout& readout() { return readout_; }
  const ProReadout& lastPro() const { return lastPro_; }
  const CustomReadout& lastCustom() const { return lastCustom_; }
  // The trace panel's samples, recording and pedal check (taken by the feed).
  PedalTraceFeed& traceFeed() { return traceFeed_; }
  // The monitor datagrams the feed sent so far (for the benchmark: the count).
  long sentDatagrams() const { return sentDatagrams_; }
  const std::string& basePath() const { return basePath_; }
  UsageLog* usageLog() const { return usageLog_.get(); }
  // The setting frames the driver's actions sent, the last of each code in the order sent:
  // what goes to the pedals again when they come back after an unplug. Link thread.
  const std::vector<Bytes>& driverFrames() const { return driverFrames_; }
  bool reconnecting() const { return reconnector_.running(); }
  const std::string& portName() const { return portName_; }
  // The CUSTOM page's charts, none before it exists: a sport save writes their curves.
  void setChartPoints(const ChartPoints* charts) { charts_ = charts; }

  // ---- The link's life ----------------------------------------------------------------
  // What each pass of the probe saw (called on the link thread); before start().
  void setProbePassListener(std::function<void(const ProbePass&)> listener) { probe_.passSeen = std::move(listener); }
  // The last probe's result (1 with clutch, 2 or 3 without, 0 none, 8 update failed).
  int probeResult() const { return probeResult_; }
  // The hook the probe runs for firmware older than 7.06; its waits end with the probe's.
  void setFirmwareUpdater(FirmwareUpdater updater) { probe_.firmwareUpdate = std::move(updater); }
  // The firmware update as the program makes it: its stages told (firmwareStage), the
  // settings kept in tkb/, avrdude's output in opt/avrdude.log; other options as given.
  void useFirmwareUpdate(FirmwareUpdateOptions options);
  // Instead of the serial ports: the controller reached through `transport` (it must outlive
  // the session) and found by `probe` (the probe's result: 1 with clutch, 2 or 3 without, 0
  // none). Before start(); the tests' in-memory controller.
  void useTransport(Transport& transport, std::function<int(Controller&)> probe);
  // The probe, then (pedals found) the start-up reads; again from NotDetectedBox's CONTINUE.
  void start();
  // Nothing queued or running on the link thread and everything it told delivered.
  bool idle() const { return worker_.pending() == 0 && publishesInFlight_.load() == 0; }
  // RETRY: the controller's settings read again.
  void retryReads();
  // The end: a calibration in the middle is closed on the controller, the link, the logs
  // and the feed stop. Waits for the link thread.
  void shutDown();
  // Gives up a probe or reconnection under way (closing the window, a stop signal).
  void stopSearching();
  // The link thread ends once what is queued has run; nothing is taken from then on. For
  // the end of the window, before what the queued actions use goes.
  void stopLink();
  const std::atomic<bool>* probeStopFlag() const { return &stopProbe_; }
  // 10 ms: the joystick read, the readout, the monitor datagram. Started with the pages.
  void setFeedRunning(bool on);
  // One step of that feed (its timer runs it; the benchmark times it).
  void feedTick();

  // ---- The driver's actions (each one action on the link thread) -----------------------
  void selectLanguage(int index);
  void setModel(int listIndex);
  void setColour(int listIndex);
  void activateMode(bool custom);
  // The PRO and CUSTOM entries of the main page, and the pages' CLOSE.
  void openProPage();
  void closeProPage();
  void openCustomPage();
  void closeCustomPage();
  // The calibration wizard's buttons.
  void calibrate();
  void calibrationNext();
  void saveCalibration();
  void cancelCalibration();
  // A dead-zone value or the brake stop as a page's box takes it (the PRO page's always,
  // the CUSTOM page's only while CUSTOM is active).
  void setZone(Page page, Pedal pedal, bool upper, int value);
  void setBrakeStop(int value);
  // Several dead zones as one action (the pedal check's suggestions): what
  // planSuggestedZones lets through is sent, each as its page's box sends it.
  void applyZones(std::vector<std::pair<Field, int>> zones);
  // A dead zone's "-" / "+" (delta -1 / +1) on a page, by that page's rules.
  void stepZone(Page page, Pedal pedal, bool upper, int delta);
  // The CUSTOM page's brake stop "-" / "+".
  void stepBrakeStop(int delta);
  // A key letter chosen in a list (traceLine printed first); CUSTOM's lists only while
  // CUSTOM is active.
  void setLetter(Page page, Field field, int index, const char* traceLine);
  // The AutoBrake switch of a page (CUSTOM's only while CUSTOM is active).
  void setAutoBrake(Page page, bool on);
  // The AutoBrake test button pressed and released.
  void testAutoBrake(bool pressed);
  // ABS: Autocal from the brake presses recorded beyond the limit.
  void autocal();
  // APPLY of the PRO page (zones stored) and of the CUSTOM page (zones and curves).
  void applyPro();
  void applyCustom();
  // DEFAULT of one CUSTOM chart, and DEFAULT ALL.
  void defaultCurve(Pedal pedal);
  void defaultAllCurves();
  // The end of a chart edit (or an undo, redo or preset): the curve as drawn goes out.
  void sendCurve(Pedal pedal, const Curve& curve);
  // The profile buttons once their dialog answered (nothing: the dialog was cancelled): the
  // path goes to the profile operations as it is.
  void saveProfile(ProfileKind kind, std::optional<std::string> path);
  void loadProfile(ProfileKind kind, std::optional<std::string> path);
  // A profile file chosen by the program (a recent profile, a game's), loaded as LOAD does.
  void loadProfileFile(ProfileKind kind, const std::string& path);
  // One key event of the pedals' keyboard (the keyboard hook procedure).
  void keyEvent(const KeyEvent& event);
  // Any procedure as one action on the link thread (tkb-cli's commands through the program,
  // the game switcher); `done` runs on the main thread once the action and what it told are
  // through. The procedure may call the model's link-side helpers below.
  void runAction(std::function<void(LinkSession&)> action, std::function<void()> done = {});

  // ---- Link-side helpers (only from an action on the link thread) -------------------------
  // A setting was written into the state and sent from outside the pages: the pages show it
  // (without sending it again).
  void tellSettingSent(Field field);
  // The profile in force was put back into the state (a game ended, a snapshot restored):
  // every page shows it again, as after a load.
  void showProfileInForce();
  // Runs on the main thread after what the action told so far (in order).
  void tellMain(std::function<void()> onMain);
  // While set, the profile label's text also goes to `tap` (tkb-cli prints it).
  void setProfileLabelTap(std::function<void(const std::string&)> tap) { profileLabelTap_ = std::move(tap); }
  // The controller and the profile operations, for what runs on the link thread for good
  // (the game switcher's host).
  LinkSession linkSession() { return {controller_, operations_, *profiles_}; }

 signals:
  void phaseChanged(int phase);
  void linkNoticeChanged();
  void busyChanged(bool busy);
  // The probe is over: found (the reads follow) or not (the "not detected" box; when the
  // pedals are there but may not be opened, permissionProblem is the fix to show).
  void searchEnded(bool found, const QString& permissionProblem);
  // The start-up reads are over for the first time: the window builds its pages.
  void firstReadsDone();
  // The reads after RETRY or a replug: every page shows what was read.
  void readsRefreshed();
  // The pages place their controls as the state says (start-up, RETRY, a replug).
  void settingsShown();
  // A stage of the firmware update, and its end, with the language read before the touch.
  void firmwareStage(const tkb::FirmwareProgress& progress, int language);
  void firmwareFinished(const tkb::FirmwareReport& report, int language);
  // The 10 ms feed read the pedals: the live widgets that are shown take lastPro() and
  // lastCustom().
  void pedalsSampled();
  void linkStateChanged(tkb::LinkState state);
  // The language in force (an index into the six), after a choice or a read.
  void languageChanged(int index);
  // Model or colour sent or read again.
  void modelColourChanged();
  // The profile the active mode uses has another name.
  void profileChanged();
  // A profile load is over and what it sent is in the state.
  void profileLoaded(tkb::ProfileKind kind, bool loaded);
  void profileSaved(tkb::ProfileKind kind);
  // A profile save that wrote nothing (the file refused it, a value unknown).
  void profileNotSaved(tkb::ProfileKind kind);
  void profileFileUsed(tkb::ProfileKind kind, const QString& path);
  // A profile file refused whole: why (for the box the window shows).
  void profileRefused(const tkb::ProfileRefusal& refusal);
  // The state holds the controller's zones: the pages show them.
  void zonesChanged();
  // The brake's upper and lower zone changed (MAX BRAKE PRESS by the wizard, Autocal or a key).
  void brakeZonesChanged();
  // The bars take the dead-zone bands of the state's zones.
  void bandsChanged();
  // The PRO page's zone controls on (zones on) or off, as B3 left them.
  void zoneControlsShown(bool on);
  // The state holds the controller's curves.
  void curvesChanged();
  // The state's curves are what the controller has stored (read on connecting, or APPLY).
  void curvesStored();
  void lettersChanged();
  void letterChanged(tkb::Field field, int index);
  // The AutoBrake switches show on or off; the LED of a page at a brightness.
  void autoBrakeChanged(bool on);
  void autoBrakeLed(bool customPage, int brightness);
  // PRO, CUSTOM or CUSTOM with the brake stop is in force.
  void modeChanged();
  // A setting sent from outside the pages (tkb-cli through the program): shown, not resent.
  void settingSent(tkb::Field field);
  // The pages opened and closed (as their actions ran).
  void proPageOpened(bool calibrated);
  void proPageClosed();
  void customPageOpened();
  void customPageClosed();
  // APPLY went through on a page.
  void applied(tkb::ui::ControllerModel::Page page);
  // The calibration wizard, at its places between the frames.
  void calibrationStarted();
  void wizardOpened();
  void calibrationStepShown(int step);
  void calibrationEnding();
  void zoneAreaShown();
  // A zone the wizard (or Autocal) sent, or found unknown: the PRO page shows the state's.
  void zoneSent(tkb::Field field);
  void wizardClosed(bool saved);
  // Something the driver must hear of (a game's profile switched).
  void driverNotice(const QString& text);
  // CUSTOM was put in force from its page (a curve set back to DEFAULT).
  void customModeShown();

 private:
  class ProfileView;
  class WizardView;
  class FirmwareHooks;
  friend class ProfileView;
  friend class WizardView;

  // Posts an action: `work` runs on the link thread as one action of the driver (driver:
  // its setting frames count as the driver's own, see driverFrames()).
  void post(std::function<void()> work, bool driver = true);
  // The state as it stands now on the link thread goes to the main thread, then `onMain`.
  void publish(std::function<void()> onMain);
  void setPhase(Phase phase);
  void setLinkNotice(LinkNotice notice);
  void actionDone();

  // Link-side procedures (session_link.cpp, session_actions.cpp).
  void probeFinished(int result);
  void runControllerReads(bool resendDriverFrames);
  void readsFinished(bool allAnswered);
  void loadSettings();
  void refreshPages();
  void pedalsUnplugged();
  void pedalsBack(int probeResult);
  void onLinkStateChanged(LinkState state);
  void recordFrame(const Bytes& frame);
  void traceBands();
  void resendZonesAsShown(bool proPage, bool customPage);
  void resendCustomZones(Pedal pedal);
  void resendBrakeZonesOnCustom();
  void languageChosen(int index);
  void showCustomModeActive();
  void readCurvesBack(bool traceEach);
  void startPause(CalibrationPause pause);
  CalibrationView& calibrationView();

  std::unique_ptr<PedalInput> pedals_;
  ProbeOptions probe_;
  Controller controller_;
  Operations operations_{controller_};
  std::unique_ptr<ProfileView> profileView_;
  NoProfileDialog noDialog_;  // the pages ask their dialogs before the action
  std::unique_ptr<WizardView> wizardView_;
  std::unique_ptr<Profiles> profiles_;
  std::unique_ptr<CalibrationWizard> wizard_;
  PedalReadout readout_;
  std::unique_ptr<UsageLog> usageLog_;
  std::string basePath_;
  std::string portName_;
  Reconnector reconnector_;
  std::atomic<bool> stopProbe_{false};
  std::atomic<bool> firmwareBusy_{false};
  std::atomic<bool> quitAfterUpdate_{false};
  std::atomic<int> publishesInFlight_{0};
  std::function<int(Controller&)> customProbe_;

  // Main thread.
  ControllerState shown_;
  Phase phase_ = Phase::Idle;
  LinkNotice linkNotice_ = LinkNotice::None;
  Page openPage_ = Page::None;
  int probeResult_ = 0;
  int pendingActions_ = 0;
  bool reading_ = false;
  bool pagesBuilt_ = false;
  bool wizardPending_ = false;
  int wizardStep_ = 0;
  CalibrationWizard::State wizardState_ = CalibrationWizard::State::Idle;
  std::string currentProfileName_ = kDefaultProfileName;
  const ChartPoints* charts_ = nullptr;
  QTimer* feed_ = nullptr;
  QTimer* linkWatch_ = nullptr;
  monitor::MonitorSender monitorSender_;
  ProReadout lastPro_;
  CustomReadout lastCustom_;
  long sentDatagrams_ = 0;
  PedalTraceFeed traceFeed_;

  // Link thread.
  bool driverAction_ = false;
  bool refreshing_ = false;
  bool pagesBuiltOnLink_ = false;
  std::vector<Bytes> driverFrames_;
  std::array<Curve, kPedalCount> jobCharts_{};
  std::function<void(const std::string&)> profileLabelTap_;

  // Last: its thread runs the actions above, and is gone before they are.
  LinkWorker worker_;
};

}  // namespace tkb::ui
