#include "link/controller.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "link/settings.h"
#include "link/trace.h"

namespace tkb {

const char* queryResultName(QueryResult result) {
  switch (result) {
    case QueryResult::Accepted: return "accepted";
    case QueryResult::Rejected: return "rejected";
    case QueryResult::TimedOut: return "timed out";
    case QueryResult::WriteFailed: return "write failed";
    case QueryResult::Skipped: return "skipped";
  }
  return "?";
}

const char* linkStateName(LinkState state) {
  switch (state) {
    case LinkState::Connected: return "connected";
    case LinkState::NotAnswering: return "not answering";
    case LinkState::Disconnected: return "disconnected";
  }
  return "?";
}

namespace {
// Queries further apart than this belong to different actions.
constexpr auto kActionGap = std::chrono::milliseconds(300);
}  // namespace

void Controller::useTransport(Transport& transport) {
  transport_ = &transport;
  // Times of another clock mean nothing on this one.
  lastQueryEnd_ = {};
  lateReplyGuardUntil_ = {};
  frameCut_ = false;
}

bool Controller::send(const Bytes& frame) {
  if (frameListener_) frameListener_(frame);
  if (frameCut_) {
    trace("\nNot sent (%02X): no answer since a frame was cut short", frame.empty() ? 0 : frame[0]);
    ++failedWrites_;
    return false;
  }
  if (transport_->write(frame)) return true;
  ++failedWrites_;
  const std::size_t written = transport_->lastWriteCount();
  if (transport_->lost()) {
    setLinkState(LinkState::Disconnected);
  } else if (written > 0 && written < frame.size()) {
    frameCut_ = true;
    cutAt_ = transport_->clock().now();
    trace("\nFrame cut short (%02X): %zu of %zu bytes written", frame[0], written, frame.size());
    if (linkState_ == LinkState::Connected) setLinkState(LinkState::NotAnswering);
  }
  return false;
}

bool Controller::checkLink() {
  if (linkState_ == LinkState::Disconnected) return false;
  if (transport_->checkLink()) return true;
  setLinkState(LinkState::Disconnected);
  return false;
}

void Controller::beginAction() { actionFailed_ = false; }

void Controller::setLinkState(LinkState state) {
  if (state == linkState_) return;
  linkState_ = state;
  if (linkStateListener_) linkStateListener_(state);
}

bool Controller::sendable(const char* sender, Field field, int value) {
  if (!state.isKnown(field)) {
    trace("\nNot sent (%s): value unknown", sender);
    return false;
  }
  if (!inRange(field, value)) {
    trace("\nNot sent (%s): value %d out of range", sender, value);
    return false;
  }
  return true;
}

void Controller::sendFixed(uint8_t code, const char* traceText) {
  send(encodeFixed(code));
  trace("\n%s", traceText);
}

void Controller::sendValue(uint8_t code, Field field, int value, const char* sender,
                           const char* traceFormat) {
  if (!sendable(sender, field, value)) return;
  send(encodeValueFrame(code, value));
  // The value byte is printed as a signed byte widened to an integer.
  trace(traceFormat, static_cast<int>(static_cast<int8_t>(value & 0xFF)));
}

// Model, colour and the AutoBrake senders print the frame one byte per line.
void Controller::sendValueListed(uint8_t code, int value, const char* sender) {
  send(encodeValueFrame(code, value));
  trace("\n%s(): \n\t%X", sender, code);
  trace("\n\t%d", value);
  trace("\n\t%X", closingByte(code));
}

void Controller::sendCurve(uint8_t code, Field field, const Curve& curve, const char* sender) {
  if (!state.isKnown(field)) {
    trace("\nNot sent (%s): value unknown", sender);
    return;
  }
  for (int point : curve) {
    if (!inRange(field, point)) {
      trace("\nNot sent (%s): value %d out of range", sender, point);
      return;
    }
  }
  send(encodeCurveFrame(code, curve));
  trace("\n%s(): \n\t%X", sender, code);
  for (int point : curve) trace("\n\t%d", point);
  trace("\n\t%X", closingByte(code));
}

void Controller::sendProfile(uint8_t code, Field field, const ProfileName& name, const char* sender) {
  if (!sendable(sender, field, 0)) return;
  send(encodeProfileFrame(code, name));
  trace("\n%s(): \n\t%X", sender, code);
  trace("\nDato:%.15s", name.data());
  trace("\n\t%X", closingByte(code));
}

void Controller::SetPedalesInicial() { sendFixed(fixed::kSetPedalesInicial, "SetPedalesInicial() FFF2"); }
void Controller::SetAceleradorBajo() { sendFixed(fixed::kSetAceleradorBajo, "SetAceleradorBajo() FFA0"); }
void Controller::SetFrenoBajo() { sendFixed(fixed::kSetFrenoBajo, "SetFrenoBajo() FFB0"); }
void Controller::SetEmbragueBajo() { sendFixed(fixed::kSetEmbragueBajo, "SetEmbragueBajo() FFC0"); }
void Controller::SetAceleradorAlto() { sendFixed(fixed::kSetAceleradorAlto, "SetAceleradorAlto() FFAA"); }
void Controller::SetFrenoAlto() { sendFixed(fixed::kSetFrenoAlto, "SetFrenoAlto() FFBA"); }
void Controller::SetEmbragueAlto() { sendFixed(fixed::kSetEmbragueAlto, "SetEmbragueAlto() FFCA"); }
void Controller::SetPedalesGuardar() { sendFixed(fixed::kSetPedalesGuardar, "SetPedalesGuardar() FFF1"); }
void Controller::SetPedalesRestaurar() { sendFixed(fixed::kSetPedalesRestaurar, "SetPedalesRestaurar() FFF3"); }
void Controller::SetGuardarZonasPedales() { sendFixed(fixed::kSetGuardarZonasPedales, "SetGuardarZonasPedales() FF F4"); }
void Controller::SetInicializarZonasPedales() { sendFixed(fixed::kSetInicializarZonasPedales, "SetInicializarZonasPedales() FF F5"); }
void Controller::SetGuardarCurvasPedales() { sendFixed(fixed::kSetGuardarCurvasPedales, "SetGuardarCurvasPedales() FF F7"); }
void Controller::SetPerfilSport() { sendFixed(fixed::kSetPerfilSport, "SetPerfilSport() FF 21"); }
void Controller::SetPerfilPro() { sendFixed(fixed::kSetPerfilPro, "SetPerfilPro() FF 11"); }

void Controller::SetPuntosCalibracion(int step) {
  switch (step) {
    case 0:
      SetAceleradorBajo();
      SetFrenoBajo();
      if (state.hasClutch) SetEmbragueBajo();
      break;
    case 1: SetAceleradorAlto(); break;
    case 2: SetFrenoAlto(); break;
    case 3: SetEmbragueAlto(); break;
    default: break;
  }
}

// Each value sender names its field: an unknown field or a value outside its range is
// not sent (one trace line says so), so nothing the program never learnt reaches the pedals.
#define TKB_VALUE_SENDER(fn, code, field, expr, closing)                                 \
  void Controller::fn() {                                                                \
    sendValue(value::code, Field::field, (expr), #fn, "\n" #fn "() " closing);          \
  }

void Controller::MandarDatosIdioma() {
  sendValue(value::kIdioma, Field::Language, languageCode(state.language), "MandarDatosIdioma",
            "\nMandarDatosIdioma() B2 %X 2B");
}
TKB_VALUE_SENDER(MandarDatosConfigZonas, kConfigZonas, ZonesEnabled, state.zonesEnabled ? 1 : 0, "B3 %X 3B")
TKB_VALUE_SENDER(MandarDatosConfigCalibrado, kConfigCalibrado, Calibrated, state.calibrated ? 1 : 0, "B4 %X 4B")
TKB_VALUE_SENDER(MandarDatosConfigSportActivado, kConfigSportActivado, SportProfileActive,
                 state.sportProfileActive ? 1 : 0, "B5 %X 5B")
TKB_VALUE_SENDER(MandarDatosConfigSportCargado, kConfigSportCargado, SportProfileLoaded,
                 state.sportProfileLoaded ? 1 : 0, "B6 %X 6B")
TKB_VALUE_SENDER(MandarDatosZonaSuperiorEmbrague, kZonaSuperiorEmbrague, ClutchUpper, state.clutchUpper, "C1 %X 1C")
TKB_VALUE_SENDER(MandarDatosZonaInferiorEmbrague, kZonaInferiorEmbrague, ClutchLower, state.clutchLower, "C2 %X 2C")
TKB_VALUE_SENDER(MandarDatosZonaSuperiorFreno, kZonaSuperiorFreno, BrakeUpper, state.brakeUpper, "C3 %X 3C")
TKB_VALUE_SENDER(MandarDatosZonaInferiorFreno, kZonaInferiorFreno, BrakeLower, state.brakeLower, "C5 %X 5C")
TKB_VALUE_SENDER(MandarDatosZonaSuperiorAcelerador, kZonaSuperiorAcelerador, ThrottleUpper, state.throttleUpper, "C6 %X 6C")
TKB_VALUE_SENDER(MandarDatosZonaInferiorAcelerador, kZonaInferiorAcelerador, ThrottleLower, state.throttleLower, "C7 %X 7C")
TKB_VALUE_SENDER(RecalibradoFrenoSuperior, kRecalibradoFrenoSuperior, BrakeRecalPoint, state.brakeRecalPoint, "C8 %X 8C")
TKB_VALUE_SENDER(MandarLetraMas, kLetraMas, LetterMas, state.letterMas, "CA %X AC")
TKB_VALUE_SENDER(MandarLetraMenos, kLetraMenos, LetterMenos, state.letterMenos, "CB %X BC")
TKB_VALUE_SENDER(MandarLetraMas2, kLetraMas2, LetterMas2, state.letterMas2, "CD %X DC")
TKB_VALUE_SENDER(MandarLetraMenos2, kLetraMenos2, LetterMenos2, state.letterMenos2, "CE %X EC")
TKB_VALUE_SENDER(MandarLetraABS, kLetraABS, LetterAbs, state.letterAbs, "D8 %X 8D")
TKB_VALUE_SENDER(MandarLetraAutoBreak, kLetraAutoBreak, LetterAutoBrake, state.letterAutoBrake, "E4 %X 4E")
TKB_VALUE_SENDER(MandarCheto, kCheto, Cheto, state.cheto, "CF %X FC")

#undef TKB_VALUE_SENDER

void Controller::MandarChetoActivo() {
  // Brake stop 100 means "off"; the flag follows the brake stop, so that one must be known.
  if (!sendable("MandarChetoActivo", Field::Cheto, state.cheto)) return;
  const int active = state.cheto != kBrakeStopInactive ? 1 : 0;
  send(encodeValueFrame(value::kChetoActivo, active));
  trace("\nMandarChetoActivo() E2 %X 2E", active);
}
void Controller::MandarModelo() {
  if (sendable("MandarModelo", Field::Model, state.model))
    sendValueListed(value::kModelo, state.model, "MandarModelo");
}
void Controller::MandarColor() {
  if (sendable("MandarColor", Field::Color, state.color))
    sendValueListed(value::kColor, state.color, "MandarColor");
}
// The AutoBrake senders send a constant and make the state say what the controller was told.
void Controller::ActivarAutoBrake() {
  sendValueListed(value::kAutoBrake, 1, "ActivarAutoBrake");
  state.autoBrake = 1;
  state.markKnown(Field::AutoBrake);
}
void Controller::DesactivarAutoBrake() {
  sendValueListed(value::kAutoBrake, 0, "DesactivarAutoBrake");
  state.autoBrake = 0;
  state.markKnown(Field::AutoBrake);
}
void Controller::ActivarAutoBrake2() {
  sendValueListed(value::kAutoBrake2, 1, "ActivarAutoBrake2");
  state.autoBrake2 = 1;
  state.markKnown(Field::AutoBrake2);
}
void Controller::DesactivarAutoBrake2() {
  sendValueListed(value::kAutoBrake2, 0, "DesactivarAutoBrake2");
  state.autoBrake2 = 0;
  state.markKnown(Field::AutoBrake2);
}

void Controller::MandarDatosCurvaEmbrague() {
  sendCurve(block::kCurvaEmbrague, Field::ClutchCurve, state.clutchCurve, "MandarDatosCurvaEmbrague");
}
void Controller::MandarDatosCurvaFreno() {
  sendCurve(block::kCurvaFreno, Field::BrakeCurve, state.brakeCurve, "MandarDatosCurvaFreno");
}
void Controller::MandarDatosCurvaAcelerador() {
  sendCurve(block::kCurvaAcelerador, Field::ThrottleCurve, state.throttleCurve,
            "MandarDatosCurvaAcelerador");
}
void Controller::MandarPerfilPro() {
  sendProfile(block::kPerfilPro, Field::ProProfileName, state.proProfileName, "MandarPerfilPro");
}
void Controller::MandarPerfilSport() {
  sendProfile(block::kPerfilSport, Field::SportProfileName, state.sportProfileName, "MandarPerfilSport");
}

bool Controller::query(Query which) { return ask(which) == QueryResult::Accepted; }

QueryResult Controller::ask(Query which) {
  const QuerySpec& spec = querySpec(which);
  Clock& clock = transport_->clock();
  const auto now = clock.now();
  if (now - lastQueryEnd_ >= kActionGap) actionFailed_ = false;
  if (actionFailed_) {
    trace("\nSin respuesta del controlador (%X) - omitida", spec.request);
    lastQueryEnd_ = now;
    return QueryResult::Skipped;
  }
  if (frameCut_) {
    const auto rested = clock.now() - cutAt_;
    if (rested < std::chrono::milliseconds(kCutFrameRestMs))
      clock.sleepFor(std::chrono::milliseconds(kCutFrameRestMs) -
                     std::chrono::duration_cast<std::chrono::milliseconds>(rested));
  }
  // The drain counts against the query's own wait: an action still waits one time-out at most.
  int waitMs = queryWaitLimitMs_;
  if (resyncPending_) {
    resync();
    const auto drained = std::chrono::duration_cast<std::chrono::milliseconds>(
        clock.now() - now).count();
    waitMs = std::max(queryWaitLimitMs_ - static_cast<int>(drained), queryWaitLimitMs_ / 2);
  }
  bool linkFault = true;
  const QueryResult result = exchange(which, spec, waitMs, linkFault);
  if (result == QueryResult::Accepted) {
    resyncPending_ = false;
    frameCut_ = false;
    if (linkState_ == LinkState::NotAnswering) setLinkState(LinkState::Connected);
  } else if (linkFault) {
    actionFailed_ = true;
    resyncPending_ = true;
    lateReplyGuardUntil_ = requestAt_ + std::chrono::milliseconds(queryWaitLimitMs_ + kLateReplyMarginMs);
    // Whatever the failed exchange left behind must not be read as the next reply.
    transport_->discardInput();
    if (transport_->lost()) {
      setLinkState(LinkState::Disconnected);
    } else if (linkState_ == LinkState::Connected) {
      setLinkState(LinkState::NotAnswering);
    }
  }
  lastQueryEnd_ = clock.now();
  return result;
}

void Controller::resync() {
  Clock& clock = transport_->clock();
  const auto start = clock.now();
  int dropped = transport_->discardInput();
  while (clock.now() - start < std::chrono::milliseconds(kResyncDrainMaxMs) &&
         transport_->inputWithin(kResyncQuietMs))
    dropped += transport_->discardInput();
  if (dropped > 0) trace("\nDescartados %d bytes llegados tarde", dropped);
}

QueryResult Controller::exchange(Query which, const QuerySpec& spec, int waitMs, bool& linkFault) {
  trace("%s", spec.traceLine);
  std::vector<uint8_t> reply(static_cast<size_t>(spec.replyBytes), 0);
  const uint8_t request = spec.request;
  transport_->discardInput();
  Clock& clock = transport_->clock();
  requestAt_ = clock.now();
  if (!transport_->write({&request, 1})) {
    ++failedWrites_;
    return QueryResult::WriteFailed;
  }

  // Every query, also those with an attempt limit, waits at most the wait limit: no action
  // waits more than one time-out for a controller that has stopped answering.
  const auto start = clock.now();
  int attempts = 0;
  ReadResult r;
  for (;;) {
    r = transport_->read(reply);
    ++attempts;
    if (!r.ok) {
      trace("wrong character");
      trace("Error %d.\n", r.error);
    }
    if (spec.countLine == CountLine::Version) trace("Cuenta %d.\n", r.count);
    if (spec.countLine == CountLine::Model)
      trace("\n%d < %d -> %d,%d,%d ", r.count, 3, static_cast<int8_t>(reply[0]),
            static_cast<int8_t>(reply[1]), static_cast<int8_t>(reply[2]));
    if (r.ok && r.count >= spec.replyBytes) break;
    if (spec.attemptLimited && attempts >= kQueryReadAttempts) break;
    if (clock.now() - start >= std::chrono::milliseconds(waitMs)) {
      trace("\nSin respuesta del controlador (%X) - tiempo agotado", spec.request);
      break;
    }
  }

  switch (spec.countLine) {
    case CountLine::Version: trace("\nVersion -> %d", r.count); break;
    case CountLine::MaxFreno: trace("\nMax Freno -> %d", r.count); break;
    case CountLine::EstadoPro: trace("\nEstado Perfil Pro -> %d", r.count); break;
    case CountLine::EstadoSport: trace("\nEstado Perfil Sport -> %d", r.count); break;
    case CountLine::Terminated:
    case CountLine::Model: trace("\nRESPUESTA TERMINADA -> %d", r.count); break;
  }
  if (which == Query::ProProfileName || which == Query::SportProfileName)
    trace("\nDato:%.15s", reinterpret_cast<const char*>(reply.data() + 1));
  for (int i = 0; i < r.count; ++i) trace("\nDato%d -> %d", i, static_cast<int8_t>(reply[i]));

  if (r.count < spec.replyBytes) return r.count == 0 ? QueryResult::TimedOut : QueryResult::Rejected;
  // After a failed query the reply just read may be the late answer to that one, with this
  // request's own answer right behind it: such a reply is not taken, for as long as that late
  // answer may still come.
  if ((resyncPending_ || clock.now() < lateReplyGuardUntil_) && transport_->inputWithin(kResyncTrailingMs)) {
    trace("\nRespuesta seguida de mas bytes (%X) - descartada", spec.request);
    return QueryResult::Rejected;
  }
  switch (decodeReply(which, reply, state)) {
    case ReplyCheck::Applied: break;
    case ReplyCheck::BadFrame: return QueryResult::Rejected;
    case ReplyCheck::OutOfRange:
      // A framed reply with a value the field cannot hold: nothing is stored, but the link
      // itself answered as it should.
      trace("\nValor fuera de rango (%X) - no guardado", spec.request);
      linkFault = false;
      return QueryResult::Rejected;
  }
  trace(" ... ok");
  if (which == Query::Identify)
    trace("->> %d - %d - %d", state.firmwareVersion[0], state.firmwareVersion[1],
          state.firmwareVersion[2]);
  return QueryResult::Accepted;
}

void Controller::ReaplicarFreno(const std::function<void()>& showBrakeZones) {
  trace("\nReaplicarFreno - Inicio");
  // The new limit comes from the automatic calibration; without one there is nothing to apply.
  if (state.isKnown(Field::BrakeRecalPoint) &&
      setSetting(state, Field::BrakeMax, state.brakeRecalPoint)) {
    setSetting(state, Field::BrakeUpper, state.brakeRecalPoint);
    query(Query::BrakeZones);
    // The controller's brake maximum stays what the calibration set, whatever A5 said.
    setSetting(state, Field::BrakeUpper, state.brakeMax);
    if (showBrakeZones) showBrakeZones();
    MandarDatosConfigCalibrado();
    SetGuardarZonasPedales();
    state.zonesEnabled = true;  // no B3 is sent
  } else {
    trace("\nNot sent (ReaplicarFreno): value unknown");
  }
  trace("\nReaplicarFreno - Final");
}

}  // namespace tkb
