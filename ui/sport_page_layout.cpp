// The CUSTOM page's widgets: where each stands, how it looks and what it asks of the session.
#include <QFrame>
#include <QShortcut>
#include <algorithm>

#include "link/settings.h"
#include "link/trace.h"
#include "ui/frame_clock.h"
#include "ui/pedal_bar.h"
#include "ui/sport_page.h"
#include "ui/sport_page_tables.h"
#include "ui/window_geometry.h"
#include "ui/switch_led.h"
#include "ui/widgets.h"

namespace tkb::ui {

using namespace sport;

namespace {

// Panel centres relative to the page centre, by pedal; without a clutch the brake panel,
// built after it, covers the clutch panel's right part.
constexpr int kPanelCentreWithClutch[kPedalCount] = {-273, 0, 273};
constexpr int kPanelCentreWithoutClutch[kPedalCount] = {-273, -131, 211};
// The panels stand 60 pixels above the page centre.
constexpr int kPanelRaisePx = 60;
// Window x of each chart's plotting area.
constexpr int kChartLeftWithClutch[kPedalCount] = {476, 749, 1022};
constexpr int kChartLeftWithoutClutch[kPedalCount] = {476, 617, 961};
constexpr int kChartTopInPanel = 285;
// The preset list: as wide as the chart, between the zone rows and the chart.
constexpr int kPresetListY = 248, kPresetListH = 24;
constexpr int kListTextPx = 14;

// Rows of the dead-zone controls in a panel: "-", spin box, "+", label, underline.
struct ZoneRow {
  int y;
};
constexpr ZoneRow kUpperRow{120}, kLowerRow{171}, kBrakeStopRow{212};
constexpr int kMinusX = 10, kBoxX = 30, kPlusX = 68, kRowLabelX = 95;
constexpr int kStepButtonW = 20, kBoxW = 38, kRowH = 25;

constexpr int kBarTop = 285, kBarW = 20, kBarH = 180;
constexpr int kInBarX = 200, kOutBarX = 225;
constexpr int kMarkerW = 26, kMarkerH = 2;
constexpr int kMarkerScalePx = 178;

// The brake's peaks column keeps its centre (105 px right of and 65 px above the panel's
// centre), wide enough for a heading and entries in a readable size.
constexpr int kHistoryCentreRight = 105, kHistoryCentreUp = 65, kHistoryW = 46, kHistoryPx = 11;
constexpr int kHistoryStepPx = 15;
constexpr int kLabelMarginPx = 3;
constexpr const char* kHistoryIdle = "     --";
// The captions of the rows and the bars.
constexpr int kRowCaptionPx = 11, kBarCaptionY = 270, kBarCaptionGap = 2;
// The mark of an active brake stop: right of the brake panel's title.
constexpr int kStopMarkRight = 8, kStopMarkY = 64, kStopMarkRoom = 64;

constexpr int kPageButtonW = 130, kPageButtonH = 40, kPageButtonGap = 20;
constexpr int kCloseFromRight = 60, kPageButtonsFromBottom = 10;

const char* const kAutoBreakEntries[] = {"M+C+k", "M+C+l", "M+C+p"};
constexpr int kAutoBrakeCaptionRoom = 110;

const LabelRole kTitleRoles[kPedalCount] = {LabelRole::CustomClutchTitle, LabelRole::CustomBrakeTitle,
                                            LabelRole::CustomThrottleTitle};

int panelX(bool hasClutch, int pedal) {
  const int offset = hasClutch ? kPanelCentreWithClutch[pedal] : kPanelCentreWithoutClutch[pedal];
  return kPageWidth / 2 - kSportPanelWidth / 2 + offset;
}
int panelY() { return kPageHeight / 2 - kSportPanelHeight / 2 - kPanelRaisePx; }
int brakeHistoryX() { return kSportPanelWidth / 2 + kHistoryCentreRight - kHistoryW / 2; }

// A row's caption: on one line, or on two beside its row where one would need a smaller size
// than the readable minimum; centred on the row either way.
void setRowCaption(QLabel* caption, const std::string& text, int room, int rowY) {
  setFittedText(caption, QString::fromStdString(text), room, 2);
  caption->move(caption->x(), rowY + (kRowH - caption->height()) / 2);
}

QLabel* label(QWidget* parent, const QString& text, int x, int y, int pixelSize = 12) {
  QLabel* l = makeLabel(parent, text, pixelSize);
  l->move(x, y);
  return l;
}

QPushButton* stepButton(QWidget* parent, const char* text, int x, int y) {
  auto* b = new QPushButton(text, parent);
  b->setGeometry(x, y, kStepButtonW, kRowH);
  b->setFocusPolicy(Qt::NoFocus);
  b->setStyleSheet(
      "QPushButton{background:#f4f4f4;color:#202020;border:1px solid #c08020;border-radius:3px;"
      "font-weight:bold;} QPushButton:pressed{background:#d8d8d8;}");
  return b;
}

QWidget* line(QWidget* parent, int x, int y, int w, int h, const char* colour) {
  auto* f = new SolidLine(parent, QColor(colour));
  f->setGeometry(x, y, w, h);
  f->setAttribute(Qt::WA_TransparentForMouseEvents);
  return f;
}

QPushButton* pageButton(QWidget* parent, const char* text, int w, int h) {
  auto* b = new QPushButton(text, parent);
  QFont font = b->font();
  font.setPixelSize(15);
  font.setBold(true);
  b->setFont(font);
  b->resize(w, h);
  b->setFocusPolicy(Qt::NoFocus);
  setButtonLook(b, ButtonLook::Normal);
  return b;
}

void setButtonText(QPushButton* b, const std::string& text) { setFittedText(b, QString::fromStdString(text)); }

}  // namespace

int chartLeftEdge(bool hasClutch, int pedal) {
  pedal = std::clamp(pedal, 0, kPedalCount - 1);
  return hasClutch ? kChartLeftWithClutch[pedal] : kChartLeftWithoutClutch[pedal];
}

int upperMarkerY(int value) { return 464 - std::clamp(value, 0, kZoneMax) * kMarkerScalePx / 100; }
int lowerMarkerY(int value) { return 463 - std::clamp(value, 0, kZoneMax) * kMarkerScalePx / 100; }

void SportPage::Create_sport_page(QWidget* container) {
  trace("\nCreate_sport_page - Inicio");
  const ControllerState& state = model_.state();
  widgets_.page = container;
  bars_->widgets.page = container;
  container->setStyleSheet(container->styleSheet() + " QLabel{color:#e8e8e8;}");
  for (int pedal = 0; pedal < kPedalCount; ++pedal) buildPanel(pedal, container, state.hasClutch);
  buildBrakeParts(widgets_.pedals[kBrakePedal]);

  widgets_.adjustmentTitle = makeLabel(container, "ADJUSTEMENT AREA", 16);
  widgets_.adjustmentTitle->setStyleSheet("color:#ffb347;font-weight:bold;");
  placeAligned(widgets_.adjustmentTitle, Align::TopMid, 0, 4);
  labels_.add(LabelRole::CustomAdjustmentArea, [l = widgets_.adjustmentTitle](const std::string& t) {
    l->setText(QString::fromStdString(t));
    l->adjustSize();
    placeAligned(l, Align::TopMid, 0, 4);
  });

  buildPageButtons(container);
  buildLetterLists(container);
  buildAutoBrakeGroup(container, state.hasClutch);
  buildUndoKeys(container);

  // Without a clutch the clutch panel only backs the auto-brake group: its curve and
  // zones would be half covered by the brake panel and edit a pedal that is not there.
  if (!state.hasClutch) {
    SportPedalPanel& clutch = widgets_.pedals[kClutchPedal];
    for (QObject* child : clutch.panel->children())
      if (auto* w = qobject_cast<QWidget*>(child)) w->hide();
  }

  for (int pedal = 0; pedal < kPedalCount; ++pedal) widgets_.pedals[pedal].chart->setCurve(defaultCurve());
  for (int i = 0; i < 4; ++i) widgets_.letters[i]->setCurrentIndex(letterEntry(state, kLetterLists[i]));
  widgets_.autoBrakeSwitch->setOn(state.autoBrake != 0, false);
  publishBars();
  connectModel();
  container->hide();
  // The live markers move with the window's frames; the connection goes with the page.
  connect(&FrameClock::of(container), &FrameClock::frameStarted, this,
                   [this] { followLiveInputs(); });
  trace("\nCreate_sport_page - Final");
}

void SportPage::buildPanel(int pedal, QWidget* page, bool hasClutch) {
  SportPedalPanel& p = widgets_.pedals[pedal];
  auto* panel = new QFrame(page);
  panel->setObjectName(QString("SportPanel%1").arg(pedal));
  panel->setGeometry(panelX(hasClutch, pedal), panelY(), kSportPanelWidth, kSportPanelHeight);
  panel->setStyleSheet(QString("#SportPanel%1{background:rgba(58,64,74,235);border:1px solid #5a616d;"
                               "border-radius:8px;}")
                           .arg(pedal));
  p.panel = panel;

  p.title = makeLabel(panel, "---", 17);
  p.title->setStyleSheet("font-weight:bold;color:#ffffff;");
  p.title->setAlignment(Qt::AlignHCenter);
  p.title->setGeometry(0, 60, kSportPanelWidth, 24);
  labels_.add(kTitleRoles[pedal], [l = p.title](const std::string& t) { l->setText(QString::fromStdString(t)); });

  auto zoneRow = [&](ZoneRow row, QPushButton*& minus, ValueBox*& box, QPushButton*& plus,
                     QLabel*& caption, const char* text) {
    minus = stepButton(panel, "-", kMinusX, row.y);
    box = new ValueBox(panel, 0, kZoneMax);
    box->setGeometry(kBoxX, row.y, kBoxW, kRowH);
    plus = stepButton(panel, "+", kPlusX, row.y);
    caption = label(panel, text, kRowLabelX, row.y + 5, kRowCaptionPx);
    line(panel, kBoxX + 2, row.y + 23, kBoxW - 4, 1, "#c5712f");
    const bool upper = &box == &p.upper;
    onClick(minus, [this, pedal, upper] { model_.stepZone(ControllerModel::Page::Custom, pedalAt(pedal), upper, -1); });
    onClick(plus, [this, pedal, upper] { model_.stepZone(ControllerModel::Page::Custom, pedalAt(pedal), upper, +1); });
  };
  zoneRow(kUpperRow, p.upperMinus, p.upper, p.upperPlus, p.upperLabel, "TOP DEAD ZONE");
  zoneRow(kLowerRow, p.lowerMinus, p.lower, p.lowerPlus, p.lowerLabel, "LOWER DEAD ZONE");
  // The row labels end at the panel's edge, or in the brake panel at its history column.
  const int labelRoom = (pedal == kBrakePedal ? brakeHistoryX() : kSportPanelWidth) - kRowLabelX - kLabelMarginPx;
  auto relabel = [labelRoom](QLabel* l, ZoneRow row) {
    return [l, labelRoom, row](const std::string& t) { setRowCaption(l, t, labelRoom, row.y); };
  };
  labels_.add(pedal == kBrakePedal ? LabelRole::CustomBrakeUpper : LabelRole::CustomUpperZone,
                    relabel(p.upperLabel, kUpperRow));
  labels_.add(LabelRole::CustomLowerZone, relabel(p.lowerLabel, kLowerRow));

  p.chart = new CurveChart(panel);
  p.chart->move(chartLeftEdge(hasClutch, pedal) - kPageX - panel->x(), kChartTopInPanel);
  CurveChart* chart = p.chart;
  connect(chart, &CurveChart::pointerEvent, this,
          [this, chart](ChartEvent event, QPoint at) { sport_chart_handler(chart, event, at); });
  connect(chart, &CurveChart::keyEdit, this, [this, chart](ChartKeyEdit edit) { sport_chart_key_handler(chart, edit); });
  labels_.add(LabelRole::CustomChartKeys,
                    [chart = p.chart](const std::string& t) { chart->setToolTip(QString::fromStdString(t)); });
  labels_.add(LabelRole::CustomEntryKeys,
                    [entry = p.chart->entry()](const std::string& t) { entry->setToolTip(QString::fromStdString(t)); });
  buildPresetList(pedal, p);
  buildMarks(p);
  const int chartX = p.chart->x();
  p.readoutX = label(panel, kReadoutBlank, chartX + 10, kChartTopInPanel + 5);
  p.readoutY = label(panel, kReadoutBlank, chartX + 105, kChartTopInPanel + 155);
  for (QLabel* r : {p.readoutX, p.readoutY}) {
    r->setStyleSheet("color:#202020;font-weight:bold;background:transparent;");
    r->setFixedWidth(80);
    r->setAttribute(Qt::WA_TransparentForMouseEvents);
  }

  p.input = new PedalBar(panel, kBarW, kBarH);
  p.input->move(kInBarX, kBarTop);
  p.output = new PedalBar(panel, kBarW, kBarH);
  p.output->move(kOutBarX, kBarTop);
  PedalBar::Style outputStyle;
  outputStyle.radius = 0;
  p.output->setIndicatorStyle(outputStyle);
  // Each bar's caption over it: IN ends where its bar's right edge is, OUT starts at its bar.
  QLabel* in = label(panel, "IN", 199, kBarCaptionY, 11);
  QLabel* out = label(panel, "OUT", 220, kBarCaptionY, 11);
  const int inRight = kInBarX + kBarW + kBarCaptionGap, outLeft = kOutBarX - 1;
  labels_.add(LabelRole::BarIn, [in, inRight](const std::string& t) {
    setFittedText(in, QString::fromStdString(t), inRight - kInBarX + 3);
    in->move(inRight - in->width(), kBarCaptionY);
  });
  labels_.add(LabelRole::BarOut, [out, outLeft](const std::string& t) {
    setFittedText(out, QString::fromStdString(t), kSportPanelWidth - outLeft - 2);
    out->move(outLeft, kBarCaptionY);
  });
  label(panel, "%", 209, 478, 11);
  p.inputValue = label(panel, "0 ", 197, 465, 11);
  p.outputValue = label(panel, "0 ", 222, 465, 11);
  for (QLabel* v : {p.inputValue, p.outputValue}) v->setFixedWidth(28);

  p.upperMarker = line(panel, kZoneMarkerX, upperMarkerY(kZoneMax), kMarkerW, kMarkerH, "#ff5a5a");
  p.lowerMarker = line(panel, kZoneMarkerX, lowerMarkerY(0), kMarkerW, kMarkerH, "#5ab4ff");

  p.defaultButton = pageButton(panel, "DEFAULT", 100, 25);
  p.defaultButton->move(50, 470);
  onClick(p.defaultButton, [this, pedal] { defaultPedal(pedal); });
  labels_.add(LabelRole::CustomDefault, [b = p.defaultButton](const std::string& t) { setButtonText(b, t); });
}

void SportPage::buildPresetList(int pedal, SportPedalPanel& p) {
  p.presets = new QComboBox(p.panel);
  p.presets->setObjectName(QString("SportPresetList%1").arg(pedal));
  p.presets->setGeometry(p.chart->x(), kPresetListY, kChartSizePx, kPresetListH);
  p.presets->setFocusPolicy(Qt::NoFocus);
  setTextPx(p.presets, kListTextPx);
  const std::vector<CurvePreset> presets = presetsFor(pedalAt(pedal));
  for (size_t i = 0; i < presets.size(); ++i) p.presets->addItem(QString());
  p.presets->setPlaceholderText("CURVE PRESET");
  QComboBox* list = p.presets;
  labels_.add(LabelRole::CustomPresetPrompt,
                    [list](const std::string& t) { list->setPlaceholderText(QString::fromStdString(t)); });
  labels_.add(LabelRole::CustomPresetTip,
                    [list](const std::string& t) { list->setToolTip(QString::fromStdString(t)); });
  auto relabel = [list, presets](CurvePreset::Kind kind) {
    return [list, presets, kind](const std::string& t) {
      for (size_t i = 0; i < presets.size(); ++i) {
        if (presets[i].kind != kind) continue;
        const QString text = QString::fromStdString(t);
        list->setItemText(static_cast<int>(i), kind == CurvePreset::BrakeWall ? text.arg(presets[i].wall) : text);
      }
    };
  };
  labels_.add(LabelRole::CustomPresetLinear, relabel(CurvePreset::Linear));
  labels_.add(LabelRole::CustomPresetProgressive, relabel(CurvePreset::Progressive));
  labels_.add(LabelRole::CustomPresetAggressive, relabel(CurvePreset::Aggressive));
  labels_.add(LabelRole::CustomPresetSCurve, relabel(CurvePreset::SCurve));
  labels_.add(LabelRole::CustomPresetWall, relabel(CurvePreset::BrakeWall));
  // The list names the preset the chart's curve is, or none (its prompt shows then).
  auto showMatch = [list, presets, chart = p.chart] {
    int match = -1;
    for (size_t i = 0; i < presets.size() && chart->hasCurve(); ++i)
      if (presetCurve(presets[i]) == chart->curve()) match = static_cast<int>(i);
    list->setCurrentIndex(match);
  };
  connect(p.chart, &CurveChart::curveChanged, list, showMatch);
  connect(list, &QComboBox::activated, this, [this, pedal, presets, showMatch](int index) {
    if (index >= 0 && index < static_cast<int>(presets.size()) && !ignoredWhileBusy()) applyPreset(pedal, presets[index]);
    showMatch();
  });
  showMatch();
}

void SportPage::buildMarks(SportPedalPanel& p) {
  constexpr int kMarkSize = 16, kMarkX = 8, kMarkGap = 4, kMarkY = 64;
  struct Mark {
    QLabel*& label;
    const char* text;
    const char* colour;
    LabelRole tip;
  };
  const Mark marks[] = {{p.notStored, "!", "#e07020", LabelRole::CustomMarkNotStored},
                        {p.notSaved, "*", "#3a78d0", LabelRole::CustomMarkNotSaved}};
  int x = kMarkX;
  for (const Mark& m : marks) {
    m.label = new QLabel(m.text, p.panel);
    m.label->setAlignment(Qt::AlignCenter);
    m.label->setGeometry(x, kMarkY, kMarkSize, kMarkSize);
    m.label->setStyleSheet(QString("background:%1;color:#ffffff;font-weight:bold;font-size:12px;"
                                   "border-radius:8px;")
                               .arg(m.colour));
    m.label->hide();
    labels_.add(m.tip, [l = m.label](const std::string& t) { l->setToolTip(QString::fromStdString(t)); });
    x += kMarkSize + kMarkGap;
  }
  connect(p.chart, &CurveChart::curveChanged, this, &SportPage::showMarks);
}

void SportPage::buildBrakeParts(SportPedalPanel& brake) {
  QWidget* panel = brake.panel;
  ZoneRow row = kBrakeStopRow;
  widgets_.brakeStopMinus = stepButton(panel, "-", kMinusX, row.y);
  widgets_.brakeStop = new ValueBox(panel, 0, kZoneMax);
  widgets_.brakeStop->setGeometry(kBoxX, row.y, kBoxW, kRowH);
  widgets_.brakeStopPlus = stepButton(panel, "+", kPlusX, row.y);
  widgets_.brakeStopLabel = label(panel, "BRAKE LIMITER", kRowLabelX, row.y + 5, kRowCaptionPx);
  labels_.add(LabelRole::BrakeLimiter, [l = widgets_.brakeStopLabel, row](const std::string& t) {
    setRowCaption(l, t, brakeHistoryX() - kRowLabelX - kLabelMarginPx, row.y);
  });
  line(panel, kBoxX + 2, row.y + 23, kBoxW - 4, 1, "#c5712f");
  onClick(widgets_.brakeStopMinus, [this] { model_.stepBrakeStop(-1); });
  onClick(widgets_.brakeStopPlus, [this] { model_.stepBrakeStop(+1); });
  widgets_.brakeStop->showValue(kBrakeStopInactive);

  widgets_.brakeStopIndicator = label(panel, "STOP", 196, kStopMarkY, 10);
  widgets_.brakeStopIndicator->setStyleSheet(
      "background:#d02020;color:#ffffff;font-weight:bold;border-radius:3px;padding:1px 3px;");
  widgets_.brakeStopIndicator->adjustSize();
  auto placeStopMark = [l = widgets_.brakeStopIndicator] {
    l->move(kSportPanelWidth - kStopMarkRight - l->width(), kStopMarkY);
  };
  placeStopMark();
  labels_.add(LabelRole::BrakeStopOn, [l = widgets_.brakeStopIndicator, placeStopMark](const std::string& t) {
    setFittedText(l, QString::fromStdString(t), kStopMarkRoom);
    placeStopMark();
  });
  widgets_.brakeStopIndicator->hide();
  widgets_.brakeStopMarker =
      line(panel, kBrakeStopMarkerX, upperMarkerY(kBrakeStopInactive), kMarkerW, kMarkerH, "#ffd23f");

  // The peaks column: centred 105 px right of and 65 px above the panel's centre, under its
  // heading; the entries right-aligned.
  const int columnX = brakeHistoryX();
  const int columnY = kSportPanelHeight / 2 - kHistoryCentreUp - kBrakeHistoryEntries * kHistoryStepPx / 2;
  QLabel* heading = label(panel, "PEAKS", columnX, columnY - kHistoryStepPx, kHistoryPx);
  heading->setStyleSheet("color:#ffb347;font-weight:bold;");
  auto placeHeading = [heading, columnX] { heading->move(columnX + kHistoryW - heading->width(), heading->y()); };
  placeHeading();
  labels_.add(LabelRole::PeaksHeading, [heading, placeHeading](const std::string& t) {
    setFittedText(heading, QString::fromStdString(t), kHistoryW);
    placeHeading();
  });
  for (int i = 0; i < kBrakeHistoryEntries; ++i) {
    QLabel* entry = label(panel, kHistoryIdle, columnX, columnY + i * kHistoryStepPx, kHistoryPx);
    entry->setFixedSize(kHistoryW, kHistoryStepPx);
    entry->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    widgets_.brakeHistory[i] = entry;
  }
}

void SportPage::buildPageButtons(QWidget* page) {
  struct PageButton {
    QPushButton*& button;
    const char* text;
    LabelRole role;
  };
  // Left to right: DEFAULT ALL, LOAD, SAVE, APPLY, CLOSE (CLOSE 60 px from the right edge).
  const PageButton buttons[] = {
      {widgets_.defaultAll, "DEFAULT ALL", LabelRole::CustomDefaultAll},
      {widgets_.load, "LOAD", LabelRole::CustomLoad},
      {widgets_.save, "SAVE", LabelRole::CustomSave},
      {widgets_.apply, "APPLY", LabelRole::CustomApply},
      {widgets_.close, "CLOSE", LabelRole::CustomClose},
  };
  const int count = static_cast<int>(std::size(buttons));
  for (int i = 0; i < count; ++i) {
    QPushButton* b = pageButton(page, buttons[i].text, kPageButtonW, kPageButtonH);
    const int fromRight = kCloseFromRight + (count - 1 - i) * (kPageButtonW + kPageButtonGap);
    b->move(kPageWidth - kPageButtonW - fromRight, kPageHeight - kPageButtonH - kPageButtonsFromBottom);
    buttons[i].button = b;
    labels_.add(buttons[i].role, [b](const std::string& t) { setButtonText(b, t); });
  }
  onClick(widgets_.close, [this] { model_.closeCustomPage(); });
  onClick(widgets_.defaultAll, [this] { defaultAll(); });
  onClick(widgets_.apply, [this] { model_.applyCustom(); });
  onClick(widgets_.load, [this] { model_.loadProfile(ProfileKind::Sport, dialogs_.choose(ProfileKind::Sport, false)); });
  onClick(widgets_.save, [this] { model_.saveProfile(ProfileKind::Sport, dialogs_.choose(ProfileKind::Sport, true)); });
}

void SportPage::buildLetterLists(QWidget* page) {
  // A strip across the page between the panels and the page buttons: each list with its
  // caption right-aligned before it, clear of the list and of the group before.
  constexpr int kStripY = 476, kStripX = 8, kGroupW = 201, kCaptionW = 108, kCaptionGap = 6, kListW = 80;
  for (int i = 0; i < 4; ++i) {
    const int x = kStripX + i * kGroupW;
    QLabel* caption = label(page, kLetterLists[i].caption, x, kStripY + 6, 12);
    caption->setFixedWidth(kCaptionW);
    caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    labels_.add(kLetterLists[i].captionRole, [caption](const std::string& t) {
      setFittedText(caption, QString::fromStdString(t), kCaptionW);
      caption->setFixedWidth(kCaptionW);
    });
    auto* list = new QComboBox(page);
    setTextPx(list, kListTextPx);
    for (const char* entry : kLetterLists[i].entries) list->addItem(entry);
    list->setGeometry(x + kCaptionW + kCaptionGap, kStripY, kListW, 26);
    list->setFocusPolicy(Qt::NoFocus);
    list->setObjectName(QString("SportLetterList%1").arg(i));
    connect(list, &QComboBox::activated, this, [this, i, list](int) {
      if (ignoredWhileBusy()) return;
      const LetterListRole& role = kLetterLists[i];
      model_.setLetter(ControllerModel::Page::Custom, role.known, list->currentIndex(), role.traceLine);
    });
    widgets_.letters[i] = list;
  }
}

void SportPage::buildAutoBrakeGroup(QWidget* page, bool hasClutch) {
  widgets_.autoBrakeSwitch = new ToggleSwitch(page);
  placeAligned(widgets_.autoBrakeSwitch, Align::Center, -335, -70);
  connect(widgets_.autoBrakeSwitch, &ToggleSwitch::userToggled, this,
          [this](bool on) { model_.setAutoBrake(ControllerModel::Page::Custom, on); });
  const QPoint at = widgets_.autoBrakeSwitch->pos();
  widgets_.autoBrakeCaption = label(page, "Autobrake", at.x(), at.y() - 24, 13);
  labels_.add(LabelRole::AutoBrakeCaption, [l = widgets_.autoBrakeCaption](const std::string& t) {
    setFittedText(l, QString::fromStdString(t), kAutoBrakeCaptionRoom);
  });
  widgets_.autoBrakeLed = new Led(page);
  widgets_.autoBrakeLed->move(at.x() + widgets_.autoBrakeSwitch->width() + 10, at.y() + 2);
  widgets_.autoBreakList = new QComboBox(page);
  setTextPx(widgets_.autoBreakList, kListTextPx);
  for (const char* entry : kAutoBreakEntries) widgets_.autoBreakList->addItem(entry);
  widgets_.autoBreakList->setGeometry(at.x() - 20, at.y() + 34, 100, 26);
  widgets_.autoBreakList->setFocusPolicy(Qt::NoFocus);
  widgets_.autoBreakList->setCurrentIndex(
      std::clamp<int>(model_.state().letterAutoBrake, 0, static_cast<int>(std::size(kAutoBreakEntries)) - 1));
  connect(widgets_.autoBreakList, &QComboBox::activated, this,
                   [this](int) {
                     // The AutoBreak key list is served as on the PRO page, in either mode.
                     const int index = widgets_.autoBreakList->currentIndex();
                     if (index < 0 || ignoredWhileBusy()) return;  // no entry: nothing chosen
                     model_.setLetter(ControllerModel::Page::Custom, Field::LetterAutoBrake, index,
                                      "Option: Letra AB\n");
                   });

  QWidget* clutchPanel = widgets_.pedals[kClutchPedal].panel;
  widgets_.clutchAutoBrakeCaption = makeLabel(clutchPanel, "Autobrake     ", 13);
  placeAligned(widgets_.clutchAutoBrakeCaption, Align::Center, 20, -10);
  labels_.add(LabelRole::AutoBrakeCaption, [l = widgets_.clutchAutoBrakeCaption](const std::string& t) {
    setFittedText(l, QString::fromStdString(t), kAutoBrakeCaptionRoom);
    placeAligned(l, Align::Center, 20, -10);
  });
  // With a clutch the clutch panel's caption names the switch; without, the page's own
  // group (caption, LED, AutoBreak key list) is shown.
  widgets_.clutchAutoBrakeCaption->setVisible(hasClutch);
  for (QWidget* w : std::initializer_list<QWidget*>{widgets_.autoBrakeCaption, widgets_.autoBrakeLed,
                                                    widgets_.autoBreakList})
    w->setVisible(!hasClutch);
  widgets_.autoBrakeSwitch->raise();
}

// The shortcuts belong to the page: they act only while it is shown. The pedal set's own
// combinations carry Meta as well and do not match them.
void SportPage::buildUndoKeys(QWidget* page) {
  const struct {
    QKeySequence keys;
    void (SportPage::*action)();
  } keys[] = {
      {QKeySequence(Qt::CTRL | Qt::Key_Z), &SportPage::undoCurve},
      {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), &SportPage::redoCurve},
      {QKeySequence(Qt::CTRL | Qt::Key_Y), &SportPage::redoCurve},
  };
  for (const auto& k : keys) {
    auto* shortcut = new QShortcut(k.keys, page);
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, [this, action = k.action] { (this->*action)(); });
  }
}

void SportPage::publishBars() {
  CustomBarWidgets& bars = bars_->widgets;
  for (int pedal = 0; pedal < kPedalCount; ++pedal) {
    const SportPedalPanel& p = widgets_.pedals[pedal];
    bars.input[pedal] = p.input;
    bars.output[pedal] = p.output;
    bars.inputLabel[pedal] = p.inputValue;
    bars.outputLabel[pedal] = p.outputValue;
  }
  for (int i = 0; i < kBrakeHistoryEntries; ++i) bars.brakeHistory[i] = widgets_.brakeHistory[i];
}

}  // namespace tkb::ui
