// Application: the configuration program's window and everything it owns — the
// ControllerModel (link, ControllerState, operations), the usage logs, config.ini, the
// pedal input, the key listener and the two monitor process slots — with the start-up
// sequence (startApplication), the language, the firmware update, the reconnection, the
// three 10 ms tasks and the shut-down sequence; the main page (MainPage) and the PRO and
// CUSTOM pages are its members. Everything runs on the main thread
// except the probe and the reads of the controller's settings, which run on a worker
// thread while the window says what it is doing, and the search for a pedal set that was
// unplugged (app/reconnect).
//
// The PRO and CUSTOM pages (pages()) are built into the containers proPage() and
// customPage() (820 x 560 at (460, 20)); they register their localised labels with
// labels() and learn what changed from the ControllerModel (model()).
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/app_config.h"
#include "app/key_hook.h"
#include "app/operations.h"
#include "app/process_slot.h"
#include "app/profiles.h"
#include "app/reconnect.h"
#include "app/usage_log.h"
#include "link/controller.h"
#include "link/firmware_update.h"
#include "link/probe.h"
#include "ui/controller_model.h"
#include "ui/diagnosis_dialog.h"
#include "ui/game_profiles.h"
#include "ui/games_dialog.h"
#include "ui/localisation.h"
#include "ui/main_page.h"
#include "ui/services.h"
#include "ui/tray.h"
#include "ui/vr_panel.h"

namespace tkb::ui {

inline constexpr int kWindowWidth = 1300;
inline constexpr int kWindowHeight = 640;
inline constexpr int kTaskPeriodMs = 10;
inline constexpr int kPageX = 460, kPageY = 20, kPageWidth = 820, kPageHeight = 560;
inline constexpr const char* kWindowTitle = "TKB-Tunedeck V3.3.3";
inline constexpr const char* kMonitorDirectory = "./opt/";

struct Pages;
class SearchHelp;

class Application : public QObject {
  Q_OBJECT

 public:
  // ReadFailed: the controller was found but did not answer all of the start-up reads;
  // the window says so and offers RETRY instead of pages of made-up values.
  enum class Phase { Idle, Probing, NotDetected, Running, Stopped, ReadFailed };
  // What the link notice under the pages says (none while the link is fine).
  enum class LinkNotice { None, Reading, NotAnswering, Disconnected };

  // One action of the driver (a click, a key, a paused wizard step): its queries together
  // wait at most one time-out. Nested actions (a handler running another handler) belong
  // to the outermost one.
  class Action {
   public:
    explicit Action(Application& app) : app_(app) {
      if (app_.actionDepth_++ == 0) app_.controller.beginAction();
    }
    ~Action() { --app_.actionDepth_; }
    Action(const Action&) = delete;
    Action& operator=(const Action&) = delete;

   private:
    Application& app_;
  };

  Application(Services services, ProbeOptions probeOptions = {});
  ~Application() override;

 private:
  // First of all members: the two references below point into it.
  std::unique_ptr<ControllerModel> model_;

 public:
  // The controller and the device procedures the pages run, with what changed.
  ControllerModel& model() { return *model_; }
  Controller& controller;
  Operations& operations;

