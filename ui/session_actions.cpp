// The driver's actions on the session: each runs on the link thread as one action, with the
// frames and trace lines the pages' widgets always gave it, and tells the pages what changed.
// Where a page's box or list used to send its value again when the page showed a value,
// the action sends it here, in its place.
#include <algorithm>

#include "app/key_hook.h"
#include "link/trace.h"
#include "ui/controller_model.h"
#include "ui/localisation.h"

namespace tkb::ui {

namespace {
constexpr int kZoneMax = 100;
const char* const kCurveReadLines[kPedalCount] = {"\nLeemos curvas Embrague -> ", "\nLeemos curvas Freno -> ",
                                                  "\nLeemos curvas Acelerador -> "};
}  // namespace

// ---- What the pages' boxes sent when they took a value -----------------------------------

// The PRO page's boxes send every known zone they are given (clamped to 0..100), each with
// its bars restyled; the CUSTOM page's only while CUSTOM is active, then its brake stop,
// and its bars once more.
void ControllerModel::resendZonesAsShown(bool proPage, bool customPage) {
  if (!pagesBuiltOnLink_) return;
  const ControllerState& s = controller_.state;
  if (proPage) {
    for (Pedal pedal : kPedals)
      for (bool upper : {true, false}) {
        const Setting& zone = zoneSetting(pedal, upper);
        if (!s.isKnown(zone.field)) continue;
        operations_.setZone(ZonePage::Pro, pedal, upper, std::clamp(zone.get(s), 0, kZoneMax));
        traceBands();
      }
  }
  if (customPage) {
    for (Pedal pedal : kPedals) resendCustomZones(pedal);
    if (s.isKnown(Field::Cheto) && s.sportProfileActive) {
      operations_.setBrakeStop(std::clamp<int>(s.cheto, 0, kZoneMax));
      publish([this] { emit modeChanged(); });
    }
    traceBands();
  }
}

void ControllerModel::resendCustomZones(Pedal pedal) {
  const ControllerState& s = controller_.state;
  for (bool upper : {true, false}) {
    const Setting& zone = zoneSetting(pedal, upper);
    if (!s.isKnown(zone.field) || !s.sportProfileActive) continue;
    operations_.setZone(ZonePage::Custom, pedal, upper, std::clamp(zone.get(s), 0, kZoneMax));
    traceBands();
  }
}

void ControllerModel::resendBrakeZonesOnCustom() {
  if (!pagesBuiltOnLink_) return;
  resendCustomZones(Pedal::Brake);
}

void ControllerModel::languageChosen(int index) {
  trace("\nLanguage selected is %s\n", kLanguageNames[index]);
  setLanguage(controller_.state, kLanguageNames[index]);  // the driver's choice, or the one read
  controller_.MandarDatosIdioma();
  publish([this, index] { emit languageChanged(index); });
}

void ControllerModel::readCurvesBack(bool) {
  const ControllerState& state = controller_.state;
  for (Pedal pedal : kPedals) {
    controller_.query(*curveSetting(pedal).query);
    trace("%s", kCurveReadLines[pedalIndex(pedal)]);
    const Curve& curve = curveOf(state, pedal);
    for (int i = 0; i < kCurvePoints; ++i) trace("\n\tDato %d -> %d", i, curve[i]);
  }
}

// The page's mark of CUSTOM in force, the mode label and the profile label.
void ControllerModel::showCustomModeActive() {
  publish([this] {
    emit customModeShown();
    emit modeChanged();
    emit profileChanged();
  });
}

// ---- Main page ------------------------------------------------------------------------

void ControllerModel::selectLanguage(int index) {
  post([this, index] {
    if (index >= 0 && index < kLanguageCount) {
      languageChosen(index);
    } else {
      trace("Language not found\n");
      publish([this] { emit languageChanged(-1); });
    }
  });
}

void ControllerModel::setModel(int listIndex) {
  post([this, listIndex] {
    trace("\nCambio de Modelo - Inicio");
    setSetting(controller_.state, Field::Model, listIndex >= 0 && listIndex < 6 ? listIndex + 1 : 1);
    controller_.MandarModelo();
    publish([this] { emit modelColourChanged(); });
    trace("\nCambio de Modelo - Fin");
  });
}

void ControllerModel::setColour(int listIndex) {
  post([this, listIndex] {
    trace("\nCambio de Color - Inicio");
    setSetting(controller_.state, Field::Color, listIndex >= 0 && listIndex < 2 ? listIndex + 1 : 1);
    controller_.MandarColor();
    publish([this] { emit modelColourChanged(); });
    trace("\nCambio de Color - Fin");
  });
}

void ControllerModel::activateMode(bool custom) {
  post([this, custom] {
    const char* branch = custom ? "Activar SPORT" : "Activar PRO";
    trace("\n%s pressed - Inicio", branch);
    operations_.activateMode(custom);
    publish([this] { emit modeChanged(); });
    trace("\n%s pressed - Final\n", branch);
  });
}

void ControllerModel::openProPage() {
  openPage_ = Page::Pro;
  post([this] {
    ControllerState& s = controller_.state;
    const bool calibrated = s.calibrated;
    trace("\nPro Button pressed - Inicio");
    publish([this, calibrated] { emit proPageOpened(calibrated); });
    // The zones on for a calibrated set, off for the wizard.
    trace(calibrated ? "\nSet zones PRO pressed - Inicio" : "\nReset zones PRO pressed - Inicio");
    operations_.setZonesEnabled(calibrated);
    if (calibrated) traceBands();
    publish([this, calibrated] { emit zoneControlsShown(calibrated); });
    trace(calibrated ? "\nSet zones PRO pressed - Final\n" : "\nReset zones PRO pressed - Final\n");
    if (calibrated) {
      operations_.activateMode(false);
      publish([this] { emit modeChanged(); });
    }
    // The page shows the zones the controller really holds (and its boxes send them).
    operations_.readZones();
    resendZonesAsShown(true, false);
    publish([this] { emit zonesChanged(); });
    trace("\nPro Button pressed - Final\n");
  });
}

void ControllerModel::closeProPage() {
  post([this] {
    ControllerState& s = controller_.state;
    trace("\nExit Pro pressed - Inicio");
    wizard_->close();
    if (s.sportProfileLoaded) s.calibrated = true;
    if (!s.sportProfileActive) s.proProfileActive = true;
    publish([this] {
      openPage_ = Page::None;
      emit proPageClosed();
    });
    if (s.sportProfileLoaded) {
      for (Query q : {Query::ClutchCurve, Query::BrakeCurve, Query::ThrottleCurve}) controller_.query(q);
      publish([this] { emit curvesChanged(); });
    }
    trace("\nExit Pro pressed - Final\n");
  });
}

void ControllerModel::openCustomPage() {
  openPage_ = Page::Custom;
  post([this] {
    trace("\nSports Button pressed - Inicio");
    publish([this] {
      emit customPageOpened();
      emit autoBrakeChanged(shown_.autoBrake != 0);
    });
    resendZonesAsShown(false, true);
    publish([this] { emit zonesChanged(); });
    operations_.openCustom();
    publish([this] { emit modeChanged(); });
    trace("\nSports Button pressed - Final\n");
  });
}

void ControllerModel::closeCustomPage() {
  post([this] {
    ControllerState& s = controller_.state;
    trace("\nClose SPORT pressed - Inicio");
    publish([this] { openPage_ = Page::None; });
    // What the controller really holds goes into the state and the charts.
    readCurvesBack(true);
    publish([this] { emit curvesChanged(); });
    if (s.sportProfileLoaded) s.calibrated = true;
    if (!s.sportProfileActive) s.proProfileActive = true;
    publish([this] { emit customPageClosed(); });
    if (usageLog_) usageLog_->modeLine(s);
    trace("\nClose SPORT pressed - Final\n");
  });
}

// ---- The calibration wizard -------------------------------------------------------------

// The wizard's pause runs on the main thread's timer; its end is the next action.
void ControllerModel::startPause(CalibrationPause pause) {
  if (!pause) return;
  publish([this, pause] {
    wizardPending_ = true;
    QTimer::singleShot(pause.ms, this, [this] {
      post([this] {
        wizard_->resume();
        publish([this] { wizardPending_ = false; });
      });
    });
  });
}

void ControllerModel::calibrate() {
  post([this] { startPause(wizard_->calibrate()); });
}

void ControllerModel::calibrationNext() {
  post([this] { wizard_->next(); });
}

void ControllerModel::saveCalibration() {
  post([this] { startPause(wizard_->save()); });
}

void ControllerModel::cancelCalibration() {
  post([this] { wizard_->cancel(); });
}

void ControllerModel::autocal() {
  if (!pagesBuilt_) return;
  // The statistics start again once Autocal has taken them.
  const BrakeExcess taken = readout_.excess();
  if (taken.numero != 0) {
    readout_.excess().parcial = 0;
    readout_.excess().numero = 0;
  }
  post([this, taken] {
    BrakeExcess excess = taken;
    tkb::autocal(controller_, excess, usageLog_.get(), calibrationView());
  });
}

// ---- Zones, brake stop, letters, auto-brake ------------------------------------------------

void ControllerModel::setZone(Page page, Pedal pedal, bool upper, int value) {
  post([this, page, pedal, upper, value] {
    const bool custom = page == Page::Custom;
    if (custom && !controller_.state.sportProfileActive) return;
    operations_.setZone(custom ? ZonePage::Custom : ZonePage::Pro, pedal, upper, std::clamp(value, 0, kZoneMax));
    traceBands();
    publish([this, field = zoneSetting(pedal, upper).field] { emit zoneSent(field); });
  });
}

void ControllerModel::setBrakeStop(int value) {
  post([this, value] {
    if (!controller_.state.sportProfileActive) return;
    operations_.setBrakeStop(std::clamp(value, 0, kZoneMax));
    publish([this] {
      emit zoneSent(Field::Cheto);
      emit modeChanged();  // "Mode: CUSTOM M" follows the brake stop
    });
  });
}

void ControllerModel::stepZone(Page page, Pedal pedal, bool upper, int delta) {
  post([this, page, pedal, upper, delta] {
    const ControllerState& s = controller_.state;
    const Setting& upperZone = zoneSetting(pedal, true);
    const Setting& lowerZone = zoneSetting(pedal, false);
    const Field field = upper ? upperZone.field : lowerZone.field;
    // A step from a value that is not known would send a made-up one.
    if (!s.isKnown(upperZone.field) || !s.isKnown(lowerZone.field)) {
      trace(page == Page::Custom ? "SPORT-EV - dead zone not known: step ignored\n"
                                 : "\nPRO-EV - dead zone not known: step ignored");
      return;
    }
    const int upperValue = std::clamp(upperZone.get(s), 0, kZoneMax);
    const int lowerValue = std::clamp(lowerZone.get(s), 0, kZoneMax);
    if (page == Page::Custom) {
      const auto next = customZoneStep(upper, delta, upperValue, lowerValue);
      if (!next || !s.sportProfileActive) return;
      operations_.setZone(ZonePage::Custom, pedal, upper, *next);
    } else {
      if (!zoneStepAllowed(pedal, upper, delta > 0, upperValue, lowerValue, s.brakeMax)) return;
      operations_.setZone(ZonePage::Pro, pedal, upper, (upper ? upperValue : lowerValue) + (delta > 0 ? 1 : -1));
    }
    traceBands();
    publish([this, field] { emit zoneSent(field); });
  });
}

void ControllerModel::stepBrakeStop(int delta) {
  post([this, delta] {
    const ControllerState& s = controller_.state;
    if (!s.isKnown(Field::Cheto)) {
      trace("SPORT-EV - brake limiter not known: step ignored\n");
      return;
    }
    if (!s.sportProfileActive) return;
    operations_.setBrakeStop(brakeStopStep(std::clamp<int>(s.cheto, 0, kZoneMax), delta));
    publish([this] {
      emit zoneSent(Field::Cheto);
      emit modeChanged();  // "Mode: CUSTOM M" follows the brake stop
    });
  });
}

void ControllerModel::setLetter(Page page, Field field, int index, const char* traceLine) {
  post([this, page, field, index, traceLine] {
    // CUSTOM's PRESS and LIMITER lists send only while CUSTOM is active, and print their
    // line after the frame; the others print it first.
    const bool customList = page == Page::Custom && field != Field::LetterAutoBrake;
    if (customList && (!controller_.state.sportProfileActive || index < 0)) return;
    if (!customList && traceLine != nullptr) trace("%s", traceLine);
    if (operations_.setLetter(field, index)) publish([this, field, index] { emit letterChanged(field, index); });
    if (customList && traceLine != nullptr) trace("%s", traceLine);
  });
}

void ControllerModel::setAutoBrake(Page page, bool on) {
  post([this, page, on] {
    if (page == Page::Custom) {
      if (controller_.state.sportProfileActive) operations_.setAutoBrake(on);
      return;
    }
    operations_.setAutoBrake(on);
    if (!on && operations_.endAutoBrakeTest()) publish([this] { emit autoBrakeLed(false, kAutoBrakeLedOff); });
  });
}

void ControllerModel::testAutoBrake(bool pressed) {
  post([this, pressed] {
    operations_.testAutoBrake(pressed);
    publish([this, pressed] { emit autoBrakeLed(false, pressed ? kAutoBrakeLedOn : kAutoBrakeLedOff); });
  });
}

// ---- APPLY, DEFAULT, curves ---------------------------------------------------------------

void ControllerModel::applyPro() {
  post([this] {
    trace("\nAplicar zones PRO pressed - Inicio");
    operations_.storeZones();
    profiles_->recordActiveProfile(basePath_);
    trace("\nAplicar zones PRO pressed - Final\n");
    publish([this] { emit applied(Page::Pro); });
  });
}

void ControllerModel::applyCustom() {
  post([this] {
    trace("\nAplicar zones SPORT pressed - Inicio");
    operations_.storeZonesAndCurves();
    // The controller stores the curves it was sent: the state's.
    publish([this] { emit applied(Page::Custom); });
    profiles_->recordActiveProfile(basePath_);
    trace("\nAplicar zones SPORT pressed - Final\n");
  });
}

void ControllerModel::defaultCurve(Pedal pedal) {
  post([this, pedal] {
    trace("Default button (%d) pressed SPORT -- Inicio\n", pedalIndex(pedal));
    resendCustomZones(pedal);
    operations_.defaultCurve(pedal);
    showCustomModeActive();
    trace("\nDefault button (%d) pressed SPORT -- Final\n", pedalIndex(pedal));
  });
}

void ControllerModel::defaultAllCurves() {
  post([this] {
    trace("Default button pressed SPORT -- Inicio\n");
    for (Pedal pedal : kPedals) resendCustomZones(pedal);
    publish([this] { emit zonesChanged(); });
    trace("\nDefault button pressed SPORT -- Final\n");
  });
}

void ControllerModel::sendCurve(Pedal pedal, const Curve& curve) {
  post([this, pedal, curve] { operations_.sendCurve(pedal, curve); });
}

// ---- Profiles -----------------------------------------------------------------------------

void ControllerModel::saveProfile(ProfileKind kind, std::optional<std::string> path) {
  post([this, kind, path = std::move(path)] {
    const bool saved = profiles_->save(kind, path);
    if (!saved) publish([this, kind] { emit profileNotSaved(kind); });
  });
}

void ControllerModel::loadProfile(ProfileKind kind, std::optional<std::string> path) {
  post([this, kind, path = std::move(path)] {
    const auto refusal = profiles_->load(kind, path);
    if (refusal) publish([this, refusal = *refusal] { emit profileRefused(refusal); });
  });
}

void ControllerModel::loadProfileFile(ProfileKind kind, const std::string& path) { loadProfile(kind, path); }

// ---- The pedals' keyboard -----------------------------------------------------------------

namespace {

// What the keys do, on the link thread: the same procedures as the pages' buttons.
class LinkKeyActions : public KeyActions {
 public:
  LinkKeyActions(bool pagesBuilt, bool customOpen, std::function<void(KeyAction)> run)
      : pagesBuilt_(pagesBuilt), customOpen_(customOpen), run_(std::move(run)) {}
  bool pagesBuilt() const override { return pagesBuilt_; }
  bool customPageOpen() const override { return customOpen_; }
  void autocal() override { run_(KeyAction::Autocal); }
  void proBrakeUpperStep(int delta) override {
    run_(delta < 0 ? KeyAction::ProBrakeUpperMinus : KeyAction::ProBrakeUpperPlus);
  }
  void customBrakeUpperStep(int delta) override {
    run_(delta < 0 ? KeyAction::CustomBrakeUpperMinus : KeyAction::CustomBrakeUpperPlus);
  }
  void customBrakeStopStep(int delta) override {
    run_(delta < 0 ? KeyAction::CustomBrakeStopMinus : KeyAction::CustomBrakeStopPlus);
  }
  void setAutoBrakeLed(bool customPage, int brightness) override { led(customPage, brightness); }
  std::function<void(bool, int)> led;

