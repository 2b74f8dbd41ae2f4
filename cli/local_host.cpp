#include "cli/local_host.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <thread>

#include "app/app_config.h"
#include "app/calibration.h"
#include "app/firmware_settings.h"
#include "app/install_layout.h"
#include "cli/launch.h"
#include "link/firmware_update.h"
#include "link/pedal_input.h"
#include "link/probe.h"

namespace tkb::cli {
namespace {

// The window tkb-cli does not have: the profile label goes to standard output, the charts
// are the state's curves. The load itself sends what the pages would.
class TerminalPages : public ProfilePages {
 public:
  TerminalPages(const ControllerState& state, std::FILE* out) : state_(state), out_(out) {}
  void setProfileLabel(const std::string& text) override { std::fprintf(out_, "%s\n", text.c_str()); }
  void showLoad(ProfileKind, bool) override {}
  Curve chartPoints(Pedal pedal) const override { return curveOf(state_, pedal); }

 private:
  const ControllerState& state_;
  std::FILE* out_;
};

const char* stageText(FirmwareStage stage) {
  switch (stage) {
    case FirmwareStage::Restarting: return "Restarting the pedals into their bootloader";
    case FirmwareStage::WaitingForBootloader: return "Waiting for the bootloader";
    case FirmwareStage::Writing: return "Writing the new firmware";
    case FirmwareStage::Verifying: return "Verifying the new firmware";
    case FirmwareStage::WaitingForController: return "Waiting for the pedals to come back";
  }
  return "";
}

// Without an updater the probe takes old firmware as it is; `oldPort` learns where it was.
int probe(Controller& controller, int passes, const Io& io, FirmwareUpdater updater = {},
          std::string* oldPort = nullptr, const std::atomic<bool>* stop = nullptr) {
  ProbeOptions options;
  options.maxPasses = passes;
  options.passPauseMs = 200;
  options.stop = stop;
  options.firmwareUpdate = updater ? std::move(updater)
                                   : [oldPort](Controller&, const ProbeTables& tables) -> std::optional<int> {
    if (oldPort != nullptr) *oldPort = tables.oldFirmwarePort;
    return kFirmwareUpdateUnavailable;
  };
  options.probeAllPorts = probeAllPortsSetting(AppConfig(detectInstallLayout().baseFolder + "/opt/config.ini"));
  const int result = probeController(controller, options);
  applyProbeResult(controller.state, result);
  if (!controller.state.connected) std::fprintf(io.err, "tkb-cli: no pedal controller answered (result %d)\n", result);
  return result;
}

// ---- calibrate ---------------------------------------------------------------------------

// The wizard's instructions on the terminal.
class TerminalSteps : public CalibrationView {
 public:
  explicit TerminalSteps(std::FILE* out) : out_(out) {}
  void stepShown(int step) override {
    static const char* const kSteps[] = {
        "",
        "Press the throttle fully, hold it and press Enter.",
        "Press the brake where you want your maximum brake to be, hold it and press Enter.",
        "Press the clutch fully, hold it and press Enter.",
        "The pedals are calibrated: check them, then press Enter to save the calibration.",
    };
    if (step >= 1 && step <= 4) say(kSteps[step]);
  }
  void say(const char* text) {
    std::fprintf(out_, "%s\n", text);
    std::fflush(out_);
  }

