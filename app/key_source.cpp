#include "app/key_source.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "app/evdev_key_source.h"
#include "app/x11_key_listener.h"
#include "link/trace.h"

namespace tkb {

const char* keySourceName(KeySourceKind kind) {
  switch (kind) {
    case KeySourceKind::Evdev: return "evdev";
    case KeySourceKind::X11Record: return "X11 RECORD";
    case KeySourceKind::None: break;
  }
  return "none";
}

KeySourceChoice chooseKeySource(const DeviceRoots& roots) {
  KeySourceChoice choice;
  if (const std::optional<std::string> node = findPedalKeyboardNode(roots)) {
    choice.evdevNode = *node;
    const int fd = ::open(node->c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      ::close(fd);
      choice.kind = KeySourceKind::Evdev;
      return choice;
    }
    choice.evdevProblem = errno == EACCES || errno == EPERM
                              ? "no permission to read the pedals' keys (" + *node +
                                    "). Give access once: " + udevAccessHint()
                              : *node + ": " + std::strerror(errno);
  } else {
    choice.evdevProblem = "the pedal set's keyboard event node is not there";
  }
  if (x11ServerReachable()) choice.kind = KeySourceKind::X11Record;
  return choice;
}

std::string describeKeySource(const KeySourceChoice& choice) {
  if (choice.kind == KeySourceKind::Evdev) return "evdev " + choice.evdevNode;
  return std::string(keySourceName(choice.kind)) + " (" + choice.evdevProblem + ")";
}

namespace {

// The installed source: one of the two, never both.
struct InstalledHook {
  std::unique_ptr<EvdevKeySource> evdev;
  std::unique_ptr<X11KeyListener> x11;
  KeySourceKind kind() const {
    return evdev ? KeySourceKind::Evdev : x11 ? KeySourceKind::X11Record : KeySourceKind::None;
  }
};

std::mutex gHookMutex;
InstalledHook gHook;

}  // namespace

bool installKeyboardHook(KeyDeliver deliver, HookMessageBox& box) {
  std::unique_lock lock(gHookMutex);
  if (gHook.kind() != KeySourceKind::None) return true;
  KeySourceChoice choice;
  auto evdev = std::make_unique<EvdevKeySource>();
  if (evdev->start(deliver, &choice.evdevProblem)) {
    choice.kind = KeySourceKind::Evdev;
    choice.evdevNode = evdev->nodePath();
    gHook.evdev = std::move(evdev);
  } else {
    auto x11 = std::make_unique<X11KeyListener>();
    std::string why;
    if (x11->start(std::move(deliver), &why)) {
      choice.kind = KeySourceKind::X11Record;
      gHook.x11 = std::move(x11);
    } else {
      choice.evdevProblem += "; X11: " + why;
    }
  }
  trace("\nKey source -> %s\n", describeKeySource(choice).c_str());
  if (choice.kind == KeySourceKind::None) {
    lock.unlock();
    box.showError(kHookFailedText, kHookFailedTitle);
    return false;
  }
  return true;
}

void removeKeyboardHook() {
  InstalledHook hook;
  {
    std::lock_guard lock(gHookMutex);
    hook = std::move(gHook);
    gHook = {};
  }
  if (hook.evdev) hook.evdev->stop();
  if (hook.x11) hook.x11->stop();
}

bool keyboardHookInstalled() { return installedKeySource() != KeySourceKind::None; }

KeySourceKind installedKeySource() {
  std::lock_guard lock(gHookMutex);
  return gHook.kind();
}

}  // namespace tkb
