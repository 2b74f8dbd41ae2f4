// The controller's byte protocol as pure data: frame encoders, the query table and the
// reply decoders. No I/O and no globals, so tests and fuzzers can reach every part.
// Frames to the controller: [FF, code], [code, value, closing] and [code, payload.., closing];
// the closing byte is the code with its two hexadecimal digits swapped. Replies start with
// 0x12 and end with 0x21.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/controller_state.h"

namespace tkb {

using Bytes = std::vector<uint8_t>;

inline constexpr uint8_t kFixedPrefix = 0xFF;
inline constexpr uint8_t kReplyStart = 0x12;
inline constexpr uint8_t kReplyEnd = 0x21;
inline constexpr int kCurveFrameBytes = 13;
inline constexpr int kProfileFrameBytes = 17;

// Fixed commands (second byte after 0xFF).
namespace fixed {
inline constexpr uint8_t kSetPedalesInicial = 0xF2;
inline constexpr uint8_t kSetAceleradorBajo = 0xA0;
inline constexpr uint8_t kSetFrenoBajo = 0xB0;
inline constexpr uint8_t kSetEmbragueBajo = 0xC0;
inline constexpr uint8_t kSetAceleradorAlto = 0xAA;
inline constexpr uint8_t kSetFrenoAlto = 0xBA;
inline constexpr uint8_t kSetEmbragueAlto = 0xCA;
inline constexpr uint8_t kSetPedalesGuardar = 0xF1;
inline constexpr uint8_t kSetPedalesRestaurar = 0xF3;
inline constexpr uint8_t kSetGuardarZonasPedales = 0xF4;
inline constexpr uint8_t kSetInicializarZonasPedales = 0xF5;
inline constexpr uint8_t kSetGuardarCurvasPedales = 0xF7;
inline constexpr uint8_t kSetPerfilSport = 0x21;
inline constexpr uint8_t kSetPerfilPro = 0x11;
}  // namespace fixed

// Value frames [code, value, closing].
namespace value {
inline constexpr uint8_t kIdioma = 0xB2;
inline constexpr uint8_t kConfigZonas = 0xB3;
inline constexpr uint8_t kConfigCalibrado = 0xB4;
inline constexpr uint8_t kConfigSportActivado = 0xB5;
inline constexpr uint8_t kConfigSportCargado = 0xB6;
inline constexpr uint8_t kZonaSuperiorEmbrague = 0xC1;
inline constexpr uint8_t kZonaInferiorEmbrague = 0xC2;
inline constexpr uint8_t kZonaSuperiorFreno = 0xC3;
inline constexpr uint8_t kZonaInferiorFreno = 0xC5;  // there is no C4
inline constexpr uint8_t kZonaSuperiorAcelerador = 0xC6;
inline constexpr uint8_t kZonaInferiorAcelerador = 0xC7;
inline constexpr uint8_t kRecalibradoFrenoSuperior = 0xC8;
inline constexpr uint8_t kLetraMas = 0xCA;
inline constexpr uint8_t kLetraMenos = 0xCB;
inline constexpr uint8_t kLetraMas2 = 0xCD;
inline constexpr uint8_t kLetraMenos2 = 0xCE;
inline constexpr uint8_t kLetraABS = 0xD8;
inline constexpr uint8_t kLetraAutoBreak = 0xE4;
inline constexpr uint8_t kCheto = 0xCF;
inline constexpr uint8_t kChetoActivo = 0xE2;
inline constexpr uint8_t kModelo = 0xD6;
inline constexpr uint8_t kColor = 0xD7;
inline constexpr uint8_t kAutoBrake = 0xBF;
inline constexpr uint8_t kAutoBrake2 = 0xE3;
}  // namespace value

// Block frames [code, payload, closing].
namespace block {
inline constexpr uint8_t kCurvaEmbrague = 0xBA;
inline constexpr uint8_t kCurvaFreno = 0xBB;
inline constexpr uint8_t kCurvaAcelerador = 0xBC;
inline constexpr uint8_t kPerfilPro = 0xBD;
inline constexpr uint8_t kPerfilSport = 0xBE;
}  // namespace block

// Single request bytes of the probe (the other requests are in the query table).
inline constexpr uint8_t kIdentifyRequest = 0x4A;
inline constexpr uint8_t kModelRequest = 0x3A;
inline constexpr int kIdentifyReplyBytes = 5;
inline constexpr int kModelReplyBytes = 3;

constexpr uint8_t closingByte(uint8_t code) {
  return static_cast<uint8_t>(((code & 0x0F) << 4) | (code >> 4));
}

Bytes encodeFixed(uint8_t code);
Bytes encodeValueFrame(uint8_t code, int value);  // value sent as its low byte
Bytes encodeCurveFrame(uint8_t code, const Curve& points);
Bytes encodeProfileFrame(uint8_t code, const ProfileName& name);

// Language names in list order; the index is the code the controller stores.
inline constexpr const char* kLanguageNames[6] = {"English", "Spanish", "Italian",
                                                  "French",  "German",  "Portuguese"};
// Exact match against the first five names; any other name is 5.
int languageCode(const std::string& name);
// Codes 0..5 give a name, anything else none.
std::optional<std::string> languageName(int code);

// A reply passes when its first byte is 0x12 and its last byte is 0x21.
bool replyFramed(std::span<const uint8_t> reply);

// Big-endian signed 16-bit reading: (high as signed) * 256 + (low as unsigned).
int16_t decodeReading(uint8_t high, uint8_t low);

struct GeneralConfig {
  bool sportProfileActive, proProfileActive, sportProfileLoaded, calibrated, zonesEnabled;
};
GeneralConfig decodeGeneralConfig(uint8_t flags);

// The queries: one request byte, a fixed-length framed reply, a decoder into the state.
enum class Query {
  Identify,          // 0x4A
  StartReadings,     // 0x5A
  CalibrationReadings,  // 0x6A
  Language,          // 0xA2
  GeneralConfig,     // 0xA3
  ChetoActive,       // 0xE1
  BrakeMax,          // 0xAC
  BrakeMaxAfterCalibration,  // 0x3C
  ClutchZones,       // 0xA4
  BrakeZones,        // 0xA5
  ThrottleZones,     // 0xA6
  ClutchCurve,       // 0xA7
  BrakeCurve,        // 0xA8
  ThrottleCurve,     // 0xA9
  LetterAbs,         // 0xD9
  LetterAutoBrake,   // 0xE5
  LetterMas,         // 0xAA
  LetterMenos,       // 0xAB
  LetterMas2,        // 0xAD
  LetterMenos2,      // 0xAE
  AutoBrake,         // 0xD3
  Cheto,             // 0xAF
  ProProfileName,    // 0xD1
  SportProfileName,  // 0xD2
  ProProfileState,   // 0x11
  SportProfileState,  // 0x21
  Model,             // 0xD4
  Color,             // 0xD5
};

// How the received count is reported after the reads of a query.
enum class CountLine { Version, Terminated, MaxFreno, EstadoPro, EstadoSport, Model };

struct QuerySpec {
  Query query;
  uint8_t request;
  int replyBytes;
  bool attemptLimited;  // the 5- and 8-byte queries give up after 30 reads
  const char* traceLine;
  CountLine countLine;
};

const QuerySpec& querySpec(Query query);
std::span<const QuerySpec> allQueries();

// The fields a query's reply carries (none for the profile-state queries).
FieldSet fieldsOf(Query query);

// Checks the frame and, when it passes, decodes the fields; when every decoded value lies in
// its field's range (link/settings) they are stored and marked known. Otherwise nothing
// changes. Zone, curve and the other single-byte values are signed bytes; letters unsigned.
enum class ReplyCheck { Applied, BadFrame, OutOfRange };
ReplyCheck decodeReply(Query query, std::span<const uint8_t> reply, ControllerState& state);
// decodeReply() == Applied.
bool applyReply(Query query, std::span<const uint8_t> reply, ControllerState& state);

}  // namespace tkb
