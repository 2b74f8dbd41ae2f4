// The calibration wizard, Autocal and the MAX BRAKE PRESS step against the controller's
// firmware model through the in-memory transport: the frames of a whole calibration, of a
// cancel at each step and of a close mid-wizard, for two- and three-pedal sets, and what the
// controller holds afterwards.
#include <gtest/gtest.h>

#include "app/app_config.h"
#include "app/calibration.h"
#include "app/pedal_readout.h"
#include "app/startup_reads.h"
#include "app/usage_log.h"
#include "emulator_fixture.h"  // hexFrames
#include "memory_fixture.h"
#include "test_support.h"

namespace tkb {
namespace {

using Frames = std::vector<emu::Bytes>;
using State = CalibrationWizard::State;

// Notes what was shown, in order.
class RecordingView : public CalibrationView {
 public:
  std::vector<std::string> shown;
  void calibrationStarted() override { shown.push_back("started"); }
  void zoneControlsShown(bool on) override { shown.push_back(on ? "zones on" : "zones off"); }
  void wizardOpened() override { shown.push_back("opened"); }
  void stepShown(int step) override { shown.push_back("step " + std::to_string(step)); }
  void wizardClosed(bool saved) override { shown.push_back(saved ? "saved" : "closed"); }
  void brakeZonesShown() override { shown.push_back("brake zones"); }
};

class CalibrationTest : public ::testing::TestWithParam<bool> {
 protected:
  void start(bool clutch) {
    emu::FirmwareState initial;
    initial.modelReply = clutch ? 0x1F : 0x2F;
    initial.zones.brakeUpper = 70;
    pedals_ = std::make_unique<test::MemoryController>(initial);
    ASSERT_TRUE(pedals_->connect());
    ASSERT_TRUE(readConfiguration(pedals_->controller).ok());
    dir_ = std::make_unique<test::TempDir>();
    std::filesystem::create_directories(dir_->file("opt"));
    log_ = std::make_unique<UsageLog>(dir_->path().string());
    log_->open(pedals_->controller.state);
    CalibrationHooks hooks;
    hooks.resetJoystick = [this] { ++resets_; };
    hooks.usageLog = [this] { return log_.get(); };
    hooks.basePath = [this] { return dir_->path().string(); };
    wizard_ = std::make_unique<CalibrationWizard>(pedals_->controller, view_, hooks);
    model().clearReceived();
  }
  emu::FirmwareModel& model() { return pedals_->link.model(); }
  // The pauses as tkb-cli makes them; the axes as the driver holds the pedals.
  void calibrate() {
    const CalibrationPause pause = wizard_->calibrate();
    EXPECT_EQ(pause.ms, 450);
    EXPECT_TRUE(wizard_->pending());
    wizard_->resume();
  }
  void press(int16_t emu::AxisPositions::*pedal, int16_t at) {
    model().axes() = {};
    model().axes().*pedal = at;
    wizard_->next();
  }
  void pressAll() {
    press(&emu::AxisPositions::throttle, 32767);
    press(&emu::AxisPositions::brake, 19661);  // 80 % of the travel
    if (pedals_->controller.state.hasClutch) press(&emu::AxisPositions::clutch, 30000);
  }
  const Frames& frames() { return pedals_->frames(); }
  std::string usageLog() const { return test::readFile(log_->usagePath()); }

