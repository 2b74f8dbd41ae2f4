// The trace views' building blocks: brake applications captured from recorded brake inputs
// (tests/data/pedal_traces), the pinned reference as a config.ini value, the pedal ring.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/brake_capture.h"
#include "app/pedal_trace.h"
#include "pedal_traces.h"

namespace tkb {
namespace {

struct Captured {
  std::vector<BrakeFigures> kept;  // of every application kept, in order
  BrakeApplication last;
  BrakeCapture capture;
};

void feed(Captured& c, const std::vector<test::TraceRow>& rows, int lowerZone) {
  for (const test::TraceRow& row : rows) {
    if (c.capture.add(static_cast<int64_t>(row.timeMs), row.brakePercent, lowerZone)) {
      c.kept.push_back(c.capture.last().figures);
      c.last = c.capture.last();
    }
  }
}

TEST(BrakeCapture, CapturesEachApplicationOfARecording) {
  struct Case {
    const char* file;
    int lowerZone;
    std::vector<BrakeFigures> kept;  // peak, time to peak, held at >= 90 %, release
    bool openAtTheEnd;
  };
  const Case cases[] = {
      // From the first sample above the zone to the first one back at it; the zone's own
      // value is rest on both sides.
      {"brake-starts-and-ends-exactly-at-its-dead-zone.csv", 5, {{80, 70, 510, 50}}, false},
      // The release settles at 4 %, above the 2 % zone, and ends where it settled; the next
      // press starts from there.
      {"brake-release-settles-above-its-dead-zone.csv", 2, {{70, 30, 310, 40}, {50, 10, 10, 20}}, false},
      {"brake-held-to-the-end-of-the-recording.csv", 0, {{40, 10, 10, 20}}, true},
      // Noise up to 4.6 % around a 3 % zone is not an application; the press after it is.
      {"brake-noise-around-its-dead-zone-then-one-press.csv", 3, {{60, 10, 10, 20}}, false},
      // Held time counts from 90 % of each application's own peak, full travel or not.
      {"brake-full-press-then-one-short-of-full.csv", 0, {{100, 10, 200, 20}, {63, 20, 310, 20}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Captured got;
    feed(got, test::readTrace(c.file), c.lowerZone);
    ASSERT_EQ(got.kept.size(), c.kept.size());
    for (std::size_t i = 0; i < c.kept.size(); ++i) {
      EXPECT_FLOAT_EQ(got.kept[i].peakPercent, c.kept[i].peakPercent) << i;
      EXPECT_EQ(got.kept[i].timeToPeakMs, c.kept[i].timeToPeakMs) << i;
      EXPECT_EQ(got.kept[i].heldMs, c.kept[i].heldMs) << i;
      EXPECT_EQ(got.kept[i].releaseMs, c.kept[i].releaseMs) << i;
    }
    EXPECT_EQ(got.capture.applying(), c.openAtTheEnd);
    EXPECT_EQ(got.capture.kept(), static_cast<long>(c.kept.size()));
  }
}

// What a view draws: the held application from its foot at rest to its return, and the one
// under way with its figures so far.
TEST(BrakeCapture, KeepsTheSamplesFromRestToReturnAndShowsTheOpenOne) {
  Captured exact;
  feed(exact, test::readTrace("brake-starts-and-ends-exactly-at-its-dead-zone.csv"), 5);
  const auto& samples = exact.last.samples;
  ASSERT_EQ(samples.size(), 64u);
  EXPECT_EQ(samples.front(), (BrakeSample{-10, 5.0f}));
  EXPECT_EQ(samples[1], (BrakeSample{0, 10.0f}));
  EXPECT_EQ(samples.back(), (BrakeSample{620, 5.0f}));
  EXPECT_FALSE(exact.last.open);

  Captured held;
  feed(held, test::readTrace("brake-held-to-the-end-of-the-recording.csv"), 0);
  const BrakeApplication& open = held.capture.current();
  EXPECT_TRUE(open.open);
  EXPECT_FLOAT_EQ(open.figures.peakPercent, 60);
  EXPECT_EQ(open.figures.timeToPeakMs, 10);
  EXPECT_EQ(open.figures.releaseMs, -1);
  EXPECT_EQ(open.samples.back().ms, 2000);
  EXPECT_FLOAT_EQ(held.capture.last().figures.peakPercent, 40);  // the held one stays
}

// The brake held in the pits for longer than an application is kept does not fill memory
// nor replace the held application; the capture goes on once the brake is back.
TEST(BrakeCapture, DropsAnApplicationLongerThanItKeeps) {
  BrakeCapture capture;
  int64_t t = 0;
  auto press = [&](float percent, int samples) {
    for (int i = 0; i < samples; ++i) capture.add(t += 10, percent, 0);
  };
  press(0, 5);
  press(40, 5);
  press(0, 5);
  ASSERT_EQ(capture.kept(), 1);
  press(50, kApplicationMaxSamples + 100);
  EXPECT_FALSE(capture.applying());
  EXPECT_LE(capture.current().samples.capacity(), static_cast<std::size_t>(kApplicationMaxSamples));
  press(0, 5);
  EXPECT_EQ(capture.kept(), 1);
  EXPECT_FLOAT_EQ(capture.last().figures.peakPercent, 40);
  press(70, 5);
  press(0, 5);
  EXPECT_EQ(capture.kept(), 2);
  EXPECT_FLOAT_EQ(capture.last().figures.peakPercent, 70);
}

TEST(BrakeReference, SurvivesConfigIniAndKeepsItsFigures) {
  Captured c;
  feed(c, test::readTrace("brake-release-settles-above-its-dead-zone.csv"), 2);
  const std::string text = encodeBrakeReference(c.last);
  EXPECT_EQ(text.find_first_of(";#=\r\n "), std::string::npos) << text;
  const auto back = decodeBrakeReference(text);
  ASSERT_TRUE(back.has_value()) << text;
  EXPECT_EQ(back->figures, c.last.figures);
  EXPECT_EQ(back->samples, c.last.samples);  // 10 ms apart, tenths of a percent: as captured

  // A long one is kept at a coarser step, bounded, with its figures as measured.
  BrakeApplication slow;
  for (int i = 0; i < 2500; ++i) slow.samples.push_back({i * 10, 50.0f + static_cast<float>(i % 7)});
  slow.samples.push_back({25'000, 0});
  slow.figures = brakeFigures(slow.samples, true);
  const std::string slowText = encodeBrakeReference(slow);
  ASSERT_LE(slowText.size(), kBrakeReferenceMaxChars);
  const auto slowBack = decodeBrakeReference(slowText);
  ASSERT_TRUE(slowBack.has_value());
  EXPECT_LE(slowBack->samples.size(), static_cast<std::size_t>(kBrakeReferenceMaxPoints));
  EXPECT_NEAR(slowBack->samples.back().ms, 25'000, 25'000 / (kBrakeReferenceMaxPoints - 1) + 1);  // one step
  EXPECT_EQ(slowBack->figures, slow.figures);

  BrakeApplication open = c.last;
  open.open = true;
  EXPECT_EQ(encodeBrakeReference(open), "");
  EXPECT_EQ(encodeBrakeReference({}), "");
}

TEST(BrakeReference, ADamagedValueGivesNoReference) {
  // First point 10 ms before leaving the zone, 10 ms apart, peak 70.0 %, 10 ms to the peak,
  // 10 ms held, released in 20 ms.
  const std::string good = "1,-10,10,700,10,10,20,5,200,700,40";
  ASSERT_TRUE(decodeBrakeReference(good).has_value());
  const std::pair<const char*, std::string> damaged[] = {
      {"empty", ""},
      {"another format", "2,-10,10,700,10,10,20,5,200,700,40"},
      {"cut before the points", "1,-10,10,700,10,10,20"},
      {"one point only", "1,-10,10,700,10,10,20,5"},
      {"trailing comma", good + ","},
      {"a letter", "1,-10,10,700,10,10,20,5,2x0,700,40"},
      {"a blank", "1,-10,10,700,10,10,20,5, 200,700,40"},
      {"percent above 100", "1,-10,10,1001,10,10,20,5,200,1001,40"},
      {"point above the peak", "1,-10,10,600,10,10,20,5,200,700,40"},
      {"negative point", "1,-10,10,700,10,10,20,-5,200,700,40"},
      {"step of 0", "1,-10,0,700,10,10,20,5,200,700,40"},
      {"open (no release)", "1,-10,10,700,10,10,-1,5,200,700,40"},
      {"held longer than the application", "1,-10,10,700,10,999,20,5,200,700,40"},
      {"number past int", "1,-10,10,700,10,10,20,5,99999999999,700,40"},
      {"longer than any of ours", "1,0,10,500,0,0,0" + std::string(kBrakeReferenceMaxChars, '0')},
  };
  for (const auto& [what, text] : damaged) EXPECT_FALSE(decodeBrakeReference(text).has_value()) << what;
}

TEST(PedalTraceRing, KeepsTheLastSecondsWithoutGrowing) {
  PedalTraceRing trace(1, 10);
  ASSERT_EQ(trace.capacity(), 101u);
  const PedalTracePoint* room = &trace.at(0);
  for (int i = 0; i < 250; ++i) trace.append({i * 10, {float(i), 0, 0}, {0, 0, float(i)}});
  EXPECT_GE(&trace.at(0), room);  // the same room, never grown
  EXPECT_LT(&trace.at(0), room + trace.capacity());
  ASSERT_EQ(trace.size(), 101u);
  EXPECT_EQ(trace.at(0).timeMs, 1490);
  EXPECT_EQ(trace.newest().timeMs, 2490);
  EXPECT_EQ(trace.newest().output[2], 249.0f);
  // The last half second starts at 1990: index 50 of the kept points.
  EXPECT_EQ(trace.firstAtOrAfter(trace.newest().timeMs - 500), 50u);
  EXPECT_EQ(trace.firstAtOrAfter(0), 0u);
  EXPECT_EQ(trace.firstAtOrAfter(9999), trace.size());
  trace.clear();
  EXPECT_TRUE(trace.empty());
}

}  // namespace
}  // namespace tkb
