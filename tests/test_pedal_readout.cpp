// The pedal readout without widgets: percent conversions, the curve mappings, the dead-zone
// bands, the press trackers with their history columns and log lines, the brake-excess
// statistics and the pedal update for the monitor.
#include "app/pedal_readout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "link/trace.h"

namespace tkb::test {
namespace {

constexpr int kClutch = 0, kBrake = 1, kThrottle = 2;

// The lowest raw value whose percent is at least p.
int16_t rawFor(double p) { return static_cast<int16_t>(std::ceil(p * 65534.0 / 100.0 - 1e-9) - 32767); }
int16_t totalRawFor(double p) { return static_cast<int16_t>(std::ceil(p * 65034.0 / 100.0 - 1e-9) - 32767); }

Curve curveOf(std::initializer_list<int> points) {
  Curve c{};
  std::copy(points.begin(), points.end(), c.begin());
  return c;
}
const Curve kLine = curveOf({0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100});
const Curve kSteep = curveOf({0, 50, 60, 70, 80, 90, 95, 97, 98, 99, 100});

TEST(PedalPercent, FollowsTheFormulaOfEachPage) {
  struct Row {
    int16_t raw;
    int pro, custom, total;
  };
  const Row rows[] = {
      {0, 50, 50, 50},         // no data yet: 50 exactly (32767 * 100 = 50 * 65534)
      {32767, 100, 100, 100},  // full scale; the total reads about 100.77
      {-32767, 0, 0, 0},       // rest
      {-32768, 0, 0, 0},       // below rest rounds toward zero
      {rawFor(64.9), 64, 64, 65},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.raw);
    EXPECT_EQ(barPercent(proPercent(r.raw)), r.pro);
    EXPECT_EQ(barPercent(customPercent(r.raw)), r.custom);
    EXPECT_EQ(static_cast<int>(brakeTotalPercent(r.raw)), r.total);
  }
  EXPECT_NEAR(brakeTotalPercent(32767), 100.77, 0.01);
  EXPECT_NEAR(brakeTotalPercent(0), 50.38, 0.01);
}

// One curve case: the same curve on every pedal, a brake stop, the pedal, input and output.
struct CurveRow {
  const char* what;
  Curve curve;
  int cheto, pedal, v, out;
  ControllerState state() const {
    ControllerState s;
    s.cheto = cheto;
    s.clutchCurve = s.brakeCurve = s.throttleCurve = curve;
    return s;
  }
};

TEST(AplicarCurva, MapsThroughTheCurveAndTheBrakeStop) {
  ControllerState s;
  s.clutchCurve = s.brakeCurve = s.throttleCurve = kLine;
  s.cheto = 100;
  for (int v = 0; v <= 99; ++v)
    for (int pedal = 0; pedal < 3; ++pedal) ASSERT_EQ(AplicarCurva(s, pedal, v), v) << pedal << " " << v;
  for (int pedal = 0; pedal < 4; ++pedal) EXPECT_EQ(AplicarCurva(s, pedal, 100), 100);

  const Curve shifted = curveOf({5, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100});
  const Curve flat = curveOf({0, 10, 10, 30, 40, 50, 60, 70, 80, 90, 100});
  const CurveRow rows[] = {
      {"below p0 gives 100", shifted, 100, 2, 3, 100},
      {"exactly on p0", shifted, 100, 2, 5, 0},
      {"inside the first segment", kSteep, 100, 0, 25, 5},
      {"a point value gives its index times 10", kSteep, 100, 0, 60, 20},
      {"equal points: the highest segment wins", flat, 100, 2, 10, 20},
      {"brake scaled by the stop", kLine, 50, 1, 40, 80},
      {"brake beyond the stop", kLine, 50, 1, 60, 100},
      {"brake relative to the stop", Curve{}, 50, 3, 40, 80},
      {"brake stop 0: brake output 100", kLine, 0, 1, 0, 100},
      {"brake stop 0: relative brake 100", Curve{}, 0, 3, 37, 100},
  };
  for (const CurveRow& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(AplicarCurva(r.state(), r.pedal, r.v), r.out);
  }
}

// The OUT bar and the chart's marker read the curve as the chart draws it: input across,
// output up, linear between the points.
TEST(CurveOutput, IsTheChartsValueAtTheInput) {
  const Curve bent = curveOf({0, 5, 12, 20, 30, 42, 55, 68, 80, 91, 100});
  EXPECT_DOUBLE_EQ(curveOutputAt(bent, 15), 8.5);
  EXPECT_DOUBLE_EQ(curveOutputAt(bent, 0), 0);
  EXPECT_DOUBLE_EQ(curveOutputAt(bent, 100), 100);
  EXPECT_DOUBLE_EQ(curveOutputAt(bent, 120), 100);  // clamped to the scale
  const CurveRow rows[] = {
      {"on a point", kSteep, 100, 0, 10, 50},
      {"between points, linear", kSteep, 100, 2, 25, 65},
      {"the default curve gives the input", kLine, 100, 2, 37, 37},
      {"full travel", kSteep, 100, 0, 100, 100},
      {"the brake relative to its stop", kSteep, 50, 1, 10, 60},
      {"the brake beyond its stop", kSteep, 50, 1, 80, 100},
      {"brake stop 0 counts as fully pressed", kSteep, 0, 1, 0, 100},
      {"the stop leaves the other pedals alone", kSteep, 50, 2, 10, 50},
  };
  for (const CurveRow& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(curveOutput(r.state(), r.pedal, r.v), r.out);
  }
}

TEST(DeadZoneBand, ConfinesTheIndicatorBetweenTheZones) {
  struct Row {
    int upper, lower;
    DeadZoneBand pro, output;
  };
  const Row rows[] = {
      {100, 0, {1, 1}, {0, 0}},  // the whole bar
      {80, 10, {41, 21}, {36, 18}},
      {0, 0, {201, 1}, {180, 0}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.upper);
    EXPECT_EQ(deadZoneBand(r.upper, r.lower), r.pro);
    EXPECT_EQ(outputBarBand(deadZoneBand(r.upper, r.lower)), r.output);
  }
  ControllerState s;
  s.clutchUpper = 90, s.clutchLower = 5;
  s.brakeUpper = 80, s.brakeLower = 10;
  s.throttleUpper = 70, s.throttleLower = 15;
  const auto bands = deadZoneBands(s);
  EXPECT_EQ(bands[kClutch], (DeadZoneBand{21, 11}));
  EXPECT_EQ(bands[kBrake], (DeadZoneBand{41, 21}));
  EXPECT_EQ(bands[kThrottle], (DeadZoneBand{61, 31}));
}

class PedalReadoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tkb-readout-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    std::filesystem::create_directories(dir_ + "/opt");
    traceFile_ = std::tmpfile();
    setTraceSink(traceFile_);
    state_.hasClutch = true;
    state_.proProfileActive = true;
    state_.brakeUpper = 60;
    state_.brakeMax = 90;
    state_.cheto = 100;
    state_.known = FieldSet::all();  // as after start-up reads that were all answered
    state_.clutchCurve = state_.brakeCurve = state_.throttleCurve = kLine;
    log_ = std::make_unique<UsageLog>(dir_);
    log_->setClock([] { return std::time_t{1700000000}; });
    log_->open(state_);
  }
  void TearDown() override {
    log_->close();
    setTraceSink(nullptr);
    std::fclose(traceFile_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // One 10 ms sample, and what the PRO page shows of it.
  ProReadout run(double clutch, double brake, double total, double throttle = 0) {
    updates_ = readout_.sample(state_, {rawFor(throttle), rawFor(brake), rawFor(clutch), totalRawFor(total)},
                               state_.brakeUpper, log_.get());
    return readout_.pro(state_);
  }
  std::string file(const std::string& path) {
    log_->close();
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    log_->open(state_);
    return ss.str();
  }
  std::string usage() { return file(dir_ + "/opt/uselog.sr0"); }
  std::string traced() {
    std::fflush(traceFile_);
    std::rewind(traceFile_);
    std::string s;
    char b[4096];
    size_t n;
    while ((n = std::fread(b, 1, sizeof b, traceFile_)) > 0) s.append(b, n);
    return s;
  }
  static int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }
  static std::int64_t packed(std::uint32_t high, std::uint32_t middle, std::uint32_t low) {
    return static_cast<std::int32_t>((high << 16) | (middle << 8) | low);
  }

  std::string dir_;
  std::FILE* traceFile_ = nullptr;
  ControllerState state_;
  std::unique_ptr<UsageLog> log_;
  PedalReadout readout_;
  MonitorUpdates updates_;  // the last sample's
};

