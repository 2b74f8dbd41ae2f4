// The start screen's help while the search for the pedal set finds nothing: after 5 s it
// shows, in the driver's language, how many passes the search made, every serial port it saw
// and why it passed it over, and what to do: DIAGNOSE (the doctor's report), ALLOW ACCESS
// (the udev rule through pkexec, when a pedal port refused this user) and DEMO (the program
// on its emulated pedal set). The search goes on meanwhile; the help goes when it ends.
// Also the line of the "PEDALS NOT DETECTED!!" box that says which part of the pedal set
// answers and which is missing.
#pragma once

#include <QFrame>
#include <QTimer>
#include <functional>
#include <optional>
#include <string>

#include "link/probe.h"

class QLabel;
class QPushButton;

namespace tkb::ui {

inline constexpr int kSearchHelpDelayMs = 5000;
inline constexpr int kSearchHelpMaxPorts = 8;  // listed; the rest are counted

class SearchHelp : public QFrame {
  Q_OBJECT

 public:
  // Built hidden on the window. `status` is the line that says the search runs: it moves
  // above the help while the help shows. delayMs: how long the search runs before the help.
  SearchHelp(QWidget* window, QLabel* status, int delayMs = kSearchHelpDelayMs);

  // A search began: the help appears after kSearchHelpDelayMs unless the search ends first.
  void searchStarted(int language);
  // The search ended (found, given up, or a firmware update took over).
  void searchEnded();
  // What a pass of the search saw; main thread.
  void passSeen(const ProbePass& pass);
  // For the probe's passSeen: callable from the probe's thread, hands a copy over.
  std::function<void(const ProbePass&)> passListener();

  QLabel* passesText() const { return passes_; }
  QLabel* portsText() const { return ports_; }
  QPushButton* diagnoseButton() const { return diagnose_; }
  QPushButton* allowAccessButton() const { return allowAccess_; }
  QPushButton* demoButton() const { return demo_; }

 signals:
  void diagnoseClicked();
  void allowAccessClicked();
  void demoClicked();

 private:
  void appear();
  void refresh();

  QLabel* status_;
  QLabel* title_ = nullptr;
  QLabel* passes_ = nullptr;
  QLabel* ports_ = nullptr;
  QLabel* advice_ = nullptr;
  QLabel* accessAdvice_ = nullptr;
  QPushButton* diagnose_ = nullptr;
  QPushButton* allowAccess_ = nullptr;
  QPushButton* demo_ = nullptr;
  QTimer delay_;
  int language_ = 0;
  std::optional<ProbePass> lastPass_;
};

// What the not-detected box says about the parts of the pedal set.
struct PartsSeen {
  std::string port;  // "COM3 (/dev/ttyACM3)": the serial port that answered; empty: none did
  std::string joystickNode;  // the joystick's raw HID node when it is there but refused
  std::string accessFix;     // the command that gives access to it
};

// Adds the line about the parts to the box's text (the box's own text stays first) and puts
// DIAGNOSE in the driver's language.
void explainNotDetected(QLabel* boxText, QPushButton* diagnose, const PartsSeen& parts, int language);

}  // namespace tkb::ui
