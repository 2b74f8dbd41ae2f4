#include "app/pedal_commands.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>

#include "app/pedal_check.h"
#include "app/pedal_record.h"
#include "link/pedal_input.h"

namespace tkb::cli {
namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
// The longest single wait: the stop signals and the deadlines are looked at this often at least.
constexpr int kLongestWaitMs = 250;
// A wait longer than this waited for the reports it returns: they came as it ended.
constexpr int64_t kRecordWaitedUs = 1000;

int64_t nowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::atomic<bool> gStop{false};
void onStopSignal(int) { gStop = true; }

// Ctrl-C, SIGTERM and SIGHUP end the command in good order. They stay blocked except during
// the wait for reports (waitMask), so that one arriving between the look at the flag and the
// wait still ends the wait. A signal the caller ignores (nohup) stays ignored.
class StopSignals {
 public:
  StopSignals() {
    gStop = false;
    sigset_t stops;
    sigemptyset(&stops);
    for (int s : kStopSignals) sigaddset(&stops, s);
    sigprocmask(SIG_BLOCK, &stops, &savedMask_);
    waitMask_ = savedMask_;
    struct sigaction stop {};
    stop.sa_handler = onStopSignal;
    sigemptyset(&stop.sa_mask);
    for (int i = 0; i < 3; ++i) {
      sigaction(kStopSignals[i], nullptr, &saved_[i]);
      if (saved_[i].sa_handler == SIG_IGN) continue;
      sigaction(kStopSignals[i], &stop, nullptr);
      sigdelset(&waitMask_, kStopSignals[i]);
    }
  }
  ~StopSignals() {
    // A signal still pending reaches our handler first, and only then are the old ones back.
    sigprocmask(SIG_SETMASK, &savedMask_, nullptr);
    for (int i = 0; i < 3; ++i) sigaction(kStopSignals[i], &saved_[i], nullptr);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  const sigset_t* waitMask() const { return &waitMask_; }
  // Also a signal still pending: a wait that finds reports there returns them without
  // letting the signal in.
  bool stopped() const {
    if (gStop) return true;
    sigset_t pending;
    if (sigpending(&pending) != 0) return false;
    for (int s : kStopSignals)
      if (sigismember(&pending, s) == 1 && sigismember(&waitMask_, s) == 0) return true;
    return false;
  }

 private:
  sigset_t savedMask_{};
  sigset_t waitMask_{};
  struct sigaction saved_[3] {};
};

std::string inFolder(const std::string& path, const std::string& folder) {
  if (path.empty() || path[0] == '/' || folder.empty()) return path;
  return folder + "/" + path;
}

// The pedals' joystick node, opened; nullptr after saying why not on io.err.
std::unique_ptr<HidrawPedalInput> openPedals(const char* command, const Io& io) {
  auto pedals = std::make_unique<HidrawPedalInput>();
  ControllerState unused;
  if (pedals->findJoystick(unused)) return pedals;
  if (!pedals->permissionProblem().empty()) {
    commandMessage(io, "tkb-cli %s: %s", command, pedals->permissionProblem().c_str());
  } else {
    commandMessage(io, "tkb-cli %s: no pedals found (no joystick with the ids %04X:%04X)", command, kPedalVendorId,
                   kPedalProductId);
  }
  return nullptr;
}

// ---- record ------------------------------------------------------------------------------

int record(const std::vector<std::string>& args, const std::string& folder, const Io& io) {
  std::string file;
  int seconds = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--seconds" && i + 1 < args.size()) {
      char* end = nullptr;
      const long n = std::strtol(args[++i].c_str(), &end, 10);
      if (end == args[i].c_str() || *end != '\0' || n < 1 || n > kRecordMaxSeconds) {
        commandMessage(io, "tkb-cli record: --seconds takes a whole number from 1 to %d", kRecordMaxSeconds);
        return kExitUsage;
      }
      seconds = static_cast<int>(n);
    } else if (file.empty() && !args[i].empty() && args[i][0] != '-') {
      file = args[i];
    } else {
      file.clear();
      break;
    }
  }
  if (file.empty()) {
    commandMessage(io, "usage: tkb-cli record FILE.csv [--seconds N]");
    return kExitUsage;
  }
  const auto pedals = openPedals("record", io);
  if (!pedals) return kExitNoController;
  PedalRecordWriter writer;
  std::string error;
  if (!writer.open(inFolder(file, folder), error)) {
    commandMessage(io, "tkb-cli record: cannot write '%s': %s", file.c_str(), error.c_str());
    return kExitUsage;
  }

