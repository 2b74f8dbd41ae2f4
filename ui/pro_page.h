// The PRO page: the calibration wizard, the dead zones with the brake limiter, APPLY,
// the PRO profile buttons, the key letters, the AutoBrake switch / test button / LED,
// Autocal, and the live bars (ProBars). Built into Application::proPage() by
// Create_pro_page; each button, spin box, list and switch is connected to what it runs,
// and the page shows what the ControllerModel says changed.
//
// The wizard itself (frames, states, pauses) is app/calibration's CalibrationWizard; the
// page is its view: which buttons, texts, pictures and arrows show at each step. The two
// pauses (450 ms after the joystick calibration reset, 100 ms after the controller stored
// the points) do not block the window: the wizard resumes from a single-shot timer. While
// one is pending, the wizard's buttons (CALIBRATE, NEXT, SAVE, CANCEL, CLOSE) are ignored.
#pragma once

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <array>
#include <memory>

#include "app/calibration.h"
#include "ui/application.h"
#include "ui/live_bars.h"
#include "ui/controller_model.h"
#include "ui/switch_led.h"
#include "ui/widgets.h"

namespace tkb::ui {


// Where a pedal's columns stand: the bar column x for (zones enabled, three pedals).
int proColumnX(int pedal, bool zonesEnabled, bool hasClutch);
int proZoneColumnX(int pedal, bool hasClutch);

struct ZoneColumn {
  QFrame* column = nullptr;
  QLabel* upperLabel = nullptr;
  QLabel* lowerLabel = nullptr;
  ValueBox* upper = nullptr;
  ValueBox* lower = nullptr;
  QPushButton* upperMinus = nullptr;
  QPushButton* upperPlus = nullptr;
  QPushButton* lowerMinus = nullptr;
  QPushButton* lowerPlus = nullptr;
  QFrame* upperMarker = nullptr;
  QFrame* lowerMarker = nullptr;
};

class ProPage : private CalibrationView {
 public:
  ProPage(Application& app, Profiles& profiles);
  ~ProPage();

  void Create_pro_page(QWidget* page);
  void mostrar_controles_pro(bool show);
  void MostrarPasoCalibracion(int step);

  // The loadSettings steps and the PRO button's reaction.
  void showZonesFromState();
  void placeControls();
  void showKeyLetters();
  void pageOpened(bool calibrated);
  // Key actions: the Autocal branch, MAX BRAKE PRESS steps, the AutoBrake LED.
  void autocal();
  void brakeUpperStep(int delta);
  // The program ends: a calibration in the middle is closed on the controller (old points
  // back, zones on), or, when SAVE is storing, finished after its pause.
  void endCalibration();
  void setLed(int brightness);

  ProBars& bars() { return *bars_; }
  const CalibrationWizard& wizard() const { return wizard_; }
  int Count() const { return wizard_.count(); }
  int pCount() const { return wizard_.pCount(); }
  bool stepPending() const { return pending_; }
  // The receiver of the page's connections: they end with the page object.
  QObject* context() { return &timerContext_; }

  // The widgets (tests click them).
  QWidget* page = nullptr;
  QPushButton *calibrate = nullptr, *next = nullptr, *cancel = nullptr, *saveCalibration = nullptr;
  QPushButton *apply = nullptr, *saveProfile = nullptr, *loadProfile = nullptr, *close = nullptr;
  QFrame* wizardPanel = nullptr;
  QLabel *wizardText = nullptr, *wizardNote = nullptr;
  std::array<QLabel*, 4> confirmations{};  // applied, saved, loaded, not saved
  std::array<QLabel*, 3> names{};
  std::array<QFrame*, 3> barColumns{};
  std::array<QFrame*, 3> valueBoxes{};
  std::array<QFrame*, 3> historyColumns{};
  std::array<std::array<QLabel*, 2>, 3> scaleLabels{};  // "0" and "100" per column
  std::array<ZoneColumn, 3> zones{};
  QPushButton* abs = nullptr;
  QComboBox *absList = nullptr, *masList = nullptr, *menosList = nullptr, *autoBrakeList = nullptr;
  ToggleSwitch* autoBrakeSwitch = nullptr;
  QLabel* autoBrakeLabel = nullptr;
  QPushButton* autoBrakeTest = nullptr;
  Led* led = nullptr;
  // Captions of the ABS, Mas, Menos and AutoBrake lists.
  std::array<QLabel*, 4> listCaptions{};
  // The wizard's arrows over the calibration picture, by pedal: press this one, rest.
  std::array<QLabel*, 3> pressArrows{};
  std::array<QLabel*, 3> restArrows{};
  int ledBrightness() const { return led != nullptr ? led->brightness() : 0; }

 private:
  void buildColumn(int pedal);
  void buildZoneColumn(int pedal);
  void buildBrakeExtras();
  // Each button runs its branch as one action of the driver.
  template <typename F>
  void onClick(QPushButton* b, F run);
  template <typename F>
  void onWizardClick(QPushButton* b, F run);
  void connectButtons();
  QPushButton* button(const QString& text, int w, int h, int x, int y, bool bottom, bool right = false);
  void hideConfirmations(int except = -1);
  void showZoneControls(bool on);
  // Zones on (the zone controls shown) or off, on the controller and the page.
  void switchZones(bool on);
  // The state's zones on the boxes and markers, without sending them again.
  void showLoadedZones();
  void moveMarker(int pedal, bool upper, int value);
  void zoneChanged(int pedal, bool upper, int value);
  void zoneButton(int pedal, bool upper, bool plus);
  void moveColumns(bool zonesEnabled);
  void showAutoBrakeWidgets(bool show);
  void showArrows(int step);
  void exitPro();
  // Runs the wizard's pause on a timer, then resumes it.
  void afterPause(CalibrationPause pause);
  // CalibrationView: the widgets of each point of the wizard and of Autocal.
  void calibrationStarted() override;
  void zoneControlsShown(bool on) override;
  void wizardOpened() override;
  void stepShown(int step) override;
  void calibrationEnding() override;
  void zoneAreaShown() override;
  void zoneShown(Field field, std::optional<int> value) override;
  void zonesShown() override;
  void modeShown() override;
  void wizardClosed(bool saved) override;
  void profileShown() override;
  void brakeZonesShown() override;
  // Restyles the dead-zone bands of both pages' bars from the state's zones.
  void ActualizarBarras();
  // What the page shows of the model's changes.
  void connectModel();
  void selectLetter(Field field, int index);

  Application& app_;
  Profiles& profiles_;
  std::unique_ptr<ProBars> bars_;
  CalibrationWizard wizard_;
  bool pending_ = false;
  bool showingSent_ = false;  // a zone box shows a value the wizard has sent
  bool settingLists_ = false;
  bool showingOwnZones_ = false;  // the wizard tells the other page of zones this one shows
  // The paused wizard steps end with this object: none runs after the page object is gone.
  QObject timerContext_;
};

}  // namespace tkb::ui
