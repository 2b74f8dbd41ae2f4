// The live bars on real widgets in the offscreen platform, driven by fixed axis values:
// the percent conversions, the trackers with their history columns and log lines, the
// brake-excess statistics, the dead-zone bands, AplicarCurva and the pedal update that a
// test socket named like the monitor receives byte for byte.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <QTimer>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <map>

#include "app/usage_log.h"
#include "monitor/monitor_datagram.h"
#include "ui/curve_chart.h"
#include "ui/frame_clock.h"
#include "ui/live_bars.h"
#include "window_fixture.h"

namespace tkb::test {
namespace {

// The lowest raw value whose percent is at least p.
int16_t rawFor(double p) { return static_cast<int16_t>(std::ceil(p * 65534.0 / 100.0 - 1e-9) - 32767); }
int16_t totalRawFor(double p) { return static_cast<int16_t>(std::ceil(p * 65034.0 / 100.0 - 1e-9) - 32767); }

// The monitor's own receiver, read raw: the datagrams byte for byte.
class TestSocket {
 public:
  explicit TestSocket(const std::string& name) : receiver_(name) { receiver_.bind(); }
  bool bound() const { return receiver_.bound(); }
  // Every datagram waiting, oldest first, byte for byte.
  std::vector<std::vector<uint8_t>> drain() {
    std::vector<std::vector<uint8_t>> all;
    uint8_t buf[64];
    ssize_t n;
    while ((n = ::recv(receiver_.fd(), buf, sizeof buf, 0)) >= 0) all.emplace_back(buf, buf + n);
    return all;
  }

 private:
  tkb::monitor::MonitorReceiver receiver_;
};

std::vector<uint8_t> expectedBytes(uint32_t w, uint32_t l) {
  std::vector<uint8_t> b;
  auto put = [&b](uint64_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  put(0x401, 4);
  put(static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(w))), 8);
  put(static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(l))), 8);
  return b;
}

class LiveBarsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qtApp();
    char pattern[] = "/tmp/tkb-bars-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    std::filesystem::create_directories(dir_ + "/opt");
    channel_ = "tkb-bars-test-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
    setenv(monitor::kChannelNameVariable, channel_.c_str(), 1);
    traceFile_ = std::tmpfile();
    setTraceSink(traceFile_);
    state_.hasClutch = true;
    state_.proProfileActive = true;
    state_.brakeUpper = 60;
    state_.brakeMax = 90;
    state_.cheto = 100;
    state_.known = FieldSet::all();  // as after start-up reads that were all answered
    for (int i = 0; i < kCurvePoints; ++i)
      state_.clutchCurve[i] = state_.brakeCurve[i] = state_.throttleCurve[i] = 10 * i;
    holder_ = std::make_unique<QWidget>();
    QWidget* host_ = holder_.get();
    log_ = std::make_unique<UsageLog>(dir_);
    log_->setClock([] { return std::time_t{1700000000}; });
    log_->open(state_);
    bars_ = std::make_unique<ui::LiveBars>(state_, links_, [this] { return axes_; },
                                           [this] { return log_.get(); });
    // Side by side, so that a repaint of one never shows through another.
    auto place = [](QWidget* w, int x, int y) { w->setGeometry(x, y, 80, 14); };
    for (int p = 0; p < 3; ++p) {
      const int x = p * 210;
      bars_->pro.bar[p] = new ui::PedalBar(host_, 30, 202);
      bars_->pro.value[p] = new QLabel("     0 %", host_);
      place(bars_->pro.value[p], x, 205);
      for (int i = 0; i < ui::kProHistoryEntries; ++i) {
        bars_->pro.history[p][i] = new QLabel(ui::kEmptyHistoryEntry, host_);
        place(bars_->pro.history[p][i], x + 40, i * 15);
      }
      bars_->pro.bar[p]->move(x, 0);
      custom_.input[p] = new ui::PedalBar(host_, 30, 202);
      custom_.input[p]->move(x, 230);
      custom_.output[p] = new ui::PedalBar(host_, 30, 202);
      custom_.output[p]->move(x + 40, 230);
      custom_.inputLabel[p] = new QLabel(host_);
      place(custom_.inputLabel[p], x, 435);
      custom_.outputLabel[p] = new QLabel(host_);
      place(custom_.outputLabel[p], x + 90, 435);
    }
    for (int i = 0; i < ui::kCustomHistoryEntries; ++i) {
      custom_.brakeHistory[i] = new QLabel(ui::kEmptyHistoryEntry, host_);
      place(custom_.brakeHistory[i], 640, 230 + i * 15);
    }
    host_->resize(740, 460);
    host_->show();
    links_.custom.bars = custom_;
  }
  void TearDown() override {
    bars_.reset();
    holder_.reset();
    log_->close();
    setTraceSink(nullptr);
    std::fclose(traceFile_);
    unsetenv(monitor::kChannelNameVariable);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // The window's next frame, now: the labels show what the bars were told.
  void frame() { ui::FrameClock::of(holder_.get()).frame(); }

  // Rest on every axis, one run: the start-up "presses" end and are logged.
  void settle() {
    axes_ = {rawFor(0), rawFor(0), rawFor(0), totalRawFor(0)};
    bars_->RefrescoBarrasPro();
  }
  void run(double clutch, double brake, double total, double throttle = 0) {
    axes_ = {rawFor(throttle), rawFor(brake), rawFor(clutch), totalRawFor(total)};
    bars_->RefrescoBarrasPro();
  }
  std::string usage() {
    log_->close();
    std::ifstream in(dir_ + "/opt/uselog.sr0");
    std::stringstream ss;
    ss << in.rdbuf();
    log_->open(state_);
    return ss.str();
  }
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

  std::string dir_, channel_;
  std::FILE* traceFile_ = nullptr;
  std::unique_ptr<QWidget> holder_;
  ControllerState state_;
  ui::PageLinks links_;
  ui::CustomBarWidgets custom_;
  PedalAxes axes_;
  std::unique_ptr<UsageLog> log_;
  std::unique_ptr<ui::LiveBars> bars_;
};

