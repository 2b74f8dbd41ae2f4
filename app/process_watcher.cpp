#include "app/process_watcher.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

namespace tkb {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// argv[0] is read no further than this; a longer one is cut (its last component may then be
// wrong, which only costs a match).
constexpr std::size_t kCmdlineReadBytes = 4096;
constexpr std::size_t kStatReadBytes = 512;

std::optional<int> pidOf(const char* name) {
  int pid = 0;
  if (*name == '\0') return std::nullopt;
  for (const char* c = name; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9' || pid > 100'000'000) return std::nullopt;
    pid = pid * 10 + (*c - '0');
  }
  return pid;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return prefix.size() <= text.size() && sameProgramName(text.substr(0, prefix.size()), prefix);
}

}  // namespace

bool sameProgramName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

bool programMatches(const RunningProgram& program, std::string_view wanted) {
  if (wanted.empty()) return false;
  if (!program.name.empty() && sameProgramName(program.name, wanted)) return true;
  // A comm that is where the name begins came from that name: the name has answered already.
  // Only a comm that names another program (a script run by its interpreter, a program that
  // renamed itself) stands for the program.
  if (!program.comm.empty() && startsWithIgnoringCase(program.name, program.comm)) return false;
  return !program.comm.empty() && sameProgramName(program.comm, wanted.substr(0, std::min(wanted.size(), kCommBytes)));
}

namespace {
// Programs that are never games, by exact name, and families of them by the start of their
// names.
constexpr std::string_view kNotGames[] = {
    // shells and what runs commands for them
    "sh", "bash", "dash", "zsh", "fish", "ksh", "csh", "tcsh", "busybox", "login", "sudo", "su", "doas", "env",
    "nohup", "timeout", "xargs", "tmux", "screen", "script", "sleep", "cat", "tail", "less", "man", "watch",
    // compilers, build tools, debuggers, interpreters
    "cc", "c++", "gcc", "g++", "cc1", "cc1plus", "collect2", "lto1", "lto-wrapper", "clang", "clang++", "ld",
    "ld.gold", "ld.lld", "ld.bfd", "as", "make", "gmake", "ninja", "cmake", "ctest", "ccache", "meson", "rustc",
    "cargo", "go", "javac", "gdb", "lldb", "valgrind", "strace", "ltrace", "perf", "perl", "python", "ruby",
    "node", "git", "ssh", "ssh-agent", "gpg-agent",
    // system and desktop services
    "init", "cron", "crond", "rsyslogd", "agetty", "sshd", "cupsd", "cups-browsed", "avahi-daemon", "colord",
    "bluetoothd", "udisksd", "upowerd", "polkitd", "rtkit-daemon", "accounts-daemon", "wpa_supplicant",
    "NetworkManager", "ModemManager", "thermald", "irqbalance", "packagekitd", "unattended-upgr", "snapd",
    "containerd", "dockerd", "pipewire", "pipewire-pulse", "wireplumber", "pulseaudio", "Xorg", "Xwayland",
    "Xvfb", "xvfb-run", "weston", "mutter", "kwin_x11", "kwin_wayland", "plasmashell", "ibus-daemon",
    "dconf-service", "pkexec", "xdg-open", "top", "htop", "ps", "grep",
    // terminals and editors
    "xterm", "konsole", "alacritty", "kitty", "foot", "vim", "nvim", "nano", "emacs", "gedit", "code",
    // a launcher's helpers, and the Wine services around every Windows game
    "steam", "steamwebhelper", "reaper", "gameoverlayui", "fossilize_replay", "wineserver", "winedevice.exe",
    "services.exe", "explorer.exe", "plugplay.exe", "svchost.exe", "rpcss.exe", "start.exe", "conhost.exe",
    "winedbg", "tabtip.exe", "rundll32.exe",
    // ours
    "TKB-Tunedeck", "tkb-tunedeck", "TKB_Monitor", "tkb-cli", "tkb-pedal-emulator", "avrdude"};
constexpr std::string_view kNotGameFamilies[] = {
    "systemd", "dbus", "gnome-", "gsd-", "xdg-", "at-spi", "gvfs", "evolution-", "tracker-", "ibus-",
    "kworker", "gnome-terminal", "pressure-vessel", "steam-runtime", "python", "x86_64-linux-gnu-",
    "kded", "kdeconnect", "ksmserver", "xfce", "xfwm", "lxqt", "lxsession", "pulseaudio", "pipewire"};

// "python3.11" -> "python": the stem before a trailing version.
std::string_view stem(std::string_view name) {
  while (!name.empty() && ((name.back() >= '0' && name.back() <= '9') || name.back() == '.' || name.back() == '-'))
    name.remove_suffix(1);
  return name;
}
}  // namespace

