#include "cli/launch.h"

#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/control_channel.h"
#include "cli/local_host.h"

extern char** environ;

namespace tkb::cli {
namespace {

// A command in the program waits for the controller's replies (one time-out at most per
// query), a profile file or the doctor's look around: generous, yet never for ever.
constexpr int kProgramReplyWaitMs = 120'000;
// As a shell reports a command it could not find or not start.
constexpr int kExitCommandNotFound = 127;
constexpr int kExitCommandNotRun = 126;
constexpr int kExitSignalBase = 128;

struct Launch {
  std::vector<std::string> passes;  // "--passes N", or nothing
  std::string profile;
  std::vector<std::string> command;
};

struct StepResult {
  int status = kExitNoController;
  std::string out;
};

// One tkb-cli command done by the running program, or by tkb-cli itself when nobody listens
// (its local host, and with it the port, is gone when this returns). The step's messages go
// to standard error; its output is returned.
StepResult step(const Launch& launch, std::vector<std::string> args, const std::string& folder) {
  args.insert(args.begin(), launch.passes.begin(), launch.passes.end());
  if (const auto reply = askTheProgram(args, folder)) {
    std::fwrite(reply->err.data(), 1, reply->err.size(), stderr);
    return {reply->status, reply->out};
  }
  char* data = nullptr;
  size_t size = 0;
  std::FILE* out = ::open_memstream(&data, &size);
  if (out == nullptr) return {};
  StepResult result;
  {
    LocalHost local;
    result.status = runCommand(args, local, folder, {out, stderr});
  }
  std::fclose(out);
  result.out.assign(data, size);
  std::free(data);
  return result;
}

std::optional<Launch> parseLaunch(std::vector<std::string> args) {
  Launch launch;
  if (commandIndex(args) == 2) {
    launch.passes = {args[0], args[1]};
    if (int passes = 0; !parsePasses(args[1], passes)) return std::nullopt;
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.size() < 5 || args[0] != "run" || args[1] != "--profile" || args[3] != "--") return std::nullopt;
  launch.profile = args[2];
  launch.command.assign(args.begin() + 4, args.end());
  if (launch.profile.empty() || launch.command[0].empty()) return std::nullopt;
  return launch;
}

// SIGTERM and SIGHUP go on to the command (a launcher stopping the game stops it, not the
// wrapper); SIGINT and SIGQUIT from the terminal reach the command by themselves.
std::atomic<pid_t> gChild{0};
void forwardSignal(int signal) {
  const pid_t child = gChild;
  if (child > 0) ::kill(child, signal);
}

// Runs the command as a shell would and waits for it: its exit status, 128 + the signal that
// ended it, 127 when it was not found.
int runChild(const std::vector<std::string>& command) {
  sigset_t forwarded, previousMask;
  sigemptyset(&forwarded);
  sigaddset(&forwarded, SIGTERM);
  sigaddset(&forwarded, SIGHUP);
  // Held until the child's pid is known, so that none is lost in between.
  sigprocmask(SIG_BLOCK, &forwarded, &previousMask);

  sigset_t defaults;
  sigemptyset(&defaults);
  struct sigaction ignore {}, forward {}, previous {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  forward.sa_handler = forwardSignal;
  forward.sa_flags = SA_RESTART;
  sigemptyset(&forward.sa_mask);
  for (int signal : {SIGINT, SIGQUIT, SIGTERM, SIGHUP}) {
    sigaction(signal, nullptr, &previous);
    // A signal the caller ignores (nohup, a background job) stays ignored for the command too.
    if (previous.sa_handler == SIG_IGN) continue;
    sigaction(signal, signal == SIGINT || signal == SIGQUIT ? &ignore : &forward, nullptr);
    sigaddset(&defaults, signal);
  }

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &previousMask);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  std::vector<char*> argv;
  for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int failure = ::posix_spawnp(&pid, argv[0], nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (failure == 0) gChild = pid;
  sigprocmask(SIG_SETMASK, &previousMask, nullptr);
  if (failure != 0) {
    std::fprintf(stderr, "tkb-cli run: %s: %s\n", command[0].c_str(),
                 failure == ENOENT ? "command not found" : std::strerror(failure));
    return failure == ENOENT ? kExitCommandNotFound : kExitCommandNotRun;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  gChild = 0;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return kExitSignalBase + WTERMSIG(status);
  return kExitCommandNotRun;
}

}  // namespace

std::optional<control::Reply> askTheProgram(const std::vector<std::string>& args, const std::string& folder) {
  const auto answer = control::call(control::CommandRequest{args, folder}, kProgramReplyWaitMs);
  using Outcome = control::CallResult::Outcome;
  if (answer.outcome == Outcome::Nobody) return std::nullopt;
  if (answer.outcome == Outcome::Busy) {
    // It holds the pedals' port: tkb-cli must not open it itself.
    std::fprintf(stderr, "tkb-cli: TKB-Tunedeck runs but took no command within %d s: try again\n",
                 control::kConnectWaitMs / 1000);
    control::Reply busy;
    busy.status = kExitNoController;
    return busy;
  }
  if (answer.outcome == Outcome::NoReply) {
    std::fprintf(stderr, "tkb-cli: TKB-Tunedeck took the command but did not answer\n");
    control::Reply silence;
    silence.status = kExitNoController;
    return silence;
  }
  return answer.reply;
}

bool isRunCommand(const std::vector<std::string>& args) {
  const size_t at = commandIndex(args);
  return args.size() > at && args[at] == "run";
}

int runLaunch(const std::vector<std::string>& args, const std::string& workingDirectory) {
  const auto launch = parseLaunch(args);
  if (!launch) {
    std::fprintf(stderr, "usage: tkb-cli [--passes N] run --profile FILE.tkb|FILE.tks -- COMMAND [ARGS...]\n");
    return kExitUsage;
  }
  if (!profileLoadable(launch->profile, workingDirectory, {stdout, stderr})) return kExitUsage;

  // A launch option must never keep the game from starting: whatever fails on the pedals'
  // side is said on standard error and the command runs all the same.
  const StepResult taken = step(*launch, {"profile", "snapshot"}, workingDirectory);
  std::string snapshot = taken.out;
  while (!snapshot.empty() && (snapshot.back() == '\n' || snapshot.back() == '\r')) snapshot.pop_back();
  const bool kept = taken.status == 0 && !snapshot.empty();
  if (!kept) {
    // Without the profile in force kept aside, nothing is loaded: it could not be put back.
    std::fprintf(stderr, "\ntkb-cli run: the profile in force could not be kept: '%s' is NOT loaded\n",
                 launch->profile.c_str());
  } else if (step(*launch, {"profile", "load", launch->profile}, workingDirectory).status != 0) {
    std::fprintf(stderr, "\ntkb-cli run: '%s' could not be loaded: it is NOT in force\n", launch->profile.c_str());
  }
  std::fflush(stderr);

  const int status = runChild(launch->command);

  if (kept && step(*launch, {"profile", "restore", snapshot}, workingDirectory).status != 0)
    std::fprintf(stderr, "\ntkb-cli run: the profile in force before could NOT be put back\n");
  std::fflush(stderr);
  return status;
}

}  // namespace tkb::cli
