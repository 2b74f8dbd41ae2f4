// End to end on a real X server (run under xvfb-run, as scripts/test does): the window's
// start-up installs the real key source once (the X11 listener, or the pedals' keyboard
// event node when there is one), a key reaches the session's action, and EXIT removes the
// source.
#include <cstdlib>
#include <thread>

#include "app/x11_key_listener.h"
#include "fake_event_nodes.h"
#include "ui/key_listener.h"
#include "window_fixture.h"

namespace tkb::test {
namespace {

class KeysTest : public WindowTest {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr)
        << "DISPLAY is not set: this test needs an X server; run it under xvfb-run (scripts/test does)";
    WindowTest::SetUp();
    // No pedals' keyboard: the X11 listener serves, whatever is plugged into this machine.
    setenv("TKB_SYSFS_ROOT", (dir_ + "/sys").c_str(), 1);
    setenv("TKB_DEV_ROOT", (dir_ + "/dev").c_str(), 1);
  }
  void TearDown() override {
    WindowTest::TearDown();
    unsetenv("TKB_SYSFS_ROOT");
    unsetenv("TKB_DEV_ROOT");
  }

  // The window on the emulated pedals with the real key source.
  void startWindow(std::unique_ptr<PedalInput> pedals = nullptr) {
    startEmulator();
    adjustServices_ = [&pedals](ui::Services& s) {
      if (pedals) s.pedals = std::move(pedals);
      s.keys = ui::createSystemKeyListener();
    };
    makeApp();
    startAndWait(ui::Application::Phase::Running);
  }
  // How many times Autocal ran (its closing line), once the keys are through.
  int autocals() {
    settle();
    const std::string t = traceText();
    int n = 0;
    for (size_t at = t.find("Autocal Button pressed - Final"); at != std::string::npos;
         at = t.find("Autocal Button pressed - Final", at + 1))
      ++n;
    return n;
  }
};

// With the pedals' keyboard there, it alone is heard: the X server's F11 does nothing (a
// key would otherwise act twice), the pedals' F11 runs Autocal.
TEST_F(KeysTest, PedalsKeyboardIsTheOnlySourceWhenItCanBeRead) {
  FakeEventNodes nodes(dir_);
  nodes.plug("event3");
  ASSERT_NO_FATAL_FAILURE(startWindow());
  EXPECT_EQ(installedKeySource(), KeySourceKind::Evdev);
  EXPECT_NE(traceText().find("\nKey source -> evdev " + nodes.nodePath("event3") + "\n"),
            std::string::npos);

  ASSERT_EQ(std::system("xdotool key F11"), 0);
  nodes.sendKeys("event3", {{KEY_F11, 1}, {KEY_F11, 0}});
  EXPECT_TRUE(waitFor([&] { return autocals() == 1; }, 10000));
  waitFor([&] { return autocals() > 1; }, 500);
  EXPECT_EQ(autocals(), 1);

  app_->mainPage().exit->click();
  EXPECT_FALSE(keyboardHookInstalled());
}

TEST_F(KeysTest, TypedAbsKeyRunsAutocalAndExitRemovesTheListener) {
  ASSERT_NO_FATAL_FAILURE(startWindow());
  ASSERT_TRUE(rec_.boxes.empty()) << rec_.boxes[0].first.toStdString();
  EXPECT_TRUE(app_->keyListenerInstalled());
  EXPECT_TRUE(keyboardHookInstalled());

  ASSERT_EQ(std::system("xdotool key F11"), 0);  // letterAbs 0: F11
  EXPECT_TRUE(waitFor([&] { return autocals() == 1; }, 10000));
  EXPECT_EQ(autocals(), 1);

  app_->mainPage().exit->click();
  EXPECT_FALSE(keyboardHookInstalled());
}

// The ABS key (F11 with letterAbs 0) runs Autocal on the PRO page's statistics: C8 with
// the average + 1, the brake zones read back (A5), the brake zones sent again, B4, FF F4.
TEST_F(KeysTest, AbsKeyRecalibratesTheBrakeFromTheRecordedPresses) {
  // Pedals at rest: no press of their own adds to the statistics.
  auto pedals = std::make_unique<FixedPedalInput>();
  pedals->set({-32767, -32767, -32767, -32767});
  ASSERT_NO_FATAL_FAILURE(startWindow(std::move(pedals)));
  ASSERT_EQ(state().letterAbs, 0);
  BrakeExcess& excess = model().readout().excess();
  // Three presses beyond the limit: 75 + 80 + 77 = 232, average 77, point 78.
  excess.parcial = 232;
  excess.numero = 3;
  const size_t mark = emulator_->received().size();

  ASSERT_EQ(std::system("xdotool key F11"), 0);
  ASSERT_TRUE(waitFor([&] { return excess.numero == 0 && autocals() == 1; }, 10000));
  const auto all = emulator_->received();
  const std::vector<std::vector<uint8_t>> frames(all.begin() + static_cast<long>(mark), all.end());
  ASSERT_EQ(frames.size(), 6u) << hex(frames.back());
  EXPECT_EQ(frames[0], (std::vector<uint8_t>{0xC8, 78, 0x8C}));
  EXPECT_EQ(frames[1], (std::vector<uint8_t>{0xA5}));
  EXPECT_EQ(frames[2], (std::vector<uint8_t>{0xC3, 78, 0x3C}));
  EXPECT_EQ(frames[3][0], 0xC5);
  EXPECT_EQ(frames[4], (std::vector<uint8_t>{0xB4, 0x01, 0x4B}));
  EXPECT_EQ(frames[5], (std::vector<uint8_t>{0xFF, 0xF4}));
  EXPECT_EQ(excess.parcial, 0);
  EXPECT_EQ(state().brakeUpper, 78);
  EXPECT_EQ(state().brakeMax, 78);
  EXPECT_EQ(pages_->pro->zones[ui::kBrakePedal].upper->value(), 78);
  EXPECT_NE(readFile(dir_ + "/opt/uselog.sr0").find(" 78 [Set ABS]\n"), std::string::npos);

  // With nothing recorded the key does nothing but its trace lines.
  const size_t after = emulator_->received().size();
  ASSERT_EQ(std::system("xdotool key F11"), 0);
  ASSERT_TRUE(waitFor([&] { return autocals() == 2; }, 10000));
  EXPECT_EQ(emulator_->received().size(), after);
  app_->mainPage().exit->click();
}

}  // namespace
}  // namespace tkb::test