bool plausiblyGame(std::string_view name) {
  if (name.empty()) return false;
  for (std::string_view notGame : kNotGames)
    if (sameProgramName(name, notGame) || sameProgramName(stem(name), notGame)) return false;
  for (std::string_view family : kNotGameFamilies)
    if (startsWithIgnoringCase(name, family)) return false;
  return true;
}

std::string programNameOfCommandLine(std::string_view cmdline) {
  const std::string_view argv0 = cmdline.substr(0, cmdline.find('\0'));
  const size_t separator = argv0.find_last_of("/\\");
  return std::string(separator == std::string_view::npos ? argv0 : argv0.substr(separator + 1));
}

ProcessWatcher::ProcessWatcher(std::string procRoot) : root_(std::move(procRoot)) {}

ProcessWatcher::~ProcessWatcher() {
  if (dir_ != nullptr) ::closedir(static_cast<DIR*>(dir_));
}

std::string ProcessWatcher::readSmall(int pid, const char* file, std::size_t limit) {
  ++filesRead_;
  const std::string path = root_ + "/" + std::to_string(pid) + "/" + file;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return {};
  std::string text(limit, '\0');
  size_t got = 0;
  while (got < limit) {
    const ssize_t n = ::read(fd, text.data() + got, limit - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  text.resize(got);
  return text;
}

bool ProcessWatcher::readEntry(Entry& entry, bool commOnly) {
  const int pid = entry.program.pid;
  std::string comm = readSmall(pid, "comm", kCommBytes + 1);
  if (!comm.empty() && comm.back() == '\n') comm.pop_back();
  // A program caught in the middle of exec shows its new comm before its new command line
  // (read as empty then): an empty name is read again while the process is young.
  if (commOnly && comm == entry.program.comm && !entry.program.name.empty()) return true;
  entry.program.comm = std::move(comm);
  entry.program.name = programNameOfCommandLine(readSmall(pid, "cmdline", kCmdlineReadBytes));
  return true;
}

bool ProcessWatcher::isZombie(int pid) {
  const std::string stat = readSmall(pid, "stat", kStatReadBytes);
  // "pid (comm) S ...": the comm may hold ')' itself, so the state follows the last one.
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return true;  // gone while we looked
  return close + 2 < stat.size() && (stat[close + 2] == 'Z' || stat[close + 2] == 'X');
}

bool ProcessWatcher::isWatched(const RunningProgram& program) const {
  return std::any_of(watched_.begin(), watched_.end(),
                     [&](const std::string& name) { return programMatches(program, name); });
}

const std::vector<RunningProgram>& ProcessWatcher::scan() {
  filesRead_ = 0;
  ++generation_;
  programs_.clear();
  DIR* dir = static_cast<DIR*>(dir_);
  if (dir == nullptr) {
    dir = ::opendir(root_.c_str());
    dir_ = dir;
    if (dir == nullptr) return programs_;
  } else {
    ::rewinddir(dir);
  }
  while (const dirent* item = ::readdir(dir)) {
    const auto pid = pidOf(item->d_name);
    if (!pid) continue;
    auto [it, added] = cache_.try_emplace(*pid);
    Entry& entry = it->second;
    // The same pid with another inode is another process: its pid was used again.
    if (added || entry.inode != item->d_ino) {
      entry = Entry{};
      entry.inode = item->d_ino;
      entry.program.pid = *pid;
      readEntry(entry, false);
    } else if (entry.scans < kProcessYoungScans) {
      readEntry(entry, true);
    }
    ++entry.scans;
    entry.generation = generation_;
  }
  for (auto it = cache_.begin(); it != cache_.end();) {
    if (it->second.generation != generation_) {
      it = cache_.erase(it);
      continue;
    }
    const RunningProgram& program = it->second.program;
    if (!(isWatched(program) && isZombie(program.pid))) programs_.push_back(program);
    ++it;
  }
  std::sort(programs_.begin(), programs_.end(),
            [](const RunningProgram& a, const RunningProgram& b) { return a.pid < b.pid; });
  return programs_;
}

std::vector<std::string> ProcessWatcher::runningNames() const {
  std::vector<std::string> names;
  for (const RunningProgram& program : programs_) {
    if (program.name.empty()) continue;  // kernel threads
    names.push_back(program.name);
    if (!program.comm.empty() && !startsWithIgnoringCase(program.name, program.comm)) names.push_back(program.comm);
  }
  const auto before = [](const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return lower(x) < lower(y); });
  };
  std::sort(names.begin(), names.end(), before);
  names.erase(std::unique(names.begin(), names.end(),
                          [](const std::string& a, const std::string& b) { return sameProgramName(a, b); }),
              names.end());
  return names;
}

}  // namespace tkb
