// The settings table row by row: every one-value row keeps what setSetting stores within its
// range and refuses the rest, every row with a sender writes its own frame, and the pedal
// lookups find the row of that pedal and role.
#include <gtest/gtest.h>

#include "link/protocol.h"
#include "link/settings.h"
#include "memory_fixture.h"
#include "test_support.h"

namespace tkb {
namespace {

using test::MemoryController;
using test::hex;

TEST(SettingsTable, EveryValueRowStoresItsRangeAndRefusesOutside) {
  for (const Setting& row : settingsTable()) {
    if (row.curve) continue;
    SCOPED_TRACE(row.name);
    ControllerState s;
    EXPECT_FALSE(setSetting(s, row.field, row.min - 1));
    EXPECT_FALSE(setSetting(s, row.field, row.max + 1));
    EXPECT_FALSE(s.isKnown(row.field)) << "a refused value left the field known";
    for (int v : {row.min, row.max}) {
      ASSERT_TRUE(setSetting(s, row.field, v));
      EXPECT_EQ(settingValue(s, row.field), v);
      EXPECT_TRUE(s.isKnown(row.field));
    }
  }
}

TEST(SettingsTable, PedalLookupsFindTheirOwnRow) {
  const struct {
    Pedal pedal;
    Field upper, lower, curve;
    const char* section;
  } pedals[] = {
      {Pedal::Clutch, Field::ClutchUpper, Field::ClutchLower, Field::ClutchCurve, "CLUTCH"},
      {Pedal::Brake, Field::BrakeUpper, Field::BrakeLower, Field::BrakeCurve, "BRAKE"},
      {Pedal::Throttle, Field::ThrottleUpper, Field::ThrottleLower, Field::ThrottleCurve, "ACCELERATOR"},
  };
  for (const auto& p : pedals) {
    SCOPED_TRACE(pedalIndex(p.pedal));
    EXPECT_EQ(zoneSetting(p.pedal, true).field, p.upper);
    EXPECT_EQ(zoneSetting(p.pedal, false).field, p.lower);
    EXPECT_EQ(curveSetting(p.pedal).field, p.curve);
    EXPECT_STREQ(zoneSetting(p.pedal, true).section, p.section);
    EXPECT_STREQ(zoneSetting(p.pedal, true).key, "UPPER DEAD ZONE");
    EXPECT_STREQ(zoneSetting(p.pedal, false).key, "LOWER DEAD ZONE");
    ControllerState s;
    setSetting(s, p.upper, 91);
    setSetting(s, p.lower, 7);
    EXPECT_EQ(zoneValue(s, p.pedal, true), 91);
    EXPECT_EQ(zoneValue(s, p.pedal, false), 7);
  }
}

TEST(SettingsTable, TheBrakeStopOfAHundredIsInactive) {
  ControllerState s;
  for (const auto& [stop, active] : {std::pair{kBrakeStopInactive, 0}, {99, 1}, {0, 1}}) {
    ASSERT_TRUE(setSetting(s, Field::Cheto, stop));
    EXPECT_EQ(s.chetoActive, active) << stop;
    EXPECT_TRUE(s.isKnown(Field::ChetoActive));
  }
}

// Each one-value sender writes its code and the state's value, nothing else.
TEST(SettingsTable, EverySenderWritesItsOwnFrame) {
  MemoryController link;
  ASSERT_TRUE(link.connect());
  const struct {
    Field field;
    int value;
    std::vector<Bytes> frames;
  } rows[] = {
      {Field::ClutchUpper, 90, {encodeValueFrame(value::kZonaSuperiorEmbrague, 90)}},
      {Field::ClutchLower, 4, {encodeValueFrame(value::kZonaInferiorEmbrague, 4)}},
      {Field::BrakeUpper, 80, {encodeValueFrame(value::kZonaSuperiorFreno, 80)}},
      {Field::BrakeLower, 3, {encodeValueFrame(value::kZonaInferiorFreno, 3)}},
      {Field::ThrottleUpper, 70, {encodeValueFrame(value::kZonaSuperiorAcelerador, 70)}},
      {Field::ThrottleLower, 2, {encodeValueFrame(value::kZonaInferiorAcelerador, 2)}},
      {Field::Cheto, 65, {encodeValueFrame(value::kCheto, 65), encodeValueFrame(value::kChetoActivo, 1)}},
      {Field::LetterMas2, 5, {encodeValueFrame(value::kLetraMas2, 5)}},
      {Field::SportProfileActive, 1, {encodeValueFrame(value::kConfigSportActivado, 1)}},
  };
  std::vector<Bytes> expected;
  for (const auto& r : rows) {
    ASSERT_TRUE(setSetting(link.controller.state, r.field, r.value));
    findSetting(r.field)->send(link.controller);
    expected.insert(expected.end(), r.frames.begin(), r.frames.end());
  }
  EXPECT_EQ(link.frames(), expected) << hex(link.frames());
}

}  // namespace
}  // namespace tkb