  const StopSignals signals;
  const bool terminal = ::isatty(::fileno(io.err)) != 0;
  const int64_t start = nowUs();
  const int64_t deadline = seconds > 0 ? start + int64_t{seconds} * 1'000'000 : INT64_MAX;
  int64_t nextProgress = start + kRecordProgressMs * 1000;
  bool lost = false, refused = false;
  long fullReads = 0;
  auto progress = [&](int64_t now, const char* end) {
    std::fprintf(io.err, "%srecording %s: %.0f s, %ld reports%s", terminal ? "\r" : "", file.c_str(),
                 static_cast<double>(now - start) / 1e6, writer.rows(), end);
    std::fflush(io.err);
  };
  std::fputc('\n', io.err);  // the trace line of the search ends without one
  std::vector<PedalAxes> batch;
  batch.reserve(256);
  int64_t previousRead = start;
  while (!signals.stopped() && !refused) {
    const int64_t now = nowUs();
    if (now >= deadline) break;
    if (now >= nextProgress) {
      progress(now, terminal ? "" : "\n");
      nextProgress += kRecordProgressMs * 1000;
    }
    const int64_t wait = std::min({deadline - now, nextProgress - now, int64_t{kLongestWaitMs} * 1000});
    batch.clear();
    const auto got = pedals->waitForReports(
        static_cast<int>((wait + 999) / 1000), [&batch](const PedalAxes& axes) { batch.push_back(axes); },
        signals.waitMask());
    const int64_t readAt = nowUs();
    // Reports that were there when the wait began came in since the previous read: spread
    // them over that time; a wait that had to wait ended when they came.
    const int64_t from = readAt - now > kRecordWaitedUs ? readAt : previousRead;
    const auto count = static_cast<int64_t>(batch.size());
    if (count >= kHidrawQueueReports - 1) ++fullReads;
    for (int64_t i = 0; i < count && !refused; ++i) {
      const int64_t at = from + (readAt - from) * (i + 1) / count;
      if (!writer.add(at - start, batch[static_cast<std::size_t>(i)])) refused = true;
    }
    previousRead = readAt;
    if (got == HidrawPedalInput::Wait::Lost) {
      lost = true;
      break;
    }
    // One read per interval at most: what comes meanwhile waits in the node.
    if (count > 0) {
      const int64_t until = readAt + int64_t{kRecordReadIntervalMs} * 1000;
      const timespec wake{static_cast<time_t>(until / 1'000'000), static_cast<long>(until % 1'000'000) * 1000};
      ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr);
    }
  }
  const int64_t end = nowUs();
  if (terminal) progress(end, "");
  if (refused || !writer.finish(error)) {
    if (refused) error = "the disk refused a row";
    writer.abandon();
    commandMessage(io, "tkb-cli record: '%s' could not be written: %s", file.c_str(), error.c_str());
    return kExitUsage;
  }
  if (fullReads > 0)
    commandMessage(io, "tkb-cli record: %ld read%s found the pedals' queue full: reports may be missing there",
                   fullReads, fullReads > 1 ? "s" : "");
  if (lost) {
    commandMessage(io, "tkb-cli record: the pedals were unplugged after %.1f s: %ld reports kept in '%s'",
                   static_cast<double>(end - start) / 1e6, writer.rows(), file.c_str());
    return kExitNoController;
  }
  commandMessage(io, "recorded %ld reports in %.1f s into '%s'", writer.rows(), static_cast<double>(end - start) / 1e6,
                 file.c_str());
  return 0;
}

// ---- pedal-check ---------------------------------------------------------------------------

const char* const kPedalNames[kPedalCount] = {"clutch", "brake", "throttle"};

void say(const Io& io, const std::string& text) {
  std::fprintf(io.out, "%s\n", text.c_str());
  std::fflush(io.out);
}

void printRest(const PedalCheckResult& r, const Io& io) {
  std::fprintf(io.out, "reports: %.1f per second, jitter %.2f ms, longest gap %.1f ms\n", r.timing.perSecond,
               r.timing.jitterMs, r.timing.longestGapMs);
  for (int p = 0; p < kPedalCount; ++p) {
    const RestBand& band = r.pedals[p].rest;
    std::fprintf(io.out, "%s rests between %.1f and %.1f %% (spread %.1f)\n", kPedalNames[p], band.min, band.max,
                 band.spread());
  }
}

