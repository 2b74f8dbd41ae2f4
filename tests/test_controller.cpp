// Command senders and queries against the emulated firmware through the in-memory transport:
// the exact bytes on the wire, the trace lines, what bad or missing replies do, and how long
// each query waits, in fake time. One test runs over a real pseudo-terminal: bytes that
// trickle in slower than the serial port's interval time-out.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>
#include <functional>

#include "app/startup_reads.h"
#include "emulator_fixture.h"
#include "link/controller.h"
#include "memory_fixture.h"

namespace tkb {
namespace {

using test::EmulatedPorts;
using test::hexFrames;
using test::MemoryController;
using test::TraceCapture;

void connectTo(Controller& controller, const std::string& path) {
  SerialPort& port = controller.link();
  ASSERT_TRUE(port.open(path));
  ASSERT_TRUE(port.getState());
  ASSERT_TRUE(port.buildState());
  ASSERT_TRUE(port.applyState());
  ASSERT_TRUE(port.setTimeouts());
}

class ControllerTest : public ::testing::Test {
 protected:
  std::vector<Bytes> frames() { return memory_.frames(); }
  void clearFrames() { memory_.link.model().clearReceived(); }
  emu::FirmwareModel& firmware() { return memory_.link.model(); }

  MemoryController memory_;
  Controller& controller_ = memory_.controller;
};

struct SenderCase {
  const char* name;
  std::function<void(ControllerState&)> setup;
  std::function<void(Controller&)> send;
  std::vector<Bytes> frames;
  const char* trace;
};

TEST_F(ControllerTest, EverySenderWritesItsExactFrameAndTrace) {
  const Curve curve{0, 5, 15, 25, 40, 55, 70, 80, 90, 95, 100};
  const SenderCase cases[] = {
      {"SetPedalesInicial", {}, [](Controller& c) { c.SetPedalesInicial(); }, {{0xFF, 0xF2}}, "\nSetPedalesInicial() FFF2"},
      {"SetAceleradorBajo", {}, [](Controller& c) { c.SetAceleradorBajo(); }, {{0xFF, 0xA0}}, "\nSetAceleradorBajo() FFA0"},
      {"SetFrenoBajo", {}, [](Controller& c) { c.SetFrenoBajo(); }, {{0xFF, 0xB0}}, "\nSetFrenoBajo() FFB0"},
      {"SetEmbragueBajo", {}, [](Controller& c) { c.SetEmbragueBajo(); }, {{0xFF, 0xC0}}, "\nSetEmbragueBajo() FFC0"},
      {"SetAceleradorAlto", {}, [](Controller& c) { c.SetAceleradorAlto(); }, {{0xFF, 0xAA}}, "\nSetAceleradorAlto() FFAA"},
      {"SetFrenoAlto", {}, [](Controller& c) { c.SetFrenoAlto(); }, {{0xFF, 0xBA}}, "\nSetFrenoAlto() FFBA"},
      {"SetEmbragueAlto", {}, [](Controller& c) { c.SetEmbragueAlto(); }, {{0xFF, 0xCA}}, "\nSetEmbragueAlto() FFCA"},
      {"SetPedalesGuardar", {}, [](Controller& c) { c.SetPedalesGuardar(); }, {{0xFF, 0xF1}}, "\nSetPedalesGuardar() FFF1"},
      {"SetPedalesRestaurar", {}, [](Controller& c) { c.SetPedalesRestaurar(); }, {{0xFF, 0xF3}}, "\nSetPedalesRestaurar() FFF3"},
      {"SetGuardarZonasPedales", {}, [](Controller& c) { c.SetGuardarZonasPedales(); }, {{0xFF, 0xF4}}, "\nSetGuardarZonasPedales() FF F4"},
      {"SetInicializarZonasPedales", {}, [](Controller& c) { c.SetInicializarZonasPedales(); }, {{0xFF, 0xF5}}, "\nSetInicializarZonasPedales() FF F5"},
      {"SetGuardarCurvasPedales", {}, [](Controller& c) { c.SetGuardarCurvasPedales(); }, {{0xFF, 0xF7}}, "\nSetGuardarCurvasPedales() FF F7"},
      {"SetPerfilSport", {}, [](Controller& c) { c.SetPerfilSport(); }, {{0xFF, 0x21}}, "\nSetPerfilSport() FF 21"},
      {"SetPerfilPro", {}, [](Controller& c) { c.SetPerfilPro(); }, {{0xFF, 0x11}}, "\nSetPerfilPro() FF 11"},
      {"Portuguese", [](ControllerState& s) { s.language = "Portuguese"; }, [](Controller& c) { c.MandarDatosIdioma(); }, {{0xB2, 0x05, 0x2B}}, "\nMandarDatosIdioma() B2 5 2B"},
      {"German", [](ControllerState& s) { s.language = "German"; }, [](Controller& c) { c.MandarDatosIdioma(); }, {{0xB2, 0x04, 0x2B}}, "\nMandarDatosIdioma() B2 4 2B"},
      {"unknown language", [](ControllerState& s) { s.language = "Dutch"; }, [](Controller& c) { c.MandarDatosIdioma(); }, {{0xB2, 0x05, 0x2B}}, "\nMandarDatosIdioma() B2 5 2B"},
      {"zones", [](ControllerState& s) { s.zonesEnabled = true; }, [](Controller& c) { c.MandarDatosConfigZonas(); }, {{0xB3, 0x01, 0x3B}}, "\nMandarDatosConfigZonas() B3 1 3B"},
      {"calibrated", {}, [](Controller& c) { c.MandarDatosConfigCalibrado(); }, {{0xB4, 0x00, 0x4B}}, "\nMandarDatosConfigCalibrado() B4 0 4B"},
      {"sport active", [](ControllerState& s) { s.sportProfileActive = true; }, [](Controller& c) { c.MandarDatosConfigSportActivado(); }, {{0xB5, 0x01, 0x5B}}, "\nMandarDatosConfigSportActivado() B5 1 5B"},
      {"sport loaded", [](ControllerState& s) { s.sportProfileLoaded = true; }, [](Controller& c) { c.MandarDatosConfigSportCargado(); }, {{0xB6, 0x01, 0x6B}}, "\nMandarDatosConfigSportCargado() B6 1 6B"},
      {"clutch upper 0", [](ControllerState& s) { s.clutchUpper = 0; }, [](Controller& c) { c.MandarDatosZonaSuperiorEmbrague(); }, {{0xC1, 0x00, 0x1C}}, "\nMandarDatosZonaSuperiorEmbrague() C1 0 1C"},
      {"clutch upper 100", [](ControllerState& s) { s.clutchUpper = 100; }, [](Controller& c) { c.MandarDatosZonaSuperiorEmbrague(); }, {{0xC1, 0x64, 0x1C}}, "\nMandarDatosZonaSuperiorEmbrague() C1 64 1C"},
      {"clutch lower", [](ControllerState& s) { s.clutchLower = 7; }, [](Controller& c) { c.MandarDatosZonaInferiorEmbrague(); }, {{0xC2, 0x07, 0x2C}}, "\nMandarDatosZonaInferiorEmbrague() C2 7 2C"},
      {"brake upper", [](ControllerState& s) { s.brakeUpper = 80; }, [](Controller& c) { c.MandarDatosZonaSuperiorFreno(); }, {{0xC3, 0x50, 0x3C}}, "\nMandarDatosZonaSuperiorFreno() C3 50 3C"},
      {"brake lower uses C5", [](ControllerState& s) { s.brakeLower = 10; }, [](Controller& c) { c.MandarDatosZonaInferiorFreno(); }, {{0xC5, 0x0A, 0x5C}}, "\nMandarDatosZonaInferiorFreno() C5 A 5C"},
      {"throttle upper", [](ControllerState& s) { s.throttleUpper = 99; }, [](Controller& c) { c.MandarDatosZonaSuperiorAcelerador(); }, {{0xC6, 0x63, 0x6C}}, "\nMandarDatosZonaSuperiorAcelerador() C6 63 6C"},
      {"throttle lower", [](ControllerState& s) { s.throttleLower = 2; }, [](Controller& c) { c.MandarDatosZonaInferiorAcelerador(); }, {{0xC7, 0x02, 0x7C}}, "\nMandarDatosZonaInferiorAcelerador() C7 2 7C"},
      {"recalibration point", [](ControllerState& s) { s.brakeRecalPoint = 99; }, [](Controller& c) { c.RecalibradoFrenoSuperior(); }, {{0xC8, 0x63, 0x8C}}, "\nRecalibradoFrenoSuperior() C8 63 8C"},
      // What the program never learnt, or a value its field cannot hold, is not sent.
      {"recalibration point out of range", [](ControllerState& s) { s.brakeRecalPoint = 200; }, [](Controller& c) { c.RecalibradoFrenoSuperior(); }, {}, "\nNot sent (RecalibradoFrenoSuperior): value 200 out of range"},
      {"unknown brake upper", [](ControllerState& s) { s.known.remove(Field::BrakeUpper); }, [](Controller& c) { c.MandarDatosZonaSuperiorFreno(); }, {}, "\nNot sent (MandarDatosZonaSuperiorFreno): value unknown"},
      {"unknown brake stop", [](ControllerState& s) { s.known.remove(Field::Cheto); }, [](Controller& c) { c.MandarCheto(); c.MandarChetoActivo(); }, {}, "\nNot sent (MandarCheto): value unknown\nNot sent (MandarChetoActivo): value unknown"},
      {"unknown model", [](ControllerState& s) { s.known.remove(Field::Model); }, [](Controller& c) { c.MandarModelo(); }, {}, "\nNot sent (MandarModelo): value unknown"},
      {"curve point 101", [](ControllerState& s) { s.brakeCurve[10] = 101; }, [](Controller& c) { c.MandarDatosCurvaFreno(); }, {}, "\nNot sent (MandarDatosCurvaFreno): value 101 out of range"},
      {"unknown profile name", [](ControllerState& s) { s.known.remove(Field::ProProfileName); }, [](Controller& c) { c.MandarPerfilPro(); }, {}, "\nNot sent (MandarPerfilPro): value unknown"},
      {"letter mas", [](ControllerState& s) { s.letterMas = 5; }, [](Controller& c) { c.MandarLetraMas(); }, {{0xCA, 0x05, 0xAC}}, "\nMandarLetraMas() CA 5 AC"},
      {"letter menos", [](ControllerState& s) { s.letterMenos = 1; }, [](Controller& c) { c.MandarLetraMenos(); }, {{0xCB, 0x01, 0xBC}}, "\nMandarLetraMenos() CB 1 BC"},
      {"letter mas 2", [](ControllerState& s) { s.letterMas2 = 3; }, [](Controller& c) { c.MandarLetraMas2(); }, {{0xCD, 0x03, 0xDC}}, "\nMandarLetraMas2() CD 3 DC"},
      {"letter menos 2", [](ControllerState& s) { s.letterMenos2 = 4; }, [](Controller& c) { c.MandarLetraMenos2(); }, {{0xCE, 0x04, 0xEC}}, "\nMandarLetraMenos2() CE 4 EC"},
      {"letter abs", [](ControllerState& s) { s.letterAbs = 2; }, [](Controller& c) { c.MandarLetraABS(); }, {{0xD8, 0x02, 0x8D}}, "\nMandarLetraABS() D8 2 8D"},
      {"letter autobrake", [](ControllerState& s) { s.letterAutoBrake = 1; }, [](Controller& c) { c.MandarLetraAutoBreak(); }, {{0xE4, 0x01, 0x4E}}, "\nMandarLetraAutoBreak() E4 1 4E"},
      {"cheto 100 then inactive", [](ControllerState& s) { s.cheto = 100; }, [](Controller& c) { c.MandarCheto(); c.MandarChetoActivo(); }, {{0xCF, 0x64, 0xFC}, {0xE2, 0x00, 0x2E}}, "\nMandarCheto() CF 64 FC\nMandarChetoActivo() E2 0 2E"},
      {"cheto 50 then active", [](ControllerState& s) { s.cheto = 50; }, [](Controller& c) { c.MandarCheto(); c.MandarChetoActivo(); }, {{0xCF, 0x32, 0xFC}, {0xE2, 0x01, 0x2E}}, "\nMandarCheto() CF 32 FC\nMandarChetoActivo() E2 1 2E"},
      {"model", [](ControllerState& s) { s.model = 2; }, [](Controller& c) { c.MandarModelo(); }, {{0xD6, 0x02, 0x6D}}, "\nMandarModelo(): \n\tD6\n\t2\n\t6D"},
      {"colour", [](ControllerState& s) { s.color = 1; }, [](Controller& c) { c.MandarColor(); }, {{0xD7, 0x01, 0x7D}}, "\nMandarColor(): \n\tD7\n\t1\n\t7D"},
      {"autobrake on", {}, [](Controller& c) { c.ActivarAutoBrake(); }, {{0xBF, 0x01, 0xFB}}, "\nActivarAutoBrake(): \n\tBF\n\t1\n\tFB"},
      {"autobrake off", {}, [](Controller& c) { c.DesactivarAutoBrake(); }, {{0xBF, 0x00, 0xFB}}, "\nDesactivarAutoBrake(): \n\tBF\n\t0\n\tFB"},
      {"autobrake2 on", {}, [](Controller& c) { c.ActivarAutoBrake2(); }, {{0xE3, 0x01, 0x3E}}, "\nActivarAutoBrake2(): \n\tE3\n\t1\n\t3E"},
      {"autobrake2 off", {}, [](Controller& c) { c.DesactivarAutoBrake2(); }, {{0xE3, 0x00, 0x3E}}, "\nDesactivarAutoBrake2(): \n\tE3\n\t0\n\t3E"},
      {"clutch curve", [&](ControllerState& s) { s.clutchCurve = curve; }, [](Controller& c) { c.MandarDatosCurvaEmbrague(); },
       {{0xBA, 0, 5, 15, 25, 40, 55, 70, 80, 90, 95, 100, 0xAB}},
       "\nMandarDatosCurvaEmbrague(): \n\tBA\n\t0\n\t5\n\t15\n\t25\n\t40\n\t55\n\t70\n\t80\n\t90\n\t95\n\t100\n\tAB"},
      {"brake curve", [&](ControllerState& s) { s.brakeCurve = curve; }, [](Controller& c) { c.MandarDatosCurvaFreno(); },
       {{0xBB, 0, 5, 15, 25, 40, 55, 70, 80, 90, 95, 100, 0xBB}}, nullptr},
      {"throttle curve", [&](ControllerState& s) { s.throttleCurve = curve; }, [](Controller& c) { c.MandarDatosCurvaAcelerador(); },
       {{0xBC, 0, 5, 15, 25, 40, 55, 70, 80, 90, 95, 100, 0xCB}}, nullptr},
      {"pro profile", [](ControllerState& s) { s.proProfileName = makeProfileName("Le Mans 24 hours"); }, [](Controller& c) { c.MandarPerfilPro(); },
       {{0xBD, 'L', 'e', ' ', 'M', 'a', 'n', 's', ' ', '2', '4', ' ', 'h', 'o', 'u', 'r', 0xDB}},
       "\nMandarPerfilPro(): \n\tBD\nDato:Le Mans 24 hour\n\tDB"},
      {"sport profile", [](ControllerState& s) { s.sportProfileName = makeProfileName("Default"); }, [](Controller& c) { c.MandarPerfilSport(); },
       {{0xBE, 'D', 'e', 'f', 'a', 'u', 'l', 't', 0, 0, 0, 0, 0, 0, 0, 0, 0xEB}},
       "\nMandarPerfilSport(): \n\tBE\nDato:Default\n\tEB"},
  };
  for (const SenderCase& c : cases) {
    SCOPED_TRACE(c.name);
    clearFrames();
    controller_.state = ControllerState{};
    controller_.state.known = FieldSet::all();
    if (c.setup) c.setup(controller_.state);
    TraceCapture capture;
    c.send(controller_);
    const auto frames = this->frames();
    EXPECT_EQ(frames, c.frames) << "got " << hexFrames(frames) << " want " << hexFrames(c.frames);
    if (c.trace != nullptr) {
      EXPECT_EQ(capture.text(), c.trace);
    }
  }
}

TEST_F(ControllerTest, AutoBrakeSendersRecordWhatTheySent) {
  controller_.ActivarAutoBrake();
  controller_.ActivarAutoBrake2();
  EXPECT_EQ(controller_.state.autoBrake, 1);
  EXPECT_EQ(controller_.state.autoBrake2, 1);
  controller_.DesactivarAutoBrake2();
  EXPECT_EQ(controller_.state.autoBrake2, 0);
}

TEST_F(ControllerTest, CalibrationPointsDependOnTheClutch) {
  const std::pair<int, std::vector<Bytes>> withClutch[] = {
      {0, {{0xFF, 0xA0}, {0xFF, 0xB0}, {0xFF, 0xC0}}}, {1, {{0xFF, 0xAA}}}, {2, {{0xFF, 0xBA}}},
      {3, {{0xFF, 0xCA}}}, {4, {}}, {-1, {}}};
  controller_.state.hasClutch = true;
  for (const auto& [step, expected] : withClutch) {
    clearFrames();
    controller_.SetPuntosCalibracion(step);
    EXPECT_EQ(frames(), expected) << "step " << step << ": " << hexFrames(frames());
  }
  controller_.state.hasClutch = false;
  clearFrames();
  controller_.SetPuntosCalibracion(0);
  EXPECT_EQ(frames(), (std::vector<Bytes>{{0xFF, 0xA0}, {0xFF, 0xB0}}));
}

TEST_F(ControllerTest, QueryTracesCountsBytesAndOk) {
  emu::FirmwareState& s = firmware().state();
  s.zones.brakeUpper = 80, s.brakeMax = 55, s.zones.brakeLower = 10;
  TraceCapture capture;
  EXPECT_TRUE(controller_.query(Query::BrakeZones));
  EXPECT_EQ(capture.text(),
            "\nPedimos datos de freno\nRESPUESTA TERMINADA -> 5\nDato0 -> 18\nDato1 -> 80"
            "\nDato2 -> 55\nDato3 -> 10\nDato4 -> 33 ... ok");
  EXPECT_EQ(controller_.state.brakeUpper, 80);
  EXPECT_EQ(controller_.state.brakeLower, 10);
}

TEST_F(ControllerTest, StartUpReadsAndLoadDataAskInTheControllersOrder) {
  {
    emu::FirmwareState& s = firmware().state();
    s.languageCode = 4;
    s.configFlags = 0x0F;
    s.model = 9;
    s.color = 2;
    s.cheto = 60;
    s.chetoActive = 1;
    s.letterMenos2 = 5;
    s.curves.brake = {0, 20, 30, 40, 50, 60, 70, 80, 90, 95, 100};
  }
  test::TempDir base;
  std::filesystem::create_directories(base.file("opt"));
  UsageLog log(base.path().string());
  log.setClock([] { return std::time_t{1700000000}; });
  readControllerAtStartup(controller_, &log);

  std::vector<uint8_t> requests;
  for (const Bytes& f : frames())
    if (f.size() == 1) requests.push_back(f[0]);
  const std::vector<uint8_t> expected = {0x5A, 0xD4, 0xD5, 0x4A, 0xA2, 0xA3, 0xE1, 0xAC, 0xA4,
                                         0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xD9, 0xE5, 0xAA, 0xAB,
                                         0xAD, 0xAE, 0xD3, 0xAF, 0xD1, 0xD2, 0x11, 0x21};
  EXPECT_EQ(requests, expected) << test::hex(requests);
  // Model 9 reads as 1 and is sent back at once with the colour.
  const auto sent = frames();
  EXPECT_NE(std::find(sent.begin(), sent.end(), Bytes{0xD6, 0x01, 0x6D}), sent.end());
  EXPECT_NE(std::find(sent.begin(), sent.end(), Bytes{0xD7, 0x02, 0x7D}), sent.end());

  const ControllerState& s = controller_.state;
  EXPECT_EQ(s.language, "German");
  EXPECT_TRUE(s.sportProfileActive && s.calibrated && s.zonesEnabled && s.sportProfileLoaded);
  EXPECT_EQ(s.model, 1);
  EXPECT_EQ(s.color, 2);
  EXPECT_EQ(s.cheto, 60);
  EXPECT_EQ(s.letterMenos2, 5);
  EXPECT_EQ(s.brakeMax, 90);
  EXPECT_EQ(s.brakeCurve, (Curve{0, 20, 30, 40, 50, 60, 70, 80, 90, 95, 100}));
  EXPECT_EQ(s.firmwareVersion, (std::array<int, 3>{7, 6, 0}));
  log.close();

  std::ifstream in(log.usagePath());
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(),
            "[14/11/2023 - 22:13:20] Embrague:-32767 - Freno:-32767 - Acelerador:-32767 [Inicio]\n"
            "[14/11/2023 - 22:13:20] 0 [Estado]\n"
            "[14/11/2023 - 22:13:20] Cheto:ON Max_freno:90 [Datos iniciales]\n"
            "[14/11/2023 - 22:13:20] Max:100 Min:0 [Embrague]\n"
            "[14/11/2023 - 22:13:20] Max:90 Min:0 [Freno]\n"
            "[14/11/2023 - 22:13:20] Max:100 Min:0 [Acelerador]\n");
}

// The third number's preset of 10 never outlives a bad reply: the version stays what the
// probe read.
TEST_F(ControllerTest, FirmwareQueryKeepsTheProbedVersionWhenTheReplyIsBad) {
  controller_.state.firmwareVersion = {7, 6, 0};
  controller_.state.markKnown(Field::FirmwareVersion);
  firmware().faults().wrongEnd = true;
  EXPECT_FALSE(readFirmwareVersion(controller_).ok());
  EXPECT_EQ(controller_.state.firmwareVersion, (std::array<int, 3>{7, 6, 0}));
}

// Each fault the controller can show, and every query kind: the state stays as it was.
TEST_F(ControllerTest, BadRepliesLeaveTheStateUnchanged) {
  firmware().state().zones.brakeUpper = 33;
  firmware().state().languageCode = 3;
  firmware().state().curves.clutch = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 100};
  controller_.setQueryWaitLimitMs(300);
  struct FaultCase {
    const char* name;
    emu::Faults faults;
  };
  std::vector<FaultCase> cases(5);
  cases[0] = {"garbage", {}};
  cases[0].faults.garbage = true;
  cases[1] = {"short", {}};
  cases[1].faults.shortFrames = true;
  cases[2] = {"wrong start", {}};
  cases[2].faults.wrongStart = true;
  cases[3] = {"wrong end", {}};
  cases[3].faults.wrongEnd = true;
  cases[4] = {"silent", {}};
  cases[4].faults.silent = true;
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    firmware().faults() = c.faults;
    controller_.beginAction();
    controller_.state = ControllerState{};
    controller_.state.language = "Spanish";
    for (Query q : {Query::BrakeZones, Query::Language, Query::ClutchCurve}) {
      EXPECT_FALSE(controller_.query(q));
    }
    EXPECT_EQ(controller_.state.brakeUpper, 0);
    EXPECT_EQ(controller_.state.language, "Spanish");
    EXPECT_EQ(controller_.state.clutchCurve, Curve{});
  }
  firmware().faults() = {};
  uint8_t drain[64];
  controller_.transport().read(drain);  // whatever the faulty replies left behind
  controller_.beginAction();
  EXPECT_TRUE(controller_.query(Query::BrakeZones));
  EXPECT_EQ(controller_.state.brakeUpper, 33);
}

