// bench_quiet_click: how long a click keeps the window from serving its event loop when the
// pedal set has stopped answering. The window runs against the emulated pedal set on a
// pseudo-terminal; once it shows its main page the controller falls silent, then PRO, the PRO
// page's CLOSE, CUSTOM and the CUSTOM page's CLOSE are clicked, each once the one before has
// ended. A 1 ms timer on the main thread measures its worst lateness (the longest time the
// event loop was not served) from each click until its action is over; the time the click
// call itself took and the time until the action was over are printed beside it.
// Uses the platform in QT_QPA_PLATFORM (offscreen when unset; QT_QPA_PLATFORM=xcb under
// xvfb-run for X11). Usage: bench_quiet_click [rounds]
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/scratch_folder.h"
#include "emulator/pedal_emulator.h"
#include "emulator/simulated_driver.h"
#include "ui/application.h"
#include "ui/main_page.h"
#include "ui/pages.h"

namespace {

// The main thread's 1 ms heartbeat: the longest gap between two of its ticks.
class Heartbeat : public QObject {
 public:
  Heartbeat() {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(1);
    connect(&timer_, &QTimer::timeout, this, [this] {
      const qint64 now = clock_.nsecsElapsed();
      worstNs_ = std::max(worstNs_, now - lastNs_);
      lastNs_ = now;
    });
    clock_.start();
    timer_.start();
  }
  void reset() {
    lastNs_ = clock_.nsecsElapsed();
    worstNs_ = 0;
  }
  // The worst gap so far, counted up to now (a loop still blocked counts too).
  double worstMs() const { return std::max(worstNs_, clock_.nsecsElapsed() - lastNs_) / 1e6; }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 lastNs_ = 0, worstNs_ = 0;
};

template <typename Pred>
bool runUntil(Pred pred, int limitMs) {
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() > limitMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
  }
  return true;
}

struct Figure {
  const char* what;
  std::vector<double> callMs, worstGapMs, actionMs;
};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}
double worst(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
  const std::string dir = tkb::bench::enterScratchFolder("quiet");
  if (dir.empty()) return 1;
  QApplication qapp(argc, argv);

  std::vector<Figure> figures = {{"PRO", {}, {}, {}},
                                 {"PRO page CLOSE", {}, {}, {}},
                                 {"CUSTOM", {}, {}, {}},
                                 {"CUSTOM page CLOSE", {}, {}, {}}};
  for (int round = 0; round < rounds; ++round) {
    tkb::emu::PedalEmulator emulator;
    if (!emulator.start(dir + "/ttyACM0")) return 1;
    tkb::ui::Services s;
    s.pedals = std::make_unique<tkb::emu::SimulatedDriver>(&emulator);
    s.quit = [] {};
    auto app = std::make_unique<tkb::ui::Application>(std::move(s));
    app->window()->show();
    app->startApplication();
    tkb::ui::ControllerModel& model = app->model();
    if (!runUntil([&] { return app->phase() == tkb::ui::Application::Phase::Running && model.idle(); }, 30000)) {
      std::fprintf(stderr, "bench_quiet_click: the window did not reach its main page\n");
      return 1;
    }
    // From here on the controller hears every request and answers none.
    tkb::emu::Faults quiet;
    quiet.silent = true;
    emulator.setFaults(quiet);
    Heartbeat heartbeat;
    tkb::ui::Pages& pages = app->pages();
    QPushButton* const buttons[] = {app->mainPage().pro, pages.pro->close, app->mainPage().custom,
                                    pages.sport->widgets().close};
    for (size_t i = 0; i < std::size(buttons); ++i) {
      runUntil([] { return false; }, 200);  // the window at rest
      heartbeat.reset();
      QElapsedTimer t;
      t.start();
      buttons[i]->click();
      figures[i].callMs.push_back(t.nsecsElapsed() / 1e6);
      runUntil([&] { return model.idle(); }, 30000);
      figures[i].actionMs.push_back(t.nsecsElapsed() / 1e6);
      figures[i].worstGapMs.push_back(heartbeat.worstMs());
    }
    app.reset();
    emulator.stop();
  }
  std::printf("platform: %s; controller silent; %d rounds\n", qPrintable(QGuiApplication::platformName()), rounds);
  std::printf("%-20s %24s %28s %24s\n", "click", "click call ms (med/max)", "event loop worst gap ms", "action over ms (med)");
  for (const Figure& f : figures)
    std::printf("%-20s %11.1f / %-10.1f %13.1f / %-12.1f %17.1f\n", f.what, median(f.callMs), worst(f.callMs),
                median(f.worstGapMs), worst(f.worstGapMs), median(f.actionMs));
  if (chdir("/") == 0) std::filesystem::remove_all(dir);
  return 0;
}
