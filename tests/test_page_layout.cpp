// What the driver sees, over every page, both pedal sets and all six languages, with real
// widgets in the offscreen platform: every visible control can be reached (the widget under
// its centre is that control), every visible text fits its widget and the room it was fitted
// to, is not covered by another widget and is at least 10 px high, and every text of ours
// changes with the language. Each page (and the dialogs and boxes over it) is kept as a
// screenshot under the build tree.
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QRegularExpression>
#include <QStyleOptionComboBox>
#include <QTableWidget>
#include <QTest>
#include <QTextDocument>
#include <map>
#include <set>

#include "ui/pro_page.h"
#include "ui/search_help.h"
#include "ui/sport_page.h"
#include "ui/switch_led.h"
#include "ui/trace_panel.h"
#include "ui/trace_texts.h"
#include "window_fixture.h"

namespace tkb::test {
namespace {

// The room a button's border and padding take around its text, per side.
constexpr int kButtonTextMarginPx = 3;
// Below this a text is not read easily.
constexpr int kReadablePx = 10;

QRect windowRect(const QWidget* w) { return QRect(w->mapTo(w->window(), QPoint(0, 0)), w->size()); }

// The part of a widget that its parents do not clip away.
QRect unclippedRect(const QWidget* w) {
  QRect r = windowRect(w);
  for (const QWidget* p = w->parentWidget(); p != nullptr; p = p->parentWidget()) r &= windowRect(p);
  return r;
}

bool blank(const QString& text) { return text.trimmed().isEmpty(); }

// Containers that draw nothing of their own: a label under one is still seen.
bool drawsSomething(const QWidget* w) {
  if (auto* label = qobject_cast<const QLabel*>(w))
    return !blank(label->text()) || !label->pixmap().isNull() || !label->styleSheet().isEmpty();
  const QString kind = w->metaObject()->className();
  if (kind != "QWidget" && kind != "QFrame") return true;
  auto* frame = qobject_cast<const QFrame*>(w);
  return !w->styleSheet().isEmpty() || w->autoFillBackground() ||
         w->testAttribute(Qt::WA_StyledBackground) || (frame && frame->frameShape() != QFrame::NoFrame);
}

// The topmost widget that draws at a point (in w's coordinates), transparent ones included.
const QWidget* drawnAt(const QWidget* w, QPoint at) {
  const QObjectList& children = w->children();
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    auto* child = qobject_cast<const QWidget*>(*it);
    if (child == nullptr || child->isWindow() || !child->isVisible() || !child->geometry().contains(at)) continue;
    if (const QWidget* hit = drawnAt(child, at - child->pos())) return hit;
  }
  return drawsSomething(w) ? w : nullptr;
}

QString describe(const QWidget* w) {
  if (w == nullptr) return "nothing";
  QString text;
  if (auto* l = qobject_cast<const QLabel*>(w)) text = l->text();
  if (auto* b = qobject_cast<const QAbstractButton*>(w)) text = b->text();
  const QRect r = windowRect(w);
  return QString("%1 '%2' %3 [%4,%5 %6x%7]")
      .arg(w->metaObject()->className(), text.left(40), w->objectName())
      .arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// Where a label draws its text, in window coordinates.
QRect textRect(const QLabel* label) {
  QSize size;
  int inkTop = 0, inkHeight = -1;
  const bool rich = label->textFormat() == Qt::RichText ||
                    (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
  const QRect contents = label->contentsRect();
  if (rich || label->wordWrap()) {
    QTextDocument doc;
    doc.setDefaultFont(label->font());
    doc.setDocumentMargin(0);
    rich ? doc.setHtml(label->text()) : doc.setPlainText(label->text());
    if (label->wordWrap()) doc.setTextWidth(contents.width());
    size = QSize(static_cast<int>(std::ceil(doc.idealWidth())), static_cast<int>(std::ceil(doc.size().height())));
  } else {
    const QFontMetrics fm(label->font());
    const QStringList lines = label->text().split('\n');
    int width = 0;
    for (const QString& line : lines) width = std::max(width, fm.horizontalAdvance(line));
    size = QSize(width, fm.height() * static_cast<int>(lines.size()));
    if (lines.size() == 1) {
      // One plain line: what is drawn is the ink between the line's top and bottom.
      const QRect ink = fm.tightBoundingRect(label->text());
      inkTop = fm.ascent() + ink.top();
      inkHeight = ink.height();
    }
  }
  QRect r(QPoint(0, 0), size);
  const Qt::Alignment a = QStyle::visualAlignment(label->layoutDirection(), label->alignment());
  const int x = a & Qt::AlignRight     ? contents.right() + 1 - size.width()
                : a & Qt::AlignHCenter ? contents.left() + (contents.width() - size.width()) / 2
                                       : contents.left();
  const int y = a & Qt::AlignTop      ? contents.top()
                : a & Qt::AlignBottom ? contents.bottom() + 1 - size.height()
                                      : contents.top() + (contents.height() - size.height()) / 2;
  r.moveTo(label->mapTo(label->window(), QPoint(x, y)));
  if (inkHeight >= 0) r = QRect(r.x(), r.y() + inkTop, r.width(), inkHeight);
  return r;
}

bool isControl(const QWidget* w) {
  return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
         qobject_cast<const QComboBox*>(w) || qobject_cast<const QListWidget*>(w) ||
         dynamic_cast<const ui::ToggleSwitch*>(w) != nullptr;
}

// What a drop-down list shows: its entry, or its prompt without one.
QString comboText(const QComboBox* c) { return c->currentIndex() < 0 ? c->placeholderText() : c->currentText(); }

// The widest line of a text in a widget's font.
int textWidth(const QWidget* w, const QString& text) {
  const QFontMetrics fm(w->font());
  int width = 0;
  for (const QString& line : text.split('\n')) width = std::max(width, fm.horizontalAdvance(line));
  return width;
}

// The text a widget shows, for the checks of size, fit and language.
QString shownText(const QWidget* w) {
  if (auto* l = qobject_cast<const QLabel*>(w)) {
    if (l->textFormat() == Qt::RichText || Qt::mightBeRichText(l->text())) {
      QTextDocument doc;
      doc.setHtml(l->text());
      return doc.toPlainText();
    }
    return l->text();
  }
  if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
  if (auto* c = qobject_cast<const QComboBox*>(w)) return comboText(c);
  return {};
}

// The width a control's own text needs, against the room it has.
int neededWidth(const QWidget* w) {
  const QFontMetrics fm(w->font());
  if (auto* b = qobject_cast<const QAbstractButton*>(w))
    return blank(b->text()) ? 0 : fm.horizontalAdvance(b->text()) + 2 * kButtonTextMarginPx;
  if (auto* c = qobject_cast<const QComboBox*>(w)) {
    // The text has the edit field of the list's style: its frame and arrow are not room.
    QStyleOptionComboBox option;
    option.initFrom(c);
    option.editable = c->isEditable();
    const QRect field = c->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, c);
    return fm.horizontalAdvance(comboText(c)) + c->width() - field.width();
  }
  if (auto* s = qobject_cast<const QAbstractSpinBox*>(w)) return fm.horizontalAdvance(s->text()) + 2;
  if (auto* l = qobject_cast<const QListWidget*>(w)) {
    int width = 0;
    for (int i = 0; i < l->count(); ++i) width = std::max(width, fm.horizontalAdvance(l->item(i)->text()) + 16);
    return width;
  }
  return 0;
}

// Both checks over what the window shows now; one line per fault.
std::vector<std::string> layoutFaults(QWidget* window, const std::vector<const QWidget*>& pages) {
  std::vector<std::string> faults;
  auto fault = [&](const QString& what, const QWidget* w, const QWidget* other = nullptr) {
    faults.push_back((what + ": " + describe(w) + (other ? " <- " + describe(other) : QString())).toStdString());
  };
  // A widget wholly inside an open page that lies above it is simply not shown.
  auto underOpenPage = [&](const QWidget* w, const QRect& r) {
    for (const QWidget* page : pages) {
      if (!page->isVisible() || page->isAncestorOf(w) || !windowRect(page).contains(r)) continue;
      const QWidget* top = window->childAt(r.center());
      if (top == page || page->isAncestorOf(top) || drawnAt(window, r.center()) == page) return true;
    }
    return false;
  };
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!w->isVisible() || (w->isWindow() && w != window)) continue;
    if (const QString shown = shownText(w); !blank(shown)) {
      if (QFontInfo(w->font()).pixelSize() < kReadablePx)
        fault(QString("font of %1 px").arg(QFontInfo(w->font()).pixelSize()), w);
      // A text fitted to a room (in the smallest readable size at worst) must fit it.
      if (const auto room = ui::fittedRoom(w); room && textWidth(w, shown) > *room)
        fault(QString("text %1 px wide in a room of %2").arg(textWidth(w, shown)).arg(*room), w);
    }
    if (isControl(w)) {
      const QRect r = windowRect(w);
      const QWidget* hit = window->childAt(r.center());
      if (hit != w && !w->isAncestorOf(hit)) {
        if (!underOpenPage(w, r)) fault("control not reachable", w, hit);
        continue;
      }
      if (neededWidth(w) > unclippedRect(w).width()) fault("control text does not fit", w);
      continue;
    }
    auto* label = qobject_cast<QLabel*>(w);
    if (label == nullptr || blank(label->text())) continue;
    const QRect text = textRect(label);
    const QRect room = unclippedRect(label);
    if (underOpenPage(label, text)) continue;
    if (!room.adjusted(-1, -1, 1, 1).contains(text)) {
      fault(QString("text %1x%2 does not fit").arg(text.width()).arg(text.height()), label);
      continue;
    }
    const QRect seen = text & room;
    for (int y = seen.top() + 1; y < seen.bottom(); y += 3) {
      bool covered = false;
      for (int x = seen.left() + 1; x < seen.right() && !covered; x += 3) {
        const QWidget* top = drawnAt(window, QPoint(x, y));
        if (top != label) {
          fault("label covered", label, top);
          covered = true;
        }
      }
      if (covered) break;
    }
  }
  return faults;
}

