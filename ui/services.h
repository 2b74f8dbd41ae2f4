// What the window needs from the machine around it: the pedal joystick input (the hidraw
// reader, or the simulated driver in demo mode), the system-wide key listener, message
// boxes and opening a document or web page. The program passes the real ones; tests pass
// recording ones where nothing real can run.
#pragma once

#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <string>

#include "app/doctor.h"
#include "app/key_event.h"
#include "link/pedal_input.h"
#include "ui/widgets.h"

namespace tkb::ui {

// The system-wide listener for the keys the controller types.
class KeyListener {
 public:
  // Called on the listener's own thread, once per key event, in order.
  using Deliver = std::function<void(const KeyEvent&)>;
  virtual ~KeyListener() = default;
  virtual bool install(Deliver deliver) = 0;
  virtual void remove() = 0;
};

struct Services {
  std::unique_ptr<tkb::PedalInput> pedals;
  std::unique_ptr<KeyListener> keys;  // none: the key step is skipped with a trace line
  // A modal error box (text, title); tests record it instead.
  std::function<void(const QString&, const QString&)> errorBox;
  // A modal information box (text, title); none: the text goes to the trace only.
  std::function<void(const QString&, const QString&)> infoBox;
  // A modal question box over the window (askQuestion); true: yes. Tests record and answer
  // it instead. None: nothing is asked and the answer is yes.
  std::function<bool(QWidget* window, const Question& question)> question;
  // Opens a document or web page with the desktop's default program.
  std::function<void(const QUrl&)> openUrl;
  // Ends the process after the shut-down sequence (status 0).
  std::function<void()> quit;
  // The monitor program (started in ./opt/) and the folder holding doc/*.pdf. The defaults
  // are those of the staged folder, relative to the working directory; the installed
  // program names its files under /usr.
  std::string monitorProgram = "./opt/TKB_Monitor";
  QString manualFolder;  // empty: the working directory
  // Whether the desktop has a tray host; none: Qt's answer (QSystemTrayIcon).
  std::function<bool()> trayAvailable;
  // What the diagnosis of the "PEDALS NOT DETECTED!!" box looks at; empty: this computer.
  std::function<DoctorSetup()> doctorSetup;
  // DEMO of the search help: the program on its emulated pedal set instead (none: nothing).
  std::function<void()> restartInDemo;
};

}  // namespace tkb::ui
