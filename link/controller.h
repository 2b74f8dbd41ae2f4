// Controller: the one open link to the pedal controller (ControllerLink) together with
// ControllerState, the command senders and the queries. Commands are fire-and-forget:
// the controller never acknowledges them; only the queries tell what it really holds.
// Used by the probe, the start-up sequence, every page and tkb-cli, on one thread.
// The controller is reached only through a Transport: its own SerialPort unless another
// transport was handed to it (useTransport), and every wait it measures runs on that
// transport's clock.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <utility>

#include "link/controller_state.h"
#include "link/protocol.h"
#include "link/serial_port.h"
#include "link/transport.h"

namespace tkb {

// A query without an attempt limit waits at most this long for its full reply: a
// controller that stops answering must not hang the program.
inline constexpr int kQueryWaitLimitMs = 1000;
inline constexpr int kQueryReadAttempts = 30;
// After a query that got no valid reply, its reply may still come, late. Before the next
// request the input is drained until it has been quiet this long...
inline constexpr int kResyncQuietMs = 100;
// ...(but no longer than this while bytes keep coming), and the first reply after it is only
// taken when nothing follows it within this time: a late reply read as the answer to the
// next request always has that request's own reply right behind it.
inline constexpr int kResyncDrainMaxMs = 300;
inline constexpr int kResyncTrailingMs = 40;
// That check stays on for every query until the failed one's reply can no longer come: its
// wait limit plus this margin from its request on. A late reply may otherwise slip in between
// a later request and that request's own answer and be taken for it.
inline constexpr int kLateReplyMarginMs = 500;
// A frame whose write timed out part-way leaves its start in the controller, which would take
// the next bytes for its rest. Nothing more is sent until a query is answered again, and the
// first request after it waits until the line has been quiet this long, so that the
// controller has dropped the cut frame (it drops an unfinished frame after 200 ms of quiet).
inline constexpr int kCutFrameRestMs = 250;

// What became of one query.
enum class QueryResult {
  Accepted,     // a framed reply of the right length was decoded into the state
  Rejected,     // something arrived but failed the frame or length check, or a decoded
                // value lay outside its field's range
  TimedOut,     // nothing complete arrived in time
  WriteFailed,  // the request byte could not be written
  Skipped,      // not asked: an earlier query of the same action got no answer
};
const char* queryResultName(QueryResult result);

// The link as the program sees it: replies accepted; a query that got no valid reply
// (the rest of that action is skipped); or the port gone (read/write errors, hang-up).
enum class LinkState { Connected, NotAnswering, Disconnected };
const char* linkStateName(LinkState state);

class Controller {
 public:
  ControllerState state;

  // The controller's own serial port, which the probe opens and the firmware update uses,
  // whichever transport the queries and senders go through.
  SerialPort& link() { return link_; }
  // Queries and senders go through `transport` from now on (it must outlive the
  // controller or the next useTransport / useOwnPort); useOwnPort goes back to link().
  void useTransport(Transport& transport);
  void useOwnPort() { useTransport(link_); }
  Transport& transport() { return *transport_; }
  // The port the probe left open, or empty.
  const std::string& portName() const { return portName_; }
  void setPortName(const std::string& name) { portName_ = name; }
  void closeLink() { link_.close(); }

  // One write of the whole frame. False when it could not be written; the controller never
  // acknowledges a command, so true only means the bytes left. A frame cut short by the
  // write's time-out makes the link not answering, and no frame is sent from then on until
  // a query is answered.
  bool send(const Bytes& frame);
  // A frame was cut short and no query has been answered since.
  bool frameCut() const { return frameCut_; }
  // How many frames (commands and requests) could not be written since the start.
  int failedWrites() const { return failedWrites_; }

  // Fixed commands [FF, code].
  void SetPedalesInicial();
  void SetAceleradorBajo();
  void SetFrenoBajo();
  void SetEmbragueBajo();
  void SetAceleradorAlto();
  void SetFrenoAlto();
  void SetEmbragueAlto();
  void SetPedalesGuardar();
  void SetPedalesRestaurar();
  void SetGuardarZonasPedales();
  void SetInicializarZonasPedales();
  void SetGuardarCurvasPedales();
  void SetPerfilSport();
  void SetPerfilPro();
  // Step 0: the three rest points (clutch only with one); 1 throttle, 2 brake, 3 clutch
  // fully pressed; any other step sends nothing.
  void SetPuntosCalibracion(int step);

