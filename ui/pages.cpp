#include "ui/pages.h"

#include "ui/application.h"

namespace tkb::ui {

std::unique_ptr<InstalledPages> installPages(Application& app) {
  auto pages = std::make_unique<InstalledPages>(app);
  // The PRO page (Create_pro_page, pro_event_handler, RefrescoBarrasPro) and the CUSTOM
  // page (Create_sport_page, sport_event_handler, RefrescoBarrasSport) register here.
  pages->sport = std::make_unique<SportPage>(app, pages->shared);
  pages->sport->install();
  return pages;
}

}  // namespace tkb::ui
