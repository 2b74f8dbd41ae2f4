// The main page: the pictures, model and colour lists, status and mode labels and the
// "PEDALS NOT DETECTED!!" box that start-up builds, and the menus, PRO/CUSTOM entries,
// monitor buttons and mode buttons around them. Each button asks the session
// (ControllerModel) or the window for what it does, and the page shows what the session's
// signals say; the Application builds the page, the PRO and CUSTOM pages open through its
// entries.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QObject>
#include <QPushButton>
#include <QWidget>
#include <array>
#include <string>

#include "link/controller_state.h"
#include "ui/widgets.h"

namespace tkb::ui {

class Application;
class ControllerModel;
class MonitorViewSwitch;
class VrPanel;
struct Services;

inline constexpr int kModelCount = 6;
inline constexpr int kPhotoCount = 20;
// The menus (LANGUAGE, MANUAL, EXIT) and their lists: while the CUSTOM page is open they
// stand in a row under the pedal photo.
inline constexpr int kMenuWidth = 145, kMenuEntryHeight = 40;
inline constexpr int kMenuRowX = 8, kMenuRowY = 506, kMenuRowGap = 4;
// The profile label shows this much of the name.
inline constexpr int kProfileLabelChars = 14;

enum class ModeLabel { Pro = 0, Custom = 1, CustomM = 2 };

// The name of the profile the mode in force uses, as the controller keeps it.
std::string profileInForce(const ControllerState& state);

class MainPage : public QObject {
  Q_OBJECT

 public:
  MainPage(Application& app, ControllerModel& model, const Services& services);

  // A new start: a new background and NotDetectedBox (the old ones go).
  void buildBackgroundAndBox();
  // After the start-up reads: the pictures and lists, the status labels, then the menus,
  // entries and buttons (create_main_page).
  void buildPicturesAndLists();
  void buildStatusLabels();
  void create_main_page();

  // The mode label rule and the mode-button rules (start-up and leaving a page).
  void applyModeLabel();
  void styleModeButtons();
  void showModeButtonsAfterPage();
  void refreshProfileLabel();
  // Shows logo and photo for the current model and colour; none when out of range.
  void showModelPictures();
  void closeMenus();
  // The calibration picture of the pedal kind in place of the model's photo (and logo).
  void showCalibrationPicture(bool hideLogo);
  // The model's logo and photo again in place of the calibration picture.
  void showModelPicturesAgain();
  // The ACTIVATE buttons mark the mode in force (the PRO wizard, the CUSTOM page).
  void markActiveMode(bool custom);
  // The wizard runs: there is nothing to activate until it is over.
  void hideActivateButtons();
  // The model, colour and firmware as read again (RETRY, a replug); nothing is sent.
  void showReadSettings();
  // A monitor's buttons once its program is stopped at shut-down.
  void showMonitorStopped(bool vr);
  // The window-mode monitor as its buttons say: CLOSE MONITOR shown.
  bool monitorOpen() const;
  // OPEN MONITOR or CLOSE MONITOR, as a click on the one shown does (nothing when it is
  // already as asked).
  void setMonitorOpen(bool open);
  // The shut-down EXIT runs (the tray's Exit runs it at once).
  void exitClicked();
  // A click on EXIT: while the PRO or CUSTOM page is open, whose close button may read the
  // same word, the driver is asked first; "no" leaves everything as it was.
  void exitButtonClicked();
  VrPanel* vrPanel() const { return vrPanel_; }

  // Built by buildBackgroundAndBox.
  QWidget* background = nullptr;
  QFrame* notDetectedBox = nullptr;
  QLabel* notDetectedText = nullptr;
  QPushButton* continueButton = nullptr;
  QPushButton* diagnoseButton = nullptr;  // shows the device doctor's report
  // Built by buildPicturesAndLists and buildStatusLabels.
  std::array<QLabel*, kModelCount> logos{};
  std::array<QLabel*, kPhotoCount> photos{};
  std::array<QLabel*, 2> calibrationPhotos{};  // three-pedal, two-pedal
  QComboBox* modelList = nullptr;
  QComboBox* colourList = nullptr;
  QLabel* footer = nullptr;
  QLabel* webLink = nullptr;  // underlined in its own font
  QLabel* firmwareLabel = nullptr;
  QLabel* profileLabel = nullptr;
  std::array<QLabel*, 3> modeLabels{};  // "Mode: PRO", "Mode: CUSTOM", "Mode: CUSTOM M"

  // Built by create_main_page.
  QLabel* header = nullptr;
  QPushButton* language = nullptr;
  QPushButton* manual = nullptr;
  QPushButton* pro = nullptr;
  QLabel* proTitle = nullptr;
  QLabel* proSubtitle = nullptr;
  QPushButton* openMonitor = nullptr;
  QPushButton* closeMonitor = nullptr;
  QPushButton* openVrMonitor = nullptr;
  QPushButton* closeVrMonitor = nullptr;
  // The second, smaller twins: hidden, act exactly like the first ones.
  QPushButton* openMonitor2 = nullptr;
  QPushButton* closeMonitor2 = nullptr;
  QPushButton* openVrMonitor2 = nullptr;
  QPushButton* closeVrMonitor2 = nullptr;
  QPushButton* custom = nullptr;
  QLabel* customTitle = nullptr;
  QLabel* customSubtitle = nullptr;
  QPushButton* exit = nullptr;
  QPushButton* games = nullptr;  // the per-game profiles' dialog
  QPushButton* traceButton = nullptr;  // the trace panel, under GAMES
  MonitorViewSwitch* monitorView = nullptr;  // the monitor's bars or trace, beside OPEN MONITOR
  QListWidget* languageList = nullptr;
  QListWidget* manualList = nullptr;
  QPushButton* activatePro = nullptr;
  QLabel* proMark = nullptr;
  QPushButton* activateCustom = nullptr;
  QLabel* customMark = nullptr;
  // Keep running in the tray when the window is closed (the Tray owns the setting).
  QCheckBox* traySwitch = nullptr;

 signals:
  // The OPEN/CLOSE MONITOR pair changed over (a click, the tray, the shut-down).
  void monitorShown(bool open);

 private:
  QPushButton* makeButton(const QString& text, int w, int h, Align align, int dx, int dy);
  // Connects a button to a branch of the page.
  void onClick(QPushButton* button, void (MainPage::*branch)());
  void connectModel();
  bool ignoredWhileBusy() const;
  void openMonitorClicked();
  void openVrMonitorClicked();
  void closeMonitorClicked();
  void closeVrMonitorClicked();
  void languageClicked();
  void manualClicked();
  void proClicked();
  void customClicked();
  void activateClicked(bool custom);
  void backgroundClicked();
  void webLinkClicked();
  void openManual();
  void manualListClicked(const QString& entry);
  // LANGUAGE, MANUAL and EXIT in their places, or in the row under the photo while the
  // CUSTOM page is open.
  void placeMenus(bool underPhoto);
  void placeMenuList(QListWidget* list, QPushButton* button, int dy);
  void hideEntriesUnderPage();

  Application& app_;
  ControllerModel& model_;
  const Services& services_;
  QWidget* window_;
  VrPanel* vrPanel_ = nullptr;
  bool menusUnderPhoto_ = false;
};

}  // namespace tkb::ui
