// One key event as the keyboard hook sees it: down or up, the key's identity and whether
// Ctrl and Shift were held at that moment. Shared by the key sources (evdev, X11), which
// produce the events, and the hook procedure, which acts on them.
#pragma once

#include <functional>

namespace tkb {

enum class KeyEventKind { Down, Up };

// Key identities: F1..F12 are 0x70..0x7B (their Windows virtual-key codes, which the
// controller's key table was made with); a letter is its unshifted upper-case character
// 'A'..'Z'; every other key is kOtherKey.
inline constexpr int kKeyF1 = 0x70;
inline constexpr int kOtherKey = 0;
constexpr int functionKey(int n) { return kKeyF1 + n - 1; }  // n = 1..12

struct KeyEvent {
  KeyEventKind kind = KeyEventKind::Down;
  int key = kOtherKey;
  bool ctrl = false;
  bool shift = false;
  friend bool operator==(const KeyEvent&, const KeyEvent&) = default;
};

// How a key source hands over its events: on its own thread, once per event, in order.
using KeyDeliver = std::function<void(const KeyEvent&)>;

}  // namespace tkb