// Bytes that trickle in slower than the 30 ms interval never make a whole reply, but each
// query still returns within its bound.
// The in-memory link is only worth the tests above while it answers as the pseudo-terminal
// does: the same queries against the same faults give the same results and trace lines.
TEST(ControllerOverPseudoTerminal, InMemoryLinkAnswersAsThePseudoTerminalDoes) {
  std::vector<emu::Faults> faults(6);
  faults[1].extraAfter[0xA5] = {0x21};
  faults[2].shortFrames = true;
  faults[3].wrongEnd = true;
  faults[4].garbage = true;
  faults[5].silent = true;
  auto run = [&](Controller& controller, const std::function<void(const emu::Faults&)>& setFaults) {
    controller.setQueryWaitLimitMs(200);
    TraceCapture capture;
    std::string results;
    for (const emu::Faults& f : faults) {
      setFaults(f);
      controller.beginAction();
      for (Query q : {Query::BrakeZones, Query::Language, Query::ClutchCurve})
        results += std::string(queryResultName(controller.ask(q))) + ", ";
      results += "\n";
    }
    return results + capture.text();
  };

  EmulatedPorts ports;
  emu::PedalEmulator& emulator = ports.add(0);
  Controller overTerminal;
  connectTo(overTerminal, emulator.devicePath());
  const std::string terminal = run(overTerminal, [&](const emu::Faults& f) { emulator.setFaults(f); });
  MemoryController memory;
  const std::string inMemory = run(memory.controller, [&](const emu::Faults& f) { memory.link.model().faults() = f; });
  EXPECT_EQ(inMemory, terminal);
  EXPECT_EQ(memory.frames(), emulator.received());
}

