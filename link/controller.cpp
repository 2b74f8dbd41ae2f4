#include "link/controller.h"

#include <chrono>
#include <vector>

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

bool Controller::send(const Bytes& frame) {
  if (frameListener_) frameListener_(frame);
  const bool sent = link_.write(frame);
  if (!sent && link_.lost()) setLinkState(LinkState::Disconnected);
  return sent;
}

bool Controller::checkLink() {
  if (linkState_ == LinkState::Disconnected) return false;
  if (link_.checkLink()) return true;
  setLinkState(LinkState::Disconnected);
  return false;
}

void Controller::beginAction() { actionFailed_ = false; }

void Controller::setLinkState(LinkState state) {
  if (state == linkState_) return;
  linkState_ = state;
  if (linkStateListener_) linkStateListener_(state);
}

void Controller::sendFixed(uint8_t code, const char* traceText) {
  send(encodeFixed(code));
  trace("\n%s", traceText);
}

void Controller::sendValue(uint8_t code, int value, const char* traceFormat) {
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

void Controller::sendCurve(uint8_t code, const Curve& curve, const char* sender) {
  send(encodeCurveFrame(code, curve));
  trace("\n%s(): \n\t%X", sender, code);
  for (int point : curve) trace("\n\t%d", point);
  trace("\n\t%X", closingByte(code));
}

void Controller::sendProfile(uint8_t code, const ProfileName& name, const char* sender) {
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

void Controller::MandarDatosIdioma() {
  sendValue(value::kIdioma, languageCode(state.language), "\nMandarDatosIdioma() B2 %X 2B");
}
void Controller::MandarDatosConfigZonas() {
  sendValue(value::kConfigZonas, state.zonesEnabled ? 1 : 0, "\nMandarDatosConfigZonas() B3 %X 3B");
}
void Controller::MandarDatosConfigCalibrado() {
  sendValue(value::kConfigCalibrado, state.calibrated ? 1 : 0, "\nMandarDatosConfigCalibrado() B4 %X 4B");
}
void Controller::MandarDatosConfigSportActivado() {
  sendValue(value::kConfigSportActivado, state.sportProfileActive ? 1 : 0,
            "\nMandarDatosConfigSportActivado() B5 %X 5B");
}
void Controller::MandarDatosConfigSportCargado() {
  sendValue(value::kConfigSportCargado, state.sportProfileLoaded ? 1 : 0,
            "\nMandarDatosConfigSportCargado() B6 %X 6B");
}
void Controller::MandarDatosZonaSuperiorEmbrague() {
  sendValue(value::kZonaSuperiorEmbrague, state.clutchUpper, "\nMandarDatosZonaSuperiorEmbrague() C1 %X 1C");
}
void Controller::MandarDatosZonaInferiorEmbrague() {
  sendValue(value::kZonaInferiorEmbrague, state.clutchLower, "\nMandarDatosZonaInferiorEmbrague() C2 %X 2C");
}
void Controller::MandarDatosZonaSuperiorFreno() {
  sendValue(value::kZonaSuperiorFreno, state.brakeUpper, "\nMandarDatosZonaSuperiorFreno() C3 %X 3C");
}
void Controller::MandarDatosZonaInferiorFreno() {
  sendValue(value::kZonaInferiorFreno, state.brakeLower, "\nMandarDatosZonaInferiorFreno() C5 %X 5C");
}
void Controller::MandarDatosZonaSuperiorAcelerador() {
  sendValue(value::kZonaSuperiorAcelerador, state.throttleUpper,
            "\nMandarDatosZonaSuperiorAcelerador() C6 %X 6C");
}
void Controller::MandarDatosZonaInferiorAcelerador() {
  sendValue(value::kZonaInferiorAcelerador, state.throttleLower,
            "\nMandarDatosZonaInferiorAcelerador() C7 %X 7C");
}
void Controller::RecalibradoFrenoSuperior() {
  sendValue(value::kRecalibradoFrenoSuperior, state.brakeRecalPoint, "\nRecalibradoFrenoSuperior() C8 %X 8C");
}
void Controller::MandarLetraMas() { sendValue(value::kLetraMas, state.letterMas, "\nMandarLetraMas() CA %X AC"); }
void Controller::MandarLetraMenos() { sendValue(value::kLetraMenos, state.letterMenos, "\nMandarLetraMenos() CB %X BC"); }
void Controller::MandarLetraMas2() { sendValue(value::kLetraMas2, state.letterMas2, "\nMandarLetraMas2() CD %X DC"); }
void Controller::MandarLetraMenos2() { sendValue(value::kLetraMenos2, state.letterMenos2, "\nMandarLetraMenos2() CE %X EC"); }
void Controller::MandarLetraABS() { sendValue(value::kLetraABS, state.letterAbs, "\nMandarLetraABS() D8 %X 8D"); }
void Controller::MandarLetraAutoBreak() {
  sendValue(value::kLetraAutoBreak, state.letterAutoBrake, "\nMandarLetraAutoBreak() E4 %X 4E");
}
void Controller::MandarCheto() { sendValue(value::kCheto, state.cheto, "\nMandarCheto() CF %X FC"); }
void Controller::MandarChetoActivo() {
  // Brake stop 100 means "off".
  sendValue(value::kChetoActivo, state.cheto != 100 ? 1 : 0, "\nMandarChetoActivo() E2 %X 2E");
}
void Controller::MandarModelo() { sendValueListed(value::kModelo, state.model, "MandarModelo"); }
void Controller::MandarColor() { sendValueListed(value::kColor, state.color, "MandarColor"); }
void Controller::ActivarAutoBrake() {
  sendValueListed(value::kAutoBrake, 1, "ActivarAutoBrake");
  state.autoBrake = 1;
}
void Controller::DesactivarAutoBrake() {
  sendValueListed(value::kAutoBrake, 0, "DesactivarAutoBrake");
  state.autoBrake = 0;
}
void Controller::ActivarAutoBrake2() {
  sendValueListed(value::kAutoBrake2, 1, "ActivarAutoBrake2");
  state.autoBrake2 = 1;
}
void Controller::DesactivarAutoBrake2() {
  sendValueListed(value::kAutoBrake2, 0, "DesactivarAutoBrake2");
  state.autoBrake2 = 0;
}

void Controller::MandarDatosCurvaEmbrague() {
  sendCurve(block::kCurvaEmbrague, state.clutchCurve, "MandarDatosCurvaEmbrague");
}
void Controller::MandarDatosCurvaFreno() {
  sendCurve(block::kCurvaFreno, state.brakeCurve, "MandarDatosCurvaFreno");
}
void Controller::MandarDatosCurvaAcelerador() {
  sendCurve(block::kCurvaAcelerador, state.throttleCurve, "MandarDatosCurvaAcelerador");
}
void Controller::MandarPerfilPro() {
  sendProfile(block::kPerfilPro, state.proProfileName, "MandarPerfilPro");
}
void Controller::MandarPerfilSport() {
  sendProfile(block::kPerfilSport, state.sportProfileName, "MandarPerfilSport");
}

bool Controller::query(Query which) { return ask(which) == QueryResult::Accepted; }

QueryResult Controller::ask(Query which) {
  const QuerySpec& spec = querySpec(which);
  const auto now = std::chrono::steady_clock::now();
  if (now - lastQueryEnd_ >= kActionGap) actionFailed_ = false;
  if (actionFailed_) {
    trace("\nSin respuesta del controlador (%X) - omitida", spec.request);
    lastQueryEnd_ = now;
    return QueryResult::Skipped;
  }
  const QueryResult result = exchange(which, spec);
  if (result == QueryResult::Accepted) {
    if (linkState_ == LinkState::NotAnswering) setLinkState(LinkState::Connected);
  } else {
    actionFailed_ = true;
    // Whatever the failed exchange left behind must not be read as the next reply.
    link_.discardInput();
    if (link_.lost()) {
      setLinkState(LinkState::Disconnected);
    } else if (linkState_ == LinkState::Connected) {
      setLinkState(LinkState::NotAnswering);
    }
  }
  lastQueryEnd_ = std::chrono::steady_clock::now();
  return result;
}

QueryResult Controller::exchange(Query which, const QuerySpec& spec) {
  trace("%s", spec.traceLine);
  std::vector<uint8_t> reply(static_cast<size_t>(spec.replyBytes), 0);
  const uint8_t request = spec.request;
  link_.discardInput();
  if (!link_.write({&request, 1})) return QueryResult::WriteFailed;

  const auto start = std::chrono::steady_clock::now();
  int attempts = 0;
  ReadResult r;
  for (;;) {
    r = link_.read(reply);
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
    if (spec.attemptLimited) {
      if (attempts >= kQueryReadAttempts) break;
    } else if (std::chrono::steady_clock::now() - start >=
               std::chrono::milliseconds(queryWaitLimitMs_)) {
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
  if (!applyReply(which, reply, state)) return QueryResult::Rejected;
  trace(" ... ok");
  if (which == Query::Identify)
    trace("->> %d - %d - %d", state.firmwareVersion[0], state.firmwareVersion[1],
          state.firmwareVersion[2]);
  return QueryResult::Accepted;
}

void Controller::ReaplicarFreno(const std::function<void()>& showBrakeZones) {
  trace("\nReaplicarFreno - Inicio");
  state.brakeUpper = state.brakeRecalPoint;
  state.brakeMax = static_cast<int16_t>(state.brakeRecalPoint);
  query(Query::BrakeZones);
  state.brakeUpper = state.brakeMax;
  if (showBrakeZones) showBrakeZones();
  MandarDatosConfigCalibrado();
  SetGuardarZonasPedales();
  state.zonesEnabled = true;  // no B3 is sent
  trace("\nReaplicarFreno - Final");
}

}  // namespace tkb
