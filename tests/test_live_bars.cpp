// The two views of the live bars in the real window (offscreen), on the session's 10 ms feed
// with the pedals held at fixed axis values: the open page's widgets show what the readout
// computed, the dead-zone bands land on the bars, the feed's pedal update reaches a test
// socket named like the monitor byte for byte, and a widget repaints only when what it shows
// changes, at most once per frame and alone (the window's full-size layers never repaint for
// a live change, and the live labels show the same pixels as drawn over them); a chart's
// live marker repaints its old and new place only; nothing repaints while the window is away,
// and the feed goes on.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <QTimer>

#include <cmath>
#include <map>

#include <QPaintEvent>
#include <QScreen>

#include "link/monitor_datagram.h"
#include "ui/curve_chart.h"
#include "ui/frame_clock.h"
#include "ui/live_background.h"
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

class LiveBarsTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    channel_ = "tkb-bars-test-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
    setenv(monitor::kChannelNameVariable, channel_.c_str(), 1);
  }
  void TearDown() override {
    WindowTest::TearDown();
    unsetenv(monitor::kChannelNameVariable);
  }

  // The window on pedals held where the test puts them; the feed runs when the test says.
  void start(const std::function<void(emu::FirmwareState&)>& setUp = {}) {
    startEmulator([&](emu::FirmwareState& s) {
      s.zones.brakeUpper = 60;
      if (setUp) setUp(s);
    });
    auto pedals = std::make_unique<FixedPedalInput>();
    pedals_ = pedals.get();
    makeApp(true, std::move(pedals));
    startAndWait(ui::Application::Phase::Running);
    model().setFeedRunning(false);
  }
  const ui::ProBarWidgets& pro() { return pages_->pro->bars().pro; }
  const ui::CustomBarWidgets& custom() { return pages_->sport->bars().widgets; }
  // The window's next frame, now: the labels show what the bars were told.
  void frame() { ui::FrameClock::of(app_->window()).frame(); }

  // One step of the feed with the pedals at these percents.
  void run(double clutch, double brake, double total, double throttle = 0) {
    pedals_->set({rawFor(throttle), rawFor(brake), rawFor(clutch), totalRawFor(total)});
    model().feedTick();
  }
  // Rest on every axis, one step: the start-up "presses" end.
  void rest() { run(0, 0, 0, 0); }

  std::string channel_;
  FixedPedalInput* pedals_ = nullptr;
};

TEST_F(LiveBarsTest, ProWidgetsShowWhatTheReadoutComputed) {
  start();
  click(app_->mainPage().pro);
  rest();
  run(64.9, 100, 73.4, 80);  // the presses start
  run(64.9, 100, 73.4, 80);  // and their peaks are taken
  frame();
  const char* values[3] = {"     64 %", "     100 %", "     80 %"};
  for (int p = 0; p < 3; ++p) {
    SCOPED_TRACE(p);
    EXPECT_EQ(pro().bar[p]->value(), std::stoi(values[p]));
    EXPECT_EQ(pro().value[p]->text().toStdString(), values[p]);
  }
  // The brake entry's markup becomes red rich text; the others are drawn right-aligned.
  EXPECT_EQ(model().readout().proHistory(1)[0], "#ff0000      73#");
  EXPECT_EQ(pro().history[1][0]->text(), ui::recolourToRichText("#ff0000      73#"));
  EXPECT_EQ(pro().history[0][0]->text().toStdString(), "64 %");
  run(5, 10, 10, 5);  // every press ends: the columns move down
  frame();
  for (int p = 0; p < 3; ++p) {
    SCOPED_TRACE(p);
    EXPECT_EQ(pro().history[p][0]->text().trimmed().toStdString(), "--");
    EXPECT_FALSE(pro().history[p][1]->text().contains("--"));
  }
}

