// Stands in for TKB_Monitor in the window tests: records that it started (its pid and
// working directory in started-<pid>) and runs until it is told to end.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>

namespace {
volatile std::sig_atomic_t stopRequested = 0;
void onSignal(int) { stopRequested = 1; }
}  // namespace

int main() {
  std::signal(SIGTERM, onSignal);
  char cwd[4096] = {};
  if (getcwd(cwd, sizeof cwd) == nullptr) return 1;
  const std::string name = "started-" + std::to_string(getpid());
  if (std::FILE* f = std::fopen(name.c_str(), "w")) {
    std::fprintf(f, "%s\n", cwd);
    std::fclose(f);
  }
  while (!stopRequested) pause();
  return 0;
}
