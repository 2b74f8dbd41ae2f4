#include "monitor/pedal_trace.h"

#include <algorithm>

namespace tkb::monitor {
namespace {

constexpr int kApplicationSamplesMax = kTraceColumns * kSamplesPerTraceColumn;

std::uint8_t percentOf(int value) { return static_cast<std::uint8_t>(std::clamp(value, 0, 100)); }

TraceSpan spanOf(std::uint8_t value) { return {value, value, value}; }

void extend(TraceSpan& span, std::uint8_t value) {
  span.low = std::min(span.low, value);
  span.high = std::max(span.high, value);
  span.last = value;
}

}  // namespace

PedalTrace::PedalTrace() {
  capture_.reserve(kTraceColumns);
  held_.reserve(kTraceColumns);
}

const TraceColumn& PedalTrace::column(int index) const {
  return columns_[static_cast<std::size_t>((first_ + index) % kTraceColumns)];
}

TraceColumn& PedalTrace::newestColumn() {
  return columns_[static_cast<std::size_t>((first_ + count_ - 1) % kTraceColumns)];
}

void PedalTrace::add(int throttle, int brake, int clutch) {
  const std::uint8_t values[3] = {percentOf(throttle), percentOf(brake), percentOf(clutch)};
  if (samplesInNewest_ == kSamplesPerTraceColumn) {
    if (count_ < kTraceColumns) {
      ++count_;
    } else {
      first_ = (first_ + 1) % kTraceColumns;  // the oldest column makes room
    }
    TraceColumn& column = newestColumn();
    for (int i = 0; i < 3; ++i) column.pedals[static_cast<std::size_t>(i)] = spanOf(values[i]);
    samplesInNewest_ = 1;
  } else {
    TraceColumn& column = newestColumn();
    for (int i = 0; i < 3; ++i) extend(column.pedals[static_cast<std::size_t>(i)], values[i]);
    ++samplesInNewest_;
  }
  followBrake(values[1]);
}

int PedalTrace::restOfLastSeconds() const {
  int rest = 100;
  for (int i = 0; i < count_; ++i) rest = std::min<int>(rest, column(i)[TracePedal::Brake].low);
  return rest;
}

void PedalTrace::followBrake(int brake) {
  const auto capture = [this](int value) {
    if (applicationSamples_ % kSamplesPerTraceColumn == 0) {
      capture_.push_back(spanOf(percentOf(value)));
    } else {
      extend(capture_.back(), percentOf(value));
    }
    ++applicationSamples_;
    applicationPeak_ = std::max(applicationPeak_, value);
  };

  switch (brakeState_) {
    case BrakeState::Resting: {
      // The rest is where the brake sat lately, so a pedal that rests a little above 0 does not
      // count as braking all the time.
      const int rest = restOfLastSeconds();
      if (brake > rest + kBrakeRestMarginPercent) {
        brakeState_ = BrakeState::Applying;
        applicationRest_ = rest;
        applicationPeak_ = 0;
        applicationSamples_ = 0;
        capture_.clear();
        if (previousBrake_ >= 0) capture(previousBrake_);  // the shape starts at the rest
        capture(brake);
      }
      break;
    }
    case BrakeState::Applying:
      capture(brake);
      if (brake <= applicationRest_ + kBrakeRestMarginPercent) {
        finishApplication();
        brakeState_ = BrakeState::Resting;
      } else if (applicationSamples_ >= kApplicationSamplesMax) {
        // A release that never comes back to the rest (or a brake held for longer than the
        // view): what the view can show is held, and the next application waits until the
        // brake rests again, wherever that is now.
        finishApplication();
        brakeState_ = BrakeState::WaitingForRest;
      }
      break;
    case BrakeState::WaitingForRest:
      if (brake <= restOfLastSeconds() + kBrakeRestMarginPercent) brakeState_ = BrakeState::Resting;
      break;
  }
  previousBrake_ = brake;
}

void PedalTrace::finishApplication() {
  if (applicationPeak_ - applicationRest_ >= kBrakeApplicationMinimumPercent) held_.swap(capture_);
  capture_.clear();
}

}  // namespace tkb::monitor
