#include "ui/curve_chart.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
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
constexpr int kFirstInnerPoint = 1, kLastInnerPoint = kCurveLastPoint - 1;
constexpr int kBigStep = 10;
const QColor kDivisionColour(0xD0, 0xD0, 0xD0, 90);
const QColor kMarkerColour(0x1E, 0x6F, 0xD9);
constexpr qreal kMarkerRadius = 5.0, kMarkerOutline = 1.5;
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

std::optional<PointRange> chartPointRange(const Curve& points, int k) {
  if (k < kFirstInnerPoint || k > kLastInnerPoint) return std::nullopt;
  const int low = std::max<int>(points[k - 1] + 1, 0);
  const int high = std::min<int>(points[k + 1] - 1, kCurveMax);
  if (low > high) return std::nullopt;
  return PointRange{low, high};
}

int chartPointStep(const Curve& points, int k, int delta) {
  const auto range = chartPointRange(points, k);
  if (!range) return points[std::clamp(k, 0, kCurveLastPoint)];
  return std::clamp(points[k] + delta, range->low, range->high);
}

// The entry box: Enter confirms a value the order allows; a value outside that range is
// refused where it was typed (the box turns red and shows the range, and stays open);
// Escape cancels, and losing the focus (a click elsewhere) cancels too, so that nothing is
// sent that the driver did not confirm. Any number of up to three digits can be typed.
class PointEntry : public QSpinBox {
 public:
  explicit PointEntry(QWidget* parent) : QSpinBox(parent), range_(new QLabel(parent)) {
    setButtonSymbols(QAbstractSpinBox::NoButtons);
    setAlignment(Qt::AlignCenter);
    setSuffix(" %");
    setRange(0, kTypedMax);
    setFocusPolicy(Qt::StrongFocus);
    resize(kEntryW, kEntryH);
    range_->setObjectName("PointEntryRange");
    range_->setAlignment(Qt::AlignCenter);
    range_->setStyleSheet("background:#d02020;color:#ffffff;font-weight:bold;font-size:11px;"
                          "border-radius:3px;padding:1px 4px;");
    range_->hide();
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] { setRefused(false); });
    hide();
  }
  std::function<void(bool confirmed)> onClose;
  static constexpr int kEntryW = 56, kEntryH = 24, kTypedMax = 999;

  // Opens over the chart at a place, offering the values of a range.
  void open(PointRange allowed, int value, QPoint at) {
    allowed_ = allowed;
    setValue(value);
    setRefused(false);
    move(at);
    show();
    setFocus(Qt::OtherFocusReason);
    selectAll();
  }
  PointRange allowed() const { return allowed_; }
  bool refused() const { return range_->isVisible(); }
  void close() {
    setRefused(false);
    hide();
  }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Escape) {
      event->accept();
      if (onClose) onClose(false);
      return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
      event->accept();
      interpretText();
      if (value() < allowed_.low || value() > allowed_.high) {
        setRefused(true);
        selectAll();
        return;
      }
      if (onClose) onClose(true);
      return;
    }
    QSpinBox::keyPressEvent(event);
  }
  void focusOutEvent(QFocusEvent* event) override {
    QSpinBox::focusOutEvent(event);
    if (isVisible() && onClose) onClose(false);
  }

 private:
  // The refusal: the box in red, the range beside it (under it, or over it at the bottom).
  void setRefused(bool refused) {
    if (property("refused").toBool() != refused) {
      setProperty("refused", refused);
      style()->unpolish(this);
      style()->polish(this);
    }
    if (!refused) {
      range_->hide();
      return;
    }
    range_->setText(QString("%1-%2").arg(allowed_.low).arg(allowed_.high));
    range_->adjustSize();
    const QWidget* chart = parentWidget();
    const int x = std::clamp(this->x() + (width() - range_->width()) / 2, 0, chart->width() - range_->width());
    const int below = y() + height() + 2;
    range_->move(x, below + range_->height() <= chart->height() ? below : y() - range_->height() - 2);
    range_->show();
    range_->raise();
  }

  QLabel* range_;
  PointRange allowed_{0, 0};
};

