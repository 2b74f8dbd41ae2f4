#include "ui/live_background.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QStyleOption>
#include <vector>

namespace tkb::ui {

namespace {

constexpr const char* kBackgroundName = "tkbOwnBackground";

class OwnBackground : public QObject {
 public:
  explicit OwnBackground(QWidget* widget) : QObject(widget) {
    setObjectName(kBackgroundName);
    widget->setAttribute(Qt::WA_OpaquePaintEvent);
    widget->installEventFilter(this);
    widget->update();
  }

  void stop() {
    auto* widget = static_cast<QWidget*>(parent());
    widget->removeEventFilter(this);
    widget->setAttribute(Qt::WA_OpaquePaintEvent, false);
    widget->update();
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::Paint: {
        auto* widget = static_cast<QWidget*>(watched);
        const QPoint at = widget->mapTo(widget->window(), QPoint(0, 0));
        const qreal ratio = widget->devicePixelRatioF();
        if (copy_.isNull() || at != at_ || ratio != copy_.devicePixelRatio() ||
            copy_.deviceIndependentSize().toSize() != widget->size())
          takeCopy(widget, at, ratio);
        const QRect area = static_cast<QPaintEvent*>(event)->rect();
        QPainter painter(widget);
        painter.drawPixmap(area, copy_, QRectF(QPointF(area.topLeft()) * ratio, QSizeF(area.size()) * ratio));
        return false;  // the content over it
      }
      case QEvent::Show:
      case QEvent::Resize:
      case QEvent::StyleChange:
      case QEvent::ParentChange:
        copy_ = QPixmap();
        break;
      default:
        break;
    }
    return false;
  }

 private:
  // What the window shows over the widget's place without it: each parent from the window down,
  // drawn without its children, and over each the visible children below the next one in the
  // chain (in stacking order), drawn with theirs; then the widget's own background, as Qt draws
  // it before the content of a widget that is not opaque (the palette's fill, the style
  // sheet's background and border).
  void takeCopy(QWidget* widget, QPoint at, qreal ratio) {
    at_ = at;
    QPixmap copy(widget->size() * ratio);
    copy.setDevicePixelRatio(ratio);
    copy.fill(Qt::transparent);
    QPainter painter(&copy);
    QWidget* window = widget->window();
    std::vector<QWidget*> chain;
    for (QWidget* w = widget; w != window; w = w->parentWidget()) chain.insert(chain.begin(), w);
    // Each in its own coordinates, clipped to it, at its place in the copy.
    auto draw = [&](QWidget* w, QWidget::RenderFlags flags) {
      const QRect place(w->mapFrom(window, at), widget->size());
      const QRect shown = place & w->rect();
      if (!shown.isEmpty()) w->render(&painter, shown.topLeft() - place.topLeft(), QRegion(shown), flags);
    };
    QWidget* level = window;
    for (QWidget* next : chain) {
      draw(level, level == window ? QWidget::DrawWindowBackground : QWidget::RenderFlags());
      for (QObject* child : level->children()) {
        if (child == next) break;
        auto* below = qobject_cast<QWidget*>(child);
        if (below != nullptr && !below->isWindow() && below->isVisible()) draw(below, QWidget::DrawChildren);
      }
      level = next;
    }
    if (widget->autoFillBackground()) painter.fillRect(widget->rect(), widget->palette().brush(widget->backgroundRole()));
    if (widget->testAttribute(Qt::WA_StyledBackground)) {
      QStyleOption option;
      option.initFrom(widget);
      widget->style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, widget);
    }
    painter.end();
    // The window's own background is opaque, so the copy is too: kept without alpha, it is
    // drawn as a plain copy of pixels.
    copy_ = QPixmap::fromImage(copy.toImage().convertToFormat(QImage::Format_RGB32));
    copy_.setDevicePixelRatio(ratio);
  }

  QPixmap copy_;
  QPoint at_;
};

OwnBackground* ownBackgroundOf(const QWidget* widget) {
  return widget->findChild<OwnBackground*>(kBackgroundName, Qt::FindDirectChildrenOnly);
}

}  // namespace

void paintOwnBackground(QWidget* widget) {
  if (widget != nullptr && ownBackgroundOf(widget) == nullptr) new OwnBackground(widget);
}

void stopPaintingOwnBackground(QWidget* widget) {
  if (widget == nullptr) return;
  if (OwnBackground* background = ownBackgroundOf(widget)) {
    background->stop();
    delete background;
  }
}

bool paintsOwnBackground(const QWidget* widget) { return widget != nullptr && ownBackgroundOf(widget) != nullptr; }

void repaintAlone(QWidget* widget, QWidget* top) {
  for (QWidget* w = widget; w != nullptr; w = w == top ? nullptr : w->parentWidget())
    if (!w->testAttribute(Qt::WA_OpaquePaintEvent)) paintOwnBackground(w);
}

}  // namespace tkb::ui
