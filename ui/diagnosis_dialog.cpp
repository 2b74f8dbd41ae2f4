#include "ui/diagnosis_dialog.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "link/trace.h"

namespace tkb::ui {

namespace {

constexpr int kDialogWidth = 900, kDialogHeight = 560;

struct VerdictLook {
  HelpText tag;
  const char* colour;
};
VerdictLook verdictLook(Verdict verdict) {
  switch (verdict) {
    case Verdict::Ok: return {HelpText::VerdictOk, "#2e7d32"};
    case Verdict::Note: return {HelpText::VerdictNote, "#b26a00"};
    case Verdict::Problem: return {HelpText::VerdictProblem, "#c62828"};
    case Verdict::Follows: break;
  }
  return {HelpText::VerdictFollows, "#6d6d6d"};
}

// A wrapped, selectable line that never widens the dialog (a long path is cut rather than
// scrolled sideways; the commands, which must be read whole, are CommandViews).
QLabel* wrappedLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  return label;
}

}  // namespace

CommandView::CommandView(const QString& command, QWidget* parent) : QTextEdit(parent) {
  setPlainText(command);
  setReadOnly(true);
  setObjectName("CommandView");
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  setLineWrapMode(QTextEdit::WidgetWidth);
  setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  setStyleSheet("QTextEdit{background:#f1f1f1;border:1px solid #c8c8c8;border-radius:3px;}");
  connect(document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
          [this] { fitHeight(); });
  fitHeight();
}

void CommandView::resizeEvent(QResizeEvent* event) {
  QTextEdit::resizeEvent(event);
  fitHeight();
}

void CommandView::fitHeight() {
  document()->setTextWidth(viewport()->width());
  const int height = static_cast<int>(document()->size().height()) + 2 * frameWidth();
  if (height != this->height()) setFixedHeight(height);
}

DiagnosisDialog::DiagnosisDialog(DoctorSetup setup, int language, QWidget* parent)
    : QDialog(parent), setup_(std::move(setup)), language_(language) {
  setObjectName("DiagnosisDialog");
  setWindowTitle(text(HelpText::DiagnosisTitle));
  resize(kDialogWidth, kDialogHeight);
  auto* layout = new QVBoxLayout(this);
  auto* scroll = new QScrollArea(this);
  scroll->setObjectName("DiagnosisScroll");
  scroll->setWidgetResizable(true);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  rows_ = new QWidget(scroll);
  rowLayout_ = new QVBoxLayout(rows_);
  scroll->setWidget(rows_);
  layout->addWidget(scroll);
  status_ = wrappedLabel({}, this);
  status_->hide();
  layout->addWidget(status_);

  auto* buttons = new QHBoxLayout;
  allowAccess_ = new QPushButton(text(HelpText::AllowAccess), this);
  allowAccess_->setToolTip(text(HelpText::AllowAccessTip));
  auto* close = new QPushButton(text(HelpText::Close), this);
  buttons->addStretch();
  buttons->addWidget(allowAccess_);
  buttons->addWidget(close);
  layout->addLayout(buttons);
  connect(close, &QPushButton::clicked, this, &QDialog::close);
  connect(allowAccess_, &QPushButton::clicked, this, &DiagnosisDialog::allowAccess);
  recheck_.setInterval(kAccessRecheckMs);
  connect(&recheck_, &QTimer::timeout, this, &DiagnosisDialog::recheck);

  const DoctorReport report = runDoctor(setup_);
  showReport(report);
  allowAccess_->setVisible(report.accessDenied() && !programOnPath("pkexec").empty());
}

QString DiagnosisDialog::text(HelpText text) const { return QString::fromUtf8(helpText(text, language_)); }

