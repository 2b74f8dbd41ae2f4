// The session's link life: the probe, the start-up reads and the first showing of the
// pages (loadSettings), RETRY, unplug and replug, the firmware update's phase, the shut-down
// and the 10 ms feed of the pedal input.
#include <unistd.h>

#include <sys/stat.h>

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <climits>
#include <thread>

#include "app/app_config.h"
#include "app/file_replace.h"
#include "app/firmware_settings.h"
#include "app/startup_reads.h"
#include "link/trace.h"
#include "ui/controller_model.h"
#include "ui/localisation.h"

namespace tkb::ui {

namespace {
// The whole working directory: a path cut to a fixed length would name another folder and
// the logs and settings would go astray.
std::string workingDirectory() {
  char buffer[PATH_MAX];
  if (getcwd(buffer, sizeof buffer) == nullptr) return ".";
  return buffer;
}
}  // namespace

void ControllerModel::useFirmwareUpdate(FirmwareUpdateOptions options) {
  const std::string base = workingDirectory();
  if (options.logPath.empty()) {
    ::mkdir((base + "/opt").c_str(), 0755);
    options.logPath = base + "/opt/" + kFlashLogName;
  }
  if (!options.settings) options.settings = std::make_shared<ProfileSettingsKeeper>(base + "/tkb");
  options.stop = &stopProbe_;
  options.busy = &firmwareBusy_;
  // Both run on the link thread, which owns the controller meanwhile: the language read
  // before the touch is taken there and handed over with the news.
  options.progress = [this](const FirmwareProgress& progress) {
    const int language = languageIndex(controller_.state.language).value_or(0);
    QMetaObject::invokeMethod(this, [this, progress, language] { emit firmwareStage(progress, language); },
                              Qt::QueuedConnection);
  };
  options.finished = [this](const FirmwareReport& report) {
    const int language = languageIndex(controller_.state.language).value_or(0);
    QMetaObject::invokeMethod(this, [this, report, language] { emit firmwareFinished(report, language); },
                              Qt::QueuedConnection);
  };
  setFirmwareUpdater(makeFirmwareUpdater(std::move(options)));
}

void ControllerModel::useTransport(Transport& transport, std::function<int(Controller&)> probe) {
  controller_.useTransport(transport);
  customProbe_ = std::move(probe);
}

void ControllerModel::start() {
  if (phase_ == Phase::Probing || phase_ == Phase::Running || phase_ == Phase::Stopped) return;
  // The probe may scan for ever: it runs on the link thread and the window stays
  // responsive, saying what it is doing.
  probe_.probeAllPorts = probeAllPortsSetting(AppConfig(workingDirectory() + "/opt/config.ini"));
  stopProbe_ = false;
  setPhase(Phase::Probing);
  post(
      [this] {
        const int result = customProbe_ ? customProbe_(controller_) : probeController(controller_, probe_);
        applyProbeResult(controller_.state, result);
        publish([this, result, port = controller_.portName()] {
          portName_ = port;
          probeResult_ = result;
          probeFinished(result);
        });
      },
      false);
}

void ControllerModel::probeFinished(int result) {
  if (phase_ == Phase::Stopped) return;
  // A missing joystick interface clears connected: only the "not detected" box is shown.
  ControllerState probed = shown_;
  if (pedals_ == nullptr) {
    probed.connected = false;
  } else {
    pedals_->findJoystick(probed);
  }
  basePath_ = workingDirectory();
  trace("\nPath guardado -> %s", basePath_.c_str());
  // What writes killed half-way (a crash, a power cut) left in the folders we write.
  removeUnfinishedWrites(basePath_ + "/opt");
  removeUnfinishedWrites(basePath_ + "/tkb");
  if (!probed.connected) {
    // When the pedals are there but may not be read, the box says how to allow it.
    QString permission;
    if (auto* hidraw = dynamic_cast<HidrawPedalInput*>(pedals_.get()); hidraw != nullptr)
      permission = QString::fromStdString(hidraw->permissionProblem());
    // The box speaks the controller's language when its serial port answered.
    post(
        [this, result, permission] {
          controller_.state.connected = false;
          if (result >= 1 && result <= 3) controller_.query(Query::Language);
          publish([this, permission] {
            setPhase(Phase::NotDetected);
            emit searchEnded(false, permission);
          });
        },
        false);
    return;
  }
  (void)result;
  emit searchEnded(true, {});
  if (!usageLog_) usageLog_ = std::make_unique<UsageLog>(basePath_);
  runControllerReads(false);
}

void ControllerModel::runControllerReads(bool resendDriverFrames) {
  if (reading_) return;
  reading_ = true;
  setLinkNotice(LinkNotice::Reading);
  // The link thread owns the controller until the reads are over: nothing is sent meanwhile
  // and the 10 ms feed does not look at a state that is being filled.
  if (pagesBuilt_) setFeedRunning(false);
  post(
      [this, resendDriverFrames] {
        // The pedals may have come back with other values (a power cycle restores what they
        // had stored): what the driver set goes to them again before anything is read.
        if (resendDriverFrames) {
          for (const Bytes& frame : driverFrames_) {
            trace("\nReenviamos %X (%d bytes)", frame[0], static_cast<int>(frame.size()));
            controller_.send(frame);
          }
        }
        const ReadReport report = readControllerAtStartup(controller_, nullptr);
        // Every query answered: a reply whose value is out of its range leaves that one field
        // unknown (its widget blank), it does not stop the pages.
        const bool allAnswered = controller_.linkState() == LinkState::Connected;
        if (!report.ok()) trace("\nLecturas fallidas: %s", report.describe().c_str());
        if (allAnswered && !pagesBuiltOnLink_) {
          ControllerState& state = controller_.state;
          usageLog_->open(state);
          // Sets with a clutch only come as models 1 to 4.
          if (state.hasClutch && state.model > 4) state.model = 1;
          trace("\nmarcador 1");
          usageLog_->dataLines(state);
          // The CUSTOM page's charts start as straight lines, and so do the state's curves.
          for (Pedal pedal : kPedals) curveOf(state, pedal) = straightCurve();
        }
        publish([this, allAnswered] { readsFinished(allAnswered); });
      },
      false);
}

void ControllerModel::readsFinished(bool allAnswered) {
  reading_ = false;
  if (phase_ == Phase::Stopped) return;
  if (pagesBuilt_) setFeedRunning(true);
  if (!allAnswered) {
    trace("\nLectura del controlador incompleta: %s", linkStateName(controller_.linkState()));
    if (controller_.linkState() == LinkState::Disconnected) return pedalsUnplugged();
    setLinkNotice(LinkNotice::NotAnswering);
    if (!pagesBuilt_) setPhase(Phase::ReadFailed);
    return;
  }
  setLinkNotice(LinkNotice::None);
  if (pagesBuilt_) {
    refreshPages();
    return;
  }
  // The window builds its pages from what was read, then the pages show it.
  emit firstReadsDone();
  pagesBuilt_ = true;
  post(
      [this] {
        loadSettings();
        publish([this] {
          if (phase_ == Phase::Stopped) return;
          setFeedRunning(true);
          setPhase(Phase::Running);
        });
      },
      false);
}

// The pages show what the controller holds, as the start-up showed it; what the pages'
// boxes and lists send back when they take a value is sent here in its place.
void ControllerModel::loadSettings() {
  ControllerState& state = controller_.state;
  pagesBuiltOnLink_ = true;
  trace("\nloadSettings - Inicio");
  resetJoystickCalibration();
  resendZonesAsShown(true, true);
  publish([this] { emit zonesChanged(); });

  trace("\nchar -> %s", state.language.c_str());
  if (const auto index = languageIndex(state.language)) {
    languageChosen(*index);
  } else {
    trace("Language not found\n");
    publish([this] { emit languageChanged(-1); });
  }
  publish([this] { emit settingsShown(); });

  if (state.sportProfileLoaded) {
    readCurvesBack(true);
    publish([this] {
      emit curvesChanged();
      emit curvesStored();
    });
  } else {
    state.sportProfileLoaded = false;
  }
  if (!state.sportProfileActive) state.proProfileActive = true;
  if (usageLog_) usageLog_->modeLine(state);

  for (Query q : {Query::LetterMas, Query::LetterMas2, Query::LetterMenos, Query::LetterMenos2})
    controller_.query(q);
  // Edits are pending from here on: the values read are the first baseline.
  profiles_->baseline().take(state);
  publish([this] {
    emit lettersChanged();
    emit autoBrakeChanged(shown_.autoBrake != 0);
    emit modeChanged();
    emit profileChanged();
  });
  trace("\nloadSettings - Final");
}

// After RETRY or a replug: every page shows what was read, as loadSettings shows it at
// start-up, without asking the controller again.
void ControllerModel::refreshPages() {
  post(
      [this] {
        // What the pages send again here was read, not set by the driver.
        refreshing_ = true;
        trace("\nrefreshPages - Inicio");
        resendZonesAsShown(true, true);
        refreshing_ = false;
        trace("\nrefreshPages - Final");
        publish([this] {
          emit zonesChanged();
          if (const auto index = languageIndex(shown_.language)) emit languageChanged(*index);
          emit settingsShown();
          emit curvesChanged();
          emit lettersChanged();
          emit modelColourChanged();
          emit modeChanged();
          emit profileChanged();
          emit readsRefreshed();
        });
      },
      false);
}

void ControllerModel::retryReads() {
  if (reading_ || phase_ == Phase::Stopped) return;
  if (phase_ != Phase::Running && phase_ != Phase::ReadFailed) return;
  // An unplugged pedal set is looked for by the reconnection; RETRY has nothing to ask.
  if (controller_.linkState() == LinkState::Disconnected) return;
  runControllerReads(false);
}

void ControllerModel::onLinkStateChanged(LinkState state) {
  emit linkStateChanged(state);
  if (reading_ || phase_ == Phase::Stopped) return;  // the reads report when they end
  switch (state) {
    case LinkState::Connected:
      if (linkNotice_ == LinkNotice::NotAnswering) setLinkNotice(LinkNotice::None);
      break;
    case LinkState::NotAnswering:
      if (phase_ == Phase::Running) setLinkNotice(LinkNotice::NotAnswering);
      break;
    case LinkState::Disconnected: pedalsUnplugged(); break;
  }
}

void ControllerModel::pedalsUnplugged() {
  if (reconnector_.running() || phase_ == Phase::Stopped) return;
  trace("\nPedales desconectados - esperando a que vuelvan");
  setLinkNotice(LinkNotice::Disconnected);
  ProbeOptions options;
  options.probeAllPorts = probe_.probeAllPorts;
  // The search takes the controller's link over once the link thread has let it go.
  post(
      [this, options] {
        controller_.closeLink();
        reconnector_.start(controller_, options, [this](int result) {
          QMetaObject::invokeMethod(this, [this, result] { pedalsBack(result); }, Qt::QueuedConnection);
        });
      },
      false);
}

void ControllerModel::pedalsBack(int probeResult) {
  reconnector_.stop();
  if (phase_ == Phase::Stopped) return;
  post(
      [this, probeResult] {
        ControllerState& state = controller_.state;
        if ((probeResult == 1) != state.hasClutch)
          trace("\nReconexion: otro modelo de pedales (%d); las paginas siguen como estaban", probeResult);
        state.probeResult = probeResult;
        controller_.setLinkState(LinkState::Connected);
        publish([this, port = controller_.portName()] { portName_ = port; });
      },
      false);
  runControllerReads(true);
}

void ControllerModel::stopLink() {
  stopSearching();
  worker_.stop();
}

void ControllerModel::stopSearching() {
  stopProbe_ = true;
  reconnector_.stop();
}

void ControllerModel::shutDown() {
  if (phase_ == Phase::Stopped) return;
  setFeedRunning(false);
  // A calibration left in the middle would leave the pedals with their zones off; a SAVE
  // that is storing is finished after its pause.
  if (pagesBuilt_ && linkFree()) {
    post([this] {
      const CalibrationPause pause = wizard_->end();
      if (!pause) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(pause.ms));
      wizard_->resume();
    });
  }
  stopSearching();
  worker_.stop();
  controller_.closeLink();
  if (usageLog_) usageLog_->close();
  linkWatch_->stop();
  setPhase(Phase::Stopped);
}

void ControllerModel::setFeedRunning(bool on) {
  if (on && !feed_->isActive()) feed_->start();
  if (!on) feed_->stop();
}

}  // namespace tkb::ui
