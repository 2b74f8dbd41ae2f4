// bench_live_bars: the cost of the live bars, beside a bare Qt window measured in the same rounds.
//   - one step of the session's 10 ms feed (median, 99th percentile and worst of 10,000), with
//     the PRO page open and with the window minimised, a monitor receiving the updates;
//   - the CPU share of the whole program (CPU time of all its threads over wall time, as the
//     anchors are measured; the emulated pedal set and the monitor that receives the pedal
//     updates are child processes and do not count) in each situation a driver leaves it in:
//     PRO page, CUSTOM page and main page, each with all three pedals moving at once (a
//     braking zone with heel-and-toe) and with the simulated driver pressing one pedal at a
//     time; the PRO page with the pedals at rest; the window minimised with PRO in force.
//     With each: the pedal updates the monitor received per second, the window's frames per
//     second, and the paints and painted pixels per second of every kind of widget, the
//     window's full-size layers (the window, its background, the page containers and the
//     backdrop) apart;
//   - the anchors, measured from outside in the same rounds: the bare window (1300 x 640, six
//     bars repainted every 50 ms) and a bare window that only runs an idle 10 ms timer; each
//     situation's ratio to its anchor, and the medians over the rounds.
// Uses the platform in QT_QPA_PLATFORM (offscreen when unset), e.g.
//   QT_QPA_PLATFORM=xcb xvfb-run -a build/bench/bench_live_bars [seconds per run (5)] [rounds (3)]
// bench_live_bars --screenshots DIR instead saves the PRO and CUSTOM pages with the pedals
// held at fixed positions, as the screen shows them (DIR/pro.png, DIR/custom.png), to compare
// two builds pixel for pixel.
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QPaintEvent>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/bare_window.h"
#include "emulator/pedal_emulator.h"
#include "emulator/simulated_driver.h"
#include "link/monitor_datagram.h"
#include "link/trace.h"
#include "ui/application.h"
#include "ui/curve_chart.h"
#include "ui/main_page.h"
#include "ui/pages.h"
#include "ui/pedal_bar.h"
#include "ui/pro_page.h"
#include "ui/sport_page.h"

namespace {

using tkb::bench::median;

// Runs the event loop (sleeping between events, as the program does) for ms.
void processEventsFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

double ownCpuSeconds() { return tkb::bench::processCpuSeconds(getpid()); }

// The pedals as the bench moves them.
class BenchPedals : public tkb::PedalInput {
 public:
  enum class Pattern { ThreePedals, OnePedal, AtRest, Held };
  explicit BenchPedals(int brakeLimitPercent) : limit_(brakeLimitPercent) { clock_.start(); }
  void setPattern(Pattern pattern) { pattern_ = pattern; }
  void readPedalAxes() override {
    switch (pattern_) {
      case Pattern::OnePedal: axes_ = tkb::emu::SimulatedDriver::axesAt(clock_.elapsed(), limit_, true); break;
      case Pattern::AtRest: axes_ = tkb::emu::SimulatedDriver::axesAt(tkb::emu::kDriverCycleMs - 100, limit_, true); break;
      case Pattern::ThreePedals: axes_ = threePedalsAt(clock_.elapsed()); break;
      case Pattern::Held: axes_ = threePedalsAt(1234); break;
    }
  }

 protected:
  bool open() override { return true; }

 private:
  // All three pedals moving at once, each at its own pace (periods of 2, 1.6 and 3 s), the
  // brake going past its limit at the top of its stroke.
  tkb::PedalAxes threePedalsAt(int64_t ms) const {
    auto triangle = [](int64_t t, int64_t period) {
      const int64_t phase = t % period;
      return 100.0 * static_cast<double>(phase <= period / 2 ? phase : period - phase) / static_cast<double>(period / 2);
    };
    auto raw = [](double percent) {
      return static_cast<int16_t>(std::lround(-32767.0 + std::clamp(percent, 0.0, 100.0) * 65534.0 / 100.0));
    };
    const double clutch = triangle(ms, 2000);
    const double total = triangle(ms + 500, 1600);
    const double throttle = triangle(ms + 200, 3000);
    const double brake = std::min(100.0, total * 100.0 / std::clamp(limit_, 1, 100));
    const auto totalRaw = static_cast<int16_t>(std::lround(std::min(32767.0, -32767.0 + total * 65034.0 / 100.0)));
    return {raw(throttle), raw(brake), raw(clutch), totalRaw};
  }

