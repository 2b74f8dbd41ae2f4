// A virtual pedal controller: the controller's side of the byte protocol served on a
// pseudo-terminal, so that the real serial layer, the probe, every page and tkb-cli can
// run end to end without pedals. Used by the integration tests, the demo mode and the
// tkb-pedal-emulator program.
//
// The firmware itself is a FirmwareModel (emulator/firmware_model.h); this class serves it:
// bytes read from the terminal go into the model, its answers are written back after the
// delays it gives. A restart of the emulator from its state file brings back the stored
// zones and curves, as a power cycle of the pedals would; all other settings are kept at once.
//
// Like the ATmega32u4, it restarts into its bootloader when its port is set to 1200 baud
// (the touch of wkf/modo.sh): the controller's port vanishes and the bootloader's port
// appears under the next free name of the same folder. The bootloader speaks the AVR109
// subset that avrdude -c avr109 uses to write and verify the flash. On leaving it ('E', or
// after 8 s without a command, as the real one does) the controller comes back under its
// old name when that is free, else the next free one, reporting the version set with
// setVersionAfterFlash when anything was written (and, with the fault
// flashResetsSettings, with every setting back at its factory value).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "emulator/firmware_model.h"
#include "link/controller_state.h"

namespace tkb::emu {

class PedalEmulator {
 public:
  explicit PedalEmulator(FirmwareState initial = {});
  ~PedalEmulator();
  PedalEmulator(const PedalEmulator&) = delete;
  PedalEmulator& operator=(const PedalEmulator&) = delete;

  // Creates the pseudo-terminal and, when linkPath is not empty, a symbolic link to it
  // (replacing an old link). Starts serving. False with a message on standard error.
  bool start(const std::string& linkPath = {});
  void stop();
  bool running() const { return thread_.joinable(); }

  // The pseudo-terminal and the link currently served (the bootloader's while it runs).
  std::string devicePath() const;
  std::string linkPath() const;

  // The cable pulled: the pseudo-terminal closes at once (an open client sees it hang up)
  // and its link goes; nothing is served until plugIn. plugIn brings the pedals back
  // under linkPath (empty: the link they had), on a new pseudo-terminal. False with a
  // message on standard error.
  void unplug();
  bool plugIn(const std::string& linkPath = {});

  // The bootloader. requestBootloader does what the 1200-baud touch does.
  void requestBootloader() { bootloaderRequested_ = true; }
  bool inBootloader() const { return inBootloader_.load(); }
  int bootloaderSessions() const { return bootloaderSessions_.load(); }
  void setVersionAfterFlash(int major, int minor);
  // The emulated program memory (32 KiB, erased = 0xFF) and how many blocks were written.
  Bytes flash() const;
  int flashBlocksWritten() const;

  // Every frame received so far: commands whole, requests as their single byte.
  std::vector<Bytes> received() const;
  void clearReceived();
  int answeredRequests() const;

  FirmwareState state() const;
  void update(const std::function<void(FirmwareState&)>& change);
  void setFaults(const Faults& faults);
  void setAxes(const AxisPositions& axes);
  AxisPositions axes() const;

  // The emulated EEPROM between runs (tkb-pedal-emulator --state FILE).
  bool saveState(const std::string& path) const;
  static bool loadState(const std::string& path, FirmwareState& state);

  // The model's pure functions, under the names the tests have used.
  static Bytes replyFor(uint8_t request, const FirmwareState& state) {
    return FirmwareModel::replyFor(request, state);
  }
  static void applyCommand(const Bytes& frame, FirmwareState& state, const AxisPositions& axes) {
    FirmwareModel::applyCommand(frame, state, axes);
  }
  static int frameLength(uint8_t first) { return FirmwareModel::frameLength(first); }

 private:
  void serve();
  // Runs a change of terminal on the serving thread (directly when it does not run).
  void onServeThread(const std::function<void()>& task);
  void answer(const Answer& answer);
  void reply(const Bytes& bytes);
  bool openTerminal(const std::string& linkPath);
  void retireTerminal();
  std::string nextFreeLink(const std::string& from, bool includeSelf) const;
  bool touchedAt1200Baud() const;
  void enterBootloader();
  void leaveBootloader();
  void handleBootloaderBytes(const uint8_t* bytes, size_t count);

  FirmwareModel model_;  // guarded by mutex_
  mutable std::mutex mutex_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
  std::string linkPath_;
  std::string unpluggedLink_;  // where the pedals were before unplug()
  std::mutex taskMutex_;
  const std::function<void()>* task_ = nullptr;  // guarded by taskMutex_
  std::atomic<bool> taskDone_{false};

  // Bootloader.
  std::atomic<bool> bootloaderRequested_{false};
  std::atomic<bool> inBootloader_{false};
  std::atomic<int> bootloaderSessions_{0};
  std::string applicationLink_;  // the controller's link while the bootloader serves
  std::vector<int> retiredFds_;   // terminals given up, closed on the next switch
  Bytes flash_;
  int flashBlocks_ = 0;
  int flashBlocksAtEntry_ = 0;  // what this bootloader session found written
  int versionAfterFlashMajor_ = 7, versionAfterFlashMinor_ = 6;
  Bytes bootCommand_;
  uint32_t bootAddress_ = 0;  // in words for flash, bytes for EEPROM
  bool leaving_ = false;
  std::chrono::steady_clock::time_point bootDeadline_;
};

}  // namespace tkb::emu
