// PedalBar: the vertical live bar of the PRO and CUSTOM pages (range 0..100). Its
// indicator can be confined to a band by paddings (the dead-zone band, deadZoneBand in
// app/pedal_readout), and inside the band its filled height is proportional to the value. A new value is taken at once and drawn at the
// window's next frame (FrameClock); setting the same value again does nothing, so an
// unchanged bar never repaints.
#pragma once

#include <QColor>
#include <QWidget>

namespace tkb::ui {

class PedalBar : public QWidget {
 public:
  PedalBar(QWidget* parent, int width, int height);

  int value() const { return value_; }
  // Limited to 0..100; repainted at the next frame when it differs from the current value.
  void setValue(int value);

  struct Style {
    int padTop = 1, padBottom = 1, padLeft = 1, padRight = 1;
    QColor indicator{0xC5, 0x71, 0x2F};
    int radius = 0;
  };
  const Style& indicatorStyle() const { return style_; }
  void setIndicatorStyle(const Style& style);

  // The indicator rectangle for the value (for tests and painting).
  QRect indicatorRect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int value_ = 0;
  Style style_;
};

}  // namespace tkb::ui
