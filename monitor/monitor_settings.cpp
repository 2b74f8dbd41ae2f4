#include "monitor/monitor_settings.h"

namespace tkb::monitor {

VrSettings readVrSettings(const AppConfig& config) {
  const VrSettings defaults;
  VrSettings s;
  s.enableVr = config.readInt(kMonitorSection, "enable_vr", defaults.enableVr);
  s.size = config.readInt(kMonitorSection, "vr_size", defaults.size);
  s.posX = config.readInt(kMonitorSection, "vr_posx", defaults.posX);
  s.posY = config.readInt(kMonitorSection, "vr_posy", defaults.posY);
  s.posZ = config.readInt(kMonitorSection, "vr_posz", defaults.posZ);
  s.angleX = config.readInt(kMonitorSection, "vr_anglex", defaults.angleX);
  s.angleY = config.readInt(kMonitorSection, "vr_angley", defaults.angleY);
  s.opacity = config.readInt(kMonitorSection, "vr_opacity", defaults.opacity);
  s.timeoutMs = config.readInt(kMonitorSection, "vr_timeout", defaults.timeoutMs);
  return s;
}

}  // namespace tkb::monitor
