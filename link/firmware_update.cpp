#include "link/firmware_update.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <thread>

#include "link/trace.h"
#include "link/usb_port.h"

extern char** environ;

namespace tkb {
namespace {

using WallClock = std::chrono::steady_clock;

bool stopRequested(const FirmwareUpdateOptions& options) {
  return options.stop != nullptr && options.stop->load();
}

void report(const FirmwareUpdateOptions& options, FirmwareStage stage, int percent = -1) {
  if (options.progress) options.progress({stage, percent});
}

std::string joined(const std::vector<std::string>& argv) {
  std::string line;
  for (const std::string& arg : argv) line += (line.empty() ? "" : " ") + arg;
  return line;
}

// A started tool: its id and, when its output is collected, the reading end of its pipe.
struct Tool {
  pid_t pid = -1;
  int output = -1;
};

// Starts argv[0] (looked up in PATH) in the tool folder. The child keeps only standard
// input, output and error (output and error go to a pipe when collectOutput), and runs in
// its own process group so that a Ctrl-C meant for us does not end it half-way.
Tool startTool(const std::vector<std::string>& argv, const std::string& folder, bool collectOutput) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  int pipeEnds[2] = {-1, -1};
  if (collectOutput && ::pipe2(pipeEnds, O_CLOEXEC) != 0) pipeEnds[0] = pipeEnds[1] = -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  if (pipeEnds[1] >= 0) {
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
  }
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  Tool tool;
  const int error = ::posix_spawnp(&tool.pid, args[0], &actions, &attributes, args.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (pipeEnds[1] >= 0) ::close(pipeEnds[1]);
  if (error != 0) {
    trace("\nNo se pudo iniciar %s en %s: %s\n", argv[0].c_str(), folder.c_str(),
          std::strerror(error));
    if (pipeEnds[0] >= 0) ::close(pipeEnds[0]);
    return {};
  }
  tool.output = pipeEnds[0];
  return tool;
}

// Waits for the tool to end, at most limitMs, handing its output (if collected) to onOutput
// as it arrives; a tool still running then is ended. Its exit status, -1 when it had to be
// ended or did not exit normally.
int finishTool(Tool& tool, int limitMs, const std::function<void(std::string_view)>& onOutput) {
  const auto deadline = WallClock::now() + std::chrono::milliseconds(limitMs);
  int status = 0;
  bool reaped = false;
  while (!reaped) {
    const int left = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - WallClock::now()).count());
    if (left <= 0) break;
    if (tool.output >= 0) {
      pollfd p{tool.output, POLLIN, 0};
      if (::poll(&p, 1, left) > 0) {
        char buffer[512];
        const ssize_t n = ::read(tool.output, buffer, sizeof buffer);
        if (n > 0) {
          if (onOutput) onOutput({buffer, static_cast<size_t>(n)});
          continue;
        }
        if (n < 0 && errno == EINTR) continue;
        ::close(tool.output);  // end of output: the tool is ending
        tool.output = -1;
      }
      continue;
    }
    const pid_t r = ::waitpid(tool.pid, &status, WNOHANG);
    if (r == tool.pid || (r < 0 && errno == ECHILD)) {
      reaped = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, 10)));
  }
  if (!reaped) {
    trace("\nLa herramienta no termina: ended after %d ms\n", limitMs);
    ::kill(tool.pid, SIGKILL);
    ::waitpid(tool.pid, &status, 0);
    status = -1;
  }
  if (tool.output >= 0) ::close(tool.output);
  tool = {};
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Every existing port name, in ascending order. With traceLines, the probe's lines for each
// name. Nothing is opened.
std::vector<std::string> rescanPorts(bool traceLines) {
  std::vector<std::string> ports;
  for (int number = 0; number < kPortCount; ++number) {
    const std::string name = portName(number);
    const std::optional<std::string> target = lookUpPort(name);
    if (traceLines) trace("\n%s -> %s", name.c_str(), target ? target->c_str() : "");
    if (!target) continue;
    if (traceLines) trace("\nSerial -> %s", portPath(name).c_str());
    ports.push_back(name);
  }
  return ports;
}

std::map<std::string, std::string> portIdentities() {
  std::map<std::string, std::string> identities;
  for (const std::string& name : rescanPorts(false)) identities[name] = portIdentity(name);
  return identities;
}

