// bench_monitor: what TKB_Monitor costs.
//   - one drawing of each view (bars, trace), median and worst of 10,000, a trace update, and
//     the VR copy of a picture (RGBA conversion and OpenGL texture upload) when X is there;
//   - the TKB_Monitor process receiving 100 updates a second with all three pedals moving, in
//     each view, on the offscreen platform and on X11 (xcb, when DISPLAY is set), beside the
//     bare-window anchor (bare_window.h) measured in the same rounds, and the ratio; and a
//     bare window of the monitor's size repainted every 20 ms, the floor under its figure;
//   - its resident memory with VR off and with VR on (the tests' fake runtime), and the files
//     the runs wrote into their home folder (anything outside the base folder lands there).
// Usage: xvfb-run -a build/bench/bench_monitor [seconds per run (5)] [rounds (3)]
// TKB_BENCH_MONITOR names another TKB_Monitor to measure (an older build, say).
#include <QGuiApplication>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/bare_window.h"
#include "link/monitor_datagram.h"
#include "monitor/gl_context.h"
#include "monitor/message_box.h"
#include "monitor/monitor_picture.h"
#include "monitor/pedal_trace.h"
#include "monitor/vr_overlay.h"

using namespace tkb::monitor;
using tkb::bench::ProcessFigures;
using WallClock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

// All three pedals moving, each at its own pace, as in a braking zone with heel-and-toe.
int triangle(int i, int period) {
  const int phase = i % period;
  return 100 * (phase <= period / 2 ? phase : period - phase) / (period / 2);
}
PedalUpdate movingPedals(int i) {
  return PedalUpdate{3, 80, 95, static_cast<std::uint8_t>(triangle(i, 200)),
                     static_cast<std::uint8_t>(triangle(i + 50, 160)),
                     static_cast<std::uint8_t>(triangle(i + 20, 300))};
}

template <typename Step>
void timeRuns(const char* what, int runs, Step step) {
  std::vector<double> microseconds;
  microseconds.reserve(static_cast<std::size_t>(runs));
  for (int i = 0; i < runs; ++i) {
    const auto start = WallClock::now();
    step(i);
    microseconds.push_back(std::chrono::duration<double, std::micro>(WallClock::now() - start).count());
  }
  std::sort(microseconds.begin(), microseconds.end());
  std::printf("  %-58s median %7.2f us, worst %8.1f us\n", what,
              microseconds[microseconds.size() / 2], microseconds.back());
}

void timeDrawings() {
  const int runs = 10000;
  std::printf("In process, %d runs each:\n", runs);
  MonitorPicture bars;
  bars.draw(PictureValues{0, 0, 0, 0, 0, 3}, true);
  timeRuns("bars view, one drawing", runs, [&](int i) {
    const PedalUpdate u = movingPedals(2 * i);
    bars.draw(PictureValues{u.throttle, u.brake, u.clutch, u.maxNumber, u.cutNumber, 3}, false);
  });

  MonitorPicture trace;
  PedalTrace history;
  for (int i = 0; i < 600; ++i) {
    const PedalUpdate u = movingPedals(i);
    history.add(u.throttle, u.brake, u.clutch);
  }
  trace.drawTrace(history, 3, true);
  int next = 600;
  timeRuns("trace view, one update taken", runs, [&](int) {
    const PedalUpdate u = movingPedals(next++);
    history.add(u.throttle, u.brake, u.clutch);
  });
  timeRuns("trace view, one drawing (5 s of three lines and the held one)", runs,
           [&](int) { trace.drawTrace(history, 3, false); });

  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') {
    std::printf("  VR copy: no X display, not measured\n");
    return;
  }
  StandardErrorMessages messages;
  GlContext gl(messages);
  if (!gl.ready()) return;
  std::vector<std::uint8_t> rgba;
  timeRuns("VR copy of a picture (RGBA + OpenGL texture upload)", runs, [&](int) {
    pictureToRgba(bars.image(), rgba);
    gl.deleteTexture(gl.createTexture(rgba.data(), kPictureWidth, kPictureHeight));
  });
}

struct Bench {
  std::string monitor;
  std::string root;  // temporary: a folder per run and the runs' home
  std::string home;
  std::string fakeVr;
  double seconds = 5;
  int runs = 0;
};

