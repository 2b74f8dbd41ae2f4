// Which Qt platform the monitor runs on. Always-on-top and the saved window position need
// X11: on a Wayland session with XWayland the monitor runs on X11 (xcb); without XWayland it
// runs on Wayland, where the compositor decides where the window goes. Used by the
// monitor's entry before Qt starts; the main window keeps the session's own platform.
#pragma once

#include <string>

namespace tkb::monitor {

// What the choice reads from the environment.
struct SessionEnvironment {
  std::string qtPlatform;      // QT_QPA_PLATFORM: the driver's own choice is kept
  std::string sessionType;     // XDG_SESSION_TYPE
  std::string waylandDisplay;  // WAYLAND_DISPLAY
  std::string x11Display;      // DISPLAY (XWayland sets it on a Wayland session)
  static SessionEnvironment fromEnvironment();
};

struct MonitorPlatform {
  std::string qtPlatform;         // empty: Qt's own choice
  bool compositorPlaces = false;  // the window's place is not ours to set or keep
};

// Pure.
MonitorPlatform monitorPlatform(const SessionEnvironment& session);

inline constexpr const char* kCompositorPlacesNotice =
    "TKB_Monitor: Wayland session without XWayland: the compositor decides where the monitor "
    "window goes and whether it stays on top; its saved position is not used\n";

}  // namespace tkb::monitor