TEST(PercentConversion, FollowsTheFormulasOfEachPage) {
  struct Row {
    int16_t raw;
    int pro, custom, total;
  };
  const Row rows[] = {
      {0, 50, 50, 50},            // no data yet: 50 exactly (32767 * 100 = 50 * 65534)
      {32767, 100, 100, 100},     // full scale; the total reads about 100.77
      {-32767, 0, 0, 0},          // rest
      {-32768, 0, 0, 0},          // below rest rounds toward zero
      {rawFor(64.9), 64, 64, 65},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.raw);
    EXPECT_EQ(static_cast<int>(ui::proPercent(r.raw)), r.pro);
    EXPECT_EQ(static_cast<int>(ui::customPercent(r.raw)), r.custom);
    EXPECT_EQ(static_cast<int>(ui::brakeTotalPercent(r.raw)), r.total);
  }
  EXPECT_NEAR(ui::brakeTotalPercent(32767), 100.77, 0.01);
  EXPECT_NEAR(ui::brakeTotalPercent(0), 50.38, 0.01);
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
  for (int i = 0; i < kCurvePoints; ++i) s.clutchCurve[i] = s.brakeCurve[i] = s.throttleCurve[i] = 10 * i;
  s.cheto = 100;
  for (int v = 0; v <= 99; ++v)
    for (int pedal = 0; pedal < 3; ++pedal) ASSERT_EQ(ui::AplicarCurva(s, pedal, v), v) << pedal << " " << v;
  for (int pedal = 0; pedal < 4; ++pedal) EXPECT_EQ(ui::AplicarCurva(s, pedal, 100), 100);

  const Curve shifted{5, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
  const Curve steep{0, 50, 60, 70, 80, 90, 95, 97, 98, 99, 100};
  const Curve flat{0, 10, 10, 30, 40, 50, 60, 70, 80, 90, 100};
  const CurveRow rows[] = {
      {"below p0 gives 100", shifted, 100, 2, 3, 100},
      {"exactly on p0", shifted, 100, 2, 5, 0},
      {"inside the first segment", steep, 100, 0, 25, 5},
      {"a point value gives its index times 10", steep, 100, 0, 60, 20},
      {"equal points: the highest segment wins", flat, 100, 2, 10, 20},
      {"brake scaled by the stop", Curve{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}, 50, 1, 40, 80},
      {"brake beyond the stop", Curve{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}, 50, 1, 60, 100},
      {"brake relative to the stop", Curve{}, 50, 3, 40, 80},
      {"brake stop 0: brake output 100", Curve{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}, 0, 1, 0, 100},
      {"brake stop 0: relative brake 100", Curve{}, 0, 3, 37, 100},
  };
  for (const CurveRow& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(ui::AplicarCurva(r.state(), r.pedal, r.v), r.out);
  }
}

