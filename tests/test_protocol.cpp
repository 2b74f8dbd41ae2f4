// The pure protocol: frame encoding and the decoding and validation of every reply.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>

#include "link/protocol.h"

namespace tkb {
namespace {

TEST(Frames, ClosingByteSwapsTheTwoHexDigits) {
  const std::pair<uint8_t, uint8_t> cases[] = {
      {0xB2, 0x2B}, {0xBC, 0xCB}, {0xBB, 0xBB}, {0xC1, 0x1C}, {0xCF, 0xFC},
      {0xE2, 0x2E}, {0xBD, 0xDB}, {0xBE, 0xEB}, {0xD6, 0x6D}, {0xBA, 0xAB}};
  for (auto [code, closing] : cases) EXPECT_EQ(closingByte(code), closing) << int(code);
}

TEST(Frames, ValueFrameCarriesTheLowByte) {
  EXPECT_EQ(encodeValueFrame(0xC1, 0), (Bytes{0xC1, 0x00, 0x1C}));
  EXPECT_EQ(encodeValueFrame(0xC1, 100), (Bytes{0xC1, 0x64, 0x1C}));
  EXPECT_EQ(encodeValueFrame(0xC3, 80), (Bytes{0xC3, 0x50, 0x3C}));
  EXPECT_EQ(encodeValueFrame(0xC8, 0x1234), (Bytes{0xC8, 0x34, 0x8C}));
  EXPECT_EQ(encodeValueFrame(0xCF, -1), (Bytes{0xCF, 0xFF, 0xFC}));
}

TEST(Frames, CurveFrameIsThirteenBytes) {
  const Curve curve{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
  const Bytes frame = encodeCurveFrame(0xBC, curve);
  ASSERT_EQ(frame.size(), 13u);
  EXPECT_EQ(frame.front(), 0xBC);
  EXPECT_EQ(frame.back(), 0xCB);
  for (int i = 0; i < kCurvePoints; ++i) EXPECT_EQ(frame[1 + i], curve[i]);
}

TEST(Frames, ProfileFrameIsSeventeenBytesZeroFilled) {
  const Bytes frame = encodeProfileFrame(0xBD, makeProfileName("Monza"));
  ASSERT_EQ(frame.size(), 17u);
  EXPECT_EQ(frame.front(), 0xBD);
  EXPECT_EQ(frame.back(), 0xDB);
  EXPECT_EQ(std::string(frame.begin() + 1, frame.begin() + 6), "Monza");
  for (int i = 6; i < 16; ++i) EXPECT_EQ(frame[i], 0) << i;
}

TEST(Frames, ProfileNameLongerThanFifteenBytesIsCut) {
  const Bytes frame = encodeProfileFrame(0xBE, makeProfileName("Nordschleife-24h-Race"));
  ASSERT_EQ(frame.size(), 17u);
  EXPECT_EQ(std::string(frame.begin() + 1, frame.end() - 1), "Nordschleife-24");
}

TEST(Frames, BytesAfterTheTerminatorAreSentAsZero) {
  ProfileName name = makeProfileName("ab");
  name[5] = 'x';  // leftover byte after the terminator
  const Bytes frame = encodeProfileFrame(0xBD, name);
  EXPECT_EQ(frame[6], 0);
}

TEST(Language, CodesByExactNameAndEverythingElseIsFive) {
  const std::pair<const char*, int> cases[] = {{"English", 0}, {"Spanish", 1}, {"Italian", 2},
                                               {"French", 3},  {"German", 4},  {"Portuguese", 5},
                                               {"english", 5}, {"", 5},        {"Klingon", 5}};
  for (auto [name, code] : cases) EXPECT_EQ(languageCode(name), code) << name;
  EXPECT_EQ(languageName(5), "Portuguese");
  EXPECT_FALSE(languageName(6));
  EXPECT_FALSE(languageName(-1));
}

// One row per decoding rule: the reply bytes and what the state must look like after it.
struct DecodeCase {
  const char* name;
  Query query;
  Bytes reply;
  std::function<void(const ControllerState&)> check;
};

TEST(Replies, DecodeIntoTheState) {
  const DecodeCase cases[] = {
      {"config 0x0F", Query::GeneralConfig, {0x12, 0x0F, 0x21},
       [](const ControllerState& s) {
         EXPECT_TRUE(s.sportProfileActive);
         EXPECT_FALSE(s.proProfileActive);
         EXPECT_TRUE(s.sportProfileLoaded && s.calibrated && s.zonesEnabled);
       }},
      {"config 0x00", Query::GeneralConfig, {0x12, 0x00, 0x21},
       [](const ControllerState& s) {
         EXPECT_TRUE(s.proProfileActive);
         EXPECT_FALSE(s.sportProfileActive || s.sportProfileLoaded || s.calibrated || s.zonesEnabled);
       }},
      {"config bits 4-7 unused", Query::GeneralConfig, {0x12, 0xF4, 0x21},
       [](const ControllerState& s) {
         EXPECT_TRUE(s.calibrated);
         EXPECT_FALSE(s.zonesEnabled || s.sportProfileActive || s.sportProfileLoaded);
       }},
      {"brake zones skip byte 2", Query::BrakeZones, {0x12, 80, 55, 10, 0x21},
       [](const ControllerState& s) {
         EXPECT_EQ(s.brakeUpper, 80);
         EXPECT_EQ(s.brakeLower, 10);
       }},
      {"clutch zones", Query::ClutchZones, {0x12, 95, 3, 0x21},
       [](const ControllerState& s) { EXPECT_EQ(s.clutchUpper, 95); EXPECT_EQ(s.clutchLower, 3); }},
      {"model 7 reads as 1", Query::Model, {0x12, 7, 0x21},
       [](const ControllerState& s) { EXPECT_EQ(s.model, 1); }},
      {"model 6", Query::Model, {0x12, 6, 0x21}, [](const ControllerState& s) { EXPECT_EQ(s.model, 6); }},
      {"model 0xFF compared unsigned", Query::Model, {0x12, 0xFF, 0x21},
       [](const ControllerState& s) { EXPECT_EQ(s.model, 1); }},
      {"colour 3 reads as 1", Query::Color, {0x12, 3, 0x21},
       [](const ControllerState& s) { EXPECT_EQ(s.color, 1); }},
      {"colour 2", Query::Color, {0x12, 2, 0x21}, [](const ControllerState& s) { EXPECT_EQ(s.color, 2); }},
      {"language 4", Query::Language, {0x12, 4, 0x21},
       [](const ControllerState& s) { EXPECT_EQ(s.language, "German"); }},
      {"start readings big-endian signed", Query::StartReadings,
       {0x12, 0x01, 0xC8, 0x00, 0x00, 0xFF, 0xFF, 0x21},
       [](const ControllerState& s) {
         EXPECT_EQ(s.startReadings.clutch, 456);
         EXPECT_EQ(s.startReadings.brake, 0);
         EXPECT_EQ(s.startReadings.throttle, -1);
       }},
      {"calibration readings", Query::CalibrationReadings,
       {0x12, 0x80, 0x00, 0x7F, 0xFF, 0x00, 0x80, 0x21},
       [](const ControllerState& s) {
         EXPECT_EQ(s.calibrationReadings.clutch, -32768);
         EXPECT_EQ(s.calibrationReadings.brake, 32767);
         EXPECT_EQ(s.calibrationReadings.throttle, 128);
       }},
      {"firmware signed bytes", Query::Identify, {0x12, 7, 6, 0xFE, 0x21},
       [](const ControllerState& s) { EXPECT_EQ(s.firmwareVersion, (std::array<int, 3>{7, 6, -2})); }},
      {"brake max", Query::BrakeMax, {0x12, 90, 0x21},
       [](const ControllerState& s) { EXPECT_EQ(s.brakeMax, 90); }},
      {"letters", Query::LetterMas, {0x12, 5, 0x21},
       [](const ControllerState& s) { EXPECT_EQ(s.letterMas, 5); }},
      {"cheto signed", Query::Cheto, {0x12, 100, 0x21},
       [](const ControllerState& s) { EXPECT_EQ(s.cheto, 100); }},
      {"throttle curve", Query::ThrottleCurve, {0x12, 0, 5, 15, 25, 40, 55, 70, 80, 90, 95, 100, 0x21},
       [](const ControllerState& s) {
         EXPECT_EQ(s.throttleCurve, (Curve{0, 5, 15, 25, 40, 55, 70, 80, 90, 95, 100}));
       }},
      {"profile name without terminator", Query::ProProfileName,
       {0x12, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 0x21},
       [](const ControllerState& s) { EXPECT_EQ(profileNameText(s.proProfileName), "ABCDEFGHIJKLMNO"); }},
      {"short profile name zero-filled", Query::SportProfileName,
       {0x12, 'S', 'p', 'a', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x21},
       [](const ControllerState& s) {
         EXPECT_EQ(profileNameText(s.sportProfileName), "Spa");
         EXPECT_EQ(s.sportProfileName[14], 0);
       }},
  };
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    ControllerState state;
    state.language = "Italian";
    ASSERT_TRUE(applyReply(c.query, c.reply, state));
    c.check(state);
  }
}

// A framed reply whose value its field cannot hold stores nothing and marks nothing known.
TEST(Replies, ValuesOutOfRangeAreNotStored) {
  const struct {
    const char* name;
    Query query;
    Bytes reply;
  } cases[] = {
      {"language code 9", Query::Language, {0x12, 9, 0x21}},
      {"zone 0xFF is -1", Query::ClutchZones, {0x12, 0xFF, 3, 0x21}},
      {"zone 101", Query::BrakeZones, {0x12, 101, 0, 5, 0x21}},
      {"lower zone 0x80 is -128", Query::ThrottleZones, {0x12, 100, 0x80, 0x21}},
      {"curve point 0x9C is -100", Query::BrakeCurve, {0x12, 0, 10, 20, 0x9C, 40, 50, 60, 70, 80, 90, 100, 0x21}},
      {"brake max 0xC8 is -56", Query::BrakeMax, {0x12, 0xC8, 0x21}},
      {"letter 200", Query::LetterMas, {0x12, 0xC8, 0x21}},
      {"ABS letter 5 of 0..4", Query::LetterAbs, {0x12, 5, 0x21}},
      {"cheto active 2", Query::ChetoActive, {0x12, 2, 0x21}},
      {"cheto 0xFF is -1", Query::Cheto, {0x12, 0xFF, 0x21}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ControllerState state;
    state.language = "Italian";
    const ControllerState before = state;
    EXPECT_EQ(decodeReply(c.query, c.reply, state), ReplyCheck::OutOfRange);
    EXPECT_EQ(state, before);
  }
}

// Any reply that is not exactly framed leaves every field as it was.
TEST(Replies, MalformedRepliesChangeNothing) {
  ControllerState reference;
  reference.language = "French";
  reference.brakeUpper = 42;
  reference.brakeCurve = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  reference.model = 3;
  for (const QuerySpec& spec : allQueries()) {
    SCOPED_TRACE(int(spec.request));
    Bytes good(spec.replyBytes, 1);
    good.front() = 0x12;
    good.back() = 0x21;
    Bytes wrongStart = good, wrongEnd = good, shortReply(good.begin(), good.end() - 1),
          longReply = good;
    wrongStart.front() = 0x13;
    wrongEnd.back() = 0x20;
    longReply.push_back(0x21);
    for (const Bytes& bad : {wrongStart, wrongEnd, shortReply, longReply, Bytes{}}) {
      ControllerState state = reference;
      EXPECT_FALSE(applyReply(spec.query, bad, state));
      EXPECT_EQ(state.language, reference.language);
      EXPECT_EQ(state.brakeUpper, reference.brakeUpper);
      EXPECT_EQ(state.brakeCurve, reference.brakeCurve);
      EXPECT_EQ(state.model, reference.model);
    }
  }
}

TEST(Replies, RandomBytesNeverCrashAndOnlyFramedRepliesApply) {
  std::mt19937 random(7);
  for (int round = 0; round < 20000; ++round) {
    const QuerySpec& spec = allQueries()[random() % allQueries().size()];
    Bytes reply(random() % 20);
    for (uint8_t& b : reply) b = static_cast<uint8_t>(random());
    ControllerState state;
    const ReplyCheck check = decodeReply(spec.query, reply, state);
    EXPECT_EQ(check == ReplyCheck::BadFrame,
              static_cast<int>(reply.size()) != spec.replyBytes || !replyFramed(reply));
    if (check != ReplyCheck::Applied) {
      EXPECT_TRUE(state.known.empty());
    }
    EXPECT_GE(state.model, 0);
    EXPECT_LE(state.model, 6);
    EXPECT_LE(state.color, 2);
  }
}

TEST(QueryTable, EveryRequestIsDistinctWithItsReplyLength) {
  std::set<uint8_t> seen;
  for (const QuerySpec& spec : allQueries()) {
    EXPECT_TRUE(seen.insert(spec.request).second) << int(spec.request);
    EXPECT_EQ(&querySpec(spec.query), &spec);
  }
  EXPECT_EQ(querySpec(Query::BrakeZones).replyBytes, 5);
  EXPECT_EQ(querySpec(Query::ClutchCurve).replyBytes, 13);
  EXPECT_EQ(querySpec(Query::ProProfileName).replyBytes, 17);
  EXPECT_EQ(querySpec(Query::StartReadings).replyBytes, 8);
  EXPECT_TRUE(querySpec(Query::Identify).attemptLimited);
  EXPECT_FALSE(querySpec(Query::Cheto).attemptLimited);
}

}  // namespace
}  // namespace tkb
