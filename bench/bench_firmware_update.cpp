// How long the firmware update takes against the emulated controller with the real
// wkf/modo.sh and the real avrdude: the whole probe-update-probe sequence, and avrdude's own
// time in the same run (avrdude is started through a small timing wrapper first in PATH),
// for a small image and for a full 28 KiB program. The goal is whole <= avrdude + 1.5 s.
// Run by hand: build/bench/bench_firmware_update
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "emulator/intel_hex.h"
#include "emulator/pedal_emulator.h"
#include "link/firmware_update.h"
#include "link/trace.h"

namespace fs = std::filesystem;
using WallClock = std::chrono::steady_clock;

namespace {

double secondsSince(WallClock::time_point start) {
  return std::chrono::duration<double>(WallClock::now() - start).count();
}

// An "avrdude" that runs the real one and writes its start and end times (ns) to `times`.
void writeTimingWrapper(const fs::path& bin, const fs::path& times) {
  fs::create_directory(bin);
  const fs::path wrapper = bin / "avrdude";
  std::ofstream(wrapper) << "#!/bin/sh\nstart=$(date +%s%N)\n/usr/bin/avrdude \"$@\"\nrc=$?\n"
                            "end=$(date +%s%N)\necho \"$start $end\" > '" << times.string()
                         << "'\nexit $rc\n";
  fs::permissions(wrapper, fs::perms::owner_all);
}

double avrdudeSeconds(const fs::path& times) {
  long long start = 0, end = 0;
  std::ifstream(times) >> start >> end;
  return end > start ? static_cast<double>(end - start) / 1e9 : -1;
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
  const fs::path times = dir / "avrdude-times";
  writeTimingWrapper(dir / "bin", times);
  const char* path = std::getenv("PATH");
  ::setenv("PATH", ((dir / "bin").string() + ":" + (path != nullptr ? path : "/usr/bin:/bin")).c_str(), 1);
  tkb::setTraceEnabled(false);

  for (const size_t size : {size_t{300}, size_t{28672}}) {
    const std::vector<uint8_t> image = tkb::emu::patternImage(size, 131);
    tkb::emu::writeIntelHex((wkf / tkb::kFirmwareImage).string(), image);
    fs::remove(times);

    tkb::emu::FirmwareState old;
    old.versionMinor = 5;
    tkb::emu::PedalEmulator pedals(old);
    pedals.start((dir / "ttyACM7").string());
    tkb::Controller controller;
    tkb::ProbeOptions probe;
    tkb::FirmwareUpdateOptions update;
    update.toolFolder = wkf.string();
    update.logPath = (dir / tkb::kFlashLogName).string();
    probe.firmwareUpdate = tkb::makeFirmwareUpdater(update);
    probe.maxPasses = 2;
    const auto start = WallClock::now();
    const int result = tkb::probeController(controller, probe);
    const double whole = secondsSince(start);
    const std::vector<uint8_t> flash = pedals.flash();
    const bool equal = std::equal(image.begin(), image.end(), flash.begin());
    pedals.stop();
    const double tool = avrdudeSeconds(times);

    std::printf("image %5zu bytes: probe + update + probe %.2f s, avrdude %.2f s in the same run, "
                "overhead %.2f s (goal <= 1.50 s: %s); result %d, firmware %d.%02d, flash %s\n",
                size, whole, tool, whole - tool, whole - tool <= 1.5 ? "met" : "MISSED", result,
                controller.state.firmwareVersion[0], controller.state.firmwareVersion[1],
                equal ? "equals image" : "DIFFERS");
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return 0;
}
