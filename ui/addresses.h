// The maker's web addresses, in one place: the web link of the main page and the video
// channel of the MANUAL menu.
#pragma once

namespace tkb::ui {

inline constexpr const char* kMakerWebAddress = "https://www.tkb-tunedeck.example/";
inline constexpr const char* kVideoChannelAddress = "https://video.example/@tkb-tunedeck";

}  // namespace tkb::ui
