// End to end on a real X server (the tests run under xvfb-run): xdotool types keys, the
// RECORD listener hands them over, the hook procedure acts on them, and the focused
// window of an ordinary X client still receives every key.
#include "app/x11_key_listener.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/key_hook.h"
#include "link/protocol.h"
#include "recording_key_actions.h"
#include "memory_fixture.h"
#include "test_support.h"

// Last: Xlib's macros (None, Bool, Status) would clash with the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace tkb {
namespace {

using test::RecordingActions;

using namespace std::chrono_literals;
using test::MemoryController;
using test::hex;

void requireDisplay() {
  const char* display = std::getenv("DISPLAY");
  ASSERT_TRUE(display != nullptr && *display != '\0')
      << "DISPLAY is not set: these tests need an X server; run them under xvfb-run (scripts/test does)";
}

void xdotool(const std::string& arguments) {
  const std::string command = "xdotool " + arguments;
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// Xvfb resets when its last client leaves and refuses connections for that moment.
Display* openDisplay() {
  for (int tries = 0; tries < 60; ++tries) {
    if (Display* display = XOpenDisplay(nullptr)) return display;
    std::this_thread::sleep_for(50ms);
  }
  return nullptr;
}

// An ordinary X client: a mapped window that has the input focus and selects key events.
class FocusedWindow {
 public:
  FocusedWindow() {
    display_ = openDisplay();
    if (display_ == nullptr) return;
    window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 10, 10, 200, 100, 0, 0, 0);
    XSelectInput(display_, window_, KeyPressMask | KeyReleaseMask | StructureNotifyMask);
    XMapWindow(display_, window_);
    XEvent event;
    do XNextEvent(display_, &event);
    while (event.type != MapNotify);
    XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
    XSync(display_, False);
  }
  ~FocusedWindow() {
    if (display_ != nullptr) XCloseDisplay(display_);
  }
  bool ok() const { return display_ != nullptr; }
  Window window() const { return window_; }

  // The keysyms of the key presses the window received within the time given.
  std::vector<KeySym> pressedKeys(std::chrono::milliseconds wait) {
    std::vector<KeySym> keys;
    const auto end = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < end) {
      while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == KeyPress) keys.push_back(XLookupKeysym(&event.xkey, 0));
      }
      ::usleep(10000);
    }
    return keys;
  }

 private:
  Display* display_ = nullptr;
  Window window_ = 0;
};

TEST(X11KeyListener, DeliversTheControllersKeysAndConsumesNone) {
  ASSERT_NO_FATAL_FAILURE(requireDisplay());
  FocusedWindow window;
  ASSERT_TRUE(window.ok());
  xdotool("windowfocus --sync " + std::to_string(window.window()));

  KeyEventQueue queue;
  X11KeyListener listener;
  std::string why;
  ASSERT_TRUE(listener.start([&](const KeyEvent& e) { queue.push(e); }, &why)) << why;

  xdotool("key F11");
  // Held long enough for the server's key repeat, then released as a keyboard does,
  // the modifiers first.
  xdotool("keydown ctrl+shift+k sleep 1.5 keyup ctrl+shift+k");

  std::vector<KeyEvent> events;
  bool released = false;
  while (!released) {
    const auto event = queue.waitPop(10s);
    ASSERT_TRUE(event.has_value()) << "no release of K within 10 s; events so far: " << events.size();
    events.push_back(*event);
    released = event->kind == KeyEventKind::Up && event->key == 'K';
  }
  listener.stop();
  EXPECT_FALSE(listener.running());

  // What the listener saw: F11 down and up, then Ctrl, Shift, K held with Ctrl+Shift.
  ASSERT_GE(events.size(), 4u);
  EXPECT_EQ(events[0], (KeyEvent{KeyEventKind::Down, functionKey(11), false, false}));
  EXPECT_EQ(events[1], (KeyEvent{KeyEventKind::Up, functionKey(11), false, false}));
  int heldDowns = 0;
  for (const KeyEvent& e : events)
    if (e.kind == KeyEventKind::Down && e.key == 'K' && e.ctrl && e.shift) ++heldDowns;
  EXPECT_GE(heldDowns, 2) << "the held key should have repeated";

  // The hook procedure acts on them exactly once each.
  MemoryController link;
  ASSERT_TRUE(link.connect());
  link.controller.state.autoBrake = 1;
  RecordingActions actions;
  KeyHook hook(link.controller, actions);
  for (const KeyEvent& e : events) hook.keyboardHookProc(e);
  EXPECT_EQ(actions.calls, (std::vector<std::string>{"autocal", "pro led 255", "pro led 100"}));
  const std::vector<emu::Bytes> expected = {encodeValueFrame(value::kAutoBrake2, 1),
                                            encodeValueFrame(value::kAutoBrake2, 0)};
  EXPECT_EQ(link.frames(), expected) << hex(link.frames());

  // The keys still reached the focused client.
  const std::vector<KeySym> received = window.pressedKeys(500ms);
  int f11 = 0, k = 0;
  for (KeySym sym : received) {
    f11 += sym == XK_F11;
    k += sym == XK_k;
  }
  EXPECT_EQ(f11, 1);
  EXPECT_GE(k, 1);
}

