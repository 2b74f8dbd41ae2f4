// The window when the pedal set misbehaves: a controller that falls quiet during the
// start-up reads or later (on a real pseudo-terminal with its real time-outs: no click waits
// for them), fields whose values were never reported, and (below) a pedal set that is
// unplugged and plugged in again. Real widgets; the emulator in memory unless said.
#include <QElapsedTimer>

#include "window_fixture.h"

namespace tkb::test {
namespace {

using Phase = ui::Application::Phase;
using Notice = ui::Application::LinkNotice;
using Frame = std::vector<uint8_t>;

emu::Faults quietAfter(int answered) {
  emu::Faults f;
  f.silentAfterExchanges = answered;
  return f;
}

bool received(const std::vector<Frame>& frames, const Frame& frame) {
  return std::find(frames.begin(), frames.end(), frame) != frames.end();
}

TEST(LinkTexts, EveryNoticeIsTranslated) {
  for (int language = 0; language < ui::kLanguageCount; ++language)
    for (int reason = 0; reason < ui::kProfileRefusalReasons; ++reason)
      EXPECT_NE(std::string(ui::profileRefusalText(reason, language)).find("%"), std::string::npos);
  for (int language = 0; language < ui::kLanguageCount; ++language)
    for (int t = 0; t < static_cast<int>(ui::LinkText::Count); ++t) {
      const std::string text = ui::linkText(static_cast<ui::LinkText>(t), language);
      EXPECT_FALSE(text.empty()) << language << " " << t;
      if (language > 0) {
        EXPECT_NE(text, ui::linkText(static_cast<ui::LinkText>(t), 0)) << language << " " << t;
      }
    }
}

TEST_F(WindowTest, QuietDuringTheStartUpReadsShowsRetryInsteadOfPagesAndRetryBuildsThem) {
  startEmulator();
  emulator_->setFaults(quietAfter(4));  // probe (2), start readings, model; then nothing
  makeApp();
  startAndWait(Phase::ReadFailed);
  // The reads were announced while they ran.
  EXPECT_NE(traceText().find("\nAviso: Reading the pedal set..."), std::string::npos);

  EXPECT_EQ(app_->linkNotice(), Notice::NotAnswering);
  EXPECT_TRUE(app_->linkNoticeText()->isVisible());
  EXPECT_TRUE(app_->linkNoticeText()->text().startsWith("The pedal set does not answer"));
  EXPECT_TRUE(app_->retryButton()->isVisible());
  EXPECT_EQ(app_->proPage(), nullptr) << "no page of made-up values";

  // RETRY while the controller is still quiet: the message stays.
  click(app_->retryButton());
  ASSERT_TRUE(waitFor([&] { return app_->linkNotice() == Notice::NotAnswering; }));
  EXPECT_EQ(app_->phase(), Phase::ReadFailed);

  emulator_->setFaults({});
  emulator_->clearReceived();
  click(app_->retryButton());
  ASSERT_TRUE(waitFor([&] { return app_->phase() == Phase::Running && model().idle(); }));
  EXPECT_EQ(app_->linkNotice(), Notice::None);
  EXPECT_FALSE(app_->linkNoticeText()->isVisible());
  ASSERT_NE(app_->proPage(), nullptr);
  const auto frames = emulator_->received();
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.front(), Frame{0x5A}) << hexFrames(frames);
  EXPECT_EQ(state().throttleUpper, 100);
}

// The actions run on the link thread: a click returns at once, however long the quiet
// controller keeps the action waiting, and the window goes on repainting meanwhile.
TEST_F(WindowTest, QuietMidSessionNoClickWaitsAndRetryReadsAgain) {
  startEmulatorOnTerminal();
  makeApp();
  startAndWait(Phase::Running);
  ui::MainPage& m = app_->mainPage();
  const ui::SportWidgets& sport = pages_->sport->widgets();
  emulator_->setFaults(quietAfter(emulator_->answeredRequests()));

  // Each of these asks the controller something (zones, curves) or follows one that did.
  struct Click {
    const char* what;
    QAbstractButton* button;
  };
  const Click clicks[] = {
      {"PRO", m.pro},
      {"PRO CLOSE", pages_->pro->close},
      {"CUSTOM", m.custom},
      {"CUSTOM CLOSE", sport.close},
      {"PRO again", m.pro},
  };
  qint64 worst = 0;
  for (const Click& c : clicks) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(c.button->isVisible());
    QElapsedTimer timer;
    timer.start();
    c.button->click();
    worst = std::max(worst, timer.elapsed());
    // A second click while the first waits for the controller is not taken.
    EXPECT_TRUE(model().busy());
    c.button->click();
    settle();
  }
  EXPECT_LT(worst, 200);
  EXPECT_NE(traceText().find("busy: click ignored"), std::string::npos);
  ASSERT_TRUE(waitFor([&] { return app_->linkNotice() == Notice::NotAnswering; }));
  EXPECT_TRUE(app_->retryButton()->isVisible());
  EXPECT_EQ(app_->phase(), Phase::Running);

