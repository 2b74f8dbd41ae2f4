// The emulated firmware: what each stored-state command does, its state file, and when its
// answers can be read through the in-memory transport.
#include <gtest/gtest.h>

#include "emulator/memory_transport.h"
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

// The timing faults become the times the answer's bytes can be read, and a read takes what
// the serial port's time-outs allow: 30 + 10 ms per byte in all, 30 ms between bytes.
TEST(MemoryTransport, AnswersBecomeReadableWhenTheirDelaysHavePassed) {
  struct Case {
    const char* name;
    Faults faults;
    int requests;       // 0xA2 written this many times at once
    int readBytes;      // one read of this many
    int count;          // what it returns
    long long tookMs;   // in fake time
    size_t leftUnread;  // bytes still to come or pending after it
  };
  std::vector<Case> cases = {
      {"at once", {}, 1, 3, 3, 0, 0},
      {"reply 50 ms late", {}, 1, 3, 3, 50, 0},
      {"reply later than the read's 60 ms", {}, 1, 3, 0, 60, 3},
      {"bytes 20 ms apart", {}, 1, 3, 3, 60, 0},
      {"bytes 40 ms apart: the interval ends the read", {}, 1, 3, 1, 60, 2},
      {"a stray byte behind the reply", {}, 1, 3, 3, 0, 1},
      // The first answer at 50 ms, the second at 100: past the interval after the first.
      {"a second answer waits for the first one's delay", {}, 2, 6, 3, 80, 3},
  };
  cases[1].faults.replyDelayMs = 50;
  cases[2].faults.lateMs[0xA2] = 70;
  cases[3].faults.byteDelayMs = 20;
  cases[4].faults.byteDelayMs = 40;
  cases[5].faults.extraAfter[0xA2] = {0x21};
  cases[6].faults.replyDelayMs = 50;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryTransport link;
    link.model().faults() = c.faults;
    const Bytes requests(static_cast<size_t>(c.requests), 0xA2);
    ASSERT_TRUE(link.write(requests));
    Bytes buffer(static_cast<size_t>(c.readBytes));
    const auto start = link.clock().elapsed();
    const ReadResult r = link.read(buffer);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.count, c.count);
    EXPECT_EQ((link.clock().elapsed() - start).count(), c.tookMs);
    EXPECT_EQ(link.unread(), c.leftUnread);
  }
}

// A frame's bytes may come up to 200 ms apart; after a longer pause the part that came is
// recorded as it is, dropped, and the next byte starts a new frame.
TEST(MemoryTransport, FrameCutShortIsDroppedAfterTwoHundredQuietMilliseconds) {
  for (int pauseMs : {kPartialFrameTimeoutMs, kPartialFrameTimeoutMs + 1}) {
    SCOPED_TRACE(pauseMs);
    MemoryTransport link;
    const uint8_t begun[] = {0xC3, 0x50};
    const uint8_t closing = 0x3C;
    ASSERT_TRUE(link.write(begun));
    link.clock().sleepFor(std::chrono::milliseconds(pauseMs));
    ASSERT_TRUE(link.write({&closing, 1}));
    const bool whole = pauseMs <= kPartialFrameTimeoutMs;
    const std::vector<Bytes> expected =
        whole ? std::vector<Bytes>{{0xC3, 0x50, 0x3C}} : std::vector<Bytes>{{0xC3, 0x50}, {0x3C}};
    EXPECT_EQ(link.model().received(), expected);
    EXPECT_EQ(link.model().state().zones.brakeUpper, whole ? 0x50 : ZoneSet{}.brakeUpper);
  }
}

TEST(MemoryTransport, UnpluggedLinkFailsAndEachReadTakesItsTime) {
  MemoryTransport link;
  link.unplug();
  const uint8_t request = 0xA2;
  EXPECT_FALSE(link.write({&request, 1}));
  Bytes buffer(3);
  const auto start = link.clock().elapsed();
  EXPECT_FALSE(link.read(buffer).ok);
  EXPECT_EQ((link.clock().elapsed() - start).count(), 60);
  EXPECT_FALSE(link.inputWithin(100));
  EXPECT_EQ((link.clock().elapsed() - start).count(), 60);
  EXPECT_TRUE(link.lost());
  EXPECT_FALSE(link.checkLink());
  EXPECT_TRUE(link.model().received().empty());
}

}  // namespace
}  // namespace tkb::emu