// One TKB_Monitor run in a base folder of its own, fed 100 updates a second. vrLibrary empty:
// VR off.
ProcessFigures measureMonitor(Bench& bench, const std::string& platform, const char* view,
                              const std::string& vrLibrary) {
  const std::string folder = bench.root + "/run" + std::to_string(++bench.runs);
  fs::create_directories(folder);
  std::ofstream(folder + "/config.ini") << "[MONITOR]\nenable_vr=" << (vrLibrary.empty() ? 0 : 1)
                                        << "\nview=" << view << "\nlast_mode=3\n";
  const std::string channel =
      "tkb-bench-monitor-" + std::to_string(::getpid()) + "-" + std::to_string(bench.runs);
  std::vector<std::string> environment = {
      "QT_QPA_PLATFORM=" + platform, "TKB_MONITOR_CHANNEL=" + channel, "HOME=" + bench.home,
      "XDG_CACHE_HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "TKB_MONITOR_NO_MESSAGE_BOX=1",
      "TKB_OPENVR_LIBRARY=" + (vrLibrary.empty() ? std::string("/nonexistent") : vrLibrary)};
  const pid_t child = tkb::bench::startProgram({bench.monitor, {}, environment, folder});
  MonitorSender sender(channel);
  for (int i = 0; i < 1000 && !sender.send(pedalUpdateDatagram(movingPedals(0))); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  int sent = 0;
  const auto feed = [&](int) { sender.send(pedalUpdateDatagram(movingPedals(sent++))); };
  tkb::bench::measureProcess(child, 1.5, feed);  // start-up is not the steady state
  const ProcessFigures figures = tkb::bench::measureProcess(child, bench.seconds, feed);
  tkb::bench::endProgram(child);
  fs::remove_all(folder);
  return figures;
}

struct Row {
  std::string what;
  std::vector<double> cpu;
  long residentKiB = 0;
};

void printRows(const std::string& platform, const std::vector<Row>& rows) {
  const double anchor = tkb::bench::median(rows.front().cpu);
  for (const Row& row : rows) {
    const double m = tkb::bench::median(row.cpu);
    const auto [low, high] = std::minmax_element(row.cpu.begin(), row.cpu.end());
    std::printf("  %-10s %-40s %5.2f %% (%.2f-%.2f)  %5.2fx  %5.1f MiB\n", platform.c_str(),
                row.what.c_str(), m, *low, *high, anchor > 0 ? m / anchor : 0.0,
                row.residentKiB / 1024.0);
  }
}

void cpuTables(Bench& bench, int rounds) {
  std::vector<std::string> platforms = {"offscreen"};
  const char* display = std::getenv("DISPLAY");
  if (display != nullptr && *display != '\0') platforms.push_back("xcb");
  const tkb::bench::BareWindowShape anchorShape;
  // The monitor's own shape and pace: what any Qt window of its size costs at 50 pictures a
  // second, the floor under the monitor's figure.
  const tkb::bench::BareWindowShape floorShape{kPictureWidth, kPictureHeight, 3, 20};
  std::printf("\nTKB_Monitor at 100 updates/s, all three pedals moving: %d rounds of %.0f s,\n"
              "median CPU of one core (lowest-highest), x the bare window of the same rounds,\n"
              "resident memory at the end of the last round:\n",
              rounds, bench.seconds);
  for (const std::string& platform : platforms) {
    std::vector<Row> rows = {{anchorShape.describe(), {}},
                             {floorShape.describe(), {}},
                             {"TKB_Monitor, bars view, VR off", {}},
                             {"TKB_Monitor, trace view, VR off", {}}};
    const auto take = [](Row& row, const ProcessFigures& figures) {
      row.cpu.push_back(figures.cpuPercent);
      row.residentKiB = figures.residentKiB;
    };
    for (int round = 0; round < rounds; ++round) {
      take(rows[0], tkb::bench::measureBareWindow(platform, bench.seconds, anchorShape));
      take(rows[1], tkb::bench::measureBareWindow(platform, bench.seconds, floorShape));
      take(rows[2], measureMonitor(bench, platform, "bars", ""));
      take(rows[3], measureMonitor(bench, platform, "trace", ""));
    }
    printRows(platform, rows);
  }

  const std::string platform = platforms.back();
  if (bench.fakeVr.empty() || !fs::exists(bench.fakeVr)) {
    std::printf("\nVR on: the fake runtime was not built (configure with TKB_BUILD_TESTS=ON)\n");
    return;
  }
  std::vector<Row> rows = {{anchorShape.describe(), {}}, {"TKB_Monitor, bars view, VR on (fake)", {}}};
  const ProcessFigures anchor = tkb::bench::measureBareWindow(platform, bench.seconds, anchorShape);
  const ProcessFigures vrOn = measureMonitor(bench, platform, "bars", bench.fakeVr);
  rows[0].cpu.push_back(anchor.cpuPercent);
  rows[0].residentKiB = anchor.residentKiB;
  rows[1].cpu.push_back(vrOn.cpuPercent);
  rows[1].residentKiB = vrOn.residentKiB;
  std::printf("\nVR on with the tests' fake runtime (it reads every texture back, so its CPU is\n"
              "not a real runtime's), one round:\n");
  printRows(platform, rows);
}

void filesWrittenOutside(const Bench& bench) {
  std::vector<std::string> written;
  for (const auto& entry : fs::recursive_directory_iterator(bench.home)) {
    written.push_back(entry.path().string().substr(bench.home.size()) +
                      (entry.is_directory() ? "/" : ""));
  }
  std::printf("\nFiles and folders the runs made in their home folder (outside the base folder): %zu\n",
              written.size());
  for (std::size_t i = 0; i < written.size() && i < 10; ++i) std::printf("  ~%s\n", written[i].c_str());
}

}  // namespace

int main(int argc, char* argv[]) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  // The bench's own drawings need no window; the programs it starts get their platform each.
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::setenv("MESA_SHADER_CACHE_DISABLE", "true", 0);
  QGuiApplication application(argc, argv);

  Bench bench;
  const char* other = std::getenv("TKB_BENCH_MONITOR");
  bench.monitor = other != nullptr && *other != '\0' ? other : TKB_MONITOR_PATH;
#ifdef TKB_FAKE_OPENVR_PATH
  bench.fakeVr = TKB_FAKE_OPENVR_PATH;
#endif
  bench.seconds = seconds > 0 ? seconds : 5.0;
  char root[] = "/tmp/bench_monitor_XXXXXX";
  if (::mkdtemp(root) == nullptr) return 1;
  bench.root = root;
  bench.home = bench.root + "/home";
  fs::create_directories(bench.home);
  std::printf("TKB_Monitor: %s\n\n", bench.monitor.c_str());

  timeDrawings();
  cpuTables(bench, rounds > 0 ? rounds : 3);
  filesWrittenOutside(bench);
  fs::remove_all(bench.root);
  return 0;
}
