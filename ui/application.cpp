#include "ui/application.h"

#include "ui/pages.h"

#include <unistd.h>

#include <sys/stat.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QIcon>
#include <QMetaObject>
#include <climits>
#include <cstdio>

#include "app/firmware_settings.h"
#include "app/file_replace.h"
#include "app/startup_reads.h"
#include "link/settings.h"
#include "link/trace.h"
#include "ui/help_texts.h"
#include "ui/search_help.h"

namespace tkb::ui {

namespace {
constexpr const char* kMonitorSection = "MONITOR";
constexpr int kLinkBannerWidth = 820, kLinkBannerHeight = 56;
constexpr int kLinkBannerY = 582;  // over the footer stripe, clear of the pages
// The driver's notices take the same place (above the link notice while that shows) for a while.
constexpr int kDriverNoticeWidth = 820, kDriverNoticeMs = 10'000;
// How often an idle link is looked at: an unplug shows within half a second.
constexpr int kLinkWatchMs = 200;

// The whole working directory: a path cut to a fixed length would name another folder
// and the logs and settings would go astray.
std::string workingDirectory() {
  char buffer[PATH_MAX];
  if (getcwd(buffer, sizeof buffer) == nullptr) return ".";
  return buffer;
}
}  // namespace

namespace {

// The keyboard hook's reactions: the pages' own actions.
class PageKeyActions : public KeyActions {
 public:
  explicit PageKeyActions(Application& app) : app_(app) {}
  bool pagesBuilt() const override {
    return app_.phase() == Application::Phase::Running && app_.controllerFree();
  }
  bool customPageOpen() const override {
    return app_.customPage() != nullptr && app_.customPage()->isVisible();
  }
  void autocal() override { app_.pages().pro->autocal(); }
  void proBrakeUpperStep(int delta) override { app_.pages().pro->brakeUpperStep(delta); }
  void customBrakeUpperStep(int delta) override { app_.pages().sport->brakeUpperStep(delta); }
  void customBrakeStopStep(int delta) override { app_.pages().sport->brakeStopStep(delta); }
  void setAutoBrakeLed(bool customPage, int brightness) override {
    if (customPage) {
      app_.pages().sport->setLed(brightness);
    } else {
      app_.pages().pro->setLed(brightness);
    }
  }

