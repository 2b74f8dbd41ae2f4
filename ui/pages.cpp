#include "ui/pages.h"

#include "ui/application.h"

namespace tkb::ui {

void installPages(Application& app) {
  // The PRO page (Create_pro_page, pro_event_handler, RefrescoBarrasPro) and the CUSTOM
  // page (Create_sport_page, sport_event_handler, RefrescoBarrasSport) register here.
  // Until then their containers open empty.
  (void)app;
}

}  // namespace tkb::ui
