// The key listener of the window: the pedal set's keyboard event node (evdev), or the X11
// RECORD listener when that node cannot be read, installed once per process. Its events
// arrive on the source's thread; Application hands them to the main thread, where the
// keyboard hook procedure runs.
#pragma once

#include <memory>

#include "ui/services.h"

namespace tkb::ui {

std::unique_ptr<KeyListener> createSystemKeyListener();

}  // namespace tkb::ui
