// The anchor the window benchmarks are read against: a plain Qt Widgets window of 1300 x 640
// with six bars repainted every 50 ms (BareWindow), run as its own program (bench_bare_window)
// and measured from outside, as the program under test is, in the same run. Also the few
// helpers that measure a process from outside: start it, its CPU time and resident memory.
// Used by bench_monitor, bench_live_bars and bench_trace.
#pragma once

#include <sys/types.h>

#include <QTimer>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

namespace tkb::bench {

// What the bare window is: by default the anchor of the window figures, 1300 x 640 with six
// bars repainted every 50 ms; a smaller shape gives the floor of a small window's repaints, and
// no bars with a 10 ms period a window that only runs an idle 10 ms timer.
inline constexpr int kBareLinePoints = 1000;

struct BareWindowShape {
  int width = 1300;
  int height = 640;
  int bars = 6;
  int frameMs = 50;
  // When above 0: instead of the bars, this many lines of kBareLinePoints points each, moving
  // across one opaque widget (the floor of a trace view's repaints).
  int lines = 0;
  std::string describe() const;  // "bare window 1300x640, 6 bars / 50 ms"
};

class BareWindow : public QWidget {
 public:
  explicit BareWindow(const BareWindowShape& shape = {}, QWidget* parent = nullptr);

 private:
  void nextFrame();

  BareWindowShape shape_;
  std::vector<QWidget*> bars_;
  QTimer frame_;
  int tick_ = 0;
};

// A program started with fork/exec in its own folder, with changes to the environment:
// NAME=VALUE sets a variable, a bare NAME removes it.
struct ProgramStart {
  std::string program;
  std::vector<std::string> arguments;
  std::vector<std::string> environment;
  std::string folder;  // empty: the current one
};
pid_t startProgram(const ProgramStart& start);
// SIGTERM, then SIGKILL after 5 s; always reaped.
void endProgram(pid_t pid);

// CPU time of every thread of the process so far, those that ended included, in seconds (from
// the process's CPU clock, which counts nanoseconds rather than clock ticks).
double processCpuSeconds(pid_t pid);
// VmRSS, in KiB; -1 when the process is gone.
long residentKiB(pid_t pid);

struct ProcessFigures {
  double cpuPercent = 0;  // of one core: CPU time over wall time
  long residentKiB = 0;   // at the end of the measured span
};
// Measures a running process for the given seconds; everyTenMs (if set) is called every 10 ms
// with its count, e.g. to send it updates.
ProcessFigures measureProcess(pid_t pid, double seconds,
                              const std::function<void(int)>& everyTenMs = {});

// Starts bench_bare_window (bench_bare_window [width height bars frameMs [lines]]) on the Qt platform
// given (e.g. "xcb", "offscreen"), lets it settle, measures it for the given seconds and ends it.
ProcessFigures measureBareWindow(const std::string& qtPlatform, double seconds,
                                 const BareWindowShape& shape = {});

// The median of a few figures (the values are copied).
double median(std::vector<double> values);

}  // namespace tkb::bench
