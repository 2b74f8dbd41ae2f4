#include "ui/application.h"

#include <unistd.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <climits>
#include <cstdio>

#include "link/trace.h"
#include "ui/game_profiles.h"
#include "ui/help_texts.h"
#include "ui/search_help.h"
#include "ui/main_page.h"
#include "ui/pages.h"
#include "ui/trace_panel.h"
#include "ui/tray.h"
#include "ui/vr_panel.h"
#include "ui/widgets.h"

namespace tkb::ui {

namespace {
constexpr const char* kMonitorSection = "MONITOR";
constexpr int kLinkBannerWidth = 820, kLinkBannerHeight = 56;
constexpr int kLinkBannerY = 582;  // over the footer stripe, clear of the pages
// The driver's notices take the same place (above the link notice while that shows) for a while.
constexpr int kDriverNoticeWidth = 820, kDriverNoticeMs = 10'000;
// An action that takes longer than this shows the busy mark.
constexpr int kBusyMarkMs = 150;

std::string workingDirectory() {
  char buffer[PATH_MAX];
  if (getcwd(buffer, sizeof buffer) == nullptr) return ".";
  return buffer;
}
}  // namespace

Application::Application(Services services, ProbeOptions probeOptions)
    : services_(std::move(services)),
      model_(std::make_unique<ControllerModel>(std::move(services_.pedals), std::move(probeOptions))) {
  window_ = std::make_unique<QWidget>();
  window_->setWindowTitle(kWindowTitle);
  window_->setWindowIcon(QIcon(":/pictures/icon.svg"));
  window_->setFixedSize(kWindowWidth, kWindowHeight);
  window_->setAutoFillBackground(true);
  QPalette palette = window_->palette();
  palette.setColor(QPalette::Window, QColor(0x44, 0x44, 0x44));  // grey until pages exist
  window_->setPalette(palette);
  // One look for the window and every dialog opened over it.
  window_->setStyleSheet(windowStyleSheet());
  searching_ = makeLabel(window_.get(), "Searching for the pedal set...", 24);
  searching_->setStyleSheet("color:#e0e0e0;");
  placeAligned(searching_, Align::Center, 0, 0);
  searching_->hide();
  // What the search sees, after a while without pedals, and what the driver may do.
  searchHelp_ = new SearchHelp(window_.get(), searching_);
  model_->setProbePassListener(searchHelp_->passListener());
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
    model_->retryReads();
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
  busyMark_ = makeLabel(window_.get(), "", 14);
  busyMark_->setObjectName("BusyMark");
  busyMark_->setStyleSheet("color:#ffffff;background:#3a4048;border-radius:6px;padding:3px 10px;");
  busyMark_->hide();
  busyTimer_ = new QTimer(this);
  busyTimer_->setSingleShot(true);
  busyTimer_->setInterval(kBusyMarkMs);
  connect(busyTimer_, &QTimer::timeout, this, [this] { showBusy(true); });
  window_->installEventFilter(this);
  page_ = std::make_unique<MainPage>(*this, *model_, services_);
  pages_ = std::make_unique<Pages>(*model_, labels_, window_.get());
  tray_ = std::make_unique<Tray>(*this, services_);
  connectModel();
}

Application::~Application() {
  // Closing the window ends the program without stopping the monitors (their slots keep
  // them running); the probe is told to give up.
  model_->stopSearching();
  // The listener's thread hands events to this object: it must not outlive it.
  if (keyListenerInstalled_ && services_.keys) services_.keys->remove();
  // The actions still queued run; then the pages and dialogs go before the session they show.
  model_->stopLink();
  tray_.reset();
  games_.reset();
  pages_.reset();
}

VrPanel* Application::vrPanel() const { return page_->vrPanel(); }

void Application::connectModel() {
  ControllerModel& m = *model_;
  connect(&m, &ControllerModel::phaseChanged, this, &Application::phaseShown);
  connect(&m, &ControllerModel::searchEnded, this, &Application::searchEnded);
  connect(&m, &ControllerModel::firstReadsDone, this, &Application::buildPages);
  connect(&m, &ControllerModel::linkNoticeChanged, this, &Application::showLinkNotice);
  connect(&m, &ControllerModel::firmwareStage, this, &Application::showFirmwareStage);
  connect(&m, &ControllerModel::firmwareFinished, this, &Application::firmwareFinished);
  connect(&m, &ControllerModel::profileRefused, this, &Application::showProfileRefusal);
  connect(&m, &ControllerModel::driverNotice, this, &Application::tellDriver);
  connect(&m, &ControllerModel::languageChanged, this, [this](int index) {
    if (index >= 0) labels_.apply(index);
    page_->closeMenus();
  });
  connect(&m, &ControllerModel::busyChanged, this, [this](bool busy) {
    if (busy) {
      busyTimer_->start();
    } else {
      busyTimer_->stop();
      showBusy(false);
    }
  });
  connect(&m, &ControllerModel::readsRefreshed, this, [this] {
    if (const auto index = languageIndex()) labels_.apply(*index);
  });
}

void Application::phaseShown(int phase) {
  if (phase == static_cast<int>(Phase::Running)) {
    linkBanner_->raise();
    setSendingControlsEnabled(model_->linkFree());
    showPendingFirmwareBox();
  }
  emit phaseChanged(phase);
}

std::optional<int> Application::languageIndex() const { return ui::languageIndex(model_->state().language); }

int Application::driverLanguage() const { return languageIndex().value_or(desktopLanguage()); }

void Application::startApplication() {
  const Phase phase = model_->phase();
  if (phase == Phase::Probing || phase == Phase::Running || phase == Phase::Stopped) return;
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
  searching_->show();
  searching_->raise();
  searchHelp_->searchStarted(driverLanguage());
  model_->start();
}

void Application::searchEnded(bool found, const QString& permissionProblem) {
  searching_->hide();
  searchHelp_->searchEnded();
  if (!config_) config_ = std::make_unique<AppConfig>(model_->basePath() + "/opt/config.ini");
  page_->buildBackgroundAndBox();
  if (found) {
    page_->notDetectedBox->hide();
    return;
  }
  // Which part answers and which is missing; refused pedals: how to allow them.
  PartsSeen parts;
  const int result = model_->probeResult();
  if (result >= 1 && result <= 3) parts.port = model_->portName() + " (" + portPath(model_->portName()) + ")";
  if (!permissionProblem.isEmpty()) {
    const DoctorSetup setup = doctorSetup();
    parts.joystickNode = findPedalHidrawNode(setup.roots).value_or("");
    parts.accessFix = accessFixCommand(setup);
  }
  explainNotDetected(page_->notDetectedText, page_->diagnoseButton, parts, driverLanguage());
  page_->notDetectedBox->show();
  page_->notDetectedBox->raise();
  showPendingFirmwareBox();
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
    model_->stopSearching();
    if (services_.quit) services_.quit();
  }
}

