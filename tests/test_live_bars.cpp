// The two views of the live bars on real widgets in the offscreen platform, driven by fixed
// axis values: the widgets show what the readout computed, the dead-zone bands land on the
// bars, the pedal update reaches a test socket named like the monitor byte for byte, and a
// widget repaints only when what it shows changes, at most once per frame.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <QTimer>

#include <cmath>
#include <map>

#include "app/usage_log.h"
#include "link/monitor_datagram.h"
#include "ui/frame_clock.h"
#include "ui/live_bars.h"
#include "ui/widgets.h"
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
    bars_ = std::make_unique<ui::ProBars>(readout_, state_, [this] { return axes_; },
                                          [this] { return log_.get(); });
    sport_ = std::make_unique<ui::CustomBars>(readout_, state_, [this] { return axes_; });
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
    sport_->widgets = custom_;
  }
  void TearDown() override {
    bars_.reset();
    sport_.reset();
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

  std::string dir_, channel_;
  std::FILE* traceFile_ = nullptr;
  std::unique_ptr<QWidget> holder_;
  ControllerState state_;
  PedalReadout readout_;
  ui::CustomBarWidgets custom_;
  PedalAxes axes_;
  std::unique_ptr<UsageLog> log_;
  std::unique_ptr<ui::ProBars> bars_;
  std::unique_ptr<ui::CustomBars> sport_;
};

TEST_F(LiveBarsTest, ProWidgetsShowWhatTheReadoutComputed) {
  settle();
  run(64.9, 100, 73.4, 80);  // the presses start
  run(64.9, 100, 73.4, 80);  // and their peaks are taken
  frame();
  const char* values[3] = {"     64 %", "     100 %", "     80 %"};
  for (int p = 0; p < 3; ++p) {
    SCOPED_TRACE(p);
    EXPECT_EQ(bars_->pro.bar[p]->value(), std::stoi(values[p]));
    EXPECT_EQ(bars_->pro.value[p]->text().toStdString(), values[p]);
  }
  // The brake entry's markup becomes red rich text; the others are drawn right-aligned.
  EXPECT_EQ(bars_->proHistory(1)[0], "#ff0000      73#");
  EXPECT_EQ(bars_->pro.history[1][0]->text(), ui::recolourToRichText("#ff0000      73#"));
  EXPECT_EQ(bars_->pro.history[0][0]->text().toStdString(), "64 %");
  run(5, 10, 10, 5);  // every press ends: the columns move down
  frame();
  for (int p = 0; p < 3; ++p) {
    SCOPED_TRACE(p);
    EXPECT_EQ(bars_->pro.history[p][0]->text().trimmed().toStdString(), "--");
    EXPECT_FALSE(bars_->pro.history[p][1]->text().contains("--"));
  }
  // Two pedals: the clutch widgets are left as they were.
  state_.hasClutch = false;
  run(30, 10, 10, 5);
  frame();
  EXPECT_EQ(bars_->pro.bar[0]->value(), 5);
  EXPECT_EQ(bars_->pro.value[0]->text().toStdString(), "     5 %");
}

TEST_F(LiveBarsTest, CustomWidgetsShowWhatTheReadoutComputed) {
  state_.cheto = 50;
  state_.throttleCurve = Curve{0, 50, 60, 70, 80, 90, 95, 97, 98, 99, 100};
  axes_ = {rawFor(0), rawFor(0), rawFor(0), 0};
  sport_->RefrescoBarrasSport();  // the start-up "press" ends
  axes_ = {rawFor(25), rawFor(40), rawFor(20), 0};
  sport_->RefrescoBarrasSport();  // the brake press starts
  sport_->RefrescoBarrasSport();  // and its peak is taken
  frame();
  const int in[3] = {20, 40, 25}, out[3] = {20, 80, 65};
  for (int p = 0; p < 3; ++p) {
    SCOPED_TRACE(p);
    EXPECT_EQ(custom_.input[p]->value(), in[p]);
    EXPECT_EQ(custom_.output[p]->value(), out[p]);
    EXPECT_EQ(custom_.inputLabel[p]->text().toStdString(), std::to_string(in[p]) + " ");
    EXPECT_EQ(custom_.outputLabel[p]->text().toStdString(), std::to_string(out[p]) + " ");
  }
  EXPECT_EQ(custom_.brakeHistory[0]->text().toStdString(), "80 ");
  axes_.axis2 = rawFor(5);
  sport_->RefrescoBarrasSport();
  frame();
  EXPECT_EQ(custom_.brakeHistory[0]->text().toStdString(), ui::kEmptyHistoryEntry);
  EXPECT_EQ(custom_.brakeHistory[1]->text().toStdString(), "80 ");
}

TEST_F(LiveBarsTest, EachPagesUpdateReachesTheMonitorByteForByte) {
  TestSocket monitor(channel_);
  ASSERT_TRUE(monitor.bound());
  state_.brakeMax = 300;  // wider than a byte: it rides in bits 16 and up
  run(64.9, 30, 31, 80);
  sport_->RefrescoBarrasSport();  // CUSTOM is not the active mode: nothing
  auto got = monitor.drain();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], expectedBytes((300u << 16) | (60u << 8) | 2u, (64u << 16) | (30u << 8) | 80u));
  EXPECT_EQ(bars_->sentDatagrams(), 1);

  state_.proProfileActive = false;
  state_.sportProfileActive = true;
  state_.cheto = 50;
  run(20, 40, 41, 70);
  sport_->RefrescoBarrasSport();
  got = monitor.drain();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], expectedBytes((50u << 16) | (60u << 8) | 3u, (20u << 16) | (80u << 8) | 70u));
  EXPECT_EQ(sport_->sentDatagrams(), 1);
}

TEST_F(LiveBarsTest, DeadZoneBandsLandOnTheBarsOfBothPages) {
  state_.clutchUpper = state_.brakeUpper = state_.throttleUpper = 80;
  state_.clutchLower = state_.brakeLower = state_.throttleLower = 10;
  bars_->showBands();
  sport_->showBands();
  for (int p = 0; p < 3; ++p) {
    SCOPED_TRACE(p);
    const auto& s = bars_->pro.bar[p]->indicatorStyle();
    EXPECT_EQ(s.padTop, 41);
    EXPECT_EQ(s.padBottom, 21);
    EXPECT_EQ(s.padLeft, 1);
    EXPECT_EQ(s.radius, 2);
    EXPECT_EQ(s.indicator, QColor(0xC5, 0x71, 0x2F));
    const auto& o = custom_.output[p]->indicatorStyle();
    EXPECT_EQ(o.padTop, 36);
    EXPECT_EQ(o.padBottom, 18);
    EXPECT_EQ(o.radius, 0);
    EXPECT_EQ(custom_.input[p]->indicatorStyle().padTop, 1);  // the IN bars keep their whole height
  }
  bars_->plainProBars();
  EXPECT_EQ(bars_->pro.bar[1]->indicatorStyle().padTop, 1);
  EXPECT_EQ(bars_->pro.bar[1]->indicatorStyle().padBottom, 1);
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
      sport_->RefrescoBarrasSport();
      if (afterRun) afterRun();
    });
    task.start();
    ASSERT_TRUE(waitFor([&] { return done >= runs; }));
  }
  // The clutch at 30 % already, and the window's paints taken, before counting.
  void settleWindow() {
    run(30, 20, 21, 10);
    sport_->RefrescoBarrasSport();
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

}  // namespace
}  // namespace tkb::test
