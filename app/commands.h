// tkb-cli's commands (probe, dump, set, profile, calibrate, firmware, doctor; record and
// pedal-check are in app/pedal_commands): the parsing,
// the checks and the output, run against a host that reaches the controller. tkb-cli's own
// host (cli/local_host) probes the ports and opens the controller itself; the running
// TKB-Tunedeck is the other host (ui/program_commands), so a command given while the program
// holds the port is done by the program, through the same code, with the same output and
// exit status. No Qt.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/doctor.h"
#include "app/profile_snapshot.h"
#include "app/profiles.h"
#include "app/startup_reads.h"
#include "link/controller.h"
#include "link/settings.h"

namespace tkb::cli {

inline constexpr int kExitNoController = 1;
inline constexpr int kExitOtherValue = 1;  // set: the controller holds another value
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNotAnswering = 3;
inline constexpr int kExitOldFirmware = 4;
inline constexpr int kExitUpdateFailed = 5;
inline constexpr int kExitCancelled = 6;

// A message of tkb-cli's own on io.err, on a line of its own: the trace lines before it end
// without a line break.
struct Io;
void commandMessage(const Io& io, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Where one command writes: its standard output and standard error (the link's trace lines
// go to err while the command runs).
struct Io {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
};

struct FirmwareCommand {
  bool update = false;
  std::string image;  // empty: wkf/firmcor.wkf; else an absolute path
};

// The controller a command works on, and what differs between tkb-cli on its own and the
// running program.
class Host {
 public:
  virtual ~Host() = default;

  // The controller, found with at most `passes` passes over the ports or as the program
  // holds it; nullptr after "no pedal controller answered" on err when there is none.
  // result: the probe's result; oldPort: where firmware older than 7.06 answered.
  virtual Controller* connect(int passes, int& result, std::string& oldPort, const Io& io) = 0;
  // The command is over (the local port is closed).
  virtual void release() {}

  // Around dump's reads: the program keeps what its window shows.
  virtual void beginDump() {}
  virtual void endDump() {}
  // A setting was written into the state and sent.
  virtual void settingSent(Field) {}

  // What the profile saves write from and the loads start from (local: read from the
  // controller; the program holds it).
  virtual ReadReport prepareProfile() = 0;
  // Runs `run` with the profile operations whose file dialog answers `path`; the profile
  // label goes to io.out.
  virtual int withProfiles(const Io& io, const std::function<int(Profiles&)>& run) = 0;

  // profile snapshot / restore. The name a snapshot carries (the program's current profile;
  // tkb-cli on its own has none). snapshotTaken: the snapshot was printed (the program keeps
  // its game switcher idle from then on, until a restore). restoreSnapshot sends it back.
  virtual std::string currentProfileName() { return {}; }
  virtual void snapshotTaken() {}
  virtual bool restoreSnapshot(Controller& controller, const ProfileSnapshot& snapshot);

  // Where the driver's files are (the firmware image under wkf/).
  virtual std::string baseFolder(const Io& io) = 0;
  virtual DoctorSetup doctorSetup() { return {}; }

  // The two commands that need the port and the terminal for themselves.
  virtual int calibrate(int passes, const Io& io) = 0;
  virtual int firmwareUpdate(const FirmwareCommand& command, int passes, const Io& io) = 0;

  // record and pedal-check read the pedals' joystick node here and take as long as the
  // driver does: only tkb-cli's own host runs them (the running program would be held).
  virtual bool mayReadThePedals() const { return false; }
  // Runs another command line where a command of its own would run (pedal-check --apply's
  // set): tkb-cli's own host hands it to the running program when one listens.
  virtual int runCommandLine(const std::vector<std::string>& args, const std::string& workingDirectory,
                             const Io& io);
};

// Checks the profile file of `tkb-cli run` as profile load does (the kind, then the whole
// file); false after the message on io.err.
bool profileLoadable(const std::string& file, const std::string& workingDirectory, const Io& io);

// Where the command word of a command line stands: after "--passes N" when that comes first.
std::size_t commandIndex(const std::vector<std::string>& args);
// The N of "--passes N": a whole number from 1 on; false when it is not one.
bool parsePasses(const std::string& text, int& passes);
// A whole number from -1000000 to 1000000 and nothing else.
bool parseInt(const char* text, int& value);

// Whether a command line is handed to a running program: everything but --help (and what is
// not a command) works on the pedal controller, which the program holds; record and
// pedal-check read the joystick node, which tkb-cli may read beside the program.
bool worksOnThePedals(const std::vector<std::string>& args);

// Runs one command line (without the program name); relative file names are taken in
// workingDirectory. The exit status.
int runCommand(const std::vector<std::string>& args, Host& host, const std::string& workingDirectory,
               const Io& io);

}  // namespace tkb::cli
