// The pedal set's own keyboard interface read through evdev: a thread that reads the
// struct input_event records of the pedals' keyboard event node and hands each key event
// over as a KeyEvent, with Ctrl and Shift as held on that same device. It works in X11 and
// Wayland sessions alike, whatever window has the focus, hears no other keyboard and never
// grabs the node, so the focused game still gets every key. No Qt here.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>

#include "app/key_event.h"
#include "link/pedal_input.h"

namespace tkb {

// Pure. The key identity of an evdev key code (KEY_F11 -> 0x7A, KEY_K -> 'K'); the codes
// are key positions, which the controller types as on a US layout. kOtherKey otherwise.
int evdevKeyIdentity(int code);
// Pure. Whether a sysfs capabilities/key bitmap (hexadecimal words, the highest first)
// holds a letter or a function key: the pedals' joystick node has the same ids but only
// buttons.
bool hasKeyboardKeys(const std::string& capabilitiesKey);

// The pedals' keyboard event node: the lowest $sysfs/class/input/eventN whose device has
// the pedal ids (device/id/vendor, device/id/product) and keyboard keys, as
// $dev/input/eventN. Nothing when the pedals are not plugged in.
std::optional<std::string> findPedalKeyboardNode(const DeviceRoots& roots);

class EvdevKeySource {
 public:
  explicit EvdevKeySource(DeviceRoots roots = DeviceRoots::fromEnvironment());
  ~EvdevKeySource();  // stops
  EvdevKeySource(const EvdevKeySource&) = delete;
  EvdevKeySource& operator=(const EvdevKeySource&) = delete;

  // Opens the node and starts the thread; deliver is called on that thread, once per key
  // event, in the order of the device. False, with the reason in error, when the node is
  // not there or may not be opened (then the reason names the udev rule's install command).
  // When the pedals are unplugged later, the keys they held are released and the node is
  // looked for again every reopenIntervalMs until they are back.
  bool start(KeyDeliver deliver, std::string* error = nullptr);
  void stop();
  bool running() const;
  // The node in use; empty while the pedals are unplugged.
  std::string nodePath() const;
  void setReopenIntervalMs(int ms);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tkb
