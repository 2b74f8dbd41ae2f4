// The programs running on this machine, by name, read from /proc at low cost: the game
// switcher scans every few seconds for the games of its table, and the games dialog lists
// what runs so the driver can pick a game's name. No Qt.
//
// A program's name is the last component of its argv[0], split on '/' and on '\' (Wine and
// Proton show a game as "Z:\...\Game.exe"); its comm, which the kernel cuts to 15 bytes, is
// the fallback for a program whose argv[0] is another's (an interpreter, a rewritten command
// line). Names compare without regard to ASCII case.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tkb {

inline constexpr std::size_t kCommBytes = 15;
// A program is re-read for its first scans: a launcher that execs the game within them is
// seen under the game's name.
inline constexpr int kProcessYoungScans = 3;

struct RunningProgram {
  int pid = 0;
  std::string name;  // from argv[0]; empty when the command line is (a kernel thread)
  std::string comm;
};

// Equal without regard to ASCII case.
bool sameProgramName(std::string_view a, std::string_view b);

// Whether a running program is the one the table calls `wanted`: its name equals it, or, when
// its comm is not the beginning of its own name (the comm names another program than
// argv[0] does), its comm equals the first 15 bytes of `wanted`.
bool programMatches(const RunningProgram& program, std::string_view wanted);

// Whether a running program may be a game the driver wants a profile for: not a shell, a
// compiler or build tool, a system or desktop service, a terminal, an editor, a launcher's
// helper, the Wine services, nor one of our own programs. Names compare without regard to
// ASCII case; a name that ends in a digit or version ("python3.11") counts as its stem.
bool plausiblyGame(std::string_view name);

// The name of argv[0] (the bytes of a command line up to its first zero).
std::string programNameOfCommandLine(std::string_view cmdline);

class ProcessWatcher {
 public:
  explicit ProcessWatcher(std::string procRoot = "/proc");
  ~ProcessWatcher();
  ProcessWatcher(const ProcessWatcher&) = delete;
  ProcessWatcher& operator=(const ProcessWatcher&) = delete;

  // The names whose processes are looked at again at every scan: one that ended but was not
  // yet collected by its parent (a zombie) no longer counts as running.
  void watch(std::vector<std::string> names) { watched_ = std::move(names); }

  // One scan: readdir of the proc folder; only new processes (a pid not seen before, or whose
  // entry is another process now), young ones and watched ones are read.
  const std::vector<RunningProgram>& scan();
  const std::vector<RunningProgram>& programs() const { return programs_; }

  // The names of the last scan for the games dialog: each program's name, and its comm where
  // that names another program; sorted without regard to case, each once.
  std::vector<std::string> runningNames() const;

  // For the benchmark: files read by the last scan.
  int filesReadLastScan() const { return filesRead_; }

 private:
  struct Entry {
    ino_t inode = 0;
    RunningProgram program;
    int scans = 0;
    uint32_t generation = 0;
  };
  bool readEntry(Entry& entry, bool commOnly);
  bool isZombie(int pid);
  bool isWatched(const RunningProgram& program) const;
  std::string readSmall(int pid, const char* file, std::size_t limit);

  std::string root_;
  void* dir_ = nullptr;  // DIR*, kept open and rewound
  std::unordered_map<int, Entry> cache_;
  std::vector<std::string> watched_;
  std::vector<RunningProgram> programs_;
  uint32_t generation_ = 0;
  int filesRead_ = 0;
};

}  // namespace tkb
