#include "ui/switch_led.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace tkb::ui {

namespace {
constexpr int kSlideMs = 120;
constexpr int kKnobOn = 100;
const QColor kOnColour(0x11, 0x99, 0x2A);
const QColor kOffColour(0x80, 0x80, 0x80);
}  // namespace

ToggleSwitch::ToggleSwitch(QWidget* parent, int width, int height) : QWidget(parent) {
  setFixedSize(width, height);
  setCursor(Qt::PointingHandCursor);
  animation_.setDuration(kSlideMs);
  QObject::connect(&animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
    knob_ = v.toInt();
    update();
  });
}

void ToggleSwitch::setOn(bool on, bool animated) {
  on_ = on;
  const int target = on ? kKnobOn : 0;
  animation_.stop();
  if (!animated || !isVisible()) {
    knob_ = target;
    update();
    return;
  }
  animation_.setStartValue(knob_);
  animation_.setEndValue(target);
  animation_.start();
}

void ToggleSwitch::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint())) return;
  setOn(!on_);
  emit userToggled(on_);
}

void ToggleSwitch::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal r = height() / 2.0;
  painter.setPen(Qt::NoPen);
  painter.setBrush(on_ ? kOnColour : kOffColour);
  painter.drawRoundedRect(rect(), r, r);
  const qreal travel = width() - height();
  const QPointF centre(r + travel * knob_ / kKnobOn, r);
  painter.setBrush(Qt::white);
  painter.drawEllipse(centre, r - 3, r - 3);
}

Led::Led(QWidget* parent, int size) : QWidget(parent) {
  setFixedSize(size, size);
  setAttribute(Qt::WA_TranslucentBackground);
}

void Led::setBrightness(int brightness) {
  brightness = std::clamp(brightness, 0, 255);
  if (brightness == brightness_) return;
  brightness_ = brightness;
  update();
}

void Led::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QColor colour(0xE0, 0x20, 0x20);
  colour = colour.darker(100 + (255 - brightness_) * 2);  // dim below full brightness
  painter.setPen(QPen(QColor(0x40, 0x10, 0x10), 1));
  painter.setBrush(colour);
  painter.drawEllipse(rect().adjusted(1, 1, -1, -1));
}

}  // namespace tkb::ui
