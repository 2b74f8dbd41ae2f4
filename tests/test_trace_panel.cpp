// The trace panel and what stands around it: the output rule the OUTPUT lines draw, the feed
// that captures with no panel and the window minimised, PIN kept over a restart, RECORD's
// file, the pedal check's APPLY reaching the pedals, and the monitor's view switched from the
// main page and the tray into config.ini. Real window (offscreen) on the emulated pedal set,
// the pedals held where each test puts them.
#include <QActionGroup>
#include <QMenu>
#include <QTest>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "app/app_config.h"
#include "app/pedal_record.h"
#include "ui/frame_clock.h"
#include "ui/monitor_view.h"
#include "ui/pedal_trace_feed.h"
#include "ui/trace_panel.h"
#include "window_fixture.h"

namespace tkb::test {
namespace {

constexpr int kFrameWait = 3 * ui::kFramePeriodMs;

int16_t rawFor(double p) { return static_cast<int16_t>(std::lround(p * 65534.0 / 100.0) - 32767); }
PedalAxes pedalsAt(double clutch, double brake, double throttle) {
  return {rawFor(throttle), rawFor(brake), rawFor(clutch), rawFor(brake)};
}

TEST(TraceOutput, DeadZonesThenTheCurveInForce) {
  ControllerState pro;
  pro.zonesEnabled = true;
  pro.proProfileActive = true;
  pro.throttleLower = 10;
  pro.throttleUpper = 90;
  pro.brakeLower = 50;
  pro.brakeUpper = 50;  // no room between them: a step at the lower zone
  pro.throttleCurve = {0, 50, 60, 70, 80, 90, 95, 97, 98, 99, 100};  // not in force in PRO
  ControllerState off = pro;
  off.zonesEnabled = false;
  ControllerState custom = pro;
  custom.proProfileActive = false;
  custom.sportProfileActive = true;
  custom.throttleLower = 0;
  custom.throttleUpper = 100;
  custom.brakeLower = 0;
  custom.brakeUpper = 100;
  custom.cheto = 50;
  custom.brakeCurve = straightCurve();
  ControllerState noStop = custom;
  noStop.cheto = 0;
  struct Row {
    const char* what;
    const ControllerState& state;
    Pedal pedal;
    float input, output;
  } rows[] = {
      {"below the lower zone", pro, Pedal::Throttle, 5, 0},
      {"at the lower zone", pro, Pedal::Throttle, 10, 0},
      {"between the zones", pro, Pedal::Throttle, 30, 25},
      {"at the upper zone", pro, Pedal::Throttle, 90, 100},
      {"above the upper zone", pro, Pedal::Throttle, 95, 100},
      {"step below", pro, Pedal::Brake, 49, 0},
      {"step above", pro, Pedal::Brake, 51, 100},
      {"zones off", off, Pedal::Throttle, 5, 5},
      {"CUSTOM curve", custom, Pedal::Throttle, 5, 25},
      {"CUSTOM brake on its stop", custom, Pedal::Brake, 25, 50},
      {"CUSTOM brake beyond its stop", custom, Pedal::Brake, 80, 100},
      {"brake stop 0", noStop, Pedal::Brake, 1, 100},
  };
  for (const Row& r : rows)
    EXPECT_NEAR(ui::traceOutputPercent(r.state, r.pedal, r.input), r.output, 0.01) << r.what;
}

class TracePanelTest : public WindowTest {
 protected:
  void start(const std::function<void(emu::FirmwareState&)>& setUp = {}) {
    if (!emulator_) startEmulator(setUp);
    auto pedals = std::make_unique<FixedPedalInput>();
    pedals_ = pedals.get();
    makeApp(true, std::move(pedals));
    startAndWait(ui::Application::Phase::Running);
  }
  ui::PedalTraceFeed& feed() { return model().traceFeed(); }
  ui::TracePanel& openPanel() {
    click(app_->mainPage().traceButton);
    EXPECT_NE(app_->tracePanel(), nullptr);
    EXPECT_TRUE(app_->tracePanel()->isVisible());
    return *app_->tracePanel();
  }
  // The brake pressed to `peak` for a while and let go, on the running feed.
  void brakeOnce(double peak) {
    const long kept = feed().capture().kept();
    pedals_->set(pedalsAt(0, peak, 0));
    ASSERT_TRUE(waitFor([&] { return feed().capture().applying(); }));
    QTest::qWait(200);
    pedals_->set(pedalsAt(0, 0, 0));
    ASSERT_TRUE(waitFor([&] { return feed().capture().kept() == kept + 1; }));
  }
  AppConfig config() const { return AppConfig(app_->config()->path()); }

