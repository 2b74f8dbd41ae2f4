#include "ui/trace_plot.h"

#include <QPainter>
#include <algorithm>

#include "link/settings.h"

namespace tkb::ui {

namespace {
constexpr int kLeftMargin = 34, kTopMargin = 8, kRightMargin = 10, kBottomMargin = 20;
const QColor kBackground(0x1e, 0x22, 0x29);
const QColor kGrid(0x3a, 0x40, 0x4a);
const QColor kGridText(0xa0, 0xa8, 0xb2);
}  // namespace

const std::array<QColor, 3> TracePlot::kPedalColours = {QColor(0x3b, 0x8f, 0xd9), QColor(0xe0, 0x43, 0x3a),
                                                         QColor(0x3f, 0xbf, 0x5a)};
const QColor TracePlot::kLastColour(0x8c, 0x8c, 0x8c);
const QColor TracePlot::kReferenceColour(0xb5, 0x7b, 0xe6);

TracePlot::TracePlot(QWidget* parent, const PedalTraceFeed& feed) : QWidget(parent), feed_(feed) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  for (QPolygon& line : lines_) line.reserve(static_cast<qsizetype>(feed.ring().capacity()));
}

void TracePlot::setSignal(Signal signal) {
  if (signal == signal_) return;
  signal_ = signal;
  update();
}

void TracePlot::setHasClutch(bool hasClutch) {
  if (hasClutch == hasClutch_) return;
  hasClutch_ = hasClutch;
  update();
}

void TracePlot::setHeld(const BrakeApplication* last, const BrakeApplication* reference) {
  last_ = last;
  reference_ = reference;
  heldChanged();
}

void TracePlot::heldChanged() {
  staticValid_ = false;
  update();
}

QRect TracePlot::plotArea() const {
  return QRect(kLeftMargin, kTopMargin, std::max(1, width() - kLeftMargin - kRightMargin),
               std::max(1, height() - kTopMargin - kBottomMargin));
}

void TracePlot::resizeEvent(QResizeEvent*) { staticValid_ = false; }

void TracePlot::drawHeld(QPainter& painter, const BrakeApplication& application, const QColor& colour,
                         int width) const {
  if (application.empty()) return;
  const QRect area = plotArea();
  const double pxPerMs = area.width() / (kSeconds * 1000.0);
  QPolygonF line;
  line.reserve(static_cast<qsizetype>(application.samples.size()));
  for (const BrakeSample& s : application.samples)
    line << QPointF(area.left() + (kHeldOffsetMs + s.ms) * pxPerMs,
                    area.bottom() - std::clamp(s.percent, 0.0f, 100.0f) * area.height() / 100.0);
  painter.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.drawPolyline(line);
}

void TracePlot::drawStatic() {
  const qreal ratio = devicePixelRatioF();
  static_ = QPixmap(size() * ratio);
  static_.setDevicePixelRatio(ratio);
  static_.fill(kBackground);
  QPainter painter(&static_);
  const QRect area = plotArea();
  QFont font = painter.font();
  font.setPixelSize(11);
  painter.setFont(font);
  for (int percent = 0; percent <= 100; percent += 25) {
    const int y = area.bottom() - percent * area.height() / 100;
    painter.setPen(kGrid);
    painter.drawLine(area.left(), y, area.right(), y);
    painter.setPen(kGridText);
    painter.drawText(QRect(0, y - 8, kLeftMargin - 6, 16), Qt::AlignRight | Qt::AlignVCenter, QString::number(percent));
  }
  for (int second = 0; second <= kSeconds; ++second) {
    const int x = area.right() - second * area.width() / kSeconds;
    painter.setPen(kGrid);
    painter.drawLine(x, area.top(), x, area.bottom());
    painter.setPen(kGridText);
    const QString label = second == 0 ? QStringLiteral("0 s") : QStringLiteral("-%1").arg(second);
    painter.drawText(QRect(x - 20, area.bottom() + 3, 40, kBottomMargin - 4), Qt::AlignCenter, label);
  }
  painter.setClipRect(area);
  painter.setRenderHint(QPainter::Antialiasing);
  if (last_) drawHeld(painter, *last_, kLastColour, 6);
  if (reference_) drawHeld(painter, *reference_, kReferenceColour, 3);
  staticValid_ = true;
}

void TracePlot::paintEvent(QPaintEvent*) {
  ++paints_;
  if (!staticValid_ || static_.deviceIndependentSize().toSize() != size()) drawStatic();
  QPainter painter(this);
  painter.drawPixmap(0, 0, static_);
  const PedalTraceRing& ring = feed_.ring();
  if (ring.empty()) return;
  const QRect area = plotArea();
  painter.setClipRect(area);
  const int64_t newest = ring.newest().timeMs;
  const std::size_t first = ring.firstAtOrAfter(newest - kSeconds * 1000);
  const double pxPerMs = area.width() / (kSeconds * 1000.0);
  const bool output = signal_ == Signal::Output;
  // The brake last, over the others: it is what the panel is for.
  for (Pedal pedal : {Pedal::Clutch, Pedal::Throttle, Pedal::Brake}) {
    if (pedal == Pedal::Clutch && !hasClutch_) continue;
    const int p = pedalIndex(pedal);
    QPolygon& line = lines_[static_cast<std::size_t>(p)];
    line.resize(static_cast<qsizetype>(ring.size() - first));
    for (std::size_t i = first; i < ring.size(); ++i) {
      const PedalTracePoint& point = ring.at(i);
      const float value = output ? point.output[static_cast<std::size_t>(p)] : point.input[static_cast<std::size_t>(p)];
      line[static_cast<qsizetype>(i - first)] =
          QPoint(area.right() - static_cast<int>((newest - point.timeMs) * pxPerMs),
                 area.bottom() - static_cast<int>(value * static_cast<float>(area.height()) / 100.0f));
    }
    painter.setPen(QPen(kPedalColours[static_cast<std::size_t>(p)], 2));
    painter.drawPolyline(line);
  }
}

}  // namespace tkb::ui