TEST_F(PedalReadoutTest, BrakeAtFullScaleListsTheTotalInRed) {
  run(0, 0, 0);
  run(0, 100, 73.4);  // the press starts
  const ProReadout r = run(0, 100, 73.4);  // and its peak is taken
  EXPECT_EQ(r.percent[kBrake], 100);
  EXPECT_EQ(r.valueText[kBrake], "     100 %");
  EXPECT_EQ(readout_.proHistory(kBrake)[0], "#ff0000      73#");
  EXPECT_NE(traced().find("\nFreno 100.000000 -> total:73"), std::string::npos);
  // 73 is above MAX BRAKE PRESS (60): the press counts as an excess.
  EXPECT_EQ(readout_.excess().total, 73);
  // Below the limit the entry is plain.
  run(0, 50, 55);
  EXPECT_EQ(readout_.proHistory(kBrake)[0], "#ff0000      73#");
  run(0, 10, 10);
  run(0, 30, 31);
  run(0, 30, 31);
  EXPECT_EQ(readout_.proHistory(kBrake)[0], "     31");
}

TEST_F(PedalReadoutTest, ClutchPressIsListedLoggedAndShifted) {
  run(0, 0, 0);  // the start-up "presses" end and are logged
  const std::string atRest = usage();
  EXPECT_EQ(count(atRest, "     -- [Embrague Max]"), 1);
  EXPECT_EQ(count(atRest, "     -- [Freno Max]"), 1);
  EXPECT_EQ(count(atRest, "     -- [Acelerador Max]"), 1);

  readout_.sample(state_, {rawFor(0), rawFor(0), static_cast<int16_t>(7864 - 32767), totalRawFor(0)}, 60,
                  log_.get());  // 11.9999 %: no press
  EXPECT_FALSE(readout_.proTracker(kClutch).tracking);
  run(12.5, 0, 0);
  EXPECT_TRUE(readout_.proTracker(kClutch).tracking);
  for (double v : {30.0, 64.9, 50.0, 11.0}) run(v, 0, 0);
  EXPECT_EQ(readout_.proHistory(kClutch)[0], "     64 %");
  EXPECT_TRUE(readout_.proTracker(kClutch).tracking);  // 11 % is not below 11 %
  run(10.9, 0, 0);
  EXPECT_FALSE(readout_.proTracker(kClutch).tracking);
  EXPECT_EQ(readout_.proHistory(kClutch)[0], kEmptyHistoryEntry);
  EXPECT_EQ(readout_.proHistory(kClutch)[1], "     64 %");
  EXPECT_EQ(count(usage(), "[14/11/2023 - 22:13:20]      64 % [Embrague Max]\n"), 1);
}

