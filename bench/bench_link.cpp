// Link figures against the emulated controller: how long the probe takes to find a
// controller on COM7 past 255 absent names, how long loadData takes, and how much CPU the
// endless probe uses per second while no controller is plugged in, and the worst time one
// action (a click's queries, the whole start-up read) takes when the controller has fallen
// silent after the probe.
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

#include "app/startup_reads.h"
#include "emulator/pedal_emulator.h"
#include "link/probe.h"
#include "link/trace.h"

namespace {

using WallClock = std::chrono::steady_clock;

double ms(WallClock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double cpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void printStats(const char* what, std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  std::printf("%-40s median %8.2f ms   worst %8.2f ms   (%zu runs)\n", what,
              samples[samples.size() / 2], samples.back(), samples.size());
}

}  // namespace

int main() {
  char pattern[] = "/tmp/tkb-bench-XXXXXX";
  const std::string dir = ::mkdtemp(pattern);
  ::setenv("TKB_SERIAL_PREFIX", (dir + "/ttyACM").c_str(), 1);
  tkb::setTraceEnabled(false);

  tkb::emu::PedalEmulator emulator;
  if (!emulator.start(dir + "/ttyACM7")) return 1;

  std::vector<double> probe, load;
  for (int run = 0; run < 20; ++run) {
    tkb::Controller controller;
    const auto t0 = WallClock::now();
    tkb::ProbeOptions options;
    options.maxPasses = 1;
    const int result = tkb::probeController(controller, options);
    const auto t1 = WallClock::now();
    if (result != 1) {
      std::fprintf(stderr, "probe failed: %d\n", result);
      return 1;
    }
    tkb::loadData(controller, nullptr);
    const auto t2 = WallClock::now();
    probe.push_back(ms(t1 - t0));
    load.push_back(ms(t2 - t1));
  }
  printStats("probe, controller on COM7:", probe);
  printStats("loadData (22 queries):", load);

  // Silent after the probe: the first query of an action waits one time-out and the rest of
  // the action is skipped; a second action at once also drains what a late reply may bring.
  std::vector<double> firstAction, nextAction;
  for (int run = 0; run < 5; ++run) {
    tkb::emu::Faults faults;
    emulator.setFaults(faults);
    tkb::Controller controller;
    tkb::ProbeOptions options;
    options.maxPasses = 1;
    if (tkb::probeController(controller, options) != 1) return 1;
    faults.silent = true;
    emulator.setFaults(faults);
    const auto t0 = WallClock::now();
    tkb::readControllerAtStartup(controller, nullptr);
    const auto t1 = WallClock::now();
    controller.beginAction();
    for (tkb::Query q : {tkb::Query::ClutchZones, tkb::Query::BrakeZones, tkb::Query::ThrottleZones})
      controller.query(q);
    const auto t2 = WallClock::now();
    firstAction.push_back(ms(t1 - t0));
    nextAction.push_back(ms(t2 - t1));
  }
  printStats("silent: start-up reads (one action):", firstAction);
  printStats("silent: next action (three queries):", nextAction);
  emulator.setFaults({});
  emulator.stop();

  // No controller: the probe passes over 256 absent names, pauses, and starts again. Its
  // trace lines are printed as in the program (into /dev/null here).
  tkb::setTraceEnabled(true);
  tkb::setTraceSink(std::fopen("/dev/null", "w"));
  std::atomic<bool> stop{false};
  const double cpu0 = cpuSeconds();
  const auto t0 = WallClock::now();
  std::thread search([&] {
    tkb::Controller controller;
    tkb::ProbeOptions options;
    options.stop = &stop;
    tkb::probeController(controller, options);
  });
  std::this_thread::sleep_for(std::chrono::seconds(10));
  stop = true;
  search.join();
  const double wall = std::chrono::duration<double>(WallClock::now() - t0).count();
  const double cpu = cpuSeconds() - cpu0;
  std::printf("%-40s %.2f ms CPU per second (%.3f %% of one core)\n",
              "probing with no controller:", cpu / wall * 1000, cpu / wall * 100);
  std::filesystem::remove_all(dir);
  return 0;
}
