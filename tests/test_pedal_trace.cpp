// The trace view's memory: 5 s of columns and the held brake application, over brake inputs
// written as runs of levels.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "monitor/pedal_trace.h"

using namespace tkb::monitor;

namespace {

// A brake input as (level, updates) runs; a ramp goes from the previous level to level.
struct Step {
  int level;
  int updates;
  bool ramp = false;
};

void feed(PedalTrace& trace, const std::vector<Step>& runs) {
  int previous = 0;
  for (const Step& run : runs) {
    for (int i = 1; i <= run.updates; ++i) {
      const int brake = run.ramp ? previous + (run.level - previous) * i / run.updates : run.level;
      trace.add(0, brake, 0);
    }
    previous = run.level;
  }
}

struct Held {
  std::size_t columns = 0;
  int peak = 0, first = 0, last = 0;
};

Held held(const PedalTrace& trace) {
  Held h;
  const auto& spans = trace.heldBrake();
  h.columns = spans.size();
  if (spans.empty()) return h;
  for (const TraceSpan& s : spans) h.peak = std::max<int>(h.peak, s.high);
  h.first = spans.front().low;
  h.last = spans.back().last;
  return h;
}

TEST(PedalTrace, HoldsTheLastBrakeApplicationFromItsRestToItsReturn) {
  struct Case {
    const char* what;
    std::vector<Step> input;
    Held expected;  // {columns, peak, first level, last level}; all 0: nothing held
  };
  // Each held application starts with the update before the brake left its rest.
  const Case cases[] = {
      // 1 + 29 updates up, 20 held, 30 down: 80 updates, 20 columns.
      {"press and release from 0", {{0, 50}, {80, 30, true}, {80, 20}, {0, 30, true}, {0, 50}},
       {20, 80, 2, 0}},
      {"a pedal resting at 5 %", {{5, 200}, {60, 20, true}, {5, 20, true}, {5, 50}}, {10, 60, 7, 5}},
      {"noise at rest is not an application", {{0, 20}, {4, 3}, {1, 5}, {3, 2}, {0, 10}}, {}},
      {"a short light touch is not held", {{0, 20}, {9, 5, true}, {0, 5, true}, {0, 10}}, {}},
      {"a release that never comes back is held at 5 s",
       {{0, 50}, {70, 20, true}, {6, 20, true}, {6, 600}}, {125, 70, 0, 6}},
      {"after a release that stuck, the next application counts from the new rest",
       {{0, 50}, {70, 20, true}, {6, 20, true}, {6, 1200}, {50, 10, true}, {6, 10, true}, {6, 20}},
       {6, 50, 6, 6}},
  };
  for (const Case& c : cases) {
    PedalTrace trace;
    feed(trace, c.input);
    const Held h = held(trace);
    EXPECT_EQ(h.columns, c.expected.columns) << c.what;
    EXPECT_EQ(h.peak, c.expected.peak) << c.what;
    EXPECT_EQ(h.first, c.expected.first) << c.what;
    EXPECT_EQ(h.last, c.expected.last) << c.what;
  }
}

TEST(PedalTrace, ALightTouchKeepsTheApplicationHeldBefore) {
  PedalTrace trace;
  feed(trace, {{0, 10}, {90, 10, true}, {0, 10, true}, {0, 10}});
  const Held before = held(trace);
  ASSERT_EQ(before.peak, 90);
  feed(trace, {{6, 4, true}, {0, 4, true}, {0, 10}});
  EXPECT_EQ(held(trace).peak, 90);
  EXPECT_EQ(held(trace).columns, before.columns);
}

TEST(PedalTrace, KeepsFiveSecondsInColumnsOfFourUpdates) {
  PedalTrace trace;
  for (int i = 0; i < 602; ++i) trace.add(i % 101, 150, -3);  // 150 and -3: the ends
  ASSERT_EQ(trace.columnCount(), 125);
  // 602 updates make 151 columns, the newest holding 2; the oldest kept holds updates 104..107.
  const TraceSpan oldest = trace.column(0)[TracePedal::Throttle];
  EXPECT_EQ(oldest.low, 3);
  EXPECT_EQ(oldest.high, 6);
  EXPECT_EQ(oldest.last, 6);
  const TraceSpan newest = trace.column(124)[TracePedal::Throttle];
  EXPECT_EQ(newest.low, 95);
  EXPECT_EQ(newest.last, 96);
  EXPECT_EQ(trace.column(124)[TracePedal::Brake].high, 100);
  EXPECT_EQ(trace.column(124)[TracePedal::Clutch].low, 0);
}

}  // namespace