bool fileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The bootloader is ready for avrdude once its port opens.
bool portOpens(const std::string& name) {
  const int fd = ::open(portPath(name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// avrdude's output, kept whole for service: appended to the log with a heading per run.
class FlashLog {
 public:
  explicit FlashLog(const std::string& path) {
    if (path.empty()) return;
    file_ = std::fopen(path.c_str(), "ae");
    if (file_ == nullptr) trace("\nNo se pudo abrir %s: %s\n", path.c_str(), std::strerror(errno));
  }
  ~FlashLog() {
    if (file_ != nullptr) std::fclose(file_);
  }
  void heading(const std::string& commandLine) {
    if (file_ == nullptr) return;
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S UTC", std::gmtime(&now));
    std::fprintf(file_, "\n==== %s: %s\n", stamp, commandLine.c_str());
    std::fflush(file_);
  }
  void write(std::string_view text) {
    if (file_ == nullptr) return;
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fflush(file_);
  }

 private:
  std::FILE* file_ = nullptr;
};

// Clears the busy flag however the update ends.
struct BusyWhileAlive {
  std::atomic<bool>* flag;
  ~BusyWhileAlive() {
    if (flag != nullptr) *flag = false;
  }
};

// Looks for the controller on the ports that changed since `bootloaderPorts` (new names,
// or names standing for another device now) until one identifies or the time is up.
// The link stays open on it.
std::optional<std::array<int, 3>> waitForController(Controller& controller,
                                                    const std::map<std::string, std::string>& bootloaderPorts,
                                                    const FirmwareUpdateOptions& options,
                                                    std::string& foundPort) {
  const auto deadline = WallClock::now() + std::chrono::milliseconds(options.controllerReturnMs);
  do {
    for (const auto& [name, identity] : portIdentities()) {
      const auto before = bootloaderPorts.find(name);
      if (before != bootloaderPorts.end() && before->second == identity) continue;
      // Another maker's device that was plugged in meanwhile is not pulsed.
      if (const auto ids = portUsbIds(name); ids && !mayBePedalSet(*ids)) continue;
      openAndConfigure(controller.link(), portPath(name));
      if (const auto version = identifyController(controller.link())) {
        foundPort = name;
        return version;
      }
      controller.closeLink();
    }
    pause(options.portPollMs);
  } while (WallClock::now() < deadline);
  return std::nullopt;
}

}  // namespace

std::vector<FirmwareProgress> AvrdudeProgress::feed(std::string_view output) {
  std::vector<FirmwareProgress> changes;
  auto changed = [&] {
    if (!changes.empty() && changes.back().stage == stage_) {
      changes.back().percent = percent_;
    } else {
      changes.push_back({stage_, percent_});
    }
  };
  for (const char c : output) {
    tail_.push_back(c);
    if (tail_.size() > 16) tail_.erase(0, tail_.size() - 16);
    auto endsWith = [this](std::string_view s) {
      return tail_.size() >= s.size() && tail_.compare(tail_.size() - s.size(), s.size(), s) == 0;
    };
    if (endsWith("Writing |") || (endsWith("Reading |") && wrote_)) {
      // A new bar: the one before it is finished and reported as it ended.
      changes.push_back({wrote_ ? FirmwareStage::Verifying : FirmwareStage::Writing, 0});
      stage_ = changes.back().stage;
      wrote_ = true;
      inBar_ = true;
      hashes_ = 0;
      percent_ = 0;
    } else if (inBar_ && c == '#') {
      percent_ = std::min(100, ++hashes_ * 2);
      changed();
    } else if (inBar_ && c == '|') {
      inBar_ = false;
    }
  }
  return changes;
}

PortComparison comparePortLists(const std::vector<std::string>& before,
                                const std::vector<std::string>& after,
                                const std::string& controllerPort, bool controllerPortReplaced) {
  auto contains = [](const std::vector<std::string>& list, const std::string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
  };
  for (const std::string& name : before)
    if (!contains(after, name) && name != controllerPort) return {PortChange::OtherPortVanished, {}};
  std::vector<std::string> added;
  for (const std::string& name : after)
    if (!contains(before, name) && !contains(added, name)) added.push_back(name);
  if (controllerPortReplaced && contains(after, controllerPort) && !contains(added, controllerPort))
    added.push_back(controllerPort);
  if (added.size() > 1) return {PortChange::SeveralNewPorts, {}};
  if (added.empty()) return {PortChange::NoNewPort, {}};
  return {PortChange::BootloaderFound, added.front()};
}

std::vector<std::string> bootloaderRequestCommand(const std::string& controllerPort,
                                                  const std::string& script) {
  return {"sh", script, controllerPort + ":"};
}

std::vector<std::string> flashCommand(const std::string& bootloaderPort,
                                      const std::string& avrdudeConfig, const std::string& image) {
  // avrdude wants the device itself, so the port name is given as its path.
  return {"avrdude", "-C" + avrdudeConfig, "-patmega32u4", "-cavr109",
          "-P" + portPath(bootloaderPort), "-b57600", "-D", "-Uflash:w:" + image + ":i"};
}

std::string describeFirmwareReport(const FirmwareReport& r) {
  char text[512];
  switch (r.outcome) {
    case FirmwareOutcome::Updated:
      std::snprintf(text, sizeof text, "the pedal firmware is now %d.%02d", r.versionAfter[0],
                    r.versionAfter[1]);
      break;
    case FirmwareOutcome::NoImage:
      std::snprintf(text, sizeof text, "no firmware image: %s not found", r.image.c_str());
      break;
    case FirmwareOutcome::SettingsUnread:
      std::snprintf(text, sizeof text, "the pedal settings could not be read, so the update was not started");
      break;
    case FirmwareOutcome::AlreadyTried:
      std::snprintf(text, sizeof text, "the update was already tried in this run");
      break;
    case FirmwareOutcome::BootloaderNotFound:
      std::snprintf(text, sizeof text, "the bootloader's serial port could not be identified");
      break;
    case FirmwareOutcome::ToolNotStarted:
      std::snprintf(text, sizeof text, "avrdude could not be started (is it installed?)");
      break;
    case FirmwareOutcome::ToolFailed:
      std::snprintf(text, sizeof text, "avrdude failed (exit status %d); its output is in %s",
                    r.toolStatus, r.logPath.empty() ? "no log" : r.logPath.c_str());
      break;
    case FirmwareOutcome::NotBack:
      std::snprintf(text, sizeof text, "the pedals did not come back after the update; avrdude's output is in %s",
                    r.logPath.empty() ? "no log" : r.logPath.c_str());
      break;
    case FirmwareOutcome::StillOld:
      std::snprintf(text, sizeof text, "the pedals still report firmware %d.%02d; avrdude's output is in %s",
                    r.versionAfter[0], r.versionAfter[1], r.logPath.empty() ? "no log" : r.logPath.c_str());
      break;
  }
  return text;
}

std::optional<int> updateFirmware(Controller& controller, const ProbeTables& tables,
                                  const FirmwareUpdateOptions& options) {
  FirmwareReport result;
  result.logPath = options.logPath;
  result.image = options.image.empty() ? options.toolFolder + "/" + kFirmwareImage : options.image;
  auto finish = [&](FirmwareOutcome outcome) {
    result.outcome = outcome;
    trace("\nActualizacion de firmware: %s\n", describeFirmwareReport(result).c_str());
    if (options.finished) options.finished(result);
  };
  const std::string& oldPort = tables.oldFirmwarePort.empty() ? tables.controllerPort : tables.oldFirmwarePort;

  // Without the image the controller would be left in its bootloader for nothing.
  if (!fileExists(result.image)) {
    trace("\nNo hay firmware para cargar: %s not found, the controller keeps firmware %d.%02d\n",
          result.image.c_str(), controller.state.firmwareVersion[0], controller.state.firmwareVersion[1]);
    finish(FirmwareOutcome::NoImage);
    return kFirmwareUpdateUnavailable;
  }
  if (stopRequested(options)) return std::nullopt;

  // What the driver set must survive the update: read it all first, on the old port.
  openAndConfigure(controller.link(), portPath(oldPort));
  if (options.settings && !options.settings->saveBefore(controller)) {
    controller.closeLink();
    finish(FirmwareOutcome::SettingsUnread);
    return kFirmwareUpdateUnavailable;
  }
  const std::string controllerIdentity = portIdentity(oldPort);
  // The port must be free for the touch.
  controller.closeLink();
  if (stopRequested(options)) return std::nullopt;

  // From here on the update runs to its end.
  if (options.busy != nullptr) *options.busy = true;
  BusyWhileAlive busy{options.busy};

  report(options, FirmwareStage::Restarting);
  const std::vector<std::string> request = bootloaderRequestCommand(oldPort, options.bootloaderScript);
  trace("\ncomando: %s\n", joined(request).c_str());
  Tool touch = startTool(request, options.toolFolder, false);
  if (touch.pid > 0) finishTool(touch, kTouchToolLimitMs, {});

  // The bootloader's port, as soon as it appears and opens.
  report(options, FirmwareStage::WaitingForBootloader);
  PortComparison found;
  std::string ready;  // the new port that opened at the last look
  const auto searchEnd = WallClock::now() + std::chrono::milliseconds(options.bootloaderSearchMs);
  for (bool first = true;; first = false) {
    if (!first) pause(options.portPollMs);
    const std::vector<std::string> after = rescanPorts(first);
    const std::string now = portIdentity(oldPort);
    found = comparePortLists(tables.portsSeen, after, oldPort, !now.empty() && now != controllerIdentity);
    // The same single new port at two looks in a row: a second device that shows up with
    // the bootloader is seen before anything is written.
    const bool opens = found.change == PortChange::BootloaderFound && portOpens(found.newPort);
    if (opens && found.newPort == ready) break;
    ready = opens ? found.newPort : std::string();
    if (found.change == PortChange::OtherPortVanished || found.change == PortChange::SeveralNewPorts) break;
    if (WallClock::now() >= searchEnd) break;
  }
  switch (found.change) {
    case PortChange::OtherPortVanished:
      trace("\nOtro puerto ha desaparecido: no update\n");
      finish(FirmwareOutcome::BootloaderNotFound);
      return kProbeResultUpdateFailed;
    case PortChange::SeveralNewPorts:
      trace("\nVarios puertos nuevos: no update\n");
      finish(FirmwareOutcome::BootloaderNotFound);
      return kProbeResultUpdateFailed;
    case PortChange::NoNewPort:
      trace("\nNingun puerto nuevo: no update\n");
      finish(FirmwareOutcome::BootloaderNotFound);
      return kProbeResultUpdateFailed;
    case PortChange::BootloaderFound:
      break;
  }

  trace("\nLista1 -> %s", oldPort.c_str());
  trace("\nLista2 -> %s", found.newPort.c_str());
  const std::vector<std::string> flash =
      flashCommand(found.newPort, options.avrdudeConfig, options.image.empty() ? kFirmwareImage : options.image);
  trace("\nCargamos firmware !!!! en -> %s", found.newPort.c_str());
  trace("\nCargamos firmware !!!! -> %s", joined(flash).c_str());
  const std::map<std::string, std::string> bootloaderPorts = portIdentities();
  report(options, FirmwareStage::Writing, 0);
  FlashLog log(options.logPath);
  log.heading(joined(flash));
  Tool flasher = startTool(flash, options.toolFolder, true);
  bool toolOk = false;
  if (flasher.pid <= 0) {
    log.write("avrdude could not be started\n");
    result.outcome = FirmwareOutcome::ToolNotStarted;
  } else {
    AvrdudeProgress progress;
    result.toolStatus = finishTool(flasher, kFlashToolLimitMs, [&](std::string_view text) {
      log.write(text);
      for (const FirmwareProgress& p : progress.feed(text)) report(options, p.stage, p.percent);
    });
    trace("\navrdude -> %d\n", result.toolStatus);
    toolOk = result.toolStatus == 0;
    if (!toolOk) result.outcome = FirmwareOutcome::ToolFailed;
  }

  // Back to the program: with new firmware after a good write, with the old one otherwise
  // (the bootloader goes back by itself when left alone).
  report(options, FirmwareStage::WaitingForController);
  std::string backOn;
  const auto version = waitForController(controller, bootloaderPorts, options, backOn);
  if (!version) {
    controller.closeLink();
    finish(toolOk ? FirmwareOutcome::NotBack : result.outcome);
    return std::nullopt;
  }
  result.versionAfter = *version;
  trace("\nControlador de vuelta en %s: %d.%d.%d\n", backOn.c_str(), (*version)[0], (*version)[1],
        (*version)[2]);
  if (options.settings) result.restoredSettings = options.settings->restoreAfter(controller);
  controller.closeLink();
  if (!toolOk) {
    finish(result.outcome);
  } else if ((*version)[0] * 100 + (*version)[1] < kMinimumFirmware) {
    finish(FirmwareOutcome::StillOld);
  } else {
    finish(FirmwareOutcome::Updated);
  }
  return std::nullopt;
}

FirmwareUpdater makeFirmwareUpdater(FirmwareUpdateOptions options) {
  auto tried = std::make_shared<bool>(false);
  return [options, tried](Controller& controller, const ProbeTables& tables) -> std::optional<int> {
    if (*tried) {
      FirmwareReport again;
      again.outcome = FirmwareOutcome::AlreadyTried;
      trace("\nActualizacion de firmware: %s\n", describeFirmwareReport(again).c_str());
      return kFirmwareUpdateUnavailable;
    }
    const std::optional<int> outcome = updateFirmware(controller, tables, options);
    // Only a probe stopped before the touch leaves the attempt for later.
    *tried = !stopRequested(options);
    return outcome;
  };
}

}  // namespace tkb