 private:
  Application& app_;
};

}  // namespace

Application::Application(Services services, ProbeOptions probeOptions)
    : model_(std::make_unique<ControllerModel>()),
      controller(model_->controller),
      operations(model_->operations),
      services_(std::move(services)),
      probeOptions_(std::move(probeOptions)) {
  keyActions_ = std::make_unique<PageKeyActions>(*this);
  keyHook_ = std::make_unique<KeyHook>(controller, *keyActions_);
  probeOptions_.stop = &stopProbe_;
  window_ = std::make_unique<QWidget>();
  window_->setWindowTitle(kWindowTitle);
  window_->setWindowIcon(QIcon(":/pictures/icon.svg"));
  window_->setFixedSize(kWindowWidth, kWindowHeight);
  window_->setAutoFillBackground(true);
  QPalette palette = window_->palette();
  palette.setColor(QPalette::Window, QColor(0x44, 0x44, 0x44));  // grey until pages exist
  window_->setPalette(palette);
  searching_ = makeLabel(window_.get(), "Searching for the pedal set...", 24);
  searching_->setStyleSheet("color:#e0e0e0;");
  placeAligned(searching_, Align::Center, 0, 0);
  searching_->hide();
  // What the search sees, after a while without pedals, and what the driver may do.
  searchHelp_ = new SearchHelp(window_.get(), searching_);
  probeOptions_.passSeen = searchHelp_->passListener();
  connect(searchHelp_, &SearchHelp::diagnoseClicked, this, &Application::showDiagnosis);
  connect(searchHelp_, &SearchHelp::allowAccessClicked, this, [this] {
    showDiagnosis();
    diagnosis_->allowAccess();
  });
  connect(searchHelp_, &SearchHelp::demoClicked, this, [this] {
    if (services_.restartInDemo) services_.restartInDemo();
  });
  connect(this, &Application::firmwareStageShown, searchHelp_, &SearchHelp::searchEnded);
  firmwareNotice_ = makeLabel(window_.get(), "", 22);
  firmwareNotice_->setObjectName("FirmwareNotice");
  firmwareNotice_->setStyleSheet("color:#ffffff;background:#c0392b;font-weight:bold;padding:6px 14px;");
  firmwareNotice_->hide();

  // The link notice: a band that leaves the window usable (nothing modal), with RETRY
  // while the pedal set does not answer.
  linkBanner_ = new QFrame(window_.get());
  linkBanner_->setObjectName("LinkNotice");
  linkBanner_->resize(kLinkBannerWidth, kLinkBannerHeight);
  linkNoticeText_ = makeLabel(linkBanner_, "", 17);
  linkNoticeText_->setObjectName("LinkNoticeText");
  linkNoticeText_->setWordWrap(true);
  linkNoticeText_->setGeometry(14, 4, kLinkBannerWidth - 190, kLinkBannerHeight - 8);
  linkNoticeText_->setStyleSheet("color:#ffffff;font-weight:bold;");
  retryButton_ = new QPushButton("RETRY", linkBanner_);
  retryButton_->setObjectName("RetryButton");
  retryButton_->setFocusPolicy(Qt::NoFocus);
  retryButton_->setGeometry(kLinkBannerWidth - 165, 8, 150, kLinkBannerHeight - 16);
  setButtonLook(retryButton_, ButtonLook::Normal);
  connect(retryButton_, &QPushButton::clicked, this, [this] {
    trace("Button: RETRY\n");
    retryReads();
  });
  linkBanner_->hide();
  driverNotice_ = makeLabel(window_.get(), "", 16);
  driverNotice_->setObjectName("DriverNotice");
  driverNotice_->setWordWrap(true);
  driverNotice_->setAlignment(Qt::AlignCenter);
  driverNotice_->setStyleSheet("color:#ffffff;background:#2c3e50;border-radius:8px;padding:4px 12px;");
  driverNotice_->hide();
  driverNoticeTimer_ = new QTimer(this);
  driverNoticeTimer_->setSingleShot(true);
  driverNoticeTimer_->setInterval(kDriverNoticeMs);
  connect(driverNoticeTimer_, &QTimer::timeout, driverNotice_, &QWidget::hide);
  connect(model_.get(), &ControllerModel::linkStateChanged, this, &Application::linkStateChanged);
  controller.setFrameListener([this](const Bytes& frame) { recordFrame(frame); });
  // Between actions nothing is read or written: the port itself is looked at.
  linkWatch_ = new QTimer(this);
  linkWatch_->setInterval(kLinkWatchMs);
  connect(linkWatch_, &QTimer::timeout, this, [this] {
    const bool watched = phase_ == Phase::Running || phase_ == Phase::ReadFailed;
    if (watched && controllerFree() && !firmwareUpdating()) controller.checkLink();
  });
  linkWatch_->start();
  window_->installEventFilter(this);
  page_ = std::make_unique<MainPage>(*this, *model_, services_);
  pages_ = std::make_unique<Pages>(*this);
  tray_ = std::make_unique<Tray>(*this, services_);
}

void Application::setKeyActions(KeyActions& actions) { keyHook_ = std::make_unique<KeyHook>(controller, actions); }

Application::~Application() {
  // Closing the window ends the program without stopping the monitors (their slots
  // keep them running); the probe is told to give up.
  stopProbe_ = true;
  reconnector_.stop();
  if (probeThread_.joinable()) probeThread_.join();
  for (QTimer* t : tasks_) t->stop();
  // The listener's thread hands events to this object: it must not outlive it.
  if (keyListenerInstalled_ && services_.keys) services_.keys->remove();
}

void Application::setPhase(Phase phase) {
  phase_ = phase;
  emit phaseChanged(static_cast<int>(phase));
}

std::optional<int> Application::languageIndex() const {
  return ui::languageIndex(controller.state.language);
}

int Application::driverLanguage() const { return languageIndex().value_or(desktopLanguage()); }

void Application::startApplication() {
  if (phase_ == Phase::Probing || phase_ == Phase::Running || phase_ == Phase::Stopped) return;
  tray_->start(workingDirectory() + "/opt/config.ini");
  // The key listener is installed once per process; a failed installation is tried again
  // by the next start.
  if (!keyListenerInstalled_) {
    if (!services_.keys) {
      trace("\nKey listener not available: key-letter actions are off\n");
    } else if (services_.keys->install([this](const KeyEvent& event) {
                 // From the listener's thread to the main thread, in order.
                 QMetaObject::invokeMethod(this, [this, event] { keyboardHookProc(event); },
                                           Qt::QueuedConnection);
               })) {
      keyListenerInstalled_ = true;
    } else if (services_.errorBox) {
      services_.errorBox("Failed to install hook!", "Error");
    }
  }
  // The probe may scan for ever: it runs on a worker thread and the window stays
  // responsive, saying what it is doing.
  probeOptions_.probeAllPorts =
      probeAllPortsSetting(AppConfig(workingDirectory() + "/opt/config.ini"));
  searching_->show();
  searching_->raise();
  searchHelp_->searchStarted(driverLanguage());
  setPhase(Phase::Probing);
  if (probeThread_.joinable()) probeThread_.join();
  probeThread_ = std::thread([this] {
    const int result = probeController(controller, probeOptions_);
    ControllerState& state = controller.state;
    applyProbeResult(state, result);
    // A missing joystick interface clears connected: only NotDetectedBox is shown, in the
    // controller's language, which is asked for while the port is still this thread's.
    if (services_.pedals == nullptr) {
      state.connected = false;
    } else {
      services_.pedals->findJoystick(state);
    }
    if (!state.connected && result >= 1 && result <= 3) controller.query(Query::Language);
    QMetaObject::invokeMethod(this, [this, result] { probeFinished(result); },
                              Qt::QueuedConnection);
  });
}

void Application::keyboardHookProc(const KeyEvent& event) {
  const Action action(*this);
  keyHook_->keyboardHookProc(event);
}

void Application::useFirmwareUpdate(FirmwareUpdateOptions options) {
  const std::string base = workingDirectory();
  if (options.logPath.empty()) {
    ::mkdir((base + "/opt").c_str(), 0755);
    options.logPath = base + "/opt/" + kFlashLogName;
  }
  if (!options.settings) options.settings = std::make_shared<ProfileSettingsKeeper>(base + "/tkb");
  options.stop = &stopProbe_;
  options.busy = &firmwareBusy_;
  // Both run on the probe's thread, which owns the controller meanwhile: the language read
  // before the touch is taken there and handed over with the news.
  options.progress = [this](const FirmwareProgress& progress) {
    const int language = ui::languageIndex(controller.state.language).value_or(0);
    QMetaObject::invokeMethod(this, [this, progress, language] { showFirmwareStage(progress, language); },
                              Qt::QueuedConnection);
  };
  options.finished = [this](const FirmwareReport& report) {
    const int language = ui::languageIndex(controller.state.language).value_or(0);
    QMetaObject::invokeMethod(this, [this, report, language] { firmwareFinished(report, language); },
                              Qt::QueuedConnection);
  };
  setFirmwareUpdater(makeFirmwareUpdater(std::move(options)));
}

void Application::showFirmwareStage(const FirmwareProgress& progress, int language) {
  static constexpr FirmwareText kStageTexts[] = {
      FirmwareText::Restarting, FirmwareText::WaitingForBootloader, FirmwareText::Writing,
      FirmwareText::Verifying, FirmwareText::WaitingForPedals};
  QString text = QString::fromUtf8(firmwareText(kStageTexts[static_cast<int>(progress.stage)], language));
  if (progress.percent >= 0) text = text.arg(progress.percent);
  searching_->setText(text);
  searching_->adjustSize();
  placeAligned(searching_, Align::Center, 0, 0);
  searching_->show();
  searching_->raise();
  emit firmwareStageShown(text);
  firmwareNotice_->setText(QString::fromUtf8(firmwareText(FirmwareText::DoNotUnplug, language)));
  firmwareNotice_->adjustSize();
  placeAligned(firmwareNotice_, Align::Center, 0, -60);
  firmwareNotice_->show();
  firmwareNotice_->raise();
}

void Application::firmwareFinished(const FirmwareReport& report, int language) {
  firmwareNotice_->hide();
  searching_->setText(QString::fromUtf8(helpText(HelpText::Searching, language)));
  searching_->adjustSize();
  placeAligned(searching_, Align::Center, 0, 0);
  firmwareBoxIsError_ = false;
  auto say = [&](FirmwareText text, const std::string& detail, bool error) {
    firmwareBoxText_ = QString::fromUtf8(firmwareText(text, language)).arg(QString::fromStdString(detail));
    firmwareBoxIsError_ = error;
  };
  switch (report.outcome) {
    case FirmwareOutcome::Updated:
    case FirmwareOutcome::NoImage:
    case FirmwareOutcome::AlreadyTried: break;
    case FirmwareOutcome::SettingsUnread: say(FirmwareText::SettingsUnread, "", true); break;
    case FirmwareOutcome::BootloaderNotFound: say(FirmwareText::BootloaderNotFound, "", true); break;
    case FirmwareOutcome::ToolNotStarted: say(FirmwareText::ToolNotStarted, "", true); break;
    case FirmwareOutcome::ToolFailed: say(FirmwareText::ToolFailed, report.logPath, true); break;
    case FirmwareOutcome::NotBack: say(FirmwareText::NotBack, report.logPath, true); break;
    case FirmwareOutcome::StillOld: say(FirmwareText::StillOld, report.logPath, true); break;
  }
  if (!report.restoredSettings.empty()) {
    std::string names;
    for (const std::string& name : report.restoredSettings) names += (names.empty() ? "" : ", ") + name;
    const QString restored =
        QString::fromUtf8(firmwareText(FirmwareText::SettingsRestored, language)).arg(QString::fromStdString(names));
    firmwareBoxText_ = firmwareBoxText_.isEmpty() ? restored : firmwareBoxText_ + "\n\n" + restored;
  }
  if (quitAfterUpdate_) {
    stopProbe_ = true;
    if (services_.quit) services_.quit();
  }
}

void Application::showProfileRefusal(const ProfileRefusal& refusal) {
  const int language = languageIndex().value_or(0);
  // One pass over the text: a file name or value holding "%2" stays as it is.
  const std::string fields[4] = {refusal.path, "[" + refusal.section + "] " + refusal.key + "=" + refusal.value,
                                 std::to_string(refusal.min), std::to_string(refusal.max)};
  std::string filled;
  for (const char* c = profileRefusalText(static_cast<int>(refusal.reason), language); *c != '\0'; ++c) {
    if (c[0] == '%' && c[1] >= '1' && c[1] <= '4') {
      filled += fields[c[1] - '1'];
      ++c;
    } else {
      filled += *c;
    }
  }
  const QString text = QString::fromStdString(filled);
  trace("\n%s\n", refusal.message().c_str());
  if (services_.errorBox) services_.errorBox(text, "Profile");
}

void Application::tellDriver(const QString& text) {
  trace("\nAviso: %s\n", text.toUtf8().constData());
  driverNotice_->setText(text);
  const int height = std::max(driverNotice_->heightForWidth(kDriverNoticeWidth), kLinkBannerHeight);
  driverNotice_->resize(kDriverNoticeWidth, height);
  placeAligned(driverNotice_, Align::TopMid, 0, linkBanner_->isVisible() ? kLinkBannerY - height - 4 : kLinkBannerY);
  driverNotice_->show();
  driverNotice_->raise();
  driverNoticeTimer_->start();
  // The window may be hidden to the tray: the icon says it too.
  tray_->showMessage(text);
}

void Application::showProfileInForce() {
  emit model_->zonesChanged();
  emit model_->curvesChanged();
  emit model_->autoBrakeChanged(controller.state.autoBrake != 0);
  emit model_->modeChanged();
  emit model_->profileChanged();
  page_->applyModeLabel();
  page_->styleModeButtons();
  page_->refreshProfileLabel();
}

void Application::openGamesDialog() {
  if (!games_ || !config_) return;
  if (gamesDialog_) {
    gamesDialog_->show();
    gamesDialog_->raise();
    return;
  }
  gamesDialog_ = new GamesDialog(window_.get(), *config_, games_->runningNames(),
                                 QString::fromStdString(basePath_ + "/tkb"), languageIndex().value_or(0));
  gamesDialog_->setAttribute(Qt::WA_DeleteOnClose);
  connect(gamesDialog_, &GamesDialog::tableChanged, this, [this] { games_->reloadTable(); });
  gamesDialog_->show();
}

void Application::showPendingFirmwareBox() {
  if (firmwareBoxText_.isEmpty()) return;
  const QString text = firmwareBoxText_;
  firmwareBoxText_.clear();
  trace("\nFirmware: %s\n", text.toUtf8().constData());
  const auto& box = firmwareBoxIsError_ ? services_.errorBox : services_.infoBox;
  if (box) box(text, "Firmware");
}

void Application::quitAfterFirmwareUpdate() {
  quitAfterUpdate_ = true;
  const int language = ui::languageIndex(controller.state.language).value_or(0);
  const char* text = firmwareText(FirmwareText::DoNotUnplug, language);
  std::fprintf(stderr, "\n%s\n", text);
  trace("\n%s\n", text);
  firmwareNotice_->setText(QString::fromUtf8(text));
  firmwareNotice_->adjustSize();
  placeAligned(firmwareNotice_, Align::Center, 0, -60);
  firmwareNotice_->show();
  firmwareNotice_->raise();
}

void Application::requestQuit() {
  if (firmwareUpdating()) {
    quitAfterFirmwareUpdate();
    return;
  }
  if (services_.quit) services_.quit();
}

bool Application::eventFilter(QObject* watched, QEvent* event) {
  if (watched != window_.get() || event->type() != QEvent::Close) return QObject::eventFilter(watched, event);
  if (firmwareUpdating()) {
    event->ignore();
    quitAfterFirmwareUpdate();
    return true;
  }
  // With the tray icon shown the window only hides; the program runs on.
  if (tray_->hideOnClose()) {
    event->ignore();
    return true;
  }
  return QObject::eventFilter(watched, event);
}

void Application::probeFinished(int result) {
  if (probeThread_.joinable()) probeThread_.join();
  searching_->hide();
  searchHelp_->searchEnded();
  if (phase_ == Phase::Stopped) return;
  ControllerState& state = controller.state;

  basePath_ = workingDirectory();
  trace("\nPath guardado -> %s", basePath_.c_str());
  if (!config_) config_ = std::make_unique<AppConfig>(basePath_ + "/opt/config.ini");
  // What writes killed half-way (a crash, a power cut) left in the folders we write.
  removeUnfinishedWrites(basePath_ + "/opt");
  removeUnfinishedWrites(basePath_ + "/tkb");

  page_->buildBackgroundAndBox();
  if (!state.connected) {
    // Which part answers and which is missing; refused pedals: how to allow them.
    PartsSeen parts;
    if (result >= 1 && result <= 3) parts.port = controller.portName() + " (" + portPath(controller.portName()) + ")";
    if (auto* hidraw = dynamic_cast<HidrawPedalInput*>(services_.pedals.get());
        hidraw != nullptr && !hidraw->permissionProblem().empty()) {
      const DoctorSetup setup = doctorSetup();
      parts.joystickNode = findPedalHidrawNode(setup.roots).value_or("");
      parts.accessFix = accessFixCommand(setup);
    }
    explainNotDetected(page_->notDetectedText, page_->diagnoseButton, parts, driverLanguage());
    page_->notDetectedBox->show();
    page_->notDetectedBox->raise();
    setPhase(Phase::NotDetected);
    showPendingFirmwareBox();
    return;
  }
  page_->notDetectedBox->hide();

  if (!usageLog_) usageLog_ = std::make_unique<UsageLog>(basePath_);
  runControllerReads();
}

void Application::runControllerReads(bool resendDriverFrames) {
  if (readsRunning_) return;
  readsRunning_ = true;
  showLinkNotice(LinkNotice::Reading);
  if (pagesBuilt_) {
    // The worker owns the controller until the reads are over: nothing is sent meanwhile
    // and the 10 ms tasks do not look at a state that is being filled.
    setSendingControlsEnabled(false);
    pauseTasks(true);
  }
  if (probeThread_.joinable()) probeThread_.join();
  std::vector<Bytes> frames;
  if (resendDriverFrames) frames = driverFrames_;
  probeThread_ = std::thread([this, frames = std::move(frames)] {
    // The pedals may have come back with other values (a power cycle restores what they
    // had stored): what the driver set goes to them again before anything is read.
    for (const Bytes& frame : frames) {
      trace("\nReenviamos %X (%d bytes)", frame[0], static_cast<int>(frame.size()));
      controller.send(frame);
    }
    const ReadReport report = readControllerAtStartup(controller, nullptr);
    // Every query answered: a reply whose value is out of its range leaves that one field
    // unknown (its widget blank), it does not stop the pages.
    const bool allAnswered = controller.linkState() == LinkState::Connected;
    if (!report.ok()) trace("\nLecturas fallidas: %s", report.describe().c_str());
    QMetaObject::invokeMethod(this, [this, allAnswered] { controllerReadsFinished(allAnswered); },
                              Qt::QueuedConnection);
  });
}

void Application::controllerReadsFinished(bool allAnswered) {
  if (probeThread_.joinable()) probeThread_.join();
  readsRunning_ = false;
  if (phase_ == Phase::Stopped) return;
  if (pagesBuilt_) {
    pauseTasks(false);
    setSendingControlsEnabled(controller.linkState() != LinkState::Disconnected);
  }
  if (!allAnswered) {
    trace("\nLectura del controlador incompleta: %s", linkStateName(controller.linkState()));
    if (controller.linkState() == LinkState::Disconnected) return pedalsUnplugged();
    showLinkNotice(controller.linkState() == LinkState::Disconnected ? LinkNotice::Disconnected
                                                                     : LinkNotice::NotAnswering);
    if (!pagesBuilt_) setPhase(Phase::ReadFailed);
    return;
  }
  showLinkNotice(LinkNotice::None);
  if (pagesBuilt_) {
    refreshPages();
    return;
  }
  buildPages();
}

void Application::buildPages() {
  ControllerState& state = controller.state;
  usageLog_->open(state);
  page_->buildPicturesAndLists();
  usageLog_->dataLines(state);
  page_->buildStatusLabels();
  page_->create_main_page();
  tray_->attachSwitch(page_->traySwitch);
  buildPageContainers();
  pages_->pro->Create_pro_page(proPage_);
  pages_->sport->Create_sport_page(customPage_);
  profileDirectory_ = workingDirectory();
  loadSettings();
  // Edits are pending from here on: the values read are the first baseline.
  pages_->profiles.profiles().baseline().take(state);
  startTasks();
  games_ = std::make_unique<GameProfiles>(*this);
  games_->start();
  pagesBuilt_ = true;
  setPhase(Phase::Running);
  linkBanner_->raise();
  showPendingFirmwareBox();
}

// After RETRY or a replug: every page shows what was read, as loadSettings shows it at
// start-up, without asking the controller again.
void Application::refreshPages() {
  const Action action(*this);
  // What the pages send again here was read, not set by the driver.
  refreshing_ = true;
  trace("\nrefreshPages - Inicio");
  emit model_->zonesChanged();
  if (const auto index = languageIndex()) labels_.apply(*index);
  pages_->pro->placeControls();
  emit model_->curvesChanged();
  emit model_->lettersChanged();
  page_->showReadSettings();
  page_->applyModeLabel();
  page_->refreshProfileLabel();
  refreshing_ = false;
  trace("\nrefreshPages - Final");
}

void Application::retryReads() {
  if (readsRunning_ || phase_ == Phase::Stopped) return;
  if (phase_ != Phase::Running && phase_ != Phase::ReadFailed) return;
  // An unplugged pedal set is looked for by the reconnection; RETRY has nothing to ask.
  if (controller.linkState() == LinkState::Disconnected) return;
  runControllerReads();
}

void Application::linkStateChanged(LinkState state) {
  if (readsRunning_ || phase_ == Phase::Stopped) return;  // the reads report when they end
  switch (state) {
    case LinkState::Connected:
      if (linkNotice_ == LinkNotice::NotAnswering) showLinkNotice(LinkNotice::None);
      break;
    case LinkState::NotAnswering:
      if (phase_ == Phase::Running) showLinkNotice(LinkNotice::NotAnswering);
      break;
    case LinkState::Disconnected:
      pedalsUnplugged();
      break;
  }
}

void Application::recordFrame(const Bytes& frame) {
  // Only the driver's own changes count: not what the start-up, the reads or a refresh
  // send back, and not the fixed commands (calibration steps, store), which are steps of a
  // procedure rather than settings.
  if (std::this_thread::get_id() != mainThread_) return;  // the reads, the firmware update
  if (readsRunning_ || refreshing_ || phase_ != Phase::Running) return;
  if (frame.empty() || frame[0] == 0xFF) return;
  std::erase_if(driverFrames_, [&](const Bytes& f) { return f[0] == frame[0]; });
  driverFrames_.push_back(frame);
}

void Application::pedalsUnplugged() {
  if (reconnector_.running() || phase_ == Phase::Stopped) return;
  trace("\nPedales desconectados - esperando a que vuelvan");
  showLinkNotice(LinkNotice::Disconnected);
  setSendingControlsEnabled(false);
  controller.closeLink();
  ProbeOptions options;
  options.probeAllPorts = probeOptions_.probeAllPorts;
  reconnector_.start(controller, options, [this](int result) {
    QMetaObject::invokeMethod(this, [this, result] { pedalsBack(result); }, Qt::QueuedConnection);
  });
}

void Application::pedalsBack(int probeResult) {
  reconnector_.stop();
  if (phase_ == Phase::Stopped) return;
  ControllerState& state = controller.state;
  if ((probeResult == 1) != state.hasClutch)
    trace("\nReconexion: otro modelo de pedales (%d); las paginas siguen como estaban", probeResult);
  state.probeResult = probeResult;
  controller.setLinkState(LinkState::Connected);
  runControllerReads(true);
}

void Application::showLinkNotice(LinkNotice notice) {
  linkNotice_ = notice;
  if (notice == LinkNotice::None) {
    linkBanner_->hide();
    return;
  }
  const int language = languageIndex().value_or(0);
  const LinkText text = notice == LinkNotice::Reading        ? LinkText::Reading
                        : notice == LinkNotice::NotAnswering ? LinkText::NotAnswering
                                                             : LinkText::Disconnected;
  linkNoticeText_->setText(QString::fromUtf8(linkText(text, language)));
  retryButton_->setText(QString::fromUtf8(linkText(LinkText::Retry, language)));
  retryButton_->setVisible(notice == LinkNotice::NotAnswering);
  linkBanner_->setStyleSheet(notice == LinkNotice::Reading
                                 ? "#LinkNotice{background:#3a4048;border-radius:8px;}"
                                 : "#LinkNotice{background:#b03a2e;border-radius:8px;}");
  if (pagesBuilt_) {
    placeAligned(linkBanner_, Align::TopMid, 0, kLinkBannerY);
  } else {
    placeAligned(linkBanner_, Align::Center, 0, 0);
  }
  linkBanner_->show();
  linkBanner_->raise();
  trace("\nAviso: %s", linkNoticeText_->text().toUtf8().constData());
}

// The widgets whose use sends something to the controller.
void Application::setSendingControlsEnabled(bool enabled) {
  for (QWidget* w : std::initializer_list<QWidget*>{
           proPage_, customPage_, page_->pro, page_->custom, page_->activatePro, page_->activateCustom,
           page_->modelList, page_->colourList, page_->language, page_->languageList})
    if (w) w->setEnabled(enabled);
}

void Application::pauseTasks(bool paused) {
  for (QTimer* t : tasks_) {
    if (paused) {
      t->stop();
    } else if (!t->isActive()) {
      t->start();
    }
  }
}

void Application::showDiagnosis() {
  trace("Button: DIAGNOSE\n");
  DoctorSetup setup = doctorSetup();
  if (diagnosis_) diagnosis_->close();
  auto* dialog = new DiagnosisDialog(std::move(setup), driverLanguage(), window_.get());
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  diagnosis_ = dialog;
  // The pedals can be opened again after the rule and a replug: start as CONTINUE does.
  connect(dialog, &DiagnosisDialog::accessRestored, this, [this, dialog] {
    dialog->close();
    if (phase_ == Phase::NotDetected) startApplication();
  });
  dialog->show();
}

DoctorSetup Application::doctorSetup() const {
  DoctorSetup setup = services_.doctorSetup ? services_.doctorSetup() : DoctorSetup{};
  // While the probe runs it owns the controller (and the port name); a port it holds for a
  // moment is not another program's.
  setup.searching = phase_ == Phase::Probing;
  if (!setup.searching) setup.ownPort = controller.portName();
  return setup;
}

void Application::buildPageContainers() {
  auto container = [this](const char* name) {
    auto* page = new QWidget(window_.get());
    page->setObjectName(name);
    page->setGeometry(kPageX, kPageY, kPageWidth, kPageHeight);
    page->setAttribute(Qt::WA_StyledBackground);
    page->setStyleSheet(QString("#%1{background:#2b2f36;border-radius:6px;}").arg(name));
    page->hide();
    return page;
  };
  proPage_ = container("ProPage");
  customPage_ = container("CustomPage");
}

void Application::loadSettings() {
  ControllerState& state = controller.state;
  const Action action(*this);
  trace("\nloadSettings - Inicio");
  resetJoystickCalibration();
  emit model_->zonesChanged();

  trace("\nchar -> %s", state.language.c_str());
  if (const auto index = languageIndex()) {
    selectLanguage(*index);
  } else {
    trace("Language not found\n");
    page_->closeMenus();
  }
  pages_->pro->placeControls();

  if (state.sportProfileLoaded) {
    struct CurveRead {
      Query query;
      const char* line;
      const Curve* curve;
    };
    const CurveRead reads[] = {
        {Query::ClutchCurve, "\nLeemos curvas Embrague -> ", &state.clutchCurve},
        {Query::BrakeCurve, "\nLeemos curvas Freno -> ", &state.brakeCurve},
        {Query::ThrottleCurve, "\nLeemos curvas Acelerador -> ", &state.throttleCurve},
    };
    for (const CurveRead& r : reads) {
      controller.query(r.query);
      trace("%s", r.line);
      for (int i = 0; i < kCurvePoints; ++i) trace("\n\tDato %d -> %d", i, (*r.curve)[i]);
    }
    emit model_->curvesChanged();
    emit model_->curvesStored();
    page_->activateCustom->show();
  } else {
    state.sportProfileLoaded = false;
    page_->activateCustom->hide();
  }
  // Without a calibration there is nothing to activate and no CUSTOM page to open.
  if (!state.calibrated) {
    page_->activatePro->hide();
    page_->activateCustom->hide();
    page_->custom->hide();
  }
  page_->styleModeButtons();
  if (usageLog_) usageLog_->modeLine(state);
  if (!state.sportProfileActive) state.proProfileActive = true;

  for (Query q : {Query::LetterMas, Query::LetterMas2, Query::LetterMenos, Query::LetterMenos2})
    controller.query(q);
  emit model_->lettersChanged();
  page_->applyModeLabel();
  page_->refreshProfileLabel();
  trace("\nloadSettings - Final");
}

void Application::startTasks() {
  // Three 10 ms tasks in this order: the joystick read and the two bar refreshes. Each
  // samples every period; widgets repaint only when what they show changes.
  const std::function<void()> jobs[] = {
      [this] {
        if (services_.pedals) services_.pedals->readPedalAxes();
      },
      [this] { pages_->pro->bars().RefrescoBarrasPro(); },
      [this] { pages_->sport->bars().RefrescoBarrasSport(); },
  };
  for (const auto& job : jobs) {
    auto* timer = new QTimer(this);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(kTaskPeriodMs);
    connect(timer, &QTimer::timeout, this, job);
    timer->start();
    tasks_.push_back(timer);
  }
}

void Application::selectLanguage(int index) {
  if (index >= 0 && index < kLanguageCount) {
    trace("\nLanguage selected is %s\n", kLanguageNames[index]);
    setLanguage(controller.state, kLanguageNames[index]);  // the driver's choice, or the one read
    controller.MandarDatosIdioma();
    labels_.apply(index);
  } else {
    trace("Language not found\n");
  }
  page_->closeMenus();
}

void Application::TextoPasoCalibracion(int step, QLabel* textLabel, QLabel* noteLabel) {
  const auto language = languageIndex();
  if (!language) {
    trace("Language not found\n");
    return;
  }
  static constexpr WizardText kSteps[] = {WizardText::Start, WizardText::Throttle,
                                          WizardText::Brake, WizardText::Clutch,
                                          WizardText::Calibrated};
  if (step >= 0 && step <= 4) {
    if (textLabel) setRecolouredText(textLabel, wizardText(kSteps[step], *language));
    return;
  }
  if (textLabel) setRecolouredText(textLabel, wizardText(WizardText::Saved, *language));
  if (noteLabel) setRecolouredText(noteLabel, wizardText(WizardText::Note, *language));
}

bool Application::startMonitor(ProcessSlot& slot, bool vrMode) {
  if (vrMode && !vrRuntimeOrTell(services_.errorBox, driverLanguage())) return false;
  if (config_) {
    config_->write(kMonitorSection, "enable_window", vrMode ? "0" : "1");
    config_->write(kMonitorSection, "enable_vr", vrMode ? "1" : "0");
  }
  return slot.start(services_.monitorProgram, kMonitorDirectory);
}

void Application::restartVrMonitor() {
  // The monitor starts again in the mode last written; the buttons stay as they are.
  if (!vrRuntimeOrTell(services_.errorBox, driverLanguage())) return;
  VrMonitorProcess.stop();
  VrMonitorProcess.start(services_.monitorProgram, kMonitorDirectory);
}

void Application::shutDown() {
  if (phase_ == Phase::Stopped) return;
  if (firmwareUpdating()) {
    quitAfterFirmwareUpdate();
    return;
  }
  // The same as the CLOSE MONITOR and CLOSE VR MONITOR buttons.
  if (!MonitorProcess.empty()) {
    MonitorProcess.stop();
    page_->showMonitorStopped(false);
  }
  if (!VrMonitorProcess.empty()) {
    page_->showMonitorStopped(true);
    VrMonitorProcess.stop();
  }
  if (keyListenerInstalled_ && services_.keys) services_.keys->remove();
  keyListenerInstalled_ = false;
  // A calibration left in the middle would leave the pedals with their zones off.
  if (pagesBuilt_ && controllerFree()) {
    const Action action(*this);
    pages_->pro->endCalibration();
  }
  stopProbe_ = true;
  reconnector_.stop();
  if (probeThread_.joinable()) probeThread_.join();
  controller.closeLink();
  if (usageLog_) usageLog_->close();
  for (QTimer* t : tasks_) t->stop();
  setPhase(Phase::Stopped);
  if (services_.quit) services_.quit();
}

}  // namespace tkb::ui
