#include "monitor/monitor_platform.h"

#include <cstdlib>

namespace tkb::monitor {
namespace {

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

bool isWayland(std::string_view platform) { return platform.starts_with("wayland"); }

}  // namespace

SessionEnvironment SessionEnvironment::fromEnvironment() {
  return {env("QT_QPA_PLATFORM"), env("XDG_SESSION_TYPE"), env("WAYLAND_DISPLAY"), env("DISPLAY")};
}

std::string monitorQtPlatform(const SessionEnvironment& session) {
  // offscreen, xcb, minimal...: the driver's (or a test's) own choice.
  if (!session.qtPlatform.empty() && !isWayland(session.qtPlatform)) return session.qtPlatform;
  // A Wayland session exports QT_QPA_PLATFORM=wayland for every program; that is not a choice
  // against X11 for this window.
  const bool wayland = isWayland(session.qtPlatform) || session.sessionType == "wayland" ||
                       !session.waylandDisplay.empty();
  if (!session.x11Display.empty()) return wayland ? "xcb;wayland" : "";
  if (!session.qtPlatform.empty()) return session.qtPlatform;
  return wayland ? "wayland" : "";
}

bool compositorPlaces(std::string_view platformName) { return isWayland(platformName); }

}  // namespace tkb::monitor
