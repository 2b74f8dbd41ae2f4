// The start screen while no pedal set answers: the help that shows what the search sees
// and what to do, on the real window with the real probe, and on its own in six languages.
#include <QLabel>
#include <QPushButton>
#include <filesystem>

#include "ui/diagnosis_dialog.h"
#include "ui/help_texts.h"
#include "ui/search_help.h"
#include "window_fixture.h"

namespace fs = std::filesystem;

namespace tkb::test {
namespace {

using Phase = ui::Application::Phase;

int occurrences(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Nothing plugged in at all: the help is there within 6 s and says so, its buttons work, and
// the search goes on: pedals plugged in later start the program as they always did.
TEST_F(WindowTest, SearchWithoutPedalsShowsTheHelpAndGoesOn) {
  int demos = 0;
  adjustServices_ = [&](ui::Services& s) { s.restartInDemo = [&] { ++demos; }; };
  probePassPauseMs_ = 500;  // the passes as often as the program makes them
  makeApp(false);
  QElapsedTimer started;
  started.start();
  app_->startApplication();
  ui::SearchHelp* help = app_->searchHelp();
  ASSERT_TRUE(waitFor([&] { return help->isVisible(); }, 6000)) << traceText();
  EXPECT_GE(started.elapsed(), ui::kSearchHelpDelayMs);
  EXPECT_EQ(app_->phase(), Phase::Probing);
  EXPECT_TRUE(app_->statusText()->isVisible());
  EXPECT_LE(app_->statusText()->geometry().bottom(), help->geometry().top());  // the status stays readable
  // The passes go on and are counted; the trace line is printed once.
  const QString passes = help->passesText()->text();
  ASSERT_TRUE(waitFor([&] { return help->passesText()->text() != passes; }, 5000));
  EXPECT_EQ(occurrences(traceText(), "\nNo pedal set found yet - help shown"), 1);
  EXPECT_TRUE(help->portsText()->text().contains("No serial port at all")) << help->portsText()->text().toStdString();
  EXPECT_FALSE(help->allowAccessButton()->isVisible());
  saveScreenshot("search_help_window_en.png");

  help->diagnoseButton()->click();
  ASSERT_NE(app_->diagnosis(), nullptr);
  EXPECT_TRUE(app_->diagnosis()->isVisible());
  app_->diagnosis()->close();
  help->demoButton()->click();
  EXPECT_EQ(demos, 1);

  // The pedals arrive on a port: the search finds them and the program carries on.
  startEmulatorOnTerminal();
  plugJoystick();
  ASSERT_TRUE(waitFor([&] { return app_->phase() == Phase::Running; }, 20000)) << traceText();
  EXPECT_FALSE(help->isVisible());
}

// The help on its own, in every language, over every kind of port a pass may report.
TEST(SearchHelp, SaysWhyEachPortWasPassedOverInEveryLanguage) {
  qtApp();
  TempDir bin;
  {
    std::ofstream script(bin.file("pkexec"));
    script << "#!/bin/sh\nexit 0\n";
  }
  fs::permissions(bin.file("pkexec"), fs::perms::owner_all);
  const std::string savedPath = std::getenv("PATH");
  ::setenv("PATH", (bin.path().string() + ":" + savedPath).c_str(), 1);

  auto port = [](const char* name, PortOutcome outcome, std::optional<UsbIds> ids = {}, int error = 0) {
    PortSighting p;
    p.name = name;
    p.path = std::string("/dev/ttyACM") + (name + 3);
    p.ids = ids;
    p.outcome = outcome;
    p.error = error;
    return p;
  };
  ProbePass pass;
  pass.number = 12;
  pass.ports = {port("COM0", PortOutcome::OtherMaker, UsbIds{0x2341, 0x0043}),
                port("COM1", PortOutcome::NoPermission, UsbIds{0x16D0, 0x0F53}, EACCES),
                port("COM2", PortOutcome::InUse, std::nullopt, EBUSY),
                port("COM3", PortOutcome::NotOpened, std::nullopt, EIO), port("COM4", PortOutcome::NotAnswering)};

  for (int language = 0; language < ui::kLanguageCount; ++language) {
    SCOPED_TRACE(language);
    SearchHelpScreen screen(false);
    ASSERT_TRUE(screen.showAfter(language, pass));
    ui::SearchHelp& help = screen.help;
    QLabel* status = screen.status;
    const QString ports = help.portsText()->text();
    EXPECT_EQ(status->text().toStdString(), ui::helpText(ui::HelpText::Searching, language));
    EXPECT_TRUE(help.passesText()->text().contains("12"));
    const QString lines[] = {
        QString::fromUtf8(ui::helpText(ui::HelpText::PortOtherMaker, language)).arg("COM0 (/dev/ttyACM0)", "2341:0043"),
        QString::fromUtf8(ui::helpText(ui::HelpText::PortNoPermission, language)).arg("COM1 (/dev/ttyACM1)"),
        QString::fromUtf8(ui::helpText(ui::HelpText::PortInUse, language)).arg("COM2 (/dev/ttyACM2)"),
        QString::fromUtf8(ui::helpText(ui::HelpText::PortNotOpened, language)).arg("COM3 (/dev/ttyACM3)", std::strerror(EIO)),
        QString::fromUtf8(ui::helpText(ui::HelpText::PortNotAnswering, language)).arg("COM4 (/dev/ttyACM4)")};
    for (const QString& line : lines) EXPECT_TRUE(ports.contains(line)) << line.toStdString() << "\n" << ports.toStdString();
    // A refused port of the pedal set: the rule through pkexec is offered.
    EXPECT_TRUE(help.allowAccessButton()->isVisible());
    EXPECT_EQ(help.demoButton()->text().toStdString(), ui::helpText(ui::HelpText::Demo, language));
    // Every text fits its place: nothing runs out of the panel or under the buttons.
    for (QLabel* label : help.findChildren<QLabel*>()) {
      if (!label->isVisible()) continue;
      EXPECT_LE(label->geometry().bottom(), help.diagnoseButton()->geometry().top());
    }
    for (QPushButton* button : {help.diagnoseButton(), help.allowAccessButton(), help.demoButton()})
      EXPECT_GE(button->width(), button->fontMetrics().horizontalAdvance(button->text()));
    fs::create_directories(TKB_SCREENSHOT_DIR);
    screen.window.grab().save(QString(TKB_SCREENSHOT_DIR) + QString("/search_help_%1.png").arg(language));
  }
  // The same refusal on a port without the pedals' ids is not known to be theirs.
  pass.ports[1].ids.reset();
  QWidget window;
  QLabel status;
  ui::SearchHelp help(&window, &status, 0);
  window.show();
  help.searchStarted(0);
  help.passSeen(pass);
  ASSERT_TRUE(waitFor([&] { return help.isVisible(); }, 2000));
  EXPECT_FALSE(help.allowAccessButton()->isVisible());
  ::setenv("PATH", savedPath.c_str(), 1);
}

}  // namespace
}  // namespace tkb::test
