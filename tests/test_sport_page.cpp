// The CUSTOM page with real widgets in Qt's offscreen platform, the real program set-up and
// the emulated pedal set over a pseudo-terminal: curve editing with pointer events at
// window coordinates, the dead-zone rules, the mode gate on value changes, DEFAULT,
// DEFAULT ALL, APPLY, sport profiles, loadSettings and closing the page.
#include <QTest>

#include "link/protocol.h"
#include "ui/pedal_bar.h"
#include "ui/sport_page.h"
#include "ui/switch_led.h"
#include "ui/widgets.h"
#include "window_fixture.h"

namespace tkb::test {
namespace {

using Phase = ui::Application::Phase;
using Frame = std::vector<uint8_t>;
using Frames = std::vector<Frame>;

const Frame kB6On{0xB6, 0x01, 0x6B};
constexpr int kBrake = ui::kBrakePedal, kThrottle = ui::kThrottlePedal, kClutch = ui::kClutchPedal;

Curve curveOf(std::initializer_list<int> points) {
  Curve c{};
  std::copy(points.begin(), points.end(), c.begin());
  return c;
}

Frame curveFrame(int pedal, const Curve& c) {
  const uint8_t codes[] = {block::kCurvaEmbrague, block::kCurvaFreno, block::kCurvaAcelerador};
  return encodeCurveFrame(codes[pedal], c);
}

// ---- The presets, pure ------------------------------------------------------------------

// Every preset is a curve the editor could make; the walls rise steeply and then only creep
// to 100; a wall out of range still gives such a curve.
TEST(CurvePresets, EachPresetIsAnAllowedCurveOfItsShape) {
  using P = ui::CurvePreset;
  const struct {
    P preset;
    Curve points;
  } rows[] = {
      {{P::Linear}, curveOf({0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100})},
      {{P::Progressive}, curveOf({0, 1, 4, 9, 16, 25, 36, 49, 64, 81, 100})},
      {{P::Aggressive}, curveOf({0, 19, 36, 51, 64, 75, 84, 91, 96, 99, 100})},
      {{P::SCurve}, curveOf({0, 3, 10, 22, 35, 50, 65, 78, 90, 97, 100})},
      {{P::BrakeWall, 75}, curveOf({0, 13, 27, 40, 53, 67, 80, 93, 98, 99, 100})},
      {{P::BrakeWall, 80}, curveOf({0, 13, 25, 37, 50, 63, 75, 87, 98, 99, 100})},
      {{P::BrakeWall, 85}, curveOf({0, 12, 24, 35, 47, 59, 71, 82, 94, 99, 100})},
      {{P::BrakeWall, 90}, curveOf({0, 11, 22, 33, 44, 56, 67, 78, 89, 99, 100})},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << r.preset.kind << " " << r.preset.wall);
    EXPECT_EQ(ui::presetCurve(r.preset), r.points);
    EXPECT_TRUE(curveAllowed(r.points));
  }
  for (int wall : {-5, 0, 10, 100, 150}) EXPECT_TRUE(curveAllowed(ui::presetCurve({P::BrakeWall, wall}))) << wall;
  // The brake alone offers the walls, after the four shapes.
  EXPECT_EQ(ui::presetsFor(Pedal::Throttle).size(), 4u);
  const auto brake = ui::presetsFor(Pedal::Brake);
  ASSERT_EQ(brake.size(), 8u);
  EXPECT_EQ(brake[4].kind, P::BrakeWall);
  EXPECT_EQ(brake[4].wall, 75);
}

// ---- The pointer mapping, pure ---------------------------------------------------------

TEST(CurveEditorMapping, ColumnsAreEighteenPixelsWithNinePixelEnds) {
  const int f = 749;
  const struct {
    int x, point;
  } rows[] = {
      {f - 1, 0}, {f, 0}, {f + 8, 0}, {f + 9, 1}, {f + 26, 1}, {f + 27, 2}, {f + 89, 5},
      {f + 152, 8}, {f + 153, 9}, {f + 170, 9}, {f + 171, 10}, {f + 179, 10}, {f + 180, 0}, {0, 0},
  };
  for (const auto& r : rows) EXPECT_EQ(ui::chartPointAt(r.x, f), r.point) << "x = " << r.x;
}

TEST(CurveEditorMapping, ValuesTruncateAndStayBetweenTheNeighbours) {
  const Curve line = ui::defaultCurve();
  const Curve steep = curveOf({0, 10, 20, 30, 40, 60, 70, 80, 90, 95, 100});
  const Curve flat = curveOf({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});  // a broken curve from a file
  const struct {
    const char* what;
    const Curve& curve;
    int point, y, value;
  } rows[] = {
      {"point 4 at 57", steep, 4, 454 - 103, 57},        // 103 * 100 / 180 = 57.2
      {"point 4 held under point 5", line, 4, 454 - 103, 49},
      {"point 5 above point 6", line, 5, 319, 59},
      {"point 5 below point 4", line, 5, 418, 41},
      {"point 9 above the top", line, 9, 100, 99},
      {"point 1 at the bottom", line, 1, 454, 1},
      {"point 1 below the chart", line, 1, 500, 1},       // negative values truncate too
      {"point 0 never moves", line, 0, 300, 0},
      {"point 10 never moves", line, 10, 454, 100},
      {"second rule wins", flat, 3, 300, -1},
  };
  for (const auto& r : rows) EXPECT_EQ(ui::chartPointValue(r.curve, r.point, r.y), r.value) << r.what;
}

TEST(CurveEditorMapping, KeyStepsStopNextToTheNeighboursAndTheEndsNeverMove) {
  const Curve line = ui::defaultCurve();
  const Curve tight = curveOf({0, 10, 11, 30, 40, 50, 60, 70, 80, 90, 100});  // point 2 may not move down
  const Curve squeezed = curveOf({0, 10, 11, 12, 40, 50, 60, 70, 80, 90, 100});
  const struct {
    const char* what;
    const Curve& curve;
    int point, delta, value;
  } rows[] = {
      {"up 1", line, 5, 1, 51},           {"page up stops under point 6", line, 5, 10, 59},
      {"page down stops over point 4", line, 5, -10, 41}, {"point 1 at the bottom", line, 1, -10, 1},
      {"point 9 at the top", line, 9, 10, 99},            {"next to the point before", tight, 2, -1, 11},
      {"no room either way", squeezed, 2, 1, 11},         {"point 0 never moves", line, 0, 5, 0},
      {"point 10 never moves", line, 10, -5, 100},
  };
  for (const auto& r : rows) EXPECT_EQ(ui::chartPointStep(r.curve, r.point, r.delta), r.value) << r.what;
}

// ---- The page ---------------------------------------------------------------------------

class SportPageTest : public WindowTest {
 protected:
  void start(const std::function<void(emu::FirmwareState&)>& setUp = {}) {
    startEmulator(setUp);
    makeApp();
    startAndWait(Phase::Running);
  }

