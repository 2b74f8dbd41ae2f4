#include "link/protocol.h"

#include <algorithm>
#include <cstring>

#include "link/settings.h"

namespace tkb {

std::string profileNameText(const ProfileName& name) {
  const auto end = std::find(name.begin(), name.end(), '\0');
  return std::string(name.begin(), end);
}

ProfileName makeProfileName(const std::string& text) {
  ProfileName name{};
  std::memcpy(name.data(), text.data(), std::min<size_t>(text.size(), name.size()));
  return name;
}

Bytes encodeFixed(uint8_t code) { return {kFixedPrefix, code}; }

Bytes encodeValueFrame(uint8_t code, int value) {
  return {code, static_cast<uint8_t>(value & 0xFF), closingByte(code)};
}

Bytes encodeCurveFrame(uint8_t code, const Curve& points) {
  Bytes frame{code};
  for (int point : points) frame.push_back(static_cast<uint8_t>(point & 0xFF));
  frame.push_back(closingByte(code));
  return frame;
}

Bytes encodeProfileFrame(uint8_t code, const ProfileName& name) {
  Bytes frame{code};
  // Bytes after the terminator carry no meaning; the controller gets zeros there.
  bool ended = false;
  for (char c : name) {
    ended = ended || c == '\0';
    frame.push_back(ended ? 0 : static_cast<uint8_t>(c));
  }
  frame.push_back(closingByte(code));
  return frame;
}

int languageCode(const std::string& name) {
  for (int code = 0; code < 5; ++code)
    if (name == kLanguageNames[code]) return code;
  return 5;
}

std::optional<std::string> languageName(int code) {
  if (code < 0 || code > 5) return std::nullopt;
  return std::string(kLanguageNames[code]);
}

bool replyFramed(std::span<const uint8_t> reply) {
  return !reply.empty() && reply.front() == kReplyStart && reply.back() == kReplyEnd;
}

int16_t decodeReading(uint8_t high, uint8_t low) {
  return static_cast<int16_t>(static_cast<int8_t>(high) * 256 + low);
}

GeneralConfig decodeGeneralConfig(uint8_t flags) {
  const bool sport = flags & 0x01;
  return {sport, !sport, (flags & 0x02) != 0, (flags & 0x04) != 0, (flags & 0x08) != 0};
}

namespace {

constexpr QuerySpec kQueries[] = {
    {Query::Identify, 0x4A, 5, true, "\nPedimos Version del firmware", CountLine::Version},
    {Query::StartReadings, 0x5A, 8, true, "\nPedimos Version del firmware", CountLine::Version},
    {Query::CalibrationReadings, 0x6A, 8, true, "\nPedimos Version del firmware", CountLine::Version},
    {Query::Language, 0xA2, 3, false, "\nPedimos datos de idioma", CountLine::Terminated},
    // The accented letter is the single byte 0xF3, as the controller's tools always printed it.
    {Query::GeneralConfig, 0xA3, 3, false, "\nPedimos datos de configuraci\xF3n general",
     CountLine::Terminated},
    {Query::ChetoActive, 0xE1, 3, false, "\nPedimos Cheto Activo", CountLine::Terminated},
    {Query::BrakeMax, 0xAC, 3, false, "\nPedimos Freno Max", CountLine::Terminated},
    {Query::BrakeMaxAfterCalibration, 0x3C, 3, false, "\nPedimos datos de freno MAX",
     CountLine::MaxFreno},
    {Query::ClutchZones, 0xA4, 4, false, "\nPedimos datos de embrague", CountLine::Terminated},
    {Query::BrakeZones, 0xA5, 5, false, "\nPedimos datos de freno", CountLine::Terminated},
    {Query::ThrottleZones, 0xA6, 4, false, "\nPedimos datos de acelerador", CountLine::Terminated},
    {Query::ClutchCurve, 0xA7, 13, false, "\nPedimos curva de embrague", CountLine::Terminated},
    {Query::BrakeCurve, 0xA8, 13, false, "\nPedimos curva de freno", CountLine::Terminated},
    {Query::ThrottleCurve, 0xA9, 13, false, "\nPedimos curva de acelerador", CountLine::Terminated},
    {Query::LetterAbs, 0xD9, 3, false, "\nPedimos Letra ABS", CountLine::Terminated},
    {Query::LetterAutoBrake, 0xE5, 3, false, "\nPedimos Letra AutoBreak", CountLine::Terminated},
    {Query::LetterMas, 0xAA, 3, false, "\nPedimos Letra Mas", CountLine::Terminated},
    {Query::LetterMenos, 0xAB, 3, false, "\nPedimos Letra Menos", CountLine::Terminated},
    {Query::LetterMas2, 0xAD, 3, false, "\nPedimos Letra Mas 2", CountLine::Terminated},
    {Query::LetterMenos2, 0xAE, 3, false, "\nPedimos Letra Menos 2", CountLine::Terminated},
    {Query::AutoBrake, 0xD3, 3, false, "\nPedimos AutoBrake", CountLine::Terminated},
    {Query::Cheto, 0xAF, 3, false, "\nPedimos Cheto", CountLine::Terminated},
    {Query::ProProfileName, 0xD1, 17, false, "\nPedimos Perfil Pro", CountLine::Terminated},
    {Query::SportProfileName, 0xD2, 17, false, "\nPedimos Perfil Sport", CountLine::Terminated},
    {Query::ProProfileState, 0x11, 3, false, "\nPedimos Estado Perfil Pro", CountLine::EstadoPro},
    {Query::SportProfileState, 0x21, 3, false, "\nPedimos Estado Perfil Sport",
     CountLine::EstadoSport},
    {Query::Model, 0xD4, 3, false, "\nPedimos Modelo", CountLine::Model},
    {Query::Color, 0xD5, 3, false, "\nPedimos Color", CountLine::Terminated},
};

int8_t asSigned(uint8_t b) { return static_cast<int8_t>(b); }

void copyCurve(std::span<const uint8_t> r, Curve& curve) {
  for (int i = 0; i < kCurvePoints; ++i) curve[i] = asSigned(r[1 + i]);
}

void copyName(std::span<const uint8_t> r, ProfileName& name) {
  for (int i = 0; i < kProfileNameBytes; ++i) name[i] = static_cast<char>(r[1 + i]);
}

}  // namespace

const QuerySpec& querySpec(Query query) {
  for (const QuerySpec& spec : kQueries)
    if (spec.query == query) return spec;
  return kQueries[0];  // unreachable: every Query has a row
}

std::span<const QuerySpec> allQueries() { return kQueries; }

FieldSet fieldsOf(Query query) {
  switch (query) {
    case Query::Identify: return {Field::FirmwareVersion};
    case Query::StartReadings: return {Field::StartReadings};
    case Query::CalibrationReadings: return {Field::CalibrationReadings};
    case Query::Language: return {Field::Language};
    case Query::GeneralConfig:
      return {Field::SportProfileActive, Field::SportProfileLoaded, Field::Calibrated,
              Field::ZonesEnabled};
    case Query::ChetoActive: return {Field::ChetoActive};
    case Query::BrakeMax:
    case Query::BrakeMaxAfterCalibration: return {Field::BrakeMax};
    case Query::ClutchZones: return {Field::ClutchUpper, Field::ClutchLower};
    case Query::BrakeZones: return {Field::BrakeUpper, Field::BrakeLower};
    case Query::ThrottleZones: return {Field::ThrottleUpper, Field::ThrottleLower};
    case Query::ClutchCurve: return {Field::ClutchCurve};
    case Query::BrakeCurve: return {Field::BrakeCurve};
    case Query::ThrottleCurve: return {Field::ThrottleCurve};
    case Query::LetterAbs: return {Field::LetterAbs};
    case Query::LetterAutoBrake: return {Field::LetterAutoBrake};
    case Query::LetterMas: return {Field::LetterMas};
    case Query::LetterMenos: return {Field::LetterMenos};
    case Query::LetterMas2: return {Field::LetterMas2};
    case Query::LetterMenos2: return {Field::LetterMenos2};
    case Query::AutoBrake: return {Field::AutoBrake};
    case Query::Cheto: return {Field::Cheto};
    case Query::ProProfileName: return {Field::ProProfileName};
    case Query::SportProfileName: return {Field::SportProfileName};
    case Query::ProProfileState:
    case Query::SportProfileState: return {};
    case Query::Model: return {Field::Model};
    case Query::Color: return {Field::Color};
  }
  return {};
}

ReplyCheck decodeReply(Query query, std::span<const uint8_t> r, ControllerState& state) {
  const QuerySpec& spec = querySpec(query);
  if (static_cast<int>(r.size()) != spec.replyBytes || !replyFramed(r)) return ReplyCheck::BadFrame;
  ControllerState s = state;
  switch (query) {
    case Query::Identify:
      s.firmwareVersion = {asSigned(r[1]), asSigned(r[2]), asSigned(r[3])};
      break;
    case Query::StartReadings:
    case Query::CalibrationReadings: {
      PedalReadings& out =
          query == Query::StartReadings ? s.startReadings : s.calibrationReadings;
      out = {decodeReading(r[1], r[2]), decodeReading(r[3], r[4]), decodeReading(r[5], r[6])};
      break;
    }
    case Query::Language:
      // A code outside the six leaves the language as it was.
      if (auto name = languageName(r[1])) {
        s.language = *name;
      } else {
        return ReplyCheck::OutOfRange;
      }
      break;
    case Query::GeneralConfig: {
      const GeneralConfig c = decodeGeneralConfig(r[1]);
      s.sportProfileActive = c.sportProfileActive;
      s.proProfileActive = c.proProfileActive;
      s.sportProfileLoaded = c.sportProfileLoaded;
      s.calibrated = c.calibrated;
      s.zonesEnabled = c.zonesEnabled;
      break;
    }
    case Query::ChetoActive: s.chetoActive = asSigned(r[1]); break;
    case Query::BrakeMax:
    case Query::BrakeMaxAfterCalibration: s.brakeMax = asSigned(r[1]); break;
    case Query::ClutchZones: s.clutchUpper = asSigned(r[1]); s.clutchLower = asSigned(r[2]); break;
    case Query::BrakeZones:  // r[2] unused
      s.brakeUpper = asSigned(r[1]);
      s.brakeLower = asSigned(r[3]);
      break;
    case Query::ThrottleZones: s.throttleUpper = asSigned(r[1]); s.throttleLower = asSigned(r[2]); break;
    case Query::ClutchCurve: copyCurve(r, s.clutchCurve); break;
    case Query::BrakeCurve: copyCurve(r, s.brakeCurve); break;
    case Query::ThrottleCurve: copyCurve(r, s.throttleCurve); break;
    case Query::LetterAbs: s.letterAbs = r[1]; break;
    case Query::LetterAutoBrake: s.letterAutoBrake = r[1]; break;
    case Query::LetterMas: s.letterMas = r[1]; break;
    case Query::LetterMenos: s.letterMenos = r[1]; break;
    case Query::LetterMas2: s.letterMas2 = r[1]; break;
    case Query::LetterMenos2: s.letterMenos2 = r[1]; break;
    case Query::AutoBrake: s.autoBrake = asSigned(r[1]); break;
    case Query::Cheto: s.cheto = asSigned(r[1]); break;
    case Query::ProProfileName: copyName(r, s.proProfileName); break;
    case Query::SportProfileName: copyName(r, s.sportProfileName); break;
    case Query::ProProfileState:
    case Query::SportProfileState: break;  // read and validated; the value is not used
    case Query::Model: s.model = r[1] <= 6 ? r[1] : 1; break;
    case Query::Color: s.color = r[1] <= 2 ? r[1] : 1; break;
  }
  const FieldSet fields = fieldsOf(query);
  for (const Setting& row : settingsTable()) {
    if (!fields.has(row.field)) continue;
    const bool ok = row.curve ? curveInRange(curveOf(s, row.field))
                              : inRange(row.field, settingValue(s, row.field));
    if (!ok) return ReplyCheck::OutOfRange;
  }
  s.known.add(fields);
  state = std::move(s);
  return ReplyCheck::Applied;
}

bool applyReply(Query query, std::span<const uint8_t> reply, ControllerState& state) {
  return decodeReply(query, reply, state) == ReplyCheck::Applied;
}

}  // namespace tkb
