// The keyboard hook procedure: the pedal controller is also a USB keyboard and types a
// configured key ("letter") when the driver uses a brake function; the program reacts to
// the same keys while it runs, in the foreground or not. Which key each role uses is an
// index into KeyLetterTable, chosen on the PRO and CUSTOM pages and kept in
// ControllerState. The matching is a pure function; the actions reach the pages through
// KeyActions. Runs on the GUI thread, fed by the key source (app/key_source.h).
#pragma once

#include <array>
#include <cstdint>

#include "app/key_event.h"
#include "link/controller.h"

namespace tkb {

enum class KeyRole { Abs, Mas, Menos, Mas2, Menos2, AutoBrake };
inline constexpr int kKeyRoles = 6;
inline constexpr int kKeyLetterIndices = 6;

// One entry of the table: a key, alone (F-keys: no modifier is looked at) or with Ctrl
// and Shift both held (letters). key == kOtherKey: the index has no entry.
struct KeyLetter {
  int key = kOtherKey;
  bool ctrlShift = false;
};

// [role][index], roles in KeyRole order.
extern const std::array<std::array<KeyLetter, kKeyLetterIndices>, kKeyRoles> KeyLetterTable;

// Everything the matching reads besides the event.
struct KeyHookInputs {
  std::array<uint8_t, kKeyRoles> letters{};  // the letter index of each role, KeyRole order
  int autoBrake = 0;     // AutoBrake enabled
  int autoBrake2 = 0;    // the second automatic-brake function is on (key held)
  bool customPageOpen = false;
};

KeyHookInputs keyHookInputs(const ControllerState& state, bool customPageOpen);

enum class KeyAction {
  None,
  Autocal,                // the Autocal branch of the main page's handler
  ProBrakeUpperMinus,     // the PRO page's MAX BRAKE PRESS "-" button
  ProBrakeUpperPlus,      // ... "+" button
  CustomBrakeUpperMinus,  // the CUSTOM page's brake upper-zone "-"
  CustomBrakeUpperPlus,
  CustomBrakeStopMinus,   // the CUSTOM page's brake-stop "-"
  CustomBrakeStopPlus,
  AutoBrake2On,
  AutoBrake2Off,
};

// Roles are tested in the order ABS, Menos, Mas, Menos 2, Mas 2, AutoBreak; the first that
// matches decides, even when its action does not apply on the open page (then None).
// A key-up acts only as the release of a held AutoBreak key.
KeyAction matchKey(const KeyEvent& event, const KeyHookInputs& inputs);

// The page reactions. Implemented by the GUI; each runs the same operation as the widget
// named, on the GUI thread.
class KeyActions {
 public:
  virtual ~KeyActions() = default;
  // False until the pages exist (start-up stopped at the "not detected" box): then every
  // key is only passed on.
  virtual bool pagesBuilt() const = 0;
  virtual bool customPageOpen() const = 0;
  // The Autocal (ABS) button.
  virtual void autocal() = 0;
  // MAX BRAKE PRESS "-" (delta -1) or "+" (+1) of the PRO page.
  virtual void proBrakeUpperStep(int delta) = 0;
  // The brake upper-zone "-" / "+" of the CUSTOM page.
  virtual void customBrakeUpperStep(int delta) = 0;
  // The brake-stop "-" / "+" of the CUSTOM page.
  virtual void customBrakeStopStep(int delta) = 0;
  // The AutoBrake LED of the CUSTOM page (customPage) or the PRO page: 255 full, 100 dim;
  // redrawn only when the brightness changes.
  virtual void setAutoBrakeLed(bool customPage, int brightness) = 0;
};

inline constexpr int kAutoBrakeLedOn = 255;
inline constexpr int kAutoBrakeLedOff = 100;

class KeyHook {
 public:
  KeyHook(Controller& controller, KeyActions& actions) : controller_(controller), actions_(actions) {}

  // One key event, after the listener passed it on (the key is never consumed).
  void keyboardHookProc(const KeyEvent& event);

 private:
  Controller& controller_;
  KeyActions& actions_;
};

}  // namespace tkb
