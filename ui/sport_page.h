// The CUSTOM page: one panel per pedal (curve editor, upper and lower dead zone, live
// input and output bars, DEFAULT; the brake panel also the brake stop and its press
// history), the four key-letter lists of CUSTOM mode, the auto-brake group and the page
// buttons. Each widget is connected to what it runs, sport_chart_handler serves the charts;
// the Application builds it (Create_sport_page) and runs its key actions; it shows what the
// ControllerModel says changed.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QPushButton>
#include <array>
#include <memory>
#include <optional>

#include "app/profiles.h"
#include "ui/controller_model.h"
#include "ui/curve_chart.h"
#include "ui/curve_history.h"
#include "ui/curve_presets.h"
#include "ui/live_bars.h"

namespace tkb::ui {

class Application;
class PageProfiles;
class PedalBar;
class ValueBox;
class ToggleSwitch;
class Led;

inline constexpr int kSportPanelWidth = 263, kSportPanelHeight = 500;
inline constexpr int kBrakeHistoryEntries = 10;
inline constexpr const char* kReadoutBlank = "               ";  // 15 blanks

// Where each chart's plotting area starts on the window, by pedal (0 clutch, 1 brake,
// 2 throttle), for pedal sets with and without a clutch. The pointer columns are counted
// from here.
int chartLeftEdge(bool hasClutch, int pedal);

// The marker rows of a value (panel pixels): upper dead zone and brake stop, lower dead zone.
int upperMarkerY(int value);
int lowerMarkerY(int value);

struct SportPedalPanel {
  QWidget* panel = nullptr;
  QLabel* title = nullptr;
  QPushButton* upperMinus = nullptr;
  QPushButton* upperPlus = nullptr;
  ValueBox* upper = nullptr;
  QLabel* upperLabel = nullptr;
  QPushButton* lowerMinus = nullptr;
  QPushButton* lowerPlus = nullptr;
  ValueBox* lower = nullptr;
  QLabel* lowerLabel = nullptr;
  QWidget* upperMarker = nullptr;
  QWidget* lowerMarker = nullptr;
  CurveChart* chart = nullptr;
  QLabel* readoutX = nullptr;
  QLabel* readoutY = nullptr;
  PedalBar* input = nullptr;
  PedalBar* output = nullptr;
  QLabel* inputValue = nullptr;
  QLabel* outputValue = nullptr;
  QPushButton* defaultButton = nullptr;
  QComboBox* presets = nullptr;  // the ready-made curves of presetsFor(), above the chart
  // Left of the title, shown while the chart's curve differs from what the controller
  // has stored (APPLY clears it) and from the last profile loaded or saved.
  QLabel* notStored = nullptr;
  QLabel* notSaved = nullptr;
};

struct SportWidgets {
  QWidget* page = nullptr;
  QLabel* adjustmentTitle = nullptr;
  std::array<SportPedalPanel, 3> pedals{};
  // Brake panel only.
  QPushButton* brakeStopMinus = nullptr;
  QPushButton* brakeStopPlus = nullptr;
  ValueBox* brakeStop = nullptr;
  QLabel* brakeStopLabel = nullptr;
  QWidget* brakeStopMarker = nullptr;
  QLabel* brakeStopIndicator = nullptr;  // shown while the brake stop is active
  std::array<QLabel*, kBrakeHistoryEntries> brakeHistory{};
  // Page level.
  QPushButton* close = nullptr;
  QPushButton* defaultAll = nullptr;
  QPushButton* load = nullptr;
  QPushButton* save = nullptr;
  QPushButton* apply = nullptr;
  // Mas, Menos, Mas 2, Menos 2.
  std::array<QComboBox*, 4> letters{};
  ToggleSwitch* autoBrakeSwitch = nullptr;
  QLabel* autoBrakeCaption = nullptr;        // "Autobrake", two-pedal sets
  QLabel* clutchAutoBrakeCaption = nullptr;  // "Autobrake     " in the clutch panel
  Led* autoBrakeLed = nullptr;
  QComboBox* autoBreakList = nullptr;
};

enum SportLetterList { kListMas = 0, kListMenos = 1, kListMas2 = 2, kListMenos2 = 3 };

class SportPage : private ChartPoints {
 public:
  SportPage(Application& app, PageProfiles& profiles);
  ~SportPage() override;
  SportPage(const SportPage&) = delete;
  SportPage& operator=(const SportPage&) = delete;

