#include "ui/widgets.h"

#include <QLineEdit>

#include <QFont>
#include <QFontInfo>
#include <QFontMetrics>
#include <algorithm>
#include <QVariant>

namespace tkb::ui {

void placeAligned(QWidget* w, Align align, int dx, int dy) {
  const QWidget* parent = w->parentWidget();
  const int pw = parent ? parent->width() : w->width();
  const int ph = parent ? parent->height() : w->height();
  int x = dx, y = dy;
  switch (align) {
    case Align::TopLeft: break;
    case Align::TopMid: x = (pw - w->width()) / 2 + dx; break;
    case Align::TopRight: x = pw - w->width() + dx; break;
    case Align::Center:
      x = (pw - w->width()) / 2 + dx;
      y = (ph - w->height()) / 2 + dy;
      break;
    case Align::BottomMid:
      x = (pw - w->width()) / 2 + dx;
      y = ph - w->height() + dy;
      break;
  }
  w->move(x, y);
}

namespace {
constexpr const char* kLookProperty = "tkbLook";
}

void setButtonLook(QPushButton* button, ButtonLook look) {
  // The style sheet is only replaced when the look changes: restyling repaints.
  const int value = look == ButtonLook::Highlighted ? 1 : 0;
  const QVariant old = button->property(kLookProperty);
  if (old.isValid() && old.toInt() == value) return;
  button->setProperty(kLookProperty, value);
  button->setStyleSheet(
      look == ButtonLook::Highlighted
          ? "QPushButton{background:#f4f4f4;color:#202020;border:4px solid rgb(17,153,42);"
            "border-radius:6px;} QPushButton:pressed{background:#d8d8d8;}"
          : "QPushButton{background:#f4f4f4;color:#202020;border:3px solid rgb(255,165,0);"
            "border-radius:6px;} QPushButton:pressed{background:#d8d8d8;}");
}

ButtonLook buttonLook(const QPushButton* button) {
  return button->property(kLookProperty).toInt() == 1 ? ButtonLook::Highlighted
                                                      : ButtonLook::Normal;
}

QString recolourToRichText(const std::string& markup) {
  enum class State { Plain, Parameter, Coloured };
  const QString text = QString::fromUtf8(markup.data(), static_cast<qsizetype>(markup.size()));
  QString html;
  QString parameter;
  State state = State::Plain;
  auto closeRun = [&] {
    if (state == State::Coloured) html += "</span>";
    state = State::Plain;
  };
  for (const QChar c : text) {
    if (c == '\n') {
      closeRun();
      html += "<br>";
      continue;
    }
    if (c == '#') {
      if (state == State::Plain) {
        state = State::Parameter;
        parameter.clear();
        continue;
      }
      if (state == State::Parameter) {  // "##": a plain '#'
        state = State::Plain;
        html += '#';
        continue;
      }
      closeRun();
      continue;
    }
    if (state == State::Parameter) {
      if (c == ' ') {
        QColor colour(QStringLiteral("#") + parameter.left(6));
        if (!colour.isValid()) colour = Qt::black;
        html += QStringLiteral("<span style=\"color:%1\">").arg(colour.name());
        state = State::Coloured;
      } else {
        parameter += c;
      }
      continue;
    }
    html += QString(c).toHtmlEscaped();
  }
  if (state == State::Coloured) html += "</span>";
  return html;
}

void setRecolouredText(QLabel* label, const std::string& markup) {
  label->setTextFormat(Qt::RichText);
  label->setText(recolourToRichText(markup));
}

ValueBox::ValueBox(QWidget* parent, int minimum, int maximum) : QSpinBox(parent) {
  setRange(minimum, maximum);
  setSingleStep(1);
  setButtonSymbols(QAbstractSpinBox::NoButtons);
  setReadOnly(true);
  setAlignment(Qt::AlignCenter);
  setFocusPolicy(Qt::NoFocus);
}

void ValueBox::showValue(int value) {
  const QSignalBlocker block(this);
  const bool wasUnknown = !known_;
  known_ = true;
  setValue(value);
  if (wasUnknown) lineEdit()->setText(textFromValue(this->value()));
}

void ValueBox::showUnknown() {
  const QSignalBlocker block(this);
  known_ = false;
  lineEdit()->clear();
}

QString ValueBox::textFromValue(int value) const { return known_ ? QSpinBox::textFromValue(value) : QString(); }

QLabel* makeLabel(QWidget* parent, const QString& text, int pixelSize) {
  auto* label = new QLabel(text, parent);
  QFont font = label->font();
  font.setPixelSize(pixelSize);
  label->setFont(font);
  label->setAttribute(Qt::WA_TransparentForMouseEvents);
  label->adjustSize();
  return label;
}

namespace {
constexpr const char* kDesignSizeProperty = "tkbDesignPx";
constexpr int kButtonBorderPx = 4;  // per side: the border and a little air

int widestLine(const QFontMetrics& fm, const QString& text) {
  int width = 0;
  for (const QString& line : text.split('\n')) width = std::max(width, fm.horizontalAdvance(line));
  return width;
}

// The widget's own text size (kept from the first call) and the largest size down to the
// readable minimum in which the text is at most maxWidth wide.
void fitFont(QWidget* w, const QString& text, int maxWidth) {
  QVariant design = w->property(kDesignSizeProperty);
  if (!design.isValid()) {
    design = QFontInfo(w->font()).pixelSize();
    w->setProperty(kDesignSizeProperty, design);
  }
  QFont font = w->font();
  int size = design.toInt();
  font.setPixelSize(size);
  while (size > kMinReadablePx && widestLine(QFontMetrics(font), text) > maxWidth) font.setPixelSize(--size);
  if (font != w->font()) w->setFont(font);
}
}  // namespace

void setFittedText(QLabel* label, const QString& text, int maxWidth) {
  fitFont(label, text, maxWidth);
  label->setText(text);
  label->adjustSize();
}

void setFittedText(QAbstractButton* button, const QString& text) {
  fitFont(button, text, button->width() - 2 * kButtonBorderPx);
  button->setText(text);
}

}  // namespace tkb::ui

#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace tkb::ui {

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
}

Picture::Picture(QWidget* parent, QString resource, int width, int height)
    : QLabel(parent), resource_(std::move(resource)) {
  resize(width, height);
  setAttribute(Qt::WA_TranslucentBackground);
  // Pictures never take clicks: a click on one reaches what lies below (the background).
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Picture::showEvent(QShowEvent* event) {
  if (!rendered_) {
    rendered_ = true;
    QPixmap pixmap(size());
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(resource_);
    if (renderer.isValid()) {
      QPainter painter(&pixmap);
      renderer.render(&painter);
    }
    setPixmap(pixmap);
  }
  QLabel::showEvent(event);
}

}  // namespace tkb::ui
