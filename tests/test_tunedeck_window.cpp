// The configuration window against the emulated pedal set over a real pseudo-terminal,
// with real widgets in Qt's offscreen platform.
#include <signal.h>
#include <sys/wait.h>

#include <QKeyEvent>
#include <QListWidget>
#include <QProcess>
#include <thread>

#include "ui/help_texts.h"
#include "window_fixture.h"

namespace tkb::test {
namespace {

using Phase = ui::Application::Phase;
using Frame = std::vector<uint8_t>;

bool alive(pid_t pid) { return pid > 0 && kill(pid, 0) == 0; }

TEST_F(WindowTest, StartUpSendsEveryRequestInOrderAndShowsTheController) {
  startEmulator([](emu::FirmwareState& s) {
    s.versionMajor = 7;
    s.versionMinor = 9;
    s.proProfileName = makeProfileName("Monza Wet");
  });
  makeApp();
  startAndWait(Phase::Running);

  const std::vector<Frame> expected = {
      {0x4A}, {0x3A},                                   // probe
      {0x5A},                                           // start readings
      {0xD4}, {0xD5}, {0xD6, 0x01, 0x6D}, {0xD7, 0x01, 0x7D},  // model, colour, sent back
      {0x4A},                                           // firmware version
      {0xA2}, {0xA3}, {0xE1}, {0xAC}, {0xA4}, {0xA5}, {0xA6}, {0xA7}, {0xA8}, {0xA9},
      {0xD9}, {0xE5}, {0xAA}, {0xAB}, {0xAD}, {0xAE}, {0xD3}, {0xAF}, {0xD1}, {0xD2},
      {0x11}, {0x21},                                   // loadData
      {0xC1, 100, 0x1C}, {0xC2, 0, 0x2C}, {0xC3, 90, 0x3C},  // the PRO page's zones
      {0xC5, 0, 0x5C}, {0xC6, 100, 0x6C}, {0xC7, 0, 0x7C},
      {0xB2, 0x00, 0x2B},                               // language sent back
      {0xAA}, {0xAD}, {0xAB}, {0xAE},                   // key letters
  };
  const auto received = emulator_->received();
  ASSERT_EQ(received.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(received[i], expected[i]) << "frame " << i << ": got " << hex(received[i])
                                        << " expected " << hex(expected[i]);

  ui::MainPage& p = app_->mainPage();
  EXPECT_EQ(p.firmwareLabel->text(), "Firmware: TKB-V7.9");
  EXPECT_EQ(p.profileLabel->text(), "Profile: Monza Wet");
  EXPECT_TRUE(p.modeLabels[0]->isVisible());
  EXPECT_FALSE(p.modeLabels[1]->isVisible());
  EXPECT_FALSE(p.modeLabels[2]->isVisible());
  ASSERT_NE(app_->proPage(), nullptr);
  ASSERT_NE(app_->customPage(), nullptr);
  EXPECT_EQ(app_->proPage()->geometry(), QRect(460, 20, 820, 560));
  EXPECT_EQ(app_->window()->size(), QSize(1300, 640));
  EXPECT_EQ(app_->window()->windowTitle(), "TKB-Tunedeck V3.3.3");
  const QImage icon = app_->window()->windowIcon().pixmap(16, 16).toImage();
  ASSERT_FALSE(icon.isNull());
  EXPECT_EQ(icon.size(), QSize(16, 16));
  EXPECT_GT(icon.pixelColor(8, 8).alpha(), 0);
  EXPECT_EQ(rec_.installs, 1);
  // The usage log got its start lines.
  EXPECT_NE(readFile(dir_ + "/opt/uselog.sr0").find("Inicio"), std::string::npos);
  saveScreenshot("main_page_en.png");
}

TEST_F(WindowTest, MainPageObjectsSitWhereTheLayoutPutsThem) {
  startEmulator();
  makeApp();
  startAndWait(Phase::Running);
  ui::MainPage& p = app_->mainPage();
  struct Row {
    const char* name;
    QWidget* widget;
    QRect rect;
  };
  const Row rows[] = {
      {"LANGUAGE", p.language, {1055, 50, 145, 40}},
      {"MANUAL", p.manual, {1055, 110, 145, 40}},
      {"EXIT", p.exit, {1055, 480, 145, 40}},
      {"PRO", p.pro, {390, 60, 320, 100}},
      {"CUSTOM", p.custom, {390, 350, 320, 100}},
      {"OPEN MONITOR", p.openMonitor, {790, 50, 220, 50}},
      {"CLOSE MONITOR", p.closeMonitor, {790, 50, 220, 50}},
      {"OPEN VR MONITOR", p.openVrMonitor, {790, 120, 220, 50}},
      {"second OPEN MONITOR", p.openMonitor2, {390, 470, 320, 30}},
      {"second OPEN VR MONITOR", p.openVrMonitor2, {390, 520, 320, 30}},
      {"ACTIVATE PRO MODE", p.activatePro, {390, 180, 320, 50}},
      {"ACTIVATE CUSTOM MODE", p.activateCustom, {390, 470, 320, 50}},
      {"VrSettingsPanel", app_->vrPanel(), {870, 200, 360, 220}},
      {"model logo", p.logos[0], {30, 80, 390, 130}},
      {"pedal photo", p.photos[0], {20, 240, 410, 260}},
      {"footer", p.footer, {0, 590, 1299, 44}},
      {"header", p.header, {460, 20, 820, 560}},
  };
  for (const Row& r : rows) EXPECT_EQ(r.widget->geometry(), r.rect) << r.name;
  // APPLY VR SETTINGS: 300 x 30 along the panel's bottom edge, inside the panel.
  EXPECT_EQ(app_->vrPanel()->applyButton()->geometry(), QRect(30, 184, 300, 30));
  EXPECT_EQ(p.modelList->pos(), QPoint(60, 50));
  EXPECT_EQ(p.colourList->pos(), QPoint(240, 50));
  EXPECT_EQ(p.languageList->pos().x() + p.languageList->width(), 1300 - 90);
  // The size spin box, 38 x 25, centred on (-70, -70) from the panel centre (180, 110).
  EXPECT_EQ(app_->vrPanel()->box(0)->geometry(), QRect(91, 27, 38, 25));
  // Created hidden: the second twins, both CLOSE buttons, the lists and the VR panel.
  for (QWidget* w : std::initializer_list<QWidget*>{p.openMonitor2, p.closeMonitor, p.closeVrMonitor,
                                                    p.languageList, p.manualList, app_->vrPanel()})
    EXPECT_FALSE(w->isVisible()) << w->objectName().toStdString();
  EXPECT_TRUE(p.openMonitor->isVisible());
  EXPECT_TRUE(p.openVrMonitor->isVisible());
}

TEST_F(WindowTest, MissingJoystickShowsOnlyTheBoxUntilContinueFindsIt) {
  startEmulator();
  makeApp(/*withJoystick=*/false);
  startAndWait(Phase::NotDetected);
  ui::MainPage& p = app_->mainPage();
  EXPECT_TRUE(p.notDetectedBox->isVisible());
  // The box's own words first (then ours on which part is missing).
  EXPECT_TRUE(p.notDetectedText->text().startsWith(
      "PEDALS NOT DETECTED!!<br><br>PLEASE PLUG IN THE PEDALS TO CALIBRATE AND RESTART<p"))
      << p.notDetectedText->text().toStdString();
  EXPECT_EQ(p.pro, nullptr);
  EXPECT_EQ(app_->proPage(), nullptr);
  // Nothing but the probe and the language question (for the box) reached the controller.
  EXPECT_EQ(framesOnceThere(3), (std::vector<Frame>{{0x4A}, {0x3A}, {0xA2}}));

  // CONTINUE with the joystick still missing: the box again, no second key listener.
  click(p.continueButton);
  ASSERT_TRUE(waitFor([&] { return app_->phase() == Phase::NotDetected && p.notDetectedBox->isVisible(); }));
  ASSERT_TRUE(waitFor([&] { return app_->phase() != Phase::Probing; }));
  EXPECT_EQ(static_cast<int>(app_->phase()), static_cast<int>(Phase::NotDetected));

  plugJoystick();
  click(p.continueButton);
  ASSERT_TRUE(waitFor([&] { return app_->phase() == Phase::Running; }));
  EXPECT_NE(p.pro, nullptr);
  EXPECT_FALSE(p.notDetectedBox->isVisible());
  EXPECT_TRUE(p.pro->isVisible());
  EXPECT_EQ(rec_.installs, 1);
  EXPECT_TRUE(rec_.boxes.empty());
  EXPECT_NE(traceText().find("Button: CONTINUE\n"), std::string::npos);
}

TEST_F(WindowTest, FailedKeyListenerIsReportedOnceAndTheProgramRunsOn) {
  startEmulator();
  rec_.installWorks = false;
  makeApp();
  startAndWait(Phase::Running);
  ASSERT_EQ(rec_.boxes.size(), 1u);
  EXPECT_EQ(rec_.boxes[0].first, "Failed to install hook!");
  EXPECT_EQ(rec_.boxes[0].second, "Error");
  EXPECT_FALSE(app_->keyListenerInstalled());
}

TEST_F(WindowTest, WithoutControllerTheWindowStaysGreySearchingAndClosesAtOnce) {
  makeApp();  // no emulator has started: no port answers
  app_->startApplication();
  QCoreApplication::processEvents();
  usleep(300'000);
  QCoreApplication::processEvents();
  EXPECT_EQ(static_cast<int>(app_->phase()), static_cast<int>(Phase::Probing));
  EXPECT_EQ(app_->mainPage().background, nullptr);
  // The window answers while the probe scans.
  const QImage shot = app_->window()->grab().toImage();
  EXPECT_EQ(shot.pixelColor(5, 5), QColor(0x44, 0x44, 0x44));
  QElapsedTimer t;
  t.start();
  app_.reset();  // closing gives up the probe
  EXPECT_LT(t.elapsed(), 10000);
}

TEST_F(WindowTest, GermanControllerIsRelabelledOnceAndPortugueseSelectionIsSent) {
  startEmulator([](emu::FirmwareState& s) { s.languageCode = 4; });
  makeApp();
  startAndWait(Phase::Running);
  QPushButton* proCancel = pages_->pro->cancel;
  ui::MainPage& p = app_->mainPage();
  EXPECT_EQ(p.language->text(), "SPRACHE");
  EXPECT_EQ(p.manual->text(), "HANDBUCH");
  EXPECT_EQ(p.exit->text(), "SCHLIEßEN");
  EXPECT_EQ(p.proSubtitle->text(), "KALIBRIEREN");
  EXPECT_EQ(app_->vrPanel()->label(4)->text(), "FRONT.NEIG.:");
  ASSERT_NE(proCancel, nullptr);
  EXPECT_EQ(proCancel->text(), "STORNIEREN");
  EXPECT_EQ(countFrames({0xB2, 0x04, 0x2B}), 1);
  saveScreenshot("main_page_de.png");

  // LANGUAGE opens the list; Portuguese is sent and relabels every page at once.
  click(p.language);
  EXPECT_TRUE(p.languageList->isVisible());
  EXPECT_FALSE(p.language->isVisible());
  emulator_->clearReceived();
  QListWidgetItem* portuguese = p.languageList->item(5);
  ASSERT_EQ(portuguese->text(), "Portuguese");
  // A real click on the entry: it acts, and stays unmarked for the next time the list opens.
  QWidget* entries = p.languageList->viewport();
  const QPointF at = p.languageList->visualItemRect(portuguese).center();
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
    QMouseEvent event(type, at, entries->mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(entries, &event);
  }
  EXPECT_TRUE(p.languageList->selectedItems().isEmpty());
  EXPECT_EQ(framesOnceThere(1), (std::vector<Frame>{{0xB2, 0x05, 0x2B}}));
  EXPECT_EQ(state().language, "Portuguese");
  EXPECT_EQ(proCancel->text(), "CANCELAR");
  EXPECT_EQ(p.language->text(), "LÍNGUA");
  EXPECT_EQ(p.openMonitor->text(), "ABRIR MONITOR");
  EXPECT_EQ(p.openMonitor2->text(), "ABRIR MONITOR");
  EXPECT_FALSE(p.languageList->isVisible());
  EXPECT_TRUE(p.language->isVisible());
  EXPECT_TRUE(p.manual->isVisible());

  // The manual of the current language, from the working directory.
  click(p.manual);
  emit p.manualList->itemClicked(p.manualList->item(0));
  ASSERT_EQ(rec_.urls.size(), 1u);
  EXPECT_EQ(rec_.urls[0], QUrl::fromLocalFile(QString::fromStdString(dir_) + "/doc/po.pdf"));
  EXPECT_FALSE(p.manualList->isVisible());
  EXPECT_TRUE(p.manual->isVisible());
}

TEST_F(WindowTest, UnknownLanguageKeepsCreationTextsAndOpensNoManual) {
  startEmulator([](emu::FirmwareState& s) { s.languageCode = 9; });
  makeApp();
  startAndWait(Phase::Running);
  ui::MainPage& p = app_->mainPage();
  EXPECT_EQ(p.proSubtitle->text(), "BASIC ADJUSTMENT");
  EXPECT_EQ(p.customSubtitle->text(), "ADVANCED ADJUSTMENT");
  EXPECT_EQ(countFrames({0xB2, 0x00, 0x2B}), 0);
  const std::string trace = traceText();
  EXPECT_NE(trace.find("Language not found\n"), std::string::npos);
  emit p.manualList->itemClicked(p.manualList->item(0));
  EXPECT_TRUE(rec_.urls.empty());
  EXPECT_NE(traceText().find("manual not found /n"), std::string::npos);
  emit p.manualList->itemClicked(p.manualList->item(1));
  ASSERT_EQ(rec_.urls.size(), 1u);
  EXPECT_EQ(rec_.urls[0].scheme(), "https");
}

TEST_F(WindowTest, PhotoIndexFollowsModelColourAndClutch) {
  struct Row {
    int model, colour;
    bool clutch;
    std::optional<int> photo;
  };
  const Row rows[] = {
      {1, 1, true, 6},   {2, 1, true, 7},    {2, 2, true, 17},  {4, 2, true, 19},
      {1, 1, false, 0},  {3, 2, false, 12},  {6, 2, false, 15}, {6, 1, false, 5},
      {5, 2, true, std::nullopt},  // would be photo 20: no photo
      {0, 1, false, std::nullopt}, {7, 1, false, std::nullopt}, {-3, 2, true, std::nullopt},
  };
  for (const Row& r : rows)
    EXPECT_EQ(ui::photoIndex(r.model, r.colour, r.clutch), r.photo)
        << "model " << r.model << " colour " << r.colour << " clutch " << r.clutch;
}

TEST_F(WindowTest, ModelAndColourChoicesSendTheirFramesAndSwapThePhoto) {
  startEmulator([](emu::FirmwareState& s) {
    s.modelReply = 0x1F;  // with clutch
    s.model = 5;          // sets with a clutch come as models 1 to 4 only
    s.color = 1;
  });
  makeApp();
  startAndWait(Phase::Running);
  ui::MainPage& p = app_->mainPage();
  auto visiblePhotos = [&] {
    std::vector<int> v;
    for (int i = 0; i < ui::kPhotoCount; ++i)
      if (p.photos[i]->isVisible()) v.push_back(i);
    return v;
  };
  auto visibleLogos = [&] {
    std::vector<int> v;
    for (int i = 0; i < ui::kModelCount; ++i)
      if (p.logos[i]->isVisible()) v.push_back(i + 1);
    return v;
  };
  EXPECT_EQ(state().model, 1);
  EXPECT_EQ(visiblePhotos(), std::vector<int>{6});
  EXPECT_EQ(visibleLogos(), std::vector<int>{1});
  ASSERT_EQ(p.modelList->count(), 2);
  EXPECT_EQ(p.modelList->itemText(1), "Birch");

  emulator_->clearReceived();
  p.colourList->setCurrentIndex(1);
  emit p.colourList->activated(1);  // Black
  settle();
  EXPECT_EQ(visiblePhotos(), std::vector<int>{16});
  EXPECT_EQ(visibleLogos(), std::vector<int>{1});  // the colour keeps the logo
  p.modelList->setCurrentIndex(1);
  emit p.modelList->activated(1);  // Birch
  settle();
  EXPECT_EQ(visiblePhotos(), std::vector<int>{17});
  EXPECT_EQ(visibleLogos(), std::vector<int>{2});
  p.colourList->setCurrentIndex(0);
  emit p.colourList->activated(0);  // Grey
  settle();
  EXPECT_EQ(visiblePhotos(), std::vector<int>{7});
  EXPECT_EQ(framesOnceThere(3), (std::vector<Frame>{{0xD7, 0x02, 0x7D}, {0xD6, 0x02, 0x6D}, {0xD7, 0x01, 0x7D}}));
  // Every picture shown was drawn from its compiled-in artwork.
  EXPECT_FALSE(p.photos[7]->pixmap().isNull());
  EXPECT_NE(p.photos[7]->pixmap().toImage().pixelColor(5, 5), QColor(0, 0, 0, 0));
}

TEST_F(WindowTest, NoClutchModelSixInBlackShowsPhotoFifteenAndThreeModels) {
  startEmulator([](emu::FirmwareState& s) {
    s.modelReply = 0x2F;
    s.model = 6;
    s.color = 2;
  });
  makeApp();
  startAndWait(Phase::Running);
  ui::MainPage& p = app_->mainPage();
  EXPECT_TRUE(p.photos[15]->isVisible());
  EXPECT_TRUE(p.logos[5]->isVisible());
  EXPECT_EQ(p.modelList->count(), 3);
  EXPECT_EQ(p.modelList->currentIndex(), 2);  // model 6 is not offered: the last entry shows
  EXPECT_EQ(p.colourList->currentIndex(), 1);
}

TEST_F(WindowTest, ModeButtonsFollowCalibrationAndTheActivateButtonsSwitchModes) {
  startEmulator([](emu::FirmwareState& s) {
    s.configFlags = 0x08;  // zones, not calibrated
    s.chetoActive = 1;     // the brake stop in use
  });
  makeApp();
  startAndWait(Phase::Running);
  ui::MainPage& p = app_->mainPage();
  EXPECT_FALSE(p.activatePro->isVisible());
  EXPECT_FALSE(p.activateCustom->isVisible());
  EXPECT_FALSE(p.custom->isVisible());
  EXPECT_TRUE(p.pro->isVisible());
  EXPECT_EQ(ui::buttonLook(p.activatePro), ui::ButtonLook::Highlighted);

  emulator_->clearReceived();
  click(p.activateCustom);
  EXPECT_TRUE(p.modeLabels[2]->isVisible());  // "Mode: CUSTOM M"
  EXPECT_FALSE(p.modeLabels[0]->isVisible());
  EXPECT_EQ(ui::buttonLook(p.activateCustom), ui::ButtonLook::Highlighted);
  EXPECT_EQ(ui::buttonLook(p.activatePro), ui::ButtonLook::Normal);
  click(p.activatePro);
  EXPECT_TRUE(p.modeLabels[0]->isVisible());
  EXPECT_EQ(ui::buttonLook(p.activatePro), ui::ButtonLook::Highlighted);
  // B3 (zones on) then B5 (CUSTOM active or not), for each activation.
  EXPECT_EQ(framesOnceThere(4), (std::vector<Frame>{{0xB3, 0x01, 0x3B},
                                                        {0xB5, 0x01, 0x5B},
                                                        {0xB3, 0x01, 0x3B},
                                                        {0xB5, 0x00, 0x5B}}));
}

TEST_F(WindowTest, ProAndCustomButtonsOpenTheirContainers) {
  startEmulator();
  makeApp();
  startAndWait(Phase::Running);
  ui::MainPage& p = app_->mainPage();
  click(p.pro);
  EXPECT_TRUE(app_->proPage()->isVisible());
  EXPECT_FALSE(p.pro->isVisible());
  click(pages_->pro->close);
  EXPECT_FALSE(app_->proPage()->isVisible());
  EXPECT_TRUE(p.pro->isVisible());
  click(p.custom);
  EXPECT_TRUE(app_->customPage()->isVisible());
  EXPECT_FALSE(p.custom->isVisible());
  EXPECT_TRUE(state().sportProfileActive);
  EXPECT_TRUE(p.modeLabels[1]->isVisible());
}

// EXIT beside an open page, whose close button may read the same word, asks first in the
// driver's language, naming that button; "stay" leaves the program as it was. On the main
// page alone EXIT ends the program at once (MonitorSlotTest).
TEST_F(WindowTest, ExitWhileAPageIsOpenAsksFirst) {
  startEmulator([](emu::FirmwareState& s) { s.languageCode = 3; });
  makeApp();
  startAndWait(Phase::Running);
  ui::MainPage& p = app_->mainPage();
  rec_.answer = false;
  struct Row {
    QAbstractButton* open;
    ui::LabelRole close;
  };
  for (const Row& r : {Row{p.pro, ui::LabelRole::ProClose}, Row{p.custom, ui::LabelRole::CustomClose}}) {
    click(r.open);
    rec_.questions.clear();
    p.exitButtonClicked();
    settle();
    ASSERT_EQ(rec_.questions.size(), 1u);
    const ui::Question& q = rec_.questions[0];
    EXPECT_TRUE(q.text.contains(QString::fromUtf8(ui::labelText(r.close, 3)))) << q.text.toStdString();
    EXPECT_EQ(q.yes, QString::fromUtf8(ui::labelText(ui::LabelRole::ExitQuit, 3)));
    EXPECT_EQ(q.no, QString::fromUtf8(ui::labelText(ui::LabelRole::ExitStay, 3)));
    EXPECT_EQ(rec_.quits, 0);
    EXPECT_EQ(static_cast<int>(app_->phase()), static_cast<int>(Phase::Running));
  }
  EXPECT_TRUE(app_->customPage()->isVisible());
  rec_.answer = true;
  click(p.exit);
  EXPECT_EQ(rec_.quits, 1);
  EXPECT_EQ(static_cast<int>(app_->phase()), static_cast<int>(Phase::Stopped));
}

// A page's button runs its own branch once, as one action: the PRO page's ABS button runs
// Autocal (nothing recorded: nothing is sent).
TEST_F(WindowTest, PageButtonsRunTheirOwnBranch) {
  startEmulator();
  makeApp();
  startAndWait(Phase::Running);
  emulator_->clearReceived();
  const std::string before = traceText();
  click(pages_->pro->abs);
  const std::string after = traceText().substr(before.size());
  // (The pedal readout's own lines may come in between: it runs every 10 ms meanwhile.)
  EXPECT_NE(after.find("\nAutocal Button pressed - Inicio\n\nAutocal Button pressed - Final\n"), std::string::npos)
      << after;
  EXPECT_TRUE(framesOnceThere(0).empty());
}

// --- monitor slots --------------------------------------------------------------------

class MonitorSlotTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    installMonitorStub();
    startEmulator();
    makeApp();
    startAndWait(Phase::Running);
    ::setenv("TKB_OPENVR_LIBRARY", FAKE_OPENVR_PATH, 1);  // a VR runtime is there
  }
  // The stub writes its working directory into started-<pid> in that directory.
  bool startedIn(pid_t pid, const std::string& directory) {
    const std::string file = directory + "/started-" + std::to_string(pid);
    // The stub creates the file before it writes the line: wait for the line itself.
    return waitFor([&] { return readFile(file) == directory + "\n"; }, 10000);
  }
  void TearDown() override {
    if (app_)
      for (pid_t pid : {app_->MonitorProcess.pid(), app_->VrMonitorProcess.pid()})
        if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
      }
    ::unsetenv("TKB_OPENVR_LIBRARY");
    WindowTest::TearDown();
  }
};

TEST_F(MonitorSlotTest, OpenAndCloseBothSlotsIndependently) {
  ui::MainPage& p = app_->mainPage();
  click(p.openMonitor);
  const pid_t window = app_->MonitorProcess.pid();
  ASSERT_TRUE(alive(window));
  EXPECT_TRUE(startedIn(window, dir_ + "/opt"));
  EXPECT_FALSE(p.openMonitor->isVisible());
  EXPECT_TRUE(p.closeMonitor->isVisible());
  AppConfig config(dir_ + "/opt/config.ini");
  EXPECT_EQ(config.readText("MONITOR", "enable_window", ""), "1");
  EXPECT_EQ(config.readText("MONITOR", "enable_vr", ""), "0");

  click(p.openVrMonitor2);  // the twin acts like the first button
  const pid_t vr = app_->VrMonitorProcess.pid();
  ASSERT_TRUE(alive(vr));
  EXPECT_NE(vr, window);
  EXPECT_TRUE(app_->vrPanel()->isVisible());
  EXPECT_TRUE(app_->vrPanel()->applyButton()->isVisible());
  EXPECT_TRUE(p.closeVrMonitor->isVisible());
  EXPECT_EQ(config.readText("MONITOR", "enable_vr", ""), "1");
  saveScreenshot("main_page_vr_panel.png");

  click(p.closeMonitor);
  EXPECT_TRUE(app_->MonitorProcess.empty());
  EXPECT_FALSE(alive(window));  // ended and reaped
  EXPECT_TRUE(alive(vr));
  EXPECT_TRUE(p.openMonitor->isVisible());

  click(p.closeVrMonitor);
  EXPECT_FALSE(alive(vr));
  EXPECT_FALSE(app_->vrPanel()->isVisible());
  EXPECT_FALSE(app_->vrPanel()->applyButton()->isVisible());
  EXPECT_TRUE(p.openVrMonitor->isVisible());
}

TEST_F(MonitorSlotTest, ExitStopsBothMonitorsAndEndsTheProgram) {
  ui::MainPage& p = app_->mainPage();
  click(p.openMonitor);
  click(p.openVrMonitor);
  const pid_t a = app_->MonitorProcess.pid(), b = app_->VrMonitorProcess.pid();
  ASSERT_TRUE(alive(a) && alive(b));
  click(p.exit);
  EXPECT_TRUE(rec_.questions.empty()) << "no page is open: nothing to mistake EXIT for";
  EXPECT_FALSE(alive(a));
  EXPECT_FALSE(alive(b));
  EXPECT_EQ(rec_.quits, 1);
  EXPECT_EQ(rec_.removes, 1);
  EXPECT_EQ(static_cast<int>(app_->phase()), static_cast<int>(Phase::Stopped));
  EXPECT_FALSE(app_->usageLog()->isOpen());
}

TEST_F(MonitorSlotTest, ClosingTheWindowLeavesTheMonitorRunning) {
  click(app_->mainPage().openMonitor);
  const pid_t pid = app_->MonitorProcess.pid();
  ASSERT_TRUE(alive(pid));
  app_->window()->close();
  app_.reset();
  EXPECT_TRUE(alive(pid));
  EXPECT_EQ(rec_.removes, 1);  // the key listener does not outlive the window
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

TEST_F(MonitorSlotTest, ApplyVrSettingsWritesThemAndStartsTheVrMonitorWithoutTouchingButtons) {
  ui::MainPage& p = app_->mainPage();
  ui::VrPanel* panel = app_->vrPanel();
  panel->box(0)->showValue(33);
  panel->box(1)->showValue(-12);
  panel->applyButton()->click();
  const pid_t pid = app_->VrMonitorProcess.pid();
  EXPECT_TRUE(alive(pid));
  EXPECT_TRUE(p.openVrMonitor->isVisible());
  EXPECT_FALSE(p.closeVrMonitor->isVisible());
  AppConfig config(dir_ + "/opt/config.ini");
  const std::pair<const char*, const char*> written[] = {
      {"vr_size", "33"},  {"vr_posx", "-12"},  {"vr_posy", "-40"},   {"vr_posz", "69"},
      {"vr_anglex", "35"}, {"vr_angley", "0"}, {"vr_opacity", "80"}};
  for (const auto& [key, value] : written) EXPECT_EQ(config.readText("MONITOR", key, "?"), value) << key;
  // Apply again: the running VR monitor is replaced by a new one.
  panel->applyButton()->click();
  EXPECT_FALSE(alive(pid));
  EXPECT_TRUE(alive(app_->VrMonitorProcess.pid()));
}

// OPEN VR MONITOR and APPLY VR SETTINGS without a VR runtime say why, in the driver's
// language, and start nothing: the monitor would only open its desktop window.
TEST_F(MonitorSlotTest, VrMonitorWithoutRuntimeSaysWhy) {
  const std::string missing = dir_ + "/libopenvr_api.so";
  ::setenv("TKB_OPENVR_LIBRARY", missing.c_str(), 1);
  ui::MainPage& p = app_->mainPage();
  app_->selectLanguage(3);
  settle();
  p.openVrMonitor->click();
  EXPECT_TRUE(app_->VrMonitorProcess.empty());
  EXPECT_TRUE(p.openVrMonitor->isVisible());
  ASSERT_EQ(rec_.boxes.size(), 1u);
  EXPECT_EQ(rec_.boxes[0].first,
            QString::fromUtf8(ui::helpText(ui::HelpText::VrRuntimeMissing, 3)).arg(QString::fromStdString(missing)));
  EXPECT_EQ(rec_.boxes[0].second, "MONITEUR VR");
  app_->vrPanel()->applyButton()->click();
  EXPECT_TRUE(app_->VrMonitorProcess.empty());
  EXPECT_EQ(rec_.boxes.size(), 2u);
  ::setenv("TKB_OPENVR_LIBRARY", FAKE_OPENVR_PATH, 1);
  p.openVrMonitor->click();
  EXPECT_TRUE(alive(app_->VrMonitorProcess.pid()));
  EXPECT_EQ(rec_.boxes.size(), 2u);
}

TEST_F(WindowTest, MonitorThatCannotStartChangesNothing) {
  ::setenv("TKB_OPENVR_LIBRARY", FAKE_OPENVR_PATH, 1);
  startEmulator();
  makeApp();  // no opt/TKB_Monitor
  startAndWait(Phase::Running);
  ui::MainPage& p = app_->mainPage();
  click(p.openMonitor);
  EXPECT_TRUE(app_->MonitorProcess.empty());
  EXPECT_TRUE(p.openMonitor->isVisible());
  click(p.openVrMonitor);
  EXPECT_TRUE(app_->vrPanel()->isVisible());  // only the panel stays shown
  EXPECT_TRUE(p.openVrMonitor->isVisible());
  click(p.closeVrMonitor2);                 // empty slot: the panel stays
  EXPECT_TRUE(app_->vrPanel()->isVisible());
  ::unsetenv("TKB_OPENVR_LIBRARY");
}

TEST_F(WindowTest, VrSpinBoxesReadConfigAndKeepTheirRanges) {
  AppConfig config(dir_ + "/opt/config.ini");
  config.write("MONITOR", "vr_size", "200");     // above the range: 80
  config.write("MONITOR", "vr_posx", "-1000");   // read as "-100": -90
  config.write("MONITOR", "vr_opacity", "abc");  // no digits: 0, limited to 20
  startEmulator();
  makeApp();
  startAndWait(Phase::Running);
  ui::VrPanel* panel = app_->vrPanel();
  EXPECT_EQ(panel->box(0)->value(), 80);
  EXPECT_EQ(panel->box(1)->value(), -90);
  EXPECT_EQ(panel->box(2)->value(), -40);  // defaults for the keys not written
  EXPECT_EQ(panel->box(3)->value(), 69);
  EXPECT_EQ(panel->box(4)->value(), 35);
  EXPECT_EQ(panel->box(5)->value(), 0);
  EXPECT_EQ(panel->box(6)->value(), 20);

  const int ranges[ui::kVrSettingCount][2] = {{10, 80}, {-90, 90}, {-90, 90}, {30, 90},
                                              {-45, 45}, {-45, 45}, {20, 100}};
  for (int i = 0; i < ui::kVrSettingCount; ++i) {
    SCOPED_TRACE(ui::kVrSettings[i].key);
    panel->box(i)->showValue(ranges[i][1]);
    panel->plusButton(i)->click();
    EXPECT_EQ(panel->box(i)->value(), ranges[i][1]);
    panel->minusButton(i)->click();
    EXPECT_EQ(panel->box(i)->value(), ranges[i][1] - 1);
    panel->box(i)->showValue(ranges[i][0]);
    panel->minusButton(i)->click();
    EXPECT_EQ(panel->box(i)->value(), ranges[i][0]);
    panel->plusButton(i)->click();
    EXPECT_EQ(panel->box(i)->value(), ranges[i][0] + 1);
  }
  // The buttons change the boxes only: config.ini is written by APPLY VR SETTINGS.
  EXPECT_EQ(config.readText("MONITOR", "vr_size", "?"), "200");
}


}  // namespace
}  // namespace tkb::test

