// The CUSTOM page's response-curve editor: a 180 x 180 chart of eleven points (point k is
// the output for the input 10·k %), drawn as a line with points over division lines, with
// a marker where the pedal's live input sits on the curve. The chart only reports pointer
// events in window coordinates; the CUSTOM page's sport_chart_handler decides what they
// do, with the pure mapping below (columns and value scale in window pixels). The marker
// sits where curveOutputAt (app/pedal_readout) reads the drawn line. The curve is drawn once
// into a picture and again only when it changes; the marker moves over that picture, and
// only its old and new places are repainted.
#pragma once

#include <QPixmap>
#include <QRegion>
#include <QSpinBox>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "app/pedal_readout.h"
#include "link/controller_state.h"

class QPainter;

namespace tkb::ui {

inline constexpr int kChartSizePx = 180;
// The value scale in window pixels: value 0 at y = 454, value 100 at y = 274.
inline constexpr int kChartZeroY = 454;
inline constexpr int kChartSpanPx = 180;
// The columns: the two end points take 9 pixels, the nine inner points 18 each.
inline constexpr int kChartEndColumnPx = 9;
inline constexpr int kChartColumnPx = 18;
inline constexpr int kCurveLastPoint = kCurvePoints - 1;
inline constexpr unsigned kCurveColour = 0xC5712F;

// The straight line 0, 10, ... 100.
Curve defaultCurve();

// Which point a pointer at window x picks on a chart whose plotting area starts at window
// x `left`. Anything outside the 180-pixel band picks point 0, which never moves.
int chartPointAt(int x, int left);

// The value point k takes for a pointer at window y: (454 - y) * 100 / 180, then kept above
// the point before it and below the point after it (the second rule wins when both apply).
// Points 0 and 10 are always 0 and 100.
int chartPointValue(const Curve& points, int k, int y);

// The values point k may take without leaving the strictly increasing order: above the
// point before it and below the point after it, within 0..100. None for the two ends,
// which never move, and for a point squeezed between neighbours one apart.
struct PointRange {
  int low, high;
};
std::optional<PointRange> chartPointRange(const Curve& points, int k);

// Point k's value after a key step of delta, kept within its range (unchanged when it has
// none).
int chartPointStep(const Curve& points, int k, int delta);


enum class ChartEvent { Pressing, PressLost, Clicked };

// What the keyboard asks of the selected point: a step (Up/Down 1, Page Up/Down 10, each
// press and each repeat while held), the end of the steps (the key is released, or the
// chart lost the focus while it was held), or a value typed into the point's entry box
// and confirmed with Enter.
struct ChartKeyEdit {
  enum Kind { Step, StepsDone, Entered } kind;
  int point;
  int amount;  // the step, or the value entered
};

class PointEntry;

class CurveChart : public QWidget {
  Q_OBJECT

 public:
  explicit CurveChart(QWidget* parent);

  // The chart keeps its points as signed 16-bit values, as the controller's curves travel.
  Curve curve() const;
  void setCurve(const Curve& points);
  // No curve drawn (and none to edit) until the next setCurve.
  void clearCurve();
  bool hasCurve() const { return hasCurve_; }

  // The pedal's live input (percent), or none to hide the marker. When the marker moves, its
  // old and new places are repainted, nothing else.
  void setLiveInput(std::optional<int> percent);
  std::optional<int> liveInput() const { return liveInput_; }
  // Where the marker is drawn, in chart pixels (for tests and painting).
  QPointF liveMarkerPosition() const;
  // The pixels the marker (its dot and its line down to the bottom edge) may touch; empty
  // while none is drawn.
  QRegion liveMarkerRegion() const;
  // Where point k is drawn, in chart pixels.
  QPointF pointPosition(int k) const;


  // The point the keyboard edits (1 to 9; the ends never move), drawn selected while the
  // chart has the focus. A click on a point's column or Tab into the chart selects one;
  // Left and Right select the neighbour.
  std::optional<int> selectedPoint() const { return selected_; }
  void selectPoint(int k);

  // The small box in which the selected point's value is typed (Enter or a double-click
  // opens it): Enter reports a value the order allows and refuses any other where it was
  // typed (the box shows the range and stays open), Escape or leaving it reports nothing.
  // Not opened for a point without room to move.
  void openEntry();
  bool entryOpen() const;
  QSpinBox* entry() const;
  // The values the open box accepts (none while it is closed), and whether it has just
  // refused one typed outside them (it then shows that range).
  std::optional<PointRange> entryRange() const;
  bool entryRefused() const;

 signals:
  // Pressing (on press and on every move while held over the chart), PressLost (the held
  // pointer left the chart) and Clicked (released over the chart), each with the pointer
  // in window coordinates.
  void pointerEvent(tkb::ui::ChartEvent event, QPoint windowPos);
  // What the keyboard asks of the selected point.
  void keyEdit(tkb::ui::ChartKeyEdit edit);
  // After every change of the curve drawn (set, cleared), whoever made it.
  void curveChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  QPoint windowPos(const QPointF& local) const;
  // The curve's picture is drawn again at the next paint, and the whole chart repainted.
  void redrawCurve();
  void drawCurve(QPainter& painter) const;
  void report(ChartEvent event, const QPointF& local);
  void closeEntry(bool confirmed);

  std::array<int16_t, kCurvePoints> points_{};
  std::optional<int> liveInput_;
  bool hasCurve_ = true;
  QPixmap curvePicture_;  // everything but the live marker
  bool curveDrawn_ = false;
  bool held_ = false;     // the left button went down on the chart and is still down
  bool engaged_ = false;  // ... and the pointer has not left the chart since
  std::optional<int> selected_;
  bool stepping_ = false;  // a step key went down and its release has not come yet
  PointEntry* entry_ = nullptr;
};

}  // namespace tkb::ui
