// tkb-cli's commands done by the running program: the control server hands them here while
// the window holds the pedals' port. They run on the main thread as one action of the
// driver, through the same command code as tkb-cli on its own, on the program's controller,
// state and pages, so the window shows at once what a command changed.
#pragma once

#include "app/control_channel.h"

namespace tkb::ui {

class Application;

control::Reply runProgramCommand(Application& app, const control::CommandRequest& request);

}  // namespace tkb::ui
