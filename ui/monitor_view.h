// What TKB_Monitor's picture shows, bars or trace: config.ini [MONITOR] view=bars|trace, which
// the monitor follows while it runs. The driver switches it on the main page (the switch
// beside OPEN MONITOR) or in the tray menu; both write the file and show what it holds.
#pragma once

#include <QPushButton>
#include <QWidget>

#include "app/app_config.h"

namespace tkb::ui {

enum class MonitorView { Bars, Trace };
inline constexpr const char* kMonitorViewSection = "MONITOR";
inline constexpr const char* kMonitorViewKey = "view";

// As the monitor reads it: "trace" is the trace view, anything else (or nothing) the bars.
MonitorView readMonitorView(const AppConfig& config);
// False when the file refused the write (it then holds what it held).
bool writeMonitorView(const AppConfig& config, MonitorView view);

// Two small buttons, BARS over TRACE, the view in force marked.
class MonitorViewSwitch : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kButtonWidth = 70, kButtonHeight = 24, kGap = 2;

  // Shows what config.ini holds.
  MonitorViewSwitch(QWidget* parent, const AppConfig& config);

  MonitorView view() const { return view_; }
  // Writes the view, then shows it; false (nothing changes) when the file refused it.
  bool setView(MonitorView view);
  void setLanguage(int language);

  QPushButton* barsButton = nullptr;
  QPushButton* traceButton = nullptr;

 signals:
  void viewChanged(tkb::ui::MonitorView view);

 private:
  void showView();

  const AppConfig& config_;
  MonitorView view_;
};

}  // namespace tkb::ui
