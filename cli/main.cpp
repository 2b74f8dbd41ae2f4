// tkb-cli: diagnostics and scripting on the controller link.
//   tkb-cli probe                 find the controller: result code, port, firmware
//   tkb-cli dump                  probe, the start-up reads and loadData (nothing is sent), then
//                                 the state as JSON; what could not be read is null
//   tkb-cli set FIELD VALUE...    send the command that writes one field
//   tkb-cli profile save FILE     save the controller's settings as a PRO (.tkb) or sport
//                                 (.tks) profile, and name it on the controller
//   tkb-cli profile load FILE     load a profile: the state, the commands and the naming of
//                                 the LOAD buttons (the same operation)
//   tkb-cli calibrate             the PRO calibration, guided on the terminal: each step's
//                                 instruction, Enter when done; q or the end of input cancels
//                                 (the controller keeps its old points); at the end the
//                                 points are stored and the new brake limit and zones printed
//   tkb-cli firmware status       the firmware version, whether it needs the update, and
//                                 whether the image is there
//   tkb-cli firmware update [--image FILE]
//                                 the update the program makes at start-up, progress on
//                                 standard error; status 0 only with firmware 7.06 or later
// Exit status: 0 every exchange the command needed succeeded, 1 no controller, 2 bad input
// (arguments, a profile refused), 3 the controller stopped answering (the failed queries are
// named), 4 old firmware (probe), 5 the firmware update failed, 6 the calibration was
// cancelled.
//   tkb-cli doctor                what the pedal set needs on this computer, each problem
//                                 with its fix; exit status 0 when nothing is wrong
// Trace lines of the link go to standard error so that standard output stays parseable.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/app_config.h"
#include "app/calibration.h"
#include "app/firmware_settings.h"
#include "app/doctor.h"
#include "app/install_layout.h"
#include "app/operations.h"
#include "app/profiles.h"
#include "app/startup_reads.h"
#include "link/firmware_update.h"
#include "link/pedal_input.h"
#include "link/probe.h"
#include "link/settings.h"
#include "link/trace.h"

namespace {

using tkb::Controller;
using tkb::ControllerState;

constexpr int kExitNoController = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNotAnswering = 3;
constexpr int kExitOldFirmware = 4;
constexpr int kExitUpdateFailed = 5;
constexpr int kExitCancelled = 6;

// A message of tkb-cli's own, on a line of its own: the trace lines before it end without
// a line break.
void message(const char* format, ...) __attribute__((format(printf, 1, 2)));
void message(const char* format, ...) {
  std::fputc('\n', stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
}

// The settings tkb-cli set can write: those of the table with a sender.
bool settable(const tkb::Setting& s) { return s.send != nullptr; }

void usage(FILE* out = stderr) {
  std::fprintf(out,
               "usage: tkb-cli [--passes N] probe\n"
               "       tkb-cli [--passes N] dump\n"
               "       tkb-cli [--passes N] set FIELD VALUE...\n"
               "       tkb-cli [--passes N] profile save|load FILE.tkb|FILE.tks\n"
               "       tkb-cli [--passes N] calibrate\n"
               "       tkb-cli [--passes N] firmware status\n"
               "       tkb-cli [--passes N] firmware update [--image FILE.hex]\n"
               "       tkb-cli doctor\n"
               "Fields: language NAME, proProfileName TEXT, sportProfileName TEXT");
  for (const tkb::Setting& s : tkb::settingsTable())
    if (settable(s)) std::fprintf(out, ", %s%s", s.name, s.curve ? " V0..V10" : " N");
  std::fprintf(out, "\nThe controller is looked for on TKB_SERIAL_PREFIX<n> (default /dev/ttyACM<n>).\n");
}

bool parseInt(const char* text, int& value) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < -1000000 || v > 1000000) return false;
  value = static_cast<int>(v);
  return true;
}

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char ch : text) {
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += static_cast<char>(ch);
    } else if (ch < 0x20 || ch >= 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", ch);
      out += escaped;
    } else {
      out += static_cast<char>(ch);
    }
  }
  return out + "\"";
}

