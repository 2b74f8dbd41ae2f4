// The diagnosis behind the DIAGNOSE button of the "PEDALS NOT DETECTED!!" box: the same
// report as tkb-cli doctor. Where a pedal node exists but may not be opened, ALLOW ACCESS
// installs the udev rule through pkexec (when it is there); the dialog then asks for the
// pedals to be plugged in again and checks every second until they can be opened.
#pragma once

#include <QDialog>
#include <QTimer>

#include "app/doctor.h"

class QLabel;
class QPlainTextEdit;
class QProcess;
class QPushButton;

namespace tkb::ui {

inline constexpr int kAccessRecheckMs = 1000;

class DiagnosisDialog : public QDialog {
  Q_OBJECT

 public:
  DiagnosisDialog(DoctorSetup setup, QWidget* parent);

  QPlainTextEdit* reportView() const { return report_; }
  QLabel* statusLabel() const { return status_; }
  // Shown only when a node is refused and pkexec is on PATH.
  QPushButton* allowAccessButton() const { return allowAccess_; }

 signals:
  // The re-check after the rule was installed found every pedal node open to us.
  void accessRestored();

 private:
  void allowAccess();
  void recheck();

  DoctorSetup setup_;
  QPlainTextEdit* report_ = nullptr;
  QLabel* status_ = nullptr;
  QPushButton* allowAccess_ = nullptr;
  QProcess* pkexec_ = nullptr;
  QTimer recheck_;
};

}  // namespace tkb::ui
