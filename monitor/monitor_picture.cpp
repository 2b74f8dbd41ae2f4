#include "monitor/monitor_picture.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cstring>

#include "monitor/pedal_trace.h"

namespace tkb::monitor {
namespace {

constexpr QRgb kBlack = qRgb(0, 0, 0);
constexpr QRgb kWhite = qRgb(255, 255, 255);
constexpr QRgb kClutchBlue = qRgb(0, 0, 255);
constexpr QRgb kBrakeRed = qRgb(255, 0, 0);
constexpr QRgb kThrottleGreen = qRgb(0, 255, 0);
constexpr QRgb kPanelOrange = qRgb(221, 102, 40);

constexpr int kBarFloorY = 90;  // 0 %
constexpr int kBarTopY = 40;    // 100 %
constexpr int kFrameTop = 39;
constexpr int kFrameBottom = 91;
constexpr int kMaxTextLength = 100;  // longer texts are not drawn

// The trace view: a white frame around the plot, dim lines at 25, 50 and 75 %, the held
// brake application in grey under the live lines.
constexpr QRgb kHeldGrey = qRgb(128, 128, 128);
constexpr QRgb kGridGrey = qRgb(48, 48, 48);
constexpr int kTraceFrameLeft = kTraceLeftX - 1;
constexpr int kTraceFrameRight = kTraceRightX + 1;
constexpr int kTraceFrameTop = 21;
constexpr int kTraceFrameBottom = 100;
static_assert(kTraceRightX - kTraceLeftX + 1 == kTraceColumns);

// Bold "Arial" whose character cell (ascent plus descent) is cellHeight pixels high, the way
// the picture's fonts were always specified; the glyphs' em size is somewhat smaller.
QFont boldArial(int cellHeight) {
  QFont font(QStringLiteral("Arial"));
  font.setBold(true);
  font.setStyleStrategy(QFont::NoAntialias);
  font.setHintingPreference(QFont::PreferFullHinting);
  for (int pixelSize = cellHeight; pixelSize > 1; --pixelSize) {
    font.setPixelSize(pixelSize);
    if (QFontMetrics(font).height() <= cellHeight) break;
  }
  return font;
}

// Left edges of the bar frames, left to right: clutch (when shown), brake, throttle.
struct BarLayout {
  int frames[3];
  int count;
};

BarLayout barLayout(unsigned mode) {
  if (mode & kModeClutchBar) return {{10, 25, 40}, 3};
  return {{18, 33, 0}, 2};
}

// The trace view's pixels, written straight into the picture: a few hundred one-pixel
// rectangles through a painter would cost more than the whole bars view.
class TracePixels {
 public:
  explicit TracePixels(QImage& image) : bits_(image.bits()), stride_(image.bytesPerLine()) {}

  void clear(int left, int top, int right, int bottom) {  // right and bottom exclusive
    for (int y = top; y < bottom; ++y) {
      std::memset(bits_ + y * stride_ + 3 * left, 0, static_cast<std::size_t>(3 * (right - left)));
    }
  }
  void row(int left, int right, int y, QRgb colour) {  // right inclusive
    for (int x = left; x <= right; ++x) set(x, y, colour);
  }
  // One column of a line: from where the previous column ended to every level this one saw,
  // so that the columns join into an unbroken line.
  void span(int x, const TraceSpan& span, const TraceSpan* previous, QRgb colour) {
    int low = span.low, high = span.high;
    if (previous != nullptr) {
      low = std::min<int>(low, previous->last);
      high = std::max<int>(high, previous->last);
    }
    for (int y = traceRow(high); y <= traceRow(low); ++y) set(x, y, colour);
  }

 private:
  void set(int x, int y, QRgb colour) {
    uchar* pixel = bits_ + y * stride_ + 3 * x;  // RGB888: red, green, blue
    pixel[0] = static_cast<uchar>(qRed(colour));
    pixel[1] = static_cast<uchar>(qGreen(colour));
    pixel[2] = static_cast<uchar>(qBlue(colour));
  }

