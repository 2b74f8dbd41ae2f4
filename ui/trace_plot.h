// TracePlot: the trace panel's drawing of the last 10 s of the three pedals (input or output,
// in percent, newest at the right) over the held brake applications: the last one in grey and
// the pinned reference in a second colour, both from the moment the brake left its dead zone,
// 0.5 s from the left edge, on the same time scale as the live lines. Opaque; the grid and the
// held applications are kept in a picture redrawn only when they change, so a frame draws that
// picture and three lines.
#pragma once

#include <QColor>
#include <QPixmap>
#include <QPolygon>
#include <QWidget>
#include <array>

#include "app/brake_capture.h"
#include "ui/pedal_trace_feed.h"

namespace tkb::ui {

class TracePlot : public QWidget {
 public:
  enum class Signal { Input, Output };
  static constexpr int kSeconds = 10;
  static constexpr int kHeldOffsetMs = 500;
  // Clutch, brake, throttle (as tkb::Pedal), the last braking and the reference.
  static const std::array<QColor, 3> kPedalColours;
  static const QColor kLastColour;
  static const QColor kReferenceColour;

  TracePlot(QWidget* parent, const PedalTraceFeed& feed);

  void setSignal(Signal signal);
  Signal signal() const { return signal_; }
  void setHasClutch(bool hasClutch);
  // The applications under the live lines (none: not drawn). They must live while shown.
  void setHeld(const BrakeApplication* last, const BrakeApplication* reference);
  // The held applications changed in place: their picture is drawn again.
  void heldChanged();

  // Where the live lines and the held ones are drawn (the grid's labels lie outside).
  QRect plotArea() const;
  // Frames painted so far (for tests and the benchmark).
  long paints() const { return paints_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void drawStatic();
  void drawHeld(QPainter& painter, const BrakeApplication& application, const QColor& colour, int width) const;

  const PedalTraceFeed& feed_;
  Signal signal_ = Signal::Input;
  bool hasClutch_ = true;
  const BrakeApplication* last_ = nullptr;
  const BrakeApplication* reference_ = nullptr;
  QPixmap static_;
  bool staticValid_ = false;
  std::array<QPolygon, 3> lines_;
  long paints_ = 0;
};

}  // namespace tkb::ui
