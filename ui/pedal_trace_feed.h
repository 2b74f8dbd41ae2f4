// PedalTraceFeed: the trace panel's part of the session's 10 ms feed. Each sample goes into
// the ring of the last 10 s (input and output of each pedal) and the brake application
// capture, whatever page is shown and while the window is minimised; the panel draws from
// them while it is shown. A recording (RECORD) and a pedal check (PEDAL CHECK) the driver
// started take the same samples until they end, so they go on with the panel closed. Owned by
// ControllerModel, main thread only. A sample costs a few hundred nanoseconds and allocates
// nothing (a recording buffers its rows and writes them in blocks).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/brake_capture.h"
#include "app/pedal_check.h"
#include "app/pedal_record.h"
#include "app/pedal_trace.h"
#include "link/controller_state.h"
#include "link/pedal_input.h"

namespace tkb::ui {

// The pedal's input in percent, as the PRO bars compute it (0..100).
float traceInputPercent(int16_t raw);

// What the game gets of a pedal at an input percent, in percent: first the dead zones, then
// the curve in force.
// - Dead zones (while the zones are on): at or below the lower zone the game gets 0, at or
//   above the upper zone 100, and between them the travel is spread over 0..100. These are
//   the zones whose band the bars draw; an upper zone at or below the lower one leaves a
//   step at the lower one.
// - Curve: only while CUSTOM is in force, read along the line its chart draws, the brake
//   taken relative to the brake stop as the CUSTOM page's OUT bar takes it (a brake stop of
//   0 counts as fully pressed).
// In PRO mode the output is the input after the dead zones.
float traceOutputPercent(const ControllerState& state, Pedal pedal, float input);

class PedalTraceFeed {
 public:
  using Clock = std::chrono::steady_clock;

  PedalTraceFeed();
  // A recording under way is finished: its file is complete.
  ~PedalTraceFeed();
  PedalTraceFeed(const PedalTraceFeed&) = delete;
  PedalTraceFeed& operator=(const PedalTraceFeed&) = delete;

  // One sample of the feed, now (its clock), with the state in force.
  void sample(const PedalAxes& axes, const ControllerState& state);
  // The same at a given time (microseconds of a steady clock, never going back).
  void sampleAt(int64_t timeUs, const PedalAxes& axes, const ControllerState& state);

  const PedalTraceRing& ring() const { return ring_; }
  const BrakeCapture& capture() const { return capture_; }
  // Samples taken so far: a view knows whether anything new came.
  long samples() const { return samples_; }

  // RECORD: the samples from now on as rows of a pedal recording into path (the file
  // appears when the recording ends). False with why.
  bool startRecording(const std::string& path, std::string& error);
  bool recording() const { return writer_ != nullptr; }
  // STOP: the file put in place with every row. False with why (nothing is left behind).
  bool stopRecording(std::string& error);
  const std::string& recordingPath() const { return recordingPath_; }
  long recordedRows() const { return writer_ ? writer_->rows() : 0; }
  // How long the recording has run, in microseconds.
  int64_t recordedUs() const { return recording() ? lastUs_ - recordStartUs_ : 0; }

  // PEDAL CHECK: a new check on the samples from now on (one under way starts again).
  void startCheck(bool hasClutch);
  // The check under way or the last one; none before the first.
  const PedalCheck* check() const { return check_ ? &*check_ : nullptr; }
  // Time passes for the check without samples (the feed stopped).
  void advanceCheck();
  int64_t nowUs() const;

 private:
  PedalTraceRing ring_;
  BrakeCapture capture_;
  long samples_ = 0;
  int64_t lastUs_ = 0;
  std::unique_ptr<PedalRecordWriter> writer_;
  std::string recordingPath_;
  int64_t recordStartUs_ = 0;
  bool recordRefused_ = false;
  std::optional<PedalCheck> check_;
};

}  // namespace tkb::ui
