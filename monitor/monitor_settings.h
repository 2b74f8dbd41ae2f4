// The monitor's settings: the "MONITOR" section of config.ini in its working directory, which
// TKB-Tunedeck writes before starting it. The monitor writes back its position and last mode.
#pragma once

#include "app/app_config.h"

namespace tkb::monitor {

inline constexpr const char* kMonitorSection = "MONITOR";
inline constexpr const char* kConfigFileName = "config.ini";

// The VR keys, read once at program start; a change needs a restart of the monitor.
struct VrSettings {
  int enableVr = 0;
  int size = 10;      // hundredths
  int posX = 0;       // centimetres
  int posY = 20;
  int posZ = 30;      // in front of the seated origin
  int angleX = 45;    // degrees
  int angleY = 0;
  int opacity = 80;   // percent
  int timeoutMs = 3000;  // 0 or less: the overlay never fades
};

VrSettings readVrSettings(const AppConfig& config);
VrSettings readVrSettings(const IniValues& file);

// What the picture shows: view=bars (the default) or view=trace; any other value reads as
// bars. The configuration program writes the key; the monitor follows it while it runs.
enum class MonitorView { Bars, Trace };
inline constexpr const char* kViewKey = "view";
MonitorView readMonitorView(const IniValues& file);

}  // namespace tkb::monitor
