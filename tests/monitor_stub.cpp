// Stands in for TKB_Monitor in the window tests: records that it started (its pid and
// working directory in started-<pid>) and runs until it is told to end.
// TKB_STUB_IGNORE_TERM=1 makes it a monitor that hangs (ignores SIGTERM);
// TKB_STUB_EXIT=1 one that ends by itself at once.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
volatile std::sig_atomic_t stopRequested = 0;
void onSignal(int) { stopRequested = 1; }
}  // namespace

int main() {
  const char* ignore = std::getenv("TKB_STUB_IGNORE_TERM");
  std::signal(SIGTERM, ignore && *ignore == '1' ? SIG_IGN : onSignal);
  char cwd[4096] = {};
  if (getcwd(cwd, sizeof cwd) == nullptr) return 1;
  const std::string name = "started-" + std::to_string(getpid());
  if (std::FILE* f = std::fopen(name.c_str(), "w")) {
    std::fprintf(f, "%s\n", cwd);
    std::fclose(f);
  }
  const char* exitAtOnce = std::getenv("TKB_STUB_EXIT");
  if (exitAtOnce && *exitAtOnce == '1') return 0;
  while (!stopRequested) pause();
  return 0;
}
