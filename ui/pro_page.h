// The PRO page: the calibration wizard, the dead zones with the brake limiter, APPLY, the
// PRO profile buttons, the key letters, the AutoBrake switch / test button / LED, Autocal,
// and the live bars (ProBars). Built into its container by Create_pro_page (its layout in
// pro_page_layout.cpp); each button, list and switch asks the session (ControllerModel) for
// its action, and the page shows what the session's signals say.
//
// The wizard itself (frames, states, pauses) is the session's; the page is its view: which
// buttons, texts, pictures and arrows show at each step. While an action or one of the
// wizard's pauses runs, the wizard's buttons are ignored.
#pragma once

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QObject>
#include <QPushButton>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "ui/controller_model.h"
#include "ui/live_bars.h"
#include "ui/localisation.h"
#include "ui/profile_dialogs.h"
#include "ui/switch_led.h"
#include "ui/widgets.h"

namespace tkb::ui {

// After SAVE the wizard says so this long before its panel goes.
inline constexpr int kSavedShownMs = 3000;

// Where a pedal's columns stand: the bar column x for (zones enabled, three pedals).
int proColumnX(int pedal, bool zonesEnabled, bool hasClutch);
int proZoneColumnX(int pedal, bool hasClutch);

// The wizard's texts for a step (0 start, 1-3 the pedals, 4 calibrated, above: saved with
// its note) in a language; nothing while no language is known.
void showWizardStep(std::optional<int> language, int step, QLabel* textLabel, QLabel* noteLabel);

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
  QWidget* upperMarker = nullptr;
  QWidget* lowerMarker = nullptr;
};

class ProPage : public QObject {
  Q_OBJECT

 public:
  ProPage(ControllerModel& model, LabelBoard& labels, ProfileDialogs& dialogs, QWidget* window);
  ~ProPage() override;

  void Create_pro_page(QWidget* page);
  void mostrar_controles_pro(bool show);
  void MostrarPasoCalibracion(int step);

  ProBars& bars() { return *bars_; }
  int Count() const { return model_.wizardStep(); }
  int pCount() const { return model_.wizardStep(); }
  // A wizard step or its pause is under way: the wizard's buttons wait.
  bool stepPending() const { return model_.wizardPending() || model_.busy(); }

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
  // Layout (pro_page_layout.cpp).
  QPushButton* button(const QString& text, int w, int h, int x, int y, bool bottom, bool right = false);
  void buildColumn(int pedal);
  void buildZoneColumn(int pedal);
  void buildBrakeExtras();
  void buildWizardArrows();
  void moveColumns(bool zonesEnabled);
  // The wizard's panel full size, or as a band along the page's top (while the bars below
  // it are checked, and while the saved text shows).
  void placeWizardPanel(bool band);
  // The bars, their values and names where they can be checked beside the wizard's buttons.
  void showCheckColumns();

  // What the widgets ask of the session.
  void connectButtons();
  // A sending control's click, unless an action runs (then ignored and said so).
  void onClick(QPushButton* b, std::function<void()> run);
  void onWizardClick(QPushButton* b, std::function<void()> run);
  bool ignoredWhileBusy(const char* what) const;

  // What the page shows of the session's signals.
  void connectModel();
  void pageOpened(bool calibrated);
  void pageClosed();
  void hideConfirmations(int except = -1);
  void showZoneControls(bool on);
  void showZonesFromState();
  void showZone(Field field);
  void moveMarker(int pedal, bool upper, int value);
  void showAutoBrakeWidgets(bool show);
  void showArrows(int step);
  void showKeyLetters();
  void selectLetter(Field field, int index);
  void placeControls();
  void stepShown(int step);
  void wizardClosed(bool saved);
  // The band with the saved text goes; the bars go back to their places.
  void endWizardBand();
  void updateScaleLabels();

  ControllerModel& model_;
  LabelBoard& labels_;
  ProfileDialogs& dialogs_;
  QWidget* window_;
  std::unique_ptr<ProBars> bars_;
  bool settingLists_ = false;
  bool loadAsked_ = false;  // this page's LOAD is under way: a refusal takes its confirmation
  QTimer savedShown_;       // how long the saved text stays after SAVE
};

}  // namespace tkb::ui
