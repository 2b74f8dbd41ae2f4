#include "ui/pedal_trace_feed.h"

#include <algorithm>

#include "app/pedal_readout.h"
#include "link/settings.h"
#include "link/trace.h"

namespace tkb::ui {

namespace {
constexpr int kTraceSeconds = 10;
constexpr int kTraceSampleMs = 10;

float deadZoned(float input, int lower, int upper) {
  const float low = static_cast<float>(std::clamp(lower, 0, 100));
  const float high = static_cast<float>(std::clamp(upper, 0, 100));
  if (input <= low) return 0;
  if (input >= high) return 100;
  return (input - low) * 100.0f / (high - low);
}
}  // namespace

float traceInputPercent(int16_t raw) { return std::clamp(proPercent(raw), 0.0f, 100.0f); }

float traceOutputPercent(const ControllerState& state, Pedal pedal, float input) {
  float v = std::clamp(input, 0.0f, 100.0f);
  if (state.zonesEnabled) v = deadZoned(v, zoneValue(state, pedal, false), zoneValue(state, pedal, true));
  if (!state.sportProfileActive) return v;
  if (pedal == Pedal::Brake)
    v = state.cheto <= 0 ? 100.0f : std::min(100.0f, v * 100.0f / static_cast<float>(state.cheto));
  return static_cast<float>(std::clamp(curveOutputAt(curveOf(state, pedal), v), 0.0, 100.0));
}

PedalTraceFeed::PedalTraceFeed() : ring_(kTraceSeconds, kTraceSampleMs) {}

PedalTraceFeed::~PedalTraceFeed() {
  if (!writer_) return;
  std::string error;
  if (!stopRecording(error)) trace("\nTrace: the recording could not be finished: %s\n", error.c_str());
}

int64_t PedalTraceFeed::nowUs() const {
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
}

void PedalTraceFeed::sample(const PedalAxes& axes, const ControllerState& state) { sampleAt(nowUs(), axes, state); }

void PedalTraceFeed::sampleAt(int64_t timeUs, const PedalAxes& axes, const ControllerState& state) {
  lastUs_ = timeUs;
  ++samples_;
  PedalTracePoint point;
  point.timeMs = timeUs / 1000;
  const int16_t raw[kPedalCount] = {axes.axis3, axes.axis2, axes.axis1};  // clutch, brake, throttle
  for (Pedal pedal : kPedals) {
    const int i = pedalIndex(pedal);
    // Without a clutch its axis means nothing: the line stays at 0.
    const float input = pedal == Pedal::Clutch && !state.hasClutch ? 0.0f : traceInputPercent(raw[i]);
    point.input[i] = input;
    point.output[i] = traceOutputPercent(state, pedal, input);
  }
  ring_.append(point);
  capture_.add(point.timeMs, point.input[pedalIndex(Pedal::Brake)], state.brakeLower);
  if (writer_ && !recordRefused_ && !writer_->add(timeUs - recordStartUs_, axes)) recordRefused_ = true;
  if (check_ && check_->phase() != PedalCheck::Phase::Done) check_->add(timeUs, axes);
}

bool PedalTraceFeed::startRecording(const std::string& path, std::string& error) {
  if (writer_) {
    error = "a recording is under way";
    return false;
  }
  auto writer = std::make_unique<PedalRecordWriter>();
  if (!writer->open(path, error)) return false;
  writer_ = std::move(writer);
  recordingPath_ = path;
  recordStartUs_ = lastUs_ = nowUs();
  recordRefused_ = false;
  trace("\nTrace: recording into %s\n", path.c_str());
  return true;
}

bool PedalTraceFeed::stopRecording(std::string& error) {
  if (!writer_) {
    error = "no recording under way";
    return false;
  }
  std::unique_ptr<PedalRecordWriter> writer = std::move(writer_);
  bool done = !recordRefused_ && writer->finish(error);
  if (recordRefused_) error = "the disk refused a row";
  if (!done) writer->abandon();
  trace("\nTrace: recording %s (%ld rows)\n", done ? "finished" : "abandoned", writer->rows());
  recordRefused_ = false;
  return done;
}

void PedalTraceFeed::startCheck(bool hasClutch) {
  check_.emplace(nowUs(), hasClutch);
  trace("\nTrace: pedal check started\n");
}

void PedalTraceFeed::advanceCheck() {
  if (check_) check_->advance(nowUs());
}

}  // namespace tkb::ui
