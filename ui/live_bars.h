// The live pedal bars of the PRO and CUSTOM pages: two thin views over what the session's
// 10 ms feed sampled (the readout of ControllerModel, with its history columns). ProBars is
// the PRO page's (its bars, values and history columns, the dead-zone bands of its bars),
// CustomBars the CUSTOM page's (input and output bars and values, the brake history, the
// bands of its output bars). A view computes what its page shows only while the page is shown
// in a window that is shown, and tells its widgets only what changed; they repaint at the
// window's next frame, each alone (the labels paint their own background).
#pragma once

#include <QLabel>
#include <QObject>
#include <array>
#include <string>

#include "app/pedal_readout.h"
#include "ui/controller_model.h"
#include "ui/pedal_bar.h"

namespace tkb::ui {

using tkb::kCustomHistoryEntries;
using tkb::kEmptyHistoryEntry;
using tkb::kProHistoryEntries;

// The PRO page's live widgets (built by the PRO page; null entries are skipped).
struct ProBarWidgets {
  QWidget* page = nullptr;  // told only while this is shown
  PedalBar* bar[3] = {};
  QLabel* value[3] = {};
  QLabel* history[3][kProHistoryEntries] = {};
};

// The CUSTOM page's live widgets (built by the CUSTOM page; null entries are skipped, the
// clutch entries stay unused without a clutch).
struct CustomBarWidgets {
  QWidget* page = nullptr;
  PedalBar* input[3] = {};
  PedalBar* output[3] = {};
  QLabel* inputLabel[3] = {};
  QLabel* outputLabel[3] = {};
  QLabel* brakeHistory[kCustomHistoryEntries] = {};
};

class ProBars {
 public:
  explicit ProBars(ControllerModel& model);

  ProBarWidgets pro;

  // The widgets show the feed's last PRO readout (when the page is shown).
  void RefrescoBarrasPro();
  // The bars' dead-zone bands from the state's zones.
  void showBands();
  // The bars use their whole height again ("Reset zones PRO").
  void plainProBars();

 private:
  ControllerModel& model_;
  // What each history label was given last.
  std::array<std::array<std::string, kProHistoryEntries>, 3> shown_;
  std::array<int, 3> toldValue_{-1, -1, -1};  // the percent each value label was given last
  bool alone_ = false;  // the live widgets were made to repaint alone
};

class CustomBars {
 public:
  explicit CustomBars(ControllerModel& model);

  CustomBarWidgets widgets;

  void RefrescoBarrasSport();
  // The output bars' dead-zone bands from the state's zones, scaled to their height.
  void showBands();

 private:
  ControllerModel& model_;
  std::array<std::string, kCustomHistoryEntries> shown_;
  std::array<int, 3> toldInput_{-1, -1, -1}, toldOutput_{-1, -1, -1};
  bool alone_ = false;  // the live widgets were made to repaint alone
};

// The label shows text from its window's next frame on; it is not set when it shows that
// text already.
void showText(QLabel* label, const QString& text);

}  // namespace tkb::ui
