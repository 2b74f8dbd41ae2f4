#include "app/key_hook.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/protocol.h"
#include "recording_key_actions.h"
#include "memory_fixture.h"
#include "test_support.h"

namespace tkb {
namespace {

using test::RecordingActions;

using test::MemoryController;
using test::hex;
using test::TraceCapture;

KeyEvent down(int key, bool ctrl = false, bool shift = false) { return {KeyEventKind::Down, key, ctrl, shift}; }
KeyEvent up(int key, bool ctrl = false, bool shift = false) { return {KeyEventKind::Up, key, ctrl, shift}; }

struct RoleActions {
  KeyRole role;
  const char* name;
  KeyAction customClosed;
  KeyAction customOpen;
};

const RoleActions kRoleActions[] = {
    {KeyRole::Abs, "ABS", KeyAction::Autocal, KeyAction::None},
    {KeyRole::Mas, "Mas", KeyAction::ProBrakeUpperPlus, KeyAction::CustomBrakeUpperPlus},
    {KeyRole::Menos, "Menos", KeyAction::ProBrakeUpperMinus, KeyAction::CustomBrakeUpperMinus},
    {KeyRole::Mas2, "Mas 2", KeyAction::None, KeyAction::CustomBrakeStopPlus},
    {KeyRole::Menos2, "Menos 2", KeyAction::None, KeyAction::CustomBrakeStopMinus},
    {KeyRole::AutoBrake, "AutoBreak", KeyAction::AutoBrake2On, KeyAction::AutoBrake2On},
};

// The keys the controller types, written out independently of the table in the code.
const char* const kExpectedKeys[kKeyRoles][kKeyLetterIndices] = {
    {"F11", "F12", "^Y", "^H", "^U", ""},
    {"F2", "F4", "^A", "^S", "^D", "^F"},
    {"F1", "F3", "^Z", "^X", "^C", "^V"},
    {"F6", "F8", "F10", "^Q", "^W", "^E"},
    {"F5", "F7", "F9", "^B", "^N", "^M"},
    {"^K", "^L", "^P", "", "", ""},
};

KeyLetter parse(const std::string& text) {
  if (text.empty()) return {};
  if (text[0] == '^') return {text[1], true};
  return {functionKey(std::stoi(text.substr(1))), false};
}

KeyHookInputs inputsFor(KeyRole role, int index, bool customOpen) {
  KeyHookInputs in;
  in.letters.fill(0);
  in.letters[static_cast<int>(role)] = static_cast<uint8_t>(index);
  in.autoBrake = 1;
  in.customPageOpen = customOpen;
  return in;
}

TEST(KeyLetterTable, HoldsTheKeysTheControllerTypes) {
  for (int role = 0; role < kKeyRoles; ++role) {
    for (int index = 0; index < kKeyLetterIndices; ++index) {
      const KeyLetter expected = parse(kExpectedKeys[role][index]);
      EXPECT_EQ(KeyLetterTable[role][index].key, expected.key) << role << "/" << index;
      EXPECT_EQ(KeyLetterTable[role][index].ctrlShift, expected.ctrlShift) << role << "/" << index;
    }
  }
}

// Every entry of the table, key down and key up, with and without the CUSTOM page.
TEST(MatchKey, EveryTableEntryActsOnlyWithItsIndexAndModifiers) {
  for (const RoleActions& r : kRoleActions) {
    for (int index = 0; index < kKeyLetterIndices; ++index) {
      const KeyLetter letter = KeyLetterTable[static_cast<int>(r.role)][index];
      if (letter.key == kOtherKey) continue;
      const std::string where = std::string(r.name) + " index " + std::to_string(index);
      for (bool customOpen : {false, true}) {
        const KeyHookInputs in = inputsFor(r.role, index, customOpen);
        const KeyAction expected = customOpen ? r.customOpen : r.customClosed;
        EXPECT_EQ(matchKey(down(letter.key, true, true), in), expected) << where;
        // Ctrl+Shift are needed for letters and not looked at for F-keys.
        const KeyAction plain = letter.ctrlShift ? KeyAction::None : expected;
        EXPECT_EQ(matchKey(down(letter.key), in), plain) << where << " alone";
        EXPECT_EQ(matchKey(down(letter.key, true, false), in), plain) << where << " with Ctrl";
        EXPECT_EQ(matchKey(down(letter.key, false, true), in), plain) << where << " with Shift";
        // A key-up is never a press.
        EXPECT_EQ(matchKey(up(letter.key, true, true), in), KeyAction::None) << where << " up";
        // The same key under another index of the role does nothing.
        for (int other = 0; other < kKeyLetterIndices; ++other) {
          if (other == index) continue;
          const KeyHookInputs otherIn = inputsFor(r.role, other, customOpen);
          EXPECT_EQ(matchKey(down(letter.key, true, true), otherIn), KeyAction::None)
              << where << " under index " << other;
        }
      }
    }
  }
}

TEST(MatchKey, EdgeCases) {
  KeyHookInputs in;
  in.letters.fill(0);
  in.autoBrake = 1;
  EXPECT_EQ(matchKey(down(functionKey(12)), in), KeyAction::None) << "F12 with letterAbs 0";
  EXPECT_EQ(matchKey(down(functionKey(11)), in), KeyAction::Autocal);
  in.letters[static_cast<int>(KeyRole::Abs)] = 2;
  EXPECT_EQ(matchKey(down('Y', true, true), in), KeyAction::Autocal);
  EXPECT_EQ(matchKey(down('Y'), in), KeyAction::None) << "Y alone";
  EXPECT_EQ(matchKey(down('Y', true, false), in), KeyAction::None) << "Ctrl+Y";
  EXPECT_EQ(matchKey(down(kOtherKey, true, true), in), KeyAction::None);
  // Indices the table does not have (a controller may report anything).
  in.letters.fill(200);
  for (int key = 0; key < 0x80; ++key) EXPECT_EQ(matchKey(down(key, true, true), in), KeyAction::None) << key;
  in.letters.fill(5);  // ABS 5 and AutoBreak 5 have no entry
  EXPECT_EQ(matchKey(down(kOtherKey, true, true), in), KeyAction::None);
}

TEST(MatchKey, AutoBreakIsAHoldFunction) {
  const struct {
    const char* what;
    int autoBrake, autoBrake2;
    KeyEvent event;
    KeyAction expected;
  } cases[] = {
      {"press", 1, 0, down('K', true, true), KeyAction::AutoBrake2On},
      {"repeat while held", 1, 1, down('K', true, true), KeyAction::None},
      {"AutoBrake disabled", 0, 0, down('K', true, true), KeyAction::None},
      {"release", 1, 1, up('K', true, true), KeyAction::AutoBrake2Off},
      {"release without a press", 1, 0, up('K', true, true), KeyAction::None},
      {"release with AutoBrake disabled", 0, 1, up('K', true, true), KeyAction::None},
      {"release after Ctrl and Shift", 1, 1, up('K'), KeyAction::AutoBrake2Off},
      {"release of another letter", 1, 1, up('L', true, true), KeyAction::None},
      {"press without Ctrl", 1, 0, down('K', false, true), KeyAction::None},
  };
  for (const auto& c : cases) {
    KeyHookInputs in;
    in.autoBrake = c.autoBrake;
    in.autoBrake2 = c.autoBrake2;
    EXPECT_EQ(matchKey(c.event, in), c.expected) << c.what;
  }
}

// The hook over a connected controller with AutoBreak enabled.
class KeyHookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(link.connect());
    link.controller.state.autoBrake = 1;
  }
  MemoryController link;
  RecordingActions actions;
  KeyHook hook{link.controller, actions};
  TraceCapture traces;
};

