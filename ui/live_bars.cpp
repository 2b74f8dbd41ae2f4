#include "ui/live_bars.h"

#include <algorithm>
#include <utility>

#include "ui/frame_clock.h"
#include "ui/live_background.h"
#include "ui/widgets.h"

namespace tkb::ui {

namespace {
constexpr int kBrake = static_cast<int>(Pedal::Brake);
constexpr int kClutch = static_cast<int>(Pedal::Clutch);

void setBar(PedalBar* bar, int value) {
  if (bar && bar->value() != std::clamp(value, 0, kBarMaximum)) bar->setValue(value);
}

// A page's live widgets are told only while the page is shown in a window that is shown.
bool shown(const QWidget* page) { return page != nullptr && page->isVisible() && !page->window()->isMinimized(); }

// The live widgets change at every frame: each repaints alone, nothing under it.
template <typename Widgets>
void repaintAlone(const Widgets& widgets, QWidget* page) {
  for (QWidget* widget : widgets)
    if (widget) ui::repaintAlone(widget, page);
}
}  // namespace

void showText(QLabel* label, const QString& text) {
  if (label) FrameClock::of(label).setText(label, text);
}

ProBars::ProBars(ControllerModel& model) : model_(model) {
  for (int p = 0; p < 3; ++p) shown_[p] = model_.readout().proHistory(p);
}

void ProBars::RefrescoBarrasPro() {
  if (!shown(pro.page)) return;
  if (!alone_) {
    alone_ = true;
    repaintAlone(pro.bar, pro.page);
    repaintAlone(pro.value, pro.page);
    for (const auto& column : pro.history) repaintAlone(column, pro.page);
  }
  const ProReadout r = model_.readout().pro(model_.state());
  for (int p = 0; p < 3; ++p) {
    if (p == kClutch && !r.hasClutch) continue;
    setBar(pro.bar[p], r.percent[p]);
    if (std::exchange(toldValue_[p], r.percent[p]) != r.percent[p])
      showText(pro.value[p], QString::fromStdString(r.valueText[p]));
  }
  for (int p = 0; p < 3; ++p) {
    const auto& column = model_.readout().proHistory(p);
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
  FrameClock::of(pro.page).feedStep();
}

void ProBars::showBands() {
  const auto bands = deadZoneBands(model_.state());
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

CustomBars::CustomBars(ControllerModel& model) : model_(model), shown_(model.readout().customHistory()) {}

void CustomBars::RefrescoBarrasSport() {
  if (!shown(widgets.page)) return;
  CustomBarWidgets& w = widgets;
  if (!alone_) {
    alone_ = true;
    repaintAlone(w.input, w.page);
    repaintAlone(w.output, w.page);
    repaintAlone(w.inputLabel, w.page);
    repaintAlone(w.outputLabel, w.page);
    repaintAlone(w.brakeHistory, w.page);
  }
  const CustomReadout r = model_.readout().custom(model_.state());
  for (int p = 0; p < 3; ++p) {
    if (p == kClutch && !r.hasClutch) continue;
    setBar(w.output[p], r.output[p]);
    setBar(w.input[p], r.input[p]);
    if (std::exchange(toldOutput_[p], r.output[p]) != r.output[p])
      showText(w.outputLabel[p], QString::number(r.output[p]) + ' ');
    if (std::exchange(toldInput_[p], r.input[p]) != r.input[p])
      showText(w.inputLabel[p], QString::number(r.input[p]) + ' ');
  }
  const auto& column = model_.readout().customHistory();
  for (int i = 0; i < kCustomHistoryEntries; ++i) {
    if (shown_[i] == column[i]) continue;
    shown_[i] = column[i];
    showText(w.brakeHistory[i], QString::fromStdString(column[i]));
  }
  FrameClock::of(w.page).feedStep();
}

void CustomBars::showBands() {
  const auto bands = deadZoneBands(model_.state());
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