std::string jsonCurve(const tkb::Curve& c) {
  std::string out = "[";
  for (int i = 0; i < tkb::kCurvePoints; ++i) out += (i ? ", " : "") + std::to_string(c[i]);
  return out + "]";
}

std::string jsonReadings(const tkb::PedalReadings& r) {
  return "{\"clutch\": " + std::to_string(r.clutch) + ", \"brake\": " + std::to_string(r.brake) +
         ", \"throttle\": " + std::to_string(r.throttle) + "}";
}

void printState(const ControllerState& s, const std::string& port) {
  using tkb::Field;
  auto b = [](bool v) { return v ? "true" : "false"; };
  // A value the controller did not give is null, never a made-up 0.
  auto known = [&s](Field f, const std::string& text) { return s.isKnown(f) ? text : std::string("null"); };
  auto num = [&](Field f, int v) { return known(f, std::to_string(v)); };
  auto flag = [&](Field f, bool v) { return known(f, b(v)); };
  const auto& v = s.firmwareVersion;
  std::printf("{\n");
  std::printf("  \"port\": %s,\n", jsonString(port).c_str());
  std::printf("  \"connected\": %s,\n  \"hasClutch\": %s,\n  \"probeResult\": %d,\n", b(s.connected),
              b(s.hasClutch), s.probeResult);
  std::printf("  \"firmwareVersion\": %s,\n",
              known(Field::FirmwareVersion, "[" + std::to_string(v[0]) + ", " + std::to_string(v[1]) +
                                                ", " + std::to_string(v[2]) + "]").c_str());
  std::printf("  \"proProfileActive\": %s,\n  \"sportProfileActive\": %s,\n",
              flag(Field::SportProfileActive, s.proProfileActive).c_str(),
              flag(Field::SportProfileActive, s.sportProfileActive).c_str());
  std::printf("  \"sportProfileLoaded\": %s,\n  \"calibrated\": %s,\n  \"zonesEnabled\": %s,\n",
              flag(Field::SportProfileLoaded, s.sportProfileLoaded).c_str(),
              flag(Field::Calibrated, s.calibrated).c_str(), flag(Field::ZonesEnabled, s.zonesEnabled).c_str());
  std::printf("  \"language\": %s,\n", known(Field::Language, jsonString(s.language)).c_str());
  std::printf("  \"brakeMax\": %s,\n", num(Field::BrakeMax, s.brakeMax).c_str());
  for (Field f : {Field::ClutchUpper, Field::ClutchLower, Field::BrakeUpper, Field::BrakeLower,
                  Field::ThrottleUpper, Field::ThrottleLower})
    std::printf("  \"%s\": %s,\n", tkb::findSetting(f)->name, num(f, tkb::settingValue(s, f)).c_str());
  for (Field f : {Field::ClutchCurve, Field::BrakeCurve, Field::ThrottleCurve})
    std::printf("  \"%s\": %s,\n", tkb::findSetting(f)->name, known(f, jsonCurve(tkb::curveOf(s, f))).c_str());
  for (Field f : {Field::LetterAbs, Field::LetterAutoBrake, Field::LetterMas, Field::LetterMenos,
                  Field::LetterMas2, Field::LetterMenos2, Field::AutoBrake, Field::AutoBrake2,
                  Field::Cheto, Field::ChetoActive})
    std::printf("  \"%s\": %s,\n", tkb::findSetting(f)->name, num(f, tkb::settingValue(s, f)).c_str());
  std::printf("  \"proProfileName\": %s,\n",
              known(Field::ProProfileName, jsonString(tkb::profileNameText(s.proProfileName))).c_str());
  std::printf("  \"sportProfileName\": %s,\n",
              known(Field::SportProfileName, jsonString(tkb::profileNameText(s.sportProfileName))).c_str());
  std::printf("  \"model\": %s,\n  \"color\": %s,\n", num(Field::Model, s.model).c_str(),
              num(Field::Color, s.color).c_str());
  std::printf("  \"startReadings\": %s,\n", known(Field::StartReadings, jsonReadings(s.startReadings)).c_str());
  std::printf("  \"calibrationReadings\": %s,\n",
              known(Field::CalibrationReadings, jsonReadings(s.calibrationReadings)).c_str());
  std::printf("  \"brakeRecalPoint\": %s\n", num(Field::BrakeRecalPoint, s.brakeRecalPoint).c_str());
  std::printf("}\n");
}

