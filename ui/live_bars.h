// The live pedal bars of the PRO and CUSTOM pages: two thin views over the PedalReadout
// (app/pedal_readout), which computes what they show. ProBars is the PRO page's (the 10 ms
// refresh RefrescoBarrasPro, the dead-zone bands of its bars), CustomBars the CUSTOM page's
// (RefrescoBarrasSport, the bands of its output bars). Each sends the readout's pedal
// update to the monitor. Every refresh computes; a widget is only told to change when what
// it shows changes, and it repaints at the window's next frame.
#pragma once

#include <QLabel>
#include <array>
#include <functional>
#include <string>

#include "app/pedal_readout.h"
#include "link/controller_state.h"
#include "link/pedal_input.h"
#include "link/monitor_datagram.h"
#include "ui/pedal_bar.h"

namespace tkb {
class UsageLog;
}

namespace tkb::ui {

using tkb::kCustomHistoryEntries;
using tkb::kEmptyHistoryEntry;
using tkb::kProHistoryEntries;

using AxesSource = std::function<PedalAxes()>;

// The PRO page's live widgets (built by the PRO page; null entries are skipped).
struct ProBarWidgets {
  PedalBar* bar[3] = {};
  QLabel* value[3] = {};
  QLabel* history[3][kProHistoryEntries] = {};
};

// The CUSTOM page's live widgets (built by the CUSTOM page; null entries are skipped, the
// clutch entries stay unused without a clutch).
struct CustomBarWidgets {
  PedalBar* input[3] = {};
  PedalBar* output[3] = {};
  QLabel* inputLabel[3] = {};
  QLabel* outputLabel[3] = {};
  QLabel* brakeHistory[kCustomHistoryEntries] = {};
};

class ProBars {
 public:
  using LogSource = std::function<UsageLog*()>;
  ProBars(PedalReadout& readout, const ControllerState& state, AxesSource axes, LogSource log);

  ProBarWidgets pro;
  // The MAX BRAKE PRESS spin box's value (the brake upper zone when there is no page).
  std::function<int()> maxBrakePress;

  void RefrescoBarrasPro();
  // The bars' dead-zone bands from the state's zones.
  void showBands();
  // The bars use their whole height again ("Reset zones PRO").
  void plainProBars();

  const std::array<std::string, kProHistoryEntries>& proHistory(int pedal) const {
    return readout_.proHistory(pedal);
  }
  const PressTracker& proTracker(int pedal) const { return readout_.proTracker(pedal); }
  // The datagrams sent so far (for the benchmark: the count).
  long sentDatagrams() const { return sent_; }

 private:
  PedalReadout& readout_;
  const ControllerState& state_;
  AxesSource axes_;
  LogSource log_;
  monitor::MonitorSender sender_;
  long sent_ = 0;
  // What each history label was given last.
  std::array<std::array<std::string, kProHistoryEntries>, 3> shown_;
};

class CustomBars {
 public:
  CustomBars(PedalReadout& readout, const ControllerState& state, AxesSource axes);

  CustomBarWidgets widgets;

  void RefrescoBarrasSport();
  // The output bars' dead-zone bands from the state's zones, scaled to their height.
  void showBands();

  const std::array<std::string, kCustomHistoryEntries>& customHistory() const { return readout_.customHistory(); }
  long sentDatagrams() const { return sent_; }

 private:
  PedalReadout& readout_;
  const ControllerState& state_;
  AxesSource axes_;
  monitor::MonitorSender sender_;
  long sent_ = 0;
  std::array<std::string, kCustomHistoryEntries> shown_;
};

// The label shows text from its window's next frame on; it is not set when it shows that
// text already.
void showText(QLabel* label, const QString& text);

}  // namespace tkb::ui