int pedalCheck(const std::vector<std::string>& args, Host& host, int passes, const std::string& folder,
               const Io& io) {
  const bool apply = args.size() == 1 && args[0] == "--apply";
  if (!args.empty() && !apply) {
    commandMessage(io, "usage: tkb-cli [--passes N] pedal-check [--apply]");
    return kExitUsage;
  }
  const auto pedals = openPedals("pedal-check", io);
  if (!pedals) return kExitNoController;

  const StopSignals signals;
  say(io, "Keep your feet off the pedals for 5 s...");
  PedalCheck check(nowUs());
  PedalCheck::Phase shown = PedalCheck::Phase::Rest;
  std::array<bool, kPedalCount> told{};
  while (check.phase() != PedalCheck::Phase::Done) {
    if (signals.stopped()) {
      commandMessage(io, "tkb-cli pedal-check: interrupted; nothing sent");
      return kExitCancelled;
    }
    const int64_t wait = std::clamp<int64_t>(check.phaseEndsUs() - nowUs(), 0, int64_t{kLongestWaitMs} * 1000);
    const auto got = pedals->waitForReports(
        static_cast<int>((wait + 999) / 1000), [&](const PedalAxes& axes) { check.add(nowUs(), axes); },
        signals.waitMask());
    if (got == HidrawPedalInput::Wait::Lost) {
      commandMessage(io, "tkb-cli pedal-check: the pedals were unplugged; nothing sent");
      return kExitNoController;
    }
    check.advance(nowUs());
    if (!check.heardReports() && check.phase() == PedalCheck::Phase::Done) break;
    if (shown == PedalCheck::Phase::Rest && check.phase() != PedalCheck::Phase::Rest) {
      shown = check.phase();
      printRest(check.result(), io);
      say(io, "press each pedal fully, once");
    }
    const PedalCheckResult so = check.result();
    for (int p = 0; p < kPedalCount; ++p) {
      if (told[p] || !so.pedals[p].letGo) continue;
      told[p] = true;
      std::fprintf(io.out, "%s reaches %.1f %%%s\n", kPedalNames[p], so.pedals[p].top,
                   p == pedalIndex(Pedal::Brake) ? " of its force" : "");
      std::fflush(io.out);
    }
  }
  if (!check.heardReports()) {
    commandMessage(io, "tkb-cli pedal-check: the pedals sent no report in 5 s; nothing to measure");
    return kExitNoController;
  }
  const PedalCheckResult result = check.result();
  say(io, "Suggested dead zones:");
  for (const std::string& reason : result.reasons()) say(io, "  " + reason);
  const auto zones = result.zones();
  if (zones.empty()) {
    say(io, "Nothing to send.");
    return 0;
  }
  std::vector<std::string> set = {"set"};
  for (const auto& [field, value] : zones) {
    set.push_back(findSetting(field)->name);
    set.push_back(std::to_string(value));
  }
  std::string line = "tkb-cli";
  for (const std::string& word : set) line += " " + word;
  if (!apply) {
    say(io, "To send them: " + line);
    return 0;
  }
  say(io, "Sending: " + line);
  set.insert(set.begin(), {"--passes", std::to_string(passes)});
  const int status = host.runCommandLine(set, folder, io);
  if (status == 0)
    say(io, "Sent. The pedals use them from now on; APPLY SETTINGS on the PRO page stores them in the pedals.");
  return status;
}

}  // namespace

bool isPedalCommand(const std::string& word) { return word == "record" || word == "pedal-check"; }

int runPedalCommand(const std::string& command, const std::vector<std::string>& args, Host& host, int passes,
                    const std::string& folder, const Io& io) {
  if (!host.mayReadThePedals()) {
    commandMessage(io, "tkb-cli %s: reads the pedals itself and is not run by TKB-Tunedeck; run tkb-cli %s in a "
                       "terminal", command.c_str(), command.c_str());
    return kExitNoController;
  }
  return command == "record" ? record(args, folder, io) : pedalCheck(args, host, passes, folder, io);
}

}  // namespace tkb::cli
