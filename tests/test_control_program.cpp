// One TKB-Tunedeck per user: the real program started twice on one control folder, and the
// window's control server against clients that misbehave.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <QDialog>
#include <QEventLoop>
#include <QProcess>
#include <cstring>
#include <thread>

#include "app/control_channel.h"
#include "app/game_switcher.h"
#include "ui/control_server.h"
#include "ui/program_commands.h"
#include "window_fixture.h"

namespace tkb::test {
namespace {

// A control folder of the test's own (mode 0700), as $XDG_RUNTIME_DIR would hold it.
std::string makeRuntimeFolder(const std::string& dir) {
  const std::string runtime = dir + "/runtime";
  std::filesystem::create_directories(runtime);
  std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
  return runtime;
}

QByteArray readUntil(QProcess& program, const char* text, int limitMs) {
  QByteArray out;
  QElapsedTimer timer;
  timer.start();
  while (!out.contains(text) && timer.elapsed() < limitMs) {
    program.waitForReadyRead(200);
    out += program.readAllStandardOutput();
  }
  return out;
}

TEST(SingleInstance, ASecondStartBringsTheFirstToTheFrontAndProbesNothing) {
  ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "needs an X server (xvfb-run)";
  TempDir dir;
  std::filesystem::create_directories(dir.file("opt"));
  EmulatedPorts ports;  // what the second start would find, were it to probe
  emu::PedalEmulator& pedals = ports.add(0);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("XDG_RUNTIME_DIR", QString::fromStdString(makeRuntimeFolder(dir.path().string())));
  env.insert("TMPDIR", QString::fromStdString(dir.path().string()));
  env.insert("TKB_SERIAL_PREFIX", QString::fromStdString(ports.dir() + "/ttyACM"));

  QProcess first;
  first.setProcessEnvironment(env);
  first.setWorkingDirectory(QString::fromStdString(dir.path().string()));
  first.start(TKB_TUNEDECK_PROGRAM, {"--demo"});
  ASSERT_TRUE(first.waitForStarted(10000));
  QByteArray firstOut = readUntil(first, "loadSettings - Final", 30000);
  ASSERT_TRUE(firstOut.contains("loadSettings - Final")) << firstOut.right(1000).toStdString();

  QProcess second;
  env.insert("XDG_ACTIVATION_TOKEN", "token-of-the-second");
  second.setProcessEnvironment(env);
  second.setWorkingDirectory(QString::fromStdString(dir.path().string()));
  second.start(TKB_TUNEDECK_PROGRAM, {});
  ASSERT_TRUE(second.waitForFinished(20000));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_TRUE(second.readAllStandardOutput().contains("already running"));
  firstOut += readUntil(first, "Control: activate", 5000);
  EXPECT_TRUE(firstOut.contains("Control: activate"));
  EXPECT_TRUE(pedals.received().empty()) << hexFrames(pedals.received());

  first.terminate();
  ASSERT_TRUE(first.waitForFinished(10000));
  EXPECT_EQ(first.exitCode(), 0);
}

// A demo that cannot start its emulated pedal set (no temporary folder here) says why in a
// box that waits for the driver, instead of ending without a word.
TEST(DemoStart, AFailedDemoSaysWhyInABox) {
  TempDir dir;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("XDG_RUNTIME_DIR", QString::fromStdString(makeRuntimeFolder(dir.path().string())));
  env.insert("TMPDIR", QString::fromStdString(dir.file("missing")));
  QProcess program;
  program.setProcessEnvironment(env);
  program.setWorkingDirectory(QString::fromStdString(dir.path().string()));
  program.start(TKB_TUNEDECK_PROGRAM, {"--demo"});
  ASSERT_TRUE(program.waitForStarted(10000));
  QByteArray err;
  QElapsedTimer timer;
  timer.start();
  while (!err.contains("\n") && timer.elapsed() < 20000) {
    program.waitForReadyRead(200);
    err += program.readAllStandardError();
  }
  EXPECT_TRUE(err.contains("TKB-Tunedeck --demo: temporary folder " + QByteArray(dir.file("missing").c_str())))
      << err.toStdString();
  EXPECT_FALSE(program.waitForFinished(1000)) << "ended without waiting for the box";
  program.kill();
  program.waitForFinished(5000);
}

// Connects to the control socket and sends `bytes` (possibly nothing), keeping the
// connection open until the object goes.
class RawClient {
 public:
  RawClient(const std::string& folder, const std::vector<std::uint8_t>& bytes) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, (folder + "/" + control::kControlSocketName).c_str());
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (connected_ && !bytes.empty()) connected_ = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) > 0;
  }
  ~RawClient() { ::close(fd_); }
  bool connected() const { return connected_; }
  // Whether the server closed the connection without a byte of reply.
  bool closedWithoutReply(int waitMs) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, waitMs) != 1) return false;
    char byte;
    return ::recv(fd_, &byte, 1, MSG_DONTWAIT) == 0;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
};