  FixedPedalInput* pedals_ = nullptr;
};

TEST_F(TracePanelTest, FeedCapturesWithNoPanelAndTheWindowMinimised) {
  start();
  app_->window()->showMinimized();
  ASSERT_TRUE(waitFor([&] { return app_->window()->isMinimized(); }));
  const long before = feed().samples();
  brakeOnce(70);
  EXPECT_TRUE(app_->window()->isMinimized());
  EXPECT_EQ(app_->tracePanel(), nullptr);  // nothing drew: the feed alone took it
  EXPECT_GT(feed().samples() - before, 5);
  EXPECT_NEAR(feed().capture().last().figures.peakPercent, 70, 0.1);
  EXPECT_GT(feed().capture().last().figures.heldMs, 150);
  EXPECT_NEAR(feed().ring().newest().input[pedalIndex(Pedal::Brake)], 0, 0.01);
}

TEST_F(TracePanelTest, PinnedReferenceIsKeptForTheNextRun) {
  start();
  brakeOnce(64);
  ui::TracePanel& panel = openPanel();
  ASSERT_TRUE(panel.pinButton->isEnabled());
  EXPECT_FALSE(panel.unpinButton->isEnabled());
  click(panel.pinButton);
  ASSERT_TRUE(panel.reference().has_value());
  const BrakeFigures pinned = panel.reference()->figures;
  EXPECT_NEAR(pinned.peakPercent, 64, 0.1);
  EXPECT_EQ(panel.figures[1][2]->text(), panel.figures[1][1]->text());
  EXPECT_FALSE(config().readText(kTraceSection, kBrakeReferenceKey, "").empty());

  app_.reset();
  start();
  ui::TracePanel& again = openPanel();
  ASSERT_TRUE(again.reference().has_value());
  EXPECT_EQ(again.reference()->figures, pinned);
  EXPECT_EQ(again.figures[1][2]->text(), "64.0 %");
  EXPECT_EQ(again.figures[1][1]->text(), "—");  // no braking yet in this run

  click(again.unpinButton);
  EXPECT_FALSE(again.reference().has_value());
  EXPECT_FALSE(config().load().has(kTraceSection, kBrakeReferenceKey));
}

TEST_F(TracePanelTest, RecordWritesTheWholeRecordingIntoTheRecordsFolder) {
  start();
  pedals_->set(pedalsAt(10, 55.5, 80));
  ui::TracePanel& panel = openPanel();
  click(panel.recordButton);
  ASSERT_TRUE(feed().recording());
  const std::filesystem::path folder = std::filesystem::path(model().basePath()) / "tkb" / "records";
  ASSERT_TRUE(waitFor([&] { return feed().recordedRows() >= 30; }));
  const std::string path = feed().recordingPath();
  EXPECT_EQ(std::filesystem::path(path).parent_path(), folder);
  EXPECT_FALSE(std::filesystem::exists(path));  // the file appears whole, at STOP
  click(panel.recordButton);
  ASSERT_FALSE(feed().recording());

  std::ifstream file(path);
  std::string header, line;
  std::getline(file, header);
  EXPECT_EQ(header + "\n", kPedalRecordHeader);
  long rows = 0;
  while (std::getline(file, line)) {
    ++rows;
    EXPECT_EQ(std::count(line.begin(), line.end(), ','), 7) << line;
    EXPECT_NE(line.find(",55.50,"), std::string::npos) << line;  // the brake's percent
  }
  EXPECT_GE(rows, 30);
  EXPECT_NE(panel.recordStatus->text().indexOf(QString::number(rows)), -1) << panel.recordStatus->text().toStdString();
}

TEST_F(TracePanelTest, PedalCheckApplySendsTheSuggestedZones) {
  start([](emu::FirmwareState& s) { s.zones.throttleLower = 0; });
  ui::TracePanel& panel = openPanel();
  model().setFeedRunning(false);  // the check runs on the samples given here, in their own time
  click(panel.checkButton);
  ui::PedalTraceFeed& f = feed();
  int64_t t = f.nowUs();
  auto samples = [&](double clutch, double brake, double throttle, int n) {
    for (int i = 0; i < n; ++i) f.sampleAt(t += 10'000, pedalsAt(clutch, brake, throttle), state());
  };
  samples(1, 0, 2, 510);  // 5 s with the feet off: the throttle rests at 2 %
  samples(100, 0, 2, 20);
  samples(1, 100, 2, 20);
  samples(1, 0, 100, 20);
  samples(1, 0, 2, 20);
  ASSERT_EQ(f.check()->phase(), PedalCheck::Phase::Done);
  QTest::qWait(kFrameWait);
  model().feedTick();  // the panel looks at the feed
  QTest::qWait(kFrameWait);
  ASSERT_TRUE(panel.applyButton->isVisible()) << panel.checkText->text().toStdString();
  click(panel.applyButton);
  EXPECT_EQ(emulator_->state().zones.throttleLower, 3);
  EXPECT_EQ(state().throttleLower, 3);
  EXPECT_FALSE(panel.applyButton->isVisible());
}

TEST_F(TracePanelTest, MonitorViewFollowsTheMainPageAndTheTrayIntoConfigIni) {
  std::filesystem::create_directories(dir_ + "/opt");
  std::ofstream(dir_ + "/opt/config.ini") << "[MONITOR]\r\nview=trace\r\nvr_size=30\r\n";
  start();
  ui::MonitorViewSwitch& views = *app_->mainPage().monitorView;
  EXPECT_EQ(views.view(), ui::MonitorView::Trace);  // as the file says at start
  click(views.barsButton);
  EXPECT_EQ(config().readText("MONITOR", "view", ""), "bars");
  EXPECT_EQ(config().readText("MONITOR", "vr_size", ""), "30");
  EXPECT_EQ(ui::buttonLook(views.barsButton), ui::ButtonLook::Highlighted);

  ui::Tray& tray = app_->tray();
  tray.refresh();
  EXPECT_TRUE(tray.viewBarsEntry()->isChecked());
  tray.viewTraceEntry()->trigger();
  EXPECT_EQ(config().readText("MONITOR", "view", ""), "trace");
  EXPECT_EQ(views.view(), ui::MonitorView::Trace);
  EXPECT_TRUE(tray.viewTraceEntry()->isChecked());

  // A file that refuses the write keeps the view it holds, and the switch says so.
  std::filesystem::permissions(dir_ + "/opt/config.ini", std::filesystem::perms::owner_read);
  click(views.barsButton);
  EXPECT_EQ(views.view(), ui::MonitorView::Trace);
  EXPECT_EQ(ui::buttonLook(views.traceButton), ui::ButtonLook::Highlighted);
}

}  // namespace
}  // namespace tkb::test