// Checks the arguments of "set" against the settings table and returns the action, or
// prints why not (exit 2).
std::function<void(Controller&)> parseSet(const std::vector<std::string>& args) {
  if (args.empty()) {
    message("tkb-cli set: missing FIELD");
    return nullptr;
  }
  const std::string& name = args[0];
  const std::vector<std::string> values(args.begin() + 1, args.end());
  if (name == "language") {
    ControllerState probe;
    if (values.size() != 1 || !tkb::setLanguage(probe, values[0])) {
      message("tkb-cli set language: expected one of English, Spanish, Italian, French, German, Portuguese");
      return nullptr;
    }
    return [v = values[0]](Controller& c) {
      tkb::setLanguage(c.state, v);
      c.MandarDatosIdioma();
    };
  }
  if (name == "proProfileName" || name == "sportProfileName") {
    if (values.size() != 1 || values[0].size() > tkb::kProfileNameBytes) {
      message("tkb-cli set %s: expected one name of at most %d bytes", name.c_str(), tkb::kProfileNameBytes);
      return nullptr;
    }
    const tkb::Field field = name == "proProfileName" ? tkb::Field::ProProfileName : tkb::Field::SportProfileName;
    return [field, v = values[0]](Controller& c) {
      tkb::setProfileName(c.state, field, tkb::makeProfileName(v));
      field == tkb::Field::ProProfileName ? c.MandarPerfilPro() : c.MandarPerfilSport();
    };
  }
  const tkb::Setting* setting = tkb::findSetting(name);
  if (setting == nullptr || !settable(*setting)) {
    message("tkb-cli set: unknown field '%s'", name.c_str());
    return nullptr;
  }
  const int count = setting->curve ? tkb::kCurvePoints : 1;
  if (static_cast<int>(values.size()) != count) {
    message("tkb-cli set %s: expected %d value%s, got %zu", setting->name, count, count > 1 ? "s" : "",
            values.size());
    return nullptr;
  }
  tkb::Curve numbers{};
  for (int i = 0; i < count; ++i) {
    int v = 0;
    if (!parseInt(values[i].c_str(), v) || v < setting->min || v > setting->max) {
      message("tkb-cli set %s: '%s' is not a whole number from %d to %d", setting->name, values[i].c_str(),
              setting->min, setting->max);
      return nullptr;
    }
    numbers[i] = v;
  }
  if (setting->curve && !tkb::curveAllowed(numbers)) {
    message("tkb-cli set %s: a curve starts at 0, ends at 100 and rises at every point", setting->name);
    return nullptr;
  }
  return [setting, numbers](Controller& c) {
    tkb::Operations operations(c);
    setting->curve ? operations.set(*setting, numbers) : operations.set(*setting, numbers[0]);
  };
}

// ---- profile save / load -------------------------------------------------------------

// The dialog's answer is the file named on the command line.
class GivenFile : public tkb::ProfileFileChooser {
 public:
  explicit GivenFile(std::string path) : path_(std::move(path)) {}
  std::optional<std::string> choose(const tkb::FileDialogRequest&) override { return path_; }

 private:
  std::string path_;
};