TEST_F(LiveBarsTest, CustomWidgetsShowWhatTheReadoutComputed) {
  start([](emu::FirmwareState& s) {
    s.configFlags = 0x0F;  // CUSTOM loaded and active
    s.cheto = 50;
    s.chetoActive = 1;
    s.curves.throttle = Curve{0, 50, 60, 70, 80, 90, 95, 97, 98, 99, 100};
  });
  click(app_->mainPage().custom);
  rest();
  run(20, 40, 0, 25);  // the brake press starts
  run(20, 40, 0, 25);  // and its peak is taken
  frame();
  const int in[3] = {20, 40, 25}, out[3] = {20, 80, 65};
  for (int p = 0; p < 3; ++p) {
    SCOPED_TRACE(p);
    EXPECT_EQ(custom().input[p]->value(), in[p]);
    EXPECT_EQ(custom().output[p]->value(), out[p]);
    EXPECT_EQ(custom().inputLabel[p]->text().toStdString(), std::to_string(in[p]) + " ");
    EXPECT_EQ(custom().outputLabel[p]->text().toStdString(), std::to_string(out[p]) + " ");
  }
  EXPECT_EQ(custom().brakeHistory[0]->text().toStdString(), "80 ");
  run(20, 5, 0, 25);
  frame();
  EXPECT_EQ(custom().brakeHistory[0]->text().toStdString(), ui::kEmptyHistoryEntry);
  EXPECT_EQ(custom().brakeHistory[1]->text().toStdString(), "80 ");
}

// One sender, whatever page is open: the update of the mode in force, byte for byte.
TEST_F(LiveBarsTest, TheModesUpdateReachesTheMonitorByteForByte) {
  TestSocket monitor(channel_);
  ASSERT_TRUE(monitor.bound());
  start();
  monitor.drain();
  run(64.9, 30, 31, 80);
  auto got = monitor.drain();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], expectedBytes((90u << 16) | (60u << 8) | 2u, (64u << 16) | (30u << 8) | 80u));

  click(app_->mainPage().custom);  // CUSTOM in force (brake stop 100)
  monitor.drain();
  run(20, 40, 41, 70);
  got = monitor.drain();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], expectedBytes((100u << 16) | (60u << 8) | 3u, (20u << 16) | (40u << 8) | 70u));
}

TEST_F(LiveBarsTest, DeadZoneBandsLandOnTheBarsOfBothPages) {
  start([](emu::FirmwareState& s) {
    s.zones = {80, 10, 80, 10, 80, 10};
  });
  for (int p = 0; p < 3; ++p) {
    SCOPED_TRACE(p);
    const auto& s = pro().bar[p]->indicatorStyle();
    EXPECT_EQ(s.padTop, 41);
    EXPECT_EQ(s.padBottom, 21);
    EXPECT_EQ(s.padLeft, 1);
    EXPECT_EQ(s.radius, 2);
    EXPECT_EQ(s.indicator, QColor(0xC5, 0x71, 0x2F));
    const auto& o = custom().output[p]->indicatorStyle();
    EXPECT_EQ(o.padTop, 36);
    EXPECT_EQ(o.padBottom, 18);
    EXPECT_EQ(o.radius, 0);
    EXPECT_EQ(custom().input[p]->indicatorStyle().padTop, 1);  // the IN bars keep their whole height
  }
  pages_->pro->bars().plainProBars();
  EXPECT_EQ(pro().bar[1]->indicatorStyle().padTop, 1);
  EXPECT_EQ(pro().bar[1]->indicatorStyle().padBottom, 1);
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
  // The feed every 10 ms, as the program runs it, for `runs` steps: the brake and the
  // throttle take a new value on every step (the brake from 1 %, so that its press ends and a
  // new one starts), the clutch stays at 30 %. afterRun: what the monitor does between two
  // steps.
  void drive(int runs, const std::function<void()>& afterRun = {}) {
    int done = 0;
    QTimer task;
    task.setTimerType(Qt::PreciseTimer);
    task.setInterval(10);
    QObject::connect(&task, &QTimer::timeout, [&] {
      ++done;
      run(30, done % 60, 1 + done % 60, 10 + done % 80);
      if (afterRun) afterRun();
    });
    task.start();
    ASSERT_TRUE(waitFor([&] { return done >= runs; }));
  }
  // The clutch at 30 % already, and the window's paints taken, before counting.
  void settleWindow() {
    run(30, 20, 21, 10);
    pass(150);
  }
  static void pass(int ms) {
    QElapsedTimer t;
    t.start();
    waitFor([&] { return t.elapsed() > ms; });
  }
};

