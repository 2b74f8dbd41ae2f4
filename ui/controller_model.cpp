#include "ui/controller_model.h"

#include <QMetaObject>

namespace tkb::ui {

ControllerModel::ControllerModel() {
  // The controller reports from whichever thread uses it; the pages react on their own.
  controller.setLinkStateListener([this](LinkState state) {
    QMetaObject::invokeMethod(this, [this, state] { emit linkStateChanged(state); }, Qt::QueuedConnection);
  });
}

ControllerModel::~ControllerModel() { controller.setLinkStateListener({}); }

}  // namespace tkb::ui
