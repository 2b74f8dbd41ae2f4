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
  // The next dialog is answered with `path` without being shown (tkb-cli through the
  // program names the file itself); nothing: the dialog again.
  void answerNextDialog(std::optional<std::string> path);

  // A LOAD of a given file (a recent profile): what the page's LOAD button does with the
  // file chosen in its dialog, with no dialog shown. The refusal, if any, is for the caller
  // to tell as the pages tell it.
  std::optional<ProfileRefusal> loadFile(ProfileKind kind, const std::string& path);

 private:
  class DialogChooser;
  std::unique_ptr<DialogChooser> chooser_;
  std::unique_ptr<Profiles> profiles_;
};

}  // namespace tkb::ui
