// Shared set-up of the window tests: a private folder as the working directory (with opt/
// and the monitor stub as opt/TKB_Monitor), the emulated pedal set, and the Application with
// recording services. The pedal set is the emulator's firmware model behind the in-memory
// transport (no terminal, no probe: a quiet controller costs fake time only) unless a test
// asks for it on a real pseudo-terminal found by the real probe (startEmulatorOnTerminal).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "emulator/memory_transport.h"
#include "emulator/pedal_emulator.h"
#include "emulator/simulated_driver.h"
#include "emulator_fixture.h"
#include "link/pedal_input.h"
#include "link/trace.h"
#include "ui/application.h"
#include "ui/diagnosis_dialog.h"
#include "ui/game_profiles.h"
#include "ui/main_page.h"
#include "ui/pages.h"
#include "ui/search_help.h"
#include "ui/tray.h"
#include "ui/vr_panel.h"

namespace tkb::test {

inline QApplication& qtApp() {
  static int argc = 1;
  static char name[] = "test_tunedeck_window";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    auto* a = new QApplication(argc, argv);
    QApplication::setFont(QFont("Arial"));
    return a;
  }();
  return *app;
}

// Processes events until pred holds or the (generous) limit passes.
template <typename Pred>
bool waitFor(Pred pred, int limitMs = 20000) {
  QElapsedTimer timer;
  timer.start();
  while (!pred()) {
    if (timer.elapsed() > limitMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    usleep(2000);
  }
  return true;
}

struct Recorder {
  int installs = 0, removes = 0, quits = 0;
  bool installWorks = true;
  std::vector<std::pair<QString, QString>> boxes;
  std::vector<ui::Question> questions;  // asked, in order
  bool answer = true;                   // what every question is answered
  std::vector<QUrl> urls;
  ui::KeyListener::Deliver deliver;  // hands key events over as the listener thread does
};

class CountingKeyListener : public ui::KeyListener {
 public:
  explicit CountingKeyListener(Recorder& r) : r_(r) {}
  bool install(Deliver deliver) override {
    ++r_.installs;
    if (r_.installWorks) r_.deliver = std::move(deliver);
    return r_.installWorks;
  }
  void remove() override { ++r_.removes; }

 private:
  Recorder& r_;
};

// Pedals held at positions the test sets (the bars' edge cases need exact raw values).
class FixedPedalInput : public PedalInput {
 public:
  void readPedalAxes() override {}
  void set(const PedalAxes& axes) { axes_ = axes; }

 protected:
  bool open() override { return true; }
};

// The emulated pedal set as the tests look at it, in memory or on a terminal. What it
// received and holds is read while the session is idle (the link thread is the only other
// user of the in-memory one).
class TestPedalSet {
 public:
  explicit TestPedalSet(emu::FirmwareState state) : memory_(std::make_unique<emu::MemoryTransport>(std::move(state))) {}
  explicit TestPedalSet(std::unique_ptr<emu::PedalEmulator> terminal) : terminal_(std::move(terminal)) {}

  emu::MemoryTransport* memory() { return memory_.get(); }
  emu::PedalEmulator* terminal() { return terminal_.get(); }

  std::vector<emu::Bytes> received() const {
    return memory_ ? memory_->model().received() : terminal_->received();
  }
  void clearReceived() { memory_ ? memory_->model().clearReceived() : terminal_->clearReceived(); }
  emu::FirmwareState state() const { return memory_ ? memory_->model().state() : terminal_->state(); }
  void update(const std::function<void(emu::FirmwareState&)>& change) {
    if (memory_) {
      change(memory_->model().state());
    } else {
      terminal_->update(change);
    }
  }
  void setFaults(const emu::Faults& faults) {
    if (memory_) {
      memory_->model().faults() = faults;
    } else {
      terminal_->setFaults(faults);
    }
  }
  void setAxes(const emu::AxisPositions& axes) {
    if (memory_) {
      memory_->model().axes() = axes;
    } else {
      terminal_->setAxes(axes);
    }
  }
  int answeredRequests() const { return memory_ ? memory_->model().answeredRequests() : terminal_->answeredRequests(); }
  void stop() {
    if (terminal_) terminal_->stop();
  }

 private:
  std::unique_ptr<emu::MemoryTransport> memory_;
  std::unique_ptr<emu::PedalEmulator> terminal_;
};

// What the probe finds on the in-memory controller: its identification and model exchanges,
// answered by the firmware model, as the real probe makes them on a port.
inline int memoryProbe(Controller& c) {
  auto exchange = [&c](uint8_t request, int replyBytes) {
    Bytes reply(static_cast<size_t>(replyBytes), 0);
    c.transport().discardInput();
    c.transport().write({&request, 1});
    c.transport().read(reply);
    return reply;
  };
  const Bytes id = exchange(kIdentifyRequest, kIdentifyReplyBytes);
  if (id[0] != kReplyStart || id[4] != kReplyEnd) return 0;
  c.state.firmwareVersion = {static_cast<int8_t>(id[1]), static_cast<int8_t>(id[2]), static_cast<int8_t>(id[3])};
  c.state.markKnown(Field::FirmwareVersion);
  const Bytes model = exchange(kModelRequest, kModelReplyBytes);
  if (model[0] != kReplyStart || model[2] != kReplyEnd) return 0;
  if (model[1] == kModelClutch || model[1] == kModelClutchAlt) return 1;
  if (model[1] == kModelNoClutch) return 2;
  if (model[1] == kModelNoClutchAlt) return 3;
  return 0;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qtApp();
    char pattern[] = "/tmp/tkb-window-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    std::filesystem::create_directories(dir_ + "/opt");
    std::filesystem::create_directories(dir_ + "/ports");
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    setenv("TKB_SERIAL_PREFIX", (dir_ + "/ports/ttyACM").c_str(), 1);
    trace_ = std::make_unique<TraceCapture>();
  }

  void TearDown() override {
    app_.reset();
    if (emulator_) emulator_->stop();
    emulator_.reset();
    trace_.reset();
    if (chdir("/") != 0) ADD_FAILURE() << "chdir /";
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  void installMonitorStub() { std::filesystem::copy_file(TKB_MONITOR_STUB, dir_ + "/opt/TKB_Monitor"); }

  // The emulated pedal set with the given firmware state, in memory.
  void startEmulator(const std::function<void(emu::FirmwareState&)>& setUp = {}) {
    emu::FirmwareState state;
    if (setUp) setUp(state);
    emulator_ = std::make_unique<TestPedalSet>(std::move(state));
  }
  // ... or on COM3, a real pseudo-terminal that the real probe finds.
  void startEmulatorOnTerminal(const std::function<void(emu::FirmwareState&)>& setUp = {}) {
    emu::FirmwareState state;
    if (setUp) setUp(state);
    auto terminal = std::make_unique<emu::PedalEmulator>(state);
    ASSERT_TRUE(terminal->start(dir_ + "/ports/ttyACM3"));
    emulator_ = std::make_unique<TestPedalSet>(std::move(terminal));
  }

  // The pedals' joystick as the hidraw reader finds it: a device tree under the test
  // folder, with a FIFO as the hidraw node.
  DeviceRoots deviceRoots() const { return {dir_ + "/sys", dir_ + "/dev"}; }
  void plugJoystick() {
    const std::string device = dir_ + "/sys/class/hidraw/hidraw0/device";
    std::filesystem::create_directories(device);
    std::filesystem::create_directories(dir_ + "/dev");
    std::ofstream(device + "/uevent") << "DRIVER=hid-generic\nHID_ID=0003:000016D0:00000F53\n";
    ASSERT_EQ(mkfifo((dir_ + "/dev/hidraw0").c_str(), 0644), 0);
  }

  // Builds the Application (not started) with recording services. withJoystick: the
  // simulated driver on the emulated pedals; otherwise the real hidraw reader over the
  // test's device tree, empty until plugJoystick().
  void makeApp(bool withJoystick = true, std::unique_ptr<PedalInput> pedals = nullptr) {
    ui::Services s;
    if (pedals) {
      s.pedals = std::move(pedals);
    } else if (withJoystick) {
      s.pedals = std::make_unique<emu::SimulatedDriver>(emulator_ ? emulator_->terminal() : nullptr);
    } else {
      s.pedals = std::make_unique<HidrawPedalInput>(deviceRoots());
    }
    s.keys = std::make_unique<CountingKeyListener>(rec_);
    s.errorBox = [this](const QString& t, const QString& title) { rec_.boxes.emplace_back(t, title); };
    s.question = [this](QWidget*, const ui::Question& q) {
      rec_.questions.push_back(q);
      return rec_.answer;
    };
    s.openUrl = [this](const QUrl& u) { rec_.urls.push_back(u); };
    s.quit = [this] { ++rec_.quits; };
    if (adjustServices_) adjustServices_(s);
    ProbeOptions probe;
    probe.passPauseMs = probePassPauseMs_;
    app_ = std::make_unique<ui::Application>(std::move(s), probe);
    if (emulator_ && emulator_->memory()) app_->model().useTransport(*emulator_->memory(), memoryProbe);
    pages_ = &app_->pages();
    app_->window()->show();
  }

  ui::ControllerModel& model() { return app_->model(); }
  const ControllerState& state() { return app_->model().state(); }

  // Everything asked of the session is through and shown.
  void settle() {
    if (!app_) return;
    ASSERT_TRUE(waitFor([&] { return model().idle(); })) << "the session did not come to rest";
    QCoreApplication::processEvents();
  }
  // A click as the driver makes it, then what it asked is through.
  void click(QAbstractButton* b) {
    b->click();
    settle();
  }

  void startAndWait(ui::Application::Phase expected) {
    app_->startApplication();
    ASSERT_TRUE(waitFor([&] {
      return app_->phase() != ui::Application::Phase::Probing && app_->phase() != ui::Application::Phase::Idle &&
             model().idle();
    })) << "start-up did not finish";
    settle();
    ASSERT_EQ(static_cast<int>(app_->phase()), static_cast<int>(expected));
  }

  std::string traceText() { return trace_->text(); }

  // The frames received once at least n have arrived (commands reach the emulator's
  // thread a little after they are written), plus anything that follows at once.
  std::vector<std::vector<uint8_t>> framesOnceThere(size_t n) {
    waitFor([&] { return model().idle() && emulator_->received().size() >= n; }, 10000);
    if (emulator_->terminal()) usleep(50'000);
    return emulator_->received();
  }

  int countFrames(const std::vector<uint8_t>& frame) {
    int n = 0;
    for (const auto& f : emulator_->received()) n += f == frame ? 1 : 0;
    return n;
  }

  void saveScreenshot(const std::string& name) {
    std::filesystem::create_directories(TKB_SCREENSHOT_DIR);
    const QString path = QString::fromStdString(std::string(TKB_SCREENSHOT_DIR) + "/" + name);
    EXPECT_TRUE(app_->window()->grab().save(path)) << path.toStdString();
  }

  std::string dir_;
  std::function<void(ui::Services&)> adjustServices_;  // before the Application is made
  int probePassPauseMs_ = 20;  // the program's own pause between passes is 500 ms
  std::unique_ptr<TraceCapture> trace_;
  std::unique_ptr<TestPedalSet> emulator_;
  Recorder rec_;
  std::unique_ptr<ui::Application> app_;
  ui::Pages* pages_ = nullptr;  // app_'s
};

// The search help over the grey start window (1300 x 640), as a driver sees it while the
// search goes on: styled as the program styles it, or bare.
struct SearchHelpScreen {
  explicit SearchHelpScreen(bool styled) {
    window.setFixedSize(ui::kWindowWidth, ui::kWindowHeight);
    window.setAutoFillBackground(true);
    window.setPalette(QPalette(QColor(0x44, 0x44, 0x44)));  // the start screen's grey
    if (styled) window.setStyleSheet(ui::windowStyleSheet());
    status->setStyleSheet("color:#e0e0e0;");
  }
  // Shows the window with the search in `language` past `pass`; whether the help came up.
  bool showAfter(int language, const ProbePass& pass) {
    window.show();
    help.searchStarted(language);
    help.passSeen(pass);
    return waitFor([&] { return help.isVisible(); }, 2000);
  }

  QWidget window;
  QLabel* status = ui::makeLabel(&window, "", 24);
  ui::SearchHelp help{&window, status, 0};
};

}  // namespace tkb::test