namespace tkb::test {
namespace {

TEST_F(WindowTest, KeysTypedIntoTheWindowChangeNoWidget) {
  startEmulator();
  makeApp();
  startAndWait(Phase::Running);
  ui::MainPage& p = app_->mainPage();
  app_->window()->activateWindow();
  QCoreApplication::processEvents();
  emulator_->clearReceived();
  const int model = p.modelList->currentIndex(), colour = p.colourList->currentIndex();
  const int size = app_->vrPanel()->box(0)->value();
  // Key events go where the platform sends them: the focus widget, else the window.
  for (int key : {Qt::Key_Down, Qt::Key_Up, Qt::Key_Right, Qt::Key_Left, Qt::Key_Return,
                  Qt::Key_Enter, Qt::Key_Space, Qt::Key_Escape, Qt::Key_Plus, Qt::Key_Minus}) {
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : app_->window();
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &press);
    QCoreApplication::sendEvent(target, &release);
  }
  QCoreApplication::processEvents();
  EXPECT_EQ(p.modelList->currentIndex(), model);
  EXPECT_EQ(p.colourList->currentIndex(), colour);
  EXPECT_EQ(app_->vrPanel()->box(0)->value(), size);
  EXPECT_FALSE(p.languageList->isVisible());
  usleep(50'000);
  EXPECT_TRUE(emulator_->received().empty());
  for (QWidget* w : app_->window()->findChildren<QWidget*>()) {
    if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) || qobject_cast<QListWidget*>(w)) {
      EXPECT_EQ(w->focusPolicy(), Qt::NoFocus) << w->metaObject()->className();
    }
  }
}

