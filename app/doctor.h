// The device doctor: everything the pedal set needs on this computer, each problem with the
// command that fixes it. Serial ports with their USB ids and whether they can be opened,
// ModemManager and the udev rule, the pedals' raw HID and keyboard nodes, the desktop session
// and key source, the VR runtime, avrdude, the firmware image and the base folder.
// Used by "tkb-cli doctor" and by the diagnosis of the "PEDALS NOT DETECTED!!" box.
#pragma once

#include <string>
#include <vector>

#include "app/doctor_text.h"
#include "app/install_layout.h"
#include "link/pedal_input.h"

namespace tkb {

enum class Verdict {
  Ok,
  Note,
  Problem,
  Follows,  // a problem whose cause an earlier finding names (with its fix)
};

// Where several findings come from one cause (pedals not plugged in: no port, no raw HID
// node, no keyboard node, no key source), the cause is named and its fix given once, at
// the first of them.
enum class Cause { Own, PedalsAbsent, NoAccess };

struct FixStep {
  Phrase what;          // what to do, in words
  std::string command;  // the command that does it; empty when there is none
};

struct Finding {
  Phrase topic;                // "Serial port COM0 (/dev/ttyACM0)", "Raw HID node", ...
  Verdict verdict = Verdict::Ok;
  std::vector<Phrase> detail;  // what was found, its parts joined by ", "
  std::vector<FixStep> fix;    // for a problem or a note
  // A node that exists but may not be opened: the udev rule (through pkexec) fixes it.
  bool accessDenied = false;
  Cause cause = Cause::Own;
  int followsFrom = -1;  // Follows: the index of the finding that names the cause

  // In English, as tkb-cli prints them: the fix one line per step, each command on its own
  // line below its words.
  std::string topicText() const;
  std::string detailText() const;
  std::string fixText() const;
};

struct DoctorReport {
  std::vector<Finding> findings;
  // Each cause once: a finding that follows from another is not counted.
  int problems() const;
  bool accessDenied() const;
  // One line per finding ("[ok] ", "[note] ", "[PROBLEM] ", "[follows] "), the fix below
  // it, then the count of problems.
  std::string text() const;
};

// What the doctor looks at; the defaults are the running system's.
struct DoctorSetup {
  DeviceRoots roots = DeviceRoots::fromEnvironment();
  std::string procRoot = "/proc";
  std::string udevDataRoot = "/run/udev/data";
  std::vector<std::string> ruleFolders = {"/etc/udev/rules.d", "/run/udev/rules.d",
                                          "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};
  InstallLayout layout = detectInstallLayout();
  // The port this program itself holds open (its own exclusive open would fail), if any.
  std::string ownPort;
  // This program is searching for the pedal set: its probe opens one port after another
  // exclusively, so a port in use may be held by it for a moment.
  bool searching = false;
};

// Whether the VR runtime library the monitor loads (openVrLibrary()) can be loaded.
bool vrRuntimeLoads();

// The full path of a program on PATH, empty when it is not there.
std::string programOnPath(const std::string& program);

// The command that gives the desktop user access to the pedals: reloads the installed rule,
// or installs the shipped one first.
std::string accessFixCommand(const DoctorSetup& setup);
// The same as a command line for pkexec (no shell quoting needed: the rule is an argument).
std::vector<std::string> pkexecAccessFix(const DoctorSetup& setup);
// Where the udev rule is installed, empty when it is not.
std::string installedRule(const DoctorSetup& setup);

DoctorReport runDoctor(const DoctorSetup& setup = {});
// Only the device nodes (serial ports, raw HID and keyboard nodes): cheap enough to repeat
// while waiting for the pedals to be plugged in again.
DoctorReport runAccessChecks(const DoctorSetup& setup = {});

}  // namespace tkb