void DiagnosisDialog::showReport(const DoctorReport& report) {
  while (QLayoutItem* item = rowLayout_->takeAt(0)) {
    if (item->widget() != nullptr) item->widget()->deleteLater();
    delete item;
  }
  for (const Finding& f : report.findings) {
    auto* row = new QWidget(rows_);
    auto* rowLayout = new QVBoxLayout(row);
    rowLayout->setContentsMargins(0, 2, 0, 4);
    QString detail;
    for (const Phrase& part : f.detail) detail += (detail.isEmpty() ? "" : ", ") + doctorPhrase(part, language_);
    if (f.followsFrom >= 0 && f.followsFrom < static_cast<int>(report.findings.size()))
      detail += " (" +
                doctorPhrase({DoctorText::FollowsFrom,
                              {doctorPhrase(report.findings[static_cast<size_t>(f.followsFrom)].topic, language_)
                                   .toStdString()}},
                             language_) +
                ")";
    const VerdictLook look = verdictLook(f.verdict);
    QLabel* head = wrappedLabel(QString("<b style=\"color:%1\">%2</b>&nbsp; <b>%3</b>: %4")
                                    .arg(look.colour, text(look.tag).toHtmlEscaped(),
                                         doctorPhrase(f.topic, language_).toHtmlEscaped(), detail.toHtmlEscaped()),
                                row);
    head->setTextFormat(Qt::RichText);
    rowLayout->addWidget(head);
    for (const FixStep& step : f.fix) {
      QLabel* what = wrappedLabel("→ " + doctorPhrase(step.what, language_), row);
      what->setContentsMargins(18, 0, 0, 0);
      rowLayout->addWidget(what);
      if (step.command.empty()) continue;
      auto* line = new QHBoxLayout;
      line->setContentsMargins(18, 0, 0, 0);
      const QString command = QString::fromStdString(step.command);
      line->addWidget(new CommandView(command, row), 1);
      auto* copy = new QPushButton(text(HelpText::Copy), row);
      copy->setObjectName("CopyButton");
      connect(copy, &QPushButton::clicked, this, [command] { QApplication::clipboard()->setText(command); });
      line->addWidget(copy, 0, Qt::AlignTop);
      rowLayout->addLayout(line);
    }
    rowLayout_->addWidget(row);
  }
  const int problems = report.problems();
  QLabel* summary = wrappedLabel(problems == 0 ? text(HelpText::NothingWrong)
                                               : text(HelpText::ProblemsFound).arg(problems),
                                 rows_);
  summary->setStyleSheet("font-weight:bold;");
  rowLayout_->addWidget(summary);
  rowLayout_->addStretch();
}

void DiagnosisDialog::allowAccess() {
  if (pkexec_ != nullptr) return;  // one request at a time
  const std::vector<std::string> command = pkexecAccessFix(setup_);
  QStringList arguments;
  for (size_t i = 1; i < command.size(); ++i) arguments << QString::fromStdString(command[i]);
  pkexec_ = new QProcess(this);
  allowAccess_->setEnabled(false);
  status_->setText(text(HelpText::WaitingForPassword));
  status_->show();
  connect(pkexec_, &QProcess::finished, this, [this](int status, QProcess::ExitStatus how) {
    pkexec_->deleteLater();
    pkexec_ = nullptr;
    if (how == QProcess::NormalExit && status == 0) {
      trace("\nRegla udev instalada\n");
      status_->setText(text(HelpText::RuleInPlace));
      recheck_.start();
      return;
    }
    // 126: the request was dismissed; 127: not authorised.
    status_->setText(text(HelpText::RuleNotInstalled).arg(status));
    allowAccess_->setEnabled(true);
  });
  connect(pkexec_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart) return;
    status_->setText(text(HelpText::PkexecNotStarted));
    allowAccess_->setEnabled(true);
    pkexec_->deleteLater();
    pkexec_ = nullptr;
  });
  pkexec_->start(QString::fromStdString(command[0]), arguments);
}

void DiagnosisDialog::recheck() {
  // Every node open to us again, and the joystick there: what start-up needs.
  if (runAccessChecks(setup_).accessDenied() || !findPedalHidrawNode(setup_.roots)) return;
  recheck_.stop();
  showReport(runDoctor(setup_));
  status_->setText(text(HelpText::PedalsOpenNow));
  emit accessRestored();
}

}  // namespace tkb::ui