// Texts that read the same in every language: those without words, the key names, the
// names of models, colours and languages, the status lines and the point read-outs, which
// the pedal set's description keeps as they are.
bool languageNeutral(const QString& text) {
  static const QRegularExpression noWords(QStringLiteral("^[^\\p{L}]*$"));
  static const QRegularExpression key(QStringLiteral("^(F\\d+|M\\+C\\+[a-z])$"));
  static const QStringList same{"ABS", "PRO", "CUSTOM", "Alder", "Birch", "Cedar", "Grey", "Black", ".PDF", "YOUTUBE",
                                "English", "Spanish", "Italian", "French", "German", "Portuguese", "DEMO"};
  static const QStringList prefixes{"Firmware: ", "Profile: ", "Mode: ", "X -> ", "Y -> ", "https://"};
  const QString t = text.trimmed();
  if (noWords.match(t).hasMatch() || key.match(t).hasMatch() || same.contains(t)) return true;
  for (const QString& prefix : prefixes)
    if (t.startsWith(prefix)) return true;
  return false;
}

// A text the language's table gives the same as English (the described label set has a
// few; ours only where the word is the same, as "Linear").
bool sameByTable(const QString& text, int language) {
  for (int r = 0; r < ui::kLabelRoleCount; ++r) {
    const auto role = static_cast<ui::LabelRole>(r);
    if (std::strcmp(ui::labelText(role, language), ui::labelText(role, 0)) == 0 &&
        text.trimmed() == QString::fromUtf8(ui::labelText(role, language)).trimmed())
      return true;
  }
  return false;
}

