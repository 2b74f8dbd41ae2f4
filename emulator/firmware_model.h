// The emulated controller's firmware as a pure model: the bytes the controller receives go
// in, the bytes it answers come out, with the time after which each part of an answer can
// be read. It holds the firmware state, the log of received frames and the faults that are
// about what is answered (silence, garbage, cut-short or badly framed replies, ignored
// requests, exact replies, stray bytes behind a reply, falling silent after some answers).
// The timing faults (a pause before each byte, before a reply, a reply late) come out as the
// delays of the answer's parts: the pseudo-terminal server sleeps for them, the in-memory
// transport lets its fake clock run. No threads, no descriptors, no sleeping.
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
// - C8 makes its value the brake upper zone and the brake maximum.
// - BD / BE set the profile names; FF 21 / FF 11 mark the CUSTOM / PRO profile as set
//   (the 0x21 / 0x11 replies).
// - A frame cut short is recorded and dropped once no byte followed it for 200 ms.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <span>
#include <utility>
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
  std::map<uint8_t, Bytes> extraAfter;       // stray bytes sent right behind these replies
  std::map<uint8_t, int> lateMs;             // these replies start this many ms late
  bool ignoreBootloaderTouch = false;  // does not restart on the 1200-baud touch
  bool bootloaderReusesName = false;   // the bootloader takes the controller's own name back
  bool flashResetsSettings = false;    // new firmware starts from factory settings
};

// Current positions of the pedals as the emulated joystick reports them.
struct AxisPositions {
  int16_t throttle = -32767, brake = -32767, clutch = -32767, brakeTotal = -32767;
};


// A part of an answer: its bytes become readable delayMs after the previous part (the first
// part: after the last byte of the request it answers).
struct ReplyPart {
  int delayMs = 0;
  Bytes bytes;
};

// The parts of one answer; a reply without timing faults is one part without delay.
using Answer = std::vector<ReplyPart>;

inline constexpr int kPartialFrameTimeoutMs = 200;

class FirmwareModel {
 public:
  using Millis = std::chrono::milliseconds;  // on any steady time scale the caller keeps

  explicit FirmwareModel(FirmwareState initial = {}) : state_(std::move(initial)) {}

  // One byte received at `now`. Completes at most one frame: the answer to it, empty when
  // the frame is a command, not answered, or not complete yet.
  Answer receive(uint8_t byte, Millis now);
  // Several bytes received at once, answers in order (each byte as receive() takes it).
  std::vector<Answer> receive(std::span<const uint8_t> bytes, Millis now);
  // Time passes without input: a frame cut short is recorded and dropped once it has been
  // quiet for kPartialFrameTimeoutMs.
  void idle(Millis now);
  // Forgets a frame begun (the line was switched: bootloader, unplug).
  void dropPartialFrame() { pending_.clear(); }

  FirmwareState& state() { return state_; }
  const FirmwareState& state() const { return state_; }
  Faults& faults() { return faults_; }
  const Faults& faults() const { return faults_; }
  AxisPositions& axes() { return axes_; }
  const AxisPositions& axes() const { return axes_; }

  // Every frame received so far: commands whole, requests as their single byte, unknown
  // bytes alone, frames cut short as far as they came.
  const std::vector<Bytes>& received() const { return received_; }
  void clearReceived() { received_.clear(); }
  // Requests answered so far (what silentAfterExchanges counts).
  int answeredRequests() const { return answered_; }

  // The whole reply to one request byte, or nothing for codes that are not requests.
  // No faults applied.
  static Bytes replyFor(uint8_t request, const FirmwareState& state);
  // Applies one complete command frame to the state.
  static void applyCommand(const Bytes& frame, FirmwareState& state, const AxisPositions& axes);
  // The length of the frame that starts with this byte (1 for requests, 0 if unknown).
  static int frameLength(uint8_t first);

 private:
  Answer handleFrame(const Bytes& frame);

  FirmwareState state_;
  Faults faults_;
  AxisPositions axes_;
  std::vector<Bytes> received_;
  int answered_ = 0;
  Bytes pending_;
  Millis lastByte_{0};
  std::mt19937 random_{12345};  // the garbage fault's bytes
};

}  // namespace tkb::emu
