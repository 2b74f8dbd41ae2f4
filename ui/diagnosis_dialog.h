// The diagnosis behind the DIAGNOSE buttons (the "PEDALS NOT DETECTED!!" box, the search
// help): the same findings as tkb-cli doctor, in the driver's language, each fix command
// wrapped to the dialog's width, selectable and with a COPY button. Where a pedal node exists
// but may not be opened, ALLOW ACCESS installs the udev rule through pkexec (when it is
// there); the dialog then asks for the pedals to be plugged in again and checks every second
// until they can be opened.
#pragma once

#include <QDialog>
#include <QTextEdit>
#include <QTimer>

#include "app/doctor.h"
#include "ui/help_texts.h"

class QLabel;
class QProcess;
class QPushButton;
class QVBoxLayout;

namespace tkb::ui {

inline constexpr int kAccessRecheckMs = 1000;

// A command to type: read-only, selectable, wrapped anywhere (a long path too) to the width
// it is given, and as tall as its text, so that it never scrolls.
class CommandView : public QTextEdit {
 public:
  CommandView(const QString& command, QWidget* parent);
  QString command() const { return toPlainText(); }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void fitHeight();
};

class DiagnosisDialog : public QDialog {
  Q_OBJECT

 public:
  DiagnosisDialog(DoctorSetup setup, int language, QWidget* parent);

  // The findings as shown (one row each; the fix commands are CommandViews).
  QWidget* reportView() const { return rows_; }
  QLabel* statusLabel() const { return status_; }
  // Shown only when a node is refused and pkexec is on PATH.
  QPushButton* allowAccessButton() const { return allowAccess_; }
  // ALLOW ACCESS: installs the rule through pkexec (one request at a time).
  void allowAccess();

 signals:
  // The re-check after the rule was installed found every pedal node open to us.
  void accessRestored();

 private:
  void showReport(const DoctorReport& report);
  void recheck();
  QString text(HelpText text) const;

  DoctorSetup setup_;
  int language_ = 0;
  QWidget* rows_ = nullptr;
  QVBoxLayout* rowLayout_ = nullptr;
  QLabel* status_ = nullptr;
  QPushButton* allowAccess_ = nullptr;
  QProcess* pkexec_ = nullptr;
  QTimer recheck_;
};

}  // namespace tkb::ui