// The window tkb-cli does not have: the profile label goes to standard output, the charts
// are the state's curves. The load itself sends what the pages would.
class TerminalPages : public tkb::ProfilePages {
 public:
  explicit TerminalPages(const ControllerState& state) : state_(state) {}
  void setProfileLabel(const std::string& text) override { std::printf("%s\n", text.c_str()); }
  void showLoad(tkb::ProfileKind, bool) override {}
  tkb::Curve chartPoints(tkb::Pedal pedal) const override { return tkb::curveOf(state_, pedal); }

 private:
  const ControllerState& state_;
};

struct ProfileCommand {
  bool save = false;
  tkb::ProfileKind kind = tkb::ProfileKind::Pro;
  std::string path;
};

// Checks the arguments and the file before anything is sent (exit 2 when wrong).
std::optional<ProfileCommand> parseProfile(const std::vector<std::string>& args) {
  if (args.size() != 2 || (args[0] != "save" && args[0] != "load")) {
    std::fprintf(stderr, "tkb-cli profile: expected 'save FILE' or 'load FILE'\n");
    return std::nullopt;
  }
  ProfileCommand command;
  command.save = args[0] == "save";
  command.path = args[1];
  const auto kind = tkb::profileKindOfPath(command.path);
  if (!kind) {
    std::fprintf(stderr, "tkb-cli profile %s: '%s' is neither a PRO profile (.tkb) nor a sport profile (.tks)\n",
                 args[0].c_str(), command.path.c_str());
    return std::nullopt;
  }
  command.kind = *kind;
  if (command.save) {
    const size_t slash = command.path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : command.path.substr(0, slash + 1);
    if (::access(folder.c_str(), W_OK) != 0) {
      std::fprintf(stderr, "tkb-cli profile save: cannot write into '%s': %s\n", folder.c_str(),
                   std::strerror(errno));
      return std::nullopt;
    }
    return command;
  }
  // The whole file is checked before anything is sent; a FIFO or device is refused without
  // being opened for reading.
  ControllerState unused;
  if (const auto refusal = tkb::readProfileFile(command.path, command.kind, unused)) {
    message("tkb-cli profile load: %s", refusal->message().c_str());
    return std::nullopt;
  }
  return command;
}

// The exit status of a profile command once the controller was found.
int runProfile(Controller& controller, const ProfileCommand& command) {
  // The state the saves write and the loads start from (queries only, nothing is set).
  controller.beginAction();
  const tkb::ReadReport report = tkb::loadData(controller, nullptr);
  if (!report.ok()) {
    message("tkb-cli profile %s: the controller stopped answering (%s); nothing %s", command.save ? "save" : "load",
            report.describe().c_str(), command.save ? "written" : "sent");
    return kExitNotAnswering;
  }
  GivenFile file(command.path);
  TerminalPages pages(controller.state);
  tkb::Profiles profiles(controller, file, pages);
  profiles.skipSettingsFolder();
  const bool pro = command.kind == tkb::ProfileKind::Pro;
  if (command.save) {
    if (!(pro ? profiles.GuardarPerfilPro() : profiles.GuardarPerfilSport())) {
      message("tkb-cli profile save: '%s' was not written", command.path.c_str());
      return kExitUsage;
    }
    return 0;
  }
  const auto refusal = pro ? profiles.CargarPerfilPro() : profiles.CargarPerfilSport();
  if (refusal) {
    message("tkb-cli profile load: %s", refusal->message().c_str());
    return kExitUsage;
  }
  return 0;
}