std::map<const QWidget*, QString> visibleTexts(QWidget* window) {
  std::map<const QWidget*, QString> texts;
  for (QWidget* w : window->findChildren<QWidget*>())
    if (w->isVisible() && !w->isWindow() && !blank(shownText(w))) texts[w] = shownText(w);
  return texts;
}

struct LayoutCase {
  bool clutch;
  int language;
};
void PrintTo(const LayoutCase& c, std::ostream* os) {
  *os << (c.clutch ? "three pedals" : "two pedals") << ", language " << c.language;
}

class PageLayoutTest : public WindowTest, public ::testing::WithParamInterface<LayoutCase> {
 protected:
  void look(const std::string& page) {
    QCoreApplication::processEvents();
    const LayoutCase c = GetParam();
    static const char* const kCodes[] = {"en", "es", "it", "fr", "de", "pt"};
    const std::string name = std::string(c.clutch ? "3" : "2") + "pedals-" + kCodes[c.language] + "-" + page;
    std::filesystem::create_directories(std::string(TKB_SCREENSHOT_DIR) + "/layout");
    saveScreenshot("layout/" + name + ".png");
    const std::vector<const QWidget*> pages{app_->proPage(), app_->customPage()};
    for (const std::string& f : layoutFaults(app_->window(), pages)) ADD_FAILURE() << name << ": " << f;
    if (c.language != 0) untranslated(name);
  }
  // Every text shown that does not change when the language becomes English, other than
  // the neutral ones and the wizard's (which changes at its next step), was not translated.
  void untranslated(const std::string& name) {
    const int language = GetParam().language;
    const auto before = visibleTexts(app_->window());
    app_->selectLanguage(0);
    settle();
    const auto english = visibleTexts(app_->window());
    app_->selectLanguage(language);
    settle();
    const std::set<const QWidget*> wizard{pages_->pro->wizardText, pages_->pro->wizardNote};
    for (const auto& [w, text] : before) {
      const auto there = english.find(w);
      if (there == english.end() || there->second != text || wizard.count(w) != 0) continue;
      if (languageNeutral(text) || sameByTable(text, language)) continue;
      ADD_FAILURE() << name << ": untranslated: " << describe(w).toStdString();
    }
  }
  // A window of its own (the trace panel) or a dialog or box over the window: its own
  // screenshot and the same checks of its texts.
  void lookAt(QWidget* dialog, const std::string& what) {
    QCoreApplication::processEvents();
    const LayoutCase c = GetParam();
    static const char* const kCodes[] = {"en", "es", "it", "fr", "de", "pt"};
    const std::string name = std::string(c.clutch ? "3" : "2") + "pedals-" + kCodes[c.language] + "-" + what;
    std::filesystem::create_directories(std::string(TKB_SCREENSHOT_DIR) + "/layout");
    EXPECT_TRUE(dialog->grab().save(QString::fromStdString(std::string(TKB_SCREENSHOT_DIR) + "/layout/" + name + ".png")));
    for (const std::string& f : layoutFaults(dialog, {})) ADD_FAILURE() << name << ": " << f;
  }
  void click(QPushButton* b) {
    ASSERT_TRUE(b->isVisible()) << b->text().toStdString();
    b->click();
    ASSERT_TRUE(waitFor([&] { return !pages_->pro->stepPending(); }));
  }
};

