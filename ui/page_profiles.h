// The profile operations of both pages (one PerfilActual for the whole program) with their
// file dialog; what a load changed reaches the pages through the ControllerModel.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/profiles.h"

namespace tkb::ui {

class Application;
class ControllerModel;

class PageProfiles {
 public:
  PageProfiles(Application& app, ControllerModel& model);
  ~PageProfiles();

  Profiles& profiles() { return *profiles_; }

  // Tests answer the profile file dialogs with a script (the chosen path, or nothing for
  // a cancelled dialog); an empty script brings the QFileDialog back.
  using FileChooserScript = std::function<std::optional<std::string>(const FileDialogRequest&)>;
  void scriptFileChooser(FileChooserScript script);

 private:
  class DialogChooser;
  std::unique_ptr<DialogChooser> chooser_;
  std::unique_ptr<Profiles> profiles_;
};

}  // namespace tkb::ui
