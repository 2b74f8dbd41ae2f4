#include "app/brake_capture.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace tkb {
namespace {

constexpr int kReferenceFormat = 1;
constexpr int kReferenceStepMs = 10;
// Bounds of a stored reference: its first point's offset and its whole span.
constexpr int kReferenceMaxOffsetMs = 60'000;
constexpr int kReferenceMaxSpanMs = 600'000;

int tenths(float percent) { return static_cast<int>(std::lround(std::clamp(percent, 0.0f, 100.0f) * 10.0f)); }

// The value of the samples at time ms, linear between neighbours; `from` walks forward.
float valueAt(std::span<const BrakeSample> samples, double ms, std::size_t& from) {
  while (from + 1 < samples.size() && samples[from + 1].ms <= ms) ++from;
  if (from + 1 >= samples.size() || samples[from].ms >= ms) return samples[from].percent;
  const BrakeSample& a = samples[from];
  const BrakeSample& b = samples[from + 1];
  const double share = (ms - a.ms) / static_cast<double>(b.ms - a.ms);
  return static_cast<float>(a.percent + (b.percent - a.percent) * share);
}

}  // namespace

BrakeFigures brakeFigures(std::span<const BrakeSample> samples, bool returned) {
  BrakeFigures f;
  if (samples.empty()) return f;
  std::size_t peakAt = 0;
  for (std::size_t i = 0; i < samples.size(); ++i)
    if (samples[i].percent > samples[peakAt].percent) peakAt = i;
  f.peakPercent = samples[peakAt].percent;
  f.timeToPeakMs = std::max(0, samples[peakAt].ms);
  const float held = f.peakPercent * kHeldShareOfPeak;
  std::size_t lastHeld = peakAt;
  for (std::size_t i = 0; i + 1 < samples.size(); ++i) {
    if (samples[i].percent < held) continue;
    f.heldMs += samples[i + 1].ms - samples[i].ms;
    lastHeld = i;
  }
  if (returned) f.releaseMs = samples.back().ms - samples[lastHeld].ms;
  return f;
}

BrakeCapture::BrakeCapture() {
  current_.samples.reserve(kApplicationMaxSamples);
  last_.samples.reserve(kApplicationMaxSamples);
}

int32_t BrakeCapture::sinceStart(int64_t timeMs) const {
  const int64_t ms = timeMs - startedAt_;
  return static_cast<int32_t>(std::clamp<int64_t>(ms, std::numeric_limits<int32_t>::min() / 2,
                                                  std::numeric_limits<int32_t>::max() / 2));
}

void BrakeCapture::start(int64_t timeMs, float percent) {
  state_ = State::Applying;
  startedAt_ = leftAt_.value_or(timeMs);
  settleFrom_.reset();
  current_.samples.clear();
  current_.open = true;
  // The samples since the brake last rested (the resting one too, so that a view draws the
  // application from its foot), as far as the pre-roll reaches back.
  const int64_t from = lastAtRestAt_.value_or(startedAt_);
  for (int i = 0; i < preRollCount_; ++i) {
    const Timed& t = preRoll_[(preRollNext_ - preRollCount_ + i + kPreRoll) % kPreRoll];
    if (t.timeMs >= from) current_.samples.push_back({sinceStart(t.timeMs), t.percent});
  }
  current_.samples.push_back({sinceStart(timeMs), percent});
  current_.figures = brakeFigures(current_.samples, false);
}

bool BrakeCapture::end(std::size_t returnIndex, float lowerZone) {
  current_.samples.resize(returnIndex + 1);
  current_.figures = brakeFigures(current_.samples, true);
  current_.open = false;
  const bool keep = current_.figures.peakPercent > lowerZone + kApplicationRestAbovePercent;
  if (keep) {
    std::swap(last_, current_);  // both keep their reserved room
    ++kept_;
  }
  current_.samples.clear();
  current_.figures = {};
  return keep;
}

