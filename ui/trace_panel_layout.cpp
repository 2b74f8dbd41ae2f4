// The trace panel's widgets: where each stands, how it looks and what it is connected to.
#include "link/trace.h"
#include "ui/controller_model.h"
#include "ui/trace_panel.h"
#include "ui/trace_plot.h"
#include "ui/widgets.h"

namespace tkb::ui {

namespace {
constexpr int kMargin = 16;
constexpr int kPlotHeight = 240;
constexpr int kButtonWidth = 176, kButtonHeight = 34, kButtonGap = 12;
constexpr int kRightColumnX = 540;
constexpr int kFiguresY = 324, kFigureRowHeight = 24;
constexpr int kFigureColumnX[TracePanel::kFigureColumns] = {kMargin, 250, 384};
constexpr int kFigureColumnWidth[TracePanel::kFigureColumns] = {230, 130, 130};
constexpr int kStatusY = 452, kCheckTextY = 474;
const char* const kTextColour = "color:#e8e8e8;";
}  // namespace

void TracePanel::build() {
  setObjectName("TracePanel");
  setFixedSize(kTracePanelWidth, kTracePanelHeight);
  setModal(false);
  setAttribute(Qt::WA_StyledBackground);
  setStyleSheet("#TracePanel{background:#2b3038;}");

  plot = new TracePlot(this, feed_);
  plot->setObjectName("TracePlot");
  plot->setGeometry(kMargin, 12, kTracePanelWidth - 2 * kMargin, kPlotHeight);
  plot->setHasClutch(model_.state().hasClutch);

  auto button = [this](const char* name, int x, int y, int width = kButtonWidth) {
    auto* b = new QPushButton(this);
    b->setObjectName(name);
    b->setGeometry(x, y, width, kButtonHeight);
    b->setFocusPolicy(Qt::NoFocus);
    QFont font = b->font();
    font.setPixelSize(15);
    font.setBold(true);
    b->setFont(font);
    setButtonLook(b, ButtonLook::Normal);
    return b;
  };
  auto label = [this](int x, int y, int pixelSize) {
    QLabel* l = makeLabel(this, "", pixelSize);
    l->setStyleSheet(kTextColour);
    l->move(x, y);
    return l;
  };

  const int signalY = 12 + kPlotHeight + 8;
  inputButton = button("TraceInput", kMargin, signalY, 110);
  outputButton = button("TraceOutput", kMargin + 114, signalY, 110);
  caption = label(kMargin + 240, signalY + 7, 13);
  legend = label(kMargin, signalY + 38, 13);
  legend->setTextFormat(Qt::RichText);

  for (int row = 0; row < kFigureRows; ++row)
    for (int column = 0; column < kFigureColumns; ++column) {
      QLabel* l = label(kFigureColumnX[column], kFiguresY + row * kFigureRowHeight, 14);
      l->setFixedSize(kFigureColumnWidth[column], kFigureRowHeight);
      l->setAlignment((column == 0 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter);
      figures[row][column] = l;
    }
  figures[0][1]->setStyleSheet(QString("font-weight:bold;color:%1;").arg(TracePlot::kLastColour.name()));
  figures[0][2]->setStyleSheet(QString("font-weight:bold;color:%1;").arg(TracePlot::kReferenceColour.name()));

  const int second = kRightColumnX + kButtonWidth + kButtonGap;
  pinButton = button("TracePin", kRightColumnX, kFiguresY);
  unpinButton = button("TraceUnpin", second, kFiguresY);
  recordButton = button("TraceRecord", kRightColumnX, kFiguresY + kButtonHeight + 10);
  checkButton = button("TracePedalCheck", second, kFiguresY + kButtonHeight + 10);
  applyButton = button("TraceApply", kRightColumnX, kFiguresY + 2 * (kButtonHeight + 10));
  closeButton = button("TraceClose", second, kFiguresY + 2 * (kButtonHeight + 10));
  applyButton->hide();

  recordStatus = label(kMargin, kStatusY, 13);
  recordStatus->setFixedSize(kTracePanelWidth - 2 * kMargin, 20);
  checkText = label(kMargin, kCheckTextY, 12);
  checkText->setFixedSize(kTracePanelWidth - 2 * kMargin, kTracePanelHeight - kCheckTextY - 8);
  checkText->setWordWrap(true);
  checkText->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  connect(inputButton, &QPushButton::clicked, this, [this] { showSignal(false); });
  connect(outputButton, &QPushButton::clicked, this, [this] { showSignal(true); });
  connect(pinButton, &QPushButton::clicked, this, &TracePanel::pinClicked);
  connect(unpinButton, &QPushButton::clicked, this, &TracePanel::unpinClicked);
  connect(recordButton, &QPushButton::clicked, this, &TracePanel::recordClicked);
  connect(checkButton, &QPushButton::clicked, this, &TracePanel::checkClicked);
  connect(applyButton, &QPushButton::clicked, this, &TracePanel::applyClicked);
  connect(closeButton, &QPushButton::clicked, this, [this] {
    trace("\nTrace: CLOSE\n");
    hide();
  });
}

}  // namespace tkb::ui
