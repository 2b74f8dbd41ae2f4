// The live pedal bars of the PRO and CUSTOM pages: the 10 ms refreshes RefrescoBarrasPro
// and RefrescoBarrasSport, the percent conversions, the per-press trackers with their
// history columns and log lines, the brake-excess statistics that Autocal averages, the
// response-curve mapping AplicarCurva, the dead-zone bands (ActualizarBarras) and the
// pedal update sent to the monitor. Every refresh computes; a widget is only told to
// change when what it shows changes, and it repaints at the window's next frame.
#pragma once

#include <QLabel>
#include <array>
#include <functional>
#include <string>

#include "link/controller_state.h"
#include "link/pedal_input.h"
#include "monitor/monitor_datagram.h"
#include "ui/page_links.h"
#include "ui/pedal_bar.h"

namespace tkb {
class UsageLog;
}

namespace tkb::ui {

inline constexpr int kProHistoryEntries = 12;
inline constexpr int kCustomHistoryEntries = 10;
inline constexpr const char* kEmptyHistoryEntry = "     --";

// PRO page: ((raw + 32767) * 100 in integers) / 65534 in single precision.
float proPercent(int16_t raw);
// CUSTOM page: (raw + 32767.0) * 100 / 65534 in single precision.
float customPercent(int16_t raw);
// The brake total: divided by 65034, so full scale gives about 100.77 and raw 0 about 50.38.
float brakeTotalPercent(int16_t raw);

// The response curve of a pedal (0 clutch, 1 brake, 2 throttle) applied to an input
// percent, or (3) the brake input relative to the brake stop `cheto`. A brake stop of 0
// (possible after a profile load) maps every brake input to 100.
int AplicarCurva(const ControllerState& state, int pedal, int v);

// Where a pedal's input percent meets its curve: the input itself, for the brake the input
// relative to the brake stop (at most 100; a brake stop of 0 counts as fully pressed).
int curveInput(const ControllerState& state, int pedal, int v);
// What the CUSTOM page's OUT bar shows: the curve read as its chart draws it (input across,
// output up, linear between the points) at curveInput, truncated.
int curveOutput(const ControllerState& state, int pedal, int v);

// One press tracker: waits for the value to pass the start threshold, follows the peak,
// and reports the end of the press when the value falls below the end threshold.
struct PressTracker {
  float start = 12, end = 11;
  bool tracking = true;
  int maximum = 0;
};

// The PRO page's live widgets (built by the PRO page; null entries are skipped).
struct ProBarWidgets {
  PedalBar* bar[3] = {};
  QLabel* value[3] = {};
  QLabel* history[3][kProHistoryEntries] = {};
};

class LiveBars {
 public:
  using AxesSource = std::function<PedalAxes()>;
  using LogSource = std::function<UsageLog*()>;
  LiveBars(ControllerState& state, PageLinks& links, AxesSource axes, LogSource log);

  ProBarWidgets pro;
  // The MAX BRAKE PRESS spin box's value (the brake upper zone when there is no page).
  std::function<int()> maxBrakePress;

  void RefrescoBarrasPro();
  void RefrescoBarrasSport();
  // The dead-zone bands of the PRO bars and of the CUSTOM output bars from the state.
  void ActualizarBarras();
  // The PRO bars use their whole height again ("Reset zones PRO").
  void plainProBars();

  // The texts of the history columns (the brake one with its colour markup), entry 0 first.
  const std::array<std::string, kProHistoryEntries>& proHistory(int pedal) const { return proHistory_[pedal]; }
  const std::array<std::string, kCustomHistoryEntries>& customHistory() const { return customHistory_; }
  const PressTracker& proTracker(int pedal) const { return proTrackers_[pedal]; }
  // The datagrams sent so far (for the benchmark: the count).
  long sentDatagrams() const { return sent_; }

 private:
  void setHistoryEntry(int pedal, int index, const std::string& text);
  void runProTracker(int pedal, float value, float tracked, const std::string& text,
                     int brakeTotal, bool atLimit);
  void sendToMonitor(std::uint32_t high, std::uint32_t middle, std::uint32_t low,
                     std::uint32_t clutch, std::uint32_t brake, std::uint32_t throttle);

  ControllerState& state_;
  PageLinks& links_;
  AxesSource axes_;
  LogSource log_;
  monitor::MonitorSender sender_;
  long sent_ = 0;
  std::array<std::array<std::string, kProHistoryEntries>, 3> proHistory_;
  std::array<std::string, kCustomHistoryEntries> customHistory_;
  std::array<PressTracker, 3> proTrackers_;
  PressTracker customBrake_{10, 9};
};

// The label shows text from its window's next frame on; it is not set when it shows that
// text already.
void showText(QLabel* label, const QString& text);

}  // namespace tkb::ui