  // The controller answers again (with other zones than before): RETRY reads them all and
  // the open page shows them.
  emulator_->setFaults({});
  emulator_->update([](emu::FirmwareState& s) { s.zones.throttleUpper = 77; });
  click(app_->retryButton());
  ASSERT_TRUE(waitFor([&] { return app_->linkNotice() == Notice::None && model().idle(); }));
  settle();
  EXPECT_EQ(state().throttleUpper, 77);
  EXPECT_EQ(pages_->pro->zones[ui::kThrottlePedal].upper->value(), 77);
  EXPECT_TRUE(pages_->pro->page->isEnabled());
}

TEST_F(WindowTest, UnknownFieldsShowBlankAndNoStepOrEditSendsThem) {
  startEmulator();
  makeApp();
  startAndWait(Phase::Running);
  click(app_->mainPage().activateCustom);  // the CUSTOM page sends only in CUSTOM mode
  emulator_->clearReceived();
  // Values the controller never reported: the pages show the profile in force again.
  ui::ControllerModel& m = model();
  m.runAction([&m](ui::LinkSession& session) {
    for (Field f : {Field::BrakeUpper, Field::Cheto, Field::ThrottleCurve, Field::LetterMas})
      session.controller.state.known.remove(f);
    m.showProfileInForce();
    m.tellSettingSent(Field::LetterMas);
  });
  settle();
  // Showing the zones sends those that were read again (the boxes always did), no other.
  for (const Frame& f : emulator_->received()) EXPECT_NE(f[0], 0xC3) << hex(f);
  EXPECT_TRUE(received(emulator_->received(), Frame{0xC5, 0, 0x5C})) << hexFrames(emulator_->received());

  ui::ProPage& pro = *pages_->pro;
  const ui::SportWidgets& sport = pages_->sport->widgets();
  EXPECT_TRUE(pro.zones[ui::kBrakePedal].upper->text().isEmpty());
  EXPECT_FALSE(pro.zones[ui::kBrakePedal].upper->known());
  EXPECT_EQ(pro.zones[ui::kThrottlePedal].upper->text(), "100");
  EXPECT_FALSE(sport.pedals[ui::kBrakePedal].upper->known());
  EXPECT_FALSE(sport.brakeStop->known());
  EXPECT_FALSE(sport.pedals[ui::kThrottlePedal].chart->hasCurve());
  EXPECT_TRUE(sport.pedals[ui::kBrakePedal].chart->hasCurve());
  EXPECT_EQ(pro.masList->currentIndex(), -1);
  EXPECT_EQ(sport.letters[ui::kListMas]->currentIndex(), -1);

  // Steps from a blank box, and edits of a chart without a curve, send nothing.
  // (The pages are not opened: opening them reads the zones again.)
  emulator_->clearReceived();
  for (QAbstractButton* b : {pro.zones[ui::kBrakePedal].upperPlus, pro.zones[ui::kBrakePedal].lowerPlus,
                             sport.brakeStopPlus, sport.pedals[ui::kBrakePedal].upperMinus})
    click(b);
  EXPECT_TRUE(emulator_->received().empty()) << hexFrames(emulator_->received());
  EXPECT_FALSE(pro.zones[ui::kBrakePedal].upper->known());

  // A value the driver sets is known from then on and goes out.
  emulator_->clearReceived();
  click(sport.pedals[ui::kThrottlePedal].upperMinus);
  EXPECT_TRUE(received(emulator_->received(), Frame{0xC6, 99, 0x6C})) << hexFrames(emulator_->received());
  EXPECT_TRUE(state().isKnown(Field::ThrottleUpper));
}

