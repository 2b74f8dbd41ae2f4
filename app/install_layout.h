// Where the programs find their own read-only files and where they keep the driver's files.
// Two layouts: staged (build/stage: everything in one folder, the working directory is the
// base folder) and installed (programs in <prefix>/lib/tkb-tunedeck, read-only data in
// <prefix>/share/tkb-tunedeck, the base folder in the driver's XDG data folder). Used by
// TKB-Tunedeck, TKB_Monitor and tkb-cli at start.
#pragma once

#include <string>

namespace tkb {

inline constexpr const char* kInstalledName = "tkb-tunedeck";
// Where Debian's avrdude keeps its part descriptions (the package depends on avrdude).
inline constexpr const char* kSystemAvrdudeConfig = "/etc/avrdude.conf";
inline constexpr const char* kUdevRuleName = "70-tkb-pedals.rules";

struct InstallLayout {
  bool installed = false;
  std::string programFolder;  // the folder of the running program
  std::string dataFolder;     // modo.sh, doc/*.pdf, the udev rule
  // Absolute. Holds opt/config.ini, the usage logs, tkb/ and wkf/ (firmcor.wkf).
  std::string baseFolder;

  // The monitor, to be started with <base>/opt as its working directory.
  std::string monitorProgram() const;
  // The firmware tools, as the child started in <base>/wkf names them.
  std::string bootloaderScript() const;
  std::string avrdudeConfig() const;
  // The folder that holds doc/en.pdf ... doc/po.pdf.
  std::string manualFolder() const;
  // The udev rule file shipped with the program (installed: the one udev already reads).
  std::string udevRule() const;
};

// $XDG_DATA_HOME/tkb-tunedeck, else $HOME/.local/share/tkb-tunedeck (the passwd entry's home
// when HOME is unset). Empty when no home folder is known.
std::string userBaseFolder();

// The layout of the program at `executable` (default: the running program). Installed when
// it lives in <prefix>/lib/tkb-tunedeck and <prefix>/share/tkb-tunedeck exists; staged
// otherwise, with the current working directory as base folder.
InstallLayout detectInstallLayout(const std::string& executable = {});

// The VR runtime library the monitor loads: $TKB_OPENVR_LIBRARY, else libopenvr_api.so from
// the library path.
std::string openVrLibrary();

// Creates the base folder with opt/, tkb/ and wkf/ (private to the user when new). False,
// with the reason, when it cannot be made or written.
bool makeBaseFolder(const std::string& base, std::string& error);

// Installed: makes the base folder (and `sub` inside it) and changes into it, so that every
// relative name the programs use lands there. Staged: nothing. False, with the reason, when
// the folder cannot be used; the caller must then not write anything.
bool enterBaseFolder(const InstallLayout& layout, const std::string& sub, std::string& error);

}  // namespace tkb
