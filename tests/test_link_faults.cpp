// The start-up reads against a controller that misbehaves the way USB serial links do,
// through the in-memory transport (the waits pass in fake time): whatever the fault, the
// state holds only values the controller really gave, and the controller receives no value
// that was not read.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/startup_reads.h"
#include "emulator_fixture.h"
#include "link/settings.h"
#include "memory_fixture.h"

namespace tkb {
namespace {

using emu::Bytes;
using test::MemoryController;
using test::hexFrames;

// The zones, curves and letters differ from one another, so a reply taken for another
// query's shows as a wrong value.
emu::FirmwareState distinctState() {
  emu::FirmwareState s;
  s.languageCode = 3;
  s.zones = {97, 3, 85, 5, 96, 4};
  s.brakeMax = 85;
  s.curves.clutch = {0, 11, 21, 31, 41, 51, 61, 71, 81, 91, 100};
  s.curves.brake = {0, 12, 22, 32, 42, 52, 62, 72, 82, 92, 100};
  s.curves.throttle = {0, 13, 23, 33, 43, 53, 63, 73, 83, 93, 100};
  s.letterAbs = 1, s.letterAutoBrake = 2, s.letterMas = 3, s.letterMenos = 4, s.letterMas2 = 5;
  s.cheto = 60, s.chetoActive = 1;
  s.model = 2, s.color = 2;
  return s;
}

// Replies as kept in tests/data/replies: the bytes the controller sent for one request.
Bytes replyFile(const std::string& name) {
  std::ifstream in(std::string(std::getenv("TKB_TEST_DATA")) + "/replies/" + name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

struct ReadRun {
  ControllerState state;
  ReadReport report;
  std::vector<Bytes> commands;  // frames longer than one byte (requests are one byte)
};

ReadRun readWith(const emu::Faults& faults) {
  MemoryController link(distinctState());
  EXPECT_TRUE(link.connect());
  link.link.model().faults() = faults;
  ReadRun run;
  test::TraceCapture quiet;
  run.report = readControllerAtStartup(link.controller, nullptr);
  // A second action right behind the first, as a RETRY or the next click would be, starting
  // with the query the first one skipped (a late reply is most easily taken for its answer).
  link.controller.beginAction();
  for (const auto& [query, result] : run.report.failed) {
    if (result != QueryResult::Skipped) continue;
    run.report.ask(link.controller, query);
    break;
  }
  run.report.add(readConfiguration(link.controller));
  run.state = link.controller.state;
  for (const Bytes& frame : link.frames())
    if (frame.size() > 1) run.commands.push_back(frame);
  return run;
}

// Every value the faulty run holds as known is the value the fault-free run read.
void expectOnlyTrueValues(const ControllerState& got, const ControllerState& truth) {
  for (const Setting& s : settingsTable()) {
    if (!got.isKnown(s.field)) continue;
    SCOPED_TRACE(s.name);
    if (s.curve) {
      EXPECT_EQ(curveOf(got, s.field), curveOf(truth, s.field));
    } else {
      EXPECT_EQ(settingValue(got, s.field), settingValue(truth, s.field));
    }
  }
  if (got.isKnown(Field::Language)) {
    EXPECT_EQ(got.language, truth.language);
  }
  if (got.isKnown(Field::ProProfileName)) {
    EXPECT_EQ(got.proProfileName, truth.proProfileName);
  }
  if (got.isKnown(Field::StartReadings)) {
    EXPECT_EQ(got.startReadings, truth.startReadings);
  }
  if (got.isKnown(Field::FirmwareVersion)) {
    EXPECT_EQ(got.firmwareVersion, truth.firmwareVersion);
  }
}

TEST(LinkFaults, StateHoldsOnlyAcceptedValuesAndNothingUnreadIsSentBack) {
  const ReadRun clean = readWith({});
  ASSERT_TRUE(clean.report.ok()) << clean.report.describe();
  ASSERT_EQ(clean.state.model, 2);

  struct Case {
    std::string name;
    emu::Faults faults;
    bool allRead;  // every query of both actions accepted in the end
  };
  std::vector<Case> cases;
  // A stray byte after the reply to each request kind is dropped before the next request.
  for (const QuerySpec& spec : allQueries()) {
    if (spec.query == Query::CalibrationReadings || spec.query == Query::BrakeMaxAfterCalibration) continue;
    char name[32];
    std::snprintf(name, sizeof name, "extra 0x21 after %02X", spec.request);
    Case c{name, {}, true};
    c.faults.extraAfter[spec.request] = {0x21};
    cases.push_back(c);
  }
  {
    Case c{"E1 reply with a stray byte", {}, true};
    c.faults.replyOverride[0xE1] = replyFile("cheto-active-reply-with-a-stray-byte-behind-it");
    cases.push_back(c);
  }
  {
    // The brake curve 1.2 s late: after the one-second wait it must not become the
    // throttle curve, neither in this action nor in the next one.
    Case c{"brake curve late by 1.2 s", {}, false};
    c.faults.replyOverride[0xA8] = replyFile("brake-curve-reply-late-taken-for-the-throttle-curve");
    c.faults.lateMs[0xA8] = 1200;
    cases.push_back(c);
  }
  {
    Case c{"brake zones cut short", {}, false};
    c.faults.replyOverride[0xA5] = replyFile("brake-zones-reply-one-byte-short");
    cases.push_back(c);
  }
  {
    Case c{"every reply cut short", {}, false};
    c.faults.shortFrames = true;
    cases.push_back(c);
  }
  {
    Case c{"garbage", {}, false};
    c.faults.garbage = true;
    cases.push_back(c);
  }
  {
    Case c{"language code out of range", {}, false};
    c.faults.replyOverride[0xA2] = replyFile("language-code-out-of-range");
    cases.push_back(c);
  }
  for (int n : {0, 1, 2, 5, 12}) {
    Case c{"silent after " + std::to_string(n), {}, false};
    c.faults.silentAfterExchanges = n;
    cases.push_back(c);
  }

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ReadRun run = readWith(c.faults);
    EXPECT_EQ(run.report.ok(), c.allRead) << run.report.describe();
    expectOnlyTrueValues(run.state, clean.state);
    // The start-up sends model and colour back, each only once it was read, and nothing else.
    std::vector<Bytes> sentBack;
    for (const Bytes& f : run.commands)
      if (f[0] == value::kModelo || f[0] == value::kColor) sentBack.push_back(f);
    for (const Bytes& f : sentBack) {
      EXPECT_TRUE(run.state.isKnown(f[0] == value::kModelo ? Field::Model : Field::Color));
      const bool rightValue = (f[0] == value::kModelo && f[1] == clean.state.model) ||
                              (f[0] == value::kColor && f[1] == clean.state.color);
      EXPECT_TRUE(rightValue) << "got " << hexFrames(run.commands) << " want at most "
                              << hexFrames({encodeValueFrame(value::kModelo, clean.state.model),
                                            encodeValueFrame(value::kColor, clean.state.color)});
    }
    EXPECT_EQ(run.commands.size(), sentBack.size()) << "only model and colour are sent: " << hexFrames(run.commands);
  }
}

// A reply late by more than the wait limit (up to the limit plus kLateReplyMarginMs) may
// arrive after a later request was written but before that request's own reply (replies
// overtake one another here). Whatever the timing, it is never stored as the later query's
// answer: the throttle zones never take the clutch's.
TEST(LinkFaults, ALateReplyIsNeverTakenForALaterQuerysAnswer) {
  const Query asked[] = {Query::BrakeZones, Query::ThrottleZones, Query::ClutchCurve, Query::Language};
  auto run = [&](int lateMs, int ownDelayMs) {
    MemoryController link(distinctState());
    EXPECT_TRUE(link.connect());
    link.link.letRepliesOvertake();
    if (lateMs > 0) {
      link.firmware().faults().lateMs[0xA4] = lateMs;
      link.firmware().faults().lateMs[0xA6] = ownDelayMs;
    }
    test::TraceCapture quiet;
    link.controller.beginAction();
    link.controller.ask(Query::ClutchZones);
    for (const Query query : asked) {
      link.controller.beginAction();
      link.controller.ask(query);
    }
    return link.controller.state;
  };
  const ControllerState truth = run(0, 0);
  ASSERT_TRUE(truth.isKnown(Field::ThrottleUpper));
  for (int lateMs = kQueryWaitLimitMs + 100; lateMs <= kQueryWaitLimitMs + kLateReplyMarginMs; lateMs += 10) {
    for (int ownDelayMs : {0, 5, 15, 30}) {
      SCOPED_TRACE("late by " + std::to_string(lateMs) + " ms, own reply after " + std::to_string(ownDelayMs) + " ms");
      expectOnlyTrueValues(run(lateMs, ownDelayMs), truth);
    }
  }
}

}  // namespace
}  // namespace tkb
