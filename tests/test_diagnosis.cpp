// The DIAGNOSE button of the "PEDALS NOT DETECTED!!" box, on the real window against the
// emulator: the box's line about the parts, the doctor's report in the controller's language,
// and for a refused joystick node the rule through pkexec
// (a stand-in script here: polkit cannot run in the tests), then the re-check after the
// replug, which starts the program as CONTINUE does.
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextDocument>
#include <filesystem>

#include "dac_override.h"
#include "fake_event_nodes.h"
#include "ui/help_texts.h"
#include "window_fixture.h"

namespace fs = std::filesystem;

namespace tkb::test {
namespace {

class DiagnosisTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    savedPath_ = std::getenv("PATH");
    adjustServices_ = [this](ui::Services& s) { s.doctorSetup = [this] { return doctorSetup(); }; };
  }
  // The test's device trees; no udev rule installed, the staged rule in the test folder.
  DoctorSetup doctorSetup() const {
    DoctorSetup setup;
    setup.roots = deviceRoots();
    setup.ruleFolders = {dir_ + "/rules"};
    setup.layout.installed = false;
    setup.layout.baseFolder = dir_;
    // A deep folder: the rule's install command is longer than the dialog is wide.
    setup.layout.dataFolder = dir_ + "/" + std::string(120, 'd');
    return setup;
  }
  void TearDown() override {
    ::setenv("PATH", savedPath_.c_str(), 1);
    WindowTest::TearDown();
  }
  ui::DiagnosisDialog* diagnose() {
    app_->mainPage().diagnoseButton->click();
    return app_->diagnosis();
  }
  // What a label or command of the dialog shows, as plain text, one per line.
  static std::string plain(const QString& text) {
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText().replace(QChar(0x00A0), ' ').toStdString();
  }
  static std::string shownText(QWidget* view) {
    std::string out;
    for (QLabel* label : view->findChildren<QLabel*>())
      out += (label->textFormat() == Qt::PlainText ? label->text().toStdString() : plain(label->text())) + "\n";
    for (ui::CommandView* command : view->findChildren<ui::CommandView*>()) out += command->command().toStdString() + "\n";
    return out;
  }
  std::string savedPath_;
};

// The box and its diagnosis speak the controller's language: the box says which part answers
// and which is missing, the dialog shows the doctor's findings with each command whole (wrapped,
// never scrolled sideways) and copied as it is.
TEST_F(DiagnosisTest, BoxAndDiagnosisSpeakTheControllersLanguage) {
  for (int language = 0; language < ui::kLanguageCount; ++language) {
    SCOPED_TRACE(language);
    // On a real terminal: the box names the port that answered, the doctor the port held.
    startEmulatorOnTerminal([language](emu::FirmwareState& s) { s.languageCode = static_cast<uint8_t>(language); });
    makeApp(false);  // no joystick node at all
    startAndWait(ui::Application::Phase::NotDetected);
    ui::MainPage& page = app_->mainPage();
    ASSERT_TRUE(page.diagnoseButton->isVisible());
    EXPECT_EQ(page.diagnoseButton->text().toStdString(), ui::helpText(ui::HelpText::Diagnose, language));
    const std::string box = plain(page.notDetectedText->text());
    EXPECT_EQ(box.rfind("PEDALS NOT DETECTED!!", 0), 0u) << box;
    const QString parts = QString::fromUtf8(ui::helpText(ui::HelpText::JoystickMissing, language))
                              .arg(QString::fromStdString("COM3 (" + dir_ + "/ports/ttyACM3)"));
    EXPECT_NE(box.find(parts.toStdString()), std::string::npos) << box;
    EXPECT_LE(page.notDetectedText->heightForWidth(page.notDetectedText->width()), page.notDetectedText->height());
    saveScreenshot("not_detected_box_" + std::to_string(language) + ".png");

    ui::DiagnosisDialog* dialog = diagnose();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->windowTitle().toStdString(), ui::helpText(ui::HelpText::DiagnosisTitle, language));
    const std::string report = shownText(dialog->reportView());
    const std::string hidraw = ui::doctorText(DoctorText::TopicRawHid, language);
    EXPECT_NE(report.find(std::string(ui::helpText(ui::HelpText::VerdictProblem, language)) + "  " + hidraw + ": " +
                          ui::doctorText(DoctorText::NoHidraw, language)),
              std::string::npos)
        << report;
    // The port the window holds is its own, not a port in use by someone else.
    EXPECT_NE(report.find(ui::doctorText(DoctorText::InUseByUs, language)), std::string::npos) << report;
    EXPECT_FALSE(dialog->allowAccessButton()->isVisible());  // nothing is refused

    // The rule's long install command: whole, inside the dialog's width, copied as it is.
    auto* scroll = dialog->findChild<QScrollArea*>("DiagnosisScroll");
    ASSERT_NE(scroll, nullptr);
    waitFor([] { return false; }, 200);  // laid out
    const QList<ui::CommandView*> commands = dialog->reportView()->findChildren<ui::CommandView*>();
    ASSERT_FALSE(commands.empty());
    const std::string install = accessFixCommand(doctorSetup());
    ui::CommandView* longest = nullptr;
    for (ui::CommandView* c : commands) {
      EXPECT_LT(c->mapTo(scroll->viewport(), QPoint(c->width() - 1, 0)).x(), scroll->viewport()->width());
      EXPECT_LE(c->document()->size().height(), c->viewport()->height() + 1) << c->command().toStdString();
      if (c->command().toStdString() == install) longest = c;
    }
    ASSERT_NE(longest, nullptr) << install;
    EXPECT_GT(longest->fontMetrics().horizontalAdvance(longest->command()), scroll->viewport()->width());
    EXPECT_EQ(scroll->horizontalScrollBar()->maximum(), 0);
    const QList<QPushButton*> copy = longest->parentWidget()->findChildren<QPushButton*>("CopyButton");
    ASSERT_FALSE(copy.empty());
    EXPECT_EQ(copy.front()->text().toStdString(), ui::helpText(ui::HelpText::Copy, language));
    for (QPushButton* b : copy) b->click();  // the row's COPY buttons: the last copies the rule
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), install);
    dialog->grab().save(QString(TKB_SCREENSHOT_DIR) + QString("/diagnosis_%1.png").arg(language));
    dialog->close();
    app_.reset();
    emulator_->stop();
  }
}

