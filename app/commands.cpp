#include "app/commands.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "app/app_config.h"
#include "app/calibration.h"
#include "app/firmware_settings.h"
#include "app/install_layout.h"
#include "app/operations.h"
#include "app/pedal_commands.h"
#include "app/set_command.h"
#include "link/firmware_update.h"
#include "link/pedal_input.h"
#include "link/probe.h"
#include "link/trace.h"

namespace tkb::cli {

// A message of tkb-cli's own, on a line of its own: the trace lines before it end without
// a line break.
void commandMessage(const Io& io, const char* format, ...) {
  std::fputc('\n', io.err);
  va_list args;
  va_start(args, format);
  std::vfprintf(io.err, format, args);
  va_end(args);
  std::fputc('\n', io.err);
}

namespace {

void usage(std::FILE* out) {
  std::fprintf(out,
               "usage: tkb-cli [--passes N] probe\n"
               "       tkb-cli [--passes N] dump\n"
               "       tkb-cli [--passes N] set FIELD VALUE... [FIELD VALUE...]\n"
               "       tkb-cli [--passes N] profile save|load FILE.tkb|FILE.tks\n"
               "       tkb-cli [--passes N] profile snapshot\n"
               "       tkb-cli [--passes N] profile restore TEXT\n"
               "       tkb-cli [--passes N] run --profile FILE.tkb|FILE.tks -- COMMAND [ARGS...]\n"
               "       tkb-cli [--passes N] calibrate\n"
               "       tkb-cli [--passes N] firmware status\n"
               "       tkb-cli [--passes N] firmware update [--image FILE.hex]\n"
               "       tkb-cli doctor\n"
               "       tkb-cli record FILE.csv [--seconds N]\n"
               "       tkb-cli [--passes N] pedal-check [--apply]\n"
               "Fields: %s", settableFields().c_str());
  std::fprintf(out, "\nThe controller is looked for on TKB_SERIAL_PREFIX<n> (default /dev/ttyACM<n>).\n");
}

// A file named on the command line, in the caller's folder when it is relative.
std::string inFolder(const std::string& path, const std::string& folder) {
  if (path.empty() || path[0] == '/' || folder.empty()) return path;
  return folder + "/" + path;
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

std::string jsonCurve(const Curve& c) {
  std::string out = "[";
  for (int i = 0; i < kCurvePoints; ++i) out += (i ? ", " : "") + std::to_string(c[i]);
  return out + "]";
}

std::string jsonReadings(const PedalReadings& r) {
  return "{\"clutch\": " + std::to_string(r.clutch) + ", \"brake\": " + std::to_string(r.brake) +
         ", \"throttle\": " + std::to_string(r.throttle) + "}";
}

void printState(std::FILE* out, const ControllerState& s, const std::string& port) {
  auto b = [](bool v) { return v ? "true" : "false"; };
  // A value the controller did not give is null, never a made-up 0.
  auto known = [&s](Field f, const std::string& text) { return s.isKnown(f) ? text : std::string("null"); };
  auto num = [&](Field f, int v) { return known(f, std::to_string(v)); };
  auto flag = [&](Field f, bool v) { return known(f, b(v)); };
  const auto& v = s.firmwareVersion;
  std::fprintf(out, "{\n");
  std::fprintf(out, "  \"port\": %s,\n", jsonString(port).c_str());
  std::fprintf(out, "  \"connected\": %s,\n  \"hasClutch\": %s,\n  \"probeResult\": %d,\n", b(s.connected),
               b(s.hasClutch), s.probeResult);
  std::fprintf(out, "  \"firmwareVersion\": %s,\n",
               known(Field::FirmwareVersion, "[" + std::to_string(v[0]) + ", " + std::to_string(v[1]) + ", " +
                                                 std::to_string(v[2]) + "]").c_str());
  std::fprintf(out, "  \"proProfileActive\": %s,\n  \"sportProfileActive\": %s,\n",
               flag(Field::SportProfileActive, s.proProfileActive).c_str(),
               flag(Field::SportProfileActive, s.sportProfileActive).c_str());
  std::fprintf(out, "  \"sportProfileLoaded\": %s,\n  \"calibrated\": %s,\n  \"zonesEnabled\": %s,\n",
               flag(Field::SportProfileLoaded, s.sportProfileLoaded).c_str(),
               flag(Field::Calibrated, s.calibrated).c_str(), flag(Field::ZonesEnabled, s.zonesEnabled).c_str());
  std::fprintf(out, "  \"language\": %s,\n", known(Field::Language, jsonString(s.language)).c_str());
  std::fprintf(out, "  \"brakeMax\": %s,\n", num(Field::BrakeMax, s.brakeMax).c_str());
  for (Field f : {Field::ClutchUpper, Field::ClutchLower, Field::BrakeUpper, Field::BrakeLower,
                  Field::ThrottleUpper, Field::ThrottleLower})
    std::fprintf(out, "  \"%s\": %s,\n", findSetting(f)->name, num(f, settingValue(s, f)).c_str());
  for (Field f : {Field::ClutchCurve, Field::BrakeCurve, Field::ThrottleCurve})
    std::fprintf(out, "  \"%s\": %s,\n", findSetting(f)->name, known(f, jsonCurve(curveOf(s, f))).c_str());
  for (Field f : {Field::LetterAbs, Field::LetterAutoBrake, Field::LetterMas, Field::LetterMenos,
                  Field::LetterMas2, Field::LetterMenos2, Field::AutoBrake, Field::AutoBrake2,
                  Field::Cheto, Field::ChetoActive})
    std::fprintf(out, "  \"%s\": %s,\n", findSetting(f)->name, num(f, settingValue(s, f)).c_str());
  std::fprintf(out, "  \"proProfileName\": %s,\n",
               known(Field::ProProfileName, jsonString(profileNameText(s.proProfileName))).c_str());
  std::fprintf(out, "  \"sportProfileName\": %s,\n",
               known(Field::SportProfileName, jsonString(profileNameText(s.sportProfileName))).c_str());
  std::fprintf(out, "  \"model\": %s,\n  \"color\": %s,\n", num(Field::Model, s.model).c_str(),
               num(Field::Color, s.color).c_str());
  std::fprintf(out, "  \"startReadings\": %s,\n", known(Field::StartReadings, jsonReadings(s.startReadings)).c_str());
  std::fprintf(out, "  \"calibrationReadings\": %s,\n",
               known(Field::CalibrationReadings, jsonReadings(s.calibrationReadings)).c_str());
  std::fprintf(out, "  \"brakeRecalPoint\": %s\n", num(Field::BrakeRecalPoint, s.brakeRecalPoint).c_str());
  std::fprintf(out, "}\n");
}

// ---- profile save / load -------------------------------------------------------------

struct ProfileCommand {
  enum class Action { Save, Load, Snapshot, Restore };
  Action action = Action::Load;
  bool save = false;
  ProfileKind kind = ProfileKind::Pro;
  std::string given;  // as written on the command line: what the messages name
  std::string path;   // in the caller's folder
  std::optional<ProfileSnapshot> snapshot;  // restore
};

// Checks the arguments and the file before anything is sent (exit 2 when wrong).
std::optional<ProfileCommand> parseProfile(const std::vector<std::string>& args, const std::string& folder,
                                           const Io& io) {
  ProfileCommand command;
  if (args.size() == 1 && args[0] == "snapshot") {
    command.action = ProfileCommand::Action::Snapshot;
    return command;
  }
  if (args.size() == 2 && args[0] == "restore") {
    // Checked whole before the controller is looked for: a damaged text sends nothing.
    command.action = ProfileCommand::Action::Restore;
    command.snapshot = ProfileSnapshot::decode(args[1]);
    if (!command.snapshot) {
      std::fprintf(io.err, "tkb-cli profile restore: not a snapshot printed by 'tkb-cli profile snapshot'\n");
      return std::nullopt;
    }
    return command;
  }
  if (args.size() != 2 || (args[0] != "save" && args[0] != "load")) {
    std::fprintf(io.err, "tkb-cli profile: expected 'save FILE' or 'load FILE' (or 'snapshot', 'restore TEXT')\n");
    return std::nullopt;
  }
  command.save = args[0] == "save";
  command.action = command.save ? ProfileCommand::Action::Save : ProfileCommand::Action::Load;
  command.given = args[1];
  command.path = inFolder(args[1], folder);
  const auto kind = profileKindOfPath(command.given);
  if (!kind) {
    std::fprintf(io.err, "tkb-cli profile %s: '%s' is neither a PRO profile (.tkb) nor a sport profile (.tks)\n",
                 args[0].c_str(), command.given.c_str());
    return std::nullopt;
  }
  command.kind = *kind;
  if (command.save) {
    const size_t slash = command.path.find_last_of('/');
    const std::string target = slash == std::string::npos ? "." : command.path.substr(0, slash + 1);
    const size_t givenSlash = command.given.find_last_of('/');
    const std::string named = givenSlash == std::string::npos ? "." : command.given.substr(0, givenSlash + 1);
    if (::access(target.c_str(), W_OK) != 0) {
      std::fprintf(io.err, "tkb-cli profile save: cannot write into '%s': %s\n", named.c_str(), std::strerror(errno));
      return std::nullopt;
    }
    return command;
  }
  // The whole file is checked before anything is sent; a FIFO or device is refused without
  // being opened for reading.
  ControllerState unused;
  if (auto refusal = readProfileFile(command.path, command.kind, unused)) {
    refusal->path = command.given;
    commandMessage(io, "tkb-cli profile load: %s", refusal->message().c_str());
    return std::nullopt;
  }
  return command;
}

// The exit status of a profile command once the controller was found.
int runProfile(Host& host, Controller& controller, const ProfileCommand& command, const Io& io) {
  using Action = ProfileCommand::Action;
  const ReadReport report = host.prepareProfile();
  if (command.action == Action::Snapshot || command.action == Action::Restore) {
    const bool snapshot = command.action == Action::Snapshot;
    if (!report.ok()) {
      commandMessage(io, "tkb-cli profile %s: the controller stopped answering (%s); nothing %s",
              snapshot ? "snapshot" : "restore", report.describe().c_str(), snapshot ? "taken" : "sent");
      return kExitNotAnswering;
    }
    if (!snapshot) {
      if (host.restoreSnapshot(controller, *command.snapshot)) return 0;
      commandMessage(io, "tkb-cli profile restore: the controller did not take the snapshot back");
      return kExitNotAnswering;
    }
    const auto taken = ProfileSnapshot::capture(controller.state, host.currentProfileName());
    if (!taken) {
      commandMessage(io, "tkb-cli profile snapshot: the profile in force is not fully known; nothing taken");
      return kExitNotAnswering;
    }
    std::fprintf(io.out, "%s\n", taken->encode().c_str());
    host.snapshotTaken();
    return 0;
  }
  if (!report.ok()) {
    commandMessage(io, "tkb-cli profile %s: the controller stopped answering (%s); nothing %s",
            command.save ? "save" : "load", report.describe().c_str(), command.save ? "written" : "sent");
    return kExitNotAnswering;
  }
  return host.withProfiles(io, [&](Profiles& profiles) {
    if (command.save) {
      if (!profiles.save(command.kind, command.path)) {
        commandMessage(io, "tkb-cli profile save: '%s' was not written", command.given.c_str());
        return kExitUsage;
      }
      return 0;
    }
    auto refusal = profiles.load(command.kind, command.path);
    if (refusal) {
      refusal->path = command.given;
      commandMessage(io, "tkb-cli profile load: %s", refusal->message().c_str());
      return kExitUsage;
    }
    return 0;
  });
}

// ---- firmware status / update ------------------------------------------------------------

std::optional<FirmwareCommand> parseFirmware(const std::vector<std::string>& args, const std::string& folder,
                                             const Io& io) {
  FirmwareCommand command;
  if (args.size() == 1 && args[0] == "status") return command;
  if (!args.empty() && args[0] == "update") {
    command.update = true;
    if (args.size() == 1) return command;
    if (args.size() == 3 && args[1] == "--image") {
      // avrdude runs in the tool folder: the image is named by its whole path.
      command.image = inFolder(args[2], folder);
      struct stat info {};
      if (::stat(command.image.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
          ::access(command.image.c_str(), R_OK) != 0) {
        std::fprintf(io.err, "tkb-cli firmware update: cannot read '%s'\n", args[2].c_str());
        return std::nullopt;
      }
      return command;
    }
  }
  std::fprintf(io.err, "tkb-cli firmware: expected 'status' or 'update [--image FILE]'\n");
  return std::nullopt;
}

bool isOld(const std::string& oldPort) { return !oldPort.empty(); }

std::string defaultImage(const std::string& base) { return base + "/" + kToolFolder + "/" + kFirmwareImage; }

int firmwareStatus(Host& host, int passes, const Io& io) {
  const std::string base = host.baseFolder(io);
  int result = 0;
  std::string oldPort;
  Controller* controller = host.connect(passes, result, oldPort, io);
  if (controller == nullptr) return kExitNoController;
  const auto& v = controller->state.firmwareVersion;
  const std::string image = defaultImage(base);
  std::fprintf(io.out, "result %d\nport %s\nfirmware %d.%d.%d\nupdate needed %s\nimage %s %s\n", result,
               controller->portName().c_str(), v[0], v[1], v[2], isOld(oldPort) ? "yes" : "no", image.c_str(),
               ::access(image.c_str(), R_OK) == 0 ? "present" : "missing");
  host.release();
  return 0;
}

// The exit status of a command that needs the controller, once it was parsed.
int onController(Host& host, const std::string& command, const std::optional<std::vector<SetAction>>& set,
                 const std::optional<ProfileCommand>& profile, int passes, const Io& io) {
  int result = 0;
  std::string oldPort;
  Controller* found = host.connect(passes, result, oldPort, io);
  if (found == nullptr) return kExitNoController;
  Controller& controller = *found;
  const int failedBefore = controller.failedWrites();
  int status = 0;
  if (command == "probe") {
    const auto& v = controller.state.firmwareVersion;
    std::fprintf(io.out, "result %d\nport %s\nfirmware %d.%d.%d\n", result, controller.portName().c_str(), v[0],
                 v[1], v[2]);
    if (isOld(oldPort)) {
      std::fprintf(io.out, "firmware older than 7.06 on %s: update it with 'tkb-cli firmware update'\n",
                   oldPort.c_str());
      host.release();
      return kExitOldFirmware;
    }
  } else if (command == "dump") {
    // Read-only: the model and colour are not sent back as the start-up does.
    host.beginDump();
    const ReadReport report = readControllerAtStartup(controller, nullptr, false);
    std::fflush(io.err);
    printState(io.out, controller.state, controller.portName());
    host.endDump();
    if (!report.ok()) {
      commandMessage(io, "tkb-cli dump: the controller stopped answering (%s)", report.describe().c_str());
      status = kExitNotAnswering;
    }
  } else if (profile) {
    status = runProfile(host, controller, *profile, io);
  } else if (set) {
    status = runSet(host, controller, *set, io);
  }
  // A frame that could not be written is an exchange that failed.
  const int failed = controller.failedWrites() - failedBefore;
  if (status == 0 && failed > 0) {
    commandMessage(io, "tkb-cli: %d frame%s could not be written to the controller", failed, failed > 1 ? "s" : "");
    status = kExitNotAnswering;
  }
  host.release();
  return status;
}

int dispatch(std::vector<std::string> args, Host& host, const std::string& folder, const Io& io) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    usage(io.out);
    return 0;
  }
  if (args.size() == 1 && args[0] == "doctor") {
    const DoctorReport report = runDoctor(host.doctorSetup());
    std::fputs(report.text().c_str(), io.out);
    return report.problems() == 0 ? 0 : 1;
  }
  int passes = 2;
  if (commandIndex(args) == 2) {
    if (!parsePasses(args[1], passes)) {
      usage(io.err);
      return kExitUsage;
    }
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty()) {
    usage(io.err);
    return kExitUsage;
  }
  const std::string command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  std::optional<std::vector<SetAction>> set;
  std::optional<ProfileCommand> profile;
  if (command == "set") {
    set = parseSet(rest, io);
    if (!set) return kExitUsage;
  } else if (command == "profile") {
    profile = parseProfile(rest, folder, io);
    if (!profile) return kExitUsage;
  } else if (command == "firmware") {
    const auto firmware = parseFirmware(rest, folder, io);
    if (!firmware) return kExitUsage;
    return firmware->update ? host.firmwareUpdate(*firmware, passes, io) : firmwareStatus(host, passes, io);
  } else if (isPedalCommand(command)) {
    return runPedalCommand(command, rest, host, passes, folder, io);
  } else if (command == "calibrate" && rest.empty()) {
    return host.calibrate(passes, io);
  } else if ((command != "probe" && command != "dump") || !rest.empty()) {
    usage(io.err);
    return kExitUsage;
  }
  return onController(host, command, set, profile, passes, io);
}

}  // namespace

bool Host::restoreSnapshot(Controller& controller, const ProfileSnapshot& snapshot) {
  Operations operations(controller);
  return snapshot.restore(operations);
}

bool profileLoadable(const std::string& file, const std::string& workingDirectory, const Io& io) {
  return parseProfile({"load", file}, workingDirectory, io).has_value();
}

std::size_t commandIndex(const std::vector<std::string>& args) {
  return args.size() >= 2 && args[0] == "--passes" ? 2 : 0;
}

bool parsePasses(const std::string& text, int& passes) { return parseInt(text.c_str(), passes) && passes >= 1; }

bool worksOnThePedals(const std::vector<std::string>& args) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) return false;
  const std::size_t at = commandIndex(args);
  return !(at < args.size() && isPedalCommand(args[at]));
}

int Host::runCommandLine(const std::vector<std::string>& args, const std::string& workingDirectory, const Io& io) {
  return runCommand(args, *this, workingDirectory, io);
}

int runCommand(const std::vector<std::string>& args, Host& host, const std::string& workingDirectory,
               const Io& io) {
  // The link's trace lines go to the command's standard error while it runs.
  std::FILE* previous = setThreadTraceSink(io.err);
  const int status = dispatch(args, host, workingDirectory, io);
  std::fflush(io.out);
  std::fflush(io.err);
  setThreadTraceSink(previous);
  return status;
}

}  // namespace tkb::cli
