// The per-user folder that holds the local channels of the two programs (the monitor's pedal
// updates, the configuration program's control socket) and the address of a Unix socket in
// it. No Qt: TKB-Tunedeck, TKB_Monitor, tkb-cli and the tests link this.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <string>

namespace tkb::monitor {

// The folder that holds the user's channels: $XDG_RUNTIME_DIR/tkb-tunedeck when that variable
// names a folder; else tkb-tunedeck-<host> in the user's cache folder ($XDG_CACHE_HOME, or
// ~/.cache) when the home is a folder of the user's own, where no other user can make it
// first; only without such a home tkb-tunedeck-<uid> in the temporary folder ($TMPDIR or /tmp).
std::string monitorChannelFolder();

// Empty when folder is fit to hold our channels: a real folder (no link), ours, that nobody
// else may enter. Otherwise what is wrong with it. With create, a missing folder is made (0700,
// and the folders above it that are missing) and one of ours that others may enter is closed
// to them.
std::string checkChannelFolder(const std::string& folder, bool create);

// The address of a Unix socket at path; false when the path does not fit sun_path with its
// terminating NUL (or is empty).
bool socketAddress(const std::string& path, sockaddr_un& address, socklen_t& length);

}  // namespace tkb::monitor