  // Value frames [code, value, closing], each taking its value from the state.
  void MandarDatosIdioma();
  void MandarDatosConfigZonas();
  void MandarDatosConfigCalibrado();
  void MandarDatosConfigSportActivado();
  void MandarDatosConfigSportCargado();
  void MandarDatosZonaSuperiorEmbrague();
  void MandarDatosZonaInferiorEmbrague();
  void MandarDatosZonaSuperiorFreno();
  void MandarDatosZonaInferiorFreno();
  void MandarDatosZonaSuperiorAcelerador();
  void MandarDatosZonaInferiorAcelerador();
  void RecalibradoFrenoSuperior();
  void MandarLetraMas();
  void MandarLetraMenos();
  void MandarLetraMas2();
  void MandarLetraMenos2();
  void MandarLetraABS();
  void MandarLetraAutoBreak();
  void MandarCheto();
  void MandarChetoActivo();
  void MandarModelo();
  void MandarColor();
  // The AutoBrake senders write autoBrake / autoBrake2 from the value they sent.
  void ActivarAutoBrake();
  void DesactivarAutoBrake();
  void ActivarAutoBrake2();
  void DesactivarAutoBrake2();

  // Block frames.
  void MandarDatosCurvaEmbrague();
  void MandarDatosCurvaFreno();
  void MandarDatosCurvaAcelerador();
  void MandarPerfilPro();
  void MandarPerfilSport();

  // One query: pending input discarded, request byte, reads with the transport's rules,
  // validation, decoding. After a query of the current action got no valid reply, the
  // action's later queries are skipped (so no action waits more than one time-out).
  QueryResult ask(Query query);
  // ask() == Accepted.
  bool query(Query query);

  // Starts a new action (a click, a key, a start-up step): queries are asked again even
  // when the previous action ended without an answer. A query asked 300 ms or more after
  // the previous one also starts a new action.
  void beginAction();

  LinkState linkState() const { return linkState_.load(); }
  // Looks at the transport without waiting (see Transport::checkLink); a line that is gone
  // makes the link Disconnected. False while Disconnected.
  bool checkLink();
  // Called with every frame a sender writes (whether or not it left), on the sending thread.
  void setFrameListener(std::function<void(const Bytes&)> listener) { frameListener_ = std::move(listener); }
  // Sets the state (Disconnected comes from whoever noticed the port is gone) and tells
  // the listener when it changes.
  void setLinkState(LinkState state);
  // Called on the thread that changes the state, after each change.
  void setLinkStateListener(std::function<void(LinkState)> listener) {
    linkStateListener_ = std::move(listener);
  }

  // Re-applies the brake limit after an automatic brake calibration. showBrakeZones puts
  // the new brake values on the pages' spin boxes (which resend them) and restyles the bars.
  void ReaplicarFreno(const std::function<void()>& showBrakeZones);

  // For tests and the benchmarks: how long a query without attempt limit may wait.
  void setQueryWaitLimitMs(int ms) { queryWaitLimitMs_ = ms; }

 private:
  QueryResult exchange(Query query, const QuerySpec& spec, int waitMs, bool& linkFault);
  void resync();
  // False, with one trace line, when the field is unknown or the value out of its range.
  bool sendable(const char* sender, Field field, int value);
  void sendFixed(uint8_t code, const char* traceText);
  void sendValue(uint8_t code, Field field, int value, const char* sender, const char* traceFormat);
  void sendValueListed(uint8_t code, int value, const char* sender);
  void sendCurve(uint8_t code, Field field, const Curve& curve, const char* sender);
  void sendProfile(uint8_t code, Field field, const ProfileName& name, const char* sender);

  SerialPort link_;
  Transport* transport_ = &link_;
  std::string portName_;
  int queryWaitLimitMs_ = kQueryWaitLimitMs;
  std::atomic<LinkState> linkState_{LinkState::Connected};
  std::function<void(const Bytes&)> frameListener_;
  std::function<void(LinkState)> linkStateListener_;
  bool actionFailed_ = false;  // a query of the current action got no valid reply
  bool resyncPending_ = false;  // ...and its reply may still be on its way
  bool frameCut_ = false;
  Clock::TimePoint cutAt_{};
  Clock::TimePoint lateReplyGuardUntil_{};  // until then a reply with bytes behind it is not taken
  Clock::TimePoint requestAt_{};            // the last request byte was written then
  int failedWrites_ = 0;
  Clock::TimePoint lastQueryEnd_{};
};

}  // namespace tkb