TEST_F(WindowTest, WizardTextsFollowTheLanguageInColour) {
  startEmulator([](emu::FirmwareState& s) { s.languageCode = 1; });
  makeApp();
  startAndWait(Phase::Running);
  QLabel text, note;
  app_->TextoPasoCalibracion(4, &text, &note);
  EXPECT_EQ(text.text().toStdString(),
            "<span style=\"color:#ff0000\">PEDALES CALIBRADOS, </span>COMPRUEBE LA <br>"
            "CALIBRACIÓN, AHORA PUEDE GUARDAR <br>O CALIBRAR DE NUEVO.");
  EXPECT_TRUE(note.text().isEmpty());
  app_->TextoPasoCalibracion(7, &text, &note);  // any later step: saved, with the note
  EXPECT_EQ(text.text(), "CONFIGURACIÓN GUARDADA.");
  EXPECT_TRUE(note.text().startsWith("NOTA: YA TIENE EL MODO SPORT <br>ACTIVADO. "));
  ui::showWizardStep(std::nullopt, 0, &text, &note);
  EXPECT_EQ(text.text(), "CONFIGURACIÓN GUARDADA.");  // unchanged
  EXPECT_NE(traceText().find("Language not found\n"), std::string::npos);
}

TEST_F(WindowTest, BackgroundClickClosesTheMenusAndSpinBoxClickIsNoButton) {
  startEmulator();
  makeApp();
  startAndWait(Phase::Running);
  ui::MainPage& p = app_->mainPage();
  click(p.language);
  ASSERT_TRUE(p.languageList->isVisible());
  emit static_cast<ui::ClickLabel*>(p.background)->clicked();
  EXPECT_FALSE(p.languageList->isVisible());
  EXPECT_TRUE(p.language->isVisible());
  EXPECT_TRUE(p.manual->isVisible());
  // A real click on the dark backdrop goes through the picture to the background.
  click(p.manual);
  ASSERT_TRUE(p.manualList->isVisible());
  const QPoint dark(900, 400);
  QWidget* target = app_->window()->childAt(dark);
  ASSERT_NE(target, nullptr);
  const QPointF at = target->mapFrom(app_->window(), dark);
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
    QMouseEvent event(type, at, target->mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
  }
  EXPECT_FALSE(p.manualList->isVisible());
  EXPECT_TRUE(p.manual->isVisible());
  // A click on a VR spin box itself is no button of the panel.
  QWidget* vrBox = app_->vrPanel()->box(3);
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), vrBox->mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(vrBox, &release);
  const std::string trace = traceText();
  EXPECT_NE(trace.find("\nBackground main page\n"), std::string::npos);
  EXPECT_NE(trace.find("Obj Not Found. \n"), std::string::npos);
}

