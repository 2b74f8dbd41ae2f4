// TKB-Tunedeck: the configuration program's entry. Staged, it runs from its installation
// folder (the working directory is BasePath); installed, it changes into the driver's data
// folder first, so BasePath is ~/.local/share/tkb-tunedeck. "--demo" runs it on the built-in
// emulated pedal set. One program per user: a second start (the demo too) brings the running
// window to the front and ends, before anything probes a port.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QSocketNotifier>
#include <QDesktopServices>
#include <QMessageBox>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <cstring>
#include <functional>

#include "app/control_channel.h"
#include "app/doctor.h"
#include "app/install_layout.h"
#include "emulator/simulated_driver.h"
#include "link/firmware_update.h"
#include "ui/application.h"
#include "ui/control_server.h"
#include "ui/program_commands.h"
#include "ui/demo_mode.h"
#include "ui/help_texts.h"
#include "ui/key_listener.h"

namespace {

// SIGINT and SIGTERM end the program as closing its window does (status 0, monitors left
// running), so that the demo's temporary folder is removed; during a firmware update only
// once the update has ended. The handler only writes a byte that the event loop reads.
int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const auto n = write(signalPipe[1], &byte, 1);
}

void quitOnSignals(QObject* owner, std::function<void()> quit) {
  if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, owner);
  QObject::connect(notifier, &QSocketNotifier::activated, owner, [quit] {
    char byte;
    while (read(signalPipe[0], &byte, 1) > 0) {
    }
    quit();
  });
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// The first start binds the control channel; the instance lock stays held until the end.
// How long a second start waits for the first to answer (it may still be binding its
// socket, or ending).
constexpr auto kActivateTries = std::chrono::seconds(5);
constexpr auto kActivatePause = std::chrono::milliseconds(100);

std::string environmentText(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// True: this start goes on as the one program; false: it must end (status in `status`).
bool becomeTheInstance(tkb::control::InstanceLock& lock, int& status) {
  const auto until = std::chrono::steady_clock::now() + kActivateTries;
  for (;;) {
    switch (lock.acquire()) {
      case tkb::control::InstanceLock::Result::Acquired: return true;
      case tkb::control::InstanceLock::Result::Failed:
        // Without a folder of our own there is no channel; the program runs on its own.
        std::fprintf(stderr, "TKB-Tunedeck: no control channel: %s\n", lock.problem().c_str());
        return true;
      case tkb::control::InstanceLock::Result::HeldElsewhere: break;
    }
    tkb::control::ActivateRequest activate{environmentText("XDG_ACTIVATION_TOKEN"),
                                           environmentText("DESKTOP_STARTUP_ID")};
    const auto answer = tkb::control::call(activate, 2000, lock.folder());
    if (answer.outcome == tkb::control::CallResult::Outcome::Replied) {
      std::printf("\nTKB-Tunedeck is already running: its window was brought to the front\n");
      status = 0;
      return false;
    }
    if (std::chrono::steady_clock::now() >= until) {
      std::fprintf(stderr, "TKB-Tunedeck: another TKB-Tunedeck of this user runs but does not answer\n");
      status = 1;
      return false;
    }
    std::this_thread::sleep_for(kActivatePause);
  }
}

// The running window to the front; the caller's token hands the focus over where the
// desktop asks for one (Qt takes it from the environment when it activates the window).
void bringToFront(QWidget* window, const tkb::control::ActivateRequest& request) {
  if (!request.activationToken.empty()) qputenv("XDG_ACTIVATION_TOKEN", request.activationToken.c_str());
  if (!request.startupId.empty()) qputenv("DESKTOP_STARTUP_ID", request.startupId.c_str());
  window->showNormal();
  window->raise();
  window->activateWindow();
}

}  // namespace

