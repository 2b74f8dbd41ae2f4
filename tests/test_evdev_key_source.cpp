// The evdev key source over a fake sysfs tree whose event nodes are FIFOs the test writes
// struct input_event records to: which node it reads, the key identities with Ctrl and
// Shift of that device, key repeats, lost events, unplug and replug; and the choice
// between evdev and X11.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/evdev_key_source.h"
#include "app/key_source.h"
#include "app/x11_key_listener.h"
#include "test_support.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace tkb {
namespace {

using Kind = KeyEventKind;

// A capabilities/key bitmap as sysfs prints it: hexadecimal 64-bit words, highest first.
std::string keyBitmap(std::initializer_list<int> codes) {
  std::vector<unsigned long long> words(KEY_CNT / 64, 0);
  for (int code : codes) words[code / 64] |= 1ULL << (code % 64);
  std::string text;
  for (auto it = words.rbegin(); it != words.rend(); ++it) {
    char word[20];
    std::snprintf(word, sizeof word, "%llx", *it);
    text += (text.empty() ? "" : " ") + std::string(word);
  }
  return text + "\n";
}

const std::string kKeyboardKeys =
    keyBitmap({KEY_LEFTCTRL, KEY_LEFTSHIFT, KEY_RIGHTCTRL, KEY_A, KEY_K, KEY_Z, KEY_F1, KEY_F11, KEY_F12});
const std::string kJoystickButtons = keyBitmap({BTN_TRIGGER, BTN_THUMB});

class EvdevKeys : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_.path() / "sys/class/input");
    fs::create_directories(dir_.path() / "dev/input");
  }
  void TearDown() override {
    source_.reset();
    for (auto& [node, fd] : writers_) ::close(fd);
  }

  DeviceRoots roots() const { return {(dir_.path() / "sys").string(), (dir_.path() / "dev").string()}; }
  std::string nodePath(const std::string& node) const { return (dir_.path() / "dev/input" / node).string(); }

  // An event node in sysfs with the given ids and keys, and a FIFO as its device node,
  // kept open for writing by the test (a closed writer reads as an unplugged device).
  void plug(const std::string& node, const char* vendor = "16d0", const char* product = "0f53",
            const std::string& keys = kKeyboardKeys) {
    const fs::path device = dir_.path() / "sys/class/input" / node / "device";
    fs::create_directories(device / "id");
    fs::create_directories(device / "capabilities");
    std::ofstream(device / "id/vendor") << vendor << "\n";
    std::ofstream(device / "id/product") << product << "\n";
    std::ofstream(device / "capabilities/key") << keys;
    ASSERT_EQ(::mkfifo(nodePath(node).c_str(), 0644), 0);
    const int fd = ::open(nodePath(node).c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    writers_.emplace_back(node, fd);
  }

  void unplug(const std::string& node) {
    for (auto it = writers_.begin(); it != writers_.end(); ++it) {
      if (it->first != node) continue;
      ::close(it->second);
      writers_.erase(it);
      break;
    }
    fs::remove_all(dir_.path() / "sys/class/input" / node);
    fs::remove(nodePath(node));
  }

  // Records as the kernel writes them; each key event is followed by a report.
  void send(const std::string& node, std::vector<std::pair<int, int>> keys, bool reports = true) {
    std::vector<input_event> records;
    for (auto [code, value] : keys) {
      records.push_back(record(EV_KEY, code, value));
      if (reports) records.push_back(record(EV_SYN, SYN_REPORT, 0));
    }
    sendRecords(node, records);
  }
  void sendRecords(const std::string& node, const std::vector<input_event>& records) {
    for (auto& [name, fd] : writers_) {
      if (name != node) continue;
      const size_t bytes = records.size() * sizeof(input_event);
      ASSERT_EQ(::write(fd, records.data(), bytes), ssize_t(bytes));
    }
  }
  static input_event record(int type, int code, int value) {
    input_event e{};
    e.type = static_cast<uint16_t>(type);
    e.code = static_cast<uint16_t>(code);
    e.value = value;
    return e;
  }

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
  std::vector<std::pair<std::string, int>> writers_;
  KeyEventQueue queue_;
  std::unique_ptr<EvdevKeySource> source_;
};

KeyEvent down(int key, bool ctrl = false, bool shift = false) { return {Kind::Down, key, ctrl, shift}; }
KeyEvent up(int key, bool ctrl = false, bool shift = false) { return {Kind::Up, key, ctrl, shift}; }

TEST_F(EvdevKeys, FunctionKeysAndACtrlShiftLetterHeldWithRepeats) {
  plug("event4");
  start();
  EXPECT_EQ(source_->nodePath(), nodePath("event4"));
  send("event4", {{KEY_F11, 1}, {KEY_F11, 0}, {KEY_F1, 1}, {KEY_F1, 0}});
  EXPECT_EQ(events(4), (std::vector<KeyEvent>{down(0x7A), up(0x7A), down(0x70), up(0x70)}));

  // Ctrl and Shift count only from their own events; a repeat is one more key-down.
  send("event4", {{KEY_LEFTCTRL, 1}, {KEY_LEFTSHIFT, 1}, {KEY_K, 1}, {KEY_K, 2}, {KEY_K, 2},
                  {KEY_K, 0}, {KEY_LEFTSHIFT, 0}, {KEY_LEFTCTRL, 0}, {KEY_K, 1}, {KEY_K, 0}});
  EXPECT_EQ(events(10), (std::vector<KeyEvent>{
                            down(kOtherKey), down(kOtherKey, true), down('K', true, true),
                            down('K', true, true), down('K', true, true), up('K', true, true),
                            up(kOtherKey, true, true), up(kOtherKey, true), down('K'), up('K')}));
}