  int limit_;
  Pattern pattern_ = Pattern::ThreePedals;
  QElapsedTimer clock_;
};

// Paint events per widget kind while a situation runs, the pixels they covered, and the
// frames they came in (a frame: the paints of one window update). Counts, so they do not
// depend on how loaded the machine is.
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
      long paints = 0;
      double pixels = 0;
    };
    Kind kinds[] = {{"bars"}, {"labels"}, {"charts"}, {"full-size layers"}, {"other"}};
    std::map<std::string, long> others;
    for (const auto& [widget, count] : paints_) {
      Kind& k = kinds[kindOf(widget)];
      ++k.widgets;
      k.paints += count.paints;
      k.pixels += count.pixels;
      if (&k == &kinds[4]) others[widget->metaObject()->className()] += count.paints;
    }
    std::printf("    frames %.1f/s; paints/s (widgets, kpixels/s):", frames_ / seconds);
    for (const Kind& k : kinds)
      std::printf(" %s %.1f (%d, %.1f)%s", k.name, k.paints / seconds, k.widgets, k.pixels / 1000 / seconds,
                  &k == &kinds[4] ? "" : ";");
    if (!others.empty()) {
      std::printf(" [");
      for (const auto& [name, n] : others) std::printf(" %s %.1f", name.c_str(), n / seconds);
      std::printf(" ]");
    }
    std::printf("\n");
  }

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::UpdateRequest) frameOpen_ = true;
    if (event->type() == QEvent::Paint && object->isWidgetType()) {
      Count& c = paints_[static_cast<QWidget*>(object)];
      ++c.paints;
      for (const QRect& r : static_cast<QPaintEvent*>(event)->region()) c.pixels += r.width() * r.height();
      if (frameOpen_) ++frames_;
      frameOpen_ = false;
    }
    return false;
  }

 private:
  struct Count {
    long paints = 0;
    double pixels = 0;
  };
  // Bars, labels, charts, full-size layers, other.
  static int kindOf(QWidget* w) {
    if (dynamic_cast<tkb::ui::PedalBar*>(w)) return 0;
    if (dynamic_cast<tkb::ui::CurveChart*>(w)) return 2;
    // The window (1300 x 640), its background, the page containers and the backdrop (820 x 560).
    if (w->width() >= 820 && w->height() >= 560) return 3;
    if (qobject_cast<QLabel*>(w)) return 1;
    return 4;
  }
  std::map<QWidget*, Count> paints_;
  long frames_ = 0;
  bool frameOpen_ = false;
};

// The monitor's end of the channel, in a child process: it takes every pedal update, so the
// sender's cost is that of a real send and the receiving does not count.
pid_t startMonitorReceiver(const std::string& channel) {
  const pid_t child = fork();
  if (child != 0) return child;
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  tkb::monitor::MonitorReceiver receiver(channel);
  if (!receiver.bind()) _exit(1);
  for (;;) {
    pollfd p{receiver.fd(), POLLIN, 0};
    if (poll(&p, 1, -1) > 0)
      while (receiver.receive()) {
      }
  }
}

// One 10 ms step of the session's feed (joystick read, readout, monitor update, the open page's
// live widgets told), 10,000 times.
void timeFeed(tkb::ui::ControllerModel& model, const char* what) {
  constexpr int kRuns = 10000;
  std::vector<double> us;
  us.reserve(kRuns);
  const long sentBefore = model.sentDatagrams();
  for (int i = 0; i < kRuns; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    model.feedTick();
    const auto t1 = std::chrono::steady_clock::now();
    us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    if (i % 50 == 0) QCoreApplication::processEvents();
  }
  std::sort(us.begin(), us.end());
  std::printf("one feed step, %-28s %d runs: median %.2f us, 99th percentile %.2f us, worst %.2f us "
              "(updates sent %ld)\n",
              what, kRuns, us[kRuns / 2], us[kRuns * 99 / 100], us.back(), model.sentDatagrams() - sentBefore);
}

enum class Anchor { BareWindow, IdleTimer };

struct Situation {
  Situation(const char* name, Anchor anchor) : name(name), anchor(anchor) {}
  const char* name;
  Anchor anchor;
  std::vector<double> cpu, ratio, over;  // per round: % of a core, x the anchor, points over it
};

class Bench {
 public:
  Bench(int seconds, int rounds) : seconds_(seconds), rounds_(rounds) {}
  int run();
  int screenshots(const std::string& folder);

 private:
  bool startWindow();
  void stopWindow();
  void measure(Situation& s, BenchPedals::Pattern pattern);
  void click(QPushButton* button) {
    button->click();
    processEventsFor(500);  // each click waits for the action before it (a busy window ignores clicks)
  }
  void round(int n);