// An uncalibrated set opens the PRO page on the wizard; after the calibration every page
// is there.
TEST_P(PageLayoutTest, EveryControlIsReachableAndEveryTextFits) {
  const LayoutCase c = GetParam();
  startEmulator([&](emu::FirmwareState& s) {
    s.modelReply = c.clutch ? 0x1F : 0x2F;
    s.languageCode = static_cast<uint8_t>(c.language);
    s.configFlags = 0x08;  // zones on, not calibrated
  });
  makeApp();
  startAndWait(ui::Application::Phase::Running);
  ui::MainPage& m = app_->mainPage();
  ui::ProPage& pro = *pages_->pro;
  look("main-uncalibrated");

  click(m.pro);
  look("wizard0");
  click(pro.calibrate);
  look("wizard1");
  click(pro.next);
  look("wizard2");
  if (c.clutch) {
    click(pro.next);
    look("wizard3");
  }
  click(pro.next);
  look("wizard4");
  click(pro.saveCalibration);
  look("pro-saved");
  pro.wizardPanel->hide();
  look("pro");
  pro.confirmations[0]->show();  // the longest of the three confirmations in most languages
  look("pro-applied");
  click(pro.close);
  look("main");

  // The trace panel, with the longest findings a check can give and its APPLY offered.
  click(m.traceButton);
  ui::TracePanel& trace = *app_->tracePanel();
  PedalCheckResult worst;
  worst.timing = {500, 100.0, 0.25, 12.0};
  worst.pedals[0] = {{0.1f, 9.5f}, 60.0f, true, true, PedalFinding::Lower::MovedAtRest, PedalFinding::Upper::TooShort, {}, {}};
  worst.pedals[1] = {{0.2f, 0.9f}, 100.0f, true, true, PedalFinding::Lower::Suggested, PedalFinding::Upper::BrakeLimit, 2, 98};
  worst.pedals[2] = {{25.0f, 26.0f}, 99.0f, true, true, PedalFinding::Lower::TooHigh, PedalFinding::Upper::Suggested, {}, 97};
  QStringList findings = ui::checkFindings(worst, c.language);
  findings << ui::traceText(ui::TraceText::ApplyOffered, c.language) << ui::traceText(ui::TraceText::NotNow, c.language);
  trace.checkText->setText(findings.join('\n'));
  trace.applyButton->show();
  lookAt(&trace, "trace");
  trace.hide();

  click(m.openVrMonitor);
  look("vr-panel");
  app_->vrPanel()->hide();

  click(m.custom);
  look("custom");

  // A curve that is no preset (its list shows the prompt), and a value typed outside its
  // point's range, refused where it was typed, with the range.
  ui::CurveChart* chart = pages_->sport->widgets().pedals[ui::kBrakePedal].chart;
  pages_->sport->sport_chart_key_handler(chart, {ui::ChartKeyEdit::Entered, 5, 53});
  settle();
  ASSERT_EQ(pages_->sport->widgets().pedals[ui::kBrakePedal].presets->currentIndex(), -1);
  chart->selectPoint(5);
  chart->openEntry();
  QTest::keyClicks(chart->entry(), "99");
  QTest::keyClick(chart->entry(), Qt::Key_Return);
  ASSERT_TRUE(chart->entryRefused());
  look("custom-entry-refused");
  QTest::keyClick(chart->entry(), Qt::Key_Escape);

  // EXIT beside the page's own close button asks first.
  rec_.answer = false;
  click(m.exit);
  ASSERT_EQ(rec_.questions.size(), 1u);
  std::unique_ptr<QMessageBox> box(ui::questionBox(app_->window(), rec_.questions[0]));
  box->show();
  lookAt(box.get(), "exit-question");
  box.reset();

  click(pages_->sport->widgets().close);
  click(m.games);
  ASSERT_NE(app_->gamesDialog(), nullptr);
  lookAt(app_->gamesDialog(), "games");
  app_->gamesDialog()->QDialog::close();
}

