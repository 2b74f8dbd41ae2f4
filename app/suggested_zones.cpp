#include "app/suggested_zones.h"

#include <algorithm>
#include <array>
#include <optional>

namespace tkb {

ZonePlan planSuggestedZones(const ControllerState& state, const std::vector<std::pair<Field, int>>& zones) {
  struct Band {
    std::optional<int> upper, lower;
    bool bad = false;
  };
  std::array<Band, kPedalCount> bands{};
  for (const auto& [field, value] : zones) {
    const Setting* row = findSetting(field);
    const bool zone = row != nullptr && row->pedal && (row->role == Role::UpperZone || row->role == Role::LowerZone);
    if (!zone) continue;  // not a dead zone: never sent from here
    Band& band = bands[pedalIndex(*row->pedal)];
    if (!inRange(field, value)) band.bad = true;
    (row->role == Role::UpperZone ? band.upper : band.lower) = value;
  }
  for (Pedal pedal : kPedals) {
    Band& band = bands[pedalIndex(pedal)];
    if (!band.upper && !band.lower) continue;
    if (pedal == Pedal::Brake) {
      if (band.upper) band.bad = true;  // the brake limit is the driver's choice
      continue;
    }
    const int upper = band.upper.value_or(zoneValue(state, pedal, true));
    const int lower = band.lower.value_or(zoneValue(state, pedal, false));
    if (lower >= upper) band.bad = true;
  }
  ZonePlan plan;
  for (const auto& [field, value] : zones) {
    const Setting* row = findSetting(field);
    if (row == nullptr || !row->pedal || (row->role != Role::UpperZone && row->role != Role::LowerZone)) continue;
    if (!bands[pedalIndex(*row->pedal)].bad) plan.send.emplace_back(field, value);
  }
  for (Pedal pedal : kPedals)
    if (bands[pedalIndex(pedal)].bad) plan.refused.push_back(pedal);
  return plan;
}

}  // namespace tkb
