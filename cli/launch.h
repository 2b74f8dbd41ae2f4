// tkb-cli run: a launch wrapper for a game (a Steam launch option "tkb-cli run --profile
// wet.tks -- %command%"). The profile in force is kept, the given profile loaded, the command
// run, and the kept profile put back when it ends; the command's exit status is tkb-cli's.
// Each of the three steps goes to whichever host is there at that moment: the running
// TKB-Tunedeck through its control socket, else tkb-cli's own, which releases the port before
// the command starts.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/control_channel.h"

namespace tkb::cli {

// A command line handed to the running TKB-Tunedeck: its reply (the status, and what the
// command wrote), or, when the program took it but never answered, status 1 after saying so
// on standard error (it may have done part of it: doing it again here could send it twice).
// Nothing when no program listens.
std::optional<control::Reply> askTheProgram(const std::vector<std::string>& args, const std::string& folder);

// Whether a command line (without the program name) is a run, with or without --passes N.
bool isRunCommand(const std::vector<std::string>& args);

// Does the run; relative file names are taken in workingDirectory. The command's status, or
// 2 for bad arguments (nothing run, nothing sent).
int runLaunch(const std::vector<std::string>& args, const std::string& workingDirectory);

}  // namespace tkb::cli
