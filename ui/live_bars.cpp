#include "ui/live_bars.h"

#include <algorithm>

#include "app/usage_log.h"
#include "ui/frame_clock.h"
#include "ui/widgets.h"

namespace tkb::ui {

namespace {
constexpr int kBrake = static_cast<int>(Pedal::Brake);
constexpr int kClutch = static_cast<int>(Pedal::Clutch);

void setBar(PedalBar* bar, int value) {
  if (bar && bar->value() != std::clamp(value, 0, kBarMaximum)) bar->setValue(value);
}

// The monitor is looked up by its name on every send; none bound means none running.
void sendToMonitor(monitor::MonitorSender& sender, const std::optional<monitor::MonitorDatagram>& d, long& sent) {
  if (d && sender.send(*d)) ++sent;
}
}  // namespace

void showText(QLabel* label, const QString& text) {
  if (label) FrameClock::of(label).setText(label, text);
}

ProBars::ProBars(PedalReadout& readout, const ControllerState& state, AxesSource axes, LogSource log)
    : readout_(readout), state_(state), axes_(std::move(axes)), log_(std::move(log)) {
  for (int p = 0; p < 3; ++p) shown_[p] = readout_.proHistory(p);
}

void ProBars::RefrescoBarrasPro() {
  const PedalAxes axes = axes_ ? axes_() : PedalAxes{};
  const int maxBrake = maxBrakePress ? maxBrakePress() : state_.brakeUpper;
  const ProReadout r = readout_.pro(state_, axes, maxBrake, log_ ? log_() : nullptr);
  for (int p = 0; p < 3; ++p) {
    if (p == kClutch && !r.hasClutch) continue;
    setBar(pro.bar[p], r.percent[p]);
    showText(pro.value[p], QString::fromStdString(r.valueText[p]));
  }
  sendToMonitor(sender_, r.datagram, sent_);
  for (int p = 0; p < 3; ++p) {
    const auto& column = readout_.proHistory(p);
    for (int i = 0; i < kProHistoryEntries; ++i) {
      if (shown_[p][i] == column[i]) continue;
      shown_[p][i] = column[i];
      QLabel* label = pro.history[p][i];
      if (!label) continue;
      // The entries' leading blanks only right-align them; the labels align right by
      // themselves and keep the room for the digits.
      if (p == kBrake) {
        showText(label, recolourToRichText(column[i]));
      } else {
        showText(label, QString::fromStdString(column[i]).trimmed());
      }
    }
  }
}

void ProBars::showBands() {
  const auto bands = deadZoneBands(state_);
  for (int p = 0; p < 3; ++p) {
    if (!pro.bar[p]) continue;
    PedalBar::Style style;
    style.padTop = bands[p].padTop;
    style.padBottom = bands[p].padBottom;
    style.radius = 2;
    pro.bar[p]->setIndicatorStyle(style);
  }
}

void ProBars::plainProBars() {
  for (PedalBar* bar : pro.bar)
    if (bar) bar->setIndicatorStyle(PedalBar::Style{});
}

CustomBars::CustomBars(PedalReadout& readout, const ControllerState& state, AxesSource axes)
    : readout_(readout), state_(state), axes_(std::move(axes)), shown_(readout.customHistory()) {}

void CustomBars::RefrescoBarrasSport() {
  const PedalAxes axes = axes_ ? axes_() : PedalAxes{};
  const CustomReadout r = readout_.custom(state_, axes);
  CustomBarWidgets& w = widgets;
  for (int p = 0; p < 3; ++p) {
    if (p == kClutch && !r.hasClutch) continue;
    setBar(w.output[p], r.output[p]);
    setBar(w.input[p], r.input[p]);
    showText(w.outputLabel[p], QString::number(r.output[p]) + ' ');
    showText(w.inputLabel[p], QString::number(r.input[p]) + ' ');
  }
  sendToMonitor(sender_, r.datagram, sent_);
  const auto& column = readout_.customHistory();
  for (int i = 0; i < kCustomHistoryEntries; ++i) {
    if (shown_[i] == column[i]) continue;
    shown_[i] = column[i];
    showText(w.brakeHistory[i], QString::fromStdString(column[i]));
  }
}

void CustomBars::showBands() {
  const auto bands = deadZoneBands(state_);
  for (int p = 0; p < 3; ++p) {
    if (!widgets.output[p]) continue;
    const DeadZoneBand band = outputBarBand(bands[p]);
    PedalBar::Style style;
    style.padTop = std::max(0, band.padTop);
    style.padBottom = std::max(0, band.padBottom);
    style.radius = 0;
    widgets.output[p]->setIndicatorStyle(style);
  }
}

}  // namespace tkb::ui
