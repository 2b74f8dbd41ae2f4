#include "app/x11_key_listener.h"
#include "app/wake_pipe.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xlibint.h>  // the connection's resource base, which recorded data names clients by
#include <X11/Xproto.h>
#include <X11/extensions/record.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <chrono>
#include <thread>
#include <vector>

namespace tkb {
namespace {

enum class Modifier : uint8_t { NoModifier, Ctrl, Shift };

struct KeycodeInfo {
  int key = kOtherKey;
  Modifier modifier = Modifier::NoModifier;
};

// The identity of a keysym of the unshifted level (group 1, level 1).
KeycodeInfo identify(KeySym sym) {
  KeycodeInfo info;
  if (sym >= XK_F1 && sym <= XK_F12) info.key = functionKey(static_cast<int>(sym - XK_F1) + 1);
  else if (sym >= XK_a && sym <= XK_z) info.key = 'A' + static_cast<int>(sym - XK_a);
  else if (sym >= XK_A && sym <= XK_Z) info.key = 'A' + static_cast<int>(sym - XK_A);
  else if (sym == XK_Control_L || sym == XK_Control_R) info.modifier = Modifier::Ctrl;
  else if (sym == XK_Shift_L || sym == XK_Shift_R) info.modifier = Modifier::Shift;
  return info;
}

}  // namespace

namespace {
// How long start() waits for the server to begin recording.
constexpr int kRecordStartWaitMs = 5000;
// A busy X server may refuse a connection for a moment (its queue of connections waiting to
// be taken is short): the connection is tried again for this long.
constexpr int kConnectTriesMs = 3000, kConnectPauseMs = 50;

Display* openDisplay(const char* name) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectTriesMs);
  for (;;) {
    if (Display* display = XOpenDisplay(name)) return display;
    // Without a display name there is nothing to wait for.
    if (name == nullptr && std::getenv("DISPLAY") == nullptr) return nullptr;
    if (std::chrono::steady_clock::now() >= until) return nullptr;
    std::this_thread::sleep_for(std::chrono::milliseconds(kConnectPauseMs));
  }
}
}  // namespace

struct X11KeyListener::Impl {
  // Requests (mapping, context creation and removal) and the mapping-change events. Used
  // by the listener thread while it runs, by the starting and stopping thread otherwise.
  Display* control = nullptr;
  Display* data = nullptr;     // the recorded events arrive here
  XRecordContext context = 0;
  int xkbEventBase = -1;  // the XKB extension's events, when the server has it
  using Keymap = std::array<KeycodeInfo, 256>;
  // The key identities at the moment of the recorded event being handled. The server's
  // notice of a mapping change may come long after the key events that followed the change
  // (a tool binds a spare key code, presses it and unbinds it before this thread wakes), so
  // the mapping is never read "now" for them: each change takes effect at its place in the
  // recorded stream. A client's ChangeKeyboardMapping request carries the new key symbols;
  // any other change (XKB: another layout) is read after its notice, and that reading takes
  // effect where our own GetKeyboardMapping request appears in the stream.
  Keymap keycodes{};
  std::deque<Keymap> readings;  // read, waiting for their request's place in the stream
  XID controlBase = 0;          // the resource base of `control`, as the recorded data names it
  std::array<bool, 256> down{};  // keys held, from the recorded events themselves
  Deliver deliver;
  int wakePipe[2] = {-1, -1};
  std::thread thread;
  bool recording = false;  // the server's first reply (start of data) has come

  bool modifierHeld(Modifier m) const {
    for (int code = 0; code < 256; ++code)
      if (down[code] && keycodes[code].modifier == m) return true;
    return false;
  }

  void onEvent(int type, int keycode) {
    if (keycode < 0 || keycode > 255) return;
    KeyEvent event;
    event.kind = type == KeyPress ? KeyEventKind::Down : KeyEventKind::Up;
    event.key = keycodes[keycode].key;
    event.ctrl = modifierHeld(Modifier::Ctrl);
    event.shift = modifierHeld(Modifier::Shift);
    down[keycode] = type == KeyPress;
    if (deliver) deliver(event);
  }

