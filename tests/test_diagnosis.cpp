// The DIAGNOSE button of the "PEDALS NOT DETECTED!!" box, on the real window against the
// emulator: the doctor's report, and for a refused joystick node the rule through pkexec
// (a stand-in script here: polkit cannot run in the tests), then the re-check after the
// replug, which starts the program as CONTINUE does.
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <filesystem>

#include "dac_override.h"
#include "fake_event_nodes.h"
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
    setup.layout.baseFolder = setup.layout.dataFolder = dir_;
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
  std::string savedPath_;
};

TEST_F(DiagnosisTest, BoxShowsTheDoctorsReport) {
  startEmulatorOnTerminal();
  makeApp(false);  // no joystick node at all
  startAndWait(ui::Application::Phase::NotDetected);
  ASSERT_TRUE(app_->mainPage().diagnoseButton->isVisible());
  saveScreenshot("not_detected_box.png");
  ui::DiagnosisDialog* dialog = diagnose();
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->isVisible());
  const std::string report = dialog->reportView()->toPlainText().toStdString();
  EXPECT_NE(report.find("[PROBLEM] Raw HID node (pedal axes): no hidraw device of the pedal set"), std::string::npos)
      << report;
  // The port the window holds is its own, not a port in use by someone else.
  EXPECT_NE(report.find("Serial port COM3"), std::string::npos);
  EXPECT_NE(report.find("in use by this program"), std::string::npos) << report;
  EXPECT_FALSE(dialog->allowAccessButton()->isVisible());  // nothing is refused
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

  ui::DiagnosisDialog* dialog = diagnose();
  ASSERT_NE(dialog, nullptr);
  const std::string report = dialog->reportView()->toPlainText().toStdString();
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