// A control server listening on its own folder, with the program's lock held.
class ControlServer : public ::testing::Test {
 protected:
  void SetUp() override {
    qtApp();
    ASSERT_EQ(lock.acquire(), control::InstanceLock::Result::Acquired);
    server = std::make_unique<ui::ControlServer>(lock, folder);
  }
  bool listen(int requestWaitMs) {
    server->setRequestWaitMs(requestWaitMs);
    return server->listen();
  }

  TempDir dir;
  const std::string folder = dir.file("channel");
  control::InstanceLock lock{folder};
  std::unique_ptr<ui::ControlServer> server;
};

// Silent, half-sent, garbage and oversized requests never hold the window up: a proper
// request that comes after them is answered at once, and each of them is dropped unanswered.
TEST_F(ControlServer, MisbehavingClientsAreDroppedWithoutBlockingTheWindow) {
  int activations = 0;
  server->onActivate([&](const control::ActivateRequest&) { ++activations; });
  ASSERT_TRUE(listen(500)) << server->problem();

  const auto whole = control::frameMessage(control::encodeRequest(control::CommandRequest{{"dump"}, "/"}));
  const std::vector<std::uint8_t> half(whole.begin(), whole.begin() + 7);
  const std::vector<std::uint8_t> garbage = control::frameMessage({0x77, 1, 2, 3});
  const std::vector<std::uint8_t> oversized = {0xFF, 0xFF, 0xFF, 0x7F, 1, 2};
  std::vector<std::unique_ptr<RawClient>> clients;
  for (const auto* bytes : {&half, &garbage, &oversized, &half})
    clients.push_back(std::make_unique<RawClient>(folder, *bytes));
  clients.push_back(std::make_unique<RawClient>(folder, std::vector<std::uint8_t>{}));  // silent
  for (const auto& c : clients) ASSERT_TRUE(c->connected());

  std::atomic<bool> answered{false};
  std::thread caller([&] {
    answered = control::call(control::ActivateRequest{}, 5000, folder).outcome ==
               control::CallResult::Outcome::Replied;
  });
  QElapsedTimer timer;
  timer.start();
  EXPECT_TRUE(waitFor([&] { return answered.load(); }, 5000));
  EXPECT_LT(timer.elapsed(), 400);  // before the silent ones' time is up
  caller.join();
  EXPECT_EQ(activations, 1);
  waitFor([] { return false; }, 700);  // past the request time of the silent ones
  for (size_t i = 0; i < clients.size(); ++i) EXPECT_TRUE(clients[i]->closedWithoutReply(100)) << i;
}