// The first key press the listener delivers within 3 s.
std::optional<KeyEvent> firstPress(KeyEventQueue& queue) {
  while (const auto event = queue.waitPop(3s))
    if (event->kind == KeyEventKind::Down) return event;
  return std::nullopt;
}

// A key the keymap does not have, typed the way xdotool types one: a spare key code bound to
// it for the moment of the press and unbound again, all before the listener's thread can look
// at the mapping. The listener must know the key by the mapping of the moment it was pressed.
TEST(X11KeyListener, FollowsKeyboardMappingChanges) {
  ASSERT_NO_FATAL_FAILURE(requireDisplay());
  Display* display = openDisplay();
  ASSERT_NE(display, nullptr);
  int minCode = 0, maxCode = 0, perCode = 0;
  XDisplayKeycodes(display, &minCode, &maxCode);
  KeySym* map = XGetKeyboardMapping(display, static_cast<KeyCode>(minCode), maxCode - minCode + 1, &perCode);
  ASSERT_NE(map, nullptr);
  const KeyCode f11 = XKeysymToKeycode(display, XK_F11);
  KeyCode spare = 0;
  for (int code = maxCode; code >= minCode && spare == 0; --code) {
    const KeySym* syms = map + (code - minCode) * perCode;
    if (std::all_of(syms, syms + perCode, [](KeySym s) { return s == NoSymbol; })) spare = static_cast<KeyCode>(code);
  }
  ASSERT_NE(f11, 0);
  ASSERT_NE(spare, 0) << "no spare key code";
  const std::vector<KeySym> saved(map + (f11 - minCode) * perCode, map + (f11 - minCode + 1) * perCode);
  XFree(map);

  KeyEventQueue queue;
  X11KeyListener listener;
  ASSERT_TRUE(listener.start([&](const KeyEvent& e) { queue.push(e); }));

  std::vector<KeySym> nothing(static_cast<size_t>(perCode), NoSymbol), onlyF11 = nothing;
  onlyF11[0] = XK_F11;
  XChangeKeyboardMapping(display, f11, perCode, nothing.data(), 1);
  XChangeKeyboardMapping(display, spare, perCode, onlyF11.data(), 1);
  XTestFakeKeyEvent(display, spare, True, CurrentTime);
  XTestFakeKeyEvent(display, spare, False, CurrentTime);
  XChangeKeyboardMapping(display, spare, perCode, nothing.data(), 1);
  XSync(display, False);

  const std::optional<KeyEvent> first = firstPress(queue);
  listener.stop();
  XChangeKeyboardMapping(display, f11, perCode, const_cast<KeySym*>(saved.data()), 1);  // as it was
  XSync(display, False);
  XCloseDisplay(display);

  ASSERT_TRUE(first.has_value()) << "no key press recorded";
  EXPECT_EQ(first->key, functionKey(11));
}

// A layout switch is an XKB change, not a client's ChangeKeyboardMapping: the listener reads
// the new mapping after the server's notice, and it holds from then on (on a German keyboard
// the key left of U types Z).
TEST(X11KeyListener, FollowsALayoutSwitch) {
  ASSERT_NO_FATAL_FAILURE(requireDisplay());
  Display* display = openDisplay();
  ASSERT_NE(display, nullptr);
  const KeyCode y = XKeysymToKeycode(display, XK_y);
  ASSERT_NE(y, 0);
  KeyEventQueue queue;
  X11KeyListener listener;
  ASSERT_TRUE(listener.start([&](const KeyEvent& e) { queue.push(e); }));
  const int switched = std::system("setxkbmap -layout de");
  std::this_thread::sleep_for(1s);  // a driver's next key comes long after the switch
  XTestFakeKeyEvent(display, y, True, CurrentTime);
  XTestFakeKeyEvent(display, y, False, CurrentTime);
  XSync(display, False);
  const std::optional<KeyEvent> first = firstPress(queue);
  listener.stop();
  const int restored = std::system("setxkbmap -layout us");
  XCloseDisplay(display);
  ASSERT_EQ(switched, 0);
  EXPECT_EQ(restored, 0);
  ASSERT_TRUE(first.has_value()) << "no key press recorded";
  EXPECT_EQ(first->key, 'Z');
}

