// Ready-made curves the CUSTOM page offers by each chart. Each is an 11-point curve the
// editor could have made (0 at the start, 100 at the end, strictly increasing).
#pragma once

#include <vector>

#include "link/controller_state.h"
#include "link/settings.h"

namespace tkb::ui {

struct CurvePreset {
  enum Kind { Linear, Progressive, Aggressive, SCurve, BrakeWall };
  Kind kind = Linear;
  int wall = 0;  // BrakeWall: the travel (%) where the output reaches the wall
};

// The points of a preset. A wall outside 10..100 % is taken as its nearest end.
Curve presetCurve(const CurvePreset& preset);

// The presets offered for a pedal, in list order: the brake also has its walls.
std::vector<CurvePreset> presetsFor(Pedal pedal);

}  // namespace tkb::ui