  int seconds_, rounds_;
  std::string dir_;
  pid_t pedalSet_ = -1, monitor_ = -1;
  std::unique_ptr<tkb::ui::Application> app_;
  BenchPedals* pedals_ = nullptr;
  PaintCounter counter_;
  double anchors_[2] = {};
  std::vector<double> anchorRuns_[2];
  std::vector<Situation> situations_ = {
      {"PRO page, three pedals moving", Anchor::BareWindow},
      {"PRO page, one pedal at a time", Anchor::BareWindow},
      {"PRO page, pedals at rest", Anchor::IdleTimer},
      {"main page, three pedals moving", Anchor::BareWindow},
      {"main page, one pedal at a time", Anchor::BareWindow},
      {"CUSTOM page, three pedals moving", Anchor::BareWindow},
      {"CUSTOM page, one pedal at a time", Anchor::BareWindow},
      {"minimised (PRO), three pedals moving", Anchor::IdleTimer},
      {"minimised (PRO), one pedal at a time", Anchor::IdleTimer},
  };
};

bool Bench::startWindow() {
  std::string pattern = "/tmp/tkb-bench-bars-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return false;
  dir_ = pattern;
  std::filesystem::create_directories(dir_ + "/opt");
  std::filesystem::create_directories(dir_ + "/ports");
  if (chdir(dir_.c_str()) != 0) return false;
  setenv("TKB_SERIAL_PREFIX", (dir_ + "/ports/ttyACM").c_str(), 1);
  // The emulated pedal set serves its port from a child process: real pedals are not part of
  // the program, so their cost must not count.
  pedalSet_ = fork();
  if (pedalSet_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    tkb::emu::PedalEmulator emulator;
    if (!emulator.start(dir_ + "/ports/ttyACM3")) _exit(1);
    for (;;) pause();
  }
  QElapsedTimer portWait;
  portWait.start();
  while (!std::filesystem::exists(dir_ + "/ports/ttyACM3") && portWait.elapsed() < 10000) usleep(10000);
  monitor_ = startMonitorReceiver(tkb::monitor::monitorChannelName());

  tkb::ui::Services s;
  auto pedals = std::make_unique<BenchPedals>(tkb::emu::FirmwareState{}.brakeMax);
  pedals_ = pedals.get();
  s.pedals = std::move(pedals);
  s.quit = [] {};
  app_ = std::make_unique<tkb::ui::Application>(std::move(s));
  app_->window()->show();
  app_->startApplication();
  QElapsedTimer wait;
  wait.start();
  while (app_->phase() != tkb::ui::Application::Phase::Running && wait.elapsed() < 60000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return app_->phase() == tkb::ui::Application::Phase::Running;
}

void Bench::measure(Situation& s, BenchPedals::Pattern pattern) {
  pedals_->setPattern(pattern);
  processEventsFor(1000);
  counter_.reset();
  const long sent0 = app_->model().sentDatagrams();
  const double cpu0 = ownCpuSeconds();
  QElapsedTimer wall;
  wall.start();
  processEventsFor(seconds_ * 1000);
  const double elapsed = wall.elapsed() / 1000.0;
  const double cpu = 100.0 * (ownCpuSeconds() - cpu0) / elapsed;
  const double anchor = anchors_[static_cast<int>(s.anchor)];
  s.cpu.push_back(cpu);
  s.ratio.push_back(cpu / anchor);
  s.over.push_back(cpu - anchor);
  std::printf("  %-38s %5.2f %% of a core, %5.2fx the %s (%+.2f points); updates %.0f/s\n", s.name, cpu,
              cpu / anchor, s.anchor == Anchor::BareWindow ? "bare window" : "idle timer", cpu - anchor,
              (app_->model().sentDatagrams() - sent0) / elapsed);
  counter_.report(elapsed);
  std::fflush(stdout);
}

void Bench::round(int n) {
  using P = BenchPedals::Pattern;
  std::printf("round %d\n", n + 1);
  // The anchors, with the program idle (its event loop does not run meanwhile).
  const tkb::bench::BareWindowShape bare;
  const tkb::bench::BareWindowShape idle{1300, 640, 0, 10};
  const std::string platform = QGuiApplication::platformName().toStdString();
  anchors_[0] = tkb::bench::measureBareWindow(platform, seconds_, bare).cpuPercent;
  anchors_[1] = tkb::bench::measureBareWindow(platform, seconds_, idle).cpuPercent;
  for (int i = 0; i < 2; ++i) anchorRuns_[i].push_back(anchors_[i]);
  std::printf("  anchors: %s %.2f %%, %s %.2f %%\n", bare.describe().c_str(), anchors_[0], idle.describe().c_str(),
              anchors_[1]);
  tkb::ui::Pages& pages = app_->pages();
  qApp->installEventFilter(&counter_);
  click(app_->mainPage().pro);
  measure(situations_[0], P::ThreePedals);
  measure(situations_[1], P::OnePedal);
  measure(situations_[2], P::AtRest);
  click(pages.pro->close);
  measure(situations_[3], P::ThreePedals);
  measure(situations_[4], P::OnePedal);
  click(app_->mainPage().custom);
  measure(situations_[5], P::ThreePedals);
  measure(situations_[6], P::OnePedal);
  click(pages.sport->widgets().close);
  click(app_->mainPage().pro);  // PRO in force, its page open
  app_->window()->showMinimized();
  measure(situations_[7], P::ThreePedals);
  measure(situations_[8], P::OnePedal);
  app_->window()->showNormal();
  click(pages.pro->close);
  qApp->removeEventFilter(&counter_);
}

int Bench::run() {
  if (!startWindow()) {
    std::printf("window did not start\n");
    return 1;
  }
  std::printf("platform %s, %d s per run, %d rounds\n", qPrintable(QGuiApplication::platformName()), seconds_,
              rounds_);
  pedals_->setPattern(BenchPedals::Pattern::ThreePedals);
  click(app_->mainPage().pro);
  processEventsFor(1000);
  timeFeed(app_->model(), "PRO page open, three pedals:");
  app_->window()->showMinimized();
  processEventsFor(500);
  timeFeed(app_->model(), "minimised, three pedals:");
  app_->window()->showNormal();
  click(app_->pages().pro->close);
  processEventsFor(1000);
  for (int n = 0; n < rounds_; ++n) round(n);

  std::printf("\nmedians over %d rounds (%s): anchors %.2f %% (bare window), %.2f %% (idle 10 ms timer)\n", rounds_,
              qPrintable(QGuiApplication::platformName()), median(anchorRuns_[0]), median(anchorRuns_[1]));
  std::printf("  %-38s %8s %8s %10s\n", "situation", "program", "ratio", "points over");
  for (const Situation& s : situations_)
    std::printf("  %-38s %6.2f %% %7.2fx %+9.2f  (%s)\n", s.name, median(s.cpu), median(s.ratio), median(s.over),
                s.anchor == Anchor::BareWindow ? "bare window" : "idle timer");

  stopWindow();
  return 0;
}

void Bench::stopWindow() {
  app_.reset();
  for (pid_t child : {pedalSet_, monitor_}) {
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
  }
  if (chdir("/") == 0) {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
}

int Bench::screenshots(const std::string& folder) {
  if (!startWindow()) {
    std::printf("window did not start\n");
    return 1;
  }
  pedals_->setPattern(BenchPedals::Pattern::Held);
  processEventsFor(1000);
  const std::pair<QPushButton*, const char*> pages[] = {{app_->mainPage().pro, "pro"},
                                                       {app_->mainPage().custom, "custom"}};
  int status = 0;
  for (const auto& [open, name] : pages) {
    click(open);
    processEventsFor(1500);
    const QString path = QString::fromStdString(folder + "/" + name + ".png");
    const QImage shown = QGuiApplication::primaryScreen()->grabWindow(app_->window()->winId()).toImage();
    if (!shown.save(path)) status = 1;
    std::printf("%s %s\n", qPrintable(path), status == 0 ? "saved" : "NOT saved");
    click(open == app_->mainPage().pro ? app_->pages().pro->close : app_->pages().sport->widgets().close);
  }
  stopWindow();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const bool shots = argc > 2 && std::string(argv[1]) == "--screenshots";
  const int seconds = argc > 1 && !shots ? std::max(1, atoi(argv[1])) : 5;
  const int rounds = argc > 2 && !shots ? std::max(1, atoi(argv[2])) : 3;
  // The monitor channel the feed sends to (set before the window's sender is made).
  setenv(tkb::monitor::kChannelNameVariable, ("tkb-bench-bars-" + std::to_string(getpid())).c_str(), 1);
  QApplication qt(argc, argv);
  std::FILE* devnull = std::fopen("/dev/null", "w");
  tkb::setTraceSink(devnull);  // the traces are not what is measured
  const int status = shots ? Bench(seconds, rounds).screenshots(std::filesystem::absolute(argv[2]).string()) : Bench(seconds, rounds).run();
  tkb::setTraceSink(nullptr);
  std::fclose(devnull);
  return status;
}
