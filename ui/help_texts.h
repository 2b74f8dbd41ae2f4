// What the window says to a driver whose pedals are not working yet, in the six languages:
// the search help of the start screen, the line of the "PEDALS NOT DETECTED!!" box that
// tells which part of the pedal set answers, the diagnosis dialog (its own words and the
// doctor's findings), a VR monitor without a VR runtime and a demo that cannot start.
// Before the controller has told its language the desktop's is taken.
#pragma once

#include <QLocale>

#include "app/doctor_text.h"

namespace tkb::ui {

enum class HelpText {
  // The start screen's line while the search runs, and its help.
  Searching, SearchTitle, SearchPasses, SearchPortsSeen, SearchNoPorts, PortOtherMaker, PortNoPermission,
  PortInUse, PortNotAnswering, PortNotOpened, SearchAdvice, SearchAccessAdvice,
  Diagnose, AllowAccess, Demo,
  // The not-detected box: the serial port answers, the joystick interface is missing or refused.
  JoystickMissing, JoystickRefused,
  // The diagnosis dialog.
  DiagnosisTitle, VerdictOk, VerdictNote, VerdictProblem, VerdictFollows, NothingWrong,
  ProblemsFound, Copy, Close, AllowAccessTip, WaitingForPassword, RuleInPlace, RuleNotInstalled,
  PkexecNotStarted, PedalsOpenNow,
  // OPEN VR MONITOR without a VR runtime; --demo without its emulated pedal set.
  VrMonitorTitle, VrRuntimeMissing, DemoFailed,
  Count
};
inline constexpr int kHelpTextCount = static_cast<int>(HelpText::Count);

// The text in a language (0..5, the order of the language list); "" out of range. Texts
// take their values as %1, %2.
const char* helpText(HelpText text, int language);

// A doctor's text in a language: English (0) as tkb-cli prints it, or its translation.
const char* doctorText(DoctorText text, int language);
QString doctorPhrase(const Phrase& phrase, int language);

// The driver's language as far as the desktop tells it: its locale's language when it is
// one of the six, English otherwise.
int desktopLanguage(const QLocale& locale = QLocale::system());

}  // namespace tkb::ui
