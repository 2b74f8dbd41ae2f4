#include "ui/curve_chart.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "link/settings.h"

namespace tkb::ui {

namespace {
constexpr int kDivisions = 10;  // nine lines each way
constexpr int kCurveMax = 100;
const QColor kDivisionColour(0xD0, 0xD0, 0xD0, 90);
const QColor kMarkerColour(0x1E, 0x6F, 0xD9);
}  // namespace

Curve defaultCurve() { return straightCurve(); }

int chartPointAt(int x, int left) {
  const int offset = x - left;
  if (offset < kChartEndColumnPx || offset >= kChartSizePx) return 0;
  if (offset >= kChartSizePx - kChartEndColumnPx) return kCurveLastPoint;
  return (offset - kChartEndColumnPx) / kChartColumnPx + 1;
}

int chartPointValue(const Curve& points, int k, int y) {
  if (k <= 0) return 0;
  if (k >= kCurveLastPoint) return kCurveMax;
  int value = (kChartZeroY - y) * kCurveMax / kChartSpanPx;  // truncates toward zero
  if (value <= points[k - 1]) value = points[k - 1] + 1;
  if (value >= points[k + 1]) value = points[k + 1] - 1;
  return value;
}

CurveChart::CurveChart(QWidget* parent) : QWidget(parent) {
  setFixedSize(kChartSizePx, kChartSizePx);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setCurve(defaultCurve());
}

Curve CurveChart::curve() const {
  Curve c{};
  for (int k = 0; k < kCurvePoints; ++k) c[k] = points_[k];
  return c;
}

void CurveChart::setCurve(const Curve& points) {
  for (int k = 0; k < kCurvePoints; ++k) points_[k] = static_cast<int16_t>(points[k]);
  hasCurve_ = true;
  update();
}

void CurveChart::clearCurve() {
  hasCurve_ = false;
  update();
}

void CurveChart::setLiveInput(std::optional<int> percent) {
  if (percent == liveInput_) return;
  liveInput_ = percent;
  update();
}

// The drawing keeps the whole scale inside the 180 pixels: 0 on the bottom row, 100 on
// the top row, point 0 on the first column and point 10 on the last.
QPointF CurveChart::pointPosition(int k) const {
  const double x = k * (kChartSizePx - 1) / 10.0;
  const double y = (kChartSizePx - 1) * (1.0 - points_[k] / 100.0);
  return {x, y};
}

QPointF CurveChart::liveMarkerPosition() const {
  const double input = liveInput_.value_or(0);
  const double output = curveOutputAt(curve(), input);
  return {input * (kChartSizePx - 1) / 100.0, (kChartSizePx - 1) * (1.0 - output / 100.0)};
}

void CurveChart::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  // The grid as one-pixel rectangles: a solid fill is one blit, where a pen line of the
  // chart's height goes out as a span per row (and through Qt's fill threads) on every
  // repaint of the live marker.
  for (int i = 1; i < kDivisions; ++i) {
    const int at = i * kChartSizePx / kDivisions;
    painter.fillRect(at, 0, 1, kChartSizePx, kDivisionColour);
    painter.fillRect(0, at, kChartSizePx, 1, kDivisionColour);
  }
  painter.setPen(QColor(0x80, 0x80, 0x80));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));

  if (!hasCurve_) return;
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setClipRect(rect());
  const QColor series{QRgb(kCurveColour)};
  QPainterPath line;
  line.moveTo(pointPosition(0));
  for (int k = 1; k < kCurvePoints; ++k) line.lineTo(pointPosition(k));
  painter.setPen(QPen(series, 2));
  painter.setBrush(Qt::NoBrush);
  painter.drawPath(line);
  painter.setPen(Qt::NoPen);
  painter.setBrush(series);
  for (int k = 0; k < kCurvePoints; ++k) painter.drawEllipse(pointPosition(k), 3.0, 3.0);

  if (liveInput_) {
    const QPointF marker = liveMarkerPosition();
    painter.setPen(QPen(kMarkerColour, 1, Qt::DashLine));
    painter.drawLine(QPointF(marker.x(), kChartSizePx - 1), marker);
    painter.setPen(QPen(Qt::white, 1.5));
    painter.setBrush(kMarkerColour);
    painter.drawEllipse(marker, 5.0, 5.0);
  }
}

QPoint CurveChart::windowPos(const QPointF& local) const {
  return mapTo(window(), local.toPoint());
}

void CurveChart::report(ChartEvent event, const QPointF& local) {
  if (onEvent) onEvent(this, event, windowPos(local));
}

void CurveChart::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  held_ = true;
  engaged_ = true;
  report(ChartEvent::Pressing, event->position());
}

void CurveChart::mouseMoveEvent(QMouseEvent* event) {
  if (!held_) return;
  const bool inside = rect().contains(event->position().toPoint());
  if (engaged_ && !inside) {
    // The pointer slid off while held: the edit ends here, the release will not count.
    engaged_ = false;
    report(ChartEvent::PressLost, event->position());
  } else if (inside) {
    // Coming back over the chart while still held starts a new press.
    engaged_ = true;
    report(ChartEvent::Pressing, event->position());
  }
}

void CurveChart::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !held_) return;
  held_ = false;
  if (!engaged_) return;
  engaged_ = false;
  report(rect().contains(event->position().toPoint()) ? ChartEvent::Clicked : ChartEvent::PressLost,
         event->position());
}

}  // namespace tkb::ui
