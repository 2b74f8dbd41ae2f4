// The per-game profiles in the window: the games dialog editing config.ini, and a game that
// starts and ends switching the window's profile. Real widgets, the emulator on a real
// pseudo-terminal, a copy of sleep as the game.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include "app/game_switcher.h"
#include "window_fixture.h"

extern char** environ;

namespace tkb::test {
namespace {

TEST(GameNoticeTexts, EveryKindIsTranslatedAndNamesTheGame) {
  for (int language = 0; language < ui::kLanguageCount; ++language)
    for (int kind = 0; kind < ui::kGameNoticeKinds; ++kind)
      EXPECT_NE(std::string(ui::gameNoticeText(kind, language)).find("%1"), std::string::npos) << language << " " << kind;
}

TEST_F(WindowTest, GamesDialogAddsAPickedOrTypedNameWithItsFileAndRemovesIt) {
  startEmulator();
  makeApp();
  startAndWait(ui::Application::Phase::Running);
  const std::string config = dir_ + "/opt/config.ini";
  const std::string before = "; the driver's\r\n[MONITOR]\r\nx=5\r\n";
  writeFile(config, before);

  // A running program whose name holds a line break: not offered (the table cannot hold it).
  const std::string oddName = dir_ + "/odd\nname";
  std::filesystem::copy_file("/bin/sleep", oddName);
  std::vector<char*> argv{const_cast<char*>(oddName.c_str()), const_cast<char*>("60"), nullptr};
  pid_t odd = 0;
  ASSERT_EQ(::posix_spawn(&odd, oddName.c_str(), nullptr, nullptr, argv.data(), environ), 0);

  click(app_->mainPage().games);
  ui::GamesDialog* dialog = app_->gamesDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_GE(dialog->name->findText("test_tunedeck_window"), 0) << "the running programs are offered";
  for (int i = 0; i < dialog->name->count(); ++i)
    EXPECT_FALSE(dialog->name->itemText(i).contains('\n')) << dialog->name->itemText(i).toStdString();
  ::kill(odd, SIGKILL);
  ::waitpid(odd, nullptr, 0);
  std::vector<QString> asked;
  dialog->setFileChooser([&](const QString& game) -> std::optional<QString> {
    asked.push_back(game);
    return QString::fromStdString(dir_ + "/tkb/race.tks");
  });

  dialog->name->setCurrentText("a=b.exe");
  dialog->add->click();
  EXPECT_TRUE(dialog->message->isVisible());
  EXPECT_TRUE(asked.empty()) << "a name that would break config.ini is refused before the file is asked";

  dialog->name->setCurrentText("FakeGame.exe");
  dialog->add->click();
  EXPECT_EQ(asked, std::vector<QString>{"FakeGame.exe"});
  EXPECT_EQ(readFile(config), before + "\r\n[GAMES]\r\nFakeGame.exe=" + dir_ + "/tkb/race.tks\r\n");
  ASSERT_EQ(dialog->table->rowCount(), 1);
  EXPECT_EQ(dialog->table->item(0, 0)->text(), "FakeGame.exe");
  ASSERT_EQ(app_->games()->table().size(), 1u) << "the switcher has it at once";
  EXPECT_EQ(app_->games()->table()[0].name, "FakeGame.exe");

  dialog->table->selectRow(0);
  dialog->remove->click();
  EXPECT_EQ(dialog->table->rowCount(), 0);
  EXPECT_EQ(readFile(config), before + "\r\n[GAMES]\r\n");
  EXPECT_TRUE(app_->games()->table().empty());
}

TEST_F(WindowTest, AGameLoadsItsProfileIntoTheWindowAndItsEndBringsTheOneBeforeBack) {
  // A name of this test process's own: the watcher sees every program of the machine.
  const std::string name = "FakeGame" + std::to_string(::getpid()) + ".exe";
  startEmulator();
  makeApp();
  startAndWait(ui::Application::Phase::Running);
  std::filesystem::create_directories(dir_ + "/tkb");
  ControllerState race = state();
  race.brakeUpper = 66;
  ASSERT_TRUE(writeProfileFile(dir_ + "/tkb/race.tks", ProfileKind::Sport, race));
  ASSERT_TRUE(writeGameEntry(*app_->config(), {name, dir_ + "/tkb/race.tks"}));
  app_->games()->reloadTable();
  const int brakeBefore = state().brakeUpper;
  EXPECT_TRUE(app_->games()->timer()->isActive());
  EXPECT_EQ(app_->games()->timer()->interval(), kGameScanPeriodMs);

  const std::string game = dir_ + "/" + name;
  std::filesystem::copy_file("/bin/sleep", game);
  std::vector<char*> argv{const_cast<char*>(game.c_str()), const_cast<char*>("60"), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(::posix_spawn(&pid, game.c_str(), nullptr, nullptr, argv.data(), environ), 0);
  const auto scanUntil = [&](const std::string& active, int limitMs = 5000) {
    return waitFor([&] {
      app_->games()->scan();
      settle();
      return app_->games()->activeGame() == active;
    }, limitMs);
  };
  // Mid-calibration nothing is switched; once the wizard is closed the game's profile comes.
  click(app_->mainPage().pro);
  click(pages_->pro->calibrate);
  ASSERT_TRUE(waitFor([&] { return !pages_->pro->stepPending(); }));
  EXPECT_FALSE(scanUntil(name, 300));
  click(pages_->pro->close);
  ASSERT_TRUE(scanUntil(name));
  EXPECT_EQ(app_->mainPage().profileLabel->text(), "Profile: race");
  EXPECT_TRUE(waitFor([&] { return emulator_->state().zones.brakeUpper == 66; }, 5000));
  EXPECT_TRUE(app_->driverNotice()->isVisible());
  EXPECT_TRUE(app_->driverNotice()->text().contains(QString::fromStdString(name)));

  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  ASSERT_TRUE(scanUntil(""));
  EXPECT_EQ(app_->mainPage().profileLabel->text(), "Profile: Default");
  EXPECT_EQ(state().brakeUpper, brakeBefore);
  EXPECT_TRUE(waitFor([&] { return emulator_->state().zones.brakeUpper == brakeBefore; }, 5000));
  const std::string trace = traceText();
  const size_t refused = trace.find("Not sent");
  EXPECT_EQ(refused, std::string::npos) << trace.substr(refused == std::string::npos ? 0 : refused, 200);
  EXPECT_NE(trace.find("\nGame ended: " + name), std::string::npos);
}

}  // namespace
}  // namespace tkb::test
