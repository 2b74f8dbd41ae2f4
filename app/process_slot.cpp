#include "app/process_slot.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "link/trace.h"

extern char** environ;

namespace tkb {

namespace {

std::string absolutePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) == nullptr) return path;
  std::string p = path;
  if (p.rfind("./", 0) == 0) p.erase(0, 2);
  return std::string(cwd) + "/" + p;
}

// Waits up to ms for the child to end; true when it was reaped.
bool reapWithin(pid_t pid, int ms) {
  for (int waited = 0;; waited += 10) {
    int status = 0;
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid || (r < 0 && errno == ECHILD)) return true;
    if (waited >= ms) return false;
    timespec pause{0, 10'000'000};
    nanosleep(&pause, nullptr);
  }
}

}  // namespace

bool ProcessSlot::start(const std::string& program, const std::string& workingDirectory) {
  pid_ = -1;
  // The child changes its directory before the program is looked up, so both paths are
  // made absolute from ours first.
  const std::string path = absolutePath(program);
  const std::string dir = absolutePath(workingDirectory);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  // Nothing of ours (the serial port, the logs) is handed to the monitor.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);

  std::vector<char> arg0(program.begin(), program.end());
  arg0.push_back('\0');
  char* argv[] = {arg0.data(), nullptr};
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    trace("\nNo se pudo iniciar %s: %s", program.c_str(), std::strerror(rc));
    return false;
  }
  pid_ = pid;
  return true;
}

void ProcessSlot::stop() {
  if (empty()) return;
  if (!reapWithin(pid_, 0)) {
    kill(pid_, SIGTERM);
    if (!reapWithin(pid_, kStopGraceMs)) {
      kill(pid_, SIGKILL);
      reapWithin(pid_, INT_MAX);
    }
  }
  pid_ = -1;
}

}  // namespace tkb
