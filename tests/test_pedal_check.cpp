// The pedal check over recorded pedal inputs (tests/data/pedal_traces/check-*): rest bands,
// report timing, reachable tops, and the dead zones it suggests with their reasons.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "app/pedal_check.h"
#include "app/suggested_zones.h"
#include "pedal_traces.h"

namespace tkb {
namespace {

PedalCheck run(const std::string& file, bool hasClutch) {
  const auto rows = test::readTrace(file);
  PedalCheck check(0, hasClutch);
  for (const test::TraceRow& row : rows) check.add(static_cast<int64_t>(row.timeMs * 1000), row.axes);
  return check;
}

bool says(const std::vector<std::string>& reasons, const std::string& text) {
  return std::find(reasons.begin(), reasons.end(), text) != reasons.end();
}

TEST(PedalCheck, SuggestsDeadZonesFromRestAndReach) {
  using Zones = std::vector<std::pair<Field, int>>;
  struct Case {
    const char* file;
    bool hasClutch;
    bool doneByItself;  // every pedal pressed and let go before the recording ends
    Zones zones;
    std::vector<std::string> reasons;  // among what it says
  };
  const Case cases[] = {
      {"check-three-pedals-throttle-noisy-at-rest.csv", true, true,
       {{Field::ClutchLower, 1}, {Field::ClutchUpper, 100}, {Field::BrakeLower, 2}, {Field::ThrottleLower, 3},
        {Field::ThrottleUpper, 96}},
       {"throttle rests between 0.4 and 2.1 %: a lower dead zone of 3 % keeps the game at 0",
        "throttle reaches 97.8 %: an upper dead zone of 96 % gives the game 100 at full travel",
        "clutch reaches 100.0 %: an upper dead zone of 100 % gives the game 100 at full travel",
        // The brake limit is the driver's choice: said, never sent.
        "brake reaches 87.3 % of its force: its upper dead zone is the brake limit you chose (MAX BRAKE PRESS), "
        "left as it is; at 85 % or less a full press gives the game 100"}},
      // A foot on the brake during the rest: no lower zone for it. The clutch axis of a
      // two-pedal set stands still at 50 %.
      {"check-two-pedals-foot-on-the-brake-at-rest.csv", false, true,
       {{Field::ThrottleLower, 1}, {Field::ThrottleUpper, 83}},
       {"brake moved while it should rest (0.5 to 30.0 %): no lower dead zone suggested; check again with your "
        "feet off",
        "throttle reaches 85.3 %: an upper dead zone of 83 % gives the game 100 at full travel"}},
      // Told of a clutch, the check waits for it in vain and says nothing of its zones.
      {"check-two-pedals-foot-on-the-brake-at-rest.csv", true, false,
       {{Field::ThrottleLower, 1}, {Field::ThrottleUpper, 83}},
       {"clutch was not pressed (or there is none): its dead zones are left as they are"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + (c.hasClutch ? " with a clutch" : " without a clutch"));
    PedalCheck check = run(c.file, c.hasClutch);
    EXPECT_EQ(check.phase() == PedalCheck::Phase::Done, c.doneByItself);
    check.finishPress();
    const PedalCheckResult r = check.result();
    EXPECT_EQ(r.zones(), c.zones);
    const auto reasons = r.reasons();
    for (const std::string& reason : c.reasons) {
      EXPECT_TRUE(says(reasons, reason)) << reason << "\n  said:\n" << ::testing::PrintToString(reasons);
    }
    EXPECT_EQ(says(reasons, "clutch was not pressed (or there is none): its dead zones are left as they are"),
              c.hasClutch && !c.doneByItself);
    // Reports 20 ms apart with one gap of 60 ms during the rest.
    EXPECT_NEAR(r.timing.perSecond, 49.6, 0.2);
    EXPECT_NEAR(r.timing.longestGapMs, 60.0, 0.01);
    EXPECT_GT(r.timing.jitterMs, 1.0);
    EXPECT_LT(r.timing.jitterMs, 4.0);
  }
}

TEST(PedalCheck, PhasesFollowTheClockEvenWithoutReports) {
  PedalCheck silent(1'000'000);
  EXPECT_EQ(silent.advance(1'000'000 + kCheckRestUs - 1), PedalCheck::Phase::Rest);
  EXPECT_EQ(silent.advance(1'000'000 + kCheckRestUs), PedalCheck::Phase::Done);
  EXPECT_FALSE(silent.heardReports());
  EXPECT_TRUE(silent.result().zones().empty());
  EXPECT_TRUE(silent.result().reasons().empty());

  PedalCheck waiting(0);
  waiting.add(0, {-32767, -32767, -32767, -32767});
  EXPECT_EQ(waiting.advance(kCheckRestUs), PedalCheck::Phase::Press);
  EXPECT_EQ(waiting.phaseEndsUs(), kCheckRestUs + kCheckPressUs);
  EXPECT_EQ(waiting.advance(kCheckRestUs + kCheckPressUs), PedalCheck::Phase::Done);
  // Nothing pressed: only the rest is judged.
  const PedalCheckResult r = waiting.result();
  EXPECT_EQ(r.zones(), (std::vector<std::pair<Field, int>>{{Field::BrakeLower, 1}, {Field::ThrottleLower, 1}}));
  EXPECT_TRUE(says(r.reasons(), "throttle was not pressed: its upper dead zone is left as it is"));
}

}  // namespace
}  // namespace tkb

namespace tkb {
namespace {

// What APPLY may send of the suggestions, as the pedals stand.
TEST(PedalCheck, SuggestedZonesSentOnlyWhereThePedalKeepsItsBand) {
  using Zones = std::vector<std::pair<Field, int>>;
  ControllerState state;
  state.clutchUpper = 100;
  state.throttleUpper = 50;
  state.brakeUpper = 0;  // the brake's upper zone is its limit: another unit, not compared
  struct Case {
    const char* what;
    Zones zones;
    Zones sent;
    std::vector<Pedal> refused;
  } cases[] = {
      {"lower and upper together", {{Field::ThrottleLower, 3}, {Field::ThrottleUpper, 97}},
       {{Field::ThrottleLower, 3}, {Field::ThrottleUpper, 97}}, {}},
      {"lower above the upper held", {{Field::ThrottleLower, 60}}, {}, {Pedal::Throttle}},
      {"lower at the upper suggested", {{Field::ClutchLower, 40}, {Field::ClutchUpper, 40}}, {}, {Pedal::Clutch}},
      {"brake lower", {{Field::BrakeLower, 2}}, {{Field::BrakeLower, 2}}, {}},
      {"brake limit never", {{Field::BrakeLower, 2}, {Field::BrakeUpper, 80}}, {}, {Pedal::Brake}},
      {"out of range", {{Field::ClutchLower, 101}, {Field::ThrottleLower, 3}}, {{Field::ThrottleLower, 3}},
       {Pedal::Clutch}},
      {"not a dead zone", {{Field::BrakeMax, 50}, {Field::ThrottleLower, 3}}, {{Field::ThrottleLower, 3}}, {}},
  };
  for (const Case& c : cases) {
    const ZonePlan plan = planSuggestedZones(state, c.zones);
    EXPECT_EQ(plan.send, c.sent) << c.what;
    EXPECT_EQ(plan.refused, c.refused) << c.what;
  }
}

}  // namespace
}  // namespace tkb
