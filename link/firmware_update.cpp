#include "link/firmware_update.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "link/trace.h"

extern char** environ;

namespace tkb {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWaitSliceMs = 20;

bool stopRequested(const FirmwareUpdateOptions& options) {
  return options.stop != nullptr && options.stop->load();
}

std::string joined(const std::vector<std::string>& argv) {
  std::string line;
  for (const std::string& arg : argv) line += (line.empty() ? "" : " ") + arg;
  return line;
}

// Starts argv[0] (looked up in PATH) with the tool folder as its working directory.
// Returns the child's id, or -1 with a trace line.
pid_t startTool(const std::vector<std::string>& argv, const std::string& folder) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  pid_t pid = -1;
  const int error = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    trace("\nNo se pudo iniciar %s en %s: %s\n", argv[0].c_str(), folder.c_str(),
          std::strerror(error));
    return -1;
  }
  return pid;
}

enum class WaitEnd { AfterTime, WhenToolEnds };

// Waits ms (cut short by the stop flag, and by the end of the tool when asked), reaping the
// child when it ends meanwhile. Returns whether the child has ended (always true for -1).
bool waitReaping(pid_t& pid, int ms, const FirmwareUpdateOptions& options,
                 WaitEnd end = WaitEnd::AfterTime) {
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (!stopRequested(options)) {
    if (pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == pid) pid = -1;
    if (pid <= 0 && end == WaitEnd::WhenToolEnds) break;
    const auto left = until - Clock::now();
    if (left <= Clock::duration::zero()) break;
    std::this_thread::sleep_for(
        std::min<Clock::duration>(left, std::chrono::milliseconds(kWaitSliceMs)));
  }
  return pid <= 0;
}

// A tool that outlived its wait is ended so that it holds no port and leaves no zombie.
void endTool(pid_t& pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  pid = -1;
}

// Every existing port name, in ascending order, with the probe's trace lines. Nothing is
// opened.
std::vector<std::string> rescanPorts() {
  std::vector<std::string> ports;
  for (int number = 0; number < kPortCount; ++number) {
    const std::string name = portName(number);
    const std::optional<std::string> target = lookUpPort(name);
    trace("\n%s -> %s", name.c_str(), target ? target->c_str() : "");
    if (!target) continue;
    trace("\nSerial -> %s", portPath(name).c_str());
    ports.push_back(name);
  }
  return ports;
}

bool fileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

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
                                      const std::string& avrdudeConfig) {
  // avrdude wants the device itself, so the port name is given as its path.
  return {"avrdude", "-C" + avrdudeConfig, "-patmega32u4", "-cavr109",
          "-P" + portPath(bootloaderPort), "-b57600", "-D",
          std::string("-Uflash:w:") + kFirmwareImage + ":i"};
}

std::optional<int> updateFirmware(Controller& controller, const ProbeTables& tables,
                                  const FirmwareUpdateOptions& options) {
  // Without the image the controller would be left in its bootloader for nothing.
  const std::string image = options.toolFolder + "/" + kFirmwareImage;
  if (!fileExists(image)) {
    trace("\nNo hay firmware para cargar: %s not found, the controller keeps firmware %d.%02d\n",
          image.c_str(), controller.state.firmwareVersion[0], controller.state.firmwareVersion[1]);
    return kFirmwareUpdateUnavailable;
  }

  // The port must be free for the touch.
  const std::string controllerIdentity = portIdentity(tables.controllerPort);
  controller.closeLink();
  auto compare = [&] {
    const std::vector<std::string> after = rescanPorts();
    const std::string now = portIdentity(tables.controllerPort);
    return comparePortLists(tables.portsSeen, after, tables.controllerPort,
                            !now.empty() && now != controllerIdentity);
  };

  const std::vector<std::string> request = bootloaderRequestCommand(tables.controllerPort, options.bootloaderScript);
  trace("\ncomando: %s\n", joined(request).c_str());
  pid_t touch = startTool(request, options.toolFolder);
  waitReaping(touch, options.bootloaderWaitMs, options);
  endTool(touch);
  if (stopRequested(options)) return std::nullopt;

  PortComparison found = compare();
  // The bootloader may be slow to enumerate: look again for a bounded time.
  const auto searchEnd = Clock::now() + std::chrono::milliseconds(options.newPortSearchMs);
  while (found.change == PortChange::NoNewPort && Clock::now() < searchEnd) {
    pid_t none = -1;
    waitReaping(none, options.newPortRescanMs, options);
    if (stopRequested(options)) return std::nullopt;
    found = compare();
  }
  switch (found.change) {
    case PortChange::OtherPortVanished:
      trace("\nOtro puerto ha desaparecido: no update\n");
      return kProbeResultUpdateFailed;
    case PortChange::SeveralNewPorts:
      trace("\nVarios puertos nuevos: no update\n");
      return kProbeResultUpdateFailed;
    case PortChange::NoNewPort:
      trace("\nNingun puerto nuevo: no update\n");
      return kProbeResultUpdateFailed;
    case PortChange::BootloaderFound:
      break;
  }

  trace("\nLista1 -> %s", tables.controllerPort.c_str());
  trace("\nLista2 -> %s", found.newPort.c_str());
  const std::vector<std::string> flash = flashCommand(found.newPort, options.avrdudeConfig);
  trace("\nCargamos firmware !!!! en -> %s", found.newPort.c_str());
  trace("\nCargamos firmware !!!! -> %s", joined(flash).c_str());
  pid_t flasher = startTool(flash, options.toolFolder);
  if (!waitReaping(flasher, options.flashWaitMs, options) && !stopRequested(options)) {
    trace("\navrdude sigue cargando, esperamos\n");
    waitReaping(flasher, kFlashToolLimitMs, options, WaitEnd::WhenToolEnds);
  }
  endTool(flasher);
  return std::nullopt;
}

FirmwareUpdater makeFirmwareUpdater(FirmwareUpdateOptions options) {
  return [options](Controller& controller, const ProbeTables& tables) {
    return updateFirmware(controller, tables, options);
  };
}

}  // namespace tkb
