#include "ui/page_profiles.h"

#include <QFileDialog>
#include <QStringList>

#include "ui/application.h"
#include "ui/controller_model.h"

namespace tkb::ui {

// The profile file dialogs: filters, initial folder "./tkb/" and default suffix; modal.
class PageProfiles::DialogChooser : public ProfileFileChooser {
 public:
  explicit DialogChooser(Application& app) : app_(app) {}
  std::optional<std::string> choose(const FileDialogRequest& request) override {
    if (given) {
      std::optional<std::string> path = std::move(given);
      given.reset();
      return path;
    }
    if (script) return script(request);
    QFileDialog dialog(app_.window());
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters(QString::fromStdString(request.nameFilters()).split(";;"));
    dialog.setDirectory(QString::fromStdString(request.initialFolder));
    if (!request.defaultSuffix.empty())
      dialog.setDefaultSuffix(QString::fromStdString(request.defaultSuffix));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().front().toStdString();
  }

  FileChooserScript script;
  std::optional<std::string> given;  // the next dialog's answer, without a dialog

 private:
  Application& app_;
};

PageProfiles::PageProfiles(Application& app, ControllerModel& model)
    : chooser_(std::make_unique<DialogChooser>(app)),
      profiles_(std::make_unique<Profiles>(model.controller, *chooser_, model.profilePages())) {}

PageProfiles::~PageProfiles() = default;

void PageProfiles::scriptFileChooser(FileChooserScript script) { chooser_->script = std::move(script); }

std::optional<ProfileRefusal> PageProfiles::loadFile(ProfileKind kind, const std::string& path) {
  chooser_->given = path;
  auto refusal = kind == ProfileKind::Sport ? profiles_->CargarPerfilSport() : profiles_->CargarPerfilPro();
  chooser_->given.reset();
  return refusal;
}

void PageProfiles::answerNextDialog(std::optional<std::string> path) { chooser_->given = std::move(path); }

}  // namespace tkb::ui