TEST_F(WindowTest, RefusedProfileTellsTheDriverWhichKeyInHisLanguageAndSendsNothing) {
  startEmulator();
  makeApp();
  startAndWait(Phase::Running);
  app_->selectLanguage(4);  // German
  settle();
  const std::string path = dir_ + "/race.tkb";
  std::ofstream(path) << "[ACCELERATOR]\nUPPER DEAD ZONE=97\nLOWER DEAD ZONE=1\n\n"
                         "[CLUTCH]\nUPPER DEAD ZONE=95\nLOWER DEAD ZONE=3\n\n"
                         "[BRAKE]\nUPPER DEAD ZONE=101\nBRAKE LIMITER=85\nLOWER DEAD ZONE=2\n";
  pages_->dialogs.scriptFileChooser([&](const FileDialogRequest&) { return std::optional<std::string>(path); });
  click(app_->mainPage().pro);
  ui::ProPage& pro = *pages_->pro;
  ASSERT_TRUE(pro.loadProfile->isVisible());
  emulator_->clearReceived();
  click(pro.loadProfile);
  ASSERT_EQ(rec_.boxes.size(), 1u);
  EXPECT_EQ(rec_.boxes[0].first.toStdString(),
            "Profil nicht geladen: [BRAKE] UPPER DEAD ZONE=101 liegt außerhalb von 0..100. "
            "An die Pedale wurde nichts gesendet.");
  EXPECT_FALSE(pro.confirmations[2]->isVisible());
  EXPECT_TRUE(emulator_->received().empty()) << hexFrames(emulator_->received());
}

TEST_F(WindowTest, UnplugAndReplugUnderTheSameNameThenAnotherKeepsWhatTheDriverSet) {
  startEmulatorOnTerminal();
  makeApp();
  startAndWait(Phase::Running);
  ui::MainPage& m = app_->mainPage();
  ui::ProPage& pro = *pages_->pro;
  click(m.pro);
  ASSERT_TRUE(pro.page->isVisible());
  QAbstractButton* plus = pro.zones[ui::kThrottlePedal].lowerPlus;

  struct Replug {
    const char* what;
    std::string name;  // empty: the same name
    std::string port;
  };
  const Replug replugs[] = {{"same name", "", "COM3"}, {"another name", dir_ + "/ports/ttyACM7", "COM7"}};
  int throttleLower = 0;
  for (const Replug& r : replugs) {
    SCOPED_TRACE(r.what);
    emulator_->clearReceived();
    click(plus);  // the driver's change before the cable goes
    ++throttleLower;
    EXPECT_TRUE(received(framesOnceThere(1), Frame{0xC7, static_cast<uint8_t>(throttleLower), 0x7C}))
        << hexFrames(emulator_->received());

    emulator_->terminal()->unplug();
    ASSERT_TRUE(waitFor([&] { return app_->linkNotice() == Notice::Disconnected; }, 2000));
    EXPECT_TRUE(app_->linkNoticeText()->isVisible());
    EXPECT_EQ(app_->linkNoticeText()->text(), "Pedal set disconnected - waiting for it...");
    EXPECT_FALSE(app_->retryButton()->isVisible());
    EXPECT_FALSE(pro.page->isEnabled());
    EXPECT_FALSE(m.custom->isEnabled());
    EXPECT_TRUE(m.exit->isEnabled());
    // Away from the computer the pedals restart with what they had stored.
    emulator_->update([](emu::FirmwareState& s) { s.zones.throttleLower = 0; });

    emulator_->clearReceived();
    ASSERT_TRUE(emulator_->terminal()->plugIn(r.name));
    ASSERT_TRUE(waitFor([&] { return app_->linkNotice() == Notice::None && model().idle(); }, 10000));
    settle();
    EXPECT_EQ(model().portName(), r.port);
    EXPECT_TRUE(pro.page->isEnabled());
    EXPECT_EQ(state().throttleLower, throttleLower) << hexFrames(emulator_->received());
    EXPECT_EQ(emulator_->state().zones.throttleLower, throttleLower);
    EXPECT_EQ(pro.zones[ui::kThrottlePedal].lower->value(), throttleLower);

    emulator_->clearReceived();
    click(plus);
    ++throttleLower;
    EXPECT_TRUE(received(framesOnceThere(1), Frame{0xC7, static_cast<uint8_t>(throttleLower), 0x7C}))
        << hexFrames(emulator_->received());
  }
}

}  // namespace
}  // namespace tkb::test
