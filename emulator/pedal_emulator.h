// A virtual pedal controller: the controller's side of the byte protocol served on a
// pseudo-terminal, so that the real serial layer, the probe, every page and tkb-cli can
// run end to end without pedals. Used by the integration tests, the demo mode and the
// tkb-pedal-emulator program.
//
// What the emulated firmware does (our model of the controller):
// - Every query is answered from the live state below; every value and block frame sets
//   its field at once (B3..B6 set bits 3, 2, 0 and 1 of the general-configuration byte).
// - FF F2 opens a calibration (the current calibration points are kept aside); FF A0, B0,
//   C0 record the rest positions and FF AA, BA, CA the pressed positions of throttle, brake
//   and clutch from the current pedal positions; FF F1 stores the new points, sets the
//   "calibrated" bit, makes the recorded pressed positions the calibration readings (0x6A)
//   and sets the brake maximum to where the brake was held at FF BA, in percent of its travel;
//   FF F3 puts the points kept aside back.
// - FF F4 stores the dead zones and FF F7 the curves in the emulated EEPROM; FF F5 sets the
//   zones to their initial values (lower 0, upper 100, brake upper = brake maximum).
//   A restart of the emulator from its state file brings back the stored zones and curves,
//   as a power cycle of the pedals would; all other settings are kept at once.
// - C8 makes its value the brake upper zone and the brake maximum.
// - BD / BE set the profile names; FF 21 / FF 11 mark the CUSTOM / PRO profile as set
//   (the 0x21 / 0x11 replies).
// - Like the ATmega32u4, it restarts into its bootloader when its port is set to 1200 baud
//   (the touch of wkf/modo.sh): the controller's port vanishes and the bootloader's port
//   appears under the next free name of the same folder. The bootloader speaks the AVR109
//   subset that avrdude -c avr109 uses to write and verify the flash. On leaving it ('E', or
//   after 8 s without a command, as the real one does) the controller comes back under its
//   old name when that is free, else the next free one, reporting the version set with
//   setVersionAfterFlash when anything was written (and, with the fault
//   flashResetsSettings, with every setting back at its factory value).
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

#include "link/controller_state.h"

namespace tkb::emu {

using Bytes = std::vector<uint8_t>;

struct ZoneSet {
  int clutchUpper = 100, clutchLower = 0;
  int brakeUpper = 90, brakeLower = 0;
  int throttleUpper = 100, throttleLower = 0;
};

struct CurveSet {
  Curve clutch{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
  Curve brake{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
  Curve throttle{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
};

// Raw positions recorded by the calibration commands (signed 16-bit axis values).
struct CalibrationPoints {
  int16_t throttleRest = -32767, brakeRest = -32767, clutchRest = -32767;
  int16_t throttlePressed = 32767, brakePressed = 26213, clutchPressed = 32767;
};

struct FirmwareState {
  // Identification (0x4A) and model (0x3A) replies.
  int versionMajor = 7, versionMinor = 6, versionThird = 0;
  uint8_t modelReply = 0x1F;  // 0x1F / 0x4F with clutch, 0x2F / 0x3F without

  uint8_t languageCode = 0;
  uint8_t configFlags = 0x0C;  // bit 0 sport active, 1 sport loaded, 2 calibrated, 3 zones
  int8_t brakeMax = 90;
  ZoneSet zones;
  CurveSet curves;
  uint8_t letterAbs = 0, letterAutoBrake = 0;
  uint8_t letterMas = 0, letterMenos = 0, letterMas2 = 0, letterMenos2 = 0;
  int8_t autoBrake = 0, autoBrake2 = 0;
  int8_t cheto = 100, chetoActive = 0;
  ProfileName proProfileName{'D', 'e', 'f', 'a', 'u', 'l', 't'};
  ProfileName sportProfileName{'D', 'e', 'f', 'a', 'u', 'l', 't'};
  uint8_t proProfileState = 1, sportProfileState = 0;
  uint8_t model = 1, color = 1;
  PedalReadings startReadings{-32767, -32767, -32767};
  PedalReadings calibrationReadings{32767, 26213, 32767};
  CalibrationPoints calibration;

  // The emulated EEPROM (FF F4, FF F7) and the calibration kept aside by FF F2.
  ZoneSet storedZones;
  CurveSet storedCurves;
  CalibrationPoints pendingCalibration;
  bool calibrating = false;
};

// Misbehaviour on demand, for the tests of bad replies and silent controllers.
struct Faults {
  bool silent = false;          // answers nothing
  bool garbage = false;         // answers random bytes of the right length
  bool shortFrames = false;     // answers one byte less than the reply length
  bool wrongStart = false;      // first byte 0x13 instead of 0x12
  bool wrongEnd = false;        // last byte 0x20 instead of 0x21
  int byteDelayMs = 0;          // pause before each reply byte
  int silentAfterExchanges = -1;  // falls silent after this many answered requests
  bool identifyThirdByte9 = false;  // identification reply with third byte 9
  int replyDelayMs = 0;         // pause before a reply starts
  std::set<uint8_t> ignoredRequests;         // requests never answered
  std::map<uint8_t, Bytes> replyOverride;    // exact replies for some requests
  bool ignoreBootloaderTouch = false;  // does not restart on the 1200-baud touch
  bool bootloaderReusesName = false;   // the bootloader takes the controller's own name back
  bool flashResetsSettings = false;    // new firmware starts from factory settings
};

// Current positions of the pedals as the emulated joystick reports them.
struct AxisPositions {
  int16_t throttle = -32767, brake = -32767, clutch = -32767, brakeTotal = -32767;
};

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
  int answeredRequests() const { return answered_.load(); }

  FirmwareState state() const;
  void update(const std::function<void(FirmwareState&)>& change);
  void setFaults(const Faults& faults);
  void setAxes(const AxisPositions& axes);
  AxisPositions axes() const;

  // The emulated EEPROM between runs (tkb-pedal-emulator --state FILE).
  bool saveState(const std::string& path) const;
  static bool loadState(const std::string& path, FirmwareState& state);

  // The whole reply to one request byte, or nothing for codes that are not requests.
  // Pure: no faults applied. Exposed for the tests.
  static Bytes replyFor(uint8_t request, const FirmwareState& state);
  // Applies one complete command frame to the state.
  static void applyCommand(const Bytes& frame, FirmwareState& state, const AxisPositions& axes);
  // The length of the frame that starts with this byte (1 for requests, 0 if unknown).
  static int frameLength(uint8_t first);

 private:
  void serve();
  // Runs a change of terminal on the serving thread (directly when it does not run).
  void onServeThread(const std::function<void()>& task);
  void handleFrame(const Bytes& frame);
  void reply(Bytes bytes);
  bool openTerminal(const std::string& linkPath);
  void retireTerminal();
  std::string nextFreeLink(const std::string& from, bool includeSelf) const;
  bool touchedAt1200Baud() const;
  void enterBootloader();
  void leaveBootloader();
  void handleBootloaderBytes(const uint8_t* bytes, size_t count);

  FirmwareState state_;
  Faults faults_;
  AxisPositions axes_;
  mutable std::mutex mutex_;
  std::vector<Bytes> received_;
  std::atomic<int> answered_{0};
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