// The window (1300 x 640), its background, the page containers and the backdrop (820 x 560).
std::vector<QWidget*> fullSizeLayers(QWidget* window) {
  std::vector<QWidget*> layers{window};
  for (QWidget* w : window->findChildren<QWidget*>())
    if (w->width() >= 820 && w->height() >= 560) layers.push_back(w);
  return layers;
}

TEST_F(LiveBarsFrameTest, EachWidgetRepaintsAloneAtMostOncePerFrameAndAnUnchangedOneNever) {
  start();
  struct Row {
    const char* page;
    QPushButton *open, *close;
    std::vector<std::pair<const char*, QWidget*>> moving;
    std::vector<QWidget*> still;  // the clutch did not move; the other page is not shown
  };
  const Row rows[] = {
      {"PRO", app_->mainPage().pro, pages_->pro->close,
       {{"PRO brake bar", pro().bar[1]},
        {"PRO throttle bar", pro().bar[2]},
        {"PRO brake value", pro().value[1]},
        {"PRO throttle value", pro().value[2]},
        {"PRO brake history", pro().history[1][0]}},
       {pro().bar[0], pro().value[0], custom().input[1], custom().outputLabel[2]}},
      {"CUSTOM", app_->mainPage().custom, pages_->sport->widgets().close,
       {{"CUSTOM brake IN bar", custom().input[1]},
        {"CUSTOM throttle OUT bar", custom().output[2]},
        {"CUSTOM brake IN value", custom().inputLabel[1]},
        {"CUSTOM throttle OUT value", custom().outputLabel[2]},
        {"CUSTOM brake history", custom().brakeHistory[0]}},
       {custom().input[0], custom().outputLabel[0], pro().bar[1], pro().value[2]}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.page);
    click(r.open);
    settleWindow();
    PaintCount count(app_->window());
    QElapsedTimer wall;
    wall.start();
    drive(40);
    pass(150);  // the last frame's paints
    const auto elapsed = wall.elapsed();

    // Frames are a period apart; the values changed four or five times per frame.
    EXPECT_GE(count.frames, 2);
    EXPECT_LE(count.frames, elapsed / ui::kFramePeriodMs + 1);
    for (const auto& [what, widget] : r.moving) {
      SCOPED_TRACE(what);
      EXPECT_GE(count.of(widget), 1);
      EXPECT_LE(count.of(widget), count.frames);
    }
    for (const QWidget* still : r.still) EXPECT_EQ(count.of(still), 0) << still->metaObject()->className();
    // Whatever moved, the layers under the live widgets were left alone.
    const auto layers = fullSizeLayers(app_->window());
    EXPECT_GE(layers.size(), 5u);
    for (const QWidget* layer : layers)
      EXPECT_EQ(count.of(layer), 0) << layer->metaObject()->className() << " " << layer->objectName().toStdString();
    click(r.close);
  }
  EXPECT_EQ(pro().value[0]->text().toStdString(), "     30 %");
}

// The live labels over their own copy of what lies under them show what the window showed
// with them drawn over the layers below, on the screen (the window's backing store, repainted
// in parts frame after frame) as in a full grab.
TEST_F(LiveBarsFrameTest, LiveLabelsShowTheSamePixelsOverTheirOwnBackground) {
  start();
  std::vector<QLabel*> proLabels, customLabels;
  for (const auto& column : pro().history) proLabels.insert(proLabels.end(), std::begin(column), std::end(column));
  proLabels.insert(proLabels.end(), std::begin(pro().value), std::end(pro().value));
  for (QLabel* const* labels : {custom().inputLabel, custom().outputLabel})
    customLabels.insert(customLabels.end(), labels, labels + 3);
  customLabels.insert(customLabels.end(), std::begin(custom().brakeHistory), std::end(custom().brakeHistory));
  auto screen = [this] {
    return QGuiApplication::primaryScreen()->grabWindow(app_->window()->winId()).toImage();
  };
  const struct {
    QPushButton *open, *close;
    std::vector<QLabel*>& labels;
  } pages[] = {{app_->mainPage().pro, pages_->pro->close, proLabels},
               {app_->mainPage().custom, pages_->sport->widgets().close, customLabels}};
  for (const auto& [open, close, labels] : pages) {
    click(open);
    settleWindow();
    drive(30);  // presses start and peak: the history columns and the values change
    run(64.9, 100, 73.4, 80);
    pass(150);
    for (QLabel* label : labels) ASSERT_TRUE(ui::paintsOwnBackground(label));
    const QImage own = screen(), ownGrab = app_->window()->grab().toImage();
    for (QLabel* label : labels) ui::stopPaintingOwnBackground(label);
    pass(150);
    EXPECT_TRUE(screen() == own);
    EXPECT_TRUE(app_->window()->grab().toImage() == ownGrab);
    for (QLabel* label : labels) ui::paintOwnBackground(label);
    pass(150);
    EXPECT_TRUE(screen() == own);
    click(close);
  }
}