TEST_F(LiveBarsTest, BrakeAtFullScaleShowsTheTotalInRed) {
  settle();
  run(0, 100, 73.4);  // the press starts
  run(0, 100, 73.4);  // and its peak is taken
  EXPECT_EQ(bars_->pro.bar[1]->value(), 100);
  frame();
  EXPECT_EQ(bars_->pro.value[1]->text().toStdString(), "     100 %");
  EXPECT_EQ(bars_->proHistory(1)[0], "#ff0000      73#");
  EXPECT_TRUE(bars_->pro.history[1][0]->text().contains("ff0000"));
  EXPECT_NE(traced().find("\nFreno 100.000000 -> total:73"), std::string::npos);
  // 73 is above MAX BRAKE PRESS (60): the press counts as an excess.
  EXPECT_EQ(links_.excess.total, 73);
}

TEST_F(LiveBarsTest, ClutchPressIsListedLoggedAndShifted) {
  settle();
  const std::string atRest = usage();
  EXPECT_EQ(count(atRest, "     -- [Embrague Max]"), 1);
  EXPECT_EQ(count(atRest, "     -- [Freno Max]"), 1);
  EXPECT_EQ(count(atRest, "     -- [Acelerador Max]"), 1);

  axes_.axis3 = static_cast<int16_t>(7864 - 32767);  // 11.9999 %: shown as 11, no press
  bars_->RefrescoBarrasPro();
  EXPECT_FALSE(bars_->proTracker(0).tracking);
  run(12.5, 0, 0);
  EXPECT_TRUE(bars_->proTracker(0).tracking);
  for (double v : {30.0, 64.9, 50.0, 11.0}) run(v, 0, 0);
  EXPECT_EQ(bars_->proHistory(0)[0], "     64 %");
  frame();
  EXPECT_EQ(bars_->pro.value[0]->text().toStdString(), "     11 %");
  EXPECT_TRUE(bars_->proTracker(0).tracking);  // 11 % is not below 11 %
  run(10.9, 0, 0);
  EXPECT_FALSE(bars_->proTracker(0).tracking);
  EXPECT_EQ(bars_->proHistory(0)[0], ui::kEmptyHistoryEntry);
  EXPECT_EQ(bars_->proHistory(0)[1], "     64 %");
  frame();
  EXPECT_EQ(bars_->pro.history[0][1]->text().toStdString(), "64 %");  // drawn right-aligned
  EXPECT_EQ(count(usage(), "[14/11/2023 - 22:13:20]      64 % [Embrague Max]\n"), 1);
}

TEST_F(LiveBarsTest, BrakePressEndsBelowTwentyAndFeedsTheStatistics) {
  state_.brakeUpper = 40;  // MAX BRAKE PRESS
  settle();
  auto press = [&](double total) {
    run(0, 30, total);
    run(0, 30, total);
  };
  // The first excess of exactly 50 is what the brake total shows without data: skipped.
  press(50);
  EXPECT_EQ(links_.excess.total, 50);
  run(0, 20.5, 40);
  EXPECT_TRUE(bars_->proTracker(1).tracking);  // still open at 20.5 %
  run(0, 19.9, 10);
  EXPECT_FALSE(bars_->proTracker(1).tracking);
  EXPECT_EQ(links_.excess.numero, 0);
  EXPECT_EQ(links_.excess.parcial, 0);
  EXPECT_EQ(links_.excess.total, 0);

  // A 73 counts, and once something was counted a 50 counts too.
  press(73.4);
  run(0, 10, 10);
  EXPECT_EQ(links_.excess.numero, 1);
  press(50);
  run(0, 10, 10);
  EXPECT_EQ(links_.excess.numero, 2);
  EXPECT_EQ(links_.excess.parcial, 123);
  // A press that stays under MAX BRAKE PRESS adds nothing.
  press(35);
  run(0, 10, 10);
  EXPECT_EQ(links_.excess.numero, 2);
  const std::string text = traced();
  EXPECT_NE(text.find("\nParcial 0  -> numero:0"), std::string::npos);
  EXPECT_NE(text.find("\nParcial 123  -> numero:2"), std::string::npos);
  // Every brake press also went to the brake log.
  log_->close();
  std::ifstream in(dir_ + "/brake.txt");
  std::stringstream ss;
  ss << in.rdbuf();
  EXPECT_EQ(count(ss.str(), "     73\n"), 1);
  EXPECT_EQ(count(ss.str(), "     50\n"), 2);
  EXPECT_EQ(count(ss.str(), "     35\n"), 1);
}

