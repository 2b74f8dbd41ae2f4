// The controller as the pages see it: the link, the ControllerState, the device
// procedures (app/operations) and the pedal readout both pages' live bars share, in one
// QObject that says what changed. A page connects its widgets to the operations through
// the model and shows what the model's signals tell; what one page changes and another
// shows reaches the other through a signal, never through the other page.
#pragma once

#include <QObject>
#include <functional>
#include <string>

#include "app/operations.h"
#include "app/pedal_readout.h"
#include "app/profiles.h"
#include "link/controller.h"
#include "link/settings.h"

namespace tkb::ui {

// The pages' per-pedal widgets stand in arrays indexed by the pedal's number.
inline constexpr int kClutchPedal = pedalIndex(Pedal::Clutch);
inline constexpr int kBrakePedal = pedalIndex(Pedal::Brake);
inline constexpr int kThrottlePedal = pedalIndex(Pedal::Throttle);

// The curves drawn on the CUSTOM page's charts: what a sport save writes.
class ChartPoints {
 public:
  virtual ~ChartPoints() = default;
  virtual Curve chartPoints(Pedal pedal) const = 0;
};

class ControllerModel : public QObject, private ProfilePages {
  Q_OBJECT

 public:
  ControllerModel();
  ~ControllerModel() override;

  Controller controller;
  Operations operations{controller};
  // The trackers, history columns and brake statistics of both pages' live bars.
  PedalReadout readout;

  // What the profile operations tell the pages.
  ProfilePages& profilePages() { return *this; }
  // The CUSTOM page's charts, none before it exists.
  void setChartPoints(const ChartPoints* charts) { charts_ = charts; }

  // A key letter chosen on a page: sent, then shown by every page that lists it.
  void setLetter(Field field, int index);
  // The dead-zone bands of every page's bars follow the state's zones.
  void showBands();
  // While set, the profile label's text also goes to `tap` (tkb-cli prints it).
  void setProfileLabelTap(std::function<void(const std::string&)> tap) { profileLabelTap_ = std::move(tap); }

 signals:
  // On the main thread, whichever thread the link changed on.
  void linkStateChanged(tkb::LinkState state);
  // The profile the active mode uses has another name.
  void profileChanged();
  // A profile load is over and what it sent is in the state (see ProfilePages::showLoad).
  void profileLoaded(tkb::ProfileKind kind, bool loaded);
  // A profile file was written.
  void profileSaved(tkb::ProfileKind kind);
  // The file a profile save wrote or a load took (what the recent profiles list).
  void profileFileUsed(tkb::ProfileKind kind, const QString& path);
  // The state holds the controller's zones: the pages show them (their boxes' handlers run).
  void zonesChanged();
  // The brake's upper and lower zone changed (MAX BRAKE PRESS by the wizard or a key).
  void brakeZonesChanged();
  // The pages' bars take the dead-zone bands of the state's zones.
  void bandsChanged();
  // The state holds the controller's curves.
  void curvesChanged();
  // The state's curves were read from the controller on connecting: what it has stored.
  void curvesStored();
  // The state holds the controller's key letters, or one of them was chosen.
  void lettersChanged();
  void letterChanged(tkb::Field field, int index);
  // The AutoBrake switches show on or off; nothing is sent.
  void autoBrakeChanged(bool on);
  // PRO, CUSTOM or CUSTOM with the brake stop is in force.
  void modeChanged();
  // A setting was written into the state and sent from outside the pages (tkb-cli through
  // the program): the pages show the state's value and send nothing again.
  void settingSent(tkb::Field field);

 private:
  void setProfileLabel(const std::string& text) override;
  void showLoad(ProfileKind kind, bool loaded) override;
  void showSaved(ProfileKind kind) override { emit profileSaved(kind); }
  void fileUsed(ProfileKind kind, const std::string& path) override {
    emit profileFileUsed(kind, QString::fromStdString(path));
  }
  Curve chartPoints(Pedal pedal) const override;

  const ChartPoints* charts_ = nullptr;
  std::function<void(const std::string&)> profileLabelTap_;
};

}  // namespace tkb::ui
