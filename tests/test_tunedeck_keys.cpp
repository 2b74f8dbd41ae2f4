// End to end on a real X server (run under xvfb-run, as scripts/test does): the window's
// start-up installs the real X11 key listener once, a key typed with xdotool reaches the
// page action on the main thread, and EXIT removes the listener.
#include <cstdlib>

#include "app/x11_key_listener.h"
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
  }
};

TEST_F(KeysTest, TypedAbsKeyRunsAutocalAndExitRemovesTheListener) {
  startEmulator();
  ui::Services s;
  s.pedals = std::make_unique<emu::SimulatedDriver>(emulator_.get());
  s.keys = ui::createSystemKeyListener();
  s.errorBox = [this](const QString& t, const QString& title) { rec_.boxes.emplace_back(t, title); };
  s.quit = [] {};
  app_ = std::make_unique<ui::Application>(std::move(s));
  int autocals = 0;
  app_->hooks().autocal = [&] { ++autocals; };
  app_->startApplication();
  ASSERT_TRUE(waitFor([&] { return app_->phase() == ui::Application::Phase::Running; }));
  ASSERT_TRUE(rec_.boxes.empty()) << rec_.boxes[0].first.toStdString();
  EXPECT_TRUE(app_->keyListenerInstalled());
  EXPECT_TRUE(keyboardHookInstalled());

  ASSERT_EQ(std::system("xdotool key F11"), 0);  // letterAbs 0: F11
  EXPECT_TRUE(waitFor([&] { return autocals == 1; }, 10000));
  QCoreApplication::processEvents();
  EXPECT_EQ(autocals, 1);

  app_->mainPage().exit->click();
  EXPECT_FALSE(keyboardHookInstalled());
}

}  // namespace
}  // namespace tkb::test