int main(int argc, char** argv) {
  bool demo = false;
  for (int i = 1; i < argc; ++i) demo = demo || std::strcmp(argv[i], "--demo") == 0;
  tkb::control::InstanceLock instanceLock;
  if (int status = 0; !becomeTheInstance(instanceLock, status)) return status;
  QApplication qapp(argc, argv);
  QApplication::setFont(QFont("Arial"));

  // Installed, nothing may be written where the program was started from or under /usr.
  const tkb::InstallLayout layout = tkb::detectInstallLayout();
  if (std::string error; !tkb::enterBaseFolder(layout, "", error)) {
    std::fprintf(stderr, "TKB-Tunedeck: %s\n", error.c_str());
    QMessageBox::critical(nullptr, "TKB-Tunedeck",
                          QString::fromStdString("The settings and profiles cannot be kept: " + error));
    return 1;
  }

  std::unique_ptr<tkb::ui::DemoPedalSet> demoSet;
  std::unique_ptr<tkb::ui::ControlServer> control;
  tkb::ui::Services services;
  if (demo) {
    demoSet = std::make_unique<tkb::ui::DemoPedalSet>();
    if (std::string error; !demoSet->start(error)) {
      // Started from the menu or the search help, nobody reads standard error.
      std::fprintf(stderr, "TKB-Tunedeck --demo: %s\n", error.c_str());
      const int language = tkb::ui::desktopLanguage();
      QMessageBox::critical(nullptr, "TKB-Tunedeck",
                            QString::fromUtf8(tkb::ui::helpText(tkb::ui::HelpText::DemoFailed, language))
                                .arg(QString::fromStdString(error)));
      return 1;
    }
    // The simulated driver presses the emulated pedals by itself.
    services.pedals = std::make_unique<tkb::emu::SimulatedDriver>(&demoSet->emulator());
  } else {
    services.pedals = std::make_unique<tkb::HidrawPedalInput>(tkb::DeviceRoots::fromEnvironment(),
                                                              tkb::accessFixCommand(tkb::DoctorSetup{}));
  }
  services.keys = tkb::ui::createSystemKeyListener();
  // The boxes in the window's look, over the window.
  services.errorBox = [](const QString& text, const QString& title) {
    tkb::ui::showMessageBox(QApplication::activeWindow(), true, title, text);
  };
  services.openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
  services.infoBox = [](const QString& text, const QString& title) {
    tkb::ui::showMessageBox(QApplication::activeWindow(), false, title, text);
  };
  services.question = [](QWidget* window, const tkb::ui::Question& question) {
    return tkb::ui::askQuestion(window, question);
  };
  services.quit = [] { QCoreApplication::exit(0); };
  services.monitorProgram = layout.monitorProgram();
  // DEMO of the search help: a new start on the emulated pedal set takes this one's place.
  // The control channel closes first, so that the new start does not find this one answering
  // and end; it waits (5 s) for the instance lock, which this one gives up when it has ended.
  services.restartInDemo = [&control] {
    control.reset();
    if (!QProcess::startDetached(QCoreApplication::applicationFilePath(), {"--demo"}, QDir::currentPath())) {
      std::fprintf(stderr, "TKB-Tunedeck: the demo could not be started\n");
      return;
    }
    std::printf("\nDemo: TKB-Tunedeck --demo takes over\n");
    QCoreApplication::exit(0);
  };
  if (layout.installed) services.manualFolder = QString::fromStdString(layout.manualFolder());

  tkb::ui::Application application(std::move(services));
  quitOnSignals(&qapp, [&application] { application.requestQuit(); });
  tkb::FirmwareUpdateOptions update;
  update.bootloaderScript = layout.bootloaderScript();
  update.avrdudeConfig = layout.avrdudeConfig();
  application.useFirmwareUpdate(update);
  QWidget* window = application.window();
  if (demo) {
    auto* mark = new QLabel("DEMO", window);
    mark->setObjectName("DemoMark");
    mark->setStyleSheet("color:#ffffff;background:#c0392b;font-weight:bold;font-size:16px;"
                        "padding:2px 10px;border-radius:4px;");
    mark->adjustSize();
    mark->move(390, 8);
    QObject::connect(&application, &tkb::ui::Application::phaseChanged, mark, [mark] { mark->raise(); });
    mark->show();
  }
  if (instanceLock.held()) {
    control = std::make_unique<tkb::ui::ControlServer>(instanceLock, instanceLock.folder());
    control->onActivate([window](const tkb::control::ActivateRequest& r) { bringToFront(window, r); });
    // tkb-cli's commands while this program holds the pedals' port.
    control->onCommand([&application](const tkb::control::CommandRequest& request,
                                       tkb::ui::ControlServer::Reply reply) {
      tkb::ui::runProgramCommand(application.model(), {application.games(), application.doctorSetup()}, request,
                                 std::move(reply));
    });
    if (!control->listen()) std::fprintf(stderr, "TKB-Tunedeck: no control channel: %s\n", control->problem().c_str());
  }
  window->show();
  QTimer::singleShot(0, &application, [&application] { application.startApplication(); });
  return qapp.exec();
}
