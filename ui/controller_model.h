// The controller as the pages see it: the link, the ControllerState and the device
// procedures (app/operations) in one QObject that says what changed. A page connects its
// widgets to the operations through the model and shows what the model's signals tell;
// what one page changes and another shows reaches the other through a signal.
#pragma once

#include <QObject>

#include "app/operations.h"
#include "app/profiles.h"
#include "link/controller.h"

namespace tkb::ui {

class ControllerModel : public QObject {
  Q_OBJECT

 public:
  ControllerModel();
  ~ControllerModel() override;

  Controller controller;
  Operations operations{controller};

 signals:
  // On the main thread, whichever thread the link changed on.
  void linkStateChanged(tkb::LinkState state);
};

}  // namespace tkb::ui
