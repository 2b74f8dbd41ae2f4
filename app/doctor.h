// The device doctor: everything the pedal set needs on this computer, each problem with the
// command that fixes it. Serial ports with their USB ids and whether they can be opened,
// ModemManager and the udev rule, the pedals' raw HID and keyboard nodes, the desktop session
// and key source, the VR runtime, avrdude, the firmware image and the base folder.
// Used by "tkb-cli doctor" and by the diagnosis of the "PEDALS NOT DETECTED!!" box.
#pragma once

#include <string>
#include <vector>

#include "app/install_layout.h"
#include "link/pedal_input.h"

namespace tkb {

enum class Verdict { Ok, Note, Problem };

struct Finding {
  std::string topic;   // "Serial port COM0", "Raw HID node", ...
  Verdict verdict = Verdict::Ok;
  std::string detail;  // what was found
  std::string fix;     // the command (and what to do after it) for a problem or a note
  // A node that exists but may not be opened: the udev rule (through pkexec) fixes it.
  bool accessDenied = false;
};

struct DoctorReport {
  std::vector<Finding> findings;
  int problems() const;
  bool accessDenied() const;
  // One line per finding ("[ok] ", "[note] ", "[PROBLEM] "), the fix on the next line,
  // then the count of problems.
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
};

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
