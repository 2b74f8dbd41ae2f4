// How long the firmware update takes against the emulated controller, with the real waits
// (5 s after the bootloader request, 10 s after starting avrdude), the real wkf/modo.sh and
// the real avrdude: the whole probe-update-probe sequence, and avrdude's own share, for a
// small image and for a full 28 KiB program. Run by hand: build/bench/bench_firmware_update
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "emulator/intel_hex.h"
#include "emulator/pedal_emulator.h"
#include "link/firmware_update.h"
#include "link/trace.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

extern char** environ;

namespace {

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// avrdude alone against a bootloader that is already up.
double avrdudeSeconds(const fs::path& wkf, const std::string& port) {
  const std::vector<std::string> command = tkb::flashCommand(port);
  std::vector<char*> argv;
  for (const std::string& a : command) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, wkf.c_str());
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto start = Clock::now();
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) return -1;
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? secondsSince(start) : -1;
}

}  // namespace

int main() {
  char pattern[] = "/tmp/tkb-bench-fw-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return 1;
  const fs::path dir = pattern;
  const fs::path wkf = dir / "wkf";
  fs::create_directory(wkf);
  fs::copy_file(fs::path(TKB_STAGE_DIR) / "wkf" / "modo.sh", wkf / "modo.sh");
  fs::copy_file(fs::path(TKB_STAGE_DIR) / "wkf" / "avrdude.conf", wkf / "avrdude.conf");
  ::setenv("TKB_SERIAL_PREFIX", (dir / "ttyACM").c_str(), 1);
  tkb::setTraceEnabled(false);

  for (const size_t size : {size_t{300}, size_t{28672}}) {
    const std::vector<uint8_t> image = tkb::emu::patternImage(size, 131);
    tkb::emu::writeIntelHex((wkf / tkb::kFirmwareImage).string(), image);

    tkb::emu::FirmwareState old;
    old.versionMinor = 5;
    tkb::emu::PedalEmulator pedals(old);
    pedals.start((dir / "ttyACM7").string());
    tkb::Controller controller;
    tkb::ProbeOptions probe;
    tkb::FirmwareUpdateOptions update;
    update.toolFolder = wkf.string();
    probe.firmwareUpdate = tkb::makeFirmwareUpdater(update);
    probe.maxPasses = 3;
    const auto start = Clock::now();
    const int result = tkb::probeController(controller, probe);
    const double whole = secondsSince(start);
    const std::vector<uint8_t> flash = pedals.flash();
    const bool equal = std::equal(image.begin(), image.end(), flash.begin());
    pedals.stop();

    // avrdude's share, measured on its own.
    tkb::emu::PedalEmulator again(old);
    again.start((dir / "ttyACM7").string());
    again.requestBootloader();
    while (!again.inBootloader()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const double tool = avrdudeSeconds(wkf, "COM8");
    again.stop();

    std::printf("image %5zu bytes: probe + update + probe %.2f s (result %d, firmware %d.%02d, "
                "flash %s); avrdude alone %.2f s; fixed waits %.1f s\n",
                size, whole, result, controller.state.firmwareVersion[0],
                controller.state.firmwareVersion[1], equal ? "equals image" : "DIFFERS", tool,
                (tkb::kBootloaderWaitMs + tkb::kFlashWaitMs) / 1000.0);
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return 0;
}