// Without an updater the probe takes old firmware as it is; `oldPort` learns where it was.
int connect(Controller& controller, int passes, tkb::FirmwareUpdater updater = {},
            std::string* oldPort = nullptr, const std::atomic<bool>* stop = nullptr) {
  tkb::ProbeOptions options;
  options.maxPasses = passes;
  options.passPauseMs = 200;
  options.stop = stop;
  options.firmwareUpdate = updater ? std::move(updater)
                                   : [oldPort](Controller&, const tkb::ProbeTables& tables) -> std::optional<int> {
    if (oldPort != nullptr) *oldPort = tables.oldFirmwarePort;
    return tkb::kFirmwareUpdateUnavailable;
  };
  options.probeAllPorts = tkb::probeAllPortsSetting(
      tkb::AppConfig(tkb::detectInstallLayout().baseFolder + "/opt/config.ini"));
  const int result = tkb::probeController(controller, options);
  tkb::applyProbeResult(controller.state, result);
  if (!controller.state.connected)
    std::fprintf(stderr, "tkb-cli: no pedal controller answered (result %d)\n", result);
  return result;
}

// ---- firmware status / update ------------------------------------------------------------

struct FirmwareCommand {
  bool update = false;
  std::string image;  // empty: wkf/firmcor.wkf
};