// Restores an environment variable at the end of the scope.
class EnvironmentVariable {
 public:
  explicit EnvironmentVariable(const char* name) : name_(name) {
    if (const char* value = std::getenv(name)) saved_ = value;
  }
  ~EnvironmentVariable() {
    if (saved_) ::setenv(name_, saved_->c_str(), 1);
    else ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

// The X11 listener serves only when the pedals' keyboard event node cannot be read: these
// tests look for it in a tree that has none, whatever is plugged into this machine.
class NoPedalKeyboard {
 public:
  NoPedalKeyboard() { ::setenv("TKB_SYSFS_ROOT", "/nonexistent/tkb-sysfs", 1); }

 private:
  EnvironmentVariable saved_{"TKB_SYSFS_ROOT"};
};

class MessageBoxSpy : public HookMessageBox {
 public:
  void showError(const std::string& text, const std::string& title) override {
    shown.push_back(title + ": " + text);
  }
  std::vector<std::string> shown;
};

TEST(KeyboardHook, IsInstalledOncePerProcessAndRemoved) {
  ASSERT_NO_FATAL_FAILURE(requireDisplay());
  NoPedalKeyboard noPedals;
  MessageBoxSpy box;
  KeyEventQueue first;
  std::atomic<int> secondDeliveries{0};
  ASSERT_TRUE(installKeyboardHook([&](const KeyEvent& e) { first.push(e); }, box));
  EXPECT_TRUE(keyboardHookInstalled());
  // A second start-up pass keeps the first hook.
  EXPECT_TRUE(installKeyboardHook([&](const KeyEvent&) { ++secondDeliveries; }, box));
  xdotool("key F2");
  const auto event = first.waitPop(10s);
  ASSERT_TRUE(event.has_value());
  EXPECT_EQ(event->key, functionKey(2));
  ASSERT_TRUE(first.waitPop(10s).has_value());  // its release
  EXPECT_EQ(secondDeliveries.load(), 0);
  removeKeyboardHook();
  EXPECT_FALSE(keyboardHookInstalled());
  removeKeyboardHook();  // nothing left to remove
  EXPECT_TRUE(box.shown.empty());
}

TEST(KeyboardHook, WithoutADisplayShowsTheMessageAndRunsOn) {
  EnvironmentVariable display("DISPLAY");
  ::unsetenv("DISPLAY");
  NoPedalKeyboard noPedals;
  MessageBoxSpy box;
  EXPECT_FALSE(installKeyboardHook([](const KeyEvent&) {}, box));
  EXPECT_EQ(box.shown, std::vector<std::string>{"Error: Failed to install hook!"});
  EXPECT_FALSE(keyboardHookInstalled());
  removeKeyboardHook();
}

// An X server of the test's own without the RECORD extension.
TEST(KeyboardHook, WithoutRecordShowsTheMessage) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t server = ::fork();
  ASSERT_GE(server, 0);
  if (server == 0) {
    ::close(fds[0]);
    const std::string fd = std::to_string(fds[1]);
    ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-extension", "RECORD", "-nolisten", "tcp",
             "-screen", "0", "320x200x24", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  std::string number;
  char c;
  while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  ::close(fds[0]);
  ASSERT_FALSE(number.empty()) << "Xvfb did not start";

  EnvironmentVariable display("DISPLAY");
  ::setenv("DISPLAY", (":" + number).c_str(), 1);
  NoPedalKeyboard noPedals;
  MessageBoxSpy box;
  X11KeyListener listener;
  std::string why;
  EXPECT_FALSE(listener.start([](const KeyEvent&) {}, &why));
  EXPECT_NE(why.find("RECORD"), std::string::npos) << why;
  EXPECT_FALSE(installKeyboardHook([](const KeyEvent&) {}, box));
  EXPECT_EQ(box.shown, std::vector<std::string>{"Error: Failed to install hook!"});

  ::kill(server, SIGTERM);
  int status = 0;
  ::waitpid(server, &status, 0);
}

}  // namespace
}  // namespace tkb
