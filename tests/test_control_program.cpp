// One TKB-Tunedeck per user: the real program started twice on one control folder, and the
// window's control server against clients that misbehave.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <QProcess>
#include <cstring>
#include <thread>

#include "app/control_channel.h"
#include "ui/control_server.h"
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

// Silent, half-sent, garbage and oversized requests never hold the window up: a proper
// request that comes after them is answered at once, and each of them is dropped unanswered.
TEST(ControlServer, MisbehavingClientsAreDroppedWithoutBlockingTheWindow) {
  qtApp();
  TempDir dir;
  const std::string folder = dir.file("channel");
  control::InstanceLock lock(folder);
  ASSERT_EQ(lock.acquire(), control::InstanceLock::Result::Acquired);
  ui::ControlServer server(lock, folder);
  server.setRequestWaitMs(500);
  int activations = 0;
  server.onActivate([&](const control::ActivateRequest&) { ++activations; });
  ASSERT_TRUE(server.listen()) << server.problem();

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

}  // namespace
}  // namespace tkb::test
