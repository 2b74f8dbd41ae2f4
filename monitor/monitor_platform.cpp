#include "monitor/monitor_platform.h"

#include <cstdlib>

namespace tkb::monitor {
namespace {

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

SessionEnvironment SessionEnvironment::fromEnvironment() {
  return {env("QT_QPA_PLATFORM"), env("XDG_SESSION_TYPE"), env("WAYLAND_DISPLAY"), env("DISPLAY")};
}

MonitorPlatform monitorPlatform(const SessionEnvironment& session) {
  if (!session.qtPlatform.empty()) return {session.qtPlatform, session.qtPlatform.starts_with("wayland")};
  const bool wayland = session.sessionType == "wayland" || !session.waylandDisplay.empty();
  if (!wayland) return {};
  if (!session.x11Display.empty()) return {"xcb", false};
  return {"wayland", true};
}

}  // namespace tkb::monitor
