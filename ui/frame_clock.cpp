#include "ui/frame_clock.h"

#include <QEvent>
#include <algorithm>

namespace tkb::ui {

FrameClock::FrameClock(QWidget* window) : QObject(window), window_(window) {
  timer_.setInterval(kFramePeriodMs + kFeedStepMs);
  connect(&timer_, &QTimer::timeout, this, &FrameClock::frame);
  window_->installEventFilter(this);
}

FrameClock& FrameClock::of(QWidget* widget) {
  QWidget* window = widget->window();
  // The live widgets ask on every 10 ms run, nearly always for the same window.
  static QPointer<FrameClock> last;
  if (last && last->window_ == window) return *last;
  auto* clock = window->findChild<FrameClock*>(QString(), Qt::FindDirectChildrenOnly);
  if (clock == nullptr) clock = new FrameClock(window);
  last = clock;
  return *clock;
}

void FrameClock::repaint(QWidget* widget) {
  if (std::find(dirty_.begin(), dirty_.end(), widget) == dirty_.end()) dirty_.emplace_back(widget);
  wake();
}

void FrameClock::setText(QLabel* label, const QString& text) {
  auto waiting = std::find_if(texts_.begin(), texts_.end(), [label](const auto& t) { return t.first == label; });
  if (waiting != texts_.end()) {
    waiting->second = text;
  } else if (label->text() != text) {
    texts_.emplace_back(label, text);
    wake();
  }
}

bool FrameClock::windowShown() const { return window_->isVisible() && !window_->isMinimized(); }

// The first frame comes one period after the request, so frames stay a period apart: at the
// feed's first step after it, or by the timer when no step comes. A minimised or hidden window
// keeps its requests until it shows again.
void FrameClock::wake() {
  if (!timer_.isActive() && windowShown()) {
    timer_.start();
    sinceFrame_.start();
  }
}

void FrameClock::feedStep() {
  if (timer_.isActive() && sinceFrame_.elapsed() >= kFramePeriodMs) frame();
}

bool FrameClock::eventFilter(QObject* watched, QEvent* event) {
  if (watched == window_ && (event->type() == QEvent::Show || event->type() == QEvent::WindowStateChange) &&
      (!dirty_.empty() || !texts_.empty()))
    wake();
  return false;
}

void FrameClock::frame() {
  if (!windowShown()) {
    timer_.stop();
    return;
  }
  emit frameStarted();
  if (dirty_.empty() && texts_.empty()) {
    timer_.stop();
    return;
  }
  // The next frame a period from now, whatever ran this one.
  timer_.start();
  sinceFrame_.start();
  // Taken out first: a widget set now may ask again before the next frame.
  auto texts = std::move(texts_);
  texts_.clear();
  for (auto& [label, text] : texts) {
    if (!label || label->text() == text) continue;
    label->setText(text);
    // A rich-text label lays its text out only when it paints, and that asks for a second
    // repaint from inside the first: laid out now, it repaints once, with this frame.
    if (label->textFormat() == Qt::RichText) label->sizeHint();
  }
  auto dirty = std::move(dirty_);
  dirty_.clear();
  for (const QPointer<QWidget>& widget : dirty)
    if (widget) widget->update();
}

}  // namespace tkb::ui
