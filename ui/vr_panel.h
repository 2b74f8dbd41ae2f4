// VrSettingsPanel: the seven VR placement settings of the monitor's overlay with their
// "-"/"+" buttons, read from config.ini when the main page is built and written there by
// APPLY VR SETTINGS, which then restarts the VR-mode monitor in its process slot.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <array>
#include <functional>

#include "app/app_config.h"
#include "ui/widgets.h"

namespace tkb::ui {

class LabelBoard;

struct VrSetting {
  const char* key;      // config.ini key in section "MONITOR"
  const char* traceFormat;  // console line with the text read
  int minimum, maximum, fallback, digits;
  int boxX, boxY, minusX, minusY, plusX, plusY;  // offsets from the panel's centre
  int labelX, labelY;
  const char* label;
};

inline constexpr int kVrSettingCount = 7;
extern const std::array<VrSetting, kVrSettingCount> kVrSettings;

class VrPanel : public QWidget {
  Q_OBJECT

 public:
  VrPanel(QWidget* parent, const AppConfig& config, LabelBoard& labels);

  // Reads the seven keys (defaults as in the table) into the spin boxes.
  void readSettings();

  ValueBox* box(int i) const { return boxes_[i]; }
  QPushButton* minusButton(int i) const { return minus_[i]; }
  QPushButton* plusButton(int i) const { return plus_[i]; }
  QLabel* label(int i) const { return labels_[i]; }
  QPushButton* applyButton() const { return apply_; }

 signals:
  // APPLY VR SETTINGS wrote the settings: the VR-mode monitor is to start again with them.
  void applied();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void step(int setting, int delta);
  void applySettings();

  const AppConfig& config_;
  std::array<ValueBox*, kVrSettingCount> boxes_{};
  std::array<QPushButton*, kVrSettingCount> minus_{};
  std::array<QPushButton*, kVrSettingCount> plus_{};
  std::array<QLabel*, kVrSettingCount> labels_{};
  QPushButton* apply_ = nullptr;
};

// Whether the VR monitor can show anything in a headset: the VR runtime it loads is there.
// Without it the monitor would only open its desktop window, so the driver is told why
// (in `language`, through `box`: text, title) and nothing is started.
bool vrRuntimeOrTell(const std::function<void(const QString&, const QString&)>& box, int language);

}  // namespace tkb::ui