TEST(ControllerOverPseudoTerminal, SlowBytesAreNotAReply) {
  EmulatedPorts ports;
  emu::PedalEmulator& emulator = ports.add(0);
  Controller controller;
  connectTo(controller, emulator.devicePath());
  emu::Faults faults;
  faults.byteDelayMs = 60;
  emulator.setFaults(faults);
  controller.setQueryWaitLimitMs(500);
  EXPECT_FALSE(controller.query(Query::BrakeZones));
  EXPECT_EQ(controller.state.brakeUpper, 0);
}

// A controller that stops answering: every query, attempt-limited or not, gives up after
// one wait limit of whole reads (30 + 10 * reply length ms each); after the first, the
// 100 ms quiet drain for a late reply comes first and counts against the wait.
TEST_F(ControllerTest, ControllerFallingSilentNeverHangsAQuery) {
  firmware().faults().silentAfterExchanges = 2;
  EXPECT_TRUE(controller_.query(Query::Cheto));
  EXPECT_TRUE(controller_.query(Query::Language));
  const std::pair<Query, long long> cases[] = {
      {Query::Identify, 13 * 80},             // 1040: no drain yet, 13 reads of 5 bytes
      {Query::StartReadings, 100 + 9 * 110},  // 1090: 900 ms left, 9 reads of 8 bytes
      {Query::Cheto, 100 + 15 * 60},          // 1000
      {Query::ClutchCurve, 100 + 6 * 160},    // 1060
      {Query::ProProfileName, 100 + 5 * 200}, // 1100
  };
  for (const auto& c : cases) {
    const QuerySpec& spec = querySpec(c.first);
    SCOPED_TRACE(int(spec.request));
    controller_.beginAction();
    bool answered = true;
    EXPECT_EQ(memory_.msTaken([&] { answered = controller_.query(spec.query); }), c.second);
    EXPECT_FALSE(answered);
    EXPECT_LE(c.second, kResyncDrainMaxMs + kQueryWaitLimitMs + 30 + 10 * spec.replyBytes);
  }
}

