// The profile file dialogs of the PRO and CUSTOM pages (filters, initial folder "./tkb/",
// default suffix; modal). A page asks before it hands the chosen file to the session.
#pragma once

#include <QWidget>
#include <functional>
#include <optional>
#include <string>

#include "app/profiles.h"

namespace tkb::ui {

class ProfileDialogs {
 public:
  explicit ProfileDialogs(QWidget* window) : window_(window) {}

  // The chosen path, nothing when the dialog was cancelled.
  std::optional<std::string> choose(const FileDialogRequest& request) const;
  std::optional<std::string> choose(ProfileKind kind, bool save) const {
    return choose(profileDialogRequest(kind, save));
  }

  // Tests answer the dialogs with a script (the chosen path, or nothing for a cancelled
  // dialog); an empty script brings the QFileDialog back.
  using Script = std::function<std::optional<std::string>(const FileDialogRequest&)>;
  void scriptFileChooser(Script script) { script_ = std::move(script); }

 private:
  QWidget* window_;
  Script script_;
};

}  // namespace tkb::ui
