#include "bench/bare_window.h"

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QPainter>
#include <QPolygon>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace tkb::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSettleMs = 1500;  // start-up is not the steady state

// One bar: opaque, so a repaint touches nothing under it.
class Bar : public QWidget {
 public:
  explicit Bar(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }
  void setValue(int percent) {
    if (percent == value_) return;
    value_ = percent;
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const int level = height() * value_ / 100;
    painter.fillRect(0, 0, width(), height() - level, QColor(40, 40, 40));
    painter.fillRect(0, height() - level, width(), level, QColor(220, 40, 40));
  }

 private:
  int value_ = -1;
};

// Lines of kBareLinePoints points across the widget, drawn as a trace view draws its pedals:
// opaque, 2 px, not antialiased, the whole widget each frame.
class Lines : public QWidget {
 public:
  Lines(QWidget* parent, int lines) : QWidget(parent), polylines_(static_cast<std::size_t>(lines)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    for (QPolygon& line : polylines_) line.resize(kBareLinePoints);
  }
  void advance() {
    ++tick_;
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(30, 34, 41));
    for (std::size_t l = 0; l < polylines_.size(); ++l) {
      QPolygon& line = polylines_[l];
      for (int i = 0; i < kBareLinePoints; ++i) {
        const int phase = (i + tick_ * 5 + static_cast<int>(l) * 97) % 400;  // a triangle per line
        const int value = phase <= 200 ? phase : 400 - phase;
        line[i] = QPoint(i * width() / kBareLinePoints, height() - 1 - value * (height() - 1) / 200);
      }
      painter.setPen(QPen(QColor(60 + 70 * static_cast<int>(l), 200, 90), 2));
      painter.drawPolyline(line);
    }
  }

 private:
  std::vector<QPolygon> polylines_;
  int tick_ = 0;
};

}  // namespace

std::string BareWindowShape::describe() const {
  return "bare window " + std::to_string(width) + "x" + std::to_string(height) + ", " +
         (lines > 0 ? std::to_string(lines) + " lines of " + std::to_string(kBareLinePoints) + " points"
                    : std::to_string(bars) + " bars") +
         " / " + std::to_string(frameMs) + " ms";
}

BareWindow::BareWindow(const BareWindowShape& shape, QWidget* parent)
    : QWidget(parent), shape_(shape) {
  setFixedSize(shape.width, shape.height);
  setWindowTitle(QStringLiteral("bare window"));
  if (shape.lines > 0) {
    auto* lines = new Lines(this, shape.lines);
    lines->setGeometry(16, 12, shape.width - 32, shape.height * 4 / 10);
    bars_.push_back(lines);
    connect(&frame_, &QTimer::timeout, lines, &Lines::advance);
    frame_.start(shape.frameMs);
    return;
  }
  // The bars side by side over the middle of the window, as wide as a gap.
  const int slot = shape.width / (2 * shape.bars + 1);
  for (int i = 0; i < shape.bars; ++i) {
    auto* bar = new Bar(this);
    bar->setGeometry(slot * (2 * i + 1), shape.height / 10, slot, shape.height * 8 / 10);
    bars_.push_back(bar);
  }
  connect(&frame_, &QTimer::timeout, this, &BareWindow::nextFrame);
  frame_.start(shape.frameMs);
}

void BareWindow::nextFrame() {
  ++tick_;
  for (int i = 0; i < shape_.bars; ++i) {
    const int phase = (tick_ * (3 + i) + 17 * i) % 200;  // a triangle, each bar its own pace
    static_cast<Bar*>(bars_[static_cast<std::size_t>(i)])->setValue(phase <= 100 ? phase : 200 - phase);
  }
}

pid_t startProgram(const ProgramStart& start) {
  const pid_t child = ::fork();
  if (child != 0) return child;
  if (!start.folder.empty() && ::chdir(start.folder.c_str()) != 0) ::_exit(126);
  for (const std::string& setting : start.environment) {
    const std::size_t equals = setting.find('=');
    if (equals == std::string::npos) {
      ::unsetenv(setting.c_str());
    } else {
      ::setenv(setting.substr(0, equals).c_str(), setting.substr(equals + 1).c_str(), 1);
    }
  }
  std::vector<char*> argv;
  std::vector<std::string> all = {start.program};
  all.insert(all.end(), start.arguments.begin(), start.arguments.end());
  for (std::string& argument : all) argv.push_back(argument.data());
  argv.push_back(nullptr);
  ::execv(start.program.c_str(), argv.data());
  ::_exit(127);
}

void endProgram(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  const auto end = Clock::now() + std::chrono::seconds(5);
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() > end) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

double processCpuSeconds(pid_t pid) {
  // The process's own CPU clock counts every thread, those that ended too (a sum over the
  // threads still there would drop the time of a pool thread that ends during the span).
  clockid_t clock;
  timespec now{};
  if (::clock_getcpuclockid(pid, &clock) == 0 && ::clock_gettime(clock, &now) == 0)
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* folder = ::opendir(tasks.c_str());
  if (folder == nullptr) return 0;
  double nanoseconds = 0;
  while (const dirent* entry = ::readdir(folder)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream schedstat(tasks + "/" + entry->d_name + "/schedstat");
    double onCpu = 0;
    if (schedstat >> onCpu) nanoseconds += onCpu;
  }
  ::closedir(folder);
  return nanoseconds / 1e9;
}

long residentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

ProcessFigures measureProcess(pid_t pid, double seconds, const std::function<void(int)>& everyTenMs) {
  const double cpuBefore = processCpuSeconds(pid);
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  auto next = start;
  for (int i = 0; Clock::now() < end; ++i) {
    if (everyTenMs) everyTenMs(i);
    next += std::chrono::milliseconds(10);
    std::this_thread::sleep_until(next);
  }
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  ProcessFigures figures;
  figures.cpuPercent = 100.0 * (processCpuSeconds(pid) - cpuBefore) / wall;
  figures.residentKiB = residentKiB(pid);
  return figures;
}

ProcessFigures measureBareWindow(const std::string& qtPlatform, double seconds,
                                 const BareWindowShape& shape) {
  std::vector<std::string> arguments = {std::to_string(shape.width), std::to_string(shape.height),
                                        std::to_string(shape.bars), std::to_string(shape.frameMs)};
  if (shape.lines > 0) arguments.push_back(std::to_string(shape.lines));
  const pid_t child =
      startProgram({TKB_BENCH_BARE_WINDOW, arguments, {"QT_QPA_PLATFORM=" + qtPlatform}, {}});
  std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
  const ProcessFigures figures = measureProcess(child, seconds);
  endProgram(child);
  return figures;
}

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace tkb::bench
