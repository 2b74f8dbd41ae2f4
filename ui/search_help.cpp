#include "ui/search_help.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstring>

#include "app/doctor.h"
#include "link/trace.h"
#include "ui/help_texts.h"
#include "ui/widgets.h"

namespace tkb::ui {

namespace {

constexpr int kHelpWidth = 980, kHelpMaxHeight = 500;
constexpr int kHelpBelowCentre = 30;  // the help, centred a little low; the status line above it
constexpr int kStatusAboveHelp = 56;
constexpr int kHelpTextPx = 16;

QString tr6(HelpText text, int language) { return QString::fromUtf8(helpText(text, language)); }

QString hexIds(const UsbIds& ids) { return QString::asprintf("%04x:%04x", ids.vendor, ids.product); }

QString portLine(const PortSighting& port, int language) {
  const QString name = QString::fromStdString(port.name + " (" + port.path + ")");
  switch (port.outcome) {
    case PortOutcome::OtherMaker:
      return tr6(HelpText::PortOtherMaker, language).arg(name, port.ids ? hexIds(*port.ids) : QString("?"));
    case PortOutcome::NoPermission: return tr6(HelpText::PortNoPermission, language).arg(name);
    case PortOutcome::InUse: return tr6(HelpText::PortInUse, language).arg(name);
    case PortOutcome::NotOpened:
      return tr6(HelpText::PortNotOpened, language).arg(name, QString::fromUtf8(std::strerror(port.error)));
    case PortOutcome::NotAnswering: break;
  }
  return tr6(HelpText::PortNotAnswering, language).arg(name);
}

// A port of the pedal set (or of its bootloader) that this user may not open: the udev
// rule fixes that. A port without USB ids is not known to be ours.
bool pedalPortRefused(const ProbePass& pass) {
  for (const PortSighting& port : pass.ports)
    if (port.outcome == PortOutcome::NoPermission && port.ids && mayBePedalSet(*port.ids)) return true;
  return false;
}

QLabel* textLabel(QWidget* parent, int pixelSize, bool bold = false) {
  auto* label = new QLabel(parent);
  label->setWordWrap(true);
  label->setStyleSheet(QString("color:#202020;font-size:%1px;%2").arg(pixelSize).arg(bold ? "font-weight:bold;" : ""));
  return label;
}

}  // namespace

SearchHelp::SearchHelp(QWidget* window, QLabel* status, int delayMs) : QFrame(window), status_(status) {
  setObjectName("SearchHelp");
  setStyleSheet("#SearchHelp{background:#ffffff;border:2px solid #9a9a9a;border-radius:10px;}");
  resize(kHelpWidth, kHelpMaxHeight);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(28, 20, 28, 20);
  layout->setSpacing(10);
  title_ = textLabel(this, 24, true);
  passes_ = textLabel(this, kHelpTextPx);
  ports_ = textLabel(this, kHelpTextPx);
  ports_->setObjectName("SearchHelpPorts");
  ports_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  advice_ = textLabel(this, kHelpTextPx);
  accessAdvice_ = textLabel(this, kHelpTextPx, true);
  for (QLabel* label : {title_, passes_, ports_, advice_, accessAdvice_}) layout->addWidget(label);
  layout->addSpacing(8);
  auto* buttons = new QHBoxLayout;
  auto button = [this, buttons](const char* name, void (SearchHelp::*clicked)()) {
    auto* b = new QPushButton(this);
    b->setObjectName(name);
    b->setFocusPolicy(Qt::NoFocus);
    b->setMinimumSize(220, 46);
    setButtonLook(b, ButtonLook::Normal);
    buttons->addWidget(b);
    connect(b, &QPushButton::clicked, this, [this, clicked, b] {
      trace("Button: %s\n", b->text().toUtf8().constData());
      emit(this->*clicked)();
    });
    return b;
  };
  buttons->addStretch();
  diagnose_ = button("SearchDiagnose", &SearchHelp::diagnoseClicked);
  allowAccess_ = button("SearchAllowAccess", &SearchHelp::allowAccessClicked);
  demo_ = button("SearchDemo", &SearchHelp::demoClicked);
  buttons->addStretch();
  layout->addLayout(buttons);
  delay_.setSingleShot(true);
  delay_.setTimerType(Qt::PreciseTimer);
  delay_.setInterval(delayMs);
  connect(&delay_, &QTimer::timeout, this, &SearchHelp::appear);
  hide();
}

void SearchHelp::searchStarted(int language) {
  language_ = language;
  status_->setText(tr6(HelpText::Searching, language));
  status_->adjustSize();
  placeAligned(status_, Align::Center, 0, 0);
  lastPass_.reset();
  delay_.start();
}

void SearchHelp::searchEnded() {
  delay_.stop();
  if (isHidden()) return;
  hide();
  placeAligned(status_, Align::Center, 0, 0);
}

void SearchHelp::passSeen(const ProbePass& pass) {
  lastPass_ = pass;
  if (isVisible()) refresh();
}

std::function<void(const ProbePass&)> SearchHelp::passListener() {
  QPointer<SearchHelp> help(this);
  return [help](const ProbePass& pass) {
    // Queued to the help's thread; dropped when the help is gone by then.
    QMetaObject::invokeMethod(
        help.data(), [help, pass] { if (help) help->passSeen(pass); }, Qt::QueuedConnection);
  };
}

void SearchHelp::appear() {
  refresh();
  show();
  raise();
  status_->raise();
  trace("\nNo pedal set found yet - help shown");
}

void SearchHelp::refresh() {
  const int l = language_;
  title_->setText(tr6(HelpText::SearchTitle, l));
  diagnose_->setText(tr6(HelpText::Diagnose, l));
  allowAccess_->setText(tr6(HelpText::AllowAccess, l));
  demo_->setText(tr6(HelpText::Demo, l));
  advice_->setText(tr6(HelpText::SearchAdvice, l));
  accessAdvice_->setText(tr6(HelpText::SearchAccessAdvice, l));
  passes_->setText(tr6(HelpText::SearchPasses, l).arg(lastPass_ ? lastPass_->number : 0));
  QString ports;
  if (lastPass_ && lastPass_->ports.empty()) ports = tr6(HelpText::SearchNoPorts, l);
  if (lastPass_ && !lastPass_->ports.empty()) {
    ports = tr6(HelpText::SearchPortsSeen, l);
    const size_t shown = std::min<size_t>(lastPass_->ports.size(), kSearchHelpMaxPorts);
    for (size_t i = 0; i < shown; ++i) ports += "\n  • " + portLine(lastPass_->ports[i], l);
    if (lastPass_->ports.size() > shown) ports += QString("\n  • … +%1").arg(lastPass_->ports.size() - shown);
  }
  ports_->setText(ports);
  ports_->setVisible(!ports.isEmpty());
  const bool refused = lastPass_ && pedalPortRefused(*lastPass_);
  accessAdvice_->setVisible(refused);
  allowAccess_->setVisible(refused && !programOnPath("pkexec").empty());
  // As tall as what it says (a long port list at most kHelpMaxHeight).
  resize(kHelpWidth, std::min(kHelpMaxHeight, layout()->totalHeightForWidth(kHelpWidth)));
  placeAligned(this, Align::Center, 0, kHelpBelowCentre);
  placeAligned(status_, Align::TopMid, 0, std::max(0, y() - kStatusAboveHelp));
}

void explainNotDetected(QLabel* boxText, QPushButton* diagnose, const PartsSeen& parts, int language) {
  diagnose->setText(tr6(HelpText::Diagnose, language));
  if (parts.port.empty()) return;
  // The box's own words first, as they always were; ours below, smaller.
  QString html = boxText->text().toHtmlEscaped().replace("\n", "<br>");
  const QString port = QString::fromStdString(parts.port).toHtmlEscaped();
  if (parts.joystickNode.empty()) {
    html += "<p style=\"font-size:15px\">" + tr6(HelpText::JoystickMissing, language).arg(port).toHtmlEscaped() + "</p>";
  } else {
    html += "<p style=\"font-size:15px\">" +
            tr6(HelpText::JoystickRefused, language).arg(port, QString::fromStdString(parts.joystickNode)).toHtmlEscaped() +
            "</p><p style=\"font-size:13px;font-family:monospace\">" +
            QString::fromStdString(parts.accessFix).toHtmlEscaped() + "</p>";
  }
  boxText->setTextFormat(Qt::RichText);
  boxText->setAttribute(Qt::WA_TransparentForMouseEvents, false);
  boxText->setTextInteractionFlags(Qt::TextSelectableByMouse);
  boxText->setText(html);
  boxText->setGeometry(20, 16, 460, 276);
}

}  // namespace tkb::ui
