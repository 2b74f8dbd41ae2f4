#include "ui/curve_presets.h"

#include <algorithm>
#include <cmath>

namespace tkb::ui {

namespace {

constexpr int kLast = kCurvePoints - 1;
constexpr int kWallChoices[] = {75, 80, 85, 90};

// The curve of a shape f over the travel 0..1 (f(0) = 0, f(1) = 1), rounded to whole
// percents and kept strictly increasing: each point at least one above the one before and
// enough below 100 for the ones after.
template <typename F>
Curve sampled(F f) {
  Curve c{};
  for (int k = 0; k <= kLast; ++k) {
    const int wanted = static_cast<int>(std::lround(100.0 * f(k / static_cast<double>(kLast))));
    const int lowest = k == 0 ? 0 : c[k - 1] + 1;
    const int highest = 100 - (kLast - k);
    c[k] = std::clamp(wanted, lowest, highest);
  }
  return c;
}

}  // namespace

Curve presetCurve(const CurvePreset& preset) {
  switch (preset.kind) {
    case CurvePreset::Linear:
      return sampled([](double t) { return t; });
    case CurvePreset::Progressive:
      return sampled([](double t) { return t * t; });
    case CurvePreset::Aggressive:
      return sampled([](double t) { return 1.0 - (1.0 - t) * (1.0 - t); });
    case CurvePreset::SCurve:
      return sampled([](double t) { return t * t * (3.0 - 2.0 * t); });
    case CurvePreset::BrakeWall: {
      // A straight, steep rise to the wall; past it the output only creeps to 100.
      const double wall = std::clamp(preset.wall, 10, 100) / 100.0;
      return sampled([wall](double t) { return std::min(t / wall, 1.0); });
    }
  }
  return straightCurve();
}

std::vector<CurvePreset> presetsFor(Pedal pedal) {
  std::vector<CurvePreset> list{{CurvePreset::Linear}, {CurvePreset::Progressive}, {CurvePreset::Aggressive},
                                {CurvePreset::SCurve}};
  if (pedal == Pedal::Brake)
    for (int wall : kWallChoices) list.push_back({CurvePreset::BrakeWall, wall});
  return list;
}

}  // namespace tkb::ui
