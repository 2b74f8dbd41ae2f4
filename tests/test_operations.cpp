// The device procedures against the emulated firmware through the in-memory transport: what
// each one sends and keeps, and the pure step rules of the dead-zone and brake-stop buttons.
#include <gtest/gtest.h>

#include "app/operations.h"
#include "link/protocol.h"
#include "memory_fixture.h"
#include "test_support.h"

namespace tkb {
namespace {

using test::MemoryController;
using test::hex;

Bytes value(uint8_t code, int v) { return encodeValueFrame(code, v); }

TEST(ZoneStepRules, AllowOnlyStepsThatKeepTheZonesInOrder) {
  struct Row {
    const char* what;
    Pedal pedal;
    bool upper, plus;
    int upperValue, lowerValue, brakeMax;
    bool allowed;
  };
  const Row rows[] = {
      {"clutch upper - at 40/40", Pedal::Clutch, true, false, 40, 40, 90, false},
      {"clutch lower + at 40/40", Pedal::Clutch, false, true, 40, 40, 90, false},
      {"clutch upper - at 41/40", Pedal::Clutch, true, false, 41, 40, 90, true},
      {"throttle lower + at 41/40", Pedal::Throttle, false, true, 41, 40, 90, true},
      {"upper + at 100", Pedal::Throttle, true, true, 100, 0, 90, false},
      {"upper + at 99", Pedal::Clutch, true, true, 99, 0, 90, true},
      {"brake upper + at 100", Pedal::Brake, true, true, 100, 0, 90, false},
      {"lower - at 0", Pedal::Throttle, false, false, 50, 0, 90, false},
      {"brake lower - at 0", Pedal::Brake, false, false, 50, 0, 90, false},
      {"lower - at 1", Pedal::Clutch, false, false, 50, 1, 90, true},
      // brakeMax 90: the plain comparison.
      {"brake lower + at 40/39", Pedal::Brake, false, true, 40, 39, 90, true},
      {"brake lower + at 40/40", Pedal::Brake, false, true, 40, 40, 90, false},
      {"brake upper - at 40/40", Pedal::Brake, true, false, 40, 40, 90, false},
      {"brake upper - at 41/40", Pedal::Brake, true, false, 41, 40, 90, true},
      // brakeMax 190: integer halves.
      {"brake lower + stops at equal halves", Pedal::Brake, false, true, 41, 40, 190, false},
      {"brake lower + below the halves", Pedal::Brake, false, true, 42, 40, 190, true},
      {"brake upper - against the halved lower", Pedal::Brake, true, false, 21, 40, 190, true},
      {"brake upper - at the halved lower", Pedal::Brake, true, false, 20, 40, 190, false},
      // A brake limit of -10 leaves no divisor: the plain comparison, no crash.
      {"brake lower + without divisor", Pedal::Brake, false, true, 40, 39, -10, true},
      {"brake upper - without divisor", Pedal::Brake, true, false, 40, 40, -10, false},
  };
  for (const Row& r : rows)
    EXPECT_EQ(zoneStepAllowed(r.pedal, r.upper, r.plus, r.upperValue, r.lowerValue, r.brakeMax), r.allowed)
        << r.what;
}

TEST(ZoneStepRules, CustomStepsKeepTheLowerZoneAtMostTheUpper) {
  const struct {
    bool upper;
    int delta, upperValue, lowerValue;
    std::optional<int> next;
  } rows[] = {
      {true, +1, 99, 0, 100}, {true, +1, 100, 0, std::nullopt}, {true, -1, 41, 40, 40},
      {true, -1, 40, 40, std::nullopt}, {false, +1, 41, 40, 41}, {false, +1, 40, 40, std::nullopt},
      {false, -1, 50, 1, 0}, {false, -1, 50, 0, std::nullopt},
  };
  for (const auto& r : rows)
    EXPECT_EQ(customZoneStep(r.upper, r.delta, r.upperValue, r.lowerValue), r.next)
        << r.upper << " " << r.delta << " at " << r.upperValue << "/" << r.lowerValue;
  EXPECT_EQ(brakeStopStep(100, +1), 100);
  EXPECT_EQ(brakeStopStep(0, -1), 0);
  EXPECT_EQ(brakeStopStep(64, +1), 65);
}

class OperationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(link.connect());
    state().known = FieldSet::all();  // as after start-up reads that all got their reply
    state().cheto = 70;
    for (int i = 0; i < kCurvePoints; ++i) state().brakeCurve[i] = i * i;
  }
  ControllerState& state() { return link.controller.state; }
  void expectFrames(const std::vector<Bytes>& expected) {
    EXPECT_EQ(link.frames(), expected) << hex(link.frames());
  }

