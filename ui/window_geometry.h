// Where things stand on the 1300 x 640 window: the window itself and the 820 x 560 place
// the PRO and CUSTOM pages take. Shared by the window and its pages.
#pragma once

namespace tkb::ui {

inline constexpr int kWindowWidth = 1300;
inline constexpr int kWindowHeight = 640;
inline constexpr int kPageX = 460, kPageY = 20, kPageWidth = 820, kPageHeight = 560;

}  // namespace tkb::ui
