#include "ui/page_links.h"

#include <QFileDialog>
#include <QStringList>

#include "ui/application.h"

namespace tkb::ui {

// The profile file dialogs: filters, initial folder "./tkb/" and default suffix; modal.
class SharedPages::DialogChooser : public ProfileFileChooser {
 public:
  explicit DialogChooser(Application& app) : app_(app) {}
  std::optional<std::string> choose(const FileDialogRequest& request) override {
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

 private:
  Application& app_;
};

class SharedPages::LinkedProfilePages : public ProfilePages {
 public:
  LinkedProfilePages(Application& app, PageLinks& links) : app_(app), links_(links) {}
  void setProfileLabel(const std::string&) override { app_.mainPage().refreshProfileLabel(); }
  void showLoad(ProfileKind kind, bool loaded) override {
    if (loaded && links_.pro.showLoadedZones) links_.pro.showLoadedZones();
    if (loaded && kind == ProfileKind::Sport && links_.pro.setAutoBrakeSwitch)
      links_.pro.setAutoBrakeSwitch(app_.controller.state.autoBrake != 0);
    if (links_.custom.showLoad) links_.custom.showLoad(kind, loaded);
  }
  Curve chartPoints(Pedal pedal) const override {
    return links_.custom.chartPoints ? links_.custom.chartPoints(pedalIndex(pedal)) : Curve{};
  }

 private:
  Application& app_;
  PageLinks& links_;
};

SharedPages::SharedPages(Application& app)
    : chooser_(std::make_unique<DialogChooser>(app)),
      pages_(std::make_unique<LinkedProfilePages>(app, links)),
      profiles_(std::make_unique<Profiles>(app.controller, *chooser_, *pages_)) {}

SharedPages::~SharedPages() = default;

void SharedPages::scriptFileChooser(FileChooserScript script) { chooser_->script = std::move(script); }

}  // namespace tkb::ui
