// The CUSTOM page: one panel per pedal (curve editor, upper and lower dead zone, live input
// and output bars, DEFAULT; the brake panel also the brake stop and its press history), the
// four key-letter lists of CUSTOM mode, the auto-brake group and the page buttons. Built into
// its container by Create_sport_page (its layout in sport_page_layout.cpp); each widget asks
// the session (ControllerModel) for its action, the charts are edited here and sent when an
// edit ends, and the page shows what the session's signals say.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QObject>
#include <QPoint>
#include <QPushButton>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "app/profiles.h"
#include "ui/controller_model.h"
#include "ui/curve_chart.h"
#include "ui/curve_history.h"
#include "ui/curve_presets.h"
#include "ui/live_bars.h"
#include "ui/localisation.h"
#include "ui/profile_dialogs.h"

namespace tkb::ui {

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

class SportPage : public QObject, private ChartPoints {
  Q_OBJECT

 public:
  SportPage(ControllerModel& model, LabelBoard& labels, ProfileDialogs& dialogs);
  ~SportPage() override;
  SportPage(const SportPage&) = delete;
  SportPage& operator=(const SportPage&) = delete;

  // Builds the page into its container, hidden, with straight curves on its charts.
  void Create_sport_page(QWidget* container);
  void sport_chart_handler(CurveChart* chart, ChartEvent event, QPoint windowPos);
  // The keyboard's edits of a chart's selected point, sent as a drag is: on the key's release.
  void sport_chart_key_handler(CurveChart* chart, ChartKeyEdit edit);
  // Ctrl+Z, and Ctrl+Shift+Z or Ctrl+Y while the page is shown: the curve before (after)
  // the last finished edit or DEFAULT goes back onto its chart and out with a B6.
  void undoCurve();
  void redoCurve();
  // A preset goes onto the pedal's chart and out as a finished edit: curve, B6, one step
  // of the history.
  void applyPreset(int pedal, const CurvePreset& preset);
  const CurveHistory& history() const { return history_; }

  bool isOpen() const { return open_; }
  bool built() const { return widgets_.page != nullptr; }
  const SportWidgets& widgets() const { return widgets_; }
  CustomBars& bars() { return *bars_; }

 private:
  // Layout (sport_page_layout.cpp).
  void buildPanel(int pedal, QWidget* page, bool hasClutch);
  void buildBrakeParts(SportPedalPanel& brake);
  void buildPageButtons(QWidget* page);
  void buildLetterLists(QWidget* page);
  void buildAutoBrakeGroup(QWidget* page, bool hasClutch);
  void buildUndoKeys(QWidget* page);
  void buildPresetList(int pedal, SportPedalPanel& p);
  void buildMarks(SportPedalPanel& p);
  void publishBars();

  // What the widgets ask of the session.
  void onClick(QPushButton* b, std::function<void()> action);
  bool ignoredWhileBusy() const;
  void defaultPedal(int pedal);
  void defaultAll();

  // What the page shows of the session's signals.
  void connectModel();
  Curve chartPoints(Pedal pedal) const override;
  void showLoad(ProfileKind kind, bool loaded);
  void showBrakeZones();
  void selectLetter(Field field, int index);
  void moveMarkers();
  void showStateZones();
  void showSent(Field field);
  void showCurvesFromState();
  void showKeyLetters();
  void showBrakeStopIndicator();
  void pageOpened();
  void pageClosed();
  void followLiveInputs();
  int chartPedal(const CurveChart* chart) const;
  void beginChartEdit(int pedal);
  void finishChartEdit(int pedal);
  void restoreCurve(const std::optional<CurveHistory::Restore>& restore, const char* what);
  // Each chart's marks, from its curve against the two baselines.
  void showMarks();
  // The state's known curves become the baseline (the controller's stored curves, or the
  // profile's).
  void takeBaseline(std::array<std::optional<Curve>, kPedalCount>& baseline);

  ControllerModel& model_;
  LabelBoard& labels_;
  ProfileDialogs& dialogs_;
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
};

}  // namespace tkb::ui