  uchar* bits_;
  qsizetype stride_;
};

}  // namespace

int barTop(int percent) {
  // The frame holds 0..100 %. Larger values (the CUSTOM sender can produce them when the brake
  // stop is below 100) stop at the frame top: drawn higher, they would paint over the title and
  // header, which are only restored on a mode change.
  const int level = std::clamp(percent, 0, 100) / 2;
  return kBarFloorY - level;
}

int traceRow(int percent) { return 98 - std::clamp(percent, 0, 100) * 3 / 4; }

QImage headerPicture() {
  QImage header(kHeaderWidth, kHeaderHeight, QImage::Format_RGB888);
  header.fill(QColor(28, 28, 32));
  QPainter painter(&header);
  painter.setRenderHint(QPainter::Antialiasing, false);
  const QColor orange(kPanelOrange);
  painter.fillRect(QRect(0, 0, 4, kHeaderHeight), orange);
  painter.fillRect(QRect(kHeaderWidth - 4, 0, 4, kHeaderHeight), orange);
  painter.fillRect(QRect(4, kHeaderHeight - 2, kHeaderWidth - 8, 2), orange);
  for (int i = 0; i < 3; ++i) {  // three pedal-like ticks before the name
    painter.fillRect(QRect(10 + 6 * i, 11 - 3 * i, 4, 4 + 3 * i), orange);
  }
  painter.setPen(QColor(kWhite));
  painter.setFont(boldArial(11));
  painter.drawText(QRect(30, 0, kHeaderWidth - 38, kHeaderHeight - 2),
                   Qt::AlignCenter | Qt::TextSingleLine, QStringLiteral("TKB MONITOR"));
  return header;
}

MonitorPicture::MonitorPicture()
    : image_(kPictureWidth, kPictureHeight, QImage::Format_RGB888),
      header_(headerPicture()),
      labelFont_(boldArial(11)),
      numberFont_(boldArial(21)) {
  image_.fill(QColor(kBlack));
}

void MonitorPicture::fill(QPainter& painter, int left, int top, int right, int bottom,
                          QRgb colour) {
  if (right <= left || bottom <= top) return;
  painter.fillRect(QRect(left, top, right - left, bottom - top), QColor(colour));
}

void MonitorPicture::drawText(QPainter& painter, const QString& text, int left, int top,
                              int right, int bottom, const QFont& font) {
  if (right <= left || bottom <= top) return;
  const QSize size(right - left, bottom - top);
  if (text.size() >= kMaxTextLength) {
    fill(painter, left, top, right, bottom, kBlack);
    return;
  }
  const QString key = text + QLatin1Char('|') + QString::number(size.width()) + QLatin1Char('x') +
                      QString::number(size.height()) + QLatin1Char('|') +
                      QString::number(font.pixelSize());
  auto found = renderedText_.constFind(key);
  if (found == renderedText_.constEnd()) {
    constexpr qsizetype kMaxRenderedTexts = 2048;
    if (renderedText_.size() >= kMaxRenderedTexts) renderedText_.clear();
    QImage box(size, QImage::Format_RGB888);
    box.fill(QColor(kBlack));
    QPainter boxPainter(&box);
    boxPainter.setRenderHint(QPainter::TextAntialiasing, false);
    boxPainter.setFont(font);
    boxPainter.setPen(QColor(kWhite));
    boxPainter.drawText(QRect(QPoint(0, 0), size), Qt::AlignCenter | Qt::TextSingleLine, text);
    boxPainter.end();
    found = renderedText_.insert(key, box);
  }
  painter.drawImage(left, top, *found);
}

void MonitorPicture::drawBackground(QPainter& painter, unsigned mode) {
  fill(painter, 0, 0, 150, 102, kBlack);
  painter.drawImage(0, 0, header_);
  drawText(painter, QStringLiteral("BRAKE ADJUSTMENT"), 55, 20, 150, 30, labelFont_);

  const BarLayout layout = barLayout(mode);
  for (int i = 0; i < layout.count; ++i) {
    const int frame = layout.frames[i];
    fill(painter, frame, kFrameTop, frame + 10, kFrameBottom, kWhite);
    // Scale: long marks at 0, 50 and 100 %, short marks every 10 % between them.
    const int a = frame - 2;
    for (int y : {39, 64, 90}) fill(painter, a, y, a + 2, y + 1, kWhite);
    for (int y : {44, 49, 54, 59, 69, 74, 79, 84}) fill(painter, a + 1, y, a + 2, y + 1, kWhite);
  }

  if (mode & kModeTwoNumbers) {
    fill(painter, 60, 39, 100, 91, kPanelOrange);
    fill(painter, 105, 39, 145, 91, kPanelOrange);
    drawText(painter, QStringLiteral("MAX"), 60, 92, 100, 100, labelFont_);
    drawText(painter, QStringLiteral("CUT"), 105, 92, 145, 100, labelFont_);
  } else {
    fill(painter, 77, 39, 127, 91, kPanelOrange);
    drawText(painter, QStringLiteral("MAX"), 77, 92, 127, 100, labelFont_);
  }
}

void MonitorPicture::draw(const PictureValues& values, bool fullBackground) {
  QPainter painter(&image_);
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setRenderHint(QPainter::TextAntialiasing, false);
  if (fullBackground) drawBackground(painter, values.mode);

  struct Bar {
    int percent;
    QRgb colour;
  };
  const BarLayout layout = barLayout(values.mode);
  const Bar clutch{values.clutch, kClutchBlue};
  const Bar brake{values.brake, kBrakeRed};
  const Bar throttle{values.throttle, kThrottleGreen};
  const Bar withClutch[3] = {clutch, brake, throttle};
  const Bar withoutClutch[2] = {brake, throttle};
  const Bar* bars = layout.count == 3 ? withClutch : withoutClutch;
  for (int i = 0; i < layout.count; ++i) {
    const int left = layout.frames[i] + 1;
    const int right = layout.frames[i] + 9;
    const int top = barTop(bars[i].percent);
    fill(painter, left, kBarTopY, right, top, kBlack);
    fill(painter, left, top, right, kBarFloorY, bars[i].colour);
  }

  if (values.mode & kModeTwoNumbers) {
    drawText(painter, QString::number(values.maxNumber), 61, 40, 99, 90, numberFont_);
    drawText(painter, QString::number(values.cutNumber), 106, 40, 144, 90, numberFont_);
  } else {
    drawText(painter, QString::number(values.maxNumber), 78, 40, 126, 90, numberFont_);
  }
}

void MonitorPicture::drawTraceBackground() {
  QPainter painter(&image_);
  painter.setRenderHint(QPainter::Antialiasing, false);
  fill(painter, 0, 0, 150, 102, kBlack);
  painter.drawImage(0, 0, header_);
  const int left = kTraceFrameLeft, right = kTraceFrameRight + 1;
  const int top = kTraceFrameTop, bottom = kTraceFrameBottom + 1;
  fill(painter, left, top, right, top + 1, kWhite);
  fill(painter, left, bottom - 1, right, bottom, kWhite);
  fill(painter, left, top, left + 1, bottom, kWhite);
  fill(painter, right - 1, top, right, bottom, kWhite);
  // Scale left of the frame: long marks at 0, 50 and 100 %, short ones at 25 and 75 %.
  for (int percent : {0, 50, 100}) fill(painter, left - 3, traceRow(percent), left, traceRow(percent) + 1, kWhite);
  for (int percent : {25, 75}) fill(painter, left - 2, traceRow(percent), left, traceRow(percent) + 1, kWhite);
}

void MonitorPicture::drawTrace(const PedalTrace& trace, unsigned mode, bool fullBackground) {
  if (fullBackground) drawTraceBackground();
  TracePixels pixels(image_);
  pixels.clear(kTraceLeftX, kTraceFrameTop + 1, kTraceRightX + 1, kTraceFrameBottom);
  for (int percent : {25, 50, 75}) pixels.row(kTraceLeftX, kTraceRightX, traceRow(percent), kGridGrey);

  const std::vector<TraceSpan>& held = trace.heldBrake();
  const std::size_t width = static_cast<std::size_t>(kTraceRightX - kTraceLeftX + 1);
  for (std::size_t i = 0; i < held.size() && i < width; ++i) {
    pixels.span(kTraceLeftX + static_cast<int>(i), held[i], i > 0 ? &held[i - 1] : nullptr, kHeldGrey);
  }

  struct Line {
    TracePedal pedal;
    QRgb colour;
  };
  // The brake last, on top: it is what the view is for.
  const Line lines[] = {{TracePedal::Clutch, kClutchBlue},
                        {TracePedal::Throttle, kThrottleGreen},
                        {TracePedal::Brake, kBrakeRed}};
  const int count = trace.columnCount();
  const int firstX = kTraceRightX - count + 1;
  for (const Line& line : lines) {
    if (line.pedal == TracePedal::Clutch && !(mode & kModeClutchBar)) continue;
    for (int i = 0; i < count; ++i) {
      pixels.span(firstX + i, trace.column(i)[line.pedal],
                  i > 0 ? &trace.column(i - 1)[line.pedal] : nullptr, line.colour);
    }
  }
}

}  // namespace tkb::monitor