  MemoryController link;
  Operations ops{link.controller};
};

TEST_F(OperationsTest, EachZoneGoesOutWithItsOwnCode) {
  const uint8_t codes[kPedalCount][2] = {{value::kZonaSuperiorEmbrague, value::kZonaInferiorEmbrague},
                                         {value::kZonaSuperiorFreno, value::kZonaInferiorFreno},
                                         {value::kZonaSuperiorAcelerador, value::kZonaInferiorAcelerador}};
  std::vector<Bytes> expected;
  int v = 60;
  for (Pedal pedal : kPedals) {
    for (bool upper : {true, false}) {
      EXPECT_TRUE(ops.setZone(ZonePage::Pro, pedal, upper, ++v));
      EXPECT_EQ(zoneValue(state(), pedal, upper), v);
      expected.push_back(value(codes[pedalIndex(pedal)][upper ? 0 : 1], v));
    }
  }
  EXPECT_FALSE(ops.setZone(ZonePage::Pro, Pedal::Brake, true, 101)) << "out of range";
  expectFrames(expected);
}

TEST_F(OperationsTest, CustomZonesAndBrakeStopGoOutOnlyInCustomMode) {
  state().sportProfileActive = false;
  EXPECT_FALSE(ops.setZone(ZonePage::Custom, Pedal::Throttle, false, 9));
  EXPECT_FALSE(ops.setBrakeStop(50));
  EXPECT_EQ(state().throttleLower, 0);
  EXPECT_EQ(state().cheto, 70);
  ops.activateMode(true);
  EXPECT_TRUE(ops.setZone(ZonePage::Custom, Pedal::Throttle, false, 9));
  // 100 stops nothing: the controller is told the brake stop is off.
  EXPECT_TRUE(ops.setBrakeStop(kBrakeStopInactive));
  EXPECT_TRUE(ops.setBrakeStop(50));
  expectFrames({value(value::kConfigZonas, 1), value(value::kConfigSportActivado, 1),
                value(value::kZonaInferiorAcelerador, 9), value(value::kCheto, 100), value(value::kChetoActivo, 0),
                value(value::kCheto, 50), value(value::kChetoActivo, 1)});
  EXPECT_EQ(state().chetoActive, 1);
}

TEST_F(OperationsTest, ModesSetTheFlagsAndSendThem) {
  ops.activateMode(false);
  EXPECT_TRUE(state().proProfileActive);
  EXPECT_FALSE(state().sportProfileActive);
  ops.openCustom();
  EXPECT_TRUE(state().sportProfileLoaded);
  EXPECT_FALSE(state().proProfileActive);
  ops.setZonesEnabled(false);
  expectFrames({value(value::kConfigZonas, 1), value(value::kConfigSportActivado, 0),
                value(value::kConfigSportCargado, 1), value(value::kConfigSportActivado, 1),
                value(value::kConfigZonas, 0)});
  EXPECT_EQ(link.firmware().state().configFlags & 1, 1) << "CUSTOM active";
}

TEST_F(OperationsTest, DefaultCurveActivatesCustomWithThatCurveAlone) {
  ops.defaultCurve(Pedal::Brake);
  EXPECT_EQ(state().brakeCurve, straightCurve());
  EXPECT_TRUE(state().sportProfileActive);
  expectFrames({value(value::kConfigZonas, 1), value(value::kConfigSportActivado, 1),
                encodeCurveFrame(block::kCurvaFreno, straightCurve())});
  EXPECT_EQ(link.firmware().state().curves.brake, straightCurve());
}

TEST_F(OperationsTest, AnEditedCurveGoesOutAndCustomCountsAsLoaded) {
  Curve edited = straightCurve();
  edited[5] = 35;
  ops.sendCurve(Pedal::Throttle, edited);
  EXPECT_EQ(state().throttleCurve, edited);
  EXPECT_TRUE(state().sportProfileLoaded);
  expectFrames({encodeCurveFrame(block::kCurvaAcelerador, edited), value(value::kConfigSportCargado, 1)});
}

TEST_F(OperationsTest, LettersOutsideTheirListAreNotSent) {
  EXPECT_FALSE(ops.setLetter(Field::LetterAbs, 5));  // five keys for ABS
  EXPECT_FALSE(ops.setLetter(Field::Cheto, 1)) << "not a letter";
  EXPECT_TRUE(ops.setLetter(Field::LetterAbs, 4));
  expectFrames({value(value::kLetraABS, 4)});
}

}  // namespace
}  // namespace tkb