  QWidget* window() const { return window_.get(); }
  LabelBoard& labels() { return labels_; }
  MainPage& mainPage() { return *page_; }
  VrPanel* vrPanel() const { return page_->vrPanel(); }
  // The PRO and CUSTOM pages (their widgets exist once the pages are built).
  Pages& pages() { return *pages_; }
  // The tray icon and its menu (shown only when switched on and a tray host is there).
  Tray& tray() { return *tray_; }
  QWidget* proPage() const { return proPage_; }
  QWidget* customPage() const { return customPage_; }
  tkb::PedalInput* pedals() const { return services_.pedals.get(); }
  // The hook the probe runs for firmware older than 7.06; its waits end with the probe's.
  void setFirmwareUpdater(FirmwareUpdater updater) { probeOptions_.firmwareUpdate = std::move(updater); }
  // The firmware update as the program makes it: its stages shown on the window, the
  // settings kept in tkb/, avrdude's output in opt/avrdude.log beside the usage log, and
  // what went wrong told to the driver. The other options are taken as given.
  void useFirmwareUpdate(FirmwareUpdateOptions options = {});
  // From the touch until the update has ended: closing the window, EXIT and the stop
  // signals only say so, and the program ends once the update has ended.
  bool firmwareUpdating() const { return firmwareBusy_.load(); }
  // SIGINT and SIGTERM: ends the program as closing the window does.
  void requestQuit();
  QLabel* firmwareNotice() const { return firmwareNotice_; }
  QLabel* statusText() const { return searching_; }
  // The start screen's help while the search finds nothing.
  SearchHelp* searchHelp() const { return searchHelp_; }
  const std::atomic<bool>* probeStopFlag() const { return &stopProbe_; }
  UsageLog* usageLog() const { return usageLog_.get(); }
  const AppConfig* config() const { return config_.get(); }
  const std::string& basePath() const { return basePath_; }
  Phase phase() const { return phase_; }
  LinkNotice linkNotice() const { return linkNotice_; }
  QLabel* linkNoticeText() const { return linkNoticeText_; }
  QPushButton* retryButton() const { return retryButton_; }
  // False while the settings are being read on the worker thread or the pedal set is
  // unplugged: nothing may then be sent from the main thread.
  bool controllerFree() const { return !readsRunning_ && controller.linkState() != LinkState::Disconnected; }
  // RETRY: reads the controller's settings again (on the worker thread).
  void retryReads();
  // The setting frames the driver's actions sent, the last of each code in the order sent:
  // what goes to the pedals again when they come back after an unplug.
  const std::vector<Bytes>& driverFrames() const { return driverFrames_; }
  bool reconnecting() const { return reconnector_.running(); }
  bool keyListenerInstalled() const { return keyListenerInstalled_; }

  ProcessSlot MonitorProcess;
  ProcessSlot VrMonitorProcess;

  // The start-up sequence; again from NotDetectedBox's CONTINUE.
  void startApplication();
  // NotDetectedBox's DIAGNOSE: the device doctor's report (and the permission fix).
  void showDiagnosis();
  DiagnosisDialog* diagnosis() const { return diagnosis_; }
  // What the device doctor looks at from the running program: the port it holds itself is
  // not a problem.
  DoctorSetup doctorSetup() const;
  // EXIT: monitors stopped, key listener removed, link and logs closed, then quit.
  void shutDown();

  // One key event on the main thread: the keyboard hook procedure.
  void keyboardHookProc(const KeyEvent& event);
  // What the keyboard hook runs: the pages' key actions, unless others are put in their
  // place (a test records them). Before startApplication().
  void setKeyActions(KeyActions& actions);

  // Language selection by list index (0..5), as a click on LanguageList does.
  void selectLanguage(int index);
  // The current language index, none while no valid language is known.
  std::optional<int> languageIndex() const;
  // The controller's language, or the desktop's before the controller has told it.
  int driverLanguage() const;
  // Sets the wizard labels of the PRO page for a step in the current language.
  void TextoPasoCalibracion(int step, QLabel* textLabel, QLabel* noteLabel);

  // Starting and stopping the monitor in a slot (window or VR mode).
  bool startMonitor(ProcessSlot& slot, bool vrMode);
  void restartVrMonitor();

  // A profile file that was refused whole: the driver is told why (which key and value),
  // in the current language.
  void showProfileRefusal(const ProfileRefusal& refusal);

  // Something the driver must hear of while maybe busy elsewhere (a game running): a trace
  // line and a notice on the window for a few seconds. The one road for such messages.
  void tellDriver(const QString& text);
  QLabel* driverNotice() const { return driverNotice_; }
  // A profile was put back into the state (a game ended): every page shows it again, as
  // after a load.
  void showProfileInForce();