std::optional<FirmwareCommand> parseFirmware(const std::vector<std::string>& args) {
  FirmwareCommand command;
  if (args.size() == 1 && args[0] == "status") return command;
  if (!args.empty() && args[0] == "update") {
    command.update = true;
    if (args.size() == 1) return command;
    if (args.size() == 3 && args[1] == "--image") {
      command.image = args[2];
      struct stat info {};
      if (::stat(command.image.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
          ::access(command.image.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "tkb-cli firmware update: cannot read '%s'\n", command.image.c_str());
        return std::nullopt;
      }
      // avrdude runs in the tool folder: a relative path is made absolute first.
      if (command.image[0] != '/') {
        char cwd[4096];
        if (::getcwd(cwd, sizeof cwd) != nullptr) command.image = std::string(cwd) + "/" + command.image;
      }
      return command;
    }
  }
  std::fprintf(stderr, "tkb-cli firmware: expected 'status' or 'update [--image FILE]'\n");
  return std::nullopt;
}

bool isOld(const std::string& oldPort) { return !oldPort.empty(); }

// The driver's folder: the working directory when staged, the XDG data folder when installed.
std::string baseFolder(const tkb::InstallLayout& layout) {
  std::string error;
  if (layout.installed && !tkb::makeBaseFolder(layout.baseFolder, error))
    std::fprintf(stderr, "tkb-cli: %s\n", error.c_str());
  return layout.baseFolder;
}

std::string defaultImage(const std::string& base) {
  return base + "/" + tkb::kToolFolder + "/" + tkb::kFirmwareImage;
}

const char* stageText(tkb::FirmwareStage stage) {
  switch (stage) {
    case tkb::FirmwareStage::Restarting: return "Restarting the pedals into their bootloader";
    case tkb::FirmwareStage::WaitingForBootloader: return "Waiting for the bootloader";
    case tkb::FirmwareStage::Writing: return "Writing the new firmware";
    case tkb::FirmwareStage::Verifying: return "Verifying the new firmware";
    case tkb::FirmwareStage::WaitingForController: return "Waiting for the pedals to come back";
  }
  return "";
}

// ---- calibrate ---------------------------------------------------------------------------

// The wizard's instructions on the terminal.
class TerminalSteps : public tkb::CalibrationView {
 public:
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
  static void say(const char* text) {
    std::printf("%s\n", text);
    std::fflush(stdout);
  }
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

void pauseFor(tkb::CalibrationPause pause) {
  if (pause) std::this_thread::sleep_for(std::chrono::milliseconds(pause.ms));
}

int runCalibrate(Controller& controller) {
  // What the wizard starts from: the zones it sends back and the brake limit it replaces.
  const tkb::ReadReport report = tkb::readConfiguration(controller);
  if (!report.ok()) {
    message("tkb-cli calibrate: the controller stopped answering (%s); nothing sent", report.describe().c_str());
    return kExitNotAnswering;
  }
  struct sigaction action {};
  action.sa_handler = onCancelSignal;  // no SA_RESTART: the read of the answer ends
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  const tkb::InstallLayout layout = tkb::detectInstallLayout();
  const std::string base = baseFolder(layout);
  ::mkdir((base + "/opt").c_str(), 0755);
  TerminalSteps steps;
  tkb::CalibrationHooks hooks;
  hooks.resetJoystick = [] { tkb::resetJoystickCalibration(); };
  hooks.basePath = [base] { return base; };
  tkb::CalibrationWizard wizard(controller, steps, hooks);
  auto cancelled = [&wizard] {
    wizard.cancel();
    TerminalSteps::say("Calibration cancelled: the pedals keep their previous calibration.");
    return kExitCancelled;
  };

  TerminalSteps::say("Calibrating the pedals; q cancels at any step.");
  TerminalSteps::say("Do not press any pedal and press Enter.");
  if (!driverGoesOn()) return cancelled();
  controller.beginAction();
  const tkb::CalibrationPause settle = wizard.calibrate();
  pauseFor(settle);
  wizard.resume();
  while (wizard.state() != tkb::CalibrationWizard::State::Calibrated) {
    if (!driverGoesOn()) return cancelled();
    controller.beginAction();
    wizard.next();
  }
  if (!driverGoesOn()) return cancelled();
  controller.beginAction();
  const tkb::CalibrationPause store = wizard.save();
  pauseFor(store);
  wizard.resume();
  if (wizard.failedReads() > 0) {
    message("tkb-cli calibrate: the calibration was stored, but the controller stopped answering while "
            "it was read back");
    return kExitNotAnswering;
  }
  const ControllerState& s = controller.state;
  TerminalSteps::say("Calibration saved.");
  using tkb::Field;
  std::printf("brakeMax %d\n", s.brakeMax);
  for (Field f : {Field::ClutchUpper, Field::ClutchLower, Field::BrakeUpper, Field::BrakeLower,
                  Field::ThrottleUpper, Field::ThrottleLower}) {
    if (!s.hasClutch && (f == Field::ClutchUpper || f == Field::ClutchLower)) continue;
    std::printf("%s %d\n", tkb::findSetting(f)->name, tkb::settingValue(s, f));
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

int runFirmware(const FirmwareCommand& command, int passes) {
  const tkb::InstallLayout layout = tkb::detectInstallLayout();
  const std::string base = baseFolder(layout);
  Controller controller;
  if (!command.update) {
    std::string oldPort;
    const int result = connect(controller, passes, {}, &oldPort);
    if (!controller.state.connected) return kExitNoController;
    const auto& v = controller.state.firmwareVersion;
    const std::string image = defaultImage(base);
    std::printf("result %d\nport %s\nfirmware %d.%d.%d\nupdate needed %s\nimage %s %s\n", result,
                controller.portName().c_str(), v[0], v[1], v[2], isOld(oldPort) ? "yes" : "no",
                image.c_str(), ::access(image.c_str(), R_OK) == 0 ? "present" : "missing");
    controller.closeLink();
    return 0;
  }

  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  tkb::FirmwareUpdateOptions options;
  options.toolFolder = base + "/" + tkb::kToolFolder;
  options.bootloaderScript = layout.bootloaderScript();
  options.avrdudeConfig = layout.avrdudeConfig();
  options.image = command.image;
  ::mkdir((base + "/opt").c_str(), 0755);
  options.logPath = base + "/opt/" + tkb::kFlashLogName;
  options.stop = &gStop;
  options.busy = &gBusy;
  options.settings = std::make_shared<tkb::ProfileSettingsKeeper>(base + "/tkb");
  options.progress = [](const tkb::FirmwareProgress& p) {
    if (p.percent >= 0) {
      std::fprintf(stderr, "\n%s: %d %%\n", stageText(p.stage), p.percent);
    } else {
      std::fprintf(stderr, "\n%s\n", stageText(p.stage));
    }
  };
  std::optional<tkb::FirmwareReport> report;
  options.finished = [&report](const tkb::FirmwareReport& r) { report = r; };
  const int result = connect(controller, passes, tkb::makeFirmwareUpdater(options), nullptr, &gStop);
  if (!report && !controller.state.connected) {
    return gStop ? kExitUpdateFailed : kExitNoController;
  }
  controller.closeLink();
  if (!report) {
    const auto& v = controller.state.firmwareVersion;
    std::printf("firmware %d.%d.%d is up to date\n", v[0], v[1], v[2]);
    return 0;
  }
  std::printf("%s\n", tkb::describeFirmwareReport(*report).c_str());
  if (!report->restoredSettings.empty()) {
    std::printf("settings sent back after the update:");
    for (const std::string& name : report->restoredSettings) std::printf(" %s", name.c_str());
    std::printf("\n");
  }
  (void)result;
  return report->outcome == tkb::FirmwareOutcome::Updated ? 0 : kExitUpdateFailed;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    usage(stdout);
    return 0;
  }
  if (args.size() == 1 && args[0] == "doctor") {
    tkb::setTraceSink(stderr);
    const tkb::DoctorReport report = tkb::runDoctor();
    std::fputs(report.text().c_str(), stdout);
    return report.problems() == 0 ? 0 : 1;
  }
  int passes = 2;
  if (args.size() >= 2 && args[0] == "--passes") {
    if (!parseInt(args[1].c_str(), passes) || passes < 1) {
      usage();
      return kExitUsage;
    }
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty()) {
    usage();
    return kExitUsage;
  }
  const std::string command = args[0];
  std::function<void(Controller&)> setAction;
  std::optional<ProfileCommand> profileCommand;
  if (command == "set") {
    setAction = parseSet({args.begin() + 1, args.end()});
    if (!setAction) return kExitUsage;
  } else if (command == "profile") {
    profileCommand = parseProfile({args.begin() + 1, args.end()});
    if (!profileCommand) return kExitUsage;
  } else if (command == "firmware") {
    const auto firmware = parseFirmware({args.begin() + 1, args.end()});
    if (!firmware) return kExitUsage;
    tkb::setTraceSink(stderr);
    return runFirmware(*firmware, passes);
  } else if ((command != "probe" && command != "dump" && command != "calibrate") || args.size() != 1) {
    usage();
    return kExitUsage;
  }

  tkb::setTraceSink(stderr);
  Controller controller;
  std::string oldPort;
  const int result = connect(controller, passes, {}, &oldPort);
  if (!controller.state.connected) return kExitNoController;

  int status = 0;
  if (command == "probe") {
    const auto& v = controller.state.firmwareVersion;
    std::printf("result %d\nport %s\nfirmware %d.%d.%d\n", result, controller.portName().c_str(),
                v[0], v[1], v[2]);
    if (isOld(oldPort)) {
      std::printf("firmware older than 7.06 on %s: update it with 'tkb-cli firmware update'\n",
                  oldPort.c_str());
      controller.closeLink();
      return kExitOldFirmware;
    }
  } else if (command == "dump") {
    // Read-only: the model and colour are not sent back as the start-up does.
    const tkb::ReadReport report = tkb::readControllerAtStartup(controller, nullptr, false);
    std::fflush(stderr);
    printState(controller.state, controller.portName());
    if (!report.ok()) {
      message("tkb-cli dump: the controller stopped answering (%s)", report.describe().c_str());
      status = kExitNotAnswering;
    }
  } else if (command == "calibrate") {
    status = runCalibrate(controller);
  } else if (profileCommand) {
    status = runProfile(controller, *profileCommand);
  } else {
    setAction(controller);
  }
  // A frame that could not be written is an exchange that failed.
  if (status == 0 && controller.failedWrites() > 0) {
    message("tkb-cli: %d frame%s could not be written to the controller", controller.failedWrites(),
            controller.failedWrites() > 1 ? "s" : "");
    status = kExitNotAnswering;
  }
  controller.closeLink();
  return status;
}
