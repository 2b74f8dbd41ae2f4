// Where the program plugs its PRO and CUSTOM pages into the window: installPages() fills
// Application::hooks() (page builders, loadSettings steps, page-opening reactions, the
// two bar refreshes) before startApplication() runs. Each page adds one call here.
#pragma once

namespace tkb::ui {

class Application;

void installPages(Application& app);

}  // namespace tkb::ui
