// The tray icon against the emulated pedal set in the offscreen platform, with the tray
// host injected (there is none here): the close rule, the switch, the recent profiles
// loading as the pages load, and the monitor and exit entries.
#include <signal.h>

#include "app/recent_profiles.h"
#include "ui/main_page.h"
#include "ui/tray.h"
#include "window_fixture.h"

namespace tkb::test {
namespace {

using Phase = ui::Application::Phase;

class TrayTest : public WindowTest {
 protected:
  void start(bool trayInConfig, bool host) {
    std::ofstream(dir_ + "/opt/config.ini") << "[GENERAL]\ntray=" << (trayInConfig ? 1 : 0) << "\n";
    adjustServices_ = [host](ui::Services& s) { s.trayAvailable = [host] { return host; }; };
    startEmulator();
    makeApp();
    QObject::connect(&app_->tray(), &ui::Tray::messageShown, [this](const QString& t) { messages_.push_back(t); });
    startAndWait(Phase::Running);
  }
  ui::Tray& tray() { return app_->tray(); }
  std::string profile(const std::string& name, const std::string& text) {
    std::filesystem::create_directories(dir_ + "/tkb");
    const std::string path = dir_ + "/tkb/" + name;
    std::ofstream(path) << text;
    return path;
  }
  QAction* recentEntry(const std::string& fileName) {
    tray().refresh();
    for (QAction* a : tray().recentMenu()->actions())
      if (a->text().toStdString() == fileName) return a;
    return nullptr;
  }
  std::vector<QString> messages_;
};

TEST_F(TrayTest, ClosingHidesTheWindowOnlyWhileTheIconIsShown) {
  struct Case {
    const char* what;
    bool inConfig, host, clickSwitch;
    bool hides;
  } cases[] = {
      {"setting off", false, true, false, false},
      {"no tray host", true, false, false, false},
      {"switched on on the main page", false, true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    messages_.clear();
    start(c.inConfig, c.host);
    ui::MainPage& page = app_->mainPage();
    ASSERT_TRUE(page.traySwitch->isVisible());
    EXPECT_EQ(page.traySwitch->isChecked(), c.inConfig);
    if (c.clickSwitch) {
      page.traySwitch->click();
      EXPECT_EQ(AppConfig(dir_ + "/opt/config.ini").readText("GENERAL", "tray", ""), "1");
    }
    EXPECT_EQ(tray().shown(), c.hides);
    // Closed twice: the icon says once that the program keeps running.
    const bool closed = app_->window()->close();
    EXPECT_EQ(closed, !c.hides);
    EXPECT_FALSE(app_->window()->isVisible());
    EXPECT_EQ(QApplication::quitOnLastWindowClosed(), !c.hides);
    EXPECT_EQ(app_->phase(), Phase::Running);
    EXPECT_EQ(rec_.quits, 0);
    if (!c.hides) continue;
    emit tray().icon()->activated(QSystemTrayIcon::Trigger);  // a click on the icon
    EXPECT_TRUE(app_->window()->isVisible());
    EXPECT_FALSE(app_->window()->close());
    EXPECT_EQ(messages_.size(), 1u);
    // Switched off again: closing ends the program as before.
    tray().showEntry()->trigger();
    ASSERT_TRUE(app_->window()->isVisible());
    page.traySwitch->click();
    EXPECT_FALSE(tray().shown());
    EXPECT_TRUE(app_->window()->close());
    EXPECT_TRUE(QApplication::quitOnLastWindowClosed());
  }
}

TEST_F(TrayTest, RecentProfilesLoadAsTheirPagesLoadThemAndTheProfileEntryFollows) {
  start(true, true);
  const std::string race = profile("race.tkb",
                                   "[ACCELERATOR]\nUPPER DEAD ZONE=97\nLOWER DEAD ZONE=1\n[CLUTCH]\nUPPER DEAD ZONE=95\n"
                                   "LOWER DEAD ZONE=3\n[BRAKE]\nUPPER DEAD ZONE=90\nBRAKE LIMITER=85\nLOWER DEAD ZONE=2\n");
  std::string sport = "[ACCELERATOR]\nUPPER DEAD ZONE=96\n[BRAKE]\nUPPER DEAD ZONE=80\nBRAKE LIMITER=80\nAUTO=0\n"
                      "BRAKE STOP=100\n";
  for (const char* pedal : {"CLUTCH", "BRAKE", "ACCELERATOR"}) {
    sport += std::string("[") + pedal + "]\n";
    for (int k = 0; k <= 10; ++k) sport += std::string(pedal) + "_CURVE_" + std::to_string(k) + "=" + std::to_string(k * 10) + "\n";
  }
  const std::string street = profile("street.tks", sport);
  // Loaded through the pages' LOAD: listed, most recent first.
  model().loadProfile(ProfileKind::Pro, race);
  model().loadProfile(ProfileKind::Sport, street);
  settle();
  ASSERT_EQ(tray().recent().size(), 2u);
  EXPECT_EQ(tray().recent()[0].path, street);
  EXPECT_EQ(tray().profileEntry()->text().toStdString(), "Profile: street");

  pages_->dialogs.scriptFileChooser([](const FileDialogRequest&) -> std::optional<std::string> {
    ADD_FAILURE() << "a recent profile opened a dialog";
    return std::nullopt;
  });
  emulator_->clearReceived();
  QAction* raceEntry = recentEntry("race.tkb");
  ASSERT_NE(raceEntry, nullptr);
  raceEntry->trigger();
  settle();
  const auto frames = framesOnceThere(1);
  EXPECT_NE(std::find(frames.begin(), frames.end(), Bytes{0xC6, 97, 0x6C}), frames.end()) << hex(frames);
  EXPECT_EQ(tray().recent()[0].path, race);
  // The profile in force is CUSTOM's until PRO is activated.
  EXPECT_EQ(tray().profileEntry()->text().toStdString(), "Profile: Default");
  click(app_->mainPage().activatePro);
  EXPECT_EQ(tray().profileEntry()->text().toStdString(), "Profile: race");

  // A .tks loads as the CUSTOM page's LOAD: CUSTOM in force afterwards.
  recentEntry("street.tks")->trigger();
  settle();
  EXPECT_TRUE(state().sportProfileActive);
  EXPECT_EQ(tray().profileEntry()->text().toStdString(), "Profile: street");

  // A file that went wrong is told as the pages tell it and sends nothing; one that is gone
  // leaves the list.
  profile("street.tks", "[BRAKE]\nUPPER DEAD ZONE=101\n");
  emulator_->clearReceived();
  recentEntry("street.tks")->trigger();
  settle();
  ASSERT_EQ(rec_.boxes.size(), 1u);
  EXPECT_EQ(rec_.boxes[0].second, "Profile");
  EXPECT_TRUE(emulator_->received().empty()) << hex(emulator_->received());
  std::filesystem::remove(race);
  EXPECT_EQ(recentEntry("race.tkb"), nullptr);
  EXPECT_EQ(tray().recent().size(), 1u);
}

TEST_F(TrayTest, MonitorEntryFollowsTheButtonsAndExitEndsTheProgram) {
  installMonitorStub();
  start(true, true);
  ui::MainPage& page = app_->mainPage();
  QAction* monitor = tray().monitorEntry();
  ASSERT_TRUE(monitor->isEnabled());
  EXPECT_FALSE(monitor->isChecked());
  monitor->trigger();
  EXPECT_FALSE(app_->MonitorProcess.empty());
  EXPECT_TRUE(page.closeMonitor->isVisible());
  page.closeMonitor->click();
  EXPECT_FALSE(monitor->isChecked());
  page.openMonitor->click();
  EXPECT_TRUE(monitor->isChecked());
  const pid_t pid = app_->MonitorProcess.pid();

  // EXIT from the tray is the EXIT button: the monitor stopped, the program ended.
  tray().exitEntry()->trigger();
  EXPECT_EQ(app_->phase(), Phase::Stopped);
  EXPECT_EQ(rec_.quits, 1);
  EXPECT_TRUE(app_->MonitorProcess.empty());
  EXPECT_NE(kill(pid, 0), 0);
  EXPECT_FALSE(tray().shown());
  EXPECT_FALSE(monitor->isChecked());
}

TEST_F(TrayTest, GamesEntryOpensTheGamesDialogAndNoticesShowOnTheIcon) {
  start(true, true);
  app_->window()->close();
  ASSERT_FALSE(app_->window()->isVisible());
  messages_.clear();
  tray().gamesEntry()->trigger();
  EXPECT_TRUE(app_->window()->isVisible());
  ASSERT_NE(app_->gamesDialog(), nullptr);
  EXPECT_TRUE(app_->gamesDialog()->isVisible());
  app_->tellDriver("Profile race loaded for FakeGame.exe");
  EXPECT_EQ(messages_, std::vector<QString>{"Profile race loaded for FakeGame.exe"});
}

}  // namespace
}  // namespace tkb::test
