// bench_trace: what the trace panel and its part of the 10 ms feed cost.
//   - one sample of the trace feed (ring, output, brake capture), median, 99th percentile and
//     worst of 100,000 with the three pedals moving as the simulated driver moves them, and
//     that cost at 100 samples a second as a share of one core: what capturing costs while
//     the panel is closed or the window minimised;
//   - the whole program, measured from outside: a child process runs the window on the
//     simulated driver (the emulated pedal set serves its port from a grandchild, so the
//     pedals do not count) with the trace panel shown, with the main page only, and
//     minimised; beside it, in the same rounds, a bare Qt window of the panel's size
//     repainting three lines of 1000 points at 20 Hz (bare_window.h), and the ratio.
// Usage: xvfb-run -a build/bench/bench_trace [seconds per run (5)] [rounds (3)]
// (the program runs on the offscreen platform, and on X11 too when DISPLAY is set).
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bare_window.h"
#include "emulator/pedal_emulator.h"
#include "emulator/simulated_driver.h"
#include "link/trace.h"
#include "ui/application.h"
#include "ui/main_page.h"
#include "ui/pedal_trace_feed.h"
#include "ui/trace_panel.h"
#include "ui/trace_plot.h"

namespace fs = std::filesystem;
using tkb::bench::ProcessFigures;

