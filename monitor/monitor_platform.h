// Which Qt platform the monitor runs on. Always-on-top and the saved window position need
// X11: whenever an X display is there (XWayland on a Wayland session) the monitor runs on X11
// (xcb), also when the session exports QT_QPA_PLATFORM=wayland; only without one does it run on
// Wayland, where the compositor decides where the window goes. Used by the monitor's entry
// before Qt starts; the main window keeps the session's own platform.
#pragma once

#include <string>
#include <string_view>

namespace tkb::monitor {

// What the choice reads from the environment.
struct SessionEnvironment {
  std::string qtPlatform;      // QT_QPA_PLATFORM: a choice other than Wayland is kept
  std::string sessionType;     // XDG_SESSION_TYPE
  std::string waylandDisplay;  // WAYLAND_DISPLAY
  std::string x11Display;      // DISPLAY (XWayland sets it on a Wayland session)
  static SessionEnvironment fromEnvironment();
};

// Pure. The value for QT_QPA_PLATFORM, empty for Qt's own choice. On a Wayland session with an
// X display it is "xcb;wayland": X11, and Wayland only if that display cannot be reached.
std::string monitorQtPlatform(const SessionEnvironment& session);

// Whether the platform Qt started on (its name) leaves the window's place to the compositor.
bool compositorPlaces(std::string_view platformName);

inline constexpr const char* kCompositorPlacesNotice =
    "TKB_Monitor: Wayland session without XWayland: the compositor decides where the monitor "
    "window goes and whether it stays on top; its saved position is not used\n";

}  // namespace tkb::monitor