TEST_F(LiveBarsFrameTest, NothingRepaintsWhileMinimisedOrHiddenAndTheFeedGoesOn) {
  start();
  click(app_->mainPage().pro);
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
    (app_->window()->*r.away)();
    pass(150);  // what going away itself repaints
    PaintCount count(app_->window());
    size_t received = 0;
    drive(30, [&] { received += monitor.drain().size(); });
    EXPECT_EQ(received, 30u);
    pass(150);
    EXPECT_TRUE(count.paints.empty());
    EXPECT_EQ(count.frames, 0);
    // The trackers went on (a throttle press started and peaked); the labels wait.
    EXPECT_TRUE(model().readout().proTracker(2).tracking);
    // Back, the next step shows where the pedals are.
    (app_->window()->*r.back)();
    run(30, 20, 21, 55);
    EXPECT_TRUE(waitFor([&] { return pro().value[2]->text().toStdString() == "     55 %"; }, 5000));
    EXPECT_TRUE(waitFor([&] { return count.of(pro().bar[2]) > 0; }, 5000));
  }
}

// A chart's live marker repaints its old and its new place and nothing else, and leaves no
// trail: the screen (the window's backing store, repainted in parts) shows what a chart drawn
// afresh shows. A change of the curve repaints the whole chart.
TEST(LiveChartMarker, RepaintsItsOldAndNewPlaceOnlyAndLeavesNoTrail) {
  qtApp();
  QWidget window;
  window.resize(200, 200);
  auto* chart = new ui::CurveChart(&window);
  chart->move(10, 10);
  chart->setCurve(Curve{0, 5, 12, 20, 30, 42, 55, 68, 80, 91, 100});
  chart->setLiveInput(20);
  QRegion painted;
  struct Regions : QObject {
    QRegion* into;
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Paint) *into += static_cast<QPaintEvent*>(event)->region();
      return false;
    }
  } regions;
  regions.into = &painted;
  chart->installEventFilter(&regions);
  window.show();
  ASSERT_TRUE(waitFor([&] { return !painted.isEmpty(); }));
  auto screen = [&] { return QGuiApplication::primaryScreen()->grabWindow(window.winId()).toImage(); };
  const std::optional<int> inputs[] = {35, 36, 80, std::nullopt, 50, 0, 100, 99};
  for (const std::optional<int>& input : inputs) {
    SCOPED_TRACE(input.value_or(-1));
    const QRegion before = chart->liveMarkerRegion();
    painted = QRegion();
    chart->setLiveInput(input);
    ASSERT_TRUE(waitFor([&] { return !painted.isEmpty(); }));
    EXPECT_TRUE((painted - before - chart->liveMarkerRegion()).isEmpty());
    int area = 0;
    for (const QRect& r : painted) area += r.width() * r.height();
    EXPECT_LT(area, ui::kChartSizePx * ui::kChartSizePx / 8);
  }
  EXPECT_TRUE(screen() == window.grab().toImage());
  painted = QRegion();
  chart->setCurve(ui::defaultCurve());
  ASSERT_TRUE(waitFor([&] { return !painted.isEmpty(); }));
  EXPECT_EQ(painted.boundingRect(), chart->rect());
  EXPECT_TRUE(screen() == window.grab().toImage());
}

}  // namespace
}  // namespace tkb::test
