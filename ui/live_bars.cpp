#include "ui/live_bars.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "app/usage_log.h"
#include "link/trace.h"
#include "ui/curve_chart.h"
#include "ui/frame_clock.h"
#include "ui/widgets.h"

namespace tkb::ui {

namespace {
constexpr float kBarMaximum = 100.0f;
constexpr PedalKind kKinds[3] = {PedalKind::Clutch, PedalKind::Brake, PedalKind::Throttle};

std::string valueText(int percent) { return "     " + std::to_string(percent) + " %"; }

void setBar(PedalBar* bar, int value) {
  if (bar && bar->value() != std::clamp(value, 0, 100)) bar->setValue(value);
}
}  // namespace

void showText(QLabel* label, const QString& text) {
  if (label) FrameClock::of(label).setText(label, text);
}

float proPercent(int16_t raw) {
  return static_cast<float>((static_cast<int>(raw) + 32767) * 100) / 65534.0f;
}

float customPercent(int16_t raw) {
  return (static_cast<float>(raw) + 32767.0f) * 100.0f / 65534.0f;
}

float brakeTotalPercent(int16_t raw) {
  return static_cast<float>((static_cast<int>(raw) + 32767) * 100) / 65034.0f;
}

int AplicarCurva(const ControllerState& state, int pedal, int v) {
  // Without a brake stop the brake has no scale: it counts as fully pressed rather than
  // dividing by zero.
  if (pedal == 3) return state.cheto == 0 ? 100 : static_cast<int>(std::trunc(v * 100.0 / state.cheto));
  if (pedal < 0 || pedal > 2) return 100;
  const Curve& p = pedal == 0 ? state.clutchCurve : pedal == 1 ? state.brakeCurve : state.throttleCurve;
  double x = v;
  if (pedal == 1) {
    if (state.cheto == 0) return 100;
    x = v * 100.0 / state.cheto;
  }
  int segment = 0;
  for (int k = 1; k < kCurvePoints; ++k)
    if (p[k - 1] <= x && x < p[k]) segment = k;
  if (segment == 0) return 100;
  const double low = p[segment - 1];
  if (x == low) return 10 * (segment - 1);
  return static_cast<int>(std::trunc((x - low) / (p[segment] - low) * 10 + 10 * (segment - 1)));
}

int curveInput(const ControllerState& state, int pedal, int v) {
  if (pedal != kBrakePedal) return v;
  if (state.cheto <= 0) return 100;
  return std::min(100, static_cast<int>(std::trunc(v * 100.0 / state.cheto)));
}

int curveOutput(const ControllerState& state, int pedal, int v) {
  const Curve& p = pedal == kClutchPedal ? state.clutchCurve : pedal == kBrakePedal ? state.brakeCurve : state.throttleCurve;
  return static_cast<int>(std::trunc(curveOutputAt(p, curveInput(state, pedal, v))));
}

LiveBars::LiveBars(ControllerState& state, PageLinks& links, AxesSource axes, LogSource log)
    : state_(state), links_(links), axes_(std::move(axes)), log_(std::move(log)) {
  for (auto& column : proHistory_) column.fill(kEmptyHistoryEntry);
  customHistory_.fill(kEmptyHistoryEntry);
  proTrackers_[0] = {12, 11};
  proTrackers_[1] = {21, 20};
  proTrackers_[2] = {12, 11};
}

void LiveBars::setHistoryEntry(int pedal, int index, const std::string& text) {
  if (proHistory_[pedal][index] == text) return;
  proHistory_[pedal][index] = text;
  QLabel* label = pro.history[pedal][index];
  if (!label) return;
  // The entries' leading blanks only right-align them; the labels align right by themselves
  // and keep the room for the digits.
  if (pedal == kBrakePedal) {
    showText(label, recolourToRichText(text));
  } else {
    showText(label, QString::fromStdString(text).trimmed());
  }
}

void LiveBars::RefrescoBarrasPro() {
  const PedalAxes axes = axes_ ? axes_() : PedalAxes{};
  int percent[3] = {0, 0, 0};
  std::string text[3];

  if (state_.hasClutch) {
    percent[0] = static_cast<int>(std::min(proPercent(axes.axis3), kBarMaximum));
    setBar(pro.bar[0], percent[0]);
  }
  text[0] = valueText(percent[0]);
  if (state_.hasClutch) showText(pro.value[0], QString::fromStdString(text[0]));

  const float brakeUnlimited = proPercent(axes.axis2);
  const bool atLimit = brakeUnlimited >= kBarMaximum;
  const float brake = std::min(brakeUnlimited, kBarMaximum);
  const float total = brakeTotalPercent(axes.axis4);
  const int totalInt = static_cast<int>(total);
  percent[1] = static_cast<int>(brake);
  setBar(pro.bar[1], percent[1]);
  showText(pro.value[1], QString::fromStdString(valueText(percent[1])));
  if (atLimit) {
    text[1] = "#ff0000      " + std::to_string(totalInt) + "#";
    trace("\nFreno %f -> total:%d", static_cast<double>(brake), totalInt);
  } else {
    text[1] = "     " + std::to_string(totalInt);
  }

  const float throttle = std::min(proPercent(axes.axis1), kBarMaximum);
  percent[2] = static_cast<int>(throttle);
  setBar(pro.bar[2], percent[2]);
  text[2] = valueText(percent[2]);
  showText(pro.value[2], QString::fromStdString(text[2]));

  // The monitor shows the brake settings as values: unknown ones are never sent to it.
  if (state_.proProfileActive && state_.isKnown(Field::BrakeMax) && state_.isKnown(Field::BrakeUpper))
    sendToMonitor(static_cast<std::uint16_t>(state_.brakeMax), static_cast<std::uint32_t>(state_.brakeUpper),
                  state_.hasClutch ? 2 : 0, percent[0], percent[1], percent[2]);

  const float clutch = state_.hasClutch ? std::min(proPercent(axes.axis3), kBarMaximum) : 0.0f;
  runProTracker(kClutchPedal, clutch, clutch, text[0], 0, false);
  runProTracker(kBrakePedal, brake, total, text[1], totalInt, atLimit);
  runProTracker(kThrottlePedal, throttle, throttle, text[2], 0, false);
}

void LiveBars::runProTracker(int pedal, float value, float tracked, const std::string& text,
                             int brakeTotal, bool atLimit) {
  PressTracker& t = proTrackers_[pedal];
  if (!t.tracking) {
    if (value > t.start) t.tracking = true;
    return;
  }
  if (tracked > static_cast<float>(t.maximum)) {
    t.maximum = static_cast<int>(tracked);
    setHistoryEntry(pedal, 0, text);
    if (pedal == kBrakePedal) {
      const int limit = maxBrakePress ? maxBrakePress() : state_.brakeUpper;
      if (tracked > static_cast<float>(limit)) links_.excess.total = brakeTotal;
    }
    return;
  }
  if (value >= t.end) return;
  // The press has ended: its peak goes to the logs and the column moves down.
  UsageLog* log = log_ ? log_() : nullptr;
  if (log) log->pressPeak(kKinds[pedal], proHistory_[pedal][0]);
  if (pedal == kBrakePedal) {
    BrakeExcess& e = links_.excess;
    trace("\nRojo %d  -> total:%d", atLimit ? 1 : 0, e.total);
    if (e.total != 0) {
      // A first 50 is what the brake total shows before any joystick data arrived.
      if (!(e.numero == 0 && e.total == 50)) {
        e.parcial += e.total;
        e.numero += 1;
      }
      trace("\nParcial %d  -> numero:%d", e.parcial, e.numero);
      e.total = 0;
    }
  }
  t.tracking = false;
  t.maximum = 0;
  for (int i = kProHistoryEntries - 2; i >= 0; --i) setHistoryEntry(pedal, i + 1, proHistory_[pedal][i]);
  setHistoryEntry(pedal, 0, kEmptyHistoryEntry);
}

void LiveBars::RefrescoBarrasSport() {
  const PedalAxes axes = axes_ ? axes_() : PedalAxes{};
  CustomBarWidgets& w = links_.custom.bars;
  const int16_t raws[3] = {axes.axis3, axes.axis2, axes.axis1};
  int in[3] = {0, 0, 0}, out[3] = {0, 0, 0};
  for (int p = 0; p < 3; ++p) {
    if (p == kClutchPedal && !state_.hasClutch) continue;
    in[p] = static_cast<int>(std::min(customPercent(raws[p]), kBarMaximum));
    out[p] = curveOutput(state_, p, in[p]);
    setBar(w.output[p], out[p]);
    setBar(w.input[p], in[p]);
    showText(w.outputLabel[p], QString::number(out[p]) + ' ');
    showText(w.inputLabel[p], QString::number(in[p]) + ' ');
  }
  const int brakeOnStop = AplicarCurva(state_, 3, in[kBrakePedal]);
  if (state_.sportProfileActive && state_.isKnown(Field::Cheto) && state_.isKnown(Field::BrakeUpper))
    sendToMonitor(static_cast<std::uint32_t>(state_.cheto), static_cast<std::uint32_t>(state_.brakeUpper),
                  state_.hasClutch ? 3 : 1, in[0], static_cast<std::uint32_t>(brakeOnStop), in[2]);

  PressTracker& t = customBrake_;
  const float v = static_cast<float>(in[kBrakePedal]);
  if (!t.tracking) {
    if (v > t.start) t.tracking = true;
    return;
  }
  auto setEntry = [&](int i, const std::string& text) {
    if (customHistory_[i] == text) return;
    customHistory_[i] = text;
    showText(w.brakeHistory[i], QString::fromStdString(text));
  };
  if (v > static_cast<float>(t.maximum)) {
    t.maximum = in[kBrakePedal];
    setEntry(0, std::to_string(out[kBrakePedal]) + " ");
  } else if (v < t.end) {
    t.tracking = false;
    t.maximum = 0;
    for (int i = kCustomHistoryEntries - 2; i >= 0; --i) setEntry(i + 1, customHistory_[i]);
    setEntry(0, kEmptyHistoryEntry);
  }
}

void LiveBars::sendToMonitor(std::uint32_t high, std::uint32_t middle, std::uint32_t low,
                             std::uint32_t clutch, std::uint32_t brake, std::uint32_t throttle) {
  // Every byte stays a byte: the brake relative to a small brake stop must not spill into
  // the clutch byte (the monitor stops its bars at the top of its picture by itself).
  auto byte = [](std::uint32_t v) {
    return static_cast<std::uint32_t>(std::clamp(static_cast<std::int32_t>(v), 0, 255));
  };
  monitor::MonitorDatagram d;
  d.message = monitor::kPedalUpdateMessage;
  d.wParam = monitor::packParameter(high, byte(middle), byte(low));
  d.lParam = monitor::packParameter(byte(clutch), byte(brake), byte(throttle));
  // The monitor is looked up by its name on every send; none bound means none running.
  if (sender_.send(d)) ++sent_;
}

void LiveBars::ActualizarBarras() {
  const int zones[3][2] = {{state_.clutchUpper, state_.clutchLower},
                           {state_.brakeUpper, state_.brakeLower},
                           {state_.throttleUpper, state_.throttleLower}};
  for (int p = 0; p < 3; ++p) {
    const int top = 201 - 2 * zones[p][0];
    const int bottom = 2 * zones[p][1] + 1;
    if (pro.bar[p]) {
      PedalBar::Style style;
      style.padTop = top;
      style.padBottom = bottom;
      style.radius = 2;
      pro.bar[p]->setIndicatorStyle(style);
    }
    if (links_.custom.styleOutputBar) links_.custom.styleOutputBar(p, top * 18 / 20, bottom * 18 / 20);
  }
  trace("\nBarras actualizadas");
}

void LiveBars::plainProBars() {
  for (PedalBar* bar : pro.bar)
    if (bar) bar->setIndicatorStyle(PedalBar::Style{});
}

}  // namespace tkb::ui
