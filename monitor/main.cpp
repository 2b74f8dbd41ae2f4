// TKB_Monitor: started by TKB-Tunedeck with its opt/ folder as working directory, ended by it
// with SIGTERM. Installed, it always works in the driver's <base>/opt (also when started
// from the desktop), where config.ini is shared with TKB-Tunedeck. Options: --snapshot PATH writes the first picture as PNG.
#include <QApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/file_replace.h"
#include "app/install_layout.h"
#include "monitor/message_box.h"
#include "monitor/monitor_platform.h"
#include "monitor/monitor_window.h"

namespace {

int signalPipe[2] = {-1, -1};

void onTerminate(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
}

// SIGTERM (and SIGINT) end the event loop normally, so that the VR runtime is shut down and
// the OpenGL window destroyed on the way out.
bool installTerminationHandler() {
  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = onTerminate;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  return ::sigaction(SIGTERM, &action, nullptr) == 0 && ::sigaction(SIGINT, &action, nullptr) == 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::string platform =
      tkb::monitor::monitorQtPlatform(tkb::monitor::SessionEnvironment::fromEnvironment());
  if (!platform.empty()) ::setenv("QT_QPA_PLATFORM", platform.c_str(), 1);
  // With VR on, Mesa would keep a shader cache under ~/.cache for the one texture the overlay
  // needs: the monitor writes nothing outside its base folder. A driver's own setting is kept.
  ::setenv("MESA_SHADER_CACHE_DISABLE", "true", 0);
  QApplication application(argc, argv);
  if (tkb::monitor::compositorPlaces(QGuiApplication::platformName().toStdString())) {
    std::fputs(tkb::monitor::kCompositorPlacesNotice, stdout);
    std::fflush(stdout);
  }
  tkb::monitor::MonitorOptions options;
  const QStringList arguments = QApplication::arguments();
  for (int i = 1; i < arguments.size(); ++i) {
    if (arguments[i] == QLatin1String("--snapshot") && i + 1 < arguments.size()) {
      options.snapshotPath = arguments[++i];
    } else {
      std::fprintf(stderr, "TKB_Monitor: unknown argument %s\n", qPrintable(arguments[i]));
      return 2;
    }
  }
  if (std::string error; !tkb::enterBaseFolder(tkb::detectInstallLayout(), "opt", error)) {
    std::fprintf(stderr, "TKB_Monitor: %s\n", error.c_str());
    return 1;
  }
  if (!installTerminationHandler()) {
    std::perror("TKB_Monitor: signal handler");
    return 1;
  }
  QSocketNotifier terminate(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&terminate, &QSocketNotifier::activated, &application, [] {
    char buffer[16];
    while (::read(signalPipe[0], buffer, sizeof buffer) > 0) {
    }
    QApplication::quit();
  });

  // What writes of config.ini killed half-way left in the working directory (opt/).
  tkb::removeUnfinishedWrites(".");
  tkb::monitor::DesktopMessages messages;
  options.messages = &messages;
  int status;
  {
    tkb::monitor::MonitorWindow window(options);
    window.show();
    status = application.exec();
  }
  return status;
}
