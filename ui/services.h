// What the window needs from the machine around it, as small interfaces: the pedal
// joystick input, the system-wide key listener, message boxes and opening a document or
// web page. The program passes the real ones; tests pass their own.
#pragma once

#include <QString>
#include <QUrl>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

namespace tkb::ui {

// The pedal set's joystick interface.
class PedalInput {
 public:
  virtual ~PedalInput() = default;
  // Looks for the joystick; false when the pedal set's joystick is not there.
  virtual bool findJoystick() = 0;
  // The 10 ms read: takes what is there and never blocks.
  virtual void readPedalAxes() = 0;
  // Throttle, brake, clutch, brake total as signed 16-bit axis values.
  virtual std::array<int16_t, 4> axes() const = 0;
  // Best effort: no stored joystick calibration may distort what games read.
  virtual void resetJoystickCalibration() {}
};

// The system-wide listener for the keys the controller types.
class KeyListener {
 public:
  virtual ~KeyListener() = default;
  virtual bool install() = 0;
  virtual void remove() = 0;
};

struct Services {
  std::unique_ptr<PedalInput> pedals;
  std::unique_ptr<KeyListener> keys;  // none: the key step is skipped with a trace line
  // A modal error box (text, title); tests record it instead.
  std::function<void(const QString&, const QString&)> errorBox;
  // Opens a document or web page with the desktop's default program.
  std::function<void(const QUrl&)> openUrl;
  // Ends the process after the shut-down sequence (status 0).
  std::function<void()> quit;
};

}  // namespace tkb::ui