TEST_F(LiveBarsTest, ProAndCustomDatagramsReachTheMonitorByteForByte) {
  TestSocket monitor(channel_);
  ASSERT_TRUE(monitor.bound());
  state_.brakeMax = 300;  // wider than a byte: it rides in bits 16 and up
  state_.brakeUpper = 60;
  run(64.9, 30, 31, 80);
  auto got = monitor.drain();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], expectedBytes((300u << 16) | (60u << 8) | 2u, (64u << 16) | (30u << 8) | 80u));

  // Two pedals: no clutch byte, no clutch bit; the clutch widgets are left alone.
  state_.hasClutch = false;
  run(64.9, 30, 31, 80);
  got = monitor.drain();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], expectedBytes((300u << 16) | (60u << 8) | 0u, (0u << 16) | (30u << 8) | 80u));
  EXPECT_EQ(bars_->pro.bar[0]->value(), 64);

  // CUSTOM mode: only the CUSTOM refresh sends, with the brake relative to the stop.
  state_.proProfileActive = false;
  state_.sportProfileActive = true;
  state_.hasClutch = true;
  state_.cheto = 50;
  run(20, 40, 41, 70);
  EXPECT_TRUE(monitor.drain().empty());
  bars_->RefrescoBarrasSport();
  got = monitor.drain();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], expectedBytes((50u << 16) | (60u << 8) | 3u, (20u << 16) | (80u << 8) | 70u));
  EXPECT_EQ(custom_.output[1]->value(), 80);
  EXPECT_EQ(custom_.input[1]->value(), 40);
  frame();
  EXPECT_EQ(custom_.outputLabel[1]->text().toStdString(), "80 ");
  EXPECT_EQ(custom_.inputLabel[2]->text().toStdString(), "70 ");

  // A brake setting the controller did not report is never shown on the monitor.
  for (Field unknown : {Field::Cheto, Field::BrakeUpper}) {
    state_.known = FieldSet::all();
    state_.known.remove(unknown);
    bars_->RefrescoBarrasSport();
    EXPECT_TRUE(monitor.drain().empty());
  }
  state_.proProfileActive = true;
  state_.sportProfileActive = false;
  state_.known = FieldSet::all();
  state_.known.remove(Field::BrakeMax);
  run(20, 40, 41, 70);
  EXPECT_TRUE(monitor.drain().empty());
}

// The OUT bar reads the curve as its chart draws it: input across, output up.
TEST(CurveOutput, IsTheChartsValueAtTheInput) {
  const Curve steep{0, 50, 60, 70, 80, 90, 95, 97, 98, 99, 100};
  const Curve line{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
  const CurveRow rows[] = {
      {"on a point", steep, 100, 0, 10, 50},
      {"between points, linear", steep, 100, 2, 25, 65},
      {"the default curve gives the input", line, 100, 2, 37, 37},
      {"full travel", steep, 100, 0, 100, 100},
      {"the brake relative to its stop", steep, 50, 1, 10, 60},
      {"the brake beyond its stop", steep, 50, 1, 80, 100},
      {"brake stop 0 counts as fully pressed", steep, 0, 1, 0, 100},
      {"the stop leaves the other pedals alone", steep, 50, 2, 10, 50},
  };
  for (const CurveRow& r : rows) {
    SCOPED_TRACE(r.what);
    const ControllerState t = r.state();
    EXPECT_EQ(ui::curveOutput(t, r.pedal, r.v), r.out);
    EXPECT_EQ(ui::curveOutput(t, r.pedal, r.v),
              static_cast<int>(ui::curveOutputAt(r.curve, ui::curveInput(t, r.pedal, r.v))));
  }
}

// With a small brake stop the brake relative to it is far above 100: its byte stops at 255
// instead of spilling into the clutch byte.
TEST_F(LiveBarsTest, EveryMonitorByteStaysInItsByte) {
  TestSocket monitor(channel_);
  ASSERT_TRUE(monitor.bound());
  state_.proProfileActive = false;
  state_.sportProfileActive = true;
  state_.cheto = 1;
  axes_ = {rawFor(10), rawFor(75), rawFor(24), totalRawFor(75)};
  bars_->RefrescoBarrasSport();
  const auto got = monitor.drain();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], expectedBytes((1u << 16) | (60u << 8) | 3u, (24u << 16) | (255u << 8) | 10u));
}

