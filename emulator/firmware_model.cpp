// The emulated firmware itself: the length of each frame, the reply to each request, the
// effect of each command on the controller's state, and the faults applied to the answers.
// Pure: no descriptors, no threads, no sleeping.
#include "emulator/firmware_model.h"

namespace tkb::emu {
namespace {

constexpr uint8_t kStart = 0x12;
constexpr uint8_t kEnd = 0x21;

uint8_t swapDigits(uint8_t code) { return static_cast<uint8_t>(((code & 0x0F) << 4) | (code >> 4)); }

Bytes framed(std::initializer_list<uint8_t> payload) {
  Bytes b;
  b.reserve(payload.size() + 2);
  b.push_back(kStart);
  for (uint8_t byte : payload) b.push_back(byte);
  b.push_back(kEnd);
  return b;
}

Bytes framedCurve(const Curve& c) {
  Bytes b{kStart};
  for (int p : c) b.push_back(static_cast<uint8_t>(p));
  b.push_back(kEnd);
  return b;
}

Bytes framedName(const ProfileName& n) {
  Bytes b{kStart};
  for (char ch : n) b.push_back(static_cast<uint8_t>(ch));
  b.push_back(kEnd);
  return b;
}

Bytes framedReadings(const PedalReadings& r) {
  auto hi = [](int16_t v) { return static_cast<uint8_t>((static_cast<uint16_t>(v) >> 8) & 0xFF); };
  auto lo = [](int16_t v) { return static_cast<uint8_t>(static_cast<uint16_t>(v) & 0xFF); };
  return framed({hi(r.clutch), lo(r.clutch), hi(r.brake), lo(r.brake), hi(r.throttle), lo(r.throttle)});
}

int percentOfTravel(int16_t position, int16_t rest) {
  const int travel = 32767 - rest;
  if (travel <= 0) return 100;
  const int pct = (position - rest) * 100 / travel;
  return pct < 0 ? 0 : pct > 100 ? 100 : pct;
}

void setBit(uint8_t& flags, int bit, int value) {
  if (value != 0) flags |= static_cast<uint8_t>(1u << bit);
  else flags &= static_cast<uint8_t>(~(1u << bit));
}

}  // namespace

int FirmwareModel::frameLength(uint8_t first) {
  switch (first) {
    case 0xFF: return 2;
    case 0xBA: case 0xBB: case 0xBC: return 13;
    case 0xBD: case 0xBE: return 17;
    case 0xB2: case 0xB3: case 0xB4: case 0xB5: case 0xB6:
    case 0xC1: case 0xC2: case 0xC3: case 0xC5: case 0xC6: case 0xC7: case 0xC8:
    case 0xCA: case 0xCB: case 0xCD: case 0xCE: case 0xCF:
    case 0xD6: case 0xD7: case 0xD8: case 0xE2: case 0xE3: case 0xE4: case 0xBF:
      return 3;
    case 0x4A: case 0x3A: case 0x5A: case 0x6A: case 0x3C: case 0x11: case 0x21:
    case 0xA2: case 0xA3: case 0xA4: case 0xA5: case 0xA6: case 0xA7: case 0xA8: case 0xA9:
    case 0xAA: case 0xAB: case 0xAC: case 0xAD: case 0xAE: case 0xAF:
    case 0xD1: case 0xD2: case 0xD3: case 0xD4: case 0xD5: case 0xD9: case 0xE1: case 0xE5:
      return 1;
    default: return 0;
  }
}

Bytes FirmwareModel::replyFor(uint8_t request, const FirmwareState& s) {
  auto u = [](int v) { return static_cast<uint8_t>(v); };
  switch (request) {
    case 0x4A: return framed({u(s.versionMajor), u(s.versionMinor), u(s.versionThird)});
    case 0x3A: return framed({s.modelReply});
    case 0x5A: return framedReadings(s.startReadings);
    case 0x6A: return framedReadings(s.calibrationReadings);
    case 0xA2: return framed({s.languageCode});
    case 0xA3: return framed({s.configFlags});
    case 0xE1: return framed({u(s.chetoActive)});
    case 0xAC: case 0x3C: return framed({u(s.brakeMax)});
    case 0xA4: return framed({u(s.zones.clutchUpper), u(s.zones.clutchLower)});
    // The brake reply carries the brake maximum between the two zones.
    case 0xA5: return framed({u(s.zones.brakeUpper), u(s.brakeMax), u(s.zones.brakeLower)});
    case 0xA6: return framed({u(s.zones.throttleUpper), u(s.zones.throttleLower)});
    case 0xA7: return framedCurve(s.curves.clutch);
    case 0xA8: return framedCurve(s.curves.brake);
    case 0xA9: return framedCurve(s.curves.throttle);
    case 0xD9: return framed({s.letterAbs});
    case 0xE5: return framed({s.letterAutoBrake});
    case 0xAA: return framed({s.letterMas});
    case 0xAB: return framed({s.letterMenos});
    case 0xAD: return framed({s.letterMas2});
    case 0xAE: return framed({s.letterMenos2});
    case 0xD3: return framed({u(s.autoBrake)});
    case 0xAF: return framed({u(s.cheto)});
    case 0xD1: return framedName(s.proProfileName);
    case 0xD2: return framedName(s.sportProfileName);
    case 0x11: return framed({s.proProfileState});
    case 0x21: return framed({s.sportProfileState});
    case 0xD4: return framed({s.model});
    case 0xD5: return framed({s.color});
    default: return {};
  }
}

void FirmwareModel::applyCommand(const Bytes& f, FirmwareState& s, const AxisPositions& axes) {
  if (f.size() == 2 && f[0] == 0xFF) {
    CalibrationPoints& c = s.pendingCalibration;
    switch (f[1]) {
      case 0xF2:
        s.pendingCalibration = s.calibration;
        s.calibrating = true;
        break;
      case 0xA0: c.throttleRest = axes.throttle; break;
      case 0xB0: c.brakeRest = axes.brake; break;
      case 0xC0: c.clutchRest = axes.clutch; break;
      case 0xAA: c.throttlePressed = axes.throttle; break;
      case 0xBA: c.brakePressed = axes.brake; break;
      case 0xCA: c.clutchPressed = axes.clutch; break;
      case 0xF1:
        if (s.calibrating) s.calibration = s.pendingCalibration;
        s.calibrating = false;
        setBit(s.configFlags, 2, 1);
        s.calibrationReadings = {s.calibration.clutchPressed, s.calibration.brakePressed,
                                 s.calibration.throttlePressed};
        s.brakeMax = static_cast<int8_t>(
            percentOfTravel(s.calibration.brakePressed, s.calibration.brakeRest));
        break;
      case 0xF3:
        s.pendingCalibration = s.calibration;
        s.calibrating = false;
        break;
      case 0xF4: s.storedZones = s.zones; break;
      case 0xF5: s.zones = ZoneSet{100, 0, s.brakeMax, 0, 100, 0}; break;
      case 0xF7: s.storedCurves = s.curves; break;
      case 0x21: s.sportProfileState = 1; break;
      case 0x11: s.proProfileState = 1; break;
      default: break;
    }
    return;
  }
  if (f.empty() || f.back() != swapDigits(f[0])) return;  // a frame that does not close is dropped
  if (f.size() == 13) {
    Curve c{};
    for (int i = 0; i < kCurvePoints; ++i) c[i] = f[1 + i];
    if (f[0] == 0xBA) s.curves.clutch = c;
    if (f[0] == 0xBB) s.curves.brake = c;
    if (f[0] == 0xBC) s.curves.throttle = c;
    return;
  }
  if (f.size() == 17) {
    ProfileName n{};
    for (int i = 0; i < kProfileNameBytes; ++i) n[i] = static_cast<char>(f[1 + i]);
    if (f[0] == 0xBD) s.proProfileName = n;
    if (f[0] == 0xBE) s.sportProfileName = n;
    return;
  }
  if (f.size() != 3) return;
  const uint8_t v = f[1];
  const int8_t sv = static_cast<int8_t>(v);
  switch (f[0]) {
    case 0xB2: s.languageCode = v; break;
    case 0xB3: setBit(s.configFlags, 3, v); break;
    case 0xB4: setBit(s.configFlags, 2, v); break;
    case 0xB5: setBit(s.configFlags, 0, v); break;
    case 0xB6: setBit(s.configFlags, 1, v); break;
    case 0xC1: s.zones.clutchUpper = v; break;
    case 0xC2: s.zones.clutchLower = v; break;
    case 0xC3: s.zones.brakeUpper = v; break;
    case 0xC5: s.zones.brakeLower = v; break;
    case 0xC6: s.zones.throttleUpper = v; break;
    case 0xC7: s.zones.throttleLower = v; break;
    case 0xC8: s.zones.brakeUpper = v; s.brakeMax = sv; break;
    case 0xCA: s.letterMas = v; break;
    case 0xCB: s.letterMenos = v; break;
    case 0xCD: s.letterMas2 = v; break;
    case 0xCE: s.letterMenos2 = v; break;
    case 0xD8: s.letterAbs = v; break;
    case 0xE4: s.letterAutoBrake = v; break;
    case 0xCF: s.cheto = sv; break;
    case 0xE2: s.chetoActive = sv; break;
    case 0xD6: s.model = v; break;
    case 0xD7: s.color = v; break;
    case 0xBF: s.autoBrake = sv; break;
    case 0xE3: s.autoBrake2 = sv; break;
    default: break;
  }
}

Answer FirmwareModel::receive(uint8_t byte, Millis now) {
  idle(now);
  lastByte_ = now;
  pending_.push_back(byte);
  const int wanted = frameLength(pending_[0]);
  // An unknown byte is recorded alone and otherwise ignored.
  if (wanted != 0 && static_cast<int>(pending_.size()) < wanted) return {};
  const Bytes frame = std::move(pending_);
  pending_.clear();
  return handleFrame(frame);
}

std::vector<Answer> FirmwareModel::receive(std::span<const uint8_t> bytes, Millis now) {
  std::vector<Answer> answers;
  for (uint8_t byte : bytes) {
    Answer a = receive(byte, now);
    if (!a.empty()) answers.push_back(std::move(a));
  }
  return answers;
}

void FirmwareModel::idle(Millis now) {
  if (pending_.empty() || now - lastByte_ <= Millis(kPartialFrameTimeoutMs)) return;
  received_.push_back(std::move(pending_));  // a frame cut short is recorded and dropped
  pending_.clear();
}

Answer FirmwareModel::handleFrame(const Bytes& frame) {
  received_.push_back(frame);
  const int wanted = frameLength(frame[0]);
  if (wanted != 1) {
    if (wanted == static_cast<int>(frame.size())) applyCommand(frame, state_, axes_);
    return {};
  }
  const uint8_t request = frame[0];
  Bytes bytes = replyFor(request, state_);
  if (request == 0x4A && faults_.identifyThirdByte9) bytes[3] = 9;
  if (faults_.ignoredRequests.count(request) != 0) bytes.clear();
  if (auto it = faults_.replyOverride.find(request); it != faults_.replyOverride.end())
    bytes = it->second;
  if (bytes.empty() || faults_.silent) return {};
  if (faults_.silentAfterExchanges >= 0 && answered_ >= faults_.silentAfterExchanges) return {};
  if (faults_.garbage)
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random_());
  if (faults_.wrongStart) bytes.front() = 0x13;
  if (faults_.wrongEnd) bytes.back() = 0x20;
  if (faults_.shortFrames) bytes.pop_back();
  if (auto it = faults_.extraAfter.find(request); it != faults_.extraAfter.end())
    bytes.insert(bytes.end(), it->second.begin(), it->second.end());
  ++answered_;

  int delayMs = faults_.replyDelayMs;
  if (auto it = faults_.lateMs.find(request); it != faults_.lateMs.end()) delayMs += it->second;
  if (faults_.byteDelayMs <= 0) return {ReplyPart{delayMs, std::move(bytes)}};
  // Byte by byte, each after its own pause.
  Answer parts;
  for (uint8_t b : bytes) {
    parts.push_back({delayMs + faults_.byteDelayMs, {b}});
    delayMs = 0;
  }
  return parts;
}

}  // namespace tkb::emu