TEST_F(EvdevKeys, RecordsCutByTheReadAndLostEvents) {
  plug("event2");
  start();
  // A record split over two writes arrives once, whole.
  const input_event f12 = record(EV_KEY, KEY_F12, 1);
  const auto* bytes = reinterpret_cast<const uint8_t*>(&f12);
  ASSERT_EQ(::write(writers_[0].second, bytes, 10), 10);
  std::this_thread::sleep_for(50ms);
  ASSERT_EQ(::write(writers_[0].second, bytes + 10, sizeof f12 - 10), ssize_t(sizeof f12 - 10));
  EXPECT_EQ(events(1), std::vector<KeyEvent>{down(0x7B)});

  // After SYN_DROPPED everything up to the next report is incomplete and is not acted on.
  sendRecords("event2", {record(EV_SYN, SYN_DROPPED, 0), record(EV_KEY, KEY_A, 1),
                         record(EV_KEY, KEY_A, 0), record(EV_SYN, SYN_REPORT, 0),
                         record(EV_KEY, KEY_Z, 1), record(EV_SYN, SYN_REPORT, 0)});
  EXPECT_EQ(events(1), std::vector<KeyEvent>{down('Z')});
}

// Another keyboard and the pedals' own joystick node (same ids, buttons only) are not
// read: neither their keys nor their Ctrl and Shift reach the hook.
TEST_F(EvdevKeys, HearsOnlyThePedalsKeyboard) {
  plug("event1", "046d", "c31c");   // the driver's keyboard
  plug("event3", "16d0", "0f53", kJoystickButtons);
  plug("event12");
  start();
  EXPECT_EQ(source_->nodePath(), nodePath("event12"));
  send("event1", {{KEY_LEFTCTRL, 1}, {KEY_LEFTSHIFT, 1}, {KEY_F11, 1}});
  send("event3", {{BTN_TRIGGER, 1}, {KEY_F11, 1}});
  send("event12", {{KEY_K, 1}});
  EXPECT_EQ(events(1), std::vector<KeyEvent>{down('K')});
}

// Unplugged while Ctrl+Shift+K is held: the keys are released (an AutoBreak function must
// not stay on); plugged in again under another number, the keys come through again.
TEST_F(EvdevKeys, UnplugReleasesHeldKeysAndReplugIsFound) {
  plug("event5");
  start();
  send("event5", {{KEY_LEFTCTRL, 1}, {KEY_LEFTSHIFT, 1}, {KEY_K, 1}});
  EXPECT_EQ(events(3).size(), 3u);
  unplug("event5");
  EXPECT_EQ(events(3), (std::vector<KeyEvent>{up('K', true, true), up(kOtherKey, true, true),
                                              up(kOtherKey, false, true)}));
  EXPECT_EQ(source_->nodePath(), "");

  plug("event9");
  for (int waited = 0; waited < 10000 && source_->nodePath().empty(); waited += 10)
    std::this_thread::sleep_for(10ms);
  EXPECT_EQ(source_->nodePath(), nodePath("event9"));
  send("event9", {{KEY_F11, 1}, {KEY_F11, 0}});
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

  plug("event7");
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
                           c.evdevProblem.find(kUdevRuleInstallCommand) != std::string::npos
                       ? 0
                       : 1);
      },
      testing::ExitedWithCode(0), "");
  if (!savedDisplay.empty()) ::setenv("DISPLAY", savedDisplay.c_str(), 1);
}

// The process's hook takes the evdev source when it can, says so, and never also the X one.
TEST_F(EvdevKeys, HookUsesTheEvdevSourceAndSaysSo) {
  plug("event6");
  ::setenv("TKB_SYSFS_ROOT", roots().sysfs.c_str(), 1);
  ::setenv("TKB_DEV_ROOT", roots().dev.c_str(), 1);
  class NoBox : public HookMessageBox {
    void showError(const std::string&, const std::string&) override { ADD_FAILURE(); }
  } box;
  test::TraceCapture trace;
  ASSERT_TRUE(installKeyboardHook([this](const KeyEvent& e) { queue_.push(e); }, box));
  EXPECT_EQ(installedKeySource(), KeySourceKind::Evdev);
  EXPECT_NE(trace.text().find("\nKey source -> evdev " + nodePath("event6") + "\n"), std::string::npos);
  send("event6", {{KEY_F11, 1}});
  EXPECT_EQ(events(1), std::vector<KeyEvent>{down(0x7A)});
  removeKeyboardHook();
  EXPECT_EQ(installedKeySource(), KeySourceKind::None);
  ::unsetenv("TKB_SYSFS_ROOT");
  ::unsetenv("TKB_DEV_ROOT");
}

}  // namespace
}  // namespace tkb