// After a query without an answer the rest of the action is skipped; a query 300 ms or more
// after the previous one starts a new action and is asked again.
TEST_F(ControllerTest, ActionEndsAfterThreeHundredQuietMilliseconds) {
  controller_.setQueryWaitLimitMs(200);
  firmware().faults().silent = true;
  EXPECT_EQ(controller_.ask(Query::Cheto), QueryResult::TimedOut);
  const std::pair<int, QueryResult> cases[] = {
      {0, QueryResult::Skipped}, {299, QueryResult::Skipped}, {300, QueryResult::TimedOut}};
  for (const auto& [pauseMs, expected] : cases) {
    SCOPED_TRACE(pauseMs);
    memory_.link.clock().sleepFor(std::chrono::milliseconds(pauseMs));
    EXPECT_EQ(controller_.ask(Query::Language), expected);
  }
  EXPECT_EQ(controller_.linkState(), LinkState::NotAnswering);
  firmware().faults().silent = false;
  controller_.beginAction();
  EXPECT_EQ(controller_.ask(Query::Language), QueryResult::Accepted);
  EXPECT_EQ(controller_.linkState(), LinkState::Connected);
}

TEST_F(ControllerTest, ReaplicarFrenoReadsTheBrakeZonesBackAndStoresThem) {
  firmware().state().zones.brakeLower = 12;
  firmware().state().zones.brakeUpper = 70;
  controller_.state.known = FieldSet::all();
  controller_.state.brakeRecalPoint = 77;
  int shown = 0;
  TraceCapture capture;
  controller_.ReaplicarFreno([&] {
    ++shown;
    EXPECT_EQ(controller_.state.brakeUpper, 77);
    EXPECT_EQ(controller_.state.brakeMax, 77);
    EXPECT_EQ(controller_.state.brakeLower, 12);
  });
  EXPECT_EQ(shown, 1);
  EXPECT_TRUE(controller_.state.zonesEnabled);
  EXPECT_EQ(frames(), (std::vector<Bytes>{{0xA5}, {0xB4, 0x00, 0x4B}, {0xFF, 0xF4}})) << hexFrames(frames());
  const std::string text = capture.text();
  EXPECT_EQ(text.rfind("\nReaplicarFreno - Inicio", 0), 0u);
  EXPECT_NE(text.find("\nReaplicarFreno - Final"), std::string::npos);
}

