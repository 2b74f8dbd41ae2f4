// Application: the configuration program's window. It owns the session with the pedal set
// (ControllerModel) and shows it: the start-up screens (searching, "not detected", the
// firmware update's stages), the link notice with RETRY, the driver's notices, the main page
// and the PRO and CUSTOM pages in their containers, the languages, the tray, the diagnosis
// and games dialogs, the two monitor process slots and the shut-down. What a page needs of
// another page or of the window reaches it through signals connected here.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>

#include "app/app_config.h"
#include "app/process_slot.h"
#include "app/profiles.h"
#include "link/firmware_update.h"
#include "link/probe.h"
#include "ui/controller_model.h"
#include "ui/diagnosis_dialog.h"
#include "ui/games_dialog.h"
#include "ui/localisation.h"
#include "ui/services.h"
#include "ui/trace_panel.h"
#include "ui/window_geometry.h"

class QFrame;
class QLabel;
class QPushButton;

namespace tkb::ui {

class MainPage;
class SearchHelp;
class VrPanel;
class Tray;
class GameProfiles;
struct Pages;

inline constexpr const char* kWindowTitle = "TKB-Tunedeck V3.3.3";
inline constexpr const char* kMonitorDirectory = "./opt/";

class Application : public QObject {
  Q_OBJECT

 public:
  using Phase = ControllerModel::Phase;
  using LinkNotice = ControllerModel::LinkNotice;

  Application(Services services, ProbeOptions probeOptions = {});
  ~Application() override;

  ControllerModel& model() { return *model_; }
  const ControllerState& state() const { return model_->state(); }
  QWidget* window() const { return window_.get(); }
  LabelBoard& labels() { return labels_; }
  MainPage& mainPage() { return *page_; }
  VrPanel* vrPanel() const;
  // The PRO and CUSTOM pages (their widgets exist once the pages are built).
  Pages& pages() { return *pages_; }
  Tray& tray() { return *tray_; }
  QWidget* proPage() const { return proPage_; }
  QWidget* customPage() const { return customPage_; }
  tkb::PedalInput* pedals() const { return model_->pedals(); }
  // The firmware update as the program makes it (see ControllerModel::useFirmwareUpdate).
  void useFirmwareUpdate(FirmwareUpdateOptions options = {}) { model_->useFirmwareUpdate(std::move(options)); }
  bool firmwareUpdating() const { return model_->firmwareUpdating(); }
  // SIGINT and SIGTERM: ends the program as closing the window does.
  void requestQuit();
  QLabel* firmwareNotice() const { return firmwareNotice_; }
  QLabel* statusText() const { return searching_; }
  // The start screen's help while the search finds nothing.
  SearchHelp* searchHelp() const { return searchHelp_; }
  UsageLog* usageLog() const { return model_->usageLog(); }
  const AppConfig* config() const { return config_.get(); }
  const std::string& basePath() const { return model_->basePath(); }
  Phase phase() const { return model_->phase(); }
  LinkNotice linkNotice() const { return model_->linkNotice(); }
  QLabel* linkNoticeText() const { return linkNoticeText_; }
  QPushButton* retryButton() const { return retryButton_; }
  bool keyListenerInstalled() const { return keyListenerInstalled_; }
  // After 150 ms of an action on the link thread the window says it is busy.
  QLabel* busyMark() const { return busyMark_; }

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

  // One key event on the main thread: the keyboard hook procedure runs as an action.
  void keyboardHookProc(const KeyEvent& event) { model_->keyEvent(event); }

  // Language selection by list index (0..5), as a click on LanguageList does.
  void selectLanguage(int index) { model_->selectLanguage(index); }
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

  // The per-game profiles (once the pages are built) and their dialog, opened by the main
  // page's GAMES button; an open dialog is raised, not doubled.
  GameProfiles* games() const { return games_.get(); }
  void openGamesDialog();
  GamesDialog* gamesDialog() const { return gamesDialog_; }
  // The trace panel, opened by the main page's TRACE button: made on first use, raised after.
  void openTracePanel();
  TracePanel* tracePanel() const { return tracePanel_; }

 signals:
  void phaseChanged(int phase);
  // A stage of the firmware update, as the window shows it.
  void firmwareStageShown(const QString& text);

 private:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void connectModel();
  void searchEnded(bool found, const QString& permissionProblem);
  void showFirmwareStage(const FirmwareProgress& progress, int language);
  void firmwareFinished(const FirmwareReport& report, int language);
  void showPendingFirmwareBox();
  // The update cannot be cut short: the driver is told, and the program ends after it.
  void quitAfterFirmwareUpdate();
  void buildPageContainers();
  void buildPages();
  void phaseShown(int phase);
  void showLinkNotice();
  void setSendingControlsEnabled(bool enabled);
  void showBusy(bool busy);

  Services services_;
  // Before everything that shows it; after services_ (it takes the pedal input from them).
  std::unique_ptr<ControllerModel> model_;
  LabelBoard labels_;
  std::unique_ptr<QWidget> window_;
  QLabel* searching_ = nullptr;
  SearchHelp* searchHelp_ = nullptr;
  std::unique_ptr<MainPage> page_;
  QWidget* proPage_ = nullptr;
  QWidget* customPage_ = nullptr;
  std::unique_ptr<AppConfig> config_;
  bool keyListenerInstalled_ = false;
  bool pagesBuilt_ = false;
  bool quitAfterUpdate_ = false;
  QLabel* firmwareNotice_ = nullptr;
  QString firmwareBoxText_;  // told to the driver once the window is built
  bool firmwareBoxIsError_ = false;
  QPointer<DiagnosisDialog> diagnosis_;
  QFrame* linkBanner_ = nullptr;
  QLabel* linkNoticeText_ = nullptr;
  QPushButton* retryButton_ = nullptr;
  QLabel* driverNotice_ = nullptr;
  QTimer* driverNoticeTimer_ = nullptr;
  QLabel* busyMark_ = nullptr;
  QTimer* busyTimer_ = nullptr;
  QPointer<GamesDialog> gamesDialog_;
  QPointer<TracePanel> tracePanel_;
  // Last: built on everything above, gone before it.
  std::unique_ptr<Pages> pages_;
  std::unique_ptr<GameProfiles> games_;
  std::unique_ptr<Tray> tray_;
};

// The photo for a model, colour and pedal kind: with clutch m + 5 (grey) or m + 15
// (black), without clutch m - 1 or m + 9. None when the result is outside 0..19 or the
// model outside 1..6.
std::optional<int> photoIndex(int model, int colour, bool hasClutch);

}  // namespace tkb::ui
