#include "app/doctor_text.h"

namespace tkb {
namespace {

// In the order of DoctorText.
constexpr const char* kEnglish[kDoctorTextCount] = {
    "Serial port %1 (%2)",
    "Serial ports",
    "Raw HID node (pedal axes)",
    "Keyboard event node (key functions)",
    "Key source",
    "udev rule",
    "ModemManager",
    "Desktop session",
    "VR runtime",
    "avrdude",
    "avrdude.conf",
    "Firmware image",
    "Base folder",

    "%1",
    "USB %1",
    "USB %1 (the pedal set)",
    "USB %1 (the pedal set's bootloader)",
    "no USB ids (a pseudo-terminal or another driver)",
    "another device: left alone, not opened",
    "in use by this program",
    "can be opened",
    "no permission to open it (group %1)",
    "in use by another program",
    "in use right now (perhaps by this program's own search)",
    "cannot be opened: %1",
    "no serial port %1<n> at all",
    "no hidraw device of the pedal set (16d0:0f53)",
    "%1 found, readable",
    "%1 found, no permission to read it",
    "%1 found, cannot be read: %2",
    "no keyboard event device of the pedal set (16d0:0f53)",
    "evdev %1",
    "X11 RECORD: the keys are heard through the X server",
    "none: the pedals' keys are not heard",
    "not installed: the pedals are reachable only through group rights",
    "not running",
    "running; without the udev rule it may take the pedal port",
    "running; the udev rule keeps it away from the pedal port",
    "running, kept away from %1 by the udev rule",
    "running and may probe %1 (the udev rule does not cover it)",
    "Wayland, XWayland on %1",
    "Wayland, no XWayland",
    "X11 on %1",
    "no graphical session (DISPLAY and WAYLAND_DISPLAY unset)",
    "%1 found",
    "%1 not found: OPEN VR MONITOR cannot show the pedals in a headset",
    "not found on PATH",
    "%1 not found",
    "%1 not there: needed only to update firmware older than 7.06",
    "no home folder known",
    "%1 is not a folder",
    "%1 is not writable",
    "%1, writable",
    "%1, made on first start",
    "follows from: %1",

    "give this user access to the pedals (the udev rule), then unplug them and plug them in again:",
    "install the access rule:",
    "or join the group %1, then log out and in again:",
    "close the other program that holds %1 (another TKB-Tunedeck, a serial terminal)",
    "plug the pedal set in (USB); this shows whether the kernel sees it:",
    "or switch ModemManager off:",
    "install SteamVR and start it once; its libopenvr_api.so must be on the library path (LD_LIBRARY_PATH)",
    "install avrdude:",
    "reinstall avrdude:",
    "install avrdude, then build again:",
    "put the pedal maker's %1 into %2",
    "set HOME (or XDG_DATA_HOME)",
    "move it out of the way:",
    "make it yours again:",
};

}  // namespace

const char* englishDoctorText(DoctorText text) {
  const int t = static_cast<int>(text);
  return t >= 0 && t < kDoctorTextCount ? kEnglish[t] : "";
}

std::string fillText(const std::string& text, const std::vector<std::string>& args) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
      const auto n = static_cast<size_t>(text[i + 1] - '1');
      if (n < args.size()) {
        out += args[n];
        ++i;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

std::string english(const Phrase& phrase) { return fillText(englishDoctorText(phrase.text), phrase.args); }

}  // namespace tkb
