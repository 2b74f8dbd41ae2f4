// The system-wide key listener on X11: a thread that records every key press and release
// of the X server through the RECORD extension. Recording never consumes an event, so the
// focused application (a game) still gets every key. Each event is handed over as a
// KeyEvent; the GUI marshals it to its own thread (a queued call) where the hook procedure
// runs. No Qt here.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/key_event.h"
#include "app/key_source.h"

namespace tkb {

class X11KeyListener {
 public:
  // Called on the listener thread, once per key event, in the order of the server.
  using Deliver = KeyDeliver;

  X11KeyListener();
  ~X11KeyListener();  // stops
  X11KeyListener(const X11KeyListener&) = delete;
  X11KeyListener& operator=(const X11KeyListener&) = delete;

  // Connects to the display named by DISPLAY, checks for RECORD and starts the thread.
  // False, with the reason in error, when there is no display or no RECORD.
  bool start(Deliver deliver, std::string* error = nullptr);
  // Ends recording and joins the thread; the connections are closed.
  void stop();
  bool running() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A thread-safe hand-over of key events, for a consumer that polls (tests, a GUI timer).
class KeyEventQueue {
 public:
  void push(const KeyEvent& event);
  std::optional<KeyEvent> tryPop();
  // Waits at most timeout for an event.
  std::optional<KeyEvent> waitPop(std::chrono::milliseconds timeout);

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<KeyEvent> events_;
};

}  // namespace tkb
