// bench_live_bars: the cost of the live bars of the PRO page.
//   - time of one RefrescoBarrasPro run on real widgets (median and worst of 10,000 runs),
//     with the pedals following the simulated driver's pattern, a monitor bound to the
//     channel, and the usage and brake logs written;
//   - CPU share of the whole program (window, emulator and the three 10 ms tasks) with the
//     PRO page open and the simulated driver pressing the pedals, over N seconds.
// Uses the platform in QT_QPA_PLATFORM (offscreen when unset). Usage: bench_live_bars [seconds]
#include <stdlib.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/usage_log.h"
#include "emulator/pedal_emulator.h"
#include "emulator/simulated_driver.h"
#include "link/trace.h"
#include "monitor/monitor_datagram.h"
#include "ui/application.h"
#include "ui/live_bars.h"
#include "ui/pages.h"

namespace {

double processCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

double threadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Runs the event loop (sleeping between events, as the program does) for ms.
void processEventsFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

std::string makeFolder(const char* tag) {
  std::string pattern = std::string("/tmp/tkb-bench-") + tag + "-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return {};
  std::filesystem::create_directories(pattern + "/opt");
  return pattern;
}

void timeOneRun() {
  const std::string dir = makeFolder("bars");
  tkb::ControllerState state;
  state.hasClutch = true;
  state.proProfileActive = true;
  state.brakeUpper = 80;
  state.brakeMax = 80;
  tkb::ui::PageLinks links;
  tkb::UsageLog log(dir);
  log.open(state);
  tkb::PedalAxes axes;
  tkb::ui::LiveBars bars(state, links, [&axes] { return axes; }, [&log] { return &log; });
  QWidget host;
  host.resize(400, 300);
  for (int p = 0; p < 3; ++p) {
    bars.pro.bar[p] = new tkb::ui::PedalBar(&host, 30, 202);
    bars.pro.bar[p]->move(p * 100, 0);
    bars.pro.value[p] = new QLabel("     0 %", &host);
    bars.pro.value[p]->move(p * 100, 210);
    for (int i = 0; i < tkb::ui::kProHistoryEntries; ++i) {
      bars.pro.history[p][i] = new QLabel(tkb::ui::kEmptyHistoryEntry, &host);
      bars.pro.history[p][i]->move(p * 100 + 40, i * 15);
    }
  }
  host.show();
  const std::string channel = "tkb-bench-bars-" + std::to_string(getpid());
  tkb::monitor::MonitorReceiver monitor(channel);
  setenv(tkb::monitor::kChannelNameVariable, channel.c_str(), 1);
  if (!monitor.bind()) std::printf("(no monitor socket: datagrams not delivered)\n");
  // The sender was made before the variable: make a fresh LiveBars with it.
  tkb::ui::LiveBars timed(state, links, [&axes] { return axes; }, [&log] { return &log; });
  timed.pro = bars.pro;

  constexpr int kRuns = 10000;
  std::vector<double> us;
  us.reserve(kRuns);
  for (int i = 0; i < kRuns; ++i) {
    // 10 ms of the driver's pattern per run, as the 10 ms task sees it.
    axes = tkb::emu::SimulatedDriver::axesAt(static_cast<int64_t>(i) * 10, 80, true);
    const auto t0 = std::chrono::steady_clock::now();
    timed.RefrescoBarrasPro();
    const auto t1 = std::chrono::steady_clock::now();
    us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    while (monitor.receive()) {
    }
    if (i % 50 == 0) QCoreApplication::processEvents();
  }
  std::sort(us.begin(), us.end());
  std::printf("RefrescoBarrasPro, %d runs: median %.2f us, 99th percentile %.2f us, worst %.2f us "
              "(datagrams sent %ld)\n",
              kRuns, us[kRuns / 2], us[kRuns * 99 / 100], us.back(), timed.sentDatagrams());
  log.close();
  unsetenv(tkb::monitor::kChannelNameVariable);
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

void cpuShare(int seconds) {
  const std::string dir = makeFolder("cpu");
  if (chdir(dir.c_str()) != 0) return;
  std::filesystem::create_directories(dir + "/ports");
  setenv("TKB_SERIAL_PREFIX", (dir + "/ports/ttyACM").c_str(), 1);
  tkb::emu::PedalEmulator emulator;
  if (!emulator.start(dir + "/ports/ttyACM3")) {
    std::printf("emulator did not start\n");
    return;
  }
  tkb::ui::Services s;
  s.pedals = std::make_unique<tkb::emu::SimulatedDriver>(&emulator);
  s.quit = [] {};
  auto app = std::make_unique<tkb::ui::Application>(std::move(s));
  auto pages = tkb::ui::installPages(*app);
  app->window()->show();
  app->startApplication();
  QElapsedTimer wait;
  wait.start();
  while (app->phase() != tkb::ui::Application::Phase::Running && wait.elapsed() < 60000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  if (app->phase() != tkb::ui::Application::Phase::Running) {
    std::printf("window did not start\n");
    return;
  }
  app->mainPage().pro->click();
  processEventsFor(1000);
  const double cpu0 = processCpuSeconds();
  const double main0 = threadCpuSeconds();
  QElapsedTimer wall;
  wall.start();
  processEventsFor(seconds * 1000);
  const double elapsed = wall.elapsed() / 1000.0;
  const double cpu = processCpuSeconds() - cpu0;
  const double mainCpu = threadCpuSeconds() - main0;
  std::printf("PRO page open, pedals moving, %.1f s: whole process %.1f %% of one core, main thread %.1f %%\n",
              elapsed, 100.0 * cpu / elapsed, 100.0 * mainCpu / elapsed);
  app.reset();
  pages.reset();
  emulator.stop();
  if (chdir("/") != 0) return;
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

}  // namespace

int main(int argc, char** argv) {
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
  QApplication qt(argc, argv);
  std::FILE* devnull = std::fopen("/dev/null", "w");
  tkb::setTraceSink(devnull);  // the traces are not what is measured
  timeOneRun();
  cpuShare(seconds);
  tkb::setTraceSink(nullptr);
  std::fclose(devnull);
  return 0;
}
