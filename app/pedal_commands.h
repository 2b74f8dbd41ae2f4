// tkb-cli record and tkb-cli pedal-check: the two commands that read the pedals' joystick
// node themselves. A hidraw node may be read by several programs at once, so they work beside
// a running TKB-Tunedeck and are never handed to it (only tkb-cli's own host runs them);
// pedal-check --apply sends its dead zones as a set command through the host, which hands
// that to the running program when there is one.
#pragma once

#include <string>
#include <vector>

#include "app/commands.h"

namespace tkb::cli {

// record: at most this long (a day).
inline constexpr int kRecordMaxSeconds = 86'400;
// How often the progress line is refreshed.
inline constexpr int kRecordProgressMs = 1000;
// record reads the node at most this often: at the pedals' rate a wake-up per report would
// cost more than the rows. The reports of one read are spread evenly over the time since the
// previous one, so a row's time is that of its report to within this interval. The kernel
// keeps kHidrawQueueReports reports for each reader meanwhile: at 1000 a second a read may
// come 40 ms late before any is lost, and a read that finds the queue full is reported.
inline constexpr int kRecordReadIntervalMs = 20;
inline constexpr int kHidrawQueueReports = 64;

// Whether the command word is one of the two.
bool isPedalCommand(const std::string& word);

// Runs "record FILE [--seconds N]" or "pedal-check [--apply]" (args: what follows the command
// word); relative files are taken in folder. passes goes on to the set that --apply runs.
// Status: 0, 1 no pedals (or they were unplugged, or no controller for --apply), 2 bad
// arguments or a file that could not be written, 3 the controller did not take the zones, 6
// pedal-check interrupted (nothing sent).
int runPedalCommand(const std::string& command, const std::vector<std::string>& args, Host& host, int passes,
                    const std::string& folder, const Io& io);

}  // namespace tkb::cli
