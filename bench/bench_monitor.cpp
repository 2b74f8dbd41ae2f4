// Monitor figures: the time to handle one pedal update (drawing plus the RGBA copy and the
// OpenGL texture upload, without a VR runtime), median and worst of 10,000; and the CPU share
// of the TKB_Monitor process receiving 200 updates per second for 10 s.
// Run on an X server (xvfb-run -a build/bench/bench_monitor) for the OpenGL part.
#include <QGuiApplication>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "monitor/gl_context.h"
#include "monitor/message_box.h"
#include "link/monitor_datagram.h"
#include "monitor/monitor_picture.h"
#include "monitor/vr_overlay.h"

using namespace tkb::monitor;
using WallClock = std::chrono::steady_clock;

namespace {

void timeOneUpdate() {
  StandardErrorMessages messages;
  GlContext gl(messages);
  MonitorPicture picture;
  picture.draw(PictureValues{0, 0, 0, 0, 0, 3}, true);
  std::vector<std::uint8_t> rgba;
  std::vector<double> microseconds;
  const int runs = 10000;
  microseconds.reserve(runs);
  for (int i = 0; i < runs; ++i) {
    const PictureValues values{i % 101, (i * 7) % 101, (i * 13) % 101, i % 100, 100, 3};
    const auto start = WallClock::now();
    picture.draw(values, false);
    pictureToRgba(picture.image(), rgba);
    const unsigned texture = gl.createTexture(rgba.data(), kPictureWidth, kPictureHeight);
    gl.deleteTexture(texture);
    microseconds.push_back(std::chrono::duration<double, std::micro>(WallClock::now() - start).count());
  }
  std::sort(microseconds.begin(), microseconds.end());
  std::printf("one update (draw + RGBA copy + %s texture upload), %d runs: median %.1f us, worst %.1f us\n",
              gl.ready() ? "OpenGL" : "NO OpenGL (no X server)", runs, microseconds[runs / 2],
              microseconds.back());
}

long cpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int index = 3; fields >> field; ++index) {  // field 3 is the state
    if (index == 14) utime = std::stol(field);
    if (index == 15) {
      stime = std::stol(field);
      break;
    }
  }
  return utime + stime;
}

void cpuShareAt200PerSecond(bool vr) {
  char folder[] = "/tmp/bench_monitor_XXXXXX";
  if (::mkdtemp(folder) == nullptr) return;
  const std::string channel = "tkb-bench-monitor-" + std::to_string(::getpid());
  std::ofstream(std::string(folder) + "/config.ini")
      << "[MONITOR]\nenable_vr=" << (vr ? 1 : 0) << "\n";
  const pid_t child = ::fork();
  if (child == 0) {
    if (::chdir(folder) != 0) ::_exit(126);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("TKB_MONITOR_CHANNEL", channel.c_str(), 1);
    ::execl(TKB_MONITOR_PATH, TKB_MONITOR_PATH, static_cast<char*>(nullptr));
    ::_exit(127);
  }
  MonitorSender sender(channel);
  const auto datagram = [](int i) {
    return pedalUpdateDatagram(PedalUpdate{3, static_cast<std::uint8_t>(i % 100), 100,
                                           static_cast<std::uint8_t>(i % 101),
                                           static_cast<std::uint8_t>((i * 3) % 101),
                                           static_cast<std::uint8_t>((i * 5) % 101)});
  };
  for (int i = 0; i < 1000 && !sender.send(datagram(0)); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));  // start-up is not the steady state
  const long ticksBefore = cpuTicks(child);
  const auto start = WallClock::now();
  int sent = 0;
  auto next = start;
  for (int i = 0; i < 2000; ++i) {
    sent += sender.send(datagram(i));
    next += std::chrono::milliseconds(5);
    std::this_thread::sleep_until(next);
  }
  const double seconds = std::chrono::duration<double>(WallClock::now() - start).count();
  const long ticks = cpuTicks(child) - ticksBefore;
  ::kill(child, SIGTERM);
  int status = 0;
  ::waitpid(child, &status, 0);
  const double share = 100.0 * ticks / (seconds * ::sysconf(_SC_CLK_TCK));
  std::printf("TKB_Monitor (%s), %d updates in %.2f s (%.0f/s): CPU %.2f %% of one core\n",
              vr ? "enable_vr=1, no runtime installed" : "window only", sent, seconds,
              sent / seconds, share);
  std::remove((std::string(folder) + "/config.ini").c_str());
  std::remove((std::string(folder) + "/config.ini.lock").c_str());
  ::rmdir(folder);
}

}  // namespace

int main(int argc, char* argv[]) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication application(argc, argv);
  timeOneUpdate();
  cpuShareAt200PerSecond(false);
  cpuShareAt200PerSecond(true);
  return 0;
}