namespace {

constexpr int kSamples = 100'000;
constexpr int kReadyWaitMs = 60'000;
volatile sig_atomic_t stopRequested = 0;

void timeFeedSample() {
  tkb::ui::PedalTraceFeed feed;
  tkb::ControllerState state;
  state.hasClutch = true;
  state.zonesEnabled = true;
  state.proProfileActive = true;
  state.throttleLower = 3;
  state.throttleUpper = 97;
  state.brakeLower = 2;
  state.brakeUpper = 90;
  std::vector<double> ns;
  ns.reserve(kSamples);
  for (int i = 0; i < kSamples; ++i) {
    const int64_t ms = int64_t{i} * 10;
    const tkb::PedalAxes axes = tkb::emu::SimulatedDriver::axesAt(ms, 90, true);
    const auto start = std::chrono::steady_clock::now();
    feed.sampleAt(ms * 1000, axes, state);
    ns.push_back(std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(ns.begin(), ns.end());
  const double median = ns[ns.size() / 2];
  std::printf("one trace-feed sample, %d samples (%ld brake applications captured): median %.0f ns, "
              "99th percentile %.0f ns, worst %.0f ns\n",
              kSamples, feed.capture().kept(), median, ns[ns.size() * 99 / 100], ns.back());
  std::printf("  capture with the panel closed or the window minimised: %.4f %% of one core at 100 samples/s\n",
              100.0 * median * 100 / 1e9);
}

// ---- The window, run as a child: bench_trace --window panel|main|minimised READY_FILE ----

int runWindow(const std::string& mode, const std::string& readyFile, int argc, char** argv) {
  QApplication qt(argc, argv);
  std::FILE* devnull = std::fopen("/dev/null", "w");
  tkb::setTraceSink(devnull);
  char pattern[] = "/tmp/tkb-bench-trace-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::string dir = pattern;
  fs::create_directories(dir + "/opt");
  fs::create_directories(dir + "/ports");
  if (chdir(dir.c_str()) != 0) return 1;
  setenv("TKB_SERIAL_PREFIX", (dir + "/ports/ttyACM").c_str(), 1);
  const pid_t pedalSet = fork();
  if (pedalSet == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    tkb::emu::PedalEmulator emulator;
    if (!emulator.start(dir + "/ports/ttyACM3")) _exit(1);
    for (;;) pause();
  }
  QElapsedTimer wait;
  wait.start();
  while (!fs::exists(dir + "/ports/ttyACM3") && wait.elapsed() < 10000) usleep(10000);
  tkb::ui::Services s;
  auto driver = std::make_unique<tkb::emu::SimulatedDriver>(nullptr);
  driver->setBrakeLimitPercent(tkb::emu::FirmwareState{}.brakeMax);
  s.pedals = std::move(driver);
  s.quit = [] { QCoreApplication::quit(); };
  auto app = std::make_unique<tkb::ui::Application>(std::move(s));
  app->window()->show();
  app->startApplication();
  while (app->phase() != tkb::ui::Application::Phase::Running && wait.elapsed() < kReadyWaitMs)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  if (app->phase() != tkb::ui::Application::Phase::Running) return 1;
  if (mode == "panel") app->mainPage().traceButton->click();
  if (mode == "minimised") app->window()->showMinimized();
  // Ends on SIGTERM, through the event loop, so that its folder and the pedal set go too.
  signal(SIGTERM, [](int) { stopRequested = 1; });
  QTimer stopCheck;
  QObject::connect(&stopCheck, &QTimer::timeout, [] {
    if (stopRequested) QCoreApplication::quit();
  });
  stopCheck.start(100);
  QTimer::singleShot(500, [readyFile] { std::ofstream(readyFile) << "ready\n"; });
  QElapsedTimer shown;
  shown.start();
  QCoreApplication::exec();
  if (const tkb::ui::TracePanel* panel = app->tracePanel())
    std::fprintf(stderr, "    (trace panel: %.1f frames/s drawn)\n",
                 panel->plot->paints() * 1000.0 / std::max<qint64>(1, shown.elapsed()));
  app.reset();
  kill(pedalSet, SIGTERM);
  waitpid(pedalSet, nullptr, 0);
  if (chdir("/") != 0) return 1;
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  tkb::setTraceSink(nullptr);
  std::fclose(devnull);
  return 0;
}

ProcessFigures measureWindow(const std::string& platform, const std::string& mode, double seconds) {
  const std::string ready = fs::temp_directory_path() / ("tkb-bench-trace-ready-" + std::to_string(getpid()));
  fs::remove(ready);
  const pid_t child = tkb::bench::startProgram(
      {fs::read_symlink("/proc/self/exe").string(), {"--window", mode, ready}, {"QT_QPA_PLATFORM=" + platform}, {}});
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadyWaitMs);
  while (!fs::exists(ready) && std::chrono::steady_clock::now() < until) {
    if (waitpid(child, nullptr, WNOHANG) == child) return {};
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // start-up is not the steady state
  const ProcessFigures figures = tkb::bench::measureProcess(child, seconds);
  tkb::bench::endProgram(child);
  fs::remove(ready);
  return figures;
}

struct Row {
  std::string what;
  std::vector<double> cpu;
};

void cpuTable(const std::string& platform, double seconds, int rounds) {
  const tkb::bench::BareWindowShape anchor{tkb::ui::kTracePanelWidth, tkb::ui::kTracePanelHeight, 1, 50, 3};
  std::vector<Row> rows = {{anchor.describe(), {}},
                           {"TKB-Tunedeck, trace panel shown", {}},
                           {"TKB-Tunedeck, main page, no panel", {}},
                           {"TKB-Tunedeck, minimised, no panel", {}}};
  for (int round = 0; round < rounds; ++round) {
    rows[0].cpu.push_back(tkb::bench::measureBareWindow(platform, seconds, anchor).cpuPercent);
    rows[1].cpu.push_back(measureWindow(platform, "panel", seconds).cpuPercent);
    rows[2].cpu.push_back(measureWindow(platform, "main", seconds).cpuPercent);
    rows[3].cpu.push_back(measureWindow(platform, "minimised", seconds).cpuPercent);
  }
  const double base = tkb::bench::median(rows[0].cpu);
  for (const Row& row : rows) {
    const double m = tkb::bench::median(row.cpu);
    const auto [low, high] = std::minmax_element(row.cpu.begin(), row.cpu.end());
    std::printf("  %-10s %-52s %5.2f %% (%.2f-%.2f)  %5.2fx\n", platform.c_str(), row.what.c_str(), m, *low, *high,
                base > 0 ? m / base : 0.0);
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--window") == 0) return runWindow(argv[2], argv[3], argc, argv);
  const double seconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 5.0;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  timeFeedSample();
  std::vector<std::string> platforms = {"offscreen"};
  const char* display = std::getenv("DISPLAY");
  if (display != nullptr && *display != '\0') platforms.push_back("xcb");
  std::printf("\nCPU of one core, pedals moving (simulated driver), %d rounds of %.0f s: median (lowest-highest), "
              "x the bare window of the same rounds:\n",
              rounds, seconds);
  for (const std::string& platform : platforms) cpuTable(platform, seconds, rounds);
  return 0;
}