  ui::SportPage& sport() { return *pages_->sport; }
  const ui::SportWidgets& w() { return sport().widgets(); }
  const ui::SportPedalPanel& panel(int pedal) { return w().pedals[pedal]; }
  ui::CurveChart* chart(int pedal) { return panel(pedal).chart; }
  using Page = ui::ControllerModel::Page;
  void openPage() {
    click(app_->mainPage().custom);
    ASSERT_TRUE(w().page->isVisible());
  }
  void proMode() { click(app_->mainPage().activatePro); }
  void customMode() { click(app_->mainPage().activateCustom); }
  // A value as a CUSTOM box takes it (sent only while CUSTOM is active).
  void setZone(int pedal, bool upper, int value) {
    model().setZone(Page::Custom, kPedals[pedal], upper, value);
    settle();
  }
  void setBrakeStop(int value) {
    model().setBrakeStop(value);
    settle();
  }

  // Lets what was sent arrive, then forgets it.
  void clearFrames() {
    settle();
    emulator_->clearReceived();
  }
  // What arrived after an action, once it is through.
  Frames framesNow(size_t = 0) {
    settle();
    return emulator_->received();
  }

  // The pointer at window coordinates on a chart.
  QPoint at(int pedal, int x, int y) { return chart(pedal)->mapFrom(app_->window(), QPoint(x, y)); }
  void press(int pedal, int x, int y) { QTest::mousePress(chart(pedal), Qt::LeftButton, {}, at(pedal, x, y)); }
  void move(int pedal, int x, int y) { QTest::mouseMove(chart(pedal), at(pedal, x, y)); }
  void release(int pedal, int x, int y) {
    QTest::mouseRelease(chart(pedal), Qt::LeftButton, {}, at(pedal, x, y));
    settle();
    settle();
  }
  int left(int pedal) { return ui::chartLeftEdge(state().hasClutch, pedal); }

  void writeProfile(const std::string& name, const std::string& text) {
    std::filesystem::create_directories(dir_ + "/tkb");
    std::ofstream(dir_ + "/tkb/" + name) << text;
  }
  // The file dialogs answer with this path (nothing: cancelled) and record what they showed.
  void chooseFile(std::optional<std::string> path) {
    pages_->dialogs.scriptFileChooser([this, path](const FileDialogRequest& request) {
      requests_.push_back(request);
      return path;
    });
  }

  static std::string hexAll(const Frames& frames) {
    std::string s;
    for (const Frame& f : frames) s += "[" + hex(f) + "] ";
    return s;
  }

