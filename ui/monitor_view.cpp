#include "ui/monitor_view.h"

#include "link/trace.h"
#include "ui/trace_texts.h"
#include "ui/widgets.h"

namespace tkb::ui {

MonitorView readMonitorView(const AppConfig& config) {
  return config.readText(kMonitorViewSection, kMonitorViewKey, "bars") == "trace" ? MonitorView::Trace
                                                                                  : MonitorView::Bars;
}

bool writeMonitorView(const AppConfig& config, MonitorView view) {
  return config.write(kMonitorViewSection, kMonitorViewKey, view == MonitorView::Trace ? "trace" : "bars");
}

MonitorViewSwitch::MonitorViewSwitch(QWidget* parent, const AppConfig& config)
    : QWidget(parent), config_(config), view_(readMonitorView(config)) {
  setObjectName("MonitorViewSwitch");
  resize(kButtonWidth, 2 * kButtonHeight + kGap);
  auto button = [this](int y, const char* name, MonitorView view) {
    auto* b = new QPushButton(this);
    b->setObjectName(name);
    b->setGeometry(0, y, kButtonWidth, kButtonHeight);
    b->setFocusPolicy(Qt::NoFocus);
    QFont font = b->font();
    font.setPixelSize(12);
    font.setBold(true);
    b->setFont(font);
    connect(b, &QPushButton::clicked, this, [this, view] {
      trace("\nMonitor view %s pressed\n", view == MonitorView::Trace ? "trace" : "bars");
      setView(view);
    });
    return b;
  };
  barsButton = button(0, "MonitorViewBars", MonitorView::Bars);
  traceButton = button(kButtonHeight + kGap, "MonitorViewTrace", MonitorView::Trace);
  setLanguage(0);
  showView();
}

bool MonitorViewSwitch::setView(MonitorView view) {
  if (!writeMonitorView(config_, view)) {
    showView();
    return false;
  }
  const bool changed = view != view_;
  view_ = view;
  showView();
  if (changed) emit viewChanged(view);
  return true;
}

void MonitorViewSwitch::setLanguage(int language) {
  setFittedText(barsButton, traceText(TraceText::ViewBars, language));
  setFittedText(traceButton, traceText(TraceText::ViewTrace, language));
  for (QPushButton* b : {barsButton, traceButton}) b->setToolTip(traceText(TraceText::MonitorViewMenu, language));
}

void MonitorViewSwitch::showView() {
  setButtonLook(barsButton, view_ == MonitorView::Bars ? ButtonLook::Highlighted : ButtonLook::Normal);
  setButtonLook(traceButton, view_ == MonitorView::Trace ? ButtonLook::Highlighted : ButtonLook::Normal);
}

}  // namespace tkb::ui