  // A recorded ChangeKeyboardMapping request: its key symbols from the moment it was made.
  void onMappingChange(const unsigned char* bytes, size_t size) {
    if (size < sz_xChangeKeyboardMappingReq) return;
    const auto* request = reinterpret_cast<const xChangeKeyboardMappingReq*>(bytes);
    const size_t codes = request->keyCodes, perCode = request->keySymsPerKeyCode;
    if (perCode == 0 || sz_xChangeKeyboardMappingReq + codes * perCode * 4 > size) return;
    const auto* syms = reinterpret_cast<const CARD32*>(bytes + sz_xChangeKeyboardMappingReq);
    for (size_t i = 0; i < codes && request->firstKeyCode + i < keycodes.size(); ++i)
      keycodes[request->firstKeyCode + i] = identify(syms[i * perCode]);
  }

  static void record(XPointer closure, XRecordInterceptData* intercepted) {
    auto* self = reinterpret_cast<Impl*>(closure);
    if (intercepted->category == XRecordStartOfData) self->recording = true;
    const auto* bytes = reinterpret_cast<const unsigned char*>(intercepted->data);
    const size_t size = size_t{intercepted->data_len} * 4;
    if (intercepted->category == XRecordFromServer && bytes != nullptr && size >= sizeof(xEvent)) {
      const int type = bytes[0] & 0x7F;
      if (type == KeyPress || type == KeyRelease) self->onEvent(type, bytes[1]);
    }
    if (intercepted->category == XRecordFromClient && bytes != nullptr && size >= 4) {
      if (bytes[0] == X_GetKeyboardMapping && intercepted->id_base == self->controlBase) {
        if (!self->readings.empty()) {
          self->keycodes = self->readings.front();
          self->readings.pop_front();
        }
      } else if (bytes[0] == X_ChangeKeyboardMapping && !intercepted->client_swapped) {
        // A client of the other byte order sends its symbols swapped: its change comes with
        // the reading after the server's notice instead.
        self->onMappingChange(bytes, size);
      }
    }
    XRecordFreeData(intercepted);
  }

  Keymap readKeyboardMapping() {
    Keymap map{};
    int minCode = 0, maxCode = 0;
    XDisplayKeycodes(control, &minCode, &maxCode);
    int perCode = 0;
    KeySym* syms = XGetKeyboardMapping(control, static_cast<KeyCode>(minCode), maxCode - minCode + 1, &perCode);
    if (syms == nullptr) return map;
    for (int code = minCode; code <= maxCode && code < 256; ++code)
      map[code] = identify(perCode > 0 ? syms[(code - minCode) * perCode] : NoSymbol);
    XFree(syms);
    return map;
  }

  // Keys already held when recording starts (Ctrl and Shift matter).
  void loadHeldKeys() {
    char keymap[32] = {};
    XQueryKeymap(control, keymap);
    for (int code = 0; code < 256; ++code) down[code] = (keymap[code / 8] >> (code % 8)) & 1;
  }

  // The server tells every client when the keyboard mapping changes (another layout, or a
  // tool that binds a spare key code for a moment); the key identities follow it.
  void followMappingChanges() {
    bool changed = false;
    while (XPending(control) > 0) {
      XEvent event;
      XNextEvent(control, &event);
      if (event.type == MappingNotify && event.xmapping.request == MappingKeyboard) changed = true;
      if (xkbEventBase >= 0 && event.type == xkbEventBase) changed = true;
    }
    if (changed) readings.push_back(readKeyboardMapping());
  }

  void run() {
    for (;;) {
      // A mapping change that came before a key event is applied before it.
      followMappingChanges();
      XRecordProcessReplies(data);
      pollfd fds[3] = {{ConnectionNumber(data), POLLIN, 0},
                       {ConnectionNumber(control), POLLIN, 0},
                       {wakePipe[0], POLLIN, 0}};
      if (::poll(fds, 3, -1) < 0 && errno != EINTR) return;
      if (fds[2].revents != 0) return;
      if ((fds[0].revents | fds[1].revents) & (POLLERR | POLLHUP)) return;
    }
  }

  void close() {
    if (wakePipe[0] >= 0) ::close(wakePipe[0]);
    if (wakePipe[1] >= 0) ::close(wakePipe[1]);
    wakePipe[0] = wakePipe[1] = -1;
    if (context != 0 && control != nullptr) {
      XRecordDisableContext(control, context);
      XRecordFreeContext(control, context);
      XSync(control, False);
    }
    context = 0;
    if (data != nullptr) XCloseDisplay(data);
    if (control != nullptr) XCloseDisplay(control);
    data = control = nullptr;
  }
};

