// tkb-pedal-emulator: serves a virtual pedal controller on a pseudo-terminal linked as
// <dir>/ttyACM<n>, prints that path, and runs until interrupted. With --state FILE the
// controller's stored settings survive between runs, like the real pedals' EEPROM.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <thread>

#include "emulator/pedal_emulator.h"

namespace {

volatile std::sig_atomic_t gStop = 0;

void onSignal(int) { gStop = 1; }

void usage() {
  std::fprintf(stderr,
               "usage: tkb-pedal-emulator [--dir DIR] [--port N] [--state FILE]\n"
               "         [--no-clutch] [--model-reply HEX] [--firmware MAJOR.MINOR]\n"
               "         [--silent] [--garbage] [--short] [--byte-delay MS]\n"
               "         [--silent-after N] [--id-third-9] [--after-flash MAJOR.MINOR]\n"
               "         [--flash-resets-settings] [--extra-after REQ:BYTES] [--late REQ:MS]\n"
               "--extra-after A5:21 sends the bytes (hex, no separators) right after each\n"
               "reply to request A5; --late A8:1200 starts each reply to A8 1200 ms late.\n"
               "Serves a virtual pedal controller on a pseudo-terminal linked as\n"
               "DIR/ttyACM<N> (default /tmp/tkb-emulator/ttyACM0). Point TKB-Tunedeck\n"
               "or tkb-cli at it with TKB_SERIAL_PREFIX=DIR/ttyACM.\n"
               "At 1200 baud it restarts into an AVR109 bootloader on the next free\n"
               "DIR/ttyACM<n>; after avrdude wrote it, it reports --after-flash (7.6).\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = "/tmp/tkb-emulator";
  int port = 0;
  std::string stateFile;
  tkb::emu::FirmwareState state;
  tkb::emu::Faults faults;
  int afterFlashMajor = 7, afterFlashMinor = 6;

  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto next = [&]() -> const char* {
      if (i + 1 >= argc) {
        usage();
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--dir") dir = next();
    else if (arg == "--port") port = std::atoi(next());
    else if (arg == "--state") stateFile = next();
    else if (arg == "--no-clutch") state.modelReply = 0x2F;
    else if (arg == "--model-reply") state.modelReply = static_cast<uint8_t>(std::strtol(next(), nullptr, 16));
    else if (arg == "--firmware") {
      const char* v = next();
      state.versionMajor = std::atoi(v);
      const char* dot = std::strchr(v, '.');
      state.versionMinor = dot != nullptr ? std::atoi(dot + 1) : 0;
    } else if (arg == "--after-flash") {
      const char* v = next();
      const char* dot = std::strchr(v, '.');
      afterFlashMajor = std::atoi(v);
      afterFlashMinor = dot != nullptr ? std::atoi(dot + 1) : 0;
    } else if (arg == "--silent") faults.silent = true;
    else if (arg == "--garbage") faults.garbage = true;
    else if (arg == "--short") faults.shortFrames = true;
    else if (arg == "--byte-delay") faults.byteDelayMs = std::atoi(next());
    else if (arg == "--silent-after") faults.silentAfterExchanges = std::atoi(next());
    else if (arg == "--id-third-9") faults.identifyThirdByte9 = true;
    else if (arg == "--flash-resets-settings") faults.flashResetsSettings = true;
    else if (arg == "--extra-after" || arg == "--late") {
      // REQ:VALUE, the request byte in hex.
      const std::string v = next();
      const size_t colon = v.find(':');
      char* end = nullptr;
      const long request = std::strtol(v.substr(0, colon).c_str(), &end, 16);
      if (colon == std::string::npos || *end != '\0' || request < 0 || request > 0xFF) {
        usage();
        return 2;
      }
      const std::string value = v.substr(colon + 1);
      if (arg == "--late") {
        faults.lateMs[static_cast<uint8_t>(request)] = std::atoi(value.c_str());
      } else {
        tkb::emu::Bytes bytes;
        for (size_t i = 0; i < value.size(); i += 2)
          bytes.push_back(static_cast<uint8_t>(std::strtol(value.substr(i, 2).c_str(), nullptr, 16)));
        faults.extraAfter[static_cast<uint8_t>(request)] = bytes;
      }
    }
    else {
      usage();
      return arg == "--help" || arg == "-h" ? 0 : 2;
    }
  }
  if (port < 0 || port > 255) {
    std::fprintf(stderr, "tkb-pedal-emulator: --port must be 0..255\n");
    return 2;
  }
  if (!stateFile.empty()) tkb::emu::PedalEmulator::loadState(stateFile, state);

  ::mkdir(dir.c_str(), 0755);
  tkb::emu::PedalEmulator emulator(state);
  emulator.setFaults(faults);
  emulator.setVersionAfterFlash(afterFlashMajor, afterFlashMinor);
  const std::string link = dir + "/ttyACM" + std::to_string(port);
  if (!emulator.start(link)) return 1;
  std::printf("%s\n", link.c_str());
  std::fflush(stdout);

  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  while (!gStop) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!stateFile.empty()) emulator.saveState(stateFile);
  }
  if (!stateFile.empty()) emulator.saveState(stateFile);
  emulator.stop();
  return 0;
}
