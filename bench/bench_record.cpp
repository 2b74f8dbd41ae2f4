// What tkb-cli record costs while the pedals report: the real tkb-cli reads a fake hidraw node
// (a FIFO in a fake sysfs tree, TKB_SYSFS_ROOT / TKB_DEV_ROOT) that this program feeds with
// reports at a steady rate, and its CPU time (user + system, from wait4) is set against the
// wall time it ran. Each rate is run twice, so that start-up (about the same in both) can be
// told apart: the share printed is that of the longer run minus the shorter one over the
// difference of their lengths; that three times, with the median. Goal: at most 0.5 % of a core at the pedals' report rate.
// For scale, the same is measured of a process that does nothing but wake up once per read
// interval of record (kRecordReadIntervalMs): the floor of any reader that wakes that often.
//   build/bench/bench_record [seconds]      (default 10; the short runs take 2 s)
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/pedal_commands.h"

extern char** environ;

namespace {

struct Run {
  double cpuSeconds = 0;
  double wallSeconds = 0;
  long rows = 0;
};

double seconds(const timespec& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9; }

double now() {
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return seconds(t);
}

long linesOf(const std::string& path) {
  std::ifstream in(path);
  long lines = 0;
  for (std::string line; std::getline(in, line);) ++lines;
  return lines;
}

// One recording of `length` seconds while reports arrive at `rate` per second.
Run record(const std::string& root, int writer, int rate, int length) {
  const std::string out = root + "/out.csv";
  const std::string lengthText = std::to_string(length);
  const char* argv[] = {TKB_CLI_PATH, "record", out.c_str(), "--seconds", lengthText.c_str(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  const double started = now();
  if (::posix_spawn(&child, TKB_CLI_PATH, &actions, nullptr, const_cast<char**>(argv), environ) != 0) {
    std::perror("posix_spawn");
    std::exit(2);
  }
  posix_spawn_file_actions_destroy(&actions);
  // Reports as the pedals send them: report id 1, four axes, at a steady pace.
  timespec next{};
  ::clock_gettime(CLOCK_MONOTONIC, &next);
  const long periodNs = 1'000'000'000L / rate;
  uint8_t report[9] = {1};
  int status = 0;
  rusage usage{};
  for (long n = 0;; ++n) {
    if (::wait4(child, &status, WNOHANG, &usage) == child) break;
    const uint16_t value = static_cast<uint16_t>(n * 37);
    for (int axis = 0; axis < 4; ++axis) {
      report[1 + 2 * axis] = static_cast<uint8_t>(value & 0xFF);
      report[2 + 2 * axis] = static_cast<uint8_t>(value >> 8);
    }
    [[maybe_unused]] const ssize_t written = ::write(writer, report, sizeof report);
    next.tv_nsec += periodNs;
    while (next.tv_nsec >= 1'000'000'000L) {
      next.tv_nsec -= 1'000'000'000L;
      ++next.tv_sec;
    }
    ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
  }
  Run run;
  run.wallSeconds = now() - started;
  run.cpuSeconds = seconds({usage.ru_utime.tv_sec, usage.ru_utime.tv_usec * 1000}) +
                   seconds({usage.ru_stime.tv_sec, usage.ru_stime.tv_usec * 1000});
  run.rows = linesOf(out) - 1;
  // Whatever tkb-cli did not read is dropped before the next run.
  uint8_t drain[4096];
  const int reader = ::open((root + "/dev/hidraw0").c_str(), O_RDONLY | O_NONBLOCK);
  while (::read(reader, drain, sizeof drain) > 0) {
  }
  ::close(reader);
  return run;
}

// A process that only wakes once per interval, for `length` seconds: its CPU share.
double wakeFloor(int intervalMs, int length) {
  const pid_t child = ::fork();
  if (child == 0) {
    timespec next{};
    ::clock_gettime(CLOCK_MONOTONIC, &next);
    for (int n = 0; n < length * 1000 / intervalMs; ++n) {
      next.tv_nsec += intervalMs * 1'000'000L;
      while (next.tv_nsec >= 1'000'000'000L) {
        next.tv_nsec -= 1'000'000'000L;
        ++next.tv_sec;
      }
      ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    ::_exit(0);
  }
  int status = 0;
  rusage usage{};
  const double started = now();
  ::wait4(child, &status, 0, &usage);
  const double cpu = seconds({usage.ru_utime.tv_sec, usage.ru_utime.tv_usec * 1000}) +
                     seconds({usage.ru_stime.tv_sec, usage.ru_stime.tv_usec * 1000});
  return cpu / (now() - started) * 100.0;
}

}  // namespace

int main(int argc, char** argv) {
  const int length = argc > 1 ? std::max(3, std::atoi(argv[1])) : 10;
  constexpr int kShort = 2;
  char pattern[] = "/tmp/tkb-bench-record-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return 2;
  const std::string root = pattern;
  std::filesystem::create_directories(root + "/sys/class/hidraw/hidraw0/device");
  std::filesystem::create_directories(root + "/dev");
  std::ofstream(root + "/sys/class/hidraw/hidraw0/device/uevent") << "HID_ID=0003:000016D0:00000F53\n";
  ::mkfifo((root + "/dev/hidraw0").c_str(), 0600);
  const int writer = ::open((root + "/dev/hidraw0").c_str(), O_RDWR | O_NONBLOCK);
  ::setenv("TKB_SYSFS_ROOT", (root + "/sys").c_str(), 1);
  ::setenv("TKB_DEV_ROOT", (root + "/dev").c_str(), 1);
  ::signal(SIGPIPE, SIG_IGN);

  // CPU shares on a shared machine wander from run to run: three of each, and their median.
  constexpr int kRepeats = 3;
  bool withinGoal = true;
  std::printf("tkb-cli record, %d s against %d s runs (the difference is the recording's own cost), %d times each\n",
              length, kShort, kRepeats);
  for (int rate : {1000, 250}) {
    double shares[kRepeats];
    long rows = 0;
    for (double& share : shares) {
      const Run brief = record(root, writer, rate, kShort);
      const Run full = record(root, writer, rate, length);
      share = (full.cpuSeconds - brief.cpuSeconds) / (full.wallSeconds - brief.wallSeconds) * 100.0;
      rows = full.rows;
    }
    std::sort(std::begin(shares), std::end(shares));
    std::printf("%4d reports/s: %ld rows in %d s; recording alone: %.3f / %.3f / %.3f %% of a core, median %.3f %%%s\n",
                rate, rows, length, shares[0], shares[1], shares[2], shares[kRepeats / 2],
                rate == 1000 ? " (goal: at most 0.5 %)" : "");
    if (rate == 1000) withinGoal = shares[kRepeats / 2] <= 0.5;
  }
  std::printf("for scale: a process that only wakes every %d ms: %.3f %% of a core\n",
              tkb::cli::kRecordReadIntervalMs, wakeFloor(tkb::cli::kRecordReadIntervalMs, length));
  ::close(writer);
  std::filesystem::remove_all(root);
  return withinGoal ? 0 : 1;
}
