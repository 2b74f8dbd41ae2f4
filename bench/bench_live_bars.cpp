// bench_live_bars: the cost of the live bars.
//   - time of one step of the session's 10 ms feed with the PRO page open (median and worst
//     of 10,000 steps), with the pedals following the simulated driver's pattern, a monitor
//     bound to the channel, and the usage and brake logs written;
//   - CPU share of the whole program (window and the 10 ms tasks; the emulated pedal set
//     runs in a child process), whole process and main thread, over N seconds each: PRO page with the simulated driver
//     pressing the pedals, CUSTOM page likewise, PRO page with the pedals at rest, and the
//     window minimised with the pedals moving; with each, the repaints per second of every
//     kind of widget and the window's frames per second.
// Uses the platform in QT_QPA_PLATFORM (offscreen when unset). Usage: bench_live_bars [seconds]
#include <stdlib.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
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
#include <map>
#include <string>
#include <vector>

#include "app/usage_log.h"
#include "emulator/pedal_emulator.h"
#include "emulator/simulated_driver.h"
#include "link/trace.h"
#include "link/monitor_datagram.h"
#include "ui/application.h"
#include "ui/main_page.h"
#include "ui/curve_chart.h"
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

// One 10 ms step of the session's feed (joystick read, readout, monitor datagram, the open
// page's live widgets told), 10,000 times, with a monitor bound to the channel.
void timeFeed(tkb::ui::ControllerModel& model) {
  const std::string channel = "tkb-bench-bars-" + std::to_string(getpid());
  tkb::monitor::MonitorReceiver monitor(channel);
  if (!monitor.bind()) std::printf("(no monitor socket: datagrams not delivered)\n");
  constexpr int kRuns = 10000;
  std::vector<double> us;
  us.reserve(kRuns);
  const long sentBefore = model.sentDatagrams();
  for (int i = 0; i < kRuns; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    model.feedTick();
    const auto t1 = std::chrono::steady_clock::now();
    us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    while (monitor.receive()) {
    }
    if (i % 50 == 0) QCoreApplication::processEvents();
  }
  std::sort(us.begin(), us.end());
  std::printf("one feed step (PRO page open), %d runs: median %.2f us, 99th percentile %.2f us, worst %.2f us "
              "(datagrams sent %ld)\n",
              kRuns, us[kRuns / 2], us[kRuns * 99 / 100], us.back(), model.sentDatagrams() - sentBefore);
}

// Paint events per widget while a scenario runs, and the frames they came in (a frame: the
// paints of one window update). A count, so it does not depend on how loaded the machine is.
class PaintCounter : public QObject {
 public:
  void reset() {
    paints_.clear();
    frames_ = 0;
    frameOpen_ = false;
  }
  void report(double seconds) const {
    struct Kind {
      const char* name;
      int widgets = 0;
      long paints = 0, most = 0;
    };
    Kind kinds[] = {{"bars"}, {"labels"}, {"charts"}, {"other widgets"}};
    for (const auto& [widget, n] : paints_) {
      Kind& k = dynamic_cast<tkb::ui::PedalBar*>(widget)     ? kinds[0]
                : qobject_cast<QLabel*>(widget)                 ? kinds[1]
                : dynamic_cast<tkb::ui::CurveChart*>(widget)    ? kinds[2]
                                                                : kinds[3];
      ++k.widgets;
      k.paints += n;
      k.most = std::max(k.most, n);
    }
    std::printf("    window frames %.1f/s; repaints per second:", frames_ / seconds);
    for (const Kind& k : kinds)
      std::printf(" %s %.1f (%d painted, busiest %.1f)%s", k.name, k.paints / seconds, k.widgets,
                  k.most / seconds, &k == &kinds[3] ? "\n" : ";");
  }

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::UpdateRequest) frameOpen_ = true;
    if (event->type() == QEvent::Paint && object->isWidgetType()) {
      ++paints_[object];
      if (frameOpen_) ++frames_;
      frameOpen_ = false;
    }
    return false;
  }

 private:
  std::map<QObject*, long> paints_;
  long frames_ = 0;
  bool frameOpen_ = false;
};