X11KeyListener::X11KeyListener() : impl_(std::make_unique<Impl>()) {}

X11KeyListener::~X11KeyListener() { stop(); }

bool X11KeyListener::running() const { return impl_->thread.joinable(); }

bool X11KeyListener::start(Deliver deliver, std::string* error) {
  if (running()) return true;
  Impl& s = *impl_;
  auto fail = [&](const char* why) {
    if (error != nullptr) *error = why;
    s.close();
    return false;
  };
  s.control = openDisplay(nullptr);
  if (s.control == nullptr) return fail("no X11 display");
  s.data = openDisplay(DisplayString(s.control));
  if (s.data == nullptr) return fail("no second connection to the X11 display");
  int major = 0, minor = 0;
  if (!XRecordQueryVersion(s.control, &major, &minor)) return fail("the X server has no RECORD extension");
  // A client using XKB (Xlib does when the server has it) hears of mapping changes only
  // when it asks for them.
  int xkbOpcode = 0, xkbError = 0, xkbMajor = XkbMajorVersion, xkbMinor = XkbMinorVersion;
  if (XkbQueryExtension(s.control, &xkbOpcode, &s.xkbEventBase, &xkbError, &xkbMajor, &xkbMinor)) {
    constexpr unsigned long kMask = XkbMapNotifyMask | XkbNewKeyboardNotifyMask;
    XkbSelectEvents(s.control, XkbUseCoreKbd, kMask, kMask);
  } else {
    s.xkbEventBase = -1;
  }
  s.keycodes = s.readKeyboardMapping();  // before recording: in force from its start
  s.readings.clear();
  s.controlBase = s.control->resource_base;
  s.loadHeldKeys();

  XRecordRange* range = XRecordAllocRange();
  if (range == nullptr) return fail("out of memory");
  range->device_events.first = KeyPress;
  range->device_events.last = KeyRelease;
  static_assert(X_GetKeyboardMapping == X_ChangeKeyboardMapping + 1);
  range->core_requests.first = X_ChangeKeyboardMapping;
  range->core_requests.last = X_GetKeyboardMapping;
  XRecordClientSpec clients = XRecordAllClients;
  s.context = XRecordCreateContext(s.control, 0, &clients, 1, &range, 1);
  XFree(range);
  XSync(s.control, False);
  if (s.context == 0) return fail("the RECORD context could not be made");
  if (::pipe2(s.wakePipe, O_CLOEXEC) != 0) return fail("no pipe");
  s.deliver = std::move(deliver);
  if (!XRecordEnableContextAsync(s.data, s.context, &Impl::record, reinterpret_cast<XPointer>(&s)))
    return fail("recording could not be enabled");
  XFlush(s.data);
  // A key typed between the enabling request and the server taking it would never be heard:
  // start() returns once the server says that recording has begun.
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRecordStartWaitMs);
  while (!s.recording && std::chrono::steady_clock::now() < until) {
    XRecordProcessReplies(s.data);
    if (s.recording) break;
    pollfd fd{ConnectionNumber(s.data), POLLIN, 0};
    ::poll(&fd, 1, 50);
  }
  if (!s.recording) return fail("the X server did not start recording");
  s.thread = std::thread([&s] { s.run(); });
  return true;
}

void X11KeyListener::stop() {
  Impl& s = *impl_;
  wakeAndJoin(s.thread, s.wakePipe[1]);
  s.close();
  s.deliver = nullptr;
}

void KeyEventQueue::push(const KeyEvent& event) {
  {
    std::lock_guard lock(mutex_);
    events_.push_back(event);
  }
  ready_.notify_one();
}

std::optional<KeyEvent> KeyEventQueue::tryPop() {
  std::lock_guard lock(mutex_);
  if (events_.empty()) return std::nullopt;
  KeyEvent event = events_.front();
  events_.pop_front();
  return event;
}

std::optional<KeyEvent> KeyEventQueue::waitPop(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  if (!ready_.wait_for(lock, timeout, [this] { return !events_.empty(); })) return std::nullopt;
  KeyEvent event = events_.front();
  events_.pop_front();
  return event;
}

bool x11ServerReachable() {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  XCloseDisplay(display);
  return true;
}

}  // namespace tkb