// A controller that stops reading part-way through a frame: the write times out with the
// frame's start on the wire. That is said, the link is not answering, and no frame follows
// (the controller would take its bytes for the cut frame's rest) until a query was answered,
// asked once the controller has dropped the cut start.
TEST(ControllerCutFrames, NothingIsSentAfterAFrameCutShortUntilAQueryIsAnswered) {
  const struct {
    const char* name;
    std::function<void(Controller&)> send;
    std::size_t written;
  } cases[] = {
      {"zone after 1 byte", [](Controller& c) { c.MandarDatosZonaSuperiorFreno(); }, 1},
      {"zone after 2 bytes", [](Controller& c) { c.MandarDatosZonaSuperiorFreno(); }, 2},
      {"curve after 12 bytes", [](Controller& c) { c.MandarDatosCurvaFreno(); }, 12},
      {"fixed command after 1 byte", [](Controller& c) { c.SetGuardarZonasPedales(); }, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryController memory;
    ASSERT_TRUE(memory.connect());
    Controller& controller = memory.controller;
    setSetting(controller.state, Field::BrakeUpper, 61);
    setSetting(controller.state, Field::ThrottleLower, 7);
    setCurve(controller.state, Field::BrakeCurve, {0, 5, 15, 25, 40, 55, 70, 80, 90, 95, 100});
    TraceCapture traces;
    memory.link.stopReadingAfter(c.written);
    c.send(controller);
    EXPECT_TRUE(controller.frameCut());
    EXPECT_EQ(controller.linkState(), LinkState::NotAnswering);
    EXPECT_NE(traces.text().find("Frame cut short"), std::string::npos) << traces.text();

    memory.link.readAgain();
    const int failedBefore = controller.failedWrites();
    controller.MandarDatosZonaInferiorAcelerador();
    EXPECT_EQ(controller.failedWrites(), failedBefore + 1) << "a frame held back is one not written";
    controller.beginAction();
    EXPECT_EQ(controller.ask(Query::BrakeZones), QueryResult::Accepted);
    EXPECT_EQ(controller.linkState(), LinkState::Connected);
    controller.MandarDatosZonaInferiorAcelerador();

    // The cut start alone, dropped by the controller; the request; the frame sent again.
    const std::vector<Bytes>& got = memory.frames();
    ASSERT_EQ(got.size(), 3u) << hexFrames(got);
    EXPECT_EQ(got[0].size(), c.written) << hexFrames(got);
    EXPECT_EQ(got[1], Bytes{0xA5});
    EXPECT_EQ(got[2], (Bytes{0xC7, 7, 0x7C}));
    EXPECT_EQ(memory.firmware().state().zones.throttleLower, 7);
  }
}

}  // namespace
}  // namespace tkb
