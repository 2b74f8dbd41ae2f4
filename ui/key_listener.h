// The system-wide key listener of the window: the X11 RECORD listener, installed once per
// process. Its events arrive on the listener's thread; Application hands them to the main
// thread, where the keyboard hook procedure runs.
#pragma once

#include <memory>

#include "ui/services.h"

namespace tkb::ui {

std::unique_ptr<KeyListener> createSystemKeyListener();

}  // namespace tkb::ui