CurveChart::CurveChart(QWidget* parent) : QWidget(parent) {
  setFixedSize(kChartSizePx, kChartSizePx);
  // The only keyboard target of the window: taken by a click or Tab, never by the wheel,
  // so keys the pedal set types reach nothing while no chart was chosen.
  setFocusPolicy(Qt::StrongFocus);
  entry_ = new PointEntry(this);
  entry_->onClose = [this](bool confirmed) { closeEntry(confirmed); };
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
  redrawCurve();
  emit curveChanged();
}

void CurveChart::clearCurve() {
  hasCurve_ = false;
  if (entryOpen()) closeEntry(false);
  redrawCurve();
  emit curveChanged();
}

void CurveChart::redrawCurve() {
  curveDrawn_ = false;
  update();
}

void CurveChart::setLiveInput(std::optional<int> percent) {
  if (percent == liveInput_) return;
  // Only the marker's old and new places: the curve under them comes from its picture.
  QRegion changed = liveMarkerRegion();
  liveInput_ = percent;
  changed += liveMarkerRegion();
  update(changed);
}

QRegion CurveChart::liveMarkerRegion() const {
  if (!liveInput_ || !hasCurve_) return {};
  const QPointF marker = liveMarkerPosition();
  // The dot's outline reaches kMarkerRadius + half its pen; antialiasing touches one pixel more.
  const int reach = static_cast<int>(std::ceil(kMarkerRadius + kMarkerOutline / 2)) + 1;
  const QPoint centre(static_cast<int>(std::floor(marker.x())), static_cast<int>(std::floor(marker.y())));
  QRegion region(QRect(centre - QPoint(reach, reach), centre + QPoint(reach + 1, reach + 1)));
  // The dashed line down to the input's place on the bottom edge.
  region += QRect(QPoint(centre.x() - 1, centre.y()), QPoint(centre.x() + 2, kChartSizePx - 1));
  return region & rect();
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

void CurveChart::paintEvent(QPaintEvent* event) {
  const qreal ratio = devicePixelRatioF();
  if (!curveDrawn_ || curvePicture_.devicePixelRatio() != ratio) {
    curvePicture_ = QPixmap(size() * ratio);
    curvePicture_.setDevicePixelRatio(ratio);
    QPainter picture(&curvePicture_);
    drawCurve(picture);
    curveDrawn_ = true;
  }
  QPainter painter(this);
  const QRect area = event->rect();
  painter.drawPixmap(area, curvePicture_, QRectF(QPointF(area.topLeft()) * ratio, QSizeF(area.size()) * ratio));
  if (liveInput_ && hasCurve_) {
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipRect(rect());
    const QPointF marker = liveMarkerPosition();
    painter.setPen(QPen(kMarkerColour, 1, Qt::DashLine));
    painter.drawLine(QPointF(marker.x(), kChartSizePx - 1), marker);
    painter.setPen(QPen(Qt::white, kMarkerOutline));
    painter.setBrush(kMarkerColour);
    painter.drawEllipse(marker, kMarkerRadius, kMarkerRadius);
  }
}

// Everything but the live marker: the grid, the frame, the curve with its points and the
// selected point.
void CurveChart::drawCurve(QPainter& painter) const {
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
  if (selected_ && hasFocus()) {
    painter.setPen(QPen(series.darker(160), 2));
    painter.setBrush(Qt::white);
    painter.drawEllipse(pointPosition(*selected_), 5.0, 5.0);
  }
}

QPoint CurveChart::windowPos(const QPointF& local) const {
  return mapTo(window(), local.toPoint());
}

void CurveChart::report(ChartEvent event, const QPointF& local) {
  emit pointerEvent(event, windowPos(local));
}

void CurveChart::selectPoint(int k) {
  const int point = std::clamp(k, kFirstInnerPoint, kLastInnerPoint);
  if (selected_ == point) return;
  selected_ = point;
  redrawCurve();
}

bool CurveChart::entryOpen() const { return entry_->isVisible(); }
QSpinBox* CurveChart::entry() const { return entry_; }

void CurveChart::openEntry() {
  if (!selected_ || !hasCurve_) return;
  const auto range = chartPointRange(curve(), *selected_);
  if (!range) return;
  // Beside the point, inside the chart: above it, or below when there is no room.
  const QPointF at = pointPosition(*selected_);
  const int x = std::clamp(static_cast<int>(at.x()) - PointEntry::kEntryW / 2, 0, kChartSizePx - PointEntry::kEntryW);
  int y = static_cast<int>(at.y()) - PointEntry::kEntryH - 6;
  if (y < 0) y = static_cast<int>(at.y()) + 6;
  entry_->open(*range, points_[*selected_], QPoint(x, std::min(y, kChartSizePx - PointEntry::kEntryH)));
}

std::optional<PointRange> CurveChart::entryRange() const {
  if (!entryOpen()) return std::nullopt;
  return entry_->allowed();
}

bool CurveChart::entryRefused() const { return entryOpen() && entry_->refused(); }

void CurveChart::closeEntry(bool confirmed) {
  if (!entryOpen()) return;
  entry_->interpretText();
  const int value = entry_->value();
  const bool hadFocus = entry_->hasFocus();
  entry_->close();
  if (hadFocus) setFocus(Qt::OtherFocusReason);
  if (confirmed && selected_) emit keyEdit({ChartKeyEdit::Entered, *selected_, value});
}

void CurveChart::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const int k = chartPointAt(static_cast<int>(event->position().x()), 0);
  if (k < kFirstInnerPoint || k > kLastInnerPoint) return;
  selectPoint(k);
  openEntry();
}

