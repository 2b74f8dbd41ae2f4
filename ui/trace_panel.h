// The trace panel (the main page's TRACE): the last 10 s of the three pedals drawn at the
// window's frames, as input or as what the game gets (OUTPUT); the last brake application
// held in grey with its figures, and the reference the driver pinned (PIN, kept in config.ini
// [TRACE] brake_reference) beside it; RECORD/STOP, which writes the pedal recording into the
// profile folder's records/; and PEDAL CHECK, whose findings APPLY sends through the session.
// The samples, the recording and the check belong to the session's feed (PedalTraceFeed), so
// they go on while the panel is closed; the panel only draws, and only while it is shown.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "app/app_config.h"
#include "app/brake_capture.h"
#include "app/pedal_check.h"

namespace tkb::ui {

class ControllerModel;
class FrameClock;
class PedalTraceFeed;
class TracePlot;

inline constexpr int kTracePanelWidth = 920, kTracePanelHeight = 640;

class TracePanel : public QDialog {
  Q_OBJECT

 public:
  // The reference is read from config (the base folder's config.ini).
  TracePanel(QWidget* parent, ControllerModel& model, const AppConfig& config);

  // The figure rows and columns (row 0: the column titles; column 0: the row names).
  static constexpr int kFigureRows = 5, kFigureColumns = 3;

  TracePlot* plot = nullptr;
  QPushButton* inputButton = nullptr;
  QPushButton* outputButton = nullptr;
  QLabel* caption = nullptr;
  QLabel* legend = nullptr;
  std::array<std::array<QLabel*, kFigureColumns>, kFigureRows> figures{};
  QPushButton* pinButton = nullptr;
  QPushButton* unpinButton = nullptr;
  QPushButton* recordButton = nullptr;
  QPushButton* checkButton = nullptr;
  QPushButton* applyButton = nullptr;
  QPushButton* closeButton = nullptr;
  QLabel* recordStatus = nullptr;
  QLabel* checkText = nullptr;

  const std::optional<BrakeApplication>& reference() const { return reference_; }
  int language() const { return language_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void build();  // trace_panel_layout.cpp
  void setLanguage(int language);
  // What the feed took since the panel last looked (only while shown).
  void sampled();
  void showFigures();
  void showRecording();
  void showCheck();
  void showSignal(bool output);
  void pinClicked();
  void unpinClicked();
  void recordClicked();
  void checkClicked();
  void applyClicked();

  ControllerModel& model_;
  PedalTraceFeed& feed_;
  FrameClock* clock_ = nullptr;
  const AppConfig& config_;
  int language_ = 0;
  std::optional<BrakeApplication> reference_;
  long shownKept_ = -1;
  bool shownClutch_ = true;
  // The check whose findings are on show (its phase when last shown), and whether its
  // suggestions were sent.
  std::optional<PedalCheck::Phase> shownPhase_;
  bool checkSent_ = false;
  bool notNow_ = false;  // APPLY found the pedals unable to take settings
  int sentCount_ = 0;
  std::vector<Pedal> refused_;
  // What the line under the buttons says when no recording runs: how the last one ended, or a
  // reference that could not be kept or removed.
  struct Note {
    enum Kind { None, Recorded, RecordFailed, PinNotKept, UnpinFailed } kind = None;
    long rows = 0;
    QString file;
    QString detail;
  };
  Note note_;
};

}  // namespace tkb::ui
