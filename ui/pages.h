// Where the program plugs its PRO and CUSTOM pages into the window: installPages() fills
// Application::hooks() (page builders, loadSettings steps, page-opening reactions, the
// two bar refreshes, the key actions) before startApplication() runs, and returns the
// pages with what they share. Keep it alive as long as the Application.
#pragma once

#include <memory>

#include "ui/page_profiles.h"
#include "ui/sport_page.h"
#include "ui/pro_page.h"

namespace tkb::ui {

class Application;

struct InstalledPages {
  explicit InstalledPages(Application& app);
  PageProfiles profiles;
  // Each page adds its object here.
  std::unique_ptr<SportPage> sport;
  std::unique_ptr<ProPage> pro;
};

std::unique_ptr<InstalledPages> installPages(Application& app);

}  // namespace tkb::ui
