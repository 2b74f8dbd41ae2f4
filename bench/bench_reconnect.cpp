// Unplug and replug figures against the emulated pedals on a real pseudo-terminal: the time
// from the port's reappearance to the first accepted reply (median of 10), the CPU share of
// the search while the pedals are away, and the longest a driver action waits on a
// controller that has gone quiet.
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/reconnect.h"
#include "emulator/pedal_emulator.h"
#include "link/probe.h"
#include "link/trace.h"

namespace {

using WallClock = std::chrono::steady_clock;

double ms(WallClock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double cpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

bool waitUntil(const std::function<bool()>& done, int limitMs) {
  const auto end = WallClock::now() + std::chrono::milliseconds(limitMs);
  while (!done()) {
    if (WallClock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace

int main() {
  using namespace tkb;
  char pattern[] = "/tmp/tkb-bench-reconnect-XXXXXX";
  const std::string dir = ::mkdtemp(pattern);
  ::setenv("TKB_SERIAL_PREFIX", (dir + "/ttyACM").c_str(), 1);
  std::FILE* sink = std::fopen("/dev/null", "w");
  setTraceSink(sink);

  emu::PedalEmulator pedals;
  if (!pedals.start(dir + "/ttyACM3")) return 1;
  Controller controller;
  if (probeController(controller) != 1) return 1;

  // Replug: the port comes back (alternately under another name), the search finds it, and
  // the first query of the start-up reads is answered.
  std::vector<double> found, firstReply;
  for (int run = 0; run < 10; ++run) {
    pedals.unplug();
    if (!waitUntil([&] { return !controller.checkLink(); }, 1000)) return 2;
    controller.closeLink();
    std::atomic<bool> back{false};
    Reconnector search;
    search.start(controller, {}, [&](int) { back = true; });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const auto plugged = WallClock::now();
    pedals.plugIn(dir + (run % 2 == 0 ? "/ttyACM5" : "/ttyACM3"));
    if (!waitUntil([&] { return back.load(); }, 10000)) return 3;
    found.push_back(ms(WallClock::now() - plugged));
    search.stop();
    controller.setLinkState(LinkState::Connected);
    controller.beginAction();
    if (!controller.query(Query::StartReadings)) return 4;
    firstReply.push_back(ms(WallClock::now() - plugged));
  }
  std::sort(found.begin(), found.end());
  std::sort(firstReply.begin(), firstReply.end());
  std::printf("replug -> probe answered            median %7.1f ms  worst %7.1f ms  (10 runs)\n",
              found[found.size() / 2], found.back());
  std::printf("replug -> first start-up read taken median %7.1f ms  worst %7.1f ms  (10 runs)\n",
              firstReply[firstReply.size() / 2], firstReply.back());

  // Waiting for a replug: the whole process (search and the idle emulator) over 5 s.
  pedals.unplug();
  waitUntil([&] { return !controller.checkLink(); }, 1000);
  controller.closeLink();
  {
    Reconnector search;
    search.start(controller, {}, [](int) {});
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const double cpu0 = cpuSeconds();
    const auto t0 = WallClock::now();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const double share = (cpuSeconds() - cpu0) / std::chrono::duration<double>(WallClock::now() - t0).count();
    std::printf("CPU while waiting for the replug     %.3f %% of one core (%d passes in 5 s)\n", share * 100,
                search.passes());
  }

  // A quiet controller: each driver action asks its queries; the first without an answer
  // ends it.
  pedals.plugIn(dir + "/ttyACM3");
  if (probeController(controller) != 1) return 5;
  emu::Faults quiet;
  quiet.silent = true;
  pedals.setFaults(quiet);
  struct Action {
    const char* what;
    std::vector<Query> queries;
  };
  const Action actions[] = {
      {"PRO page opened (zones)", {Query::ClutchZones, Query::BrakeZones, Query::ThrottleZones}},
      {"CUSTOM page closed (curves)", {Query::ClutchCurve, Query::BrakeCurve, Query::ThrottleCurve}},
      {"calibration saved (0x6A first)",
       {Query::CalibrationReadings, Query::BrakeMaxAfterCalibration, Query::ClutchZones}},
      {"key letters", {Query::LetterMas, Query::LetterMas2, Query::LetterMenos, Query::LetterMenos2}},
  };
  double worst = 0;
  for (const Action& a : actions) {
    std::this_thread::sleep_for(std::chrono::milliseconds(350));  // a new action
    controller.beginAction();
    const auto t0 = WallClock::now();
    for (Query q : a.queries) controller.ask(q);
    const double took = ms(WallClock::now() - t0);
    worst = std::max(worst, took);
    std::printf("quiet controller: %-32s %7.1f ms\n", a.what, took);
  }
  std::printf("worst click-to-response, quiet controller %7.1f ms\n", worst);

  pedals.stop();
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return 0;
}
