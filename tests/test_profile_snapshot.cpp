#include "app/profile_snapshot.h"

#include <gtest/gtest.h>

#include <string>

#include "app/startup_reads.h"
#include "memory_fixture.h"
#include "test_support.h"

namespace tkb {
namespace {

using test::hex;
using test::MemoryController;
using test::TraceCapture;

// A controller in CUSTOM mode with a bent brake curve, a brake stop and odd profile names,
// read in by the start-up reads.
emu::FirmwareState customController() {
  emu::FirmwareState s;
  s.configFlags = 0x0F;  // zones on, calibrated, CUSTOM loaded and active
  s.zones = {95, 3, 80, 2, 97, 1};
  s.brakeMax = 85;
  s.curves.brake = {0, 5, 12, 20, 30, 42, 55, 68, 80, 91, 100};
  s.cheto = 70;
  s.autoBrake = 1;
  s.proProfileName = makeProfileName("Race =%, 1");
  s.sportProfileName = makeProfileName("Wet\xC3\xA9");
  return s;
}

class SnapshotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(link.connect());
    ASSERT_TRUE(loadData(link.controller, nullptr).ok());
    link.firmware().clearReceived();
  }
  TraceCapture quiet;
  MemoryController link{customController()};
  Operations ops{link.controller};
};

TEST_F(SnapshotTest, EncodeDecodeRoundTripAndRestoreSendsTheCapturedProfileBack) {
  const auto snapshot = ProfileSnapshot::capture(link.controller.state, "My set.v2");
  ASSERT_TRUE(snapshot);
  const std::string text = snapshot->encode();
  EXPECT_EQ(text.find(' '), std::string("tkb-snapshot/1").size());
  EXPECT_EQ(text.find_first_of("\n\r\t"), std::string::npos);
  EXPECT_EQ(ProfileSnapshot::decode(text), snapshot) << text;

  // Another profile on the pedals: PRO mode, other zones, straight curves, brake stop off.
  ops.activateMode(false);
  ops.setZone(ZonePage::Pro, Pedal::Brake, true, 60);
  ops.setZone(ZonePage::Pro, Pedal::Clutch, false, 10);
  ops.setAutoBrake(false);
  ops.defaultCurve(Pedal::Brake);
  ops.activateMode(false);
  link.firmware().clearReceived();

  ASSERT_TRUE(ProfileSnapshot::decode(text)->restore(ops));
  const emu::FirmwareState& fw = link.firmware().state();
  EXPECT_EQ(fw.zones.brakeUpper, 80);
  EXPECT_EQ(fw.zones.clutchLower, 3);
  EXPECT_EQ(fw.curves.brake, customController().curves.brake);
  EXPECT_EQ(fw.cheto, 70);
  EXPECT_EQ(fw.chetoActive, 1);
  EXPECT_EQ(fw.autoBrake, 1);
  EXPECT_EQ(fw.configFlags & 0x09, 0x09) << "zones on, CUSTOM active";
  EXPECT_EQ(profileNameText(fw.proProfileName), "Race =%, 1");
  EXPECT_EQ(profileNameText(fw.sportProfileName), "Wet\xC3\xA9");
  EXPECT_EQ(ProfileSnapshot::capture(link.controller.state, "My set.v2"), snapshot)
      << "the state holds what was captured";
  EXPECT_NE(hex(link.frames()).find("E2 01"), std::string::npos) << hex(link.frames());
}

TEST_F(SnapshotTest, NothingIsCapturedWhileAValueIsUnknownAndAFailedRestoreSaysSo) {
  ControllerState partial = link.controller.state;
  partial.known.remove(Field::BrakeCurve);
  EXPECT_FALSE(ProfileSnapshot::capture(partial, "Default"));

  const auto snapshot = ProfileSnapshot::capture(link.controller.state, "Default");
  ASSERT_TRUE(snapshot);
  link.firmware().faults().silent = true;
  link.controller.beginAction();
  EXPECT_FALSE(snapshot->restore(ops)) << "the controller stopped answering";
}

TEST(SnapshotDecode, RefusesAnythingMalformed) {
  TraceCapture quiet;
  MemoryController link{customController()};
  ASSERT_TRUE(link.connect());
  ASSERT_TRUE(loadData(link.controller, nullptr).ok());
  const std::string good = ProfileSnapshot::capture(link.controller.state, "a b")->encode();
  ASSERT_TRUE(ProfileSnapshot::decode(good));
  const auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? std::string() : text.replace(at, from.size(), to);
  };
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"empty", ""},
      {"other header", replaced("tkb-snapshot/1", "tkb-snapshot/2")},
      {"trailing blank", good + " "},
      {"line break", good + "\n"},
      {"double blank", replaced(" brakeMax=", "  brakeMax=")},
      {"unknown key", good + " colour=1"},
      {"repeated key", good + " cheto=70"},
      {"missing key", replaced(" autoBrake=1", "")},
      {"out of range", replaced("brakeUpper=80", "brakeUpper=101")},
      {"negative", replaced("brakeUpper=80", "brakeUpper=-1")},
      {"negative zero", replaced("brakeLower=2", "brakeLower=-0")},
      {"keys in another order", replaced("zonesEnabled=1 sportProfileActive=1", "sportProfileActive=1 zonesEnabled=1")},
      {"not decimal", replaced("brakeUpper=80", "brakeUpper=8x")},
      {"leading zero", replaced("brakeUpper=80", "brakeUpper=080")},
      {"no value", replaced("brakeUpper=80", "brakeUpper=")},
      {"short curve", replaced(",91,100", ",100")},
      {"long curve", replaced(",91,100", ",91,100,100")},
      {"curve point out of range", replaced(",91,100", ",91,101")},
      {"broken escape", replaced("profile=a%20b", "profile=a%2")},
      {"lower-case escape", replaced("%C3%A9", "%c3%A9")},
      {"escaped plain byte", replaced("profile=a%20b", "profile=%61%20b")},
      {"control byte", replaced("profile=a%20b", "profile=a%0Ab")},
      {"name too long", replaced("profile=a%20b", "profile=" + std::string(49, 'n'))},
      {"controller name too long", replaced("sportProfileName=", "sportProfileName=0123456789abcdef")},
  };
  for (const auto& c : cases) EXPECT_FALSE(ProfileSnapshot::decode(c.text)) << c.what << ": " << c.text;
}

TEST(ProfileBaseline, EditsArePendingUntilAProfileOfTheirKindHoldsThem) {
  ControllerState state;
  state.known = FieldSet::all();
  state.clutchCurve = state.brakeCurve = state.throttleCurve = straightCurve();
  ProfileBaseline baseline;
  EXPECT_TRUE(baseline.pending(state)) << "nothing taken yet: every known value is an edit";
  baseline.take(state);
  EXPECT_FALSE(baseline.pending(state));

  state.brakeUpper = 70;
  state.brakeCurve[5] = 45;
  EXPECT_TRUE(baseline.pending(state));
  baseline.take(state, FieldSet{Field::BrakeUpper});  // a PRO save holds the zone only
  EXPECT_TRUE(baseline.pending(state)) << "the curve edit is still in no file";
  baseline.take(state, FieldSet{Field::BrakeCurve});
  EXPECT_FALSE(baseline.pending(state));

  state.letterMas = 3;  // not a profile value
  EXPECT_FALSE(baseline.pending(state));
  state.known.remove(Field::Cheto);
  state.cheto = 5;
  EXPECT_FALSE(baseline.pending(state)) << "an unknown value is no edit";
}

}  // namespace
}  // namespace tkb
