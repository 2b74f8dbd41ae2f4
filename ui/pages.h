// The window's PRO and CUSTOM pages with the profile dialogs they share. The Application
// creates them with itself and builds their widgets once the start-up reads are over; they
// live as long as it does and show the session they are given.
#pragma once

#include <memory>

#include "ui/profile_dialogs.h"
#include "ui/pro_page.h"
#include "ui/sport_page.h"

namespace tkb::ui {

struct Pages {
  Pages(ControllerModel& model, LabelBoard& labels, QWidget* window)
      : dialogs(window),
        pro(std::make_unique<ProPage>(model, labels, dialogs, window)),
        sport(std::make_unique<SportPage>(model, labels, dialogs)) {}
  ProfileDialogs dialogs;
  std::unique_ptr<ProPage> pro;
  std::unique_ptr<SportPage> sport;
};

}  // namespace tkb::ui