// A text is fitted in its label's own size, else (where two lines are allowed) on two lines
// in that size, else smaller but never under 10 px; the room stays on the label.
TEST(FittedText, TwoLinesBeforeASmallerSizeAndNeverUnderTenPixels) {
  qtApp();
  QWidget parent;
  QLabel* probe = ui::makeLabel(&parent, "", 12);
  const QFontMetrics fm(probe->font());
  QFont small = probe->font();
  small.setPixelSize(10);
  const QString text = "ZONA MUERTA INFERIOR", longest = "ZONA MUERTA";
  const int twoLinesAtTen = QFontMetrics(small).horizontalAdvance(longest) + 1;
  const struct {
    QString text;
    int room, lines;
    QString shown;
    int px;
  } rows[] = {
      {text, fm.horizontalAdvance(text), 2, text, 12},
      {text, fm.horizontalAdvance(text) - 4, 2, "ZONA MUERTA\nINFERIOR", 12},
      {text, fm.horizontalAdvance(text) - 4, 1, text, 11},
      {text, twoLinesAtTen, 2, "ZONA MUERTA\nINFERIOR", 10},
      // Too wide even so: the smallest size, and the room to tell it by.
      {text, twoLinesAtTen / 2, 2, text, 10},
      {"PRESSIONE+LIMITATORE", 40, 2, "PRESSIONE+LIMITATORE", 10},
  };
  for (const auto& r : rows) {
    QLabel* label = ui::makeLabel(&parent, "", 12);
    ui::setFittedText(label, r.text, r.room, r.lines);
    EXPECT_EQ(label->text(), r.shown) << r.room;
    EXPECT_EQ(QFontInfo(label->font()).pixelSize(), r.px) << r.room;
    EXPECT_EQ(ui::fittedRoom(label), r.room);
  }
}

