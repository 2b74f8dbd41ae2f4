// tkb-cli record and pedal-check as a driver runs them: the real tkb-cli reads a fake hidraw
// tree whose node is a FIFO the test feeds with reports; --apply against the emulated
// controller, and beside a program listening on the control socket.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "app/control_channel.h"
#include "emulator_fixture.h"
#include "pedal_traces.h"

extern char** environ;

namespace tkb {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::vector<uint8_t> report(const PedalAxes& a) {
  std::vector<uint8_t> r = {1};
  for (int16_t v : {a.axis1, a.axis2, a.axis3, a.axis4}) {
    r.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) & 0xFF));
    r.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
  }
  return r;
}

int16_t pedalRaw(double percent) { return static_cast<int16_t>(std::lround(-32767 + percent * 655.34)); }
int16_t totalRaw(double percent) { return static_cast<int16_t>(std::lround(-32767 + percent * 650.34)); }

class PedalCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_.path() / "sys/class/hidraw/hidraw0/device");
    fs::create_directories(dir_.path() / "dev");
    std::ofstream(dir_.file("sys/class/hidraw/hidraw0/device/uevent")) << "HID_ID=0003:000016D0:00000F53\n";
    ASSERT_EQ(::mkfifo(dir_.file("dev/hidraw0").c_str(), 0600), 0);
    writer_ = ::open(dir_.file("dev/hidraw0").c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(writer_, 0);
  }
  void TearDown() override {
    stopFeeding();
    if (writer_ >= 0) ::close(writer_);
  }

  // tkb-cli with the fake device tree (and `env` on top), in the test folder; its output
  // goes to out.txt and err.txt there.
  pid_t start(const std::vector<std::string>& args, std::vector<std::string> env = {}) {
    env.push_back("TKB_SYSFS_ROOT=" + dir_.file("sys"));
    env.push_back("TKB_DEV_ROOT=" + dir_.file("dev"));
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);  // the first of a name counts
    const pid_t child = ::fork();
    if (child == 0) {
      // As a terminal's foreground command: Ctrl-C reaches it whatever this process ignores.
      ::signal(SIGINT, SIG_DFL);
      if (::chdir(dir_.path().c_str()) != 0) ::_exit(127);
      ::dup2(::open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
      ::dup2(::open("err.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
      ::dup2(::open("/dev/null", O_RDONLY), STDIN_FILENO);
      std::vector<char*> argv = {const_cast<char*>(TKB_CLI_PATH)}, envp;
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
      argv.push_back(nullptr);
      envp.push_back(nullptr);
      ::execve(TKB_CLI_PATH, argv.data(), envp.data());
      ::_exit(127);
    }
    return child;
  }

  // Its exit status, or -1 when it did not end within the time (then it is killed).
  static int finish(pid_t child, std::chrono::seconds within = 30s) {
    const auto until = std::chrono::steady_clock::now() + within;
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > until) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        return -1;
      }
      std::this_thread::sleep_for(5ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Feeds report `script(n)` every `period` until stopped; fed() counts those written.
  void feed(std::function<PedalAxes(long)> script, std::chrono::microseconds period) {
    stopFeeding();
    stop_ = false;
    fed_ = 0;
    feeder_ = std::thread([this, script = std::move(script), period] {
      auto next = std::chrono::steady_clock::now();
      for (long n = 0; !stop_;) {
        const auto bytes = report(script(n));
        if (writer_ >= 0 && ::write(writer_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()))
          fed_ = ++n;
        std::this_thread::sleep_until(next += period);
      }
    });
  }
  void stopFeeding() {
    stop_ = true;
    if (feeder_.joinable()) feeder_.join();
  }
  // Drops what the last command left unread in the node.
  void drain() {
    const int reader = ::open(dir_.file("dev/hidraw0").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    char bytes[4096];
    while (::read(reader, bytes, sizeof bytes) > 0) {
    }
    ::close(reader);
  }
  // The pedals unplugged: the node's only writer closes.
  void unplug() {
    stopFeeding();
    ::close(writer_);
    writer_ = -1;
  }

  std::string output(const char* name) { return test::readFile(dir_.file(name)); }
  bool outputHas(const char* name, const std::string& text) { return output(name).find(text) != std::string::npos; }

  test::TempDir dir_;
  int writer_ = -1;
  std::thread feeder_;
  std::atomic<bool> stop_{true};
  std::atomic<long> fed_{0};
};

// Report n carries n on the throttle axis (so that order and completeness show) and one of
// four brake positions whose percentages are known.
constexpr int16_t kBrakeRaw[] = {-32768, -32767, 0, 32767};
constexpr float kBrakePercent[] = {0, 0, 50, 100};
PedalAxes numbered(long n) {
  return {static_cast<int16_t>(n), kBrakeRaw[n % 4], static_cast<int16_t>(-n), static_cast<int16_t>(2 * n)};
}

TEST_F(PedalCommands, RecordWritesEveryReportReadAsAWholeRowUntilItEnds) {
  enum class End { Seconds, Interrupt, Terminate, Unplug };
  const std::pair<End, int> cases[] = {{End::Seconds, 0}, {End::Interrupt, 0}, {End::Terminate, 0}, {End::Unplug, 1}};
  for (const auto& [end, status] : cases) {
    SCOPED_TRACE(static_cast<int>(end));
    TearDown();
    fs::remove_all(dir_.path());
    fs::create_directories(dir_.path());
    SetUp();
    // A first read that finds as many reports as the kernel keeps says reports may be missing.
    const long burst = end == End::Seconds ? 70 : 0;
    for (long n = 0; n < burst; ++n)
      ASSERT_EQ(::write(writer_, report(numbered(n)).data(), 9), 9);
    feed([burst](long n) { return numbered(n + burst); }, 2ms);
    const pid_t cli = start(end == End::Seconds ? std::vector<std::string>{"record", "out.csv", "--seconds", "2"}
                                                : std::vector<std::string>{"record", "out.csv"});
    if (end != End::Seconds) {
      std::this_thread::sleep_for(1300ms);
      if (end == End::Unplug) {
        unplug();
      } else {
        ::kill(cli, end == End::Interrupt ? SIGINT : SIGTERM);
      }
    }
    ASSERT_EQ(finish(cli), status) << output("err.txt");
    EXPECT_EQ(outputHas("err.txt", "found the pedals' queue full"), burst > 0) << output("err.txt");
    const long fed = fed_ + burst;
    stopFeeding();

    const std::string csv = output("out.csv");
    ASSERT_EQ(csv.rfind("time_ms,throttle_raw,brake_raw,clutch_raw,brake_total_raw,throttle_pct_pro,brake_pct_pro,"
                        "clutch_pct_pro\n", 0), 0u) << csv.substr(0, 200);
    ASSERT_EQ(csv.back(), '\n');
    const auto rows = test::parseTraceRows(csv);
    ASSERT_GT(rows.size(), 100u);
    ASSERT_LE(static_cast<long>(rows.size()), fed);
    double previous = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      ASSERT_EQ(rows[i].axes, numbered(static_cast<long>(i))) << "row " << i;
      ASSERT_EQ(rows[i].brakePercent, kBrakePercent[i % 4]) << "row " << i;
      ASSERT_GE(rows[i].timeMs, previous) << "row " << i;
      previous = rows[i].timeMs;
    }
    EXPECT_LT(previous, end == End::Seconds ? 2000 : 1600);
    // Nothing half-written left behind, and the progress on standard error.
    for (const auto& entry : fs::directory_iterator(dir_.path()))
      EXPECT_EQ(entry.path().filename().string().find("partial"), std::string::npos) << entry.path();
    EXPECT_TRUE(outputHas("err.txt", "recording out.csv: 1 s,")) << output("err.txt");
  }
}

TEST_F(PedalCommands, RecordRefusesWhatItCannotDoAndWritesNothing) {
  fs::create_directories(dir_.path() / "empty");
  const std::pair<std::vector<std::string>, int> cases[] = {
      {{"record"}, 2},
      {{"record", "out.csv", "--seconds", "0"}, 2},
      {{"record", "out.csv", "--seconds", "two"}, 2},
      {{"record", "out.csv", "extra.csv"}, 2},
      {{"record", "missing/out.csv", "--seconds", "1"}, 2},
      {{"record", "empty", "--seconds", "1"}, 2},  // a folder
  };
  for (const auto& [args, status] : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_EQ(finish(start(args)), status) << output("err.txt");
  }
  // No pedals: no hidraw node with their ids.
  EXPECT_EQ(finish(start({"record", "out.csv"}, {"TKB_SYSFS_ROOT=" + dir_.file("empty")})), 1);
  EXPECT_TRUE(outputHas("err.txt", "no pedals found")) << output("err.txt");
  EXPECT_FALSE(fs::exists(dir_.file("out.csv")));
}

// The pedal check's driver: the feet off (a throttle resting between 0.4 and 2.1 %) until
// tkb-cli asks for the presses, then the throttle to 97.8 %, the clutch to full travel and
// the brake to full with 87.3 % of its force, one after the other.
PedalAxes checkDriver(long n, long pressFrom) {
  static const double kThrottleRest[] = {0.4, 0.8, 1.5, 2.1};
  static const double kBrakeRest[] = {0.2, 0.6, 1.0};
  PedalAxes a{pedalRaw(kThrottleRest[n % 4]), pedalRaw(kBrakeRest[n % 3]), pedalRaw(0), totalRaw(0.5)};
  if (pressFrom < 0 || n < pressFrom) return a;
  const long t = n - pressFrom;  // 10 ms steps: each press 300 ms up, held, down
  auto press = [t](long from, double top) {
    const long s = t - from;
    if (s < 0 || s > 60) return -1.0;
    return s < 20 ? top * s / 20 : s < 40 ? top : top * (60 - s) / 20;
  };
  if (const double v = press(0, 97.8); v >= 0) a.axis1 = pedalRaw(std::max(v, 0.4));
  if (const double v = press(70, 100); v >= 0) a.axis3 = pedalRaw(v);
  if (const double v = press(140, 100); v >= 0) {
    a.axis2 = pedalRaw(std::max(v, 0.2));
    a.axis4 = totalRaw(std::max(v * 0.873, 0.5));
  }
  return a;
}

class PedalCheckRun : public PedalCommands {
 protected:
  // Runs pedal-check with the driver above; its status.
  int runCheck(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    std::atomic<long> pressFrom{-1};
    stopFeeding();
    drain();
    feed([&pressFrom](long n) { return checkDriver(n, pressFrom); }, 10ms);
    const pid_t cli = start(args, env);
    const auto until = std::chrono::steady_clock::now() + 15s;
    while (!outputHas("out.txt", "press each pedal fully, once") && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(20ms);
    pressFrom = fed_ + 1;
    const int status = finish(cli);
    stopFeeding();
    return status;
  }
};

const char* const kCheckSays[] = {
    "Keep your feet off the pedals for 5 s...",
    "throttle rests between 0.4 and 2.1 % (spread 1.7)",
    "press each pedal fully, once",
    "throttle reaches 97.8 %",
    "  throttle rests between 0.4 and 2.1 %: a lower dead zone of 3 % keeps the game at 0",
    "  throttle reaches 97.8 %: an upper dead zone of 96 % gives the game 100 at full travel",
    "  brake reaches 87.3 % of its force: its upper dead zone is the brake limit you chose",
};
const char kSet[] = "set clutchLower 1 clutchUpper 100 brakeLower 2 throttleLower 3 throttleUpper 96";

TEST_F(PedalCheckRun, ApplySendsTheSuggestedZonesToTheController) {
  test::EmulatedPorts ports;
  emu::PedalEmulator& emulator = ports.add(4);
  ASSERT_EQ(runCheck({"--passes", "1", "pedal-check", "--apply"}), 0) << output("out.txt") << output("err.txt");
  const std::string out = output("out.txt");
  for (const char* line : kCheckSays) EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
  EXPECT_NE(out.find(std::string("Sending: tkb-cli ") + kSet), std::string::npos) << out;
  std::vector<emu::Bytes> commands;
  for (const emu::Bytes& f : emulator.received())
    if (f.size() > 1) commands.push_back(f);
  EXPECT_EQ(commands, (std::vector<emu::Bytes>{
                          {0xC2, 1, 0x2C}, {0xC1, 100, 0x1C}, {0xC5, 2, 0x5C}, {0xC7, 3, 0x7C}, {0xC6, 96, 0x6C}}))
      << test::hexFrames(commands);
}

// A program on the control socket (as TKB-Tunedeck): record reads the pedals beside it and
// hands it nothing; pedal-check hands it only the set of --apply, whose reply it passes on.
TEST_F(PedalCheckRun, BesideARunningProgramOnlyTheSetGoesToIt) {
  const std::string runtime = dir_.file("runtime");
  fs::create_directories(runtime);
  fs::permissions(runtime, fs::perms::owner_all);
  const std::string folder = runtime + "/tkb-tunedeck";
  control::InstanceLock lock(folder);
  ASSERT_EQ(lock.acquire(), control::InstanceLock::Result::Acquired);
  control::ControlListener listener(folder);
  ASSERT_TRUE(listener.listen(lock)) << listener.problem();
  std::mutex mutex;
  std::vector<std::vector<std::string>> received;
  std::atomic<bool> serving{true};
  std::thread program([&] {
    while (serving) {
      pollfd p{listener.fd(), POLLIN, 0};
      if (::poll(&p, 1, 50) != 1) continue;
      const int fd = listener.accept();
      if (fd < 0) continue;
      if (const auto request = control::readRequest(fd, 2000)) {
        if (const auto* command = std::get_if<control::CommandRequest>(&*request)) {
          std::lock_guard<std::mutex> hold(mutex);
          received.push_back(command->arguments);
        }
        control::writeMessage(fd, control::encodeReply({"the program set them\n", "", 0}), 2000);
      }
      ::close(fd);
    }
  });
  const std::string env = "XDG_RUNTIME_DIR=" + runtime;

  feed(numbered, 5ms);
  EXPECT_EQ(finish(start({"record", "beside.csv", "--seconds", "1"}, {env})), 0) << output("err.txt");
  EXPECT_GT(test::parseTraceRows(output("beside.csv")).size(), 50u);

  EXPECT_EQ(runCheck({"pedal-check", "--apply"}, {env}), 0) << output("out.txt") << output("err.txt");
  EXPECT_NE(output("out.txt").find("the program set them"), std::string::npos) << output("out.txt");
  serving = false;
  program.join();
  std::vector<std::string> set = {"--passes", "2"};
  std::istringstream words(kSet);
  for (std::string word; words >> word;) set.push_back(word);
  EXPECT_EQ(received, std::vector<std::vector<std::string>>{set});
}

}  // namespace
}  // namespace tkb