// The build made the six manuals into the installation folder.
TEST(Manuals, SixPdfManualsAreStaged) {
  for (const char* name : {"English", "Spanish", "Italian", "French", "German", "Portuguese"}) {
    const auto file = ui::manualFile(name);
    ASSERT_TRUE(file);
    std::ifstream in(std::string(TKB_STAGE_DIR) + "/" + *file, std::ios::binary);
    ASSERT_TRUE(in) << *file;
    char head[5] = {};
    in.read(head, 4);
    EXPECT_STREQ(head, "%PDF") << *file;
  }
}

}  // namespace
}  // namespace tkb::test

namespace tkb::test {
namespace {

// Keys come from the listener's own thread; they act in the order they came, each as one
// action of the session.
TEST_F(WindowTest, KeyEventsFromTheListenerThreadActInOrder) {
  startEmulator();
  makeApp();
  startAndWait(Phase::Running);
  ASSERT_TRUE(rec_.deliver);
  emulator_->clearReceived();
  std::thread listener([&] {
    // letterAbs 0 is F11, letterMas 0 is F2, letterMenos 0 is F1.
    rec_.deliver(KeyEvent{KeyEventKind::Down, functionKey(11), false, false});
    rec_.deliver(KeyEvent{KeyEventKind::Down, functionKey(2), false, false});
    rec_.deliver(KeyEvent{KeyEventKind::Down, functionKey(1), false, false});
    rec_.deliver(KeyEvent{KeyEventKind::Down, 'Q', false, false});  // no role
  });
  listener.join();
  ASSERT_TRUE(waitFor([&] { return emulator_->received().size() >= 2 && model().idle(); }, 10000));
  settle();
  const int brakeUpper = emulator_->state().zones.brakeUpper;
  // Autocal (nothing recorded: nothing sent), MAX BRAKE PRESS up, then down again.
  EXPECT_EQ(emulator_->received(), (std::vector<Frame>{{0xC3, static_cast<uint8_t>(brakeUpper + 1), 0x3C},
                                                       {0xC3, static_cast<uint8_t>(brakeUpper), 0x3C}}));
  const std::string trace = traceText();
  const size_t autocal = trace.find("\nAutocal Button pressed - Inicio");
  ASSERT_NE(autocal, std::string::npos);
  EXPECT_NE(trace.find("PRO-EV - value of Brake upper dead zone is", autocal), std::string::npos);
}

TEST_F(WindowTest, KeysDoNothingBeforeThePagesExist) {
  startEmulator();
  makeApp(/*withJoystick=*/false);
  startAndWait(Phase::NotDetected);
  ASSERT_TRUE(rec_.deliver);
  rec_.deliver(KeyEvent{KeyEventKind::Down, functionKey(11), false, false});
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
  EXPECT_EQ(traceText().find("Autocal Button pressed"), std::string::npos);
}

}  // namespace
}  // namespace tkb::test

