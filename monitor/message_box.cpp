#include "monitor/message_box.h"

#include <QGuiApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

namespace tkb::monitor {

void StandardErrorMessages::show(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}

void DesktopMessages::show(const std::string& text) {
  const QString platform = QGuiApplication::platformName();
  const bool nobodyToClick = std::getenv("TKB_MONITOR_NO_MESSAGE_BOX") != nullptr ||
                             platform == QLatin1String("offscreen") ||
                             platform == QLatin1String("minimal");
  if (nobodyToClick) {
    StandardErrorMessages().show(text);
    return;
  }
  QMessageBox::critical(nullptr, QStringLiteral("TKB_Monitor"), QString::fromStdString(text));
}

}  // namespace tkb::monitor