bool BrakeCapture::add(int64_t timeMs, float percent, int lowerZone) {
  const float lower = static_cast<float>(std::clamp(lowerZone, 0, 100));
  const bool back = percent <= lower + kApplicationReturnAbovePercent;
  const State before = state_;
  bool ended = false;
  switch (state_) {
    case State::Applying: {
      if (current_.samples.size() >= static_cast<std::size_t>(kApplicationMaxSamples)) {
        state_ = back ? State::Resting : State::TooLong;
        current_.samples.clear();
        current_.figures = {};
        break;
      }
      current_.samples.push_back({sinceStart(timeMs), percent});
      BrakeFigures& f = current_.figures;
      if (percent > f.peakPercent) {
        f.peakPercent = percent;
        f.timeToPeakMs = std::max(0, current_.samples.back().ms);
      }
      if (back) {
        ended = end(current_.samples.size() - 1, lower);
        state_ = State::Resting;
      } else if (percent <= lower + kApplicationRestAbovePercent) {
        if (!settleFrom_) settleFrom_ = current_.samples.size() - 1;
        if (current_.samples.back().ms - current_.samples[*settleFrom_].ms >= kApplicationSettleMs) {
          ended = end(*settleFrom_, lower);
          state_ = State::SettledAbove;
        }
      } else {
        settleFrom_.reset();
      }
      break;
    }
    case State::TooLong:
      if (back) state_ = State::Resting;
      break;
    case State::Resting:
    case State::SettledAbove: {
      if (back) state_ = State::Resting;
      // The level the brake rests at: its dead zone, or where the last release settled.
      const float rest = state_ == State::Resting ? lower : lower + kApplicationRestAbovePercent;
      if (percent <= rest) {
        leftAt_.reset();
        lastAtRestAt_ = timeMs;
      } else {
        if (!leftAt_) leftAt_ = timeMs;
        if (percent > rest + kApplicationStartAbovePercent) start(timeMs, percent);
      }
      break;
    }
  }
  if (before == State::Applying && state_ != State::Applying) {
    // Whatever follows starts from here: the brake is back, settled, or given up on.
    current_.open = false;
    leftAt_.reset();
    lastAtRestAt_ = timeMs;
  }
  preRoll_[preRollNext_] = {timeMs, percent};
  preRollNext_ = (preRollNext_ + 1) % kPreRoll;
  preRollCount_ = std::min(preRollCount_ + 1, kPreRoll);
  return ended;
}

// ---- The pinned reference ---------------------------------------------------------------

std::string encodeBrakeReference(const BrakeApplication& application) {
  const auto& s = application.samples;
  if (application.open || s.size() < 2) return {};
  const int64_t first = s.front().ms;
  const int64_t span = s.back().ms - first;
  if (span <= 0 || span > kReferenceMaxSpanMs || std::abs(first) > kReferenceMaxOffsetMs) return {};
  int64_t step = kReferenceStepMs;
  if (span / step + 1 > kBrakeReferenceMaxPoints) step = (span + kBrakeReferenceMaxPoints - 2) / (kBrakeReferenceMaxPoints - 1);
  const int64_t points = (span + step - 1) / step + 1;
  std::vector<int> values;
  values.reserve(static_cast<std::size_t>(points));
  std::size_t walk = 0;
  for (int64_t k = 0; k < points; ++k) {
    const double ms = static_cast<double>(std::min(first + k * step, first + span));
    values.push_back(tenths(valueAt(s, ms, walk)));
  }
  const BrakeFigures& f = application.figures;
  const int peak = std::max(tenths(f.peakPercent), *std::max_element(values.begin(), values.end()));
  std::string text = std::to_string(kReferenceFormat) + "," + std::to_string(first) + "," + std::to_string(step) +
                     "," + std::to_string(peak) + "," + std::to_string(f.timeToPeakMs) + "," +
                     std::to_string(f.heldMs) + "," + std::to_string(f.releaseMs);
  for (int v : values) text += "," + std::to_string(v);
  return text;
}

std::optional<BrakeApplication> decodeBrakeReference(std::string_view text) {
  if (text.empty() || text.size() > kBrakeReferenceMaxChars) return std::nullopt;
  std::vector<int> fields;
  fields.reserve(kBrakeReferenceMaxPoints + 8);
  const char* at = text.data();
  const char* end = text.data() + text.size();
  while (true) {
    int value = 0;
    const auto [next, error] = std::from_chars(at, end, value);
    if (error != std::errc() || next == at) return std::nullopt;
    fields.push_back(value);
    if (next == end) break;
    if (*next != ',') return std::nullopt;
    at = next + 1;
  }
  constexpr std::size_t kHead = 7;
  if (fields.size() < kHead + 2 || fields.size() > kHead + kBrakeReferenceMaxPoints) return std::nullopt;
  const int first = fields[1], step = fields[2], peak = fields[3];
  const int points = static_cast<int>(fields.size() - kHead);
  if (fields[0] != kReferenceFormat || std::abs(first) > kReferenceMaxOffsetMs || step < 1 ||
      static_cast<int64_t>(step) * (points - 1) > kReferenceMaxSpanMs || peak < 0 || peak > 1000)
    return std::nullopt;
  const int span = step * (points - 1);
  for (std::size_t i = 4; i < kHead; ++i)
    if (fields[i] < 0 || fields[i] > span + std::max(0, -first)) return std::nullopt;
  BrakeApplication application;
  application.samples.reserve(static_cast<std::size_t>(points));
  for (int k = 0; k < points; ++k) {
    const int value = fields[kHead + static_cast<std::size_t>(k)];
    if (value < 0 || value > peak) return std::nullopt;
    application.samples.push_back({first + k * step, static_cast<float>(value) / 10.0f});
  }
  application.figures = {static_cast<float>(peak) / 10.0f, fields[4], fields[5], fields[6]};
  return application;
}

}  // namespace tkb