// The whole program (window and the 10 ms tasks) in each situation a driver
// leaves it in during a race, N seconds each.
void cpuShare(int seconds) {
  const std::string dir = makeFolder("cpu");
  if (chdir(dir.c_str()) != 0) return;
  std::filesystem::create_directories(dir + "/ports");
  setenv("TKB_SERIAL_PREFIX", (dir + "/ports/ttyACM").c_str(), 1);
  // The emulated pedal set serves its port from a child process: real pedals are not part
  // of the program, so their cost must not count. Its default brake limit is the driver's.
  const pid_t pedalSet = fork();
  if (pedalSet == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    tkb::emu::PedalEmulator emulator;
    if (!emulator.start(dir + "/ports/ttyACM3")) _exit(1);
    for (;;) pause();
  }
  QElapsedTimer portWait;
  portWait.start();
  while (!std::filesystem::exists(dir + "/ports/ttyACM3") && portWait.elapsed() < 10000) usleep(10000);
  // The driver's clock: running, or held where every pedal is up.
  bool atRest = false;
  QElapsedTimer driverClock;
  driverClock.start();
  auto now = [&atRest, &driverClock]() -> int64_t {
    return atRest ? tkb::emu::kDriverCycleMs - 100 : driverClock.elapsed();
  };
  tkb::ui::Services s;
  auto driver = std::make_unique<tkb::emu::SimulatedDriver>(nullptr, now);
  driver->setBrakeLimitPercent(tkb::emu::FirmwareState{}.brakeMax);
  s.pedals = std::move(driver);
  s.quit = [] {};
  auto app = std::make_unique<tkb::ui::Application>(std::move(s));
  tkb::ui::Pages* pages = &app->pages();
  app->window()->show();
  app->startApplication();
  QElapsedTimer wait;
  wait.start();
  while (app->phase() != tkb::ui::Application::Phase::Running && wait.elapsed() < 60000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  if (app->phase() != tkb::ui::Application::Phase::Running) {
    std::printf("window did not start\n");
    kill(pedalSet, SIGTERM);
    return;
  }
  app->mainPage().pro->click();
  processEventsFor(1000);
  timeFeed(app->model());
  pages->pro->close->click();
  processEventsFor(1000);
  PaintCounter counter;
  qApp->installEventFilter(&counter);
  auto measure = [&](const char* what) {
    processEventsFor(1000);
    counter.reset();
    const double cpu0 = processCpuSeconds();
    const double main0 = threadCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    processEventsFor(seconds * 1000);
    const double elapsed = wall.elapsed() / 1000.0;
    const double cpu = processCpuSeconds() - cpu0;
    const double mainCpu = threadCpuSeconds() - main0;
    std::printf("%-40s %.1f s: whole process %.1f %% of one core, main thread %.1f %%\n", what, elapsed,
                100.0 * cpu / elapsed, 100.0 * mainCpu / elapsed);
    counter.report(elapsed);
    std::fflush(stdout);
  };
  // Each click waits for the action before it to be through (a busy window ignores clicks).
  auto click = [](QPushButton* button) {
    button->click();
    processEventsFor(500);
  };
  click(app->mainPage().pro);
  measure("PRO page open, pedals moving,");
  click(pages->pro->close);
  click(app->mainPage().custom);
  measure("CUSTOM page open, pedals moving,");
  click(pages->sport->widgets().close);
  click(app->mainPage().pro);
  atRest = true;
  measure("PRO page open, pedals at rest,");
  atRest = false;
  app->window()->showMinimized();
  measure("window minimised, pedals moving,");
  qApp->removeEventFilter(&counter);
  app.reset();
  kill(pedalSet, SIGTERM);
  waitpid(pedalSet, nullptr, 0);
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
  // The monitor channel the feed sends to (set before the window's sender is made).
  setenv(tkb::monitor::kChannelNameVariable, ("tkb-bench-bars-" + std::to_string(getpid())).c_str(), 1);
  cpuShare(seconds);
  tkb::setTraceSink(nullptr);
  std::fclose(devnull);
  return 0;
}
