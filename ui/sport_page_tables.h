// What the CUSTOM page's building and its showing both read: the four key-letter lists of
// CUSTOM mode and where the markers stand. For ui/sport_page*.cpp only.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "link/controller_state.h"
#include "link/settings.h"
#include "ui/localisation.h"

namespace tkb::ui::sport {

inline constexpr int kZoneMax = 100;
inline constexpr int kLetterEntries = 6;
inline constexpr int kZoneMarkerX = 197, kBrakeStopMarkerX = 222;

inline Pedal pedalAt(int index) { return static_cast<Pedal>(index); }
inline const Setting& zoneRow(int pedal, bool upper) { return zoneSetting(pedalAt(pedal), upper); }

// The four key-letter lists of CUSTOM mode; the index of the chosen entry is the value.
struct LetterListRole {
  Field known;
  const char* caption;
  LabelRole captionRole;
  std::array<const char*, kLetterEntries> entries;
  const char* traceLine;
};
inline const LetterListRole kLetterLists[4] = {
    {Field::LetterMas, "PRESS +", LabelRole::KeyPressPlus, {"F2", "F4", "M+C+a", "M+C+s", "M+C+d", "M+C+f"},
     "Option: Lista mas sport\n"},
    {Field::LetterMenos, "PRESS -", LabelRole::KeyPressMinus, {"F1", "F3", "M+C+z", "M+C+x", "M+C+c", "M+C+v"},
     "Option: Lista menos sport\n"},
    {Field::LetterMas2, "LIMITER +", LabelRole::KeyLimiterPlus, {"F6", "F8", "F10", "M+C+q", "M+C+w", "M+C+e"},
     "Option: Lista mas sport 2\n"},
    {Field::LetterMenos2, "LIMITER -", LabelRole::KeyLimiterMinus, {"F5", "F7", "F9", "M+C+b", "M+C+n", "M+C+m"},
     "Option: Lista menos sport 2\n"},
};

// The list entry of a letter, none while the letter is not known.
inline int letterEntry(const ControllerState& state, const LetterListRole& role) {
  if (!state.isKnown(role.known)) return -1;
  return std::clamp<int>(settingValue(state, role.known), 0, kLetterEntries - 1);
}

}  // namespace tkb::ui::sport
