// What the trace panel, the main page's TRACE button, the monitor view switch and its tray
// entries say, in the six languages, and the pedal check's findings put in the driver's
// words. Texts take their values as %1, %2, ...
#pragma once

#include <QObject>
#include <QString>
#include <functional>

#include "app/pedal_check.h"

namespace tkb::ui {

class ControllerModel;

enum class TraceText {
  // The main page and the tray.
  TraceButton, ViewBars, ViewTrace, MonitorViewMenu, MonitorViewBars, MonitorViewTrace,
  // The panel.
  PanelTitle, Input, Output, InputCaption, OutputCaption, Clutch, Brake, Throttle, LastBraking, Reference,
  Peak, TimeToPeak, Held, Release, Pin, Unpin, Record, Stop, PedalCheck, Apply, Close,
  Recording, Recorded, RecordFailed, PinNotKept, UnpinFailed,
  // The pedal check.
  CheckRest, CheckPress, CheckTiming, CheckNoSamples, LowerSuggested, MovedAtRest, RestTooHigh,
  UpperSuggested, UpperNotPressed, UpperTooShort, BrakeLimit, ClutchNotPressed, NothingToSend, ApplyOffered,
  NotNow, Sent, PedalLeftAlone,
  Count
};
inline constexpr int kTraceTextCount = static_cast<int>(TraceText::Count);

// The text in a language (0..5, the order of the language list); English out of range.
QString traceText(TraceText text, int language);

// The pedal's name in a sentence (upper-case first).
QString pedalName(Pedal pedal, int language);

// The findings of a finished check, one sentence per pedal and zone, in the language.
QStringList checkFindings(const PedalCheckResult& result, int language);

// Runs show(language) now, with the driver's language as the session knows it (the desktop's
// before that), and again whenever the language changes, for as long as owner lives.
void followLanguage(QObject* owner, ControllerModel& model, std::function<void(int)> show);

}  // namespace tkb::ui
