#include "app/key_hook.h"

#include "app/operations.h"
#include "link/trace.h"

namespace tkb {
namespace {

constexpr KeyLetter F(int n) { return {functionKey(n), false}; }
constexpr KeyLetter CS(char letter) { return {letter, true}; }
constexpr KeyLetter kNone{};

constexpr int index(KeyRole role) { return static_cast<int>(role); }

bool matches(const KeyLetter& letter, const KeyEvent& event) {
  if (letter.key == kOtherKey || letter.key != event.key) return false;
  return !letter.ctrlShift || (event.ctrl && event.shift);
}

bool roleMatches(KeyRole role, const KeyEvent& event, const KeyHookInputs& inputs) {
  const uint8_t chosen = inputs.letters[index(role)];
  if (chosen >= kKeyLetterIndices) return false;
  return matches(KeyLetterTable[index(role)][chosen], event);
}

constexpr int kAutoBrakeLetterK = 'K';

}  // namespace

const std::array<std::array<KeyLetter, kKeyLetterIndices>, kKeyRoles> KeyLetterTable = {{
    /* ABS    */ {F(11), F(12), CS('Y'), CS('H'), CS('U'), kNone},
    /* Mas    */ {F(2), F(4), CS('A'), CS('S'), CS('D'), CS('F')},
    /* Menos  */ {F(1), F(3), CS('Z'), CS('X'), CS('C'), CS('V')},
    /* Mas 2  */ {F(6), F(8), F(10), CS('Q'), CS('W'), CS('E')},
    /* Menos 2*/ {F(5), F(7), F(9), CS('B'), CS('N'), CS('M')},
    /* AutoBreak */ {CS('K'), CS('L'), CS('P'), kNone, kNone, kNone},
}};

KeyHookInputs keyHookInputs(const ControllerState& s, bool customPageOpen) {
  KeyHookInputs inputs;
  inputs.letters = {s.letterAbs, s.letterMas, s.letterMenos, s.letterMas2, s.letterMenos2, s.letterAutoBrake};
  inputs.autoBrake = s.autoBrake;
  inputs.autoBrake2 = s.autoBrake2;
  inputs.customPageOpen = customPageOpen;
  return inputs;
}

KeyAction matchKey(const KeyEvent& event, const KeyHookInputs& in) {
  const bool custom = in.customPageOpen;
  if (event.kind == KeyEventKind::Up) {
    // The release of a held AutoBreak key ends the function. Only the letter key counts:
    // when Ctrl or Shift is let go first (a keyboard releases all keys of a chord in no
    // set order), the function must still end instead of staying on.
    const uint8_t chosen = in.letters[index(KeyRole::AutoBrake)];
    if (chosen < kKeyLetterIndices) {
      const KeyLetter& letter = KeyLetterTable[index(KeyRole::AutoBrake)][chosen];
      if (letter.key != kOtherKey && letter.key == event.key && in.autoBrake2 != 0 && in.autoBrake == 1)
        return KeyAction::AutoBrake2Off;
    }
    return KeyAction::None;
  }
  if (roleMatches(KeyRole::Abs, event, in)) return custom ? KeyAction::None : KeyAction::Autocal;
  if (roleMatches(KeyRole::Menos, event, in))
    return custom ? KeyAction::CustomBrakeUpperMinus : KeyAction::ProBrakeUpperMinus;
  if (roleMatches(KeyRole::Mas, event, in))
    return custom ? KeyAction::CustomBrakeUpperPlus : KeyAction::ProBrakeUpperPlus;
  if (roleMatches(KeyRole::Menos2, event, in)) return custom ? KeyAction::CustomBrakeStopMinus : KeyAction::None;
  if (roleMatches(KeyRole::Mas2, event, in)) return custom ? KeyAction::CustomBrakeStopPlus : KeyAction::None;
  // Key repeats of a held AutoBreak key arrive as further key-downs: they do nothing
  // while the function is already on.
  if (roleMatches(KeyRole::AutoBrake, event, in) && in.autoBrake2 == 0 && in.autoBrake == 1)
    return KeyAction::AutoBrake2On;
  return KeyAction::None;
}

void KeyHook::keyboardHookProc(const KeyEvent& event) {
  if (!actions_.pagesBuilt()) return;
  const bool custom = actions_.customPageOpen();
  if (event.kind == KeyEventKind::Down) trace("\nPULSADO ALGO\n");
  const KeyAction action = matchKey(event, keyHookInputs(controller_.state, custom));
  auto traceAutoBrakeKey = [&](const char* what) {
    if (event.key != kAutoBrakeLetterK) return;
    trace("\n");
    trace("CTRL + ");
    trace("SHIFT + ");
    trace("%x - ", 0x6b);
    trace("%x\n", event.key);
    trace("%s", what);
  };
  switch (action) {
    case KeyAction::None: break;
    case KeyAction::Autocal: actions_.autocal(); break;
    case KeyAction::ProBrakeUpperMinus: actions_.proBrakeUpperStep(-1); break;
    case KeyAction::ProBrakeUpperPlus: actions_.proBrakeUpperStep(+1); break;
    case KeyAction::CustomBrakeUpperMinus: actions_.customBrakeUpperStep(-1); break;
    case KeyAction::CustomBrakeUpperPlus: actions_.customBrakeUpperStep(+1); break;
    case KeyAction::CustomBrakeStopMinus: actions_.customBrakeStopStep(-1); break;
    case KeyAction::CustomBrakeStopPlus: actions_.customBrakeStopStep(+1); break;
    case KeyAction::AutoBrake2On:
      actions_.setAutoBrakeLed(custom, kAutoBrakeLedOn);
      Operations(controller_).testAutoBrake(true);  // sets autoBrake2
      traceAutoBrakeKey("PULSADO\n");
      break;
    case KeyAction::AutoBrake2Off:
      actions_.setAutoBrakeLed(custom, kAutoBrakeLedOff);
      Operations(controller_).testAutoBrake(false);
      traceAutoBrakeKey("LEVANTADO\n");
      break;
  }
}

}  // namespace tkb
