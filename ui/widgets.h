// Small widget helpers shared by every page: placing a widget the way the screen layout
// is written down (an alignment to the parent plus an x/y offset), the two button styles,
// the spin box whose set always runs its page's handler, and the conversion of the
// recolour markup of the label texts ("#FF0000 red# plain") to rich text.
#pragma once

#include <QColor>
#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QString>
#include <functional>
#include <optional>
#include <string>

namespace tkb::ui {

enum class Align { TopLeft, TopMid, TopRight, Center, BottomMid };

// Places w inside its parent: TopMid (-100, 60) centres it horizontally, shifted 100 left
// and 60 down; Center offsets are from the parent's centre. Uses w's current size.
void placeAligned(QWidget* w, Align align, int dx, int dy);

// Normal buttons carry an orange shadow (6 px), the active mode's button a green one (9 px).
enum class ButtonLook { Normal, Highlighted };
void setButtonLook(QPushButton* button, ButtonLook look);
ButtonLook buttonLook(const QPushButton* button);

// "#RRGGBB text#" opens a coloured run at the blank after the colour and closes it at the
// next "#"; "##" inside the colour parameter is a plain "#"; every line starts uncoloured.
// The result is HTML for a rich-text QLabel (line breaks as <br>).
QString recolourToRichText(const std::string& markup);
// Sets a label's text from recolour markup.
void setRecolouredText(QLabel* label, const std::string& markup);

// A spin box without its own arrows and without typing: it shows what the state holds; the
// pages change a value through their "-" and "+" buttons, which ask the session.
class ValueBox : public QSpinBox {
 public:
  ValueBox(QWidget* parent, int minimum, int maximum);
  // Shows a value (within the box's range).
  void showValue(int value);
  // Blank: the controller's value is not known; the next showValue shows one again.
  void showUnknown();
  bool known() const { return known_; }
  // The box only shows: its own steps (wheel, keys) change nothing.
  void stepBy(int) override {}

 protected:
  QString textFromValue(int value) const override;

 private:
  bool known_ = true;
};

// The widget's text in a size of its own, whatever the desktop's default font is.
void setTextPx(QWidget* w, int pixelSize);

// A plain text label sized to its text. Like every picture, it lets clicks through to
// what lies below it.
QLabel* makeLabel(QWidget* parent, const QString& text, int pixelSize = 19);

// The smallest text the pages shrink a translation to; below it a text is not read easily.
inline constexpr int kMinReadablePx = 10;
// Shows a text in the widget's own text size or, when that would not fit maxWidth pixels,
// in the largest smaller size that does (never below kMinReadablePx); a label is then
// sized to its text. Each call starts again from the widget's own size. With maxLines 2 a
// label whose text does not fit on one line even at the smallest size is broken at the
// blank that gives the narrowest two lines (in the largest size they fit). The room is kept
// on the widget (fittedRoom) so that what does not fit can be found.
void setFittedText(QLabel* label, const QString& text, int maxWidth, int maxLines = 1);
// A button's room is its width less its border.
void setFittedText(QAbstractButton* button, const QString& text);
// The room the last setFittedText gave the widget's text; none when it was never fitted.
std::optional<int> fittedRoom(const QWidget* w);

// The window's look, shared by every window and dialog of the program: the lists, check
// boxes, value boxes, message boxes and dialogs in the window's own colours (white and light
// grey faces, orange frames, the green of the mode in force). Fonts stay the widgets' own.
QString windowStyleSheet();

// A question asked before something that cannot be taken back: the driver answers yes or
// no (no is the default, Escape says no).
struct Question {
  QString title, text, yes, no;
};
// The question's box in the window's look, not yet shown; its yes button has the YesRole.
QMessageBox* questionBox(QWidget* parent, const Question& question);
// The question in that box, modal; true: yes.
bool askQuestion(QWidget* parent, const Question& question);
// A modal message box in the window's look (an error or an information).
void showMessageBox(QWidget* parent, bool error, const QString& title, const QString& text);

}  // namespace tkb::ui

namespace tkb::ui {

// A label that reports clicks (the background object, the web link).
class ClickLabel : public QLabel {
  Q_OBJECT

 public:
  using QLabel::QLabel;

 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

// A thin rectangle of one colour (the zone marks over the bars): one fill, opaque, so a bar
// repainting under it costs it only that fill, not a style sheet's whole drawing.
class SolidLine : public QWidget {
 public:
  SolidLine(QWidget* parent, QColor colour);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor colour_;
};

// A picture compiled into the program (":/pictures/....svg"), drawn at its fixed size
// the first time it is shown, so hidden pictures cost nothing at start-up.
class Picture : public QLabel {
 public:
  Picture(QWidget* parent, QString resource, int width, int height);
  const QString& resource() const { return resource_; }
  bool rendered() const { return rendered_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QString resource_;
  bool rendered_ = false;
};

}  // namespace tkb::ui