TEST_F(PedalReadoutTest, BrakePressEndsBelowTwentyAndFeedsTheStatistics) {
  state_.brakeUpper = 40;  // MAX BRAKE PRESS
  run(0, 0, 0);
  auto press = [&](double total) {
    run(0, 30, total);
    run(0, 30, total);
  };
  const BrakeExcess& e = readout_.excess();
  // The first excess of exactly 50 is what the brake total shows without data: skipped.
  press(50);
  EXPECT_EQ(e.total, 50);
  run(0, 20.5, 40);
  EXPECT_TRUE(readout_.proTracker(kBrake).tracking);  // still open at 20.5 %
  run(0, 19.9, 10);
  EXPECT_FALSE(readout_.proTracker(kBrake).tracking);
  EXPECT_EQ(e.numero, 0);
  EXPECT_EQ(e.parcial, 0);
  EXPECT_EQ(e.total, 0);

  // A 73 counts, and once something was counted a 50 counts too.
  press(73.4);
  run(0, 10, 10);
  EXPECT_EQ(e.numero, 1);
  press(50);
  run(0, 10, 10);
  EXPECT_EQ(e.numero, 2);
  EXPECT_EQ(e.parcial, 123);
  // A press that stays under MAX BRAKE PRESS adds nothing.
  press(35);
  run(0, 10, 10);
  EXPECT_EQ(e.numero, 2);
  const std::string text = traced();
  EXPECT_NE(text.find("\nParcial 0  -> numero:0"), std::string::npos);
  EXPECT_NE(text.find("\nParcial 123  -> numero:2"), std::string::npos);
  // Every brake press also went to the brake log.
  const std::string brake = file(dir_ + "/brake.txt");
  EXPECT_EQ(count(brake, "     73\n"), 1);
  EXPECT_EQ(count(brake, "     50\n"), 2);
  EXPECT_EQ(count(brake, "     35\n"), 1);
}