TEST_F(LiveBarsTest, BrakeStopZeroShowsFullBrakeOnTheCustomPage) {
  TestSocket monitor(channel_);
  ASSERT_TRUE(monitor.bound());
  state_.proProfileActive = false;
  state_.sportProfileActive = true;
  state_.cheto = 0;
  for (double brake : {0.0, 35.0, 100.0}) {
    run(0, brake, brake);
    bars_->RefrescoBarrasSport();
    EXPECT_EQ(custom_.output[1]->value(), 100) << brake;
    const auto got = monitor.drain();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0][12 + 1], 100) << "brake byte of lParam";
  }
}

TEST_F(LiveBarsTest, CustomBrakeColumnListsOutputPeaks) {
  state_.sportProfileActive = true;
  state_.proProfileActive = false;
  auto sport = [&](double brake) {
    axes_ = {rawFor(0), rawFor(brake), rawFor(0), 0};
    bars_->RefrescoBarrasSport();
  };
  sport(0);  // the start-up "press" ends: one shift without a log line
  sport(10);
  sport(10.5);
  for (double v : {30.0, 47.0, 20.0}) sport(v);
  EXPECT_EQ(bars_->customHistory()[0], "47 ");
  sport(8);
  EXPECT_EQ(bars_->customHistory()[0], ui::kEmptyHistoryEntry);
  EXPECT_EQ(bars_->customHistory()[1], "47 ");
  frame();
  EXPECT_EQ(custom_.brakeHistory[1]->text().toStdString(), "47 ");
  EXPECT_EQ(count(usage(), "[Freno Max]"), 0);
}

// Paint events per widget, and the frames the window's clock ran meanwhile.
class PaintCount : public QObject {
 public:
  explicit PaintCount(QWidget* window) {
    qApp->installEventFilter(this);
    connect(&ui::FrameClock::of(window), &ui::FrameClock::frameStarted, this, [this] { ++frames; });
  }
  ~PaintCount() override { qApp->removeEventFilter(this); }
  int of(const QObject* widget) const {
    const auto it = paints.find(widget);
    return it == paints.end() ? 0 : it->second;
  }
  std::map<const QObject*, int> paints;
  int frames = 0;

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints[object];
    return false;
  }
};

class LiveBarsFrameTest : public LiveBarsTest {
 protected:
  // Both refreshes every 10 ms, as the program runs them, for `runs` runs: the brake and
  // the throttle take a new value on every run, the clutch stays at 30 %. afterRun: what
  // the monitor does between two runs.
  void drive(int runs, const std::function<void()>& afterRun = {}) {
    int done = 0;
    QTimer task;
    task.setTimerType(Qt::PreciseTimer);
    task.setInterval(10);
    QObject::connect(&task, &QTimer::timeout, [&] {
      ++done;
      run(30, 20 + done % 60, 21 + done % 60, 10 + done % 80);
      bars_->RefrescoBarrasSport();
      if (afterRun) afterRun();
    });
    task.start();
    ASSERT_TRUE(waitFor([&] { return done >= runs; }));
  }
  // The clutch at 30 % already, and the window's paints taken, before counting.
  void settleWindow() {
    run(30, 20, 21, 10);
    bars_->RefrescoBarrasSport();
    pass(150);
  }
  static void pass(int ms) {
    QElapsedTimer t;
    t.start();
    waitFor([&] { return t.elapsed() > ms; });
  }
};