TEST_F(KeyHookTest, HeldAutoBreakKeySendsOneOnAndOneOff) {
  hook.keyboardHookProc(down(kOtherKey));              // Ctrl
  hook.keyboardHookProc(down(kOtherKey, true));        // Shift
  for (int i = 0; i < 4; ++i) hook.keyboardHookProc(down('K', true, true));  // press and repeats
  hook.keyboardHookProc(up('K', true, true));
  hook.keyboardHookProc(up(kOtherKey, true, true));

  const std::vector<emu::Bytes> expected = {encodeValueFrame(value::kAutoBrake2, 1),
                                            encodeValueFrame(value::kAutoBrake2, 0)};
  EXPECT_EQ(link.frames(), expected) << hex(link.frames());
  EXPECT_EQ(actions.calls, (std::vector<std::string>{"pro led 255", "pro led 100"}));
  EXPECT_EQ(link.controller.state.autoBrake2, 0);
  const std::string text = traces.text();
  EXPECT_NE(text.find("\nCTRL + SHIFT + 6b - 4b\nPULSADO\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nCTRL + SHIFT + 6b - 4b\nLEVANTADO\n"), std::string::npos) << text;
  size_t downs = 0;
  for (size_t at = text.find("\nPULSADO ALGO\n"); at != std::string::npos; at = text.find("\nPULSADO ALGO\n", at + 1))
    ++downs;
  EXPECT_EQ(downs, 6u);
}

TEST_F(KeyHookTest, DispatchesToThePageThatIsOpen) {
  link.controller.state.letterAutoBrake = 1;  // L
  hook.keyboardHookProc(down(functionKey(11)));
  hook.keyboardHookProc(down(functionKey(1)));
  hook.keyboardHookProc(down(functionKey(2)));
  hook.keyboardHookProc(down(functionKey(6)));  // Mas 2 does nothing on the PRO page
  actions.customOpen = true;
  hook.keyboardHookProc(down(functionKey(11)));  // ABS does nothing on the CUSTOM page
  hook.keyboardHookProc(down(functionKey(1)));
  hook.keyboardHookProc(down(functionKey(2)));
  hook.keyboardHookProc(down(functionKey(5)));
  hook.keyboardHookProc(down(functionKey(6)));
  hook.keyboardHookProc(down('L', true, true));
  hook.keyboardHookProc(up('L', true, true));
  EXPECT_EQ(actions.calls, (std::vector<std::string>{"autocal", "pro brake upper -1", "pro brake upper 1",
                                                     "custom brake upper -1", "custom brake upper 1",
                                                     "custom brake stop -1", "custom brake stop 1",
                                                     "custom led 255", "custom led 100"}));
  EXPECT_EQ(link.frames().size(), 2u);
  EXPECT_EQ(traces.text().find("CTRL + "), std::string::npos) << "the key lines are written for K only";
}

TEST_F(KeyHookTest, PassesEverythingOnUntilThePagesExist) {
  actions.built = false;
  hook.keyboardHookProc(down(functionKey(11)));
  hook.keyboardHookProc(down('K', true, true));
  EXPECT_TRUE(actions.calls.empty());
  EXPECT_EQ(traces.text(), "");
  EXPECT_TRUE(link.frames().empty());
}

}  // namespace
}  // namespace tkb
