// The background of a live widget, painted by the widget itself: the live value and history
// labels change at every frame, and a label that lets what lies under it show through drags
// the layers below into each repaint (its panel, the page container, and below a page that is
// not opaque everything under it: the backdrop picture, the window's style-sheeted
// background, the window). Given its own background, a widget is opaque to Qt: each repaint
// starts with a copy of what the window shows under it, taken once, and touches nothing under
// it. Used by the live views (ui/live_bars).
#pragma once

#include <QWidget>

namespace tkb::ui {

// From now on the widget paints its own background before its content. The copy of what lies
// under it (its parents and the widgets below it, without it and whatever is above it) with its
// own background over that is taken at its first paint, and again after it moved in the
// window, was resized, restyled or shown again. A live widget lies under no other live widget,
// so what changes by itself is never part of a copy. Calling it again does nothing.
void paintOwnBackground(QWidget* widget);
// Back to being drawn over its parents (for tests comparing the pixels of both).
void stopPaintingOwnBackground(QWidget* widget);
bool paintsOwnBackground(const QWidget* widget);

// The widget repaints alone: it and each parent up to `top` (the page) are opaque, those that
// are not by themselves (the bars and charts are) with their own background. Qt repaints the
// widgets below a sibling that is not opaque wherever an opaque child of that sibling repaints.
void repaintAlone(QWidget* widget, QWidget* top);

}  // namespace tkb::ui
