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
  void setProfileLabel(const std::string&) override { app_.refreshProfileLabel(); }
  void showProZones(const ZoneValues& zones) override {
    if (links_.pro.showZones) links_.pro.showZones(zones);
  }
  void showCustomZones(const ZoneValues& zones, int brakeStop) override {
    if (links_.custom.showZones) links_.custom.showZones(zones, brakeStop);
  }
  void moveCustomMarkers(const ZoneValues& zones, int brakeStop) override {
    if (links_.custom.moveMarkers) links_.custom.moveMarkers(zones, brakeStop);
  }
  void setAutoBrakeSwitches(bool on) override {
    if (links_.custom.setAutoBrakeSwitch) links_.custom.setAutoBrakeSwitch(on);
    if (links_.pro.setAutoBrakeSwitch) links_.pro.setAutoBrakeSwitch(on);
  }
  Curve chartPoints(Pedal pedal) const override {
    return links_.custom.chartPoints ? links_.custom.chartPoints(pedalIndex(pedal)) : Curve{};
  }
  void setChartPoints(Pedal pedal, const Curve& points) override {
    if (links_.custom.setChartPoints) links_.custom.setChartPoints(pedalIndex(pedal), points);
  }
  void showCustomModeActive(bool brakeStopActive) override {
    if (links_.custom.showCustomModeActive) links_.custom.showCustomModeActive(brakeStopActive);
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
