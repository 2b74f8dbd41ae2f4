#include "ui/pages.h"

#include "ui/application.h"
#include "ui/main_page.h"

namespace tkb::ui {

InstalledPages::InstalledPages(Application& app) : profiles(app, app.model()) {}

std::unique_ptr<InstalledPages> installPages(Application& app) {
  auto pages = std::make_unique<InstalledPages>(app);
  // The PRO page (Create_pro_page, pro_event_handler, RefrescoBarrasPro) and the CUSTOM
  // page (Create_sport_page, sport_event_handler, RefrescoBarrasSport) register here.
  pages->sport = std::make_unique<SportPage>(app, pages->profiles);
  pages->sport->install();
  InstalledPages& p = *pages;
  p.pro = std::make_unique<ProPage>(app, p.profiles.profiles());
  ProPage* pro = p.pro.get();
  PageHooks& h = app.hooks();
  h.Create_pro_page = [pro](QWidget* container) { pro->Create_pro_page(container); };
  h.placeProControls = [pro] { pro->placeControls(); };
  MainPage& main = app.mainPage();
  QObject::connect(&main, &MainPage::proPageOpened, pro->context(), [pro](bool calibrated) { pro->pageOpened(calibrated); });
  QObject::connect(&main, &MainPage::proZonesReadBack, pro->context(), [pro] { pro->showZonesFromState(); });
  h.autocal = [pro] { pro->autocal(); };
  h.proBrakeUpperStep = [pro](int delta) { pro->brakeUpperStep(delta); };
  auto customLed = h.autoBrakeLed;
  h.autoBrakeLed = [pro, customLed](bool customPage, int brightness) {
    if (!customPage) pro->setLed(brightness);
    else if (customLed) customLed(customPage, brightness);
  };
  h.RefrescoBarrasPro = [pro] { pro->bars().RefrescoBarrasPro(); };
  SportPage* sport = p.sport.get();
  h.RefrescoBarrasSport = [sport] { sport->bars().RefrescoBarrasSport(); };
  app.addEventBranch([pro](QObject* object, UiEvent event) { return pro->eventBranch(object, event); });
  return pages;
}

}  // namespace tkb::ui
