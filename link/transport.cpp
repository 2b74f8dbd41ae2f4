// The wall clock the termios transport and the benchmarks run on.
#include "link/transport.h"

#include <thread>

namespace tkb {

void SteadyClock::sleepFor(std::chrono::milliseconds duration) {
  std::this_thread::sleep_for(duration);
}

SteadyClock& SteadyClock::instance() {
  static SteadyClock clock;
  return clock;
}

}  // namespace tkb
