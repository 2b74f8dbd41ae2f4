// The evdev key source over a fake sysfs tree whose event nodes are FIFOs the test writes
// struct input_event records to: which node it reads, the key identities with Ctrl and
// Shift of that device, key repeats, lost events, unplug and replug; and the choice
// between evdev and X11 (the window's key tests show the installed hook using it).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/evdev_key_source.h"
#include "app/key_source.h"
#include "app/x11_key_listener.h"
#include "fake_event_nodes.h"
#include "test_support.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace tkb {
namespace {

using Kind = KeyEventKind;
using test::inputRecord;

const std::string kJoystickButtons = test::keyBitmap({BTN_TRIGGER, BTN_THUMB});

class EvdevKeys : public testing::Test {
 protected:
  void TearDown() override { source_.reset(); }

  DeviceRoots roots() const { return {nodes_.sysfs(), nodes_.dev()}; }
  std::string nodePath(const std::string& node) const { return nodes_.nodePath(node); }

  void start() {
    source_ = std::make_unique<EvdevKeySource>(roots());
    source_->setReopenIntervalMs(20);
    std::string why;
    ASSERT_TRUE(source_->start([this](const KeyEvent& e) { queue_.push(e); }, &why)) << why;
  }

  // The next `count` events (each waited for generously), then checks that no more come.
  std::vector<KeyEvent> events(size_t count) {
    std::vector<KeyEvent> out;
    while (out.size() < count) {
      const std::optional<KeyEvent> e = queue_.waitPop(10s);
      if (!e) break;
      out.push_back(*e);
    }
    EXPECT_FALSE(queue_.waitPop(100ms).has_value()) << "an event too many";
    return out;
  }