  // The per-game profiles (once the pages are built) and their dialog, opened by the main
  // page's GAMES button; an open dialog is raised, not doubled.
  GameProfiles* games() const { return games_.get(); }
  void openGamesDialog();
  GamesDialog* gamesDialog() const { return gamesDialog_; }

 signals:
  void phaseChanged(int phase);
  // A stage of the firmware update, as the window shows it.
  void firmwareStageShown(const QString& text);

 private:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void probeFinished(int result);
  void showFirmwareStage(const FirmwareProgress& progress, int language);
  void firmwareFinished(const FirmwareReport& report, int language);
  void showPendingFirmwareBox();
  // The update cannot be cut short: the driver is told, and the program ends after it.
  void quitAfterFirmwareUpdate();
  void buildPageContainers();
  void loadSettings();
  void startTasks();
  void pauseTasks(bool paused);
  // The start-up reads on the worker thread, then (on the main thread) the pages built
  // or, when they already exist, shown again from what was read.
  void runControllerReads(bool resendDriverFrames = false);
  void controllerReadsFinished(bool allAnswered);
  void buildPages();
  void refreshPages();
  void linkStateChanged(LinkState state);
  void recordFrame(const Bytes& frame);
  // The link went: the notice, the sending controls off, and the search started.
  void pedalsUnplugged();
  void pedalsBack(int probeResult);
  void showLinkNotice(LinkNotice notice);
  void setSendingControlsEnabled(bool enabled);
  void setPhase(Phase phase);

  Services services_;
  ProbeOptions probeOptions_;
  LabelBoard labels_;
  std::unique_ptr<QWidget> window_;
  QLabel* searching_ = nullptr;
  SearchHelp* searchHelp_ = nullptr;
  std::unique_ptr<MainPage> page_;
  QWidget* proPage_ = nullptr;
  QWidget* customPage_ = nullptr;
  std::unique_ptr<UsageLog> usageLog_;
  std::unique_ptr<AppConfig> config_;
  std::string basePath_;
  std::string profileDirectory_;  // the second copy of the working directory
  Phase phase_ = Phase::Idle;
  bool keyListenerInstalled_ = false;
  bool pagesBuilt_ = false;
  std::thread probeThread_;
  std::atomic<bool> stopProbe_{false};
  std::vector<QTimer*> tasks_;
  std::unique_ptr<KeyActions> keyActions_;
  std::unique_ptr<KeyHook> keyHook_;
  std::atomic<bool> firmwareBusy_{false};
  bool quitAfterUpdate_ = false;
  QLabel* firmwareNotice_ = nullptr;
  QString firmwareBoxText_;  // told to the driver once the window is built
  bool firmwareBoxIsError_ = false;
  QPointer<DiagnosisDialog> diagnosis_;
  QFrame* linkBanner_ = nullptr;
  QLabel* linkNoticeText_ = nullptr;
  QPushButton* retryButton_ = nullptr;
  LinkNotice linkNotice_ = LinkNotice::None;
  std::atomic<bool> readsRunning_{false};
  bool refreshing_ = false;
  const std::thread::id mainThread_ = std::this_thread::get_id();
  std::vector<Bytes> driverFrames_;
  QTimer* linkWatch_ = nullptr;
  Reconnector reconnector_;
  int actionDepth_ = 0;
  QLabel* driverNotice_ = nullptr;
  QTimer* driverNoticeTimer_ = nullptr;
  QPointer<GamesDialog> gamesDialog_;
  // Last: built on everything above, gone before it.
  std::unique_ptr<Pages> pages_;
  std::unique_ptr<GameProfiles> games_;  // uses the pages' profiles
  std::unique_ptr<Tray> tray_;
};

// The photo for a model, colour and pedal kind: with clutch m + 5 (grey) or m + 15
// (black), without clutch m - 1 or m + 9. None when the result is outside 0..19 or the
// model outside 1..6.
std::optional<int> photoIndex(int model, int colour, bool hasClutch);

}  // namespace tkb::ui
