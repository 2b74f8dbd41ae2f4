// bench_window: the TKB-Tunedeck window against the emulated pedal set, with the simulated
// driver pressing the pedals.
//   - time from startApplication() to the main page (median and worst of several starts);
//   - CPU share of one core while the main page is shown and the three 10 ms tasks run
//     (whole process, and the main thread alone: the emulator's thread is not the window);
//   - resident memory with the main page shown.
// Uses the platform in QT_QPA_PLATFORM (offscreen when unset; run under xvfb-run with
// QT_QPA_PLATFORM=xcb for an X server). Usage: bench_window [seconds-of-cpu-sampling]
#include <stdlib.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/scratch_folder.h"
#include "emulator/pedal_emulator.h"
#include "ui/application.h"
#include "emulator/simulated_driver.h"

namespace {

double seconds(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

double processCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

long residentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

std::unique_ptr<tkb::ui::Application> makeApp(tkb::emu::PedalEmulator& emulator) {
  tkb::ui::Services s;
  s.pedals = std::make_unique<tkb::emu::SimulatedDriver>(&emulator);
  s.quit = [] {};
  auto app = std::make_unique<tkb::ui::Application>(std::move(s));
  app->window()->show();
  return app;
}

bool runUntilRunning(tkb::ui::Application& app) {
  QElapsedTimer t;
  t.start();
  while (app.phase() != tkb::ui::Application::Phase::Running && t.elapsed() < 30000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return app.phase() == tkb::ui::Application::Phase::Running;
}

}  // namespace

int main(int argc, char** argv) {
  const int sampleSeconds = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
  const std::string dir = tkb::bench::enterScratchFolder("window");
  if (dir.empty()) return 1;

  QApplication qapp(argc, argv);
  tkb::emu::PedalEmulator emulator;
  if (!emulator.start(dir + "/ttyACM0")) return 1;

  const int starts = 7;
  std::vector<double> ms;
  std::unique_ptr<tkb::ui::Application> app;
  for (int i = 0; i < starts; ++i) {
    app.reset();
    QCoreApplication::processEvents();
    app = makeApp(emulator);
    QElapsedTimer t;
    t.start();
    app->startApplication();
    if (!runUntilRunning(*app)) {
      std::fprintf(stderr, "bench_window: start-up did not reach the main page\n");
      return 1;
    }
    ms.push_back(t.nsecsElapsed() / 1e6);
  }
  std::sort(ms.begin(), ms.end());
  std::printf("platform: %s\n", qPrintable(QGuiApplication::platformName()));
  std::printf("start to main page: median %.1f ms, best %.1f ms, worst %.1f ms (%d starts)\n",
              ms[ms.size() / 2], ms.front(), ms.back(), starts);

  // Let the first paints settle, then sample.
  QTimer::singleShot(1000, &qapp, [] { QCoreApplication::exit(0); });
  qapp.exec();
  const double wall0 = seconds(CLOCK_MONOTONIC), proc0 = processCpuSeconds();
  const double main0 = seconds(CLOCK_THREAD_CPUTIME_ID);
  QTimer::singleShot(sampleSeconds * 1000, &qapp, [] { QCoreApplication::exit(0); });
  qapp.exec();
  const double wall = seconds(CLOCK_MONOTONIC) - wall0;
  std::printf("main page with the three 10 ms tasks, %d s: process %.2f %% of one core, "
              "main thread %.2f %%\n",
              sampleSeconds, 100.0 * (processCpuSeconds() - proc0) / wall,
              100.0 * (seconds(CLOCK_THREAD_CPUTIME_ID) - main0) / wall);
  std::printf("resident memory with the main page shown: %.1f MiB\n", residentKiB() / 1024.0);

  app.reset();
  emulator.stop();
  if (chdir("/") == 0) std::filesystem::remove_all(dir);
  return 0;
}
