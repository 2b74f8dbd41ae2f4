// Which key source serves the keyboard hook, and the process's one installed source. The
// pedal set's own keyboard event node (evdev) when it can be opened; only when it cannot
// and an X server is there, the X11 RECORD listener; never both, or each key would act
// twice. tkb-cli doctor reports the same choice.
#pragma once

#include <string>

#include "app/key_event.h"
#include "link/pedal_input.h"

namespace tkb {

enum class KeySourceKind { None, Evdev, X11Record };

struct KeySourceChoice {
  KeySourceKind kind = KeySourceKind::None;
  std::string evdevNode;    // the pedals' keyboard event node when there is one
  std::string evdevProblem;  // why that node is not used (not there, no permission + fix)
};

// "evdev", "X11 RECORD", "none".
const char* keySourceName(KeySourceKind kind);
// Whether an X server answers on $DISPLAY.
bool x11ServerReachable();
// The choice as it stands now: opens the evdev node for a moment to see that it can be
// read, and connects to the X server only when that node cannot be used.
KeySourceChoice chooseKeySource(const DeviceRoots& roots = DeviceRoots::fromEnvironment());
// One line for the trace and the doctor: "evdev /dev/input/event7",
// "X11 RECORD (the pedal set's keyboard event node is not there)", "none (...)".
std::string describeKeySource(const KeySourceChoice& choice);

// The modal error message box of the GUI (error icon).
class HookMessageBox {
 public:
  virtual ~HookMessageBox() = default;
  virtual void showError(const std::string& text, const std::string& title) = 0;
};

inline constexpr const char* kHookFailedText = "Failed to install hook!";
inline constexpr const char* kHookFailedTitle = "Error";

// The process's one keyboard hook. Installs it unless one is installed already (a second
// start-up pass keeps the first), from the source chooseKeySource picks, and traces which
// one it is; when there is none, shows "Failed to install hook!" / "Error" and returns
// false, and the program runs on without key reactions.
bool installKeyboardHook(KeyDeliver deliver, HookMessageBox& box);
// The shut-down step; nothing when none is installed.
void removeKeyboardHook();
bool keyboardHookInstalled();
// The source of the installed hook (None when there is none).
KeySourceKind installedKeySource();

}  // namespace tkb
