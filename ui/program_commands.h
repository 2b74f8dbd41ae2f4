// tkb-cli's commands done by the running program: the control server hands them here while
// the window holds the pedals' port. Each runs on the link thread as one action, through
// the same command code as tkb-cli on its own, on the session's controller and profile
// operations, so the window shows at once what a command changed; the reply is handed to
// `done` on the main thread.
#pragma once

#include <functional>

#include "app/control_channel.h"
#include "app/doctor.h"

namespace tkb::ui {

class ControllerModel;
class GameProfiles;

// What the window lends a command besides the session: the per-game profiles (none before
// the pages exist) and what its doctor looks at.
struct ProgramWindow {
  GameProfiles* games = nullptr;
  DoctorSetup doctor;
};

void runProgramCommand(ControllerModel& model, const ProgramWindow& window, const control::CommandRequest& request,
                       std::function<void(control::Reply)> done);

}  // namespace tkb::ui