TEST_F(PedalReadoutTest, CustomBrakeColumnListsOutputPeaks) {
  state_.brakeCurve = kSteep;
  run(0, 0, 0);  // the start-up "press" ends: one shift
  run(0, 10, 0);
  run(0, 10.5, 0);  // shown as 10: 10 % does not start a press
  for (double v : {30.0, 47.0, 20.0}) run(0, v, 0);
  EXPECT_EQ(readout_.customHistory()[0], "87 ");  // the OUT value at the 47 % peak
  EXPECT_EQ(readout_.custom(state_).output[kBrake], 60);  // what the OUT label shows now, at 20 %
  run(0, 8, 0);
  EXPECT_EQ(readout_.customHistory()[0], kEmptyHistoryEntry);
  EXPECT_EQ(readout_.customHistory()[1], "87 ");
}

TEST_F(PedalReadoutTest, PedalUpdateCarriesEachPagesValues) {
  struct Row {
    const char* what;
    bool pro, hasClutch;
    int cheto, brakeMax;
    std::optional<Field> unknown;
    double clutch, brake, total, throttle;
    std::optional<std::pair<std::int64_t, std::int64_t>> sent;
  };
  const Row rows[] = {
      {"PRO: the limiter wider than a byte rides in bits 16 and up", true, true, 100, 300, {},
       64.9, 30, 31, 80, {{packed(300, 60, 2), packed(64, 30, 80)}}},
      {"PRO, two pedals: no clutch byte, no clutch bit", true, false, 100, 90, {}, 64.9, 30, 31,
       80, {{packed(90, 60, 0), packed(0, 30, 80)}}},
      {"PRO with the limiter unknown", true, true, 100, 90, Field::BrakeMax, 20, 40, 41, 70, std::nullopt},
      {"CUSTOM: the brake relative to the stop", false, true, 50, 90, {}, 20, 40, 41, 70,
       {{packed(50, 60, 3), packed(20, 80, 70)}}},
      {"CUSTOM: a tiny stop keeps the brake in its byte", false, true, 1, 90, {}, 24, 75, 75, 10,
       {{packed(1, 60, 3), packed(24, 255, 10)}}},
      {"CUSTOM: stop 0 shows full brake", false, false, 0, 90, {}, 0, 35, 35, 0,
       {{packed(0, 60, 1), packed(0, 100, 0)}}},
      {"CUSTOM with the stop unknown", false, true, 50, 90, Field::Cheto, 20, 40, 41, 70, std::nullopt},
      {"CUSTOM with the brake upper zone unknown", false, true, 50, 90, Field::BrakeUpper, 20, 40, 41, 70,
       std::nullopt},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    state_.proProfileActive = r.pro;
    state_.sportProfileActive = !r.pro;
    state_.hasClutch = r.hasClutch;
    state_.cheto = r.cheto;
    state_.brakeMax = static_cast<int16_t>(r.brakeMax);
    state_.known = FieldSet::all();
    if (r.unknown) state_.known.remove(*r.unknown);
    // Only the active mode's page sends.
    run(r.clutch, r.brake, r.total, r.throttle);
    const auto& sent = r.pro ? updates_.pro : updates_.custom;
    EXPECT_FALSE(r.pro ? updates_.custom : updates_.pro);
    ASSERT_EQ(sent.has_value(), r.sent.has_value());
    if (!sent) continue;
    EXPECT_EQ(sent->message, monitor::kPedalUpdateMessage);
    EXPECT_EQ(sent->wParam, r.sent->first);
    EXPECT_EQ(sent->lParam, r.sent->second);
  }
}

}  // namespace
}  // namespace tkb::test
