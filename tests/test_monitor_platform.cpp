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
  };
  const Case cases[] = {
      {"X11 session", {"", "x11", "", ":0"}, ""},
      {"Wayland with XWayland", {"", "wayland", "wayland-0", ":0"}, "xcb;wayland"},
      {"Wayland display without a session type", {"", "", "wayland-0", ":1"}, "xcb;wayland"},
      {"session exports Wayland, XWayland there", {"wayland", "wayland", "wayland-0", ":0"}, "xcb;wayland"},
      {"session exports wayland-egl, XWayland there", {"wayland-egl", "", "wayland-0", ":0"}, "xcb;wayland"},
      {"Wayland without XWayland", {"", "wayland", "wayland-0", ""}, "wayland"},
      {"session exports Wayland, no XWayland", {"wayland", "wayland", "wayland-0", ""}, "wayland"},
      {"a choice other than Wayland is kept", {"offscreen", "wayland", "wayland-0", ":0"}, "offscreen"},
      {"no session at all", {"", "tty", "", ""}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(monitorQtPlatform(c.session), c.platform) << c.what;

  for (const char* name : {"wayland", "wayland-egl"}) EXPECT_TRUE(compositorPlaces(name)) << name;
  for (const char* name : {"xcb", "offscreen", ""}) EXPECT_FALSE(compositorPlaces(name)) << name;
}

}  // namespace
}  // namespace tkb::monitor
