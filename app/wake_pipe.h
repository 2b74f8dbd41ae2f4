// The key sources' threads wait in poll() on their device and a wake pipe; stopping one
// writes a byte to the pipe and joins the thread.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <thread>

namespace tkb {

inline void wakeAndJoin(std::thread& thread, int wakeWriteEnd) {
  if (!thread.joinable()) return;
  const char wake = 1;
  while (::write(wakeWriteEnd, &wake, 1) < 0 && errno == EINTR) {
  }
  thread.join();
}

}  // namespace tkb
