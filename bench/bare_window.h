// The anchor the window benchmarks are read against: a plain Qt Widgets window of 1300 x 640
// with six bars repainted every 50 ms (BareWindow), run as its own program (bench_bare_window)
// and measured from outside, as the program under test is, in the same run. Also the few
// helpers that measure a process from outside: start it, its CPU time and resident memory.
// Used by bench_monitor and bench_live_bars.
#pragma once

#include <sys/types.h>

#include <QTimer>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

namespace tkb::bench {

class BareWindow : public QWidget {
 public:
  static constexpr int kWidth = 1300;
  static constexpr int kHeight = 640;
  static constexpr int kBars = 6;
  static constexpr int kFrameMs = 50;

  explicit BareWindow(QWidget* parent = nullptr);

 private:
  void nextFrame();

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

// CPU time of every thread of the process so far, in seconds (from the scheduler's own
// accounting, which counts nanoseconds rather than clock ticks).
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

// Starts bench_bare_window on the Qt platform given (e.g. "xcb", "offscreen"), lets it settle,
// measures it for the given seconds and ends it.
ProcessFigures measureBareWindow(const std::string& qtPlatform, double seconds);

// The median of a few figures (the values are copied).
double median(std::vector<double> values);

}  // namespace tkb::bench
