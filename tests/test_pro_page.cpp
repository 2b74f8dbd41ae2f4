// The PRO page in the real window (offscreen) against the emulated controller: the wizard's
// exact frames for two- and three-pedal sets, SAVE / CANCEL / CLOSE, the dead-zone buttons,
// APPLY, key letters and AutoBrake, and the live bars with the monitor datagram.
#include <sys/socket.h>

#include <cstddef>
#include <cstring>

#include <QApplication>
#include <QFileDialog>
#include <QMouseEvent>
#include <QLineEdit>
#include <QTimer>

#include "app/app_config.h"
#include "link/monitor_datagram.h"
#include "ui/pro_page.h"
#include "window_fixture.h"

namespace tkb::test {
namespace {

using Frame = std::vector<uint8_t>;
using ui::kBrakePedal;
using ui::kClutchPedal;
using ui::kThrottlePedal;

class ProPageTest : public WindowTest {
 protected:
  void TearDown() override {
    unsetenv(monitor::kChannelNameVariable);
    WindowTest::TearDown();
  }
  ui::ProPage& pro() { return *pages_->pro; }
  void start(bool clutch, std::unique_ptr<PedalInput> pedals = nullptr) {
    startEmulator([clutch](emu::FirmwareState& s) { s.modelReply = clutch ? 0x1F : 0x2F; });
    makeApp(true, std::move(pedals));
    startAndWait(ui::Application::Phase::Running);
  }
  void openPro() {
    WindowTest::click(app_->mainPage().pro);
    ASSERT_TRUE(pro().page->isVisible());
  }
  using Page = ui::ControllerModel::Page;
  void setZone(int pedal, bool upper, int value) {
    model().setZone(Page::Pro, static_cast<Pedal>(pedal), upper, value);
    settle();
  }
  // Clicks and lets a paused step finish.
  // A left click released on the switch, as the user flips it.
  void flip(QWidget* toggle) {
    const QPointF at(5, 5);
    QMouseEvent release(QEvent::MouseButtonRelease, at, toggle->mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(toggle, &release);
  }

  void click(QPushButton* b) {
    b->click();
    ASSERT_TRUE(waitFor([&] { return !pro().stepPending() && model().idle(); }));
    settle();
  }
  size_t mark() {
    framesOnceThere(0);
    return emulator_->received().size();
  }
  std::vector<Frame> since(size_t mark, size_t n) {
    const auto all = framesOnceThere(mark + n);
    return {all.begin() + static_cast<long>(std::min(mark, all.size())), all.end()};
  }
  std::string usageLog() { return readFile(dir_ + "/opt/uselog.sr0"); }
  std::string configValue(const char* key) {
    return AppConfig(dir_ + "/opt/config.ini").readText("GENERAL", key, "", 256);
  }
};

TEST_F(ProPageTest, ThreePedalCalibrationSendsEveryStepAndSaves) {
  start(true);
  openPro();
  ui::ProPage& p = pro();
  size_t m = mark();
  p.calibrate->click();
  // The 450 ms pause runs on a timer: the window is live and a second click is ignored.
  EXPECT_TRUE(p.stepPending());
  p.calibrate->click();
  ASSERT_TRUE(waitFor([&] { return !p.stepPending(); }));
  EXPECT_EQ(since(m, 5), (std::vector<Frame>{{0xB3, 0x00, 0x3B}, {0xFF, 0xF2}, {0xFF, 0xA0}, {0xFF, 0xB0}, {0xFF, 0xC0}}));
  EXPECT_NE(traceText().find("\nPRO wizard busy: click ignored"), std::string::npos);
  EXPECT_EQ(p.Count(), 1);
  EXPECT_EQ(p.pCount(), 1);
  EXPECT_TRUE(p.next->isVisible());
  EXPECT_TRUE(p.cancel->isVisible());
  EXPECT_TRUE(p.wizardPanel->isVisible());
  EXPECT_FALSE(p.zones[kBrakePedal].upper->isVisible());
  EXPECT_TRUE(app_->mainPage().calibrationPhotos[0]->isVisible());
  saveScreenshot("pro_page_calibrating.png");

  const Frame steps[3] = {{0xFF, 0xAA}, {0xFF, 0xBA}, {0xFF, 0xCA}};
  for (int i = 0; i < 3; ++i) {
    m = mark();
    click(p.next);
    EXPECT_EQ(since(m, 1), std::vector<Frame>{steps[i]});
    EXPECT_EQ(p.Count(), i + 2);
    EXPECT_EQ(p.pCount(), i + 2);
  }
  EXPECT_FALSE(p.next->isVisible());
  EXPECT_TRUE(p.saveCalibration->isVisible());
  EXPECT_EQ(ui::buttonLook(app_->mainPage().activatePro), ui::ButtonLook::Highlighted);
  // "CHECK THE CALIBRATION": the live bars show beside the wizard's buttons, under its panel.
  for (int pedal = 0; pedal < 3; ++pedal) {
    EXPECT_TRUE(p.barColumns[pedal]->isVisible() && p.valueBoxes[pedal]->isVisible()) << pedal;
    EXPECT_FALSE(p.barColumns[pedal]->geometry().intersects(p.wizardPanel->geometry())) << pedal;
    for (QWidget* button : {p.saveCalibration, p.cancel})
      EXPECT_FALSE(p.valueBoxes[pedal]->geometry().intersects(button->geometry())) << pedal;
  }

  m = mark();
  click(p.saveCalibration);
  const auto frames = since(m, 20);
  ASSERT_EQ(frames.size(), 20u);
  const std::vector<Frame> head(frames.begin(), frames.begin() + 7);
  EXPECT_EQ(head, (std::vector<Frame>{{0x6A}, {0xFF, 0xF1}, {0xFF, 0xF5}, {0x3C}, {0xA4}, {0xA5}, {0xA6}}));
  const uint8_t zoneCodes[6] = {0xC1, 0xC2, 0xC3, 0xC5, 0xC6, 0xC7};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(frames[7 + i][0], zoneCodes[i]) << i;
  EXPECT_EQ(frames[13], (Frame{0xB4, 0x01, 0x4B}));
  EXPECT_EQ(frames[14][0], 0xB6);
  EXPECT_EQ(frames[15], (Frame{0xB5, 0x00, 0x5B}));
  EXPECT_EQ(frames[16], (Frame{0xFF, 0xF4}));
  EXPECT_EQ(frames[17], (Frame{0xB3, 0x01, 0x3B}));
  EXPECT_EQ(frames[18][0], 0xBD);
  EXPECT_EQ(frames[19][0], 0xBE);

  const ControllerState& s = state();
  EXPECT_EQ(s.brakeUpper, s.brakeMax);
  EXPECT_EQ(p.zones[kBrakePedal].upper->value(), s.brakeMax);
  EXPECT_TRUE(s.calibrated && s.proProfileActive && !s.sportProfileActive && s.zonesEnabled);
  EXPECT_EQ(p.Count(), 0);
  EXPECT_EQ(p.pCount(), 0);
  // "SAVED CONFIGURATION." stays a while over the zones, then goes.
  EXPECT_TRUE(p.wizardPanel->isVisible());
  EXPECT_TRUE(p.wizardText->text().contains("SAVED CONFIGURATION."));
  EXPECT_FALSE(p.wizardPanel->geometry().intersects(p.zones[kBrakePedal].column->geometry()));
  ASSERT_TRUE(waitFor([&] { return !p.wizardPanel->isVisible(); }, ui::kSavedShownMs + 2000));
  EXPECT_TRUE(p.zones[kBrakePedal].upper->isVisible());
  EXPECT_TRUE(p.autoBrakeSwitch->isVisible());
  EXPECT_TRUE(p.autoBrakeLabel->isVisible());
  EXPECT_EQ(configValue("file"), "Default");
  EXPECT_EQ(configValue("mod"), "0");
  EXPECT_EQ(app_->mainPage().profileLabel->text().toStdString(), "Profile: Default");
  const std::string log = usageLog();
  EXPECT_NE(log.find(" Calibración inicio [Calibrado]\n"), std::string::npos);
  EXPECT_NE(log.find(" Embrague: 32767 - Freno: 26213 - Acelerador: 32767 [Calibrado]\n"), std::string::npos);
  EXPECT_NE(log.find(" Calibración guardada [Calibrado]\n"), std::string::npos);
  saveScreenshot("pro_page_calibrated.png");
}

TEST_F(ProPageTest, TwoPedalCalibrationEndsAfterTheBrake) {
  start(false);
  openPro();
  ui::ProPage& p = pro();
  EXPECT_EQ(p.barColumns[kBrakePedal]->x(), 302 - 200);
  EXPECT_EQ(p.barColumns[kThrottlePedal]->x(), 567 - 100);
  EXPECT_EQ(p.zones[kBrakePedal].column->x(), 373 - 200);
  EXPECT_FALSE(p.barColumns[kClutchPedal]->isVisible());
  size_t m = mark();
  click(p.calibrate);
  EXPECT_EQ(since(m, 4), (std::vector<Frame>{{0xB3, 0x00, 0x3B}, {0xFF, 0xF2}, {0xFF, 0xA0}, {0xFF, 0xB0}}));
  EXPECT_EQ(p.barColumns[kBrakePedal]->x(), 302 - 200 + 50);  // zones off: 50 px right
  EXPECT_FALSE(p.autoBrakeTest->isVisible());
  click(p.next);
  m = mark();
  click(p.next);
  EXPECT_EQ(since(m, 1), std::vector<Frame>{(Frame{0xFF, 0xBA})});
  EXPECT_EQ(p.Count(), 4);
  EXPECT_EQ(p.pCount(), 4);
  EXPECT_TRUE(p.saveCalibration->isVisible());
  click(p.saveCalibration);
  EXPECT_TRUE(p.autoBrakeTest->isVisible());
  EXPECT_TRUE(p.autoBrakeList->isVisible());
  EXPECT_TRUE(p.led->isVisible());
  EXPECT_FALSE(p.autoBrakeLabel->isVisible());
  EXPECT_EQ(p.barColumns[kBrakePedal]->x(), 302 - 200);

  // The test button: pressed lights the LED, released puts it out.
  m = mark();
  emit p.autoBrakeTest->pressed();
  settle();
  EXPECT_EQ(p.ledBrightness(), 255);
  emit p.autoBrakeTest->released();
  settle();
  EXPECT_EQ(p.ledBrightness(), 100);
  EXPECT_EQ(since(m, 2), (std::vector<Frame>{{0xE3, 0x01, 0x3E}, {0xE3, 0x00, 0x3E}}));
  saveScreenshot("pro_page_two_pedals.png");
}

TEST_F(ProPageTest, CancelAndCloseRestoreThePreviousCalibration) {
  start(true);
  ui::ProPage& p = pro();
  // CLOSE outside a calibration sends nothing.
  openPro();
  size_t m = mark();
  click(p.close);
  EXPECT_TRUE(since(m, 0).empty());
  EXPECT_FALSE(p.page->isVisible());

  // CLOSE during step 2 restores and re-enables the zones.
  openPro();
  click(p.calibrate);
  click(p.next);
  EXPECT_EQ(p.Count(), 2);
  m = mark();
  click(p.close);
  EXPECT_EQ(since(m, 2), (std::vector<Frame>{{0xFF, 0xF3}, {0xB3, 0x01, 0x3B}}));
  EXPECT_EQ(p.pCount(), 0);
  EXPECT_TRUE(state().zonesEnabled);
  EXPECT_FALSE(app_->mainPage().calibrationPhotos[0]->isVisible());

  // CANCEL: FF F3, the MAX BRAKE PRESS value again, zones on.
  openPro();
  click(p.calibrate);
  m = mark();
  click(p.cancel);
  const int brakeUpper = state().brakeUpper;
  EXPECT_EQ(since(m, 3), (std::vector<Frame>{{0xFF, 0xF3},
                                             {0xC3, static_cast<uint8_t>(brakeUpper), 0x3C},
                                             {0xB3, 0x01, 0x3B}}));
  EXPECT_EQ(p.Count(), 0);
  EXPECT_EQ(p.pCount(), 0);
  EXPECT_FALSE(p.cancel->isVisible());
  EXPECT_TRUE(p.zones[kBrakePedal].upper->isVisible());
  EXPECT_NE(usageLog().find(" Calibración cancelada [Calibrado]\n"), std::string::npos);
}

// EXIT in the middle of the wizard: the old points back and the zones on before the link
// closes, as CLOSE does.
TEST_F(ProPageTest, ExitDuringACalibrationRestoresThePreviousCalibration) {
  start(true);
  const int16_t brakePressed = emulator_->state().calibration.brakePressed;
  openPro();
  click(pro().calibrate);
  click(pro().next);
  const size_t m = mark();
  app_->mainPage().exit->click();
  EXPECT_EQ(since(m, 2), (std::vector<Frame>{{0xFF, 0xF3}, {0xB3, 0x01, 0x3B}}));
  EXPECT_FALSE(emulator_->state().calibrating);
  EXPECT_EQ(emulator_->state().calibration.brakePressed, brakePressed);
}

TEST_F(ProPageTest, ZoneButtonsApplyAndKeyLettersReachTheController) {
  start(true);
  openPro();
  ui::ProPage& p = pro();
  ui::ZoneColumn& brake = p.zones[kBrakePedal];
  setZone(kBrakePedal, true, 60);
  setZone(kBrakePedal, false, 10);
  size_t m = mark();
  click(brake.upperPlus);
  click(brake.lowerMinus);
  EXPECT_EQ(since(m, 2), (std::vector<Frame>{{0xC3, 61, 0x3C}, {0xC5, 9, 0x5C}}));
  EXPECT_EQ(state().brakeUpper, 61);
  EXPECT_EQ(brake.upperMarker->y(), 4 + 202 - 1 - 122);
  EXPECT_EQ(p.bars().pro.bar[kBrakePedal]->indicatorStyle().padTop, 201 - 122);

  // The clutch at 40/40 cannot cross itself.
  ui::ZoneColumn& clutch = p.zones[kClutchPedal];
  setZone(kClutchPedal, true, 40);
  setZone(kClutchPedal, false, 40);
  m = mark();
  click(clutch.upperMinus);
  click(clutch.lowerPlus);
  EXPECT_TRUE(since(m, 0).empty());

  // The MAX BRAKE PRESS key steps go through the same rule.
  m = mark();
  model().stepZone(Page::Pro, Pedal::Brake, true, -1);
  settle();
  EXPECT_EQ(since(m, 1), std::vector<Frame>{(Frame{0xC3, 60, 0x3C})});

  m = mark();
  click(p.apply);
  EXPECT_EQ(since(m, 1), std::vector<Frame>{(Frame{0xFF, 0xF4})});
  EXPECT_TRUE(p.confirmations[0]->isVisible());
  EXPECT_FALSE(p.confirmations[1]->isVisible());
  EXPECT_EQ(configValue("file"), "Default");
  click(p.zones[kThrottlePedal].lowerPlus);
  EXPECT_FALSE(p.confirmations[0]->isVisible());

  m = mark();
  for (auto [list, index] : {std::pair{p.masList, 3}, {p.menosList, 5}, {p.absList, 1}}) {
    list->setCurrentIndex(index);
    settle();
  }
  flip(p.autoBrakeSwitch);
  settle();
  flip(p.autoBrakeSwitch);
  settle();
  const auto frames = since(m, 5);
  ASSERT_EQ(frames.size(), 5u);
  EXPECT_EQ(frames[0], (Frame{0xCA, 3, 0xAC}));
  EXPECT_EQ(frames[1], (Frame{0xCB, 5, 0xBC}));
  EXPECT_EQ(frames[2], (Frame{0xD8, 1, 0x8D}));
  EXPECT_EQ(frames[3][0], 0xBF);
  EXPECT_EQ(frames[4][0], 0xBF);
  EXPECT_NE(frames[3][1], frames[4][1]);
  EXPECT_EQ(state().letterMas, 3);
  EXPECT_EQ(state().letterMenos, 5);
}

// Answers the next modal file dialog (a real QFileDialog) with a path, or cancels it
// when the path is empty. An open dialog may refuse the answer until it has listed its
// folder, so the timer tries again until the dialog closes; it goes with its owner.
void answerFileDialog(QObject* owner, const QString& path) {
  auto* poll = new QTimer(owner);
  QObject::connect(poll, &QTimer::timeout, poll, [poll, path] {
    auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (d == nullptr || !poll->isActive()) return;
    if (path.isEmpty()) {
      d->reject();
    } else {
      // Typed into the name field, as a user would.
      if (auto* name = d->findChild<QLineEdit*>("fileNameEdit")) name->setText(path);
      static_cast<QDialog*>(d)->accept();  // as the dialog's own button does
    }
    if (!d->isVisible()) poll->stop();
  });
  poll->start(20);
}

TEST_F(ProPageTest, ProfileSaveAndLoadGoThroughTheFileDialog) {
  start(true);
  openPro();
  ui::ProPage& p = pro();
  std::filesystem::create_directories(dir_ + "/tkb");
  const QString path = QString::fromStdString(dir_ + "/tkb/Monza.tkb");
  setZone(kBrakePedal, true, 61);
  answerFileDialog(app_->window(), path);
  click(p.saveProfile);
  EXPECT_TRUE(p.confirmations[1]->isVisible());
  EXPECT_FALSE(p.confirmations[0]->isVisible());
  ASSERT_TRUE(std::filesystem::exists(path.toStdString()));
  EXPECT_EQ(app_->mainPage().profileLabel->text().toStdString(), "Profile: Monza");

  // A file that was not written (a read-only one is refused) is not called saved.
  const std::string unsaved = dir_ + "/tkb/Unsaved.tkb";
  writeFile(unsaved, "kept\n");
  std::filesystem::permissions(unsaved, std::filesystem::perms::owner_read);
  pages_->dialogs.scriptFileChooser([&](const FileDialogRequest&) { return std::optional<std::string>(unsaved); });
  click(p.saveProfile);
  pages_->dialogs.scriptFileChooser({});
  EXPECT_FALSE(p.confirmations[1]->isVisible());
  EXPECT_TRUE(p.confirmations[3]->isVisible());
  EXPECT_EQ(readFile(unsaved), "kept\n");
  EXPECT_EQ(app_->mainPage().profileLabel->text().toStdString(), "Profile: Monza");

  setZone(kBrakePedal, true, 50);
  size_t m = mark();
  answerFileDialog(app_->window(), path);
  click(p.loadProfile);
  EXPECT_TRUE(p.confirmations[2]->isVisible());
  EXPECT_EQ(p.zones[kBrakePedal].upper->value(), 61);
  bool sent = false;
  for (const Frame& f : since(m, 1)) sent = sent || f == Frame{0xC3, 61, 0x3C};
  EXPECT_TRUE(sent);

  // A cancelled dialog leaves the label shown and changes nothing.
  answerFileDialog(app_->window(), {});
  click(p.loadProfile);
  EXPECT_TRUE(p.confirmations[2]->isVisible());
  EXPECT_EQ(p.zones[kBrakePedal].upper->value(), 61);
  // Each operation brackets itself once.
  const std::string t = traceText();
  auto count = [&t](const std::string& line) {
    size_t n = 0;
    for (size_t at = t.find(line); at != std::string::npos; at = t.find(line, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("\nGuardar zones PRO pressed - Inicio"), 2u);
  EXPECT_EQ(count("\nCargar zones PRO pressed - Final\n"), 2u);  // a load and a cancelled one
}

// The page opens with the zones set (or, uncalibrated, reset) first, then the mode, the
// zone read-back and the six zone values.
TEST_F(ProPageTest, OpeningSendsItsFramesInOrder) {
  struct Row {
    bool calibrated;
    std::vector<Frame> head;
  };
  const Row rows[] = {
      {true, {{0xB3, 0x01, 0x3B}, {0xB3, 0x01, 0x3B}, {0xB5, 0x00, 0x5B}, {0xA4}, {0xA5}, {0xA6}}},
      {false, {{0xB3, 0x00, 0x3B}, {0xA4}, {0xA5}, {0xA6}}},
  };
  for (const Row& r : rows) {
    startEmulator([&](emu::FirmwareState& s) { s.configFlags = r.calibrated ? 0x0C : 0x08; });
    makeApp();
    startAndWait(ui::Application::Phase::Running);
    const size_t m = mark();
    openPro();
    const auto frames = since(m, r.head.size() + 6);
    ASSERT_EQ(frames.size(), r.head.size() + 6) << hexFrames(frames);
    EXPECT_EQ(std::vector<Frame>(frames.begin(), frames.begin() + static_cast<long>(r.head.size())), r.head)
        << hexFrames(frames);
    const uint8_t zoneCodes[6] = {0xC1, 0xC2, 0xC3, 0xC5, 0xC6, 0xC7};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(frames[r.head.size() + i][0], zoneCodes[i]) << hexFrames(frames);
    app_.reset();
    emulator_->stop();
  }
}

// Each wizard step marks its pedal on the calibration picture: every pedal rests at step 0,
// then the throttle, the brake and the clutch are pressed; nothing once the points are taken.
TEST_F(ProPageTest, WizardPicturesShowWhichPedalEachStepIsAbout) {
  startEmulator([](emu::FirmwareState& s) { s.configFlags = 0x08; });
  makeApp();
  startAndWait(ui::Application::Phase::Running);
  ui::ProPage& p = pro();
  auto arrows = [&] {
    std::string shown;
    for (int pedal = 0; pedal < 3; ++pedal)
      shown += p.pressArrows[pedal]->isVisible() ? 'v' : p.restArrows[pedal]->isVisible() ? '^' : '.';
    return shown;
  };
  openPro();
  EXPECT_EQ(arrows(), "^^^");  // clutch, brake, throttle
  EXPECT_TRUE(app_->mainPage().calibrationPhotos[0]->isVisible());
  click(p.calibrate);
  const char* const steps[] = {"..v", ".v.", "v..", "..."};
  for (const char* expected : steps) {
    EXPECT_EQ(arrows(), expected) << "step " << p.Count();
    if (p.next->isVisible()) click(p.next);
  }
  click(p.close);
  EXPECT_EQ(arrows(), "...");
}

// CLOSE in the middle of a calibration gives the AutoBrake widgets back.
TEST_F(ProPageTest, CloseDuringACalibrationShowsTheAutoBrakeWidgetsAgain) {
  for (bool clutch : {true, false}) {
    start(clutch);
    ui::ProPage& p = pro();
    openPro();
    click(p.calibrate);
    EXPECT_FALSE(p.autoBrakeSwitch->isVisibleTo(p.page));
    click(p.close);
    openPro();
    EXPECT_TRUE(p.autoBrakeSwitch->isVisible()) << clutch;
    EXPECT_EQ(p.autoBrakeLabel->isVisible(), clutch);
    for (QWidget* w : std::initializer_list<QWidget*>{p.autoBrakeTest, p.led, p.autoBrakeList})
      EXPECT_EQ(w->isVisible(), !clutch) << clutch;
    app_.reset();
    emulator_->stop();
  }
}

TEST_F(ProPageTest, LiveBarsFollowThePedalsAndFeedTheMonitor) {
  const std::string name = "tkb-pro-page-test-" + std::to_string(::getpid());
  setenv(monitor::kChannelNameVariable, name.c_str(), 1);
  // Bound where the monitor would be; read raw, byte for byte.
  monitor::MonitorReceiver monitor(name);
  ASSERT_TRUE(monitor.bind()) << monitor.problem();
  const int fd = monitor.fd();
  auto pedals = std::make_unique<FixedPedalInput>();
  FixedPedalInput* input = pedals.get();
  start(true, std::move(pedals));
  openPro();
  ui::ProPage& p = pro();
  // throttle 80 %, brake at full scale, clutch 64.9 %, brake total 73.4 %.
  input->set({20661, 32767, 9765, 14968});
  ASSERT_TRUE(waitFor([&] { return p.bars().pro.value[kClutchPedal]->text() == "     64 %"; }));
  ASSERT_TRUE(waitFor([&] { return model().readout().proHistory(kBrakePedal)[0] == "#ff0000      73#"; }));
  EXPECT_EQ(p.bars().pro.bar[kBrakePedal]->value(), 100);
  // Full brake fills the dead-zone band: 2 px per percent up to MAX BRAKE PRESS.
  EXPECT_EQ(p.bars().pro.bar[kBrakePedal]->indicatorRect().height(), 2 * state().brakeUpper);
  EXPECT_EQ(p.bars().pro.value[kThrottlePedal]->text().toStdString(), "     81 %");
  EXPECT_EQ(p.bars().pro.value[kBrakePedal]->text().toStdString(), "     100 %");

  const ControllerState& s = state();
  Frame last;
  ASSERT_TRUE(waitFor([&] {
    uint8_t buf[64];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) last.assign(buf, buf + n);
    return last.size() == 20 && last[12] == 81;
  }));
  const Frame expected{0x01, 0x04, 0, 0,
                       2, static_cast<uint8_t>(s.brakeUpper), static_cast<uint8_t>(s.brakeMax), 0, 0, 0, 0, 0,
                       81, 100, 64, 0, 0, 0, 0, 0};
  EXPECT_EQ(last, expected);
  saveScreenshot("pro_page_live_bars.png");
}

}  // namespace
}  // namespace tkb::test