TEST_F(LiveBarsFrameTest, EachWidgetRepaintsAtMostOncePerFrameAndAnUnchangedOneNever) {
  settleWindow();
  PaintCount count(holder_.get());
  QElapsedTimer wall;
  wall.start();
  drive(40);
  pass(150);  // the last frame's paints
  const auto elapsed = wall.elapsed();

  // Frames are a period apart; the values changed four or five times per frame.
  EXPECT_GE(count.frames, 2);
  EXPECT_LE(count.frames, elapsed / ui::kFramePeriodMs + 1);
  const std::vector<std::pair<const char*, QWidget*>> moving = {
      {"PRO brake bar", bars_->pro.bar[1]},           {"PRO throttle bar", bars_->pro.bar[2]},
      {"PRO brake value", bars_->pro.value[1]},       {"PRO throttle value", bars_->pro.value[2]},
      {"CUSTOM brake input", custom_.input[1]},       {"CUSTOM brake output", custom_.output[1]},
      {"CUSTOM throttle label", custom_.inputLabel[2]}, {"PRO brake history", bars_->pro.history[1][0]},
  };
  for (const auto& [what, widget] : moving) {
    SCOPED_TRACE(what);
    EXPECT_GE(count.of(widget), 1);
    EXPECT_LE(count.of(widget), count.frames);
  }
  // The clutch did not move: its bars and labels were neither set nor repainted.
  for (const QWidget* still : std::initializer_list<const QWidget*>{
           bars_->pro.bar[0], bars_->pro.value[0], custom_.input[0], custom_.inputLabel[0], custom_.outputLabel[0]})
    EXPECT_EQ(count.of(still), 0) << still->metaObject()->className();
  EXPECT_EQ(bars_->pro.value[0]->text().toStdString(), "     30 %");
}

TEST_F(LiveBarsFrameTest, NothingRepaintsWhileMinimisedOrHiddenAndTheFeedGoesOn) {
  struct Row {
    const char* what;
    void (QWidget::*away)();
    void (QWidget::*back)();
  };
  for (const Row& r : {Row{"minimised", &QWidget::showMinimized, &QWidget::showNormal},
                       Row{"hidden", &QWidget::hide, &QWidget::show}}) {
    SCOPED_TRACE(r.what);
    TestSocket monitor(channel_);
    ASSERT_TRUE(monitor.bound());
    settleWindow();
    monitor.drain();
    (holder_.get()->*r.away)();
    PaintCount count(holder_.get());
    size_t received = 0;
    drive(30, [&] { received += monitor.drain().size(); });
    EXPECT_EQ(received, 30u);
    pass(150);
    EXPECT_TRUE(count.paints.empty());
    EXPECT_EQ(count.frames, 0);
    // The trackers went on (a throttle press started and peaked); the labels wait.
    EXPECT_TRUE(bars_->proTracker(2).tracking);
    const std::string shown = "     " + std::to_string(bars_->pro.bar[2]->value()) + " %";
    (holder_.get()->*r.back)();
    EXPECT_TRUE(waitFor([&] { return bars_->pro.value[2]->text().toStdString() == shown; }, 5000));
    EXPECT_TRUE(waitFor([&] { return count.of(bars_->pro.bar[2]) > 0; }, 5000));
  }
}

TEST_F(LiveBarsTest, ActualizarBarrasConfinesTheBandsOfBothPages) {
  std::vector<std::array<int, 3>> custom;
  links_.custom.styleOutputBar = [&](int pedal, int top, int bottom) { custom.push_back({pedal, top, bottom}); };
  struct Row {
    int upper, lower, top, bottom, customTop, customBottom;
  };
  for (const Row& r : {Row{100, 0, 1, 1, 0, 0}, Row{80, 10, 41, 21, 36, 18}}) {
    custom.clear();
    state_.clutchUpper = state_.brakeUpper = state_.throttleUpper = r.upper;
    state_.clutchLower = state_.brakeLower = state_.throttleLower = r.lower;
    bars_->ActualizarBarras();
    for (int p = 0; p < 3; ++p) {
      const auto& s = bars_->pro.bar[p]->indicatorStyle();
      EXPECT_EQ(s.padTop, r.top);
      EXPECT_EQ(s.padBottom, r.bottom);
      EXPECT_EQ(s.padLeft, 1);
      EXPECT_EQ(s.radius, 2);
      EXPECT_EQ(s.indicator, QColor(0xC5, 0x71, 0x2F));
    }
    ASSERT_EQ(custom.size(), 3u);
    EXPECT_EQ(custom[1][1], r.customTop);
    EXPECT_EQ(custom[1][2], r.customBottom);
  }
  bars_->plainProBars();
  EXPECT_EQ(bars_->pro.bar[1]->indicatorStyle().padTop, 1);
  EXPECT_EQ(bars_->pro.bar[1]->indicatorStyle().padBottom, 1);
}

}  // namespace
}  // namespace tkb::test
