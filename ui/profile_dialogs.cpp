#include "ui/profile_dialogs.h"

#include <QFileDialog>
#include <QStringList>

namespace tkb::ui {

std::optional<std::string> ProfileDialogs::choose(const FileDialogRequest& request) const {
  if (script_) return script_(request);
  QFileDialog dialog(window_);
  dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setNameFilters(QString::fromStdString(request.nameFilters()).split(";;"));
  dialog.setDirectory(QString::fromStdString(request.initialFolder));
  if (!request.defaultSuffix.empty()) dialog.setDefaultSuffix(QString::fromStdString(request.defaultSuffix));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front().toStdString();
}

}  // namespace tkb::ui