void Application::showProfileRefusal(const ProfileRefusal& refusal) {
  const int language = languageIndex().value_or(0);
  // One pass over the text: a file name or value holding "%2" stays as it is.
  const std::string fields[5] = {refusal.path, "[" + refusal.section + "] " + refusal.key + "=" + refusal.value,
                                 std::to_string(refusal.min), std::to_string(refusal.max),
                                 "[" + refusal.section + "] " + refusal.key};
  std::string filled;
  for (const char* c = profileRefusalText(static_cast<int>(refusal.reason), language); *c != '\0'; ++c) {
    if (c[0] == '%' && c[1] >= '1' && c[1] <= '5') {
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

void Application::openGamesDialog() {
  if (!games_ || !config_) return;
  if (gamesDialog_) {
    gamesDialog_->show();
    gamesDialog_->raise();
    return;
  }
  gamesDialog_ = new GamesDialog(window_.get(), *config_, games_->runningNames(),
                                 QString::fromStdString(model_->basePath() + "/tkb"), languageIndex().value_or(0));
  gamesDialog_->setAttribute(Qt::WA_DeleteOnClose);
  connect(gamesDialog_, &GamesDialog::tableChanged, this, [this] { games_->reloadTable(); });
  gamesDialog_->show();
}

void Application::openTracePanel() {
  if (!config_) return;
  if (!tracePanel_) tracePanel_ = new TracePanel(window_.get(), *model_, *config_);
  tracePanel_->show();
  tracePanel_->raise();
  tracePanel_->activateWindow();
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
  const int language = languageIndex().value_or(0);
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

void Application::buildPages() {
  if (!config_) config_ = std::make_unique<AppConfig>(model_->basePath() + "/opt/config.ini");
  page_->buildPicturesAndLists();
  page_->buildStatusLabels();
  page_->create_main_page();
  tray_->attachSwitch(page_->traySwitch);
  buildPageContainers();
  pages_->pro->Create_pro_page(proPage_);
  pages_->sport->Create_sport_page(customPage_);
  games_ = std::make_unique<GameProfiles>(*model_, *config_, [this](const QString& text) { tellDriver(text); });
  games_->start();
  pagesBuilt_ = true;
  // What the model says from here on: the link's state enables the sending controls.
  connect(model_.get(), &ControllerModel::linkNoticeChanged, this,
          [this] { setSendingControlsEnabled(model_->linkFree()); });
  connect(model_.get(), &ControllerModel::linkStateChanged, this,
          [this] { setSendingControlsEnabled(model_->linkFree()); });
  linkBanner_->raise();
}

void Application::showLinkNotice() {
  const LinkNotice notice = model_->linkNotice();
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
  if (!pagesBuilt_) return;
  for (QWidget* w : std::initializer_list<QWidget*>{
           proPage_, customPage_, page_->pro, page_->custom, page_->activatePro, page_->activateCustom,
           page_->modelList, page_->colourList, page_->language, page_->languageList})
    if (w) w->setEnabled(enabled);
}

void Application::showBusy(bool busy) {
  if (!busy) {
    busyMark_->hide();
    window_->unsetCursor();
    return;
  }
  busyMark_->setText(QString::fromUtf8(linkText(LinkText::Busy, languageIndex().value_or(0))));
  busyMark_->adjustSize();
  busyMark_->move(kWindowWidth - busyMark_->width() - 12, 8);
  busyMark_->show();
  busyMark_->raise();
  window_->setCursor(Qt::BusyCursor);
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
    if (model_->phase() == Phase::NotDetected) startApplication();
  });
  dialog->show();
}

DoctorSetup Application::doctorSetup() const {
  DoctorSetup setup = services_.doctorSetup ? services_.doctorSetup() : DoctorSetup{};
  // While the probe runs it holds ports for a moment; one of them is not another program's.
  setup.searching = model_->phase() == Phase::Probing;
  if (!setup.searching) setup.ownPort = model_->portName();
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

void Application::TextoPasoCalibracion(int step, QLabel* textLabel, QLabel* noteLabel) {
  showWizardStep(languageIndex(), step, textLabel, noteLabel);
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
  if (model_->phase() == Phase::Stopped) return;
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
  if (games_) games_->stop();
  model_->shutDown();
  if (services_.quit) services_.quit();
}

}  // namespace tkb::ui
