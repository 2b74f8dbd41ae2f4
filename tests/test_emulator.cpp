// The emulated firmware: what each stored-state command does, and its state file.
#include <gtest/gtest.h>

#include "emulator_fixture.h"

namespace tkb::emu {
namespace {

void apply(FirmwareState& s, const Bytes& frame, const AxisPositions& axes = {}) {
  PedalEmulator::applyCommand(frame, s, axes);
}

TEST(EmulatedFirmware, CalibrationIsStoredBySaveAndUndoneByRestore) {
  FirmwareState s;
  s.configFlags = 0;
  AxisPositions axes;
  axes.brake = -32767;
  apply(s, {0xFF, 0xF2});
  apply(s, {0xFF, 0xB0}, axes);
  axes.brake = 0;  // held at half travel
  apply(s, {0xFF, 0xBA}, axes);
  apply(s, {0xFF, 0xF3});
  EXPECT_EQ(s.calibration.brakePressed, CalibrationPoints{}.brakePressed);

  apply(s, {0xFF, 0xF2});
  axes.brake = -32767;
  apply(s, {0xFF, 0xB0}, axes);
  axes.brake = 0;
  apply(s, {0xFF, 0xBA}, axes);
  apply(s, {0xFF, 0xF1});
  EXPECT_EQ(s.calibration.brakePressed, 0);
  EXPECT_EQ(s.brakeMax, 50);
  EXPECT_EQ(s.configFlags & 0x04, 0x04);
  EXPECT_EQ(s.calibrationReadings.brake, 0);
}

TEST(EmulatedFirmware, ZonesAndCurvesAreStoredOnRequest) {
  FirmwareState s;
  apply(s, {0xC3, 70, 0x3C});
  apply(s, {0xBB, 0, 5, 15, 25, 40, 55, 70, 80, 90, 95, 100, 0xBB});
  EXPECT_EQ(s.zones.brakeUpper, 70);
  EXPECT_EQ(s.storedZones.brakeUpper, 90);
  apply(s, {0xFF, 0xF4});
  EXPECT_EQ(s.storedZones.brakeUpper, 70);
  EXPECT_EQ(s.storedCurves.brake[1], 10);
  apply(s, {0xFF, 0xF7});
  EXPECT_EQ(s.storedCurves.brake[1], 5);
  s.brakeMax = 85;
  apply(s, {0xFF, 0xF5});
  EXPECT_EQ(s.zones.brakeUpper, 85);
  EXPECT_EQ(s.zones.clutchUpper, 100);
  EXPECT_EQ(s.zones.throttleLower, 0);
}

TEST(EmulatedFirmware, FramesThatDoNotCloseAreDropped) {
  FirmwareState s;
  apply(s, {0xC3, 70, 0x3D});
  apply(s, {0xBD, 'x', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xDC});
  EXPECT_EQ(s.zones.brakeUpper, 90);
  EXPECT_EQ(profileNameText(s.proProfileName), "Default");
}

TEST(EmulatedFirmware, FlagsFollowTheirValueFrames) {
  FirmwareState s;
  s.configFlags = 0;
  apply(s, {0xB5, 1, 0x5B});
  apply(s, {0xB6, 1, 0x6B});
  apply(s, {0xB4, 1, 0x4B});
  apply(s, {0xB3, 1, 0x3B});
  EXPECT_EQ(s.configFlags, 0x0F);
  apply(s, {0xB5, 0, 0x5B});
  EXPECT_EQ(s.configFlags, 0x0E);
  apply(s, {0xC8, 64, 0x8C});
  EXPECT_EQ(s.zones.brakeUpper, 64);
  EXPECT_EQ(s.brakeMax, 64);
}

TEST(EmulatedFirmware, StateFileKeepsWhatWasStored) {
  test::TempDir dir;
  FirmwareState s;
  s.languageCode = 5;
  s.letterAbs = 3;
  s.proProfileName = makeProfileName("Imola");
  s.zones.brakeUpper = 60;        // not stored: lost at the power cycle
  s.storedZones.brakeLower = 12;  // stored
  s.storedCurves.clutch = {0, 2, 4, 8, 16, 32, 50, 64, 80, 90, 100};
  PedalEmulator emulator(s);
  ASSERT_TRUE(emulator.saveState(dir.file("state")));
  FirmwareState loaded;
  ASSERT_TRUE(PedalEmulator::loadState(dir.file("state"), loaded));
  EXPECT_EQ(loaded.languageCode, 5);
  EXPECT_EQ(loaded.letterAbs, 3);
  EXPECT_EQ(profileNameText(loaded.proProfileName), "Imola");
  EXPECT_EQ(loaded.zones.brakeUpper, 90);
  EXPECT_EQ(loaded.zones.brakeLower, 12);
  EXPECT_EQ(loaded.curves.clutch, s.storedCurves.clutch);
  FirmwareState untouched;
  EXPECT_FALSE(PedalEmulator::loadState(dir.file("missing"), untouched));
}

TEST(EmulatedFirmware, EveryRequestHasAFramedReplyOfItsLength) {
  const FirmwareState s;
  for (int code = 0; code < 256; ++code) {
    const Bytes reply = PedalEmulator::replyFor(static_cast<uint8_t>(code), s);
    if (PedalEmulator::frameLength(static_cast<uint8_t>(code)) != 1) {
      EXPECT_TRUE(reply.empty()) << code;
      continue;
    }
    ASSERT_GE(reply.size(), 3u) << code;
    EXPECT_EQ(reply.front(), 0x12);
    EXPECT_EQ(reply.back(), 0x21);
  }
}

}  // namespace
}  // namespace tkb::emu