  // The key actions: the brake upper zone and brake stop "-"/"+" (delta -1 or +1), the
  // AutoBrake LED (255 full, 100 dim).
  void brakeUpperStep(int delta);
  void brakeStopStep(int delta);
  void setLed(int brightness);

  // Builds the page into its container, hidden, with the default curves (also copied into
  // the controller state).
  void Create_sport_page(QWidget* container);
  void sport_chart_handler(CurveChart* chart, ChartEvent event, QPoint windowPos);
  // The keyboard's edits of a chart's selected point, sent as a drag is: on the key's release.
  void sport_chart_key_handler(CurveChart* chart, ChartKeyEdit edit);
  // Ctrl+Z, and Ctrl+Shift+Z or Ctrl+Y while the page is shown: the curve before (after)
  // the last finished edit or DEFAULT goes back onto its chart and out with a B6.
  void undoCurve();
  // A preset goes onto the pedal's chart and out as a finished edit: curve, B6, one step
  // of the history.
  void applyPreset(int pedal, const CurvePreset& preset);
  void redoCurve();
  const CurveHistory& history() const { return history_; }

  bool isOpen() const { return open_; }
  bool built() const { return widgets_.page != nullptr; }
  const SportWidgets& widgets() const { return widgets_; }
  CustomBars& bars() { return *bars_; }
  // The receiver of the page's connections: they end with the page object.
  QObject* context() { return &context_; }

 private:
  template <typename F>
  void run(F action);
  template <typename F>
  void onClick(QPushButton* b, F action);
  void autoBreakListChanged();
  void zoneChanged(int pedal, bool upper, int value);
  void brakeStopChanged(int value);
  void stepZone(int pedal, bool upper, int delta);
  void stepBrakeStop(int delta);
  void letterChanged(int list, int index);
  void defaultPedal(int pedal);
  void defaultAll();
  void applySettings();
  void showCustomModeActive(bool brakeStopActive);
  void showBrakeStopIndicator(bool active);
  void redrawBars();

  // What the page shows of the model's changes.
  void connectModel();
  Curve chartPoints(Pedal pedal) const override;
  void showLoad(ProfileKind kind, bool loaded);
  void showBrakeZones();
  void selectLetter(Field field, int index);
  void moveMarkers(const ZoneValues& zones, int brakeStop);
  void showStateZones();
  void showSent(Field field);
  void showCurvesFromState();
  void showKeyLetters();
  void pageOpened();
  void closePage();
  void readCurvesBack();
  void followLiveInputs();
  int chartPedal(const CurveChart* chart) const;
  void beginChartEdit(int pedal);
  void finishChartEdit(int pedal);
  void restoreCurve(const std::optional<CurveHistory::Restore>& restore, const char* what);
  void buildUndoKeys(QWidget* page);
  void buildPresetList(int pedal, SportPedalPanel& p);
  void buildMarks(SportPedalPanel& p);
  // Each chart's marks, from its curve against the two baselines.
  void showMarks();
  // The state's known curves become the baseline (the controller's stored curves, or the
  // profile's).
  void takeBaseline(std::array<std::optional<Curve>, kPedalCount>& baseline);

  void buildPanel(int pedal, QWidget* page, bool hasClutch);
  void buildBrakeParts(SportPedalPanel& brake);
  void buildPageButtons(QWidget* page);
  void buildLetterLists(QWidget* page);
  void buildAutoBrakeGroup(QWidget* page, bool hasClutch);
  void publishBars();

  Application& app_;
  QPointer<ControllerModel> model_;
  PageProfiles& profiles_;
  SportWidgets widgets_;
  std::unique_ptr<CustomBars> bars_;
  bool open_ = false;
  CurveHistory history_;
  // Each chart's curve as it was when the edit under way began.
  std::array<std::optional<Curve>, kPedalCount> editStart_{};
  // What the controller has stored (read on connecting, or stored by APPLY), and what the
  // last profile loaded or saved holds (before any, what was read on connecting).
  std::array<std::optional<Curve>, kPedalCount> storedCurves_{};
  std::array<std::optional<Curve>, kPedalCount> savedCurves_{};
  bool profileBaseline_ = false;
  QObject context_;
};

}  // namespace tkb::ui