#include <QProcess>

namespace tkb::test {
namespace {

QString xdotool(const QStringList& arguments) {
  QProcess p;
  p.start("xdotool", arguments);
  p.waitForFinished(15000);
  return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// Starts the staged program in demo mode in dir and returns its standard output once
// start-up has finished (or after 30 s).
QByteArray startDemo(QProcess& program, const std::string& dir, const QProcessEnvironment& env) {
  // One program per user: a folder of its own for the control channel, or a demo of
  // another test (or the driver's own program) would answer instead.
  std::filesystem::create_directories(dir + "/runtime");
  std::filesystem::permissions(dir + "/runtime", std::filesystem::perms::owner_all);
  QProcessEnvironment own = env;
  own.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir) + "/runtime");
  program.setProcessEnvironment(own);
  program.setWorkingDirectory(QString::fromStdString(dir));
  program.start(TKB_TUNEDECK_PROGRAM, {"--demo"});
  if (!program.waitForStarted(10000)) return {};
  QByteArray out;
  QElapsedTimer timer;
  timer.start();
  while (!out.contains("loadSettings - Final") && timer.elapsed() < 30000) {
    program.waitForReadyRead(200);
    out += program.readAllStandardOutput();
  }
  return out;
}

// The staged program in demo mode reaches its main page on the built-in pedal set.
TEST(StagedProgram, DemoRunsOnTheEmulatedPedalSetAndEndsCleanlyOnSigterm) {
  // Without an X server the program would wait on its "Failed to install hook!" box.
  ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "needs an X server (xvfb-run)";
  char pattern[] = "/tmp/tkb-demo-run-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  std::filesystem::create_directories(dir + "/opt");
  QProcess program;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("TKB_SERIAL_PREFIX", QString::fromStdString(dir) + "/none/ttyACM");  // demo replaces it
  env.insert("TMPDIR", QString::fromStdString(dir));  // where the demo makes its port folder
  QByteArray out = startDemo(program, dir, env);
  EXPECT_TRUE(out.contains("loadSettings - Final")) << out.right(2000).toStdString();
  bool portFolder = false;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    portFolder = portFolder || entry.path().filename().string().rfind("tkb-demo-", 0) == 0;
  EXPECT_TRUE(portFolder);
  // SIGTERM ends it like closing the window: status 0, its port folder removed.
  program.terminate();
  ASSERT_TRUE(program.waitForFinished(10000));
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 0);
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    EXPECT_NE(entry.path().filename().string().rfind("tkb-demo-", 0), 0u) << entry.path();
  EXPECT_TRUE(out.contains("MandarDatosIdioma() B2 0 2B"));
  EXPECT_TRUE(std::filesystem::exists(dir + "/opt/uselog.sr0"));
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

// The staged program in demo mode on the X server: EXIT, clicked with the pointer, runs
// the shut-down sequence and the process ends with status 0.
TEST(StagedProgram, ExitClickedOnTheRealWindowEndsWithStatusZero) {
  ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "needs an X server (xvfb-run)";
  char pattern[] = "/tmp/tkb-exit-run-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  std::filesystem::create_directories(dir + "/opt");
  QProcess program;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "xcb");
  QByteArray out = startDemo(program, dir, env);
  ASSERT_TRUE(out.contains("loadSettings - Final")) << out.right(1000).toStdString();
  const QString window =
      xdotool({"search", "--sync", "--onlyvisible", "--name", "^TKB-Tunedeck V3.3.3$"}).section('\n', 0, 0);
  ASSERT_FALSE(window.isEmpty());
  // EXIT: 145 x 40 at top-right (-100, 480) of the 1300 x 640 window. A click that came
  // before the window could take it (a busy machine) is made again.
  for (int tries = 0; tries < 10 && program.state() != QProcess::NotRunning; ++tries) {
    xdotool({"mousemove", "--window", window, "1127", "500", "click", "1"});
    program.waitForFinished(2000);
  }
  ASSERT_EQ(program.state(), QProcess::NotRunning);
  out += program.readAllStandardOutput();
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 0);
  EXPECT_TRUE(out.contains("\nClose main pressed - Inicio\n"));
  EXPECT_TRUE(out.contains("\nClose main pressed - Final\n"));
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

}  // namespace
}  // namespace tkb::test
