#include "ui/pages.h"

#include "ui/application.h"
#include "ui/main_page.h"

namespace tkb::ui {

Pages::Pages(Application& app)
    : profiles(app, app.model()),
      pro(std::make_unique<ProPage>(app, profiles.profiles())),
      sport(std::make_unique<SportPage>(app, profiles)) {}

}  // namespace tkb::ui
