// Two small custom-painted widgets of the pages: the on/off switch (the auto-brake switch)
// with its sliding knob, and the round indicator LED whose brightness tells whether a
// function is on (255) or off (100).
#pragma once

#include <QVariantAnimation>
#include <QWidget>
#include <functional>

namespace tkb::ui {

class ToggleSwitch : public QWidget {
  Q_OBJECT

 public:
  ToggleSwitch(QWidget* parent, int width = 50, int height = 25);

  bool isOn() const { return on_; }
  // The knob position 0 (off) .. 100 (on); the switch counts as on from 50.
  int knobPosition() const { return knob_; }
  // Set by the program: no report, the knob slides when animated.
  void setOn(bool on, bool animated = true);

 signals:
  // The user flipped the switch with the pointer (the program's setOn reports nothing).
  void userToggled(bool on);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool on_ = false;
  int knob_ = 0;
  QVariantAnimation animation_;
};

class Led : public QWidget {
 public:
  explicit Led(QWidget* parent, int size = 20);
  int brightness() const { return brightness_; }
  // 0..255; repaints only when it changes.
  void setBrightness(int brightness);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int brightness_ = 100;
};

}  // namespace tkb::ui
