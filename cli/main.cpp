// tkb-cli: diagnostics and scripting on the controller link.
//   tkb-cli probe                 find the controller: result code, port, firmware
//   tkb-cli dump                  probe, the start-up reads and loadData (nothing is sent), then
//                                 the state as JSON; what could not be read is null
//   tkb-cli set FIELD VALUE...    send the command that writes one field and read it back
//                                 (several fields in one go: set brakeLower 3 throttleLower 2;
//                                 all checked first)
//   tkb-cli profile save FILE     save the controller's settings as a PRO (.tkb) or sport
//                                 (.tks) profile, and name it on the controller
//   tkb-cli profile load FILE     load a profile: the state, the commands and the naming of
//                                 the LOAD buttons (the same operation)
//   tkb-cli calibrate             the PRO calibration, guided on the terminal: each step's
//                                 instruction, Enter when done; q or the end of input cancels
//                                 (the controller keeps its old points); at the end the
//                                 points are stored and the new brake limit and zones printed
//   tkb-cli firmware status       the firmware version, whether it needs the update, and
//                                 whether the image is there
//   tkb-cli firmware update [--image FILE]
//                                 the update the program makes at start-up, progress on
//                                 standard error; status 0 only with firmware 7.06 or later
//   tkb-cli profile snapshot      print the profile in force as one line of text
//   tkb-cli profile restore TEXT  send such a line back (exit 2 when it is damaged)
//   tkb-cli run --profile FILE -- COMMAND [ARGS...]
//                                 keep the profile in force, load FILE, run the command, put
//                                 the kept profile back; exit status: the command's
//   tkb-cli doctor                what the pedal set needs on this computer, each problem
//                                 with its fix; exit status 0 when nothing is wrong
//   tkb-cli record FILE.csv [--seconds N]
//                                 one CSV row per joystick report (time, raw axes, the PRO
//                                 bars' percentages) until Ctrl-C, SIGTERM or N seconds; the
//                                 file appears complete when it ends
//   tkb-cli pedal-check [--apply] 5 s feet off (rest bands, report rate), then each pedal
//                                 pressed once (reachable tops): suggested dead zones with
//                                 their reasons; --apply sends them as set does
// Exit status: 0 every exchange the command needed succeeded, 1 no controller (record and
// pedal-check: no pedals, or they were unplugged; set: the controller holds another value
// than the one sent), 2 bad input (arguments, a profile refused,
// a recording that could not be written), 3 the controller stopped answering (the failed
// queries are named), 4 old firmware (probe), 5 the firmware update failed, 6 the
// calibration or the pedal check was cancelled.
// While TKB-Tunedeck runs it holds the pedals' port: every command is then handed to it
// through its control socket and done there, with the same output and status (calibrate
// and firmware update are refused: they belong to the window). Without a running program
// tkb-cli opens the port itself. record and pedal-check read the pedals' joystick node
// themselves, beside a running program (a hidraw node may be read by several programs);
// only the set of pedal-check --apply goes to the program.
// Trace lines of the link go to standard error so that standard output stays parseable.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/local_host.h"
#include "cli/launch.h"

namespace {

std::string workingDirectory() {
  char buffer[PATH_MAX];
  return ::getcwd(buffer, sizeof buffer) != nullptr ? buffer : ".";
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const std::string folder = workingDirectory();
  // run starts the command here, in the caller's environment; its steps go to the program.
  if (tkb::cli::isRunCommand(args)) return tkb::cli::runLaunch(args, folder);
  if (tkb::cli::worksOnThePedals(args)) {
    if (const auto reply = tkb::cli::askTheProgram(args, folder)) {
      std::fwrite(reply->err.data(), 1, reply->err.size(), stderr);
      std::fwrite(reply->out.data(), 1, reply->out.size(), stdout);
      return reply->status;
    }
  }
  tkb::cli::LocalHost local;
  return tkb::cli::runCommand(args, local, folder, {stdout, stderr});
}