  std::vector<FileDialogRequest> requests_;
};

// Both pedal-set kinds: each chart's plotting area starts at its window x and the value
// scale is 0 at y = 454 and 100 at y = 274; the screenshots are kept under the build tree.
void checkLayout(ui::Application& app, const ui::SportWidgets& w, bool hasClutch,
                 const std::array<int, 3>& lefts) {
  for (int pedal = 0; pedal < 3; ++pedal) {
    ui::CurveChart* chart = w.pedals[pedal].chart;
    EXPECT_EQ(chart->size(), QSize(180, 180));
    EXPECT_EQ(chart->mapTo(app.window(), QPoint(0, 0)).x(), lefts[pedal]) << "pedal " << pedal;
    EXPECT_EQ(chart->mapTo(app.window(), QPoint(0, 179)).y(), 454) << "pedal " << pedal;
    EXPECT_EQ(ui::chartLeftEdge(hasClutch, pedal), lefts[pedal]);
    EXPECT_EQ(w.pedals[pedal].panel->size(), QSize(263, 500));
  }
  const bool clutchShown = w.pedals[kClutch].chart->isVisible();
  EXPECT_EQ(clutchShown, hasClutch);
  EXPECT_EQ(w.clutchAutoBrakeCaption->isVisible(), hasClutch);
  EXPECT_EQ(w.autoBrakeCaption->isVisible(), !hasClutch);
  EXPECT_EQ(w.autoBrakeLed->isVisible(), !hasClutch);
  EXPECT_EQ(w.autoBreakList->isVisible(), !hasClutch);
  EXPECT_TRUE(w.autoBrakeSwitch->isVisible());
  EXPECT_EQ(w.close->geometry(), QRect(820 - 130 - 60, 560 - 40 - 10, 130, 40));
}

TEST_F(SportPageTest, ThreePedalLayoutPutsTheChartsOnTheirWindowScale) {
  start();
  openPage();
  checkLayout(*app_, w(), true, {476, 749, 1022});
  // The page's labels follow the language like every other page.
  EXPECT_EQ(panel(kBrake).title->text(), "BRAKE");
  EXPECT_EQ(panel(kBrake).upperLabel->text(), "MAX BRAKE PRESS");
  EXPECT_EQ(panel(kThrottle).upperLabel->text(), "UPPER DEAD ZONE");
  EXPECT_EQ(w().defaultAll->text(), "DEFAULT ALL");
  saveScreenshot("custom_page_three_pedals.png");
  app_->selectLanguage(1);
  settle();
  EXPECT_EQ(panel(kThrottle).lowerLabel->text(), "ZONA MUERTA INFERIOR");
  // Beside the brake's peaks column a caption takes two lines rather than a smaller size.
  EXPECT_EQ(panel(kBrake).lowerLabel->text(), "ZONA MUERTA\nINFERIOR");
  EXPECT_EQ(w().brakeStopLabel->text(), "LIMITADOR\nDE FRENO");
  EXPECT_EQ(QFontInfo(w().brakeStopLabel->font()).pixelSize(), QFontInfo(panel(kThrottle).lowerLabel->font()).pixelSize());
  saveScreenshot("custom_page_three_pedals_es.png");
}

TEST_F(SportPageTest, TwoPedalLayoutMovesBrakeAndThrottleAndShowsTheAutoBrakeGroup) {
  start([](emu::FirmwareState& s) { s.modelReply = 0x2F; });
  ASSERT_FALSE(state().hasClutch);
  openPage();
  checkLayout(*app_, w(), false, {476, 617, 961});
  saveScreenshot("custom_page_two_pedals.png");
}

TEST_F(SportPageTest, PointerEditsFollowTheColumnsAndEachReleaseSendsOneCurveAndOneB6) {
  start();
  openPage();
  const int f = left(kBrake);
  struct Row {
    const char* what;
    int dx, y;
    const char* x, *yText;
    int point, value;
  };
  const Row rows[] = {
      {"first 9 pixels: point 0 stays", 3, 300, "X -> 0 %", "Y -> 0 %", 0, 0},
      {"point 5 above point 6", 9 + 18 * 4 + 1, 319, "X -> 50 %", "Y -> 59 %", 5, 59},
      {"point 4 at 57", 9 + 18 * 3 + 2, 454 - 103, "X -> 40 %", "Y -> 57 %", 4, 57},
      {"point 5 below point 4", 9 + 18 * 4 + 17, 440, "X -> 50 %", "Y -> 58 %", 5, 58},
      {"point 9 at the top", 9 + 18 * 8, 275, "X -> 90 %", "Y -> 99 %", 9, 99},
      {"point 1 at y 454", 9, 454, "X -> 10 %", "Y -> 1 %", 1, 1},
      {"last column: point 10 stays", 175, 300, "X -> 100 %", "Y -> 100 %", 10, 100},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    clearFrames();
    press(kBrake, f + r.dx, r.y);
    EXPECT_EQ(panel(kBrake).readoutX->text(), r.x);
    EXPECT_EQ(panel(kBrake).readoutY->text(), r.yText);
    EXPECT_EQ(chart(kBrake)->curve()[r.point], r.value);
    release(kBrake, f + r.dx, r.y);
    EXPECT_EQ(panel(kBrake).readoutX->text(), ui::kReadoutBlank);
    EXPECT_EQ(panel(kBrake).readoutY->text(), ui::kReadoutBlank);
    EXPECT_EQ(state().brakeCurve, chart(kBrake)->curve());
    const Frames got = framesNow(2);
    EXPECT_EQ(got, (Frames{curveFrame(kBrake, chart(kBrake)->curve()), kB6On})) << hexAll(got);
  }
  // Point 4 was pushed to 57; point 5 was then kept between 57 and 60.
  EXPECT_EQ(chart(kBrake)->curve(), curveOf({0, 1, 20, 30, 57, 58, 60, 70, 80, 99, 100}));
  EXPECT_TRUE(state().sportProfileLoaded);
  EXPECT_NE(traceText().find("x = " + std::to_string(f + 9) + " y = 454\n"), std::string::npos);
}

TEST_F(SportPageTest, PressesOutsideTheBandOrFromAnotherChartChangeNothing) {
  start();
  openPage();
  const int f = left(kThrottle);
  const Curve before = chart(kThrottle)->curve();
  for (int x : {f - 4, f + 180, f + 400}) {
    sport().sport_chart_handler(chart(kThrottle), ui::ChartEvent::Pressing, QPoint(x, 300));
    EXPECT_EQ(panel(kThrottle).readoutX->text(), "X -> 0 %") << x;
    EXPECT_EQ(chart(kThrottle)->curve(), before) << x;
  }
  ui::CurveChart stranger(nullptr);
  const std::string traceBefore = traceText();
  sport().sport_chart_handler(&stranger, ui::ChartEvent::Pressing, QPoint(f + 50, 300));
  sport().sport_chart_handler(&stranger, ui::ChartEvent::Clicked, QPoint(f + 50, 300));
  EXPECT_NE(traceText().find("Object not found", traceBefore.size()), std::string::npos);
  EXPECT_EQ(chart(kThrottle)->curve(), before);
}

TEST_F(SportPageTest, DraggingOffTheChartEndsTheEditOnceAndTheReleaseAddsNothing) {
  start();
  openPage();
  const int f = left(kClutch);
  clearFrames();
  press(kClutch, f + 9 + 18 * 2 + 5, 400);  // point 3 at 30
  move(kClutch, f + 9 + 18 * 2 + 5, 380);
  move(kClutch, f + 9 + 18 * 2 + 5, 370);   // (454 - 370) * 100 / 180 = 46 -> 39 (below point 4)
  EXPECT_EQ(panel(kClutch).readoutY->text(), "Y -> 39 %");
  EXPECT_TRUE(framesNow().empty()) << "nothing is sent while the chart is held";
  move(kClutch, f + 9 + 18 * 2 + 5, 200);   // off the chart: the press is lost
  EXPECT_EQ(panel(kClutch).readoutY->text(), ui::kReadoutBlank);
  release(kClutch, f + 9 + 18 * 2 + 5, 200);
  const Frames got = framesNow(2);
  EXPECT_EQ(got, (Frames{curveFrame(kClutch, curveOf({0, 10, 20, 39, 40, 50, 60, 70, 80, 90, 100})), kB6On}))
      << hexAll(got);
}

TEST_F(SportPageTest, ZoneButtonsKeepTheLowerZoneAtMostTheUpperAndMoveTheMarkers) {
  start();
  openPage();  // CUSTOM is active from here on
  const ui::SportPedalPanel& brake = panel(kBrake);
  setZone(kBrake, true, 40);
  setZone(kBrake, false, 39);
  clearFrames();
  click(brake.lowerPlus);
  EXPECT_EQ(brake.lower->value(), 40);
  EXPECT_EQ(brake.upper->value(), 40);
  EXPECT_EQ(brake.upperMarker->pos(), QPoint(197, 464 - 40 * 178 / 100));
  EXPECT_EQ(brake.lowerMarker->pos(), QPoint(197, 463 - 40 * 178 / 100));
  EXPECT_EQ(framesNow(1), (Frames{{0xC5, 40, 0x5C}}));
  clearFrames();
  click(brake.lowerPlus);
  click(brake.upperMinus);
  EXPECT_EQ(brake.lower->value(), 40);
  EXPECT_EQ(brake.upper->value(), 40);
  EXPECT_TRUE(framesNow().empty());

  // The ends of the scale: upper "+" at 100 and lower "-" at 0 do nothing.
  const ui::SportPedalPanel& throttle = panel(kThrottle);
  setZone(kThrottle, true, 100);
  setZone(kThrottle, false, 0);
  clearFrames();
  click(throttle.upperPlus);
  click(throttle.lowerMinus);
  EXPECT_TRUE(framesNow().empty());

  // The brake stop steps within 0..100; below 100 it is active, its indicator shows and
  // the mode reads "CUSTOM M".
  setBrakeStop(100);
  clearFrames();
  click(w().brakeStopMinus);
  EXPECT_EQ(w().brakeStop->value(), 99);
  EXPECT_EQ(w().brakeStopMarker->pos(), QPoint(222, 464 - 99 * 178 / 100));
  EXPECT_EQ(framesNow(2), (Frames{{0xCF, 99, 0xFC}, {0xE2, 0x01, 0x2E}}));
  EXPECT_TRUE(w().brakeStopIndicator->isVisible());
  EXPECT_TRUE(app_->mainPage().modeLabels[2]->isVisible());
  click(w().brakeStopPlus);
  EXPECT_FALSE(w().brakeStopIndicator->isVisible());
  EXPECT_EQ(state().chetoActive, 0);
}

TEST_F(SportPageTest, ValueChangesAreSentOnlyWhileCustomIsTheActiveMode) {
  start();
  openPage();
  struct Row {
    const char* what;
    std::function<void()> change;
    Frames sent;
    std::function<bool()> stateTook;
  };
  auto pick = [this](int list, int index) {
    w().letters[list]->setCurrentIndex(index);
    emit w().letters[list]->activated(index);  // as when the user picks the entry
  };
  const Row rows[] = {
      {"clutch upper", [&] { setZone(kClutch, true, 80); }, {{0xC1, 80, 0x1C}},
       [&] { return state().clutchUpper == 80; }},
      {"clutch lower", [&] { setZone(kClutch, false, 5); }, {{0xC2, 5, 0x2C}},
       [&] { return state().clutchLower == 5; }},
      {"brake upper", [&] { setZone(kBrake, true, 70); }, {{0xC3, 70, 0x3C}},
       [&] { return state().brakeUpper == 70; }},
      {"brake lower", [&] { setZone(kBrake, false, 3); }, {{0xC5, 3, 0x5C}},
       [&] { return state().brakeLower == 3; }},
      {"throttle upper", [&] { setZone(kThrottle, true, 90); }, {{0xC6, 90, 0x6C}},
       [&] { return state().throttleUpper == 90; }},
      {"throttle lower", [&] { setZone(kThrottle, false, 2); }, {{0xC7, 2, 0x7C}},
       [&] { return state().throttleLower == 2; }},
      {"brake stop 40", [&] { setBrakeStop(40); }, {{0xCF, 40, 0xFC}, {0xE2, 0x01, 0x2E}},
       [&] { return state().cheto == 40 && state().chetoActive == 1; }},
      {"brake stop 100", [&] { setBrakeStop(100); }, {{0xCF, 100, 0xFC}, {0xE2, 0x00, 0x2E}},
       [&] { return state().cheto == 100 && state().chetoActive == 0; }},
      {"Mas list", [&] { pick(ui::kListMas, 2); }, {{0xCA, 2, 0xAC}}, [&] { return state().letterMas == 2; }},
      {"Menos list", [&] { pick(ui::kListMenos, 3); }, {{0xCB, 3, 0xBC}}, [&] { return state().letterMenos == 3; }},
      {"Mas 2 list", [&] { pick(ui::kListMas2, 4); }, {{0xCD, 4, 0xDC}}, [&] { return state().letterMas2 == 4; }},
      {"Menos 2 list", [&] { pick(ui::kListMenos2, 5); }, {{0xCE, 5, 0xEC}},
       [&] { return state().letterMenos2 == 5; }},
      {"auto-brake switch",
       [&] {
         w().autoBrakeSwitch->setOn(false, false);
         QTest::mouseClick(w().autoBrakeSwitch, Qt::LeftButton);
         settle();
       },
       {{0xBF, 0x01, 0xFB}}, [&] { return state().autoBrake == 1; }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    proMode();
    clearFrames();
    r.change();
    Frames got = framesNow();
    EXPECT_TRUE(got.empty()) << "PRO mode sent " << hexAll(got);
    EXPECT_FALSE(r.stateTook());
    customMode();
    clearFrames();
    r.change();
    got = framesNow(r.sent.size());
    EXPECT_EQ(got, r.sent) << hexAll(got);
    EXPECT_TRUE(r.stateTook());
  }
}

TEST_F(SportPageTest, DefaultOnTheBrakeActivatesCustomAndSendsOnlyTheBrakeCurve) {
  start();
  openPage();
  press(kBrake, left(kBrake) + 100, 330);
  release(kBrake, left(kBrake) + 100, 330);
  ASSERT_NE(chart(kBrake)->curve(), ui::defaultCurve());
  proMode();
  clearFrames();
  click(panel(kBrake).defaultButton);
  const Frames got = framesNow(3);
  EXPECT_EQ(got, (Frames{{0xB3, 0x01, 0x3B}, {0xB5, 0x01, 0x5B}, curveFrame(kBrake, ui::defaultCurve())}))
      << hexAll(got);
  EXPECT_EQ(chart(kBrake)->curve(), ui::defaultCurve());
  EXPECT_EQ(state().brakeCurve, ui::defaultCurve());
  EXPECT_TRUE(state().sportProfileActive);
  EXPECT_FALSE(state().proProfileActive);
  EXPECT_EQ(ui::buttonLook(app_->mainPage().activateCustom), ui::ButtonLook::Highlighted);
  EXPECT_EQ(ui::buttonLook(app_->mainPage().activatePro), ui::ButtonLook::Normal);
  EXPECT_NE(traceText().find("Default button (1) pressed SPORT -- Inicio\n"), std::string::npos);
}

TEST_F(SportPageTest, DefaultAllInProModeSendsNothingUntilAChartIsReleased) {
  start();
  openPage();
  press(kThrottle, left(kThrottle) + 90, 300);
  release(kThrottle, left(kThrottle) + 90, 300);
  const Curve edited = state().throttleCurve;
  ASSERT_NE(edited, ui::defaultCurve());
  proMode();
  clearFrames();
  click(w().defaultAll);
  EXPECT_TRUE(framesNow().empty());
  for (int pedal = 0; pedal < 3; ++pedal) EXPECT_EQ(chart(pedal)->curve(), ui::defaultCurve());
  EXPECT_EQ(state().throttleCurve, edited);  // the state waits for an edit
  press(kThrottle, left(kThrottle) + 2, 300);
  release(kThrottle, left(kThrottle) + 2, 300);
  const Frames got = framesNow(2);
  EXPECT_EQ(got, (Frames{curveFrame(kThrottle, ui::defaultCurve()), kB6On})) << hexAll(got);
}

// A sport profile without curves would make every pedal give nothing: it is refused whole.
TEST_F(SportPageTest, SportProfileWithoutCurvesIsRefusedAndNothingIsSent) {
  start([](emu::FirmwareState& s) { s.autoBrake = 1; });
  openPage();
  ASSERT_TRUE(w().autoBrakeSwitch->isOn());
  proMode();
  writeProfile("Wet Monza.tks",
               "[ACCELERATOR]\nUPPER DEAD ZONE=95\nLOWER DEAD ZONE=4\n[CLUTCH]\nUPPER DEAD ZONE=88\n"
               "LOWER DEAD ZONE=6\n[BRAKE]\nUPPER DEAD ZONE=70\nBRAKE LIMITER=70\nLOWER DEAD ZONE=2\n"
               "BRAKE STOP=60\nAUTO=0\n");
  chooseFile(dir_ + "/tkb/Wet Monza.tks");
  const QString label = app_->mainPage().profileLabel->text();
  clearFrames();
  click(w().load);
  EXPECT_TRUE(framesNow().empty()) << hexAll(framesNow());
  EXPECT_TRUE(w().autoBrakeSwitch->isOn());
  EXPECT_NE(w().brakeStop->value(), 60);
  EXPECT_EQ(app_->mainPage().profileLabel->text(), label);
}

TEST_F(SportPageTest, CancelledSportLoadStillActivatesCustomWithTheThreeCurves) {
  start();
  openPage();
  proMode();
  chooseFile(std::nullopt);
  clearFrames();
  click(w().load);
  const Frames got = framesNow(5);
  EXPECT_EQ(got, (Frames{{0xB3, 0x01, 0x3B}, {0xB5, 0x01, 0x5B}, curveFrame(kClutch, state().clutchCurve),
                         curveFrame(kBrake, state().brakeCurve), curveFrame(kThrottle, state().throttleCurve)}))
      << hexAll(got);
  EXPECT_TRUE(state().sportProfileActive);
  EXPECT_EQ(ui::buttonLook(app_->mainPage().activateCustom), ui::ButtonLook::Highlighted);
}

TEST_F(SportPageTest, SavingBringsTheStateCurvesInLineWithTheCharts) {
  const Curve bent = curveOf({0, 5, 12, 20, 30, 42, 55, 68, 80, 91, 100});
  start([&](emu::FirmwareState& s) {
    s.configFlags = 0x0E;  // CUSTOM curves loaded, calibrated, zones set; PRO active
    s.curves.brake = bent;
  });
  ASSERT_EQ(state().brakeCurve, bent);
  openPage();
  click(w().defaultAll);  // the charts are straight again, the state is not
  ASSERT_EQ(state().brakeCurve, bent);
  chooseFile(dir_ + "/Track.day.tks");
  click(w().save);
  EXPECT_EQ(state().brakeCurve, ui::defaultCurve());
  const std::string file = readFile(dir_ + "/Track.day.tks");
  EXPECT_NE(file.find("BRAKE_CURVE_1=10"), std::string::npos) << file;
  EXPECT_NE(file.find("ACCELERATOR_CURVE_10=100"), std::string::npos) << file;
  ASSERT_EQ(requests_.size(), 1u);
  EXPECT_TRUE(requests_[0].save);
  EXPECT_EQ(requests_[0].defaultSuffix, "tks");
  EXPECT_EQ(app_->mainPage().profileLabel->text(), "Profile: Track");

  // APPLY makes the controller store zones and curves and records the profile saved last.
  clearFrames();
  click(w().apply);
  EXPECT_EQ(framesNow(2), (Frames{{0xFF, 0xF4}, {0xFF, 0xF7}}));
  const std::string config = readFile(dir_ + "/opt/config.ini");
  EXPECT_NE(config.find("file=Track"), std::string::npos) << config;
  EXPECT_NE(config.find("mod=0"), std::string::npos) << config;
}

TEST_F(SportPageTest, LoadSettingsShowsTheLoadedCurvesLettersZonesAndMode) {
  const Curve bent = curveOf({0, 5, 12, 20, 30, 42, 55, 68, 80, 91, 100});
  const Curve soft = curveOf({0, 2, 6, 12, 20, 30, 42, 56, 70, 85, 100});
  start([&](emu::FirmwareState& s) {
    s.configFlags = 0x0F;  // CUSTOM loaded and active
    s.curves.brake = bent;
    s.curves.throttle = soft;
    s.letterMas = 3;
    s.letterMenos2 = 4;
    s.zones.brakeUpper = 77;
    s.zones.throttleLower = 8;
    s.cheto = 65;
  });
  // Each curve is read again after loadData, and the CUSTOM page shows it.
  const Frames got = emulator_->received();
  const Frame curveReads[] = {{0xA7}, {0xA8}, {0xA9}};
  const auto language = std::find(got.begin(), got.end(), Frame{0xB2, 0x00, 0x2B});
  ASSERT_NE(language, got.end()) << hexAll(got);
  EXPECT_NE(std::search(language, got.end(), std::begin(curveReads), std::end(curveReads)), got.end())
      << hexAll(got);
  // CUSTOM is active: the spin boxes sent what they show.
  EXPECT_NE(std::find(got.begin(), got.end(), Frame{0xC3, 77, 0x3C}), got.end()) << hexAll(got);
  EXPECT_NE(std::find(got.begin(), got.end(), Frame{0xE2, 0x01, 0x2E}), got.end()) << hexAll(got);

  EXPECT_EQ(chart(kBrake)->curve(), bent);
  EXPECT_EQ(chart(kThrottle)->curve(), soft);
  EXPECT_EQ(state().brakeCurve, bent);
  EXPECT_EQ(panel(kBrake).upper->value(), 77);
  EXPECT_EQ(panel(kThrottle).lower->value(), 8);
  EXPECT_EQ(w().brakeStop->value(), 65);
  EXPECT_EQ(w().letters[ui::kListMas]->currentIndex(), 3);
  EXPECT_EQ(w().letters[ui::kListMenos2]->currentIndex(), 4);
  const std::string trace = traceText();
  EXPECT_NE(trace.find("\nLeemos curvas Freno -> \n\tDato 0 -> 0\n\tDato 1 -> 5\n\tDato 2 -> 12"),
            std::string::npos);
  ui::MainPage& p = app_->mainPage();
  EXPECT_FALSE(p.activateCustom->isHidden());
  EXPECT_EQ(ui::buttonLook(p.activateCustom), ui::ButtonLook::Highlighted);
  EXPECT_TRUE(p.modeLabels[2]->isVisible());  // brake stop active: "Mode: CUSTOM M"
  EXPECT_NE(readFile(dir_ + "/opt/uselog.sr0").find("Modo:Custom [Modo]"), std::string::npos);
}

TEST_F(SportPageTest, ClosingReadsTheCurvesBackAndGivesTheMainPageItsButtons) {
  start();
  openPage();
  EXPECT_TRUE(sport().isOpen());
  ui::MainPage& p = app_->mainPage();
  // LANGUAGE, MANUAL and EXIT wait under the pedal photo, clear of the throttle panel.
  for (QWidget* b : {p.language, p.manual, p.exit}) {
    EXPECT_TRUE(b->isVisible());
    EXPECT_FALSE(b->geometry().intersects(w().page->geometry())) << b->geometry().x();
  }
  click(p.language);
  EXPECT_EQ(p.languageList->geometry().bottomLeft(), p.language->geometry().bottomLeft());
  app_->selectLanguage(0);
  settle();
  press(kBrake, left(kBrake) + 60, 360);
  release(kBrake, left(kBrake) + 60, 360);
  settle();  // the edited curve has reached the controller
  // What the controller really holds wins over the chart.
  const Curve held = curveOf({0, 11, 21, 31, 41, 51, 61, 71, 81, 91, 100});
  emulator_->update([&](emu::FirmwareState& s) { s.curves.brake = held; });
  clearFrames();
  click(w().close);
  EXPECT_FALSE(w().page->isVisible());
  EXPECT_FALSE(sport().isOpen());
  EXPECT_EQ(framesNow(3), (Frames{{0xA7}, {0xA8}, {0xA9}}));
  EXPECT_EQ(chart(kBrake)->curve(), held);
  EXPECT_EQ(state().brakeCurve, held);
  EXPECT_EQ(p.language->geometry(), QRect(1055, 50, 145, 40));
  EXPECT_EQ(p.exit->geometry(), QRect(1055, 480, 145, 40));
  EXPECT_TRUE(p.custom->isVisible());
  EXPECT_TRUE(p.activateCustom->isVisible());  // the CUSTOM curves are loaded now
  EXPECT_EQ(ui::buttonLook(p.activateCustom), ui::ButtonLook::Highlighted);
  EXPECT_NE(traceText().find("\nLeemos curvas Embrague -> "), std::string::npos);
  const std::string log = readFile(dir_ + "/opt/uselog.sr0");
  EXPECT_NE(log.find("Modo:Custom [Modo]"), std::string::npos) << log;
}

TEST_F(SportPageTest, PedalKeysStepTheBrakeControlsAndLightTheLed) {
  start([](emu::FirmwareState& s) {
    s.modelReply = 0x2F;
    s.autoBrake = 1;
  });
  openPage();
  setZone(kBrake, true, 50);
  setBrakeStop(100);
  clearFrames();
  // The pedal set's Menos and Menos 2 keys (F1 and F5 by default) on the CUSTOM page.
  for (int key : {0x70, 0x74}) {
    model().keyEvent({KeyEventKind::Down, key, false, false});
    settle();
  }
  EXPECT_EQ(panel(kBrake).upper->value(), 49);
  EXPECT_EQ(w().brakeStop->value(), 99);
  EXPECT_EQ(framesNow(3), (Frames{{0xC3, 49, 0x3C}, {0xCF, 99, 0xFC}, {0xE2, 0x01, 0x2E}}));
  // The AutoBreak key list of two-pedal sets is served in either mode.
  proMode();
  customMode();
  clearFrames();
  w().autoBreakList->setCurrentIndex(2);
  emit w().autoBreakList->activated(2);
  settle();
  EXPECT_EQ(framesNow(1), (Frames{{0xE4, 0x02, 0x4E}}));
  EXPECT_EQ(state().letterAutoBrake, 2);
  // Its key held lights this page's LED, released puts it out; the PRO page's LED is not this one.
  model().keyEvent({KeyEventKind::Down, 'P', true, true});
  settle();
  EXPECT_EQ(w().autoBrakeLed->brightness(), 255);
  EXPECT_EQ(pages_->pro->ledBrightness(), 100);
  model().keyEvent({KeyEventKind::Up, 'P', true, true});
  settle();
  EXPECT_EQ(w().autoBrakeLed->brightness(), 100);
}

TEST_F(SportPageTest, ChartsMarkTheLiveInputOnTheCurveAndBarsArePublished) {
  start();
  openPage();
  const ui::CustomBarWidgets& bars = sport().bars().widgets;
  for (int pedal = 0; pedal < 3; ++pedal) {
    EXPECT_EQ(bars.input[pedal], panel(pedal).input);
    EXPECT_EQ(bars.output[pedal], panel(pedal).output);
  }
  EXPECT_EQ(bars.brakeHistory[9], w().brakeHistory[9]);
  // The simulated driver presses the brake within one cycle of its pattern.
  ASSERT_TRUE(waitFor([&] { return chart(kBrake)->liveInput().value_or(0) > 20; }, 15000));
  const int input = *chart(kBrake)->liveInput();
  const QPointF marker = chart(kBrake)->liveMarkerPosition();
  EXPECT_NEAR(marker.x(), input * 179 / 100.0, 0.01);
  EXPECT_NEAR(marker.y(), 179 * (1 - curveOutputAt(chart(kBrake)->curve(), input) / 100.0), 0.01);
  // With the page closed the markers stop following.
  click(w().close);
  const auto frozen = chart(kThrottle)->liveInput();
  QTest::qWait(300);
  EXPECT_EQ(chart(kThrottle)->liveInput(), frozen);
}

TEST_F(SportPageTest, OutputBarsTakeTheDeadZoneBandScaledToTheirHeight) {
  start();
  openPage();
  setZone(kThrottle, true, 80);
  setZone(kThrottle, false, 10);
  const ui::PedalBar::Style& style = panel(kThrottle).output->indicatorStyle();
  EXPECT_EQ(style.padTop, 36);
  EXPECT_EQ(style.padBottom, 18);
  EXPECT_EQ(style.radius, 0);
}

// The keyboard over the three pedals: each finished edit (a key's release, its repeats
// included) sends one curve frame and one B6; keys it does not own reach nothing.
TEST_F(SportPageTest, KeysStepTheSelectedPointAndEachReleaseSendsOneCurveAndOneB6) {
  start();
  openPage();
  for (int pedal : {kClutch, kBrake, kThrottle}) {
    SCOPED_TRACE(pedal);
    ui::CurveChart* c = chart(pedal);
    EXPECT_EQ(c->focusPolicy(), Qt::StrongFocus);
    // A click on point 3's column at its own value selects it without moving it.
    clearFrames();
    QTest::mouseClick(c, Qt::LeftButton, {}, at(pedal, left(pedal) + 9 + 18 * 2 + 5, 454 - 54));
    settle();
    EXPECT_EQ(c->selectedPoint(), 3);
    EXPECT_EQ(c->curve(), ui::defaultCurve());
    framesNow(2);
    const struct {
      std::vector<Qt::Key> keys;  // pressed and released one after the other
      int point, value;
    } rows[] = {
        {{Qt::Key_Up}, 3, 31},
        {{Qt::Key_PageUp}, 3, 39},                       // stops under point 4
        {{Qt::Key_Left, Qt::Key_Left, Qt::Key_Left, Qt::Key_PageDown}, 1, 1},  // point 0 is not selectable
        {{Qt::Key_Right, Qt::Key_Down}, 2, 19},
    };
    for (const auto& r : rows) {
      clearFrames();
      for (Qt::Key key : r.keys) QTest::keyClick(c, key);
      EXPECT_EQ(c->selectedPoint(), r.point);
      EXPECT_EQ(c->curve()[r.point], r.value);
      const Frames got = framesNow(2);
      EXPECT_EQ(got, (Frames{curveFrame(pedal, c->curve()), kB6On})) << hexAll(got);
      EXPECT_EQ(tkb::curveOf(state(), kPedals[pedal]), c->curve());
    }
    // A held key repeats; only its release sends, once.
    c->selectPoint(9);
    clearFrames();
    for (bool repeat : {false, true, true}) {
      QKeyEvent press(QEvent::KeyPress, Qt::Key_PageUp, Qt::NoModifier, QString(), repeat);
      QApplication::sendEvent(c, &press);
    }
    EXPECT_EQ(panel(pedal).readoutY->text(), "Y -> 99 %");
    EXPECT_TRUE(framesNow().empty());
    QTest::keyRelease(c, Qt::Key_PageUp);
    settle();
    EXPECT_EQ(panel(pedal).readoutY->text(), ui::kReadoutBlank);
    EXPECT_EQ(framesNow(2), (Frames{curveFrame(pedal, c->curve()), kB6On}));
    // The pedal set's keys and combinations with Ctrl are not the chart's.
    const Curve before = c->curve();
    clearFrames();
    QTest::keyClick(c, Qt::Key_F2);
    settle();
    QTest::keyClick(c, Qt::Key_Up, Qt::ControlModifier | Qt::MetaModifier);
    settle();
    EXPECT_EQ(c->curve(), before);
    EXPECT_TRUE(framesNow().empty());
  }
  // The window's other widgets still take no focus (a spin box's editor passes it to its
  // box): Tab only moves between the charts.
  for (QWidget* widget : app_->window()->findChildren<QWidget*>()) {
    if (dynamic_cast<ui::CurveChart*>(widget) == nullptr && widget->isVisible() && widget->focusProxy() == nullptr) {
      EXPECT_EQ(widget->focusPolicy() & Qt::TabFocus, 0) << widget->metaObject()->className();
    }
  }
  EXPECT_FALSE(chart(kBrake)->toolTip().isEmpty());
}

// Typing a point's value: Enter or a double-click opens the box with the values the order
// allows, Enter sends the value (kept in the order) as one curve frame and B6, a value
// outside them is refused in the box with the range shown and nothing sent, Escape sends
// nothing.
TEST_F(SportPageTest, EnteredValuesAreKeptInTheOrderAndEscapeSendsNothing) {
  start();
  openPage();
  app_->window()->activateWindow();
  for (int pedal : {kClutch, kBrake, kThrottle}) {
    SCOPED_TRACE(pedal);
    ui::CurveChart* c = chart(pedal);
    c->selectPoint(5);
    QTest::keyClick(c, Qt::Key_Return);
    settle();
    ASSERT_TRUE(c->entryOpen());
    ASSERT_TRUE(c->entryRange());
    EXPECT_EQ(c->entryRange()->low, 41);
    EXPECT_EQ(c->entryRange()->high, 59);
    clearFrames();
    for (const char* refused : {"75", "7", "120"}) {
      c->entry()->selectAll();
      QTest::keyClicks(c->entry(), refused);
      QTest::keyClick(c->entry(), Qt::Key_Return);
      settle();
      EXPECT_TRUE(c->entryOpen()) << refused;
      EXPECT_TRUE(c->entryRefused()) << refused;
      const auto* range = c->findChild<QLabel*>("PointEntryRange");
      ASSERT_NE(range, nullptr);
      EXPECT_TRUE(range->isVisible());
      EXPECT_EQ(range->text(), "41-59");
      EXPECT_EQ(c->curve()[5], 50);
      EXPECT_TRUE(framesNow().empty()) << refused;
    }
    c->entry()->selectAll();
    QTest::keyClicks(c->entry(), "45");
    EXPECT_FALSE(c->entryRefused()) << "typing again takes the refusal away";
    settle();
    QTest::keyClick(c->entry(), Qt::Key_Return);
    settle();
    EXPECT_FALSE(c->entryOpen());
    EXPECT_EQ(c->curve()[5], 45);
    EXPECT_EQ(framesNow(2), (Frames{curveFrame(pedal, c->curve()), kB6On}));

    // A value the box would not offer (as from another caller) is kept between 40 and 60.
    const struct {
      int typed, value;
    } rows[] = {{75, 59}, {-3, 41}, {50, 50}};
    for (const auto& r : rows) {
      clearFrames();
      sport().sport_chart_key_handler(c, {ui::ChartKeyEdit::Entered, 5, r.typed});
      settle();
      EXPECT_EQ(c->curve()[5], r.value) << r.typed;
      EXPECT_EQ(framesNow(2), (Frames{curveFrame(pedal, c->curve()), kB6On})) << r.typed;
    }

    // Escape, and a click elsewhere, close the box and send nothing.
    const Curve before = c->curve();
    for (bool escape : {true, false}) {
      QTest::keyClick(c, Qt::Key_Enter);
      settle();
      ASSERT_TRUE(c->entryOpen());
      clearFrames();
      QTest::keyClicks(c->entry(), "42");
      settle();
      if (escape) {
        QTest::keyClick(c->entry(), Qt::Key_Escape);
        settle();
      } else {
        chart((pedal + 1) % 3)->setFocus(Qt::MouseFocusReason);
      }
      EXPECT_FALSE(c->entryOpen());
      EXPECT_EQ(c->curve(), before);
      EXPECT_TRUE(framesNow().empty());
    }

    // A double-click on point 7's column opens its box (its first click edits as ever).
    QTest::mouseDClick(c, Qt::LeftButton, {}, at(pedal, left(pedal) + 9 + 18 * 6 + 5, 454 - 126));
    settle();
    EXPECT_EQ(c->selectedPoint(), 7);
    EXPECT_TRUE(c->entryOpen());
    QTest::keyClick(c->entry(), Qt::Key_Escape);
    settle();
  }
}

// Undo and redo over the three pedals' edits and a DEFAULT, newest first, each sending
// the curve it puts back with one B6; the history outlives closing the page.
TEST_F(SportPageTest, UndoAndRedoPutBackEachStepInOrderAndSendIt) {
  start();
  openPage();
  app_->window()->activateWindow();
  const Curve line = ui::defaultCurve();
  const Curve throttleUp = curveOf({0, 10, 20, 30, 40, 51, 60, 70, 80, 90, 100});
  const Curve brakeTyped = curveOf({0, 10, 20, 30, 40, 50, 60, 75, 80, 90, 100});
  const Curve clutchDown = curveOf({0, 10, 20, 30, 40, 50, 60, 70, 80, 80 + 1, 100});
  chart(kThrottle)->selectPoint(5);
  QTest::keyClick(chart(kThrottle), Qt::Key_Up);
  settle();
  sport().sport_chart_key_handler(chart(kBrake), {ui::ChartKeyEdit::Entered, 7, 75});
  settle();
  chart(kClutch)->selectPoint(9);
  QTest::keyClick(chart(kClutch), Qt::Key_PageDown);
  settle();
  click(panel(kBrake).defaultButton);
  ASSERT_EQ(chart(kClutch)->curve(), clutchDown);
  settle();

  auto key = [this](Qt::Key k, Qt::KeyboardModifiers m) {
    return [this, k, m] { QTest::keyClick(app_->window(), k, m); };
  };
  const auto undo = key(Qt::Key_Z, Qt::ControlModifier);
  // The keys act only while the page is shown; closing and opening it keeps the history.
  click(w().close);
  clearFrames();
  undo();
  settle();
  EXPECT_TRUE(framesNow().empty());
  openPage();
  struct Step {
    const char* what;
    std::function<void()> keys;
    int pedal;
    Curve curve;
  };
  const auto redoShift = key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  const auto redoY = key(Qt::Key_Y, Qt::ControlModifier);
  const Step steps[] = {
      {"undo DEFAULT", undo, kBrake, brakeTyped},  {"undo clutch", undo, kClutch, line},
      {"redo clutch", redoShift, kClutch, clutchDown}, {"undo clutch again", undo, kClutch, line},
      {"undo brake", undo, kBrake, line},           {"undo throttle", undo, kThrottle, line},
      {"redo throttle", redoY, kThrottle, throttleUp}, {"redo brake", redoY, kBrake, brakeTyped},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    clearFrames();
    s.keys();
    settle();
    EXPECT_EQ(chart(s.pedal)->curve(), s.curve);
    EXPECT_EQ(tkb::curveOf(state(), kPedals[s.pedal]), s.curve);
    const Frames got = framesNow(2);
    EXPECT_EQ(got, (Frames{curveFrame(s.pedal, s.curve), kB6On})) << hexAll(got);
  }
  // A new edit ends what could be redone; the pedal set's Meta+Ctrl+Z is not an undo, and
  // past the oldest step nothing happens.
  sport().sport_chart_key_handler(chart(kThrottle), {ui::ChartKeyEdit::Entered, 1, 5});
  settle();
  clearFrames();
  redoY();
  settle();
  key(Qt::Key_Z, Qt::ControlModifier | Qt::MetaModifier)();
  settle();
  EXPECT_TRUE(framesNow().empty());
  EXPECT_EQ(chart(kThrottle)->curve()[1], 5);
  for (int i = 0; i < 3; ++i) {
    undo();
    settle();
  }
  clearFrames();
  undo();
  settle();
  EXPECT_TRUE(framesNow().empty());
  EXPECT_EQ(sport().history().undoCount(), 0u);
  EXPECT_EQ(chart(kThrottle)->curve(), line);
  EXPECT_EQ(chart(kBrake)->curve(), line);
}

// A preset chosen from a chart's list is one finished edit: on the chart, one curve frame
// and one B6, the list back at its prompt; undo puts the curve before it back and sends it.
TEST_F(SportPageTest, PresetsAreSentAsOneEditAndUndoRestoresTheCurveBefore) {
  start();
  openPage();
  const struct {
    int pedal;
    int entry;
  } rows[] = {{kClutch, 1}, {kBrake, 6}, {kThrottle, 3}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.pedal);
    QComboBox* list = panel(r.pedal).presets;
    ASSERT_TRUE(list->isVisible());
    const Curve before = chart(r.pedal)->curve();
    const Curve preset = ui::presetCurve(ui::presetsFor(kPedals[r.pedal])[r.entry]);
    clearFrames();
    emit list->activated(r.entry);
    settle();
    EXPECT_EQ(list->currentIndex(), r.entry) << "the list names the preset in force";
    EXPECT_EQ(chart(r.pedal)->curve(), preset);
    EXPECT_EQ(tkb::curveOf(state(), kPedals[r.pedal]), preset);
    Frames got = framesNow(2);
    EXPECT_EQ(got, (Frames{curveFrame(r.pedal, preset), kB6On})) << hexAll(got);
    clearFrames();
    sport().undoCurve();
    settle();
    EXPECT_EQ(chart(r.pedal)->curve(), before);
    got = framesNow(2);
    EXPECT_EQ(got, (Frames{curveFrame(r.pedal, before), kB6On})) << hexAll(got);
    ASSERT_EQ(before, ui::defaultCurve());
    EXPECT_EQ(list->currentIndex(), 0) << "the straight line is the Linear preset";
    // A curve that is no preset: the list names none and shows its prompt.
    sport().sport_chart_key_handler(chart(r.pedal), {ui::ChartKeyEdit::Entered, 5, 53});
    settle();
    EXPECT_EQ(list->currentIndex(), -1);
  }
}

// Each chart's two marks follow its curve against what the controller has stored (APPLY)
// and what the last profile holds (SAVE, LOAD; a cancelled save is none): an edit shows
// both, undo back to the baseline clears them; the tooltips follow the language.
TEST_F(SportPageTest, DifferenceMarksFollowTheCurveAgainstApplySaveAndLoad) {
  start([](emu::FirmwareState& s) { s.configFlags = 0x0E; });  // curves read on connecting
  openPage();
  const std::string file = dir_ + "/Marks.tks";
  for (int pedal : {kClutch, kBrake, kThrottle}) {
    SCOPED_TRACE(pedal);
    const ui::SportPedalPanel& p = panel(pedal);
    auto marks = [&](bool notStored, bool notSaved) {
      EXPECT_EQ(p.notStored->isVisible(), notStored);
      EXPECT_EQ(p.notSaved->isVisible(), notSaved);
      for (int other = 0; other < 3; ++other) {
        if (other != pedal) {
          EXPECT_FALSE(panel(other).notStored->isVisible() || panel(other).notSaved->isVisible());
        }
      }
    };
    marks(false, false);
    const int start = chart(pedal)->curve()[5];
    sport().sport_chart_key_handler(chart(pedal), {ui::ChartKeyEdit::Entered, 5, start + 3});
    settle();
    marks(true, true);
    sport().undoCurve();
    settle();
    marks(false, false);
    sport().redoCurve();
    settle();
    marks(true, true);
    click(w().apply);
    marks(false, true);
    chooseFile(std::nullopt);
    click(w().save);
    marks(false, true);
    chooseFile(file);
    click(w().save);
    marks(false, false);
    sport().undoCurve();
    settle();
    marks(true, true);
    click(w().load);
    EXPECT_EQ(chart(pedal)->curve()[5], start + 3);
    marks(false, false);
  }
  for (int language = 0; language < 6; ++language) {
    app_->selectLanguage(language);
    settle();
    const ui::SportPedalPanel& p = panel(kBrake);
    EXPECT_EQ(p.chart->entry()->toolTip().toStdString(), ui::labelText(ui::LabelRole::CustomEntryKeys, language));
    EXPECT_EQ(p.notStored->toolTip().toStdString(), ui::labelText(ui::LabelRole::CustomMarkNotStored, language));
    EXPECT_EQ(p.notSaved->toolTip().toStdString(), ui::labelText(ui::LabelRole::CustomMarkNotSaved, language));
  }
}

}  // namespace
}  // namespace tkb::test