 private:
  bool pagesBuilt_, customOpen_;
  std::function<void(KeyAction)> run_;
};

}  // namespace

void ControllerModel::keyEvent(const KeyEvent& event) {
  const bool pagesBuilt = phase_ == Phase::Running && linkFree();
  const bool customOpen = openPage_ == Page::Custom;
  // Autocal's statistics are the main thread's: the ABS key takes them now, as the ABS
  // button does, and they start again.
  BrakeExcess taken;
  if (pagesBuilt && matchKey(event, keyHookInputs(shown_, customOpen)) == KeyAction::Autocal) {
    taken = readout_.excess();
    if (taken.numero != 0) readout_.excess().parcial = readout_.excess().numero = 0;
  }
  post([this, event, pagesBuilt, customOpen, taken] {
    LinkKeyActions actions(pagesBuilt, customOpen, [&](KeyAction action) {
      const ControllerState& s = controller_.state;
      switch (action) {
        case KeyAction::Autocal: {
          BrakeExcess excess = taken;
          tkb::autocal(controller_, excess, usageLog_.get(), calibrationView());
          break;
        }
        case KeyAction::ProBrakeUpperMinus:
        case KeyAction::ProBrakeUpperPlus:
          if (stepMaxBrakePress(operations_, action == KeyAction::ProBrakeUpperMinus ? -1 : +1)) {
            traceBands();
            publish([this] { emit zoneSent(Field::BrakeUpper); });
          }
          break;
        case KeyAction::CustomBrakeUpperMinus:
        case KeyAction::CustomBrakeUpperPlus: {
          if (!s.isKnown(Field::BrakeUpper) || !s.isKnown(Field::BrakeLower)) {
            trace("SPORT-EV - dead zone not known: step ignored\n");
            break;
          }
          const int delta = action == KeyAction::CustomBrakeUpperMinus ? -1 : +1;
          const auto next = customZoneStep(true, delta, std::clamp<int>(s.brakeUpper, 0, kZoneMax),
                                           std::clamp<int>(s.brakeLower, 0, kZoneMax));
          if (next && s.sportProfileActive && operations_.setZone(ZonePage::Custom, Pedal::Brake, true, *next)) {
            traceBands();
            publish([this] { emit zoneSent(Field::BrakeUpper); });
          }
          break;
        }
        case KeyAction::CustomBrakeStopMinus:
        case KeyAction::CustomBrakeStopPlus:
          if (!s.isKnown(Field::Cheto)) {
            trace("SPORT-EV - brake limiter not known: step ignored\n");
          } else if (s.sportProfileActive) {
            const int delta = action == KeyAction::CustomBrakeStopMinus ? -1 : +1;
            operations_.setBrakeStop(brakeStopStep(std::clamp<int>(s.cheto, 0, kZoneMax), delta));
            publish([this] {
              emit zoneSent(Field::Cheto);
              emit modeChanged();
            });
          }
          break;
        default: break;
      }
    });
    actions.led = [this](bool customPage, int brightness) {
      publish([this, customPage, brightness] { emit autoBrakeLed(customPage, brightness); });
    };
    KeyHook(controller_, actions).keyboardHookProc(event);
  });
}

}  // namespace tkb::ui