 private:
  std::FILE* out_;
};

// SIGINT and SIGTERM end the wait for Enter: the calibration is cancelled as with q, so
// the controller never stays with half-taken points.
std::atomic<bool> gCancel{false};
void onCancelSignal(int) { gCancel = true; }

// One answer of the driver: false for q, the end of input or a stop signal.
bool driverGoesOn() {
  if (gCancel) return false;
  char line[256];
  if (std::fgets(line, sizeof line, stdin) == nullptr || gCancel) return false;
  std::string answer(line);
  while (!answer.empty() && std::isspace(static_cast<unsigned char>(answer.back()))) answer.pop_back();
  return answer != "q" && answer != "Q";
}

void pauseFor(CalibrationPause pause) {
  if (pause) std::this_thread::sleep_for(std::chrono::milliseconds(pause.ms));
}

int runCalibrate(Controller& controller, const std::function<std::string()>& baseFolder, const Io& io) {
  // What the wizard starts from: the zones it sends back and the brake limit it replaces.
  const ReadReport report = readConfiguration(controller);
  if (!report.ok()) {
    commandMessage(io, "tkb-cli calibrate: the controller stopped answering (%s); nothing sent", report.describe().c_str());
    return kExitNotAnswering;
  }
  struct sigaction action {};
  action.sa_handler = onCancelSignal;  // no SA_RESTART: the read of the answer ends
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  const std::string base = baseFolder();
  ::mkdir((base + "/opt").c_str(), 0755);
  TerminalSteps steps(io.out);
  CalibrationHooks hooks;
  hooks.resetJoystick = [] { resetJoystickCalibration(); };
  hooks.basePath = [base] { return base; };
  CalibrationWizard wizard(controller, steps, hooks);
  auto cancelled = [&wizard, &steps] {
    wizard.cancel();
    steps.say("Calibration cancelled: the pedals keep their previous calibration.");
    return kExitCancelled;
  };

  steps.say("Calibrating the pedals; q cancels at any step.");
  steps.say("Do not press any pedal and press Enter.");
  if (!driverGoesOn()) return cancelled();
  controller.beginAction();
  const CalibrationPause settle = wizard.calibrate();
  pauseFor(settle);
  wizard.resume();
  while (wizard.state() != CalibrationWizard::State::Calibrated) {
    if (!driverGoesOn()) return cancelled();
    controller.beginAction();
    wizard.next();
  }
  if (!driverGoesOn()) return cancelled();
  controller.beginAction();
  const CalibrationPause store = wizard.save();
  pauseFor(store);
  wizard.resume();
  if (wizard.failedReads() > 0) {
    commandMessage(io, "tkb-cli calibrate: the calibration was stored, but the controller stopped answering while "
                "it was read back");
    return kExitNotAnswering;
  }
  const ControllerState& s = controller.state;
  steps.say("Calibration saved.");
  std::fprintf(io.out, "brakeMax %d\n", s.brakeMax);
  for (Field f : {Field::ClutchUpper, Field::ClutchLower, Field::BrakeUpper, Field::BrakeLower,
                  Field::ThrottleUpper, Field::ThrottleLower}) {
    if (!s.hasClutch && (f == Field::ClutchUpper || f == Field::ClutchLower)) continue;
    std::fprintf(io.out, "%s %d\n", findSetting(f)->name, settingValue(s, f));
  }
  return 0;
}

// SIGINT and SIGTERM end tkb-cli before the touch; after it they only get the warning, and
// the update ends on its own.
std::atomic<bool> gStop{false};
std::atomic<bool> gBusy{false};
constexpr char kDoNotUnplug[] = "\nUpdating the pedal firmware - do not unplug the pedals\n";

void onStopSignal(int) {
  gStop = true;
  if (gBusy) {
    [[maybe_unused]] const auto n = ::write(STDERR_FILENO, kDoNotUnplug, sizeof kDoNotUnplug - 1);
  }
}

}  // namespace

Controller* LocalHost::connect(int passes, int& result, std::string& oldPort, const Io& io) {
  result = probe(controller_, passes, io, {}, &oldPort);
  return controller_.state.connected ? &controller_ : nullptr;
}

ReadReport LocalHost::prepareProfile() {
  // The state the saves write and the loads start from (queries only, nothing is set).
  controller_.beginAction();
  return loadData(controller_, nullptr);
}

int LocalHost::withProfiles(const Io& io, const std::function<int(Profiles&)>& run) {
  NoProfileDialog noDialog;
  TerminalPages pages(controller_.state, io.out);
  Profiles profiles(controller_, noDialog, pages);
  profiles.skipSettingsFolder();
  return run(profiles);
}

// The driver's folder: the working directory when staged, the XDG data folder when installed.
std::string LocalHost::baseFolder(const Io& io) {
  const InstallLayout layout = detectInstallLayout();
  std::string error;
  if (layout.installed && !makeBaseFolder(layout.baseFolder, error)) std::fprintf(io.err, "tkb-cli: %s\n", error.c_str());
  return layout.baseFolder;
}

int LocalHost::runCommandLine(const std::vector<std::string>& args, const std::string& workingDirectory,
                              const Io& io) {
  if (const auto reply = askTheProgram(args, workingDirectory)) {
    std::fwrite(reply->err.data(), 1, reply->err.size(), io.err);
    std::fwrite(reply->out.data(), 1, reply->out.size(), io.out);
    return reply->status;
  }
  return runCommand(args, *this, workingDirectory, io);
}

int LocalHost::calibrate(int passes, const Io& io) {
  int result = 0;
  std::string oldPort;
  if (connect(passes, result, oldPort, io) == nullptr) return kExitNoController;
  int status = runCalibrate(controller_, [this, &io] { return baseFolder(io); }, io);
  if (status == 0 && controller_.failedWrites() > 0) {
    commandMessage(io, "tkb-cli: %d frame%s could not be written to the controller", controller_.failedWrites(),
            controller_.failedWrites() > 1 ? "s" : "");
    status = kExitNotAnswering;
  }
  release();
  return status;
}

int LocalHost::firmwareUpdate(const FirmwareCommand& command, int passes, const Io& io) {
  const InstallLayout layout = detectInstallLayout();
  const std::string base = baseFolder(io);
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  FirmwareUpdateOptions options;
  options.toolFolder = base + "/" + kToolFolder;
  options.bootloaderScript = layout.bootloaderScript();
  options.avrdudeConfig = layout.avrdudeConfig();
  options.image = command.image;
  ::mkdir((base + "/opt").c_str(), 0755);
  options.logPath = base + "/opt/" + kFlashLogName;
  options.stop = &gStop;
  options.busy = &gBusy;
  options.settings = std::make_shared<ProfileSettingsKeeper>(base + "/tkb");
  options.progress = [err = io.err](const FirmwareProgress& p) {
    if (p.percent >= 0) {
      std::fprintf(err, "\n%s: %d %%\n", stageText(p.stage), p.percent);
    } else {
      std::fprintf(err, "\n%s\n", stageText(p.stage));
    }
  };
  std::optional<FirmwareReport> report;
  options.finished = [&report](const FirmwareReport& r) { report = r; };
  probe(controller_, passes, io, makeFirmwareUpdater(options), nullptr, &gStop);
  if (!report && !controller_.state.connected) return gStop ? kExitUpdateFailed : kExitNoController;
  release();
  if (!report) {
    const auto& v = controller_.state.firmwareVersion;
    std::fprintf(io.out, "firmware %d.%d.%d is up to date\n", v[0], v[1], v[2]);
    return 0;
  }
  std::fprintf(io.out, "%s\n", describeFirmwareReport(*report).c_str());
  if (!report->restoredSettings.empty()) {
    std::fprintf(io.out, "settings sent back after the update:");
    for (const std::string& name : report->restoredSettings) std::fprintf(io.out, " %s", name.c_str());
    std::fprintf(io.out, "\n");
  }
  return report->outcome == FirmwareOutcome::Updated ? 0 : kExitUpdateFailed;
}

}  // namespace tkb::cli