TEST_F(DiagnosisTest, RefusedJoystickIsFixedThroughPkexecAndTheReplugStartsTheProgram) {
  fs::create_directories(dir_ + "/bin");
  {
    std::ofstream script(dir_ + "/bin/pkexec");
    script << "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args\"\nexit 0\n";
  }
  fs::permissions(dir_ + "/bin/pkexec", fs::perms::owner_all);
  ::setenv("PATH", (dir_ + "/bin:" + savedPath_).c_str(), 1);
  startEmulator();
  plugJoystick();
  FakeEventNodes keyboard(dir_);
  keyboard.plug("event3");
  fs::permissions(dir_ + "/dev/hidraw0", fs::perms::none);
  WithoutDacOverride asUser;
  ASSERT_TRUE(asUser.dropped());
  makeApp(false);
  startAndWait(ui::Application::Phase::NotDetected);
  // The box names the refused node and the command that allows it.
  const std::string box = plain(app_->mainPage().notDetectedText->text());
  EXPECT_NE(box.find(dir_ + "/dev/hidraw0"), std::string::npos) << box;
  EXPECT_NE(box.find(accessFixCommand(doctorSetup())), std::string::npos) << box;
  saveScreenshot("not_detected_box_refused.png");

  ui::DiagnosisDialog* dialog = diagnose();
  ASSERT_NE(dialog, nullptr);
  const std::string report = shownText(dialog->reportView());
  EXPECT_NE(report.find("hidraw0 found, no permission to read it"), std::string::npos) << report;
  ASSERT_TRUE(dialog->allowAccessButton()->isVisible());
  dialog->grab().save(QString(TKB_SCREENSHOT_DIR) + "/diagnosis_access_refused.png");
  dialog->allowAccessButton()->click();
  ASSERT_TRUE(waitFor([&] { return dialog->statusLabel()->text().contains("plug it in again"); }))
      << dialog->statusLabel()->text().toStdString();
  std::vector<std::string> expected = pkexecAccessFix(doctorSetup());
  expected.erase(expected.begin());  // the program itself
  std::string args;
  for (const std::string& a : expected) args += a + "\n";
  EXPECT_EQ(readFile(dir_ + "/bin/pkexec.args"), args);

  // Not yet plugged in again: the dialog keeps waiting.
  waitFor([] { return false; }, 2 * ui::kAccessRecheckMs);
  EXPECT_EQ(app_->phase(), ui::Application::Phase::NotDetected);
  // The replug: udev applied the rule to the new node.
  fs::permissions(dir_ + "/dev/hidraw0", fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_TRUE(waitFor([&] { return app_->phase() == ui::Application::Phase::Running; }, 30000))
      << traceText();
  EXPECT_EQ(app_->diagnosis(), nullptr);  // closed
}

}  // namespace
}  // namespace tkb::test