  test::TempDir dir_;
  test::FakeEventNodes nodes_{dir_.path()};
  KeyEventQueue queue_;
  std::unique_ptr<EvdevKeySource> source_;
};

KeyEvent down(int key, bool ctrl = false, bool shift = false) { return {Kind::Down, key, ctrl, shift}; }
KeyEvent up(int key, bool ctrl = false, bool shift = false) { return {Kind::Up, key, ctrl, shift}; }

TEST_F(EvdevKeys, FunctionKeysAndACtrlShiftLetterHeldWithRepeats) {
  nodes_.plug("event4");
  start();
  EXPECT_EQ(source_->nodePath(), nodePath("event4"));
  nodes_.sendKeys("event4", {{KEY_F11, 1}, {KEY_F11, 0}, {KEY_F1, 1}, {KEY_F1, 0}});
  EXPECT_EQ(events(4), (std::vector<KeyEvent>{down(0x7A), up(0x7A), down(0x70), up(0x70)}));

  // Ctrl and Shift count only from their own events; a repeat is one more key-down.
  nodes_.sendKeys("event4", {{KEY_LEFTCTRL, 1}, {KEY_LEFTSHIFT, 1}, {KEY_K, 1}, {KEY_K, 2},
                             {KEY_K, 2}, {KEY_K, 0}, {KEY_LEFTSHIFT, 0}, {KEY_LEFTCTRL, 0},
                             {KEY_K, 1}, {KEY_K, 0}});
  EXPECT_EQ(events(10), (std::vector<KeyEvent>{
                            down(kOtherKey), down(kOtherKey, true), down('K', true, true),
                            down('K', true, true), down('K', true, true), up('K', true, true),
                            up(kOtherKey, true, true), up(kOtherKey, true), down('K'), up('K')}));
}

TEST_F(EvdevKeys, RecordsCutByTheReadAndLostEvents) {
  nodes_.plug("event2");
  start();
  // A record split over two writes arrives once, whole.
  const input_event f12 = inputRecord(EV_KEY, KEY_F12, 1);
  const auto* bytes = reinterpret_cast<const uint8_t*>(&f12);
  ASSERT_EQ(::write(nodes_.writer("event2"), bytes, 10), 10);
  std::this_thread::sleep_for(50ms);
  ASSERT_EQ(::write(nodes_.writer("event2"), bytes + 10, sizeof f12 - 10), ssize_t(sizeof f12 - 10));
  EXPECT_EQ(events(1), std::vector<KeyEvent>{down(0x7B)});

  // After SYN_DROPPED everything up to the next report is incomplete and is not acted on.
  nodes_.sendRecords("event2", {inputRecord(EV_SYN, SYN_DROPPED, 0), inputRecord(EV_KEY, KEY_A, 1),
                                inputRecord(EV_KEY, KEY_A, 0), inputRecord(EV_SYN, SYN_REPORT, 0),
                                inputRecord(EV_KEY, KEY_Z, 1), inputRecord(EV_SYN, SYN_REPORT, 0)});
  EXPECT_EQ(events(1), std::vector<KeyEvent>{down('Z')});
}

// Another keyboard and the pedals' own joystick node (same ids, buttons only) are not
// read: neither their keys nor their Ctrl and Shift reach the hook.
TEST_F(EvdevKeys, HearsOnlyThePedalsKeyboard) {
  nodes_.plug("event1", "046d", "c31c");  // the driver's keyboard
  nodes_.plug("event3", "16d0", "0f53", kJoystickButtons);
  nodes_.plug("event12");
  start();
  EXPECT_EQ(source_->nodePath(), nodePath("event12"));
  nodes_.sendKeys("event1", {{KEY_LEFTCTRL, 1}, {KEY_LEFTSHIFT, 1}, {KEY_F11, 1}});
  nodes_.sendKeys("event3", {{BTN_TRIGGER, 1}, {KEY_F11, 1}});
  nodes_.sendKeys("event12", {{KEY_K, 1}});
  EXPECT_EQ(events(1), std::vector<KeyEvent>{down('K')});
}

// Unplugged while Ctrl+Shift+K is held: the keys are released (an AutoBreak function must
// not stay on); plugged in again under another number, the keys come through again.
TEST_F(EvdevKeys, UnplugReleasesHeldKeysAndReplugIsFound) {
  nodes_.plug("event5");
  start();
  nodes_.sendKeys("event5", {{KEY_LEFTCTRL, 1}, {KEY_LEFTSHIFT, 1}, {KEY_K, 1}});
  EXPECT_EQ(events(3).size(), 3u);
  nodes_.unplug("event5");
  EXPECT_EQ(events(3), (std::vector<KeyEvent>{up('K', true, true), up(kOtherKey, true, true),
                                              up(kOtherKey, false, true)}));
  EXPECT_EQ(source_->nodePath(), "");

  nodes_.plug("event9");
  for (int waited = 0; waited < 10000 && source_->nodePath().empty(); waited += 10)
    std::this_thread::sleep_for(10ms);
  EXPECT_EQ(source_->nodePath(), nodePath("event9"));
  nodes_.sendKeys("event9", {{KEY_F11, 1}, {KEY_F11, 0}});
  EXPECT_EQ(events(2), (std::vector<KeyEvent>{down(0x7A), up(0x7A)}));
}

// Without an X server: evdev when the node can be read, otherwise no source and the reason.
TEST_F(EvdevKeys, ChoiceOfKeySource) {
  const char* display = std::getenv("DISPLAY");
  const std::string savedDisplay = display != nullptr ? display : "";
  ::unsetenv("DISPLAY");
  KeySourceChoice choice = chooseKeySource(roots());
  EXPECT_EQ(choice.kind, KeySourceKind::None);
  EXPECT_EQ(describeKeySource(choice), "none (the pedal set's keyboard event node is not there)");

  nodes_.plug("event7");
  choice = chooseKeySource(roots());
  EXPECT_EQ(choice.kind, KeySourceKind::Evdev);
  EXPECT_EQ(describeKeySource(choice), "evdev " + nodePath("event7"));

  // The node is there but this user may not read it: the reason names the rule. Run as an
  // unprivileged user in a child so that it also holds under root.
  fs::permissions(dir_.path(), fs::perms::others_exec, fs::perm_options::add);
  ::chmod(nodePath("event7").c_str(), 0200);
  EXPECT_EXIT(
      {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) std::_Exit(3);
        const KeySourceChoice c = chooseKeySource(roots());
        std::_Exit(c.kind == KeySourceKind::None &&
                           c.evdevProblem.find(udevAccessHint()) != std::string::npos
                       ? 0
                       : 1);
      },
      testing::ExitedWithCode(0), "");
  if (!savedDisplay.empty()) ::setenv("DISPLAY", savedDisplay.c_str(), 1);
}

}  // namespace
}  // namespace tkb
