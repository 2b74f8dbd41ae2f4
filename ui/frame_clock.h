// FrameClock: the one 50 ms frame of a window. The live widgets (bars, value labels,
// history columns, chart markers) take their new values at once and leave the repaint to
// the clock: at each frame it sets the label texts that changed and repaints the widgets
// that asked, so the window repaints what changed at most once per frame. While the window
// is minimised or hidden nothing is set or repainted; what waits goes out at the first
// frame after it shows again. The clock only ticks while something waits, so a window at
// rest costs nothing; the 10 ms tasks behind the values go on all the time. While the live
// views run they tell the clock each 10 ms step (feedStep): a frame that is due then runs in
// that step, so the frames cost the window no wake-ups of their own.
#pragma once

#include <QLabel>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <utility>
#include <vector>

namespace tkb::ui {

inline constexpr int kFramePeriodMs = 50;
// The feed's step: a frame left to the timer comes this much after its period.
inline constexpr int kFeedStepMs = 10;

class FrameClock : public QObject {
  Q_OBJECT

 public:
  // The clock of the widget's window, made on first use (it lives as long as the window).
  static FrameClock& of(QWidget* widget);

  // The widget repaints at the next frame (once, however often it asks).
  void repaint(QWidget* widget);
  // The label shows text from the next frame on; a label that already shows it is not set.
  void setText(QLabel* label, const QString& text);

  // Runs one frame now (the clock's timer calls it). Does nothing while the window is
  // minimised or hidden.
  void frame();
  // A 10 ms step of the feed has told the live widgets: the frame runs now when a period has
  // passed since the last one. The timer stays as the fallback, one step later.
  void feedStep();
  bool windowShown() const;
  bool ticking() const { return timer_.isActive(); }

 signals:
  // At the start of each frame: for widgets that follow a live value read at that moment
  // (the frames run while the live values change).
  void frameStarted();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  explicit FrameClock(QWidget* window);
  void wake();

  QWidget* window_;
  QTimer timer_;
  QElapsedTimer sinceFrame_;  // since the timer was started
  std::vector<QPointer<QWidget>> dirty_;
  std::vector<std::pair<QPointer<QLabel>, QString>> texts_;
};

}  // namespace tkb::ui