// Out of descriptors (or full), the server stops taking connections for a moment instead of
// waking at once again and again on the one it cannot accept; later it serves them.
TEST_F(ControlServer, OutOfDescriptorsItWaitsInsteadOfSpinningAndServesLater) {
  ASSERT_TRUE(listen(300)) << server->problem();
  std::vector<std::unique_ptr<RawClient>> clients;
  const std::vector<std::uint8_t> nothing;
  for (int i = 0; i < 20; ++i) clients.push_back(std::make_unique<RawClient>(folder, nothing));
  const int lowestFree = ::dup(0);  // a new descriptor takes the lowest free number
  ::close(lowestFree);
  rlimit before{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
  rlimit tight = before;
  tight.rlim_cur = static_cast<rlim_t>(lowestFree) + 2;  // two connections taken, the rest refused
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
  const auto cpuMs = [] {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
  };
  const double start = cpuMs();
  QEventLoop loop;  // the event loop as the program runs it, without a test's pauses
  QTimer::singleShot(500, &loop, &QEventLoop::quit);
  loop.exec();
  const double spent = cpuMs() - start;
  ::setrlimit(RLIMIT_NOFILE, &before);
  EXPECT_LT(spent, 250) << "ms of CPU in 500 ms with connections it could not accept";
  std::atomic<bool> answered{false};
  std::thread caller([&] {
    answered = control::call(control::ActivateRequest{}, 5000, folder).outcome ==
               control::CallResult::Outcome::Replied;
  });
  EXPECT_TRUE(waitFor([&] { return answered.load(); }, 5000));
  caller.join();
  std::vector<bool> closed(clients.size(), false);
  EXPECT_TRUE(waitFor([&] {
    for (size_t i = 0; i < clients.size(); ++i) closed[i] = closed[i] || clients[i]->closedWithoutReply(0);
    return std::count(closed.begin(), closed.end(), false) == 0;
  }, 5000)) << "every silent connection taken later and dropped";
}

struct CliRun {
  int status = -1;
  std::string out, err;
};

// The window of the test process with its control server, and the real tkb-cli run while
// the window's event loop goes on.
class ThroughTheProgram : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    runtime_ = makeRuntimeFolder(dir_);
    emptyRuntime_ = makeRuntimeFolder(dir_ + "/nobody");
  }
  void TearDown() override {
    server_.reset();
    lock_.reset();
    WindowTest::TearDown();
  }

  // The window against the emulator, its pedals held still (dump reads their positions).
  // joystick false: the pedals' joystick is missing, the window shows PEDALS NOT DETECTED.
  void startWindow(const std::function<void(emu::FirmwareState&)>& setUp = {}, bool joystick = true) {
    installMonitorStub();
    // On a real terminal: tkb-cli names the port, and after the window a direct tkb-cli opens it.
    startEmulatorOnTerminal(setUp);
    if (joystick) {
      makeApp(true, std::make_unique<FixedPedalInput>());
    } else {
      makeApp(false);
    }
    startAndWait(joystick ? ui::Application::Phase::Running : ui::Application::Phase::NotDetected);
    lock_ = std::make_unique<control::InstanceLock>(runtime_ + "/tkb-tunedeck");
    ASSERT_EQ(lock_->acquire(), control::InstanceLock::Result::Acquired);
    server_ = std::make_unique<ui::ControlServer>(*lock_, lock_->folder());
    server_->onCommand([this](const control::CommandRequest& r, ui::ControlServer::Reply reply) {
      ui::runProgramCommand(app_->model(), {app_->games(), app_->doctorSetup()}, r, std::move(reply));
    });
    ASSERT_TRUE(server_->listen()) << server_->problem();
  }

  // tkb-cli in the test folder; throughProgram false: with a control folder where nobody
  // listens.
  CliRun cli(const QStringList& arguments, bool throughProgram = true, const std::string& folder = {}) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(throughProgram ? runtime_ : emptyRuntime_));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(QString::fromStdString(folder.empty() ? dir_ : folder));
    process.start(TKB_CLI_PATH, arguments);
    CliRun run;
    if (!process.waitForStarted(10000)) return run;
    waitFor([&] { return process.state() == QProcess::NotRunning; }, 60000);
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput().toStdString();
    run.err = process.readAllStandardError().toStdString();
    settle();
    return run;
  }

  std::string runtime_, emptyRuntime_;
  std::unique_ptr<control::InstanceLock> lock_;
  std::unique_ptr<ui::ControlServer> server_;
};

