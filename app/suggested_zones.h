// Which of the dead zones the pedal check suggests may go to the pedals as they stand: the
// trace panel's APPLY sends what passes (ControllerModel::applyZones) and tells the driver
// which pedal was left alone and why. Pure, no I/O.
#pragma once

#include <utility>
#include <vector>

#include "link/controller_state.h"
#include "link/settings.h"

namespace tkb {

struct ZonePlan {
  std::vector<std::pair<Field, int>> send;  // in the order given
  std::vector<Pedal> refused;               // pedals whose suggestions are not sent
};

// Every value must lie in its row's range and be a dead zone. A clutch or throttle whose
// lower zone would not stay below its upper one afterwards (with what the state holds for
// the one not suggested) keeps both as they are: the pedal would never move in the game.
// The brake's upper zone is its limit, in another unit than its lower one; the check never
// suggests it, and its lower zone is only range-checked.
ZonePlan planSuggestedZones(const ControllerState& state, const std::vector<std::pair<Field, int>>& zones);

}  // namespace tkb