void CurveChart::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  // A click on an inner point's column selects it for the keyboard.
  const int k = chartPointAt(static_cast<int>(event->position().x()), 0);
  if (k >= kFirstInnerPoint && k <= kLastInnerPoint) selectPoint(k);
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

namespace {
// The step of an editing key, none for any other key. Keys with Ctrl, Alt or Meta are
// left to the window (the pedal set's own combinations carry them).
std::optional<int> keyStep(const QKeyEvent* event) {
  if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return std::nullopt;
  switch (event->key()) {
    case Qt::Key_Up: return 1;
    case Qt::Key_Down: return -1;
    case Qt::Key_PageUp: return kBigStep;
    case Qt::Key_PageDown: return -kBigStep;
    default: return std::nullopt;
  }
}
}  // namespace

void CurveChart::keyPressEvent(QKeyEvent* event) {
  const bool plain = !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
  if (plain && (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right)) {
    selectPoint(selected_.value_or(kFirstInnerPoint) + (event->key() == Qt::Key_Left ? -1 : 1));
    event->accept();
    return;
  }
  if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && selected_) {
    event->accept();
    openEntry();
    return;
  }
  const auto step = keyStep(event);
  if (!step || !selected_ || !hasCurve_) {
    event->ignore();
    return;
  }
  event->accept();
  stepping_ = true;
  emit keyEdit({ChartKeyEdit::Step, *selected_, *step});
}

void CurveChart::keyReleaseEvent(QKeyEvent* event) {
  if (!keyStep(event) || event->isAutoRepeat() || !stepping_) {
    event->ignore();
    return;
  }
  event->accept();
  stepping_ = false;
  if (selected_) emit keyEdit({ChartKeyEdit::StepsDone, *selected_, 0});
}

void CurveChart::focusInEvent(QFocusEvent* event) {
  if (!selected_ && event->reason() == Qt::TabFocusReason) selected_ = kFirstInnerPoint;
  if (!selected_ && event->reason() == Qt::BacktabFocusReason) selected_ = kLastInnerPoint;
  redrawCurve();
}

// The release of a held key goes to whichever widget has the focus then: the edit ends
// here instead, so that it is still sent.
void CurveChart::focusOutEvent(QFocusEvent*) {
  if (stepping_) {
    stepping_ = false;
    if (selected_) emit keyEdit({ChartKeyEdit::StepsDone, *selected_, 0});
  }
  redrawCurve();
}

}  // namespace tkb::ui
