#include "monitor/monitor_settings.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace tkb::monitor {
namespace {

// The ranges of the configuration program's VR spin boxes, which never write anything else.
// A hand-edited or damaged file must not place the overlay behind the viewer, turn it inside
// out or make it invisible.
struct VrKey {
  const char* key;
  int VrSettings::*field;
  int minimum, maximum;
};
constexpr VrKey kVrKeys[] = {
    {"vr_size", &VrSettings::size, 10, 80},          {"vr_posx", &VrSettings::posX, -90, 90},
    {"vr_posy", &VrSettings::posY, -90, 90},         {"vr_posz", &VrSettings::posZ, 30, 90},
    {"vr_anglex", &VrSettings::angleX, -45, 45},     {"vr_angley", &VrSettings::angleY, -45, 45},
    {"vr_opacity", &VrSettings::opacity, 20, 100},
};

}  // namespace

VrSettings readVrSettings(const AppConfig& config) { return readVrSettings(config.load()); }

VrSettings readVrSettings(const IniValues& file) {
  VrSettings s;
  s.enableVr = file.readInt(kMonitorSection, "enable_vr", s.enableVr);
  for (const VrKey& key : kVrKeys) {
    const int read = file.readInt(kMonitorSection, key.key, s.*key.field);
    s.*key.field = std::clamp(read, key.minimum, key.maximum);
    if (s.*key.field != read) {
      std::printf("\nVR setting %s = %d out of range, %d used", key.key, read, s.*key.field);
      std::fflush(stdout);
    }
  }
  s.timeoutMs = file.readInt(kMonitorSection, "vr_timeout", s.timeoutMs);
  return s;
}

MonitorView readMonitorView(const IniValues& file) {
  return file.readText(kMonitorSection, kViewKey, "bars") == "trace" ? MonitorView::Trace
                                                                     : MonitorView::Bars;
}

}  // namespace tkb::monitor
