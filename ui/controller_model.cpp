#include "ui/controller_model.h"

#include <QMetaObject>

#include "link/trace.h"

namespace tkb::ui {

ControllerModel::ControllerModel() {
  // The controller reports from whichever thread uses it; the pages react on their own.
  controller.setLinkStateListener([this](LinkState state) {
    QMetaObject::invokeMethod(this, [this, state] { emit linkStateChanged(state); }, Qt::QueuedConnection);
  });
}

ControllerModel::~ControllerModel() { controller.setLinkStateListener({}); }

void ControllerModel::setLetter(Field field, int index) {
  if (operations.setLetter(field, index)) emit letterChanged(field, index);
}

void ControllerModel::showBands() {
  emit bandsChanged();
  trace("\nBarras actualizadas");
}

void ControllerModel::setProfileLabel(const std::string& text) {
  if (profileLabelTap_) profileLabelTap_(text);
  emit profileChanged();
}

void ControllerModel::showLoad(ProfileKind kind, bool loaded) { emit profileLoaded(kind, loaded); }

Curve ControllerModel::chartPoints(Pedal pedal) const { return charts_ ? charts_->chartPoints(pedal) : Curve{}; }

}  // namespace tkb::ui
