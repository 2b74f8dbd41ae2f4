// The main page's widgets: what start-up builds around the pictures (lists, status and
// mode labels, NotDetectedBox) and what create_main_page() builds (menus, PRO/CUSTOM
// entries, monitor buttons, mode buttons). Application holds one MainPage; event_handler
// compares the object of an event with these references.
#pragma once

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QWidget>
#include <array>

namespace tkb::ui {

inline constexpr int kModelCount = 6;
inline constexpr int kPhotoCount = 20;

struct MainPage {
  // Built by startApplication.
  QWidget* background = nullptr;
  QFrame* notDetectedBox = nullptr;
  QLabel* notDetectedText = nullptr;
  QPushButton* continueButton = nullptr;
  QPushButton* diagnoseButton = nullptr;  // shows the device doctor's report
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
  QListWidget* languageList = nullptr;
  QListWidget* manualList = nullptr;
  QPushButton* activatePro = nullptr;
  QLabel* proMark = nullptr;
  QPushButton* activateCustom = nullptr;
  QLabel* customMark = nullptr;
};

enum class ModeLabel { Pro = 0, Custom = 1, CustomM = 2 };

}  // namespace tkb::ui