// The start screen while no pedal set answers, its help showing every kind of port a pass
// can pass over and ALLOW ACCESS offered: in every language each text fits, is readable and
// is not the English one (German says DIAGNOSE too).
TEST(SearchingScreenLayout, EveryTextFitsInEveryLanguage) {
  qtApp();
  TempDir bin;
  std::ofstream(bin.file("pkexec")) << "#!/bin/sh\nexit 0\n";
  std::filesystem::permissions(bin.file("pkexec"), std::filesystem::perms::owner_all);
  const std::string savedPath = std::getenv("PATH");
  ::setenv("PATH", (bin.path().string() + ":" + savedPath).c_str(), 1);
  ProbePass pass;
  pass.number = 12;
  const PortOutcome outcomes[] = {PortOutcome::OtherMaker, PortOutcome::NoPermission, PortOutcome::InUse,
                                  PortOutcome::NotOpened, PortOutcome::NotAnswering};
  for (PortOutcome outcome : outcomes) {
    PortSighting port;
    port.name = "COM" + std::to_string(pass.ports.size());
    port.path = "/dev/ttyACM" + std::to_string(pass.ports.size());
    port.ids = outcome == PortOutcome::OtherMaker ? UsbIds{0x2341, 0x0043} : UsbIds{0x16D0, 0x0F53};
    port.outcome = outcome;
    port.error = outcome == PortOutcome::NoPermission ? EACCES : EIO;
    pass.ports.push_back(port);
  }
  static const char* const kCodes[] = {"en", "es", "it", "fr", "de", "pt"};
  std::set<QString> english;
  for (int language = 0; language < ui::kLanguageCount; ++language) {
    SearchHelpScreen screen(true);
    ASSERT_TRUE(screen.showAfter(language, pass));
    QWidget& window = screen.window;
    ui::SearchHelp& help = screen.help;
    ASSERT_TRUE(help.allowAccessButton()->isVisible());
    const std::string name = std::string("searching-") + kCodes[language];
    std::filesystem::create_directories(std::string(TKB_SCREENSHOT_DIR) + "/layout");
    window.grab().save(QString::fromStdString(std::string(TKB_SCREENSHOT_DIR) + "/layout/" + name + ".png"));
    for (const std::string& f : layoutFaults(&window, {})) ADD_FAILURE() << name << ": " << f;
    for (const auto& [w, text] : visibleTexts(&window)) {
      if (language == 0)
        english.insert(text);
      else if (english.count(text) != 0 && !languageNeutral(text) && !(language == 4 && text == "DIAGNOSE"))
        ADD_FAILURE() << name << ": untranslated: " << describe(w).toStdString();
    }
  }
  ::setenv("PATH", savedPath.c_str(), 1);
}

std::vector<LayoutCase> allCases() {
  std::vector<LayoutCase> cases;
  for (bool clutch : {true, false})
    for (int language = 0; language < ui::kLanguageCount; ++language) cases.push_back({clutch, language});
  return cases;
}

std::string caseName(const ::testing::TestParamInfo<LayoutCase>& info) {
  static const char* const kNames[] = {"English", "Spanish", "Italian", "French", "German", "Portuguese"};
  return std::string(info.param.clutch ? "ThreePedals" : "TwoPedals") + kNames[info.param.language];
}

INSTANTIATE_TEST_SUITE_P(PedalSetsAndLanguages, PageLayoutTest, ::testing::ValuesIn(allCases()), caseName);

}  // namespace
}  // namespace tkb::test
