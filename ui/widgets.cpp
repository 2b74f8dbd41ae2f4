#include "ui/widgets.h"

#include <QLineEdit>
#include <QMessageBox>

#include <QFont>
#include <QFontInfo>
#include <QFontMetrics>
#include <QVariant>
#include <algorithm>
#include <memory>

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

void setTextPx(QWidget* w, int pixelSize) {
  QFont font = w->font();
  font.setPixelSize(pixelSize);
  w->setFont(font);
}

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
constexpr const char* kRoomProperty = "tkbFitRoom";
constexpr int kButtonBorderPx = 4;  // per side: the border and a little air

int widestLine(const QFontMetrics& fm, const QString& text) {
  int width = 0;
  for (const QString& line : text.split('\n')) width = std::max(width, fm.horizontalAdvance(line));
  return width;
}

// The widget's own text size, kept from the first call.
int designSize(QWidget* w) {
  QVariant design = w->property(kDesignSizeProperty);
  if (!design.isValid()) {
    design = QFontInfo(w->font()).pixelSize();
    w->setProperty(kDesignSizeProperty, design);
  }
  return design.toInt();
}

// The largest size from the widget's own down to the readable minimum in which the text is
// at most maxWidth wide; none when it is wider even in the smallest.
std::optional<int> fittingSize(QWidget* w, const QString& text, int maxWidth) {
  QFont font = w->font();
  for (int size = designSize(w); size >= kMinReadablePx; --size) {
    font.setPixelSize(size);
    if (widestLine(QFontMetrics(font), text) <= maxWidth) return size;
  }
  return std::nullopt;
}

// The text broken at the blank that leaves the narrower of the two lines widest; none
// without a blank.
std::optional<QString> twoLines(const QWidget* w, const QString& text) {
  const QFontMetrics fm(w->font());
  std::optional<QString> best;
  int bestWidth = 0;
  for (qsizetype i = text.indexOf(' '); i > 0; i = text.indexOf(' ', i + 1)) {
    const QString broken = text.left(i) + '\n' + text.mid(i + 1).trimmed();
    const int width = widestLine(fm, broken);
    if (!best || width < bestWidth) {
      best = broken;
      bestWidth = width;
    }
  }
  return best;
}

void showInSize(QWidget* w, int size, int maxWidth) {
  QFont font = w->font();
  font.setPixelSize(size);
  if (font != w->font()) w->setFont(font);
  w->setProperty(kRoomProperty, maxWidth);
}
}  // namespace

void setFittedText(QLabel* label, const QString& text, int maxWidth, int maxLines) {
  // One line in the label's own size; else two in that size; else the larger of one line
  // and two lines made smaller.
  QString shown = text;
  std::optional<int> size = fittingSize(label, text, maxWidth);
  const std::optional<QString> broken =
      maxLines >= 2 && !text.contains('\n') && size != designSize(label) ? twoLines(label, text) : std::nullopt;
  if (broken) {
    const std::optional<int> brokenSize = fittingSize(label, *broken, maxWidth);
    if (brokenSize && (brokenSize == designSize(label) || !size || *brokenSize > *size)) {
      shown = *broken;
      size = brokenSize;
    }
  }
  showInSize(label, size.value_or(kMinReadablePx), maxWidth);
  label->setText(shown);
  label->adjustSize();
}

void setFittedText(QAbstractButton* button, const QString& text) {
  const int room = button->width() - 2 * kButtonBorderPx;
  showInSize(button, fittingSize(button, text, room).value_or(kMinReadablePx), room);
  button->setText(text);
}

std::optional<int> fittedRoom(const QWidget* w) {
  const QVariant room = w->property(kRoomProperty);
  if (!room.isValid()) return std::nullopt;
  return room.toInt();
}

