// TKB-Tunedeck: the configuration program's entry. Runs from its installation folder
// (the working directory is BasePath). "--demo" runs it on the built-in emulated pedal set.
#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QTimer>
#include <cstring>

#include "emulator/simulated_driver.h"
#include "link/firmware_update.h"
#include "ui/application.h"
#include "ui/demo_mode.h"
#include "ui/pages.h"
#include "ui/key_listener.h"

int main(int argc, char** argv) {
  bool demo = false;
  for (int i = 1; i < argc; ++i) demo = demo || std::strcmp(argv[i], "--demo") == 0;
  QApplication qapp(argc, argv);
  QApplication::setFont(QFont("Arial"));

  std::unique_ptr<tkb::ui::DemoPedalSet> demoSet;
  tkb::ui::Services services;
  if (demo) {
    demoSet = std::make_unique<tkb::ui::DemoPedalSet>();
    if (!demoSet->start()) return 1;
    // The simulated driver presses the emulated pedals by itself.
    services.pedals = std::make_unique<tkb::emu::SimulatedDriver>(&demoSet->emulator());
  } else {
    services.pedals = std::make_unique<tkb::HidrawPedalInput>();
  }
  services.keys = tkb::ui::createSystemKeyListener();
  services.errorBox = [](const QString& text, const QString& title) {
    QMessageBox::critical(nullptr, title, text);
  };
  services.openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
  services.quit = [] { QCoreApplication::exit(0); };

  tkb::ui::Application application(std::move(services));
  tkb::FirmwareUpdateOptions update;
  update.stop = application.probeStopFlag();
  application.setFirmwareUpdater(tkb::makeFirmwareUpdater(update));
  tkb::ui::installPages(application);
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
  window->show();
  QTimer::singleShot(0, &application, [&application] { application.startApplication(); });
  return qapp.exec();
}
