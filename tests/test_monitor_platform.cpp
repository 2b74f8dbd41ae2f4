// The monitor's Qt platform for each kind of session.
#include <gtest/gtest.h>

#include "monitor/monitor_platform.h"

namespace tkb::monitor {
namespace {

TEST(MonitorPlatform, X11WhereverAnXServerIsThere) {
  struct Case {
    const char* what;
    SessionEnvironment session;
    std::string platform;
    bool compositorPlaces;
  };
  const Case cases[] = {
      {"X11 session", {"", "x11", "", ":0"}, "", false},
      {"Wayland with XWayland", {"", "wayland", "wayland-0", ":0"}, "xcb", false},
      {"Wayland display without a session type", {"", "", "wayland-0", ":1"}, "xcb", false},
      {"Wayland without XWayland", {"", "wayland", "wayland-0", ""}, "wayland", true},
      {"the driver's own choice", {"offscreen", "wayland", "wayland-0", ":0"}, "offscreen", false},
      {"the driver's own Wayland", {"wayland", "wayland", "wayland-0", ":0"}, "wayland", true},
      {"no session at all", {"", "tty", "", ""}, "", false},
  };
  for (const Case& c : cases) {
    const MonitorPlatform p = monitorPlatform(c.session);
    EXPECT_EQ(p.qtPlatform, c.platform) << c.what;
    EXPECT_EQ(p.compositorPlaces, c.compositorPlaces) << c.what;
  }
}

}  // namespace
}  // namespace tkb::monitor