  test::TraceCapture traces_;
  std::unique_ptr<test::MemoryController> pedals_;
  std::unique_ptr<test::TempDir> dir_;
  std::unique_ptr<UsageLog> log_;
  RecordingView view_;
  std::unique_ptr<CalibrationWizard> wizard_;
  int resets_ = 0;
};

TEST_P(CalibrationTest, AWholeCalibrationStoresTheNewPointsAndTheBrakeLimit) {
  const bool clutch = GetParam();
  start(clutch);
  calibrate();
  EXPECT_EQ(wizard_->state(), State::Throttle);
  pressAll();
  EXPECT_EQ(wizard_->state(), State::Calibrated);
  EXPECT_EQ(wizard_->count(), 4);
  const CalibrationPause pause = wizard_->save();
  EXPECT_EQ(pause.ms, 100);
  EXPECT_EQ(wizard_->state(), State::Storing);
  wizard_->resume();
  EXPECT_EQ(wizard_->state(), State::Saved);

  Frames expected{{0xB3, 0x00, 0x3B}, {0xFF, 0xF2}, {0xFF, 0xA0}, {0xFF, 0xB0}};
  if (clutch) expected.push_back({0xFF, 0xC0});
  expected.insert(expected.end(), {{0xFF, 0xAA}, {0xFF, 0xBA}});
  if (clutch) expected.push_back({0xFF, 0xCA});
  expected.insert(expected.end(), {{0x6A}, {0xFF, 0xF1}, {0xFF, 0xF5}, {0x3C}, {0xA4}, {0xA5}, {0xA6},
                                   // FF F5 left the zones at their initial values, the brake's at the new limit
                                   {0xC1, 100, 0x1C}, {0xC2, 0, 0x2C}, {0xC3, 80, 0x3C}, {0xC5, 0, 0x5C},
                                   {0xC6, 100, 0x6C}, {0xC7, 0, 0x7C},
                                   {0xB4, 0x01, 0x4B}, {0xB6, 0x00, 0x6B}, {0xB5, 0x00, 0x5B}, {0xFF, 0xF4},
                                   {0xB3, 0x01, 0x3B}});
  const Frames& all = frames();
  ASSERT_EQ(all.size(), expected.size() + 2) << test::hexFrames(all);
  EXPECT_EQ(Frames(all.begin(), all.end() - 2), expected) << test::hexFrames(all);
  EXPECT_EQ(all[all.size() - 2][0], 0xBD);
  EXPECT_EQ(all.back()[0], 0xBE);

  const emu::FirmwareState& fw = model().state();
  EXPECT_EQ(fw.brakeMax, 80);
  EXPECT_EQ(fw.calibration.throttlePressed, 32767);
  EXPECT_EQ(fw.calibration.brakePressed, 19661);
  EXPECT_EQ(fw.calibration.clutchPressed, clutch ? 30000 : emu::CalibrationPoints{}.clutchPressed);
  EXPECT_EQ(fw.storedZones.brakeUpper, 80);
  EXPECT_EQ(fw.configFlags & 0x0C, 0x0C);  // calibrated, zones on
  const ControllerState& s = pedals_->controller.state;
  EXPECT_TRUE(s.calibrated && s.proProfileActive && !s.sportProfileActive && s.zonesEnabled);
  EXPECT_EQ(s.brakeUpper, 80);
  EXPECT_EQ(AppConfig(dir_->file("opt/config.ini")).readText("GENERAL", "file", "", 64), "Default");
  EXPECT_EQ(resets_, 2);

  std::vector<std::string> shown{"started", "zones off", "opened", "step 1", "step 2"};
  if (clutch) shown.push_back("step 3");
  shown.insert(shown.end(), {"step 4", "zones on", "saved"});
  EXPECT_EQ(view_.shown, shown);
  const std::string t = traces_.text();
  size_t at = 0;
  for (const char* line : {"\nCalibrate Pro pressed - Inicio", "\nReset zones PRO pressed - Inicio",
                           "\nSetPedalesInicial", "\nCalibrate Pro pressed - Final\n", "\nPro next pressed - Inicio",
                           "\nCount -> 1", "\nCount -> 2", "\nSave PRO calibration pressed - Inicio",
                           "\nSet zones PRO pressed - Final\n", "\nSave PRO calibration pressed - Final\n"}) {
    at = t.find(line, at);
    ASSERT_NE(at, std::string::npos) << line;
  }
  const std::string log = usageLog();
  EXPECT_NE(log.find(" Calibración inicio [Calibrado]\n"), std::string::npos);
  EXPECT_NE(log.find(" Calibración guardada [Calibrado]\n"), std::string::npos);
}

// CANCEL at every step, and CLOSE in the middle: the controller takes its old points back
// (FF F3), MAX BRAKE PRESS is sent again (CANCEL) and the zones are on again.
TEST_P(CalibrationTest, CancelOrCloseAtAnyStepRestoresTheOldPoints) {
  const bool clutch = GetParam();
  const int steps = clutch ? 4 : 3;
  for (bool closing : {false, true}) {
    for (int nexts = 0; nexts < steps; ++nexts) {
      SCOPED_TRACE((closing ? "close after " : "cancel after ") + std::to_string(nexts) + " NEXT");
      start(clutch);
      const emu::CalibrationPoints before = model().state().calibration;
      calibrate();
      for (int i = 0; i < nexts; ++i) press(&emu::AxisPositions::brake, 1000);
      const size_t mark = frames().size();
      closing ? wizard_->close() : wizard_->cancel();
      const Frames tail = closing ? Frames{{0xFF, 0xF3}, {0xB3, 0x01, 0x3B}}
                                  : Frames{{0xFF, 0xF3}, {0xC3, 70, 0x3C}, {0xB3, 0x01, 0x3B}};
      const Frames& all = frames();
      EXPECT_EQ(Frames(all.begin() + static_cast<long>(mark), all.end()), tail) << test::hexFrames(all);
      EXPECT_EQ(wizard_->state(), State::Cancelled);
      EXPECT_EQ(wizard_->count(), 0);
      EXPECT_TRUE(pedals_->controller.state.zonesEnabled);
      const emu::FirmwareState& fw = model().state();
      EXPECT_FALSE(fw.calibrating);
      EXPECT_EQ(fw.calibration.brakePressed, before.brakePressed);
      EXPECT_EQ(fw.brakeMax, 90);
      EXPECT_EQ(usageLog().find(" Calibración cancelada [Calibrado]\n") != std::string::npos, !closing);

      // Once over, neither sends anything more, nor does NEXT or SAVE.
      wizard_->cancel();
      wizard_->close();
      wizard_->next();
      EXPECT_FALSE(wizard_->save());
      EXPECT_EQ(frames().size(), mark + tail.size());
    }
  }
}

// During a pause only resume() acts: CALIBRATE, NEXT, SAVE, CANCEL and CLOSE send nothing.
TEST_P(CalibrationTest, NothingInterleavesWithAPause) {
  start(GetParam());
  ASSERT_TRUE(wizard_->calibrate());
  EXPECT_FALSE(wizard_->calibrate());
  wizard_->next();
  wizard_->cancel();
  wizard_->close();
  EXPECT_FALSE(wizard_->save());
  EXPECT_EQ(frames().size(), 1u);  // B3 00 3B only
  EXPECT_EQ(wizard_->state(), State::Settling);
  wizard_->resume();
  EXPECT_EQ(wizard_->state(), State::Throttle);
}

// The program ending at any point of the wizard leaves the controller with its zones on and
// either its old points (before SAVE) or the new ones stored (SAVE under way).
TEST_P(CalibrationTest, EndingTheProgramMidWizardLeavesTheZonesOnAndNoHalfTakenPoints) {
  enum class At { BeforeStart, Settling, FirstStep, AllTaken, Storing, Saved };
  for (At at : {At::BeforeStart, At::Settling, At::FirstStep, At::AllTaken, At::Storing, At::Saved}) {
    SCOPED_TRACE(static_cast<int>(at));
    start(GetParam());
    const emu::CalibrationPoints before = model().state().calibration;
    if (at != At::BeforeStart) {
      if (at == At::Settling) {
        ASSERT_TRUE(wizard_->calibrate());
      } else {
        calibrate();
      }
    }
    if (at >= At::AllTaken) pressAll();
    if (at >= At::Storing) {
      ASSERT_TRUE(wizard_->save());
    }
    if (at == At::Saved) wizard_->resume();
    const size_t mark = frames().size();

    const CalibrationPause pause = wizard_->end();
    EXPECT_EQ(pause.ms, at == At::Storing ? 100 : 0);
    if (pause) wizard_->resume();

    const emu::FirmwareState& fw = model().state();
    EXPECT_FALSE(fw.calibrating);
    EXPECT_EQ(fw.configFlags & 0x08, 0x08);  // zones on
    const bool stored = at == At::Storing || at == At::Saved;
    EXPECT_EQ(fw.calibration.brakePressed, stored ? 19661 : before.brakePressed);
    EXPECT_FALSE(wizard_->pending());
    EXPECT_EQ(wizard_->count(), 0);
    if (at == At::BeforeStart || at == At::Saved) {
      EXPECT_EQ(frames().size(), mark);
    }
    if (at == At::Settling) {
      EXPECT_EQ(Frames(frames().begin() + static_cast<long>(mark), frames().end()), (Frames{{0xB3, 0x01, 0x3B}}));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(PedalSets, CalibrationTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "ThreePedals" : "TwoPedals"; });

// Autocal: the average of the presses beyond the limit + 1 becomes the brake limit and
// MAX BRAKE PRESS; a point outside the brake's travel, or no press at all, sends no limit.
TEST(Autocal, RecalibratesTheBrakeFromTheRecordedPresses) {
  struct Row {
    const char* what;
    int parcial, numero;
    Frames frames;
    int brakeMax;
  };
  const Row rows[] = {
      {"three presses, average 77", 232, 3,
       {{0xC8, 78, 0x8C}, {0xA5}, {0xC3, 78, 0x3C}, {0xC5, 0, 0x5C}, {0xB4, 0x01, 0x4B}, {0xFF, 0xF4}}, 78},
      {"nothing recorded", 0, 0, {}, 90},
      {"beyond the travel", 300, 2, {}, 90},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    test::MemoryController pedals;
    ASSERT_TRUE(pedals.connect());
    ASSERT_TRUE(readConfiguration(pedals.controller).ok());
    pedals.link.model().clearReceived();
    BrakeExcess excess{0, r.parcial, r.numero};
    RecordingView view;
    EXPECT_EQ(autocal(pedals.controller, excess, nullptr, view), r.numero != 0);
    EXPECT_EQ(pedals.frames(), r.frames);
    EXPECT_EQ(pedals.link.model().state().brakeMax, r.brakeMax);
    EXPECT_EQ(pedals.controller.state.brakeUpper, r.brakeMax);
    EXPECT_EQ(excess.numero, 0);
    EXPECT_EQ(view.shown, r.frames.empty() ? std::vector<std::string>{} : std::vector<std::string>{"brake zones"});
  }
}

// The MAX BRAKE PRESS step (also the pedals' Menos and Mas keys) follows the PRO rule and
// never steps from a value the controller did not give.
TEST(MaxBrakePress, StepsOnlyWhereTheRuleAllows) {
  struct Row {
    const char* what;
    int upper, lower, brakeMax, delta;
    bool lowerKnown;
    std::optional<int> sent;
  };
  const Row rows[] = {
      {"+ at 99", 99, 0, 90, +1, true, 100},
      {"- onto the lower zone", 40, 40, 90, -1, true, std::nullopt},
      {"lower zone not known", 60, 0, 90, -1, false, std::nullopt},
  };
  test::MemoryController pedals;
  ASSERT_TRUE(pedals.connect());
  Operations operations(pedals.controller);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    ControllerState& s = pedals.controller.state;
    s.known.remove(Field::BrakeLower);
    setSetting(s, Field::BrakeUpper, r.upper);
    if (r.lowerKnown) setSetting(s, Field::BrakeLower, r.lower);
    s.brakeMax = r.brakeMax;
    pedals.link.model().clearReceived();
    EXPECT_EQ(stepMaxBrakePress(operations, r.delta), r.sent);
    const Frames expected = r.sent ? Frames{{0xC3, static_cast<uint8_t>(*r.sent), 0x3C}} : Frames{};
    EXPECT_EQ(pedals.frames(), expected);
    EXPECT_EQ(s.brakeUpper, r.sent.value_or(r.upper));
  }
}

}  // namespace
}  // namespace tkb
