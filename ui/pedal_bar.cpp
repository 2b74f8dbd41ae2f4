#include "ui/pedal_bar.h"

#include <QPainter>
#include <algorithm>

#include "ui/frame_clock.h"

namespace tkb::ui {

PedalBar::PedalBar(QWidget* parent, int width, int height) : QWidget(parent) {
  setFixedSize(width, height);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void PedalBar::setValue(int value) {
  value = std::clamp(value, 0, 100);
  if (value == value_) return;
  value_ = value;
  // A hidden bar is drawn afresh when it shows.
  if (isVisible()) FrameClock::of(this).repaint(this);
}

void PedalBar::setIndicatorStyle(const Style& style) {
  style_ = style;
  update();
}

QRect PedalBar::indicatorRect() const {
  const int left = style_.padLeft;
  const int right = width() - style_.padRight;
  const int top = style_.padTop;
  const int bottom = height() - style_.padBottom;
  const int band = std::max(0, bottom - top);
  const int filled = band * value_ / 100;
  return QRect(QPoint(left, bottom - filled), QPoint(right - 1, bottom - 1));
}

void PedalBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(0x30, 0x30, 0x30));
  painter.setPen(QColor(0x80, 0x80, 0x80));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
  const QRect indicator = indicatorRect();
  if (indicator.height() <= 0) return;
  painter.setRenderHint(QPainter::Antialiasing, style_.radius > 0);
  painter.setPen(Qt::NoPen);
  painter.setBrush(style_.indicator);
  painter.drawRoundedRect(indicator, style_.radius, style_.radius);
}

}  // namespace tkb::ui
