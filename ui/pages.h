// The window's PRO and CUSTOM pages with the profile operations they share. The
// Application creates them with itself and builds their widgets once the start-up reads
// are over; they live as long as it does.
#pragma once

#include <memory>

#include "ui/page_profiles.h"
#include "ui/pro_page.h"
#include "ui/sport_page.h"

namespace tkb::ui {

class Application;

struct Pages {
  explicit Pages(Application& app);
  PageProfiles profiles;
  std::unique_ptr<ProPage> pro;
  std::unique_ptr<SportPage> sport;
};

}  // namespace tkb::ui
