// The system-wide key listener the window uses (X11), or none where this build has none.
#pragma once

#include <memory>

#include "ui/services.h"

namespace tkb::ui {

std::unique_ptr<KeyListener> createSystemKeyListener();

}  // namespace tkb::ui