namespace tkb::test {
namespace {

// The real monitor program in window mode: started in opt/ by OPEN MONITOR, ended by
// CLOSE MONITOR.
TEST_F(WindowTest, RealMonitorRunsFromItsFolderUntilClosed) {
  std::filesystem::copy_file(TKB_MONITOR_PROGRAM, dir_ + "/opt/TKB_Monitor");
  startEmulator();
  makeApp();
  startAndWait(Phase::Running);
  ui::MainPage& p = app_->mainPage();
  click(p.openMonitor);
  const pid_t pid = app_->MonitorProcess.pid();
  ASSERT_TRUE(alive(pid));
  char cwd[4096] = {};
  const std::string link = "/proc/" + std::to_string(pid) + "/cwd";
  ASSERT_GT(readlink(link.c_str(), cwd, sizeof cwd - 1), 0);
  EXPECT_EQ(std::string(cwd), dir_ + "/opt");
  usleep(500'000);
  EXPECT_TRUE(alive(pid)) << "the monitor ended by itself";
  click(p.closeMonitor);
  EXPECT_TRUE(app_->MonitorProcess.empty());
  EXPECT_FALSE(alive(pid));
  EXPECT_TRUE(p.openMonitor->isVisible());
}

}  // namespace
}  // namespace tkb::test