TEST_F(ThroughTheProgram, SetGoesOutOnceAndThePagesShowIt) {
  startWindow();
  const std::vector<uint8_t> frame = {0xC3, 0x50, 0x3C};
  emulator_->clearReceived();
  const CliRun run = cli({"set", "brakeUpper", "80"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  framesOnceThere(1);
  EXPECT_EQ(countFrames(frame), 1) << hexFrames(emulator_->received());
  EXPECT_EQ(pages_->pro->zones[ui::kBrakePedal].upper->value(), 80);
  EXPECT_EQ(pages_->sport->widgets().pedals[ui::kBrakePedal].upper->value(), 80);
  EXPECT_EQ(state().brakeUpper, 80);
  EXPECT_EQ(emulator_->state().zones.brakeUpper, 80);
}

// The read-back of set runs in the program too: the window shows what the controller holds.
TEST_F(ThroughTheProgram, SetTheControllerDidNotTakeIsReported) {
  startWindow();
  emu::Faults faults;
  faults.replyOverride[0xA5] = {0x12, 40, 0, 10, 0x21};
  emulator_->setFaults(faults);
  const CliRun other = cli({"set", "brakeUpper", "80"});
  EXPECT_EQ(other.status, 1) << other.err;
  EXPECT_NE(other.err.find("sent 80, but the controller holds 40"), std::string::npos) << other.err;
  EXPECT_EQ(pages_->pro->zones[ui::kBrakePedal].upper->value(), 40);
  faults.silent = true;
  emulator_->setFaults(faults);
  const CliRun quiet = cli({"set", "brakeUpper", "70"});
  EXPECT_EQ(quiet.status, 3) << quiet.err;
  EXPECT_NE(quiet.err.find("(A5 timed out)"), std::string::npos) << quiet.err;
}

// Every kind of setting the pages show goes out exactly as tkb-cli on its own sends it:
// no page sends it again while it shows it (CUSTOM active: the CUSTOM page's boxes send too).
TEST_F(ThroughTheProgram, EachSetSendsWhatADirectSetSendsAndNothingMore) {
  startWindow([](emu::FirmwareState& s) { s.configFlags = 0x0F; });
  ASSERT_TRUE(state().sportProfileActive);
  const std::pair<QStringList, std::vector<emu::Bytes>> cases[] = {
      {{"set", "language", "German"}, {{0xB2, 0x04, 0x2B}}},
      {{"set", "cheto", "100"}, {{0xCF, 0x64, 0xFC}, {0xE2, 0x00, 0x2E}}},
      {{"set", "brakeCurve", "0", "10", "20", "30", "40", "50", "60", "70", "80", "90", "100"},
       {{0xBB, 0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 0xBB}}},
      {{"set", "autoBrake", "1"}, {{0xBF, 0x01, 0xFB}}},
      {{"set", "throttleLower", "5"}, {{0xC7, 0x05, 0x7C}}},
  };
  for (const auto& [args, frames] : cases) {
    SCOPED_TRACE(args.join(' ').toStdString());
    emulator_->clearReceived();
    EXPECT_EQ(cli(args).status, 0);
    framesOnceThere(frames.size());
    std::vector<emu::Bytes> commands;
    for (const emu::Bytes& f : emulator_->received())
      if (f.size() > 1) commands.push_back(f);
    EXPECT_EQ(commands, frames) << hexFrames(commands);
  }
  EXPECT_EQ(pages_->pro->zones[ui::kThrottlePedal].lower->value(), 5);
  EXPECT_EQ(pages_->sport->widgets().pedals[ui::kThrottlePedal].lower->value(), 5);
  EXPECT_TRUE(pages_->pro->autoBrakeSwitch->isOn());
}

// A modal dialog's own event loop serves the socket too: a command waits until the
// dialog is closed, so it never runs inside the page operation that opened it.
TEST_F(ThroughTheProgram, ACommandWaitsForAnOpenModalDialog) {
  startWindow();
  emulator_->clearReceived();
  QDialog dialog(app_->window());
  dialog.setModal(true);
  dialog.show();
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime_));
  process.setProcessEnvironment(env);
  process.start(TKB_CLI_PATH, {"set", "brakeUpper", "70"});
  ASSERT_TRUE(process.waitForStarted(10000));
  EXPECT_FALSE(waitFor([&] { return process.state() == QProcess::NotRunning; }, 500));
  EXPECT_TRUE(emulator_->received().empty()) << hexFrames(emulator_->received());
  dialog.close();
  ASSERT_TRUE(waitFor([&] { return process.state() == QProcess::NotRunning; }, 20000));
  settle();
  EXPECT_EQ(process.exitCode(), 0);
  EXPECT_EQ(pages_->pro->zones[ui::kBrakePedal].upper->value(), 70);

  // A box nobody answers: the caller is told so, and nothing is sent.
  server_->setModalWaitMs(300);
  dialog.setWindowTitle("Error");
  dialog.show();
  emulator_->clearReceived();
  const CliRun refused = cli({"set", "brakeUpper", "60"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("waits for an answer in its window (\"Error\")"), std::string::npos) << refused.err;
  EXPECT_TRUE(emulator_->received().empty()) << hexFrames(emulator_->received());
  EXPECT_EQ(pages_->pro->zones[ui::kBrakePedal].upper->value(), 70);
}

// The program's dump is what tkb-cli prints on its own once the program has let the port
// go, and the window keeps showing what it did.
TEST_F(ThroughTheProgram, DumpEqualsADirectDumpAndLeavesTheWindowAsItWas) {
  startWindow([](emu::FirmwareState& s) {
    s.zones.throttleLower = 7;
    s.letterMas2 = 4;
  });
  const ControllerState before = state();
  emulator_->clearReceived();
  const CliRun program = cli({"dump"});
  EXPECT_EQ(program.status, 0) << program.err;
  for (const auto& f : emulator_->received()) EXPECT_EQ(f.size(), 1u) << "dump only asks";
  EXPECT_TRUE(state() == before);
  app_.reset();  // the port is free again
  const CliRun direct = cli({"dump"}, false);
  EXPECT_EQ(direct.status, 0) << direct.err;
  EXPECT_EQ(program.out, direct.out);
  EXPECT_NE(program.out.find("\"throttleLower\": 7"), std::string::npos) << program.out;
}

TEST_F(ThroughTheProgram, WindowOwnedCommandsAreRefusedAndTheOthersAnswerAsTkbCliDoes) {
  startWindow();
  emulator_->clearReceived();
  for (const QStringList& args : {QStringList{"calibrate"}, QStringList{"firmware", "update"}}) {
    const CliRun run = cli(args);
    EXPECT_EQ(run.status, 1) << args.join(' ').toStdString();
    EXPECT_NE(run.err.find("TKB-Tunedeck is running and holds the pedals"), std::string::npos) << run.err;
  }
  // Usage errors come out of the same parsing.
  const CliRun bad = cli({"set", "brakeUpper", "101"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("'101' is not a whole number from 0 to 100"), std::string::npos) << bad.err;
  EXPECT_TRUE(emulator_->received().empty()) << hexFrames(emulator_->received());
  const CliRun probe = cli({"probe"});
  EXPECT_EQ(probe.status, 0);
  EXPECT_EQ(probe.out, "result 1\nport COM3\nfirmware 7.6.0\n");
  // The port the program holds is not a problem of the doctor's.
  const CliRun doctor = cli({"doctor"});
  EXPECT_NE(doctor.out.find("ttyACM3): no USB ids (a pseudo-terminal or another driver), in use by this program"),
            std::string::npos) << doctor.out;
}

// While the calibration wizard has the zones off, nothing that sends (or keeps a profile to
// send back later) gets through; reading still does.
TEST_F(ThroughTheProgram, MidCalibrationSettingsAndProfilesAreRefused) {
  startWindow();
  click(app_->mainPage().pro);
  click(pages_->pro->calibrate);
  ASSERT_TRUE(waitFor([&] { return !pages_->pro->stepPending(); }));
  emulator_->clearReceived();
  for (const QStringList& args : {QStringList{"set", "brakeUpper", "70"}, QStringList{"profile", "snapshot"}}) {
    const CliRun run = cli(args);
    EXPECT_EQ(run.status, 1) << args.join(' ').toStdString();
    EXPECT_NE(run.err.find("is calibrating the pedals"), std::string::npos) << run.err;
  }
  EXPECT_TRUE(emulator_->received().empty()) << hexFrames(emulator_->received());
  EXPECT_EQ(cli({"probe"}).status, 0);
  click(pages_->pro->close);
  EXPECT_EQ(cli({"set", "brakeUpper", "70"}).status, 0);
}

TEST_F(ThroughTheProgram, WithoutItsPedalsTheProgramAnswersAsTkbCliFindingNone) {
  startWindow({}, false);
  emulator_->clearReceived();
  for (const QStringList& args : {QStringList{"probe"}, QStringList{"set", "brakeUpper", "80"}}) {
    const CliRun run = cli(args);
    EXPECT_EQ(run.status, 1) << args.join(' ').toStdString();
    EXPECT_NE(run.err.find("tkb-cli: no pedal controller answered"), std::string::npos) << run.err;
  }
  EXPECT_TRUE(emulator_->received().empty()) << hexFrames(emulator_->received());
}

// A relative file is the caller's, and the window shows the load as its LOAD button would.
TEST_F(ThroughTheProgram, ProfileLoadTakesTheCallersFileAndTheWindowShowsIt) {
  startWindow();
  const std::string caller = dir_ + "/elsewhere";
  std::filesystem::create_directories(caller);
  writeFile(caller + "/race.tkb",
            "[ACCELERATOR]\nUPPER DEAD ZONE=3\nLOWER DEAD ZONE=4\n[CLUTCH]\nUPPER DEAD ZONE=5\n"
            "LOWER DEAD ZONE=6\n[BRAKE]\nUPPER DEAD ZONE=55\nBRAKE LIMITER=90\nLOWER DEAD ZONE=8\n");
  const CliRun run = cli({"profile", "load", "race.tkb"}, true, caller);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Profile: race\n");
  EXPECT_EQ(pages_->pro->zones[ui::kBrakePedal].upper->value(), 55);
  EXPECT_EQ(app_->mainPage().profileLabel->text().toStdString(), "Profile: race");
  EXPECT_EQ(state().brakeUpper, 55);
  EXPECT_EQ(emulator_->state().zones.brakeUpper, 55);
}

// A run through the program: its profile is in force while the game runs (a nested dump,
// done by the program too, shows it), the window's switcher does not switch for the mapped
// game on top of it, and at the end the profile from before is back on the pedals and in the
// window.
TEST_F(ThroughTheProgram, RunHoldsItsProfileWhileTheGameRunsAndPutsTheOldOneBack) {
  // A name of this test process's own: the watcher sees every program of the machine.
  const std::string name = "FakeGame" + std::to_string(::getpid()) + ".exe";
  startWindow();
  ControllerState race = state();
  race.brakeUpper = 66;
  ASSERT_TRUE(writeProfileFile(dir_ + "/race.tks", ProfileKind::Sport, race));
  ASSERT_TRUE(writeGameEntry(*app_->config(), {name, dir_ + "/race.tks"}));
  app_->games()->reloadTable();
  ControllerState wet = state();
  wet.brakeUpper = 81;
  ASSERT_TRUE(writeProfileFile(dir_ + "/wet.tks", ProfileKind::Sport, wet));
  std::filesystem::copy_file("/bin/sleep", dir_ + "/" + name);
  const int brakeBefore = state().brakeUpper;
  ASSERT_NE(brakeBefore, 81);

  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime_));
  process.setProcessEnvironment(env);
  process.setWorkingDirectory(QString::fromStdString(dir_));
  process.start(TKB_CLI_PATH, {"run", "--profile", "wet.tks", "--", "sh", "-c",
                               QString::fromStdString("'" TKB_CLI_PATH "' dump > during.json; ./" + name + " 1; exit 3")});
  ASSERT_TRUE(process.waitForStarted(10000));
  bool held = false, switched = false;
  waitFor([&] {
    app_->games()->scan();
    held = held || app_->games()->held();
    switched = switched || !app_->games()->activeGame().empty();
    return process.state() == QProcess::NotRunning;
  }, 60000);
  settle();
  EXPECT_EQ(process.exitCode(), 3) << process.readAllStandardError().toStdString();
  EXPECT_NE(readFile(dir_ + "/during.json").find("\"brakeUpper\": 81,"), std::string::npos);
  EXPECT_TRUE(held);
  EXPECT_FALSE(switched);
  EXPECT_FALSE(app_->games()->held());
  EXPECT_EQ(state().brakeUpper, brakeBefore);
  EXPECT_EQ(emulator_->state().zones.brakeUpper, brakeBefore);
  EXPECT_EQ(pages_->pro->zones[ui::kBrakePedal].upper->value(), brakeBefore);
  EXPECT_EQ(app_->mainPage().profileLabel->text().toStdString(), "Profile: Default");
}

// A hold whose tkb-cli is gone ends by itself: the switcher is never left idle for good.
TEST_F(ThroughTheProgram, AHoldEndsWithTheProcessThatTookIt) {
  startWindow();
  EXPECT_EQ(cli({"profile", "snapshot"}).status, 0);
  EXPECT_FALSE(app_->games()->held());
}

}  // namespace
}  // namespace tkb::test
