// The monitor's picture: 152 x 102 pixels with two or three pedal bars and their scales, and
// the "BRAKE ADJUSTMENT" panel with one or two numbers; or, in the trace view, the last 5 s of
// the pedals as lines over the held brake application. Drawn only with filled rectangles,
// single pixels and centred, non-antialiased text, so every pixel is predictable. The window
// shows it and the VR overlay receives a copy.
#pragma once

#include <QFont>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QString>

namespace tkb::monitor {

class PedalTrace;

inline constexpr int kPictureWidth = 152;
inline constexpr int kPictureHeight = 102;
inline constexpr int kHeaderWidth = 150;
inline constexpr int kHeaderHeight = 18;

// Display mode bits, as the configuration program sends them.
inline constexpr unsigned kModeTwoNumbers = 0x01;  // "MAX" and "CUT"
inline constexpr unsigned kModeClutchBar = 0x02;

struct PictureValues {
  int throttle = 0;
  int brake = 0;
  int clutch = 0;
  int maxNumber = 0;
  int cutNumber = 0;
  unsigned mode = 0;
  bool operator==(const PictureValues&) const = default;
};

// Our header artwork, 150 x 18.
QImage headerPicture();

class MonitorPicture {
 public:
  MonitorPicture();

  // Draws the values; the frames, scales, panels, labels and header only when fullBackground.
  void draw(const PictureValues& values, bool fullBackground);
  // The trace view: the lines of the pedals (the clutch only in a mode with the clutch bar)
  // over the held brake application in grey; the header, frame and scale only when
  // fullBackground.
  void drawTrace(const PedalTrace& trace, unsigned mode, bool fullBackground);

  const QImage& image() const { return image_; }
  QImage& image() { return image_; }

 private:
  // Left, top, right and bottom with right and bottom exclusive; an empty or inverted
  // rectangle fills nothing.
  static void fill(QPainter& painter, int left, int top, int right, int bottom, QRgb colour);
  void drawText(QPainter& painter, const QString& text, int left, int top, int right,
                int bottom, const QFont& font);
  void drawBackground(QPainter& painter, unsigned mode);
  void drawTraceBackground();

  QImage image_;
  QImage header_;
  QFont labelFont_;   // bold "Arial", 11-pixel cell
  QFont numberFont_;  // bold "Arial", 21-pixel cell
  // Text boxes already rendered (white on black), by text, box size and font: laying text
  // out is most of a drawing's cost, and the same few numbers come back 100 times a second.
  QHash<QString, QImage> renderedText_;
};

// Top of a bar of the given percentage: y = 90 at 0 %, y = 40 at 100 %, two percent per pixel.
int barTop(int percent);

// The trace view's plot: columns x = 14..138, oldest on the left, the newest at x = 138; a
// percentage p (0..100) at row y = 98 - 3p/4, so 0 % at y = 98 and 100 % at y = 23.
inline constexpr int kTraceLeftX = 14;
inline constexpr int kTraceRightX = 138;
int traceRow(int percent);

}  // namespace tkb::monitor
