// What the PRO and CUSTOM pages ask of each other, and the pieces both share: the profile
// operations (one PerfilActual for the whole program) with their file dialog, and the
// pedal readout behind both pages' live bars, whose brake-excess statistics Autocal consumes. Each page fills
// its half of PageLinks when it is built; a link that is still empty does nothing.
#pragma once

#include <functional>
#include <memory>

#include "app/pedal_readout.h"
#include "app/profiles.h"
#include "link/controller_state.h"
#include "link/settings.h"


namespace tkb::ui {

class Application;

// The pages' per-pedal widgets stand in arrays indexed by the pedal's number.
inline constexpr int kClutchPedal = pedalIndex(Pedal::Clutch);
inline constexpr int kBrakePedal = pedalIndex(Pedal::Brake);
inline constexpr int kThrottlePedal = pedalIndex(Pedal::Throttle);

struct ProPageLinks {
  // A profile load sent the zones: the six dead-zone spin boxes, markers, scale labels
  // and bands show the state's, nothing is sent again.
  std::function<void()> showLoadedZones;
  // The same from the state: a zone the controller's value of which is not known stays
  // blank (and is not sent).
  std::function<void()> showStateZones;
  // The MAX BRAKE PRESS and brake lower spin boxes alone (ReaplicarFreno).
  std::function<void(int upper, int lower)> showBrakeZones;
  // The Mas and Menos key lists show an entry (the CUSTOM page's lists are copied here).
  std::function<void(int index)> selectLetterMas;
  std::function<void(int index)> selectLetterMenos;
  // The AutoBrake switch, animated; sends nothing.
  std::function<void(bool on)> setAutoBrakeSwitch;
  // Restyles the dead-zone bands of every bar of both pages from the state's zones.
  std::function<void()> ActualizarBarras;
};

struct CustomPageLinks {
  // A profile load is over (see ProfilePages::showLoad): the page shows the state, sends
  // nothing.
  std::function<void(ProfileKind kind, bool loaded)> showLoad;
  // The six dead-zone spin boxes and the brake-stop spin box from the state (each set
  // runs the page's handler), unknown values blank, markers moved.
  std::function<void()> showStateZones;
  std::function<void(int upper, int lower)> showBrakeZones;
  std::function<void(int index)> selectLetterMas;
  std::function<void(int index)> selectLetterMenos;
  std::function<void(bool on)> setAutoBrakeSwitch;
  // The output bars take the dead-zone bands of the state's zones.
  std::function<void()> showBands;
  // The charts take the state's curves and redraw.
  std::function<void()> showCurvesFromState;
  std::function<Curve(int pedal)> chartPoints;
  std::function<bool()> isOpen;
};

using tkb::BrakeExcess;

struct PageLinks {
  ProPageLinks pro;
  CustomPageLinks custom;
  // The trackers, history columns and brake statistics of both pages' live bars.
  PedalReadout readout;
};

// Shared by both pages: the links, and the profile operations with a QFileDialog and the
// page updates routed through the links.
class SharedPages {
 public:
  explicit SharedPages(Application& app);
  ~SharedPages();

  PageLinks links;
  Profiles& profiles() { return *profiles_; }

  // Tests answer the profile file dialogs with a script (the chosen path, or nothing for
  // a cancelled dialog); an empty script brings the QFileDialog back.
  using FileChooserScript = std::function<std::optional<std::string>(const FileDialogRequest&)>;
  void scriptFileChooser(FileChooserScript script);

 private:
  class DialogChooser;
  class LinkedProfilePages;
  std::unique_ptr<DialogChooser> chooser_;
  std::unique_ptr<LinkedProfilePages> pages_;
  std::unique_ptr<Profiles> profiles_;
};

}  // namespace tkb::ui
