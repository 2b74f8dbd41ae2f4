#include "ui/diagnosis_dialog.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QVBoxLayout>

#include "link/trace.h"

namespace tkb::ui {

DiagnosisDialog::DiagnosisDialog(DoctorSetup setup, QWidget* parent)
    : QDialog(parent), setup_(std::move(setup)) {
  setObjectName("DiagnosisDialog");
  setWindowTitle("Pedal set diagnosis");
  resize(900, 480);
  auto* layout = new QVBoxLayout(this);
  report_ = new QPlainTextEdit(this);
  report_->setReadOnly(true);
  report_->setLineWrapMode(QPlainTextEdit::NoWrap);
  report_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  const DoctorReport report = runDoctor(setup_);
  report_->setPlainText(QString::fromStdString(report.text()));
  layout->addWidget(report_);
  status_ = new QLabel(this);
  status_->setWordWrap(true);
  status_->hide();
  layout->addWidget(status_);

  auto* buttons = new QHBoxLayout;
  allowAccess_ = new QPushButton("ALLOW ACCESS", this);
  allowAccess_->setToolTip("Installs the pedals' udev rule as administrator (pkexec)");
  allowAccess_->setVisible(report.accessDenied() && !programOnPath("pkexec").empty());
  auto* close = new QPushButton("CLOSE", this);
  buttons->addStretch();
  buttons->addWidget(allowAccess_);
  buttons->addWidget(close);
  layout->addLayout(buttons);
  connect(close, &QPushButton::clicked, this, &QDialog::close);
  connect(allowAccess_, &QPushButton::clicked, this, &DiagnosisDialog::allowAccess);
  recheck_.setInterval(kAccessRecheckMs);
  connect(&recheck_, &QTimer::timeout, this, &DiagnosisDialog::recheck);
}

void DiagnosisDialog::allowAccess() {
  if (pkexec_ != nullptr) return;  // one request at a time
  const std::vector<std::string> command = pkexecAccessFix(setup_);
  QStringList arguments;
  for (size_t i = 1; i < command.size(); ++i) arguments << QString::fromStdString(command[i]);
  pkexec_ = new QProcess(this);
  allowAccess_->setEnabled(false);
  status_->setText("Waiting for the administrator's password...");
  status_->show();
  connect(pkexec_, &QProcess::finished, this, [this](int status, QProcess::ExitStatus how) {
    pkexec_->deleteLater();
    pkexec_ = nullptr;
    if (how == QProcess::NormalExit && status == 0) {
      trace("\nRegla udev instalada\n");
      status_->setText("The access rule is in place. Unplug the pedal set and plug it in again.");
      recheck_.start();
      return;
    }
    // 126: the request was dismissed; 127: not authorised.
    status_->setText(QString("The access rule was not installed (pkexec ended with status %1).").arg(status));
    allowAccess_->setEnabled(true);
  });
  connect(pkexec_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart) return;
    status_->setText("pkexec could not be started.");
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
  report_->setPlainText(QString::fromStdString(runDoctor(setup_).text()));
  status_->setText("The pedal set can be opened now.");
  emit accessRestored();
}

}  // namespace tkb::ui