QString windowStyleSheet() {
  // The orange of the buttons' frames, the green of the mode in force, the pages' dark grey.
  return QStringLiteral(
      "QComboBox{background:#f4f4f4;color:#202020;border:2px solid rgb(255,165,0);border-radius:5px;"
      "padding:0px 2px 0px 5px;}"
      "QComboBox:disabled{color:#8a8a8a;border-color:#c8c8c8;}"
      "QComboBox::drop-down{border:none;width:16px;}"
      "QComboBox::down-arrow{image:url(:/pictures/list_arrow.svg);width:10px;height:6px;}"
      "QComboBox QAbstractItemView{background:#ffffff;color:#202020;border:2px solid rgb(255,165,0);"
      "selection-background-color:#ffe7b8;selection-color:#202020;outline:0px;}"
      "QCheckBox{color:#202020;spacing:8px;}"
      "QCheckBox::indicator{width:14px;height:14px;border:2px solid rgb(255,165,0);border-radius:4px;"
      "background:#ffffff;}"
      "QCheckBox::indicator:checked{background:rgb(17,153,42);border-color:rgb(17,153,42);"
      "image:url(:/pictures/check_mark.svg);}"
      "QSpinBox{background:#ffffff;color:#202020;border:1px solid #c5712f;border-radius:3px;"
      "padding:0px;selection-background-color:#ffe7b8;selection-color:#202020;}"
      "QSpinBox[refused=\"true\"]{border:2px solid #d02020;background:#ffe4e4;}"
      "QSpinBox::up-button,QSpinBox::down-button{width:0px;border:none;}"
      "QDialog,QMessageBox{background:#f4f4f4;}"
      "QDialog QLabel,QMessageBox QLabel{color:#202020;}"
      "QDialog QPushButton,QMessageBox QPushButton{background:#f4f4f4;color:#202020;"
      "border:3px solid rgb(255,165,0);border-radius:6px;padding:5px 14px;min-width:70px;font-weight:bold;}"
      "QDialog QPushButton:pressed,QMessageBox QPushButton:pressed{background:#d8d8d8;}"
      "QDialog QPushButton:default,QMessageBox QPushButton:default{border-color:rgb(17,153,42);}"
      "QDialog QPushButton:disabled,QMessageBox QPushButton:disabled{color:#8a8a8a;border-color:#c8c8c8;}"
      "QDialog QLineEdit{background:#ffffff;color:#202020;border:1px solid #c5712f;border-radius:3px;"
      "padding:2px 4px;}"
      "QTableWidget{background:#ffffff;color:#202020;border:2px solid rgb(255,165,0);border-radius:5px;"
      "gridline-color:#e4e4e4;selection-background-color:#ffe7b8;selection-color:#202020;}"
      "QHeaderView::section{background:#2b2f36;color:#f0f0f0;border:none;padding:4px 6px;font-weight:bold;}"
      "QScrollArea{background:#ffffff;border:2px solid rgb(255,165,0);border-radius:5px;}"
      "QScrollArea > QWidget > QWidget{background:#ffffff;}"
      "QToolTip{background:#2b2f36;color:#f0f0f0;border:1px solid #c5712f;padding:3px;}");
}

QMessageBox* questionBox(QWidget* parent, const Question& question) {
  auto* box = new QMessageBox(QMessageBox::Question, question.title, question.text, QMessageBox::NoButton, parent);
  box->setStyleSheet(windowStyleSheet());
  box->addButton(question.yes, QMessageBox::YesRole);
  QPushButton* no = box->addButton(question.no, QMessageBox::NoRole);
  box->setDefaultButton(no);
  box->setEscapeButton(no);
  return box;
}

bool askQuestion(QWidget* parent, const Question& question) {
  const std::unique_ptr<QMessageBox> box(questionBox(parent, question));
  box->exec();
  return box->clickedButton() != nullptr && box->buttonRole(box->clickedButton()) == QMessageBox::YesRole;
}

void showMessageBox(QWidget* parent, bool error, const QString& title, const QString& text) {
  QMessageBox box(error ? QMessageBox::Critical : QMessageBox::Information, title, text, QMessageBox::Ok, parent);
  box.setStyleSheet(windowStyleSheet());
  box.exec();
}

}  // namespace tkb::ui

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace tkb::ui {

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
}

SolidLine::SolidLine(QWidget* parent, QColor colour) : QWidget(parent), colour_(colour) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void SolidLine::paintEvent(QPaintEvent* event) { QPainter(this).fillRect(event->rect(), colour_); }

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
