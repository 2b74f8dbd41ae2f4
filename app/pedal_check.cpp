#include "app/pedal_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/pedal_readout.h"

namespace tkb {
namespace {

const char* pedalName(int pedal) {
  static const char* const kNames[kPedalCount] = {"clutch", "brake", "throttle"};
  return kNames[pedal];
}

float shown(float percent) { return std::clamp(percent, 0.0f, 100.0f); }

// The three pedals' percents of one report, as the PRO bars compute them.
std::array<float, kPedalCount> pedalPercents(const PedalAxes& axes) {
  std::array<float, kPedalCount> v{};
  v[pedalIndex(Pedal::Clutch)] = shown(proPercent(axes.axis3));
  v[pedalIndex(Pedal::Brake)] = shown(proPercent(axes.axis2));
  v[pedalIndex(Pedal::Throttle)] = shown(proPercent(axes.axis1));
  return v;
}

template <typename... Args>
std::string format(const char* pattern, Args... args) {
  char text[256];
  std::snprintf(text, sizeof text, pattern, args...);
  return text;
}

PedalFinding judge(int pedal, const RestBand& rest, float top, bool pressed, bool letGo) {
  PedalFinding f;
  f.rest = rest;
  f.top = top;
  f.pressed = pressed;
  f.letGo = letGo;
  const bool brake = pedal == pedalIndex(Pedal::Brake);
  // A clutch that never moved may not be there at all: nothing is said of its zones.
  if (pedal == pedalIndex(Pedal::Clutch) && !pressed) return f;
  if (rest.spread() > kCheckRestSpreadLimitPercent) {
    f.lowerAdvice = PedalFinding::Lower::MovedAtRest;
  } else if (rest.max > kCheckRestCeilingPercent) {
    f.lowerAdvice = PedalFinding::Lower::TooHigh;
  } else {
    f.lowerAdvice = PedalFinding::Lower::Suggested;
    const float room = std::max(kCheckLowerMarginPercent, rest.spread() / 2);
    f.lower = std::clamp(static_cast<int>(std::ceil(rest.max + room)), 0, 100);
  }
  if (!pressed) return f;
  const int upper = top >= 100.0f ? 100 : std::max(0, static_cast<int>(std::floor(top - kCheckUpperMarginPercent)));
  f.upper = upper;
  if (brake) {
    f.upperAdvice = PedalFinding::Upper::BrakeLimit;
  } else if (upper < f.lower.value_or(static_cast<int>(std::ceil(rest.max))) + kCheckMinimumBand) {
    f.upperAdvice = PedalFinding::Upper::TooShort;
    f.upper.reset();
  } else {
    f.upperAdvice = PedalFinding::Upper::Suggested;
  }
  return f;
}

}  // namespace

PedalCheck::PedalCheck(int64_t startUs, bool hasClutch) : startUs_(startUs), hasClutch_(hasClutch) {}

int64_t PedalCheck::phaseEndsUs() const {
  switch (phase_) {
    case Phase::Rest: return startUs_ + kCheckRestUs;
    case Phase::Press: return pressStartUs_ + kCheckPressUs;
    case Phase::Done: break;
  }
  return lastUs_;
}

void PedalCheck::endRest() {
  if (timing_.reports == 0) {
    phase_ = Phase::Done;
    return;
  }
  if (gaps_ > 0) {
    const double span = static_cast<double>(lastUs_ - firstUs_);
    timing_.perSecond = span > 0 ? static_cast<double>(gaps_) * 1e6 / span : 0;
    timing_.jitterMs = std::sqrt(gapSquares_ / static_cast<double>(gaps_)) / 1000.0;
  }
  pressStartUs_ = startUs_ + kCheckRestUs;
  phase_ = Phase::Press;
}

PedalCheck::Phase PedalCheck::advance(int64_t nowUs) {
  if (phase_ == Phase::Rest && nowUs >= startUs_ + kCheckRestUs) endRest();
  if (phase_ == Phase::Press && nowUs >= pressStartUs_ + kCheckPressUs) phase_ = Phase::Done;
  return phase_;
}

void PedalCheck::finishPress() {
  if (phase_ == Phase::Press) phase_ = Phase::Done;
}

PedalCheck::Phase PedalCheck::add(int64_t timeUs, const PedalAxes& axes) {
  if (advance(timeUs) == Phase::Done) return phase_;
  const std::array<float, kPedalCount> v = pedalPercents(axes);
  if (phase_ == Phase::Rest) {
    if (timing_.reports == 0) {
      firstUs_ = timeUs;
      for (int p = 0; p < kPedalCount; ++p) rest_[p] = {v[p], v[p]};
    } else {
      const double gap = static_cast<double>(timeUs - lastUs_);
      timing_.longestGapMs = std::max(timing_.longestGapMs, gap / 1000.0);
      ++gaps_;
      const double delta = gap - meanGapUs_;
      meanGapUs_ += delta / static_cast<double>(gaps_);
      gapSquares_ += delta * (gap - meanGapUs_);
      for (int p = 0; p < kPedalCount; ++p) {
        rest_[p].min = std::min(rest_[p].min, v[p]);
        rest_[p].max = std::max(rest_[p].max, v[p]);
      }
    }
    ++timing_.reports;
    lastUs_ = timeUs;
    return phase_;
  }
  lastUs_ = timeUs;
  bool allDone = true;
  for (int p = 0; p < kPedalCount; ++p) {
    // The brake reaches as far as its force goes, beyond its limit: the brake total.
    const float reach = p == pedalIndex(Pedal::Brake) ? shown(brakeTotalPercent(axes.axis4)) : v[p];
    top_[p] = std::max(top_[p], reach);
    if (v[p] >= rest_[p].max + kCheckPressedAbovePercent) pressed_[p] = true;
    if (pressed_[p] && v[p] <= rest_[p].max + kCheckLetGoAbovePercent) letGo_[p] = true;
    if (p == pedalIndex(Pedal::Clutch) && !hasClutch_) continue;
    allDone = allDone && letGo_[p];
  }
  if (allDone) phase_ = Phase::Done;
  return phase_;
}

PedalCheckResult PedalCheck::result() const {
  PedalCheckResult r;
  r.timing = timing_;
  r.hasClutch = hasClutch_;
  if (timing_.reports == 0) return r;
  for (int p = 0; p < kPedalCount; ++p) {
    if (p == pedalIndex(Pedal::Clutch) && !hasClutch_) continue;
    r.pedals[p] = judge(p, rest_[p], top_[p], pressed_[p], letGo_[p]);
  }
  return r;
}

std::vector<std::pair<Field, int>> PedalCheckResult::zones() const {
  std::vector<std::pair<Field, int>> out;
  for (Pedal pedal : kPedals) {
    const PedalFinding& f = pedals[pedalIndex(pedal)];
    if (f.lower) out.emplace_back(zoneSetting(pedal, false).field, *f.lower);
    if (f.upper && f.upperAdvice == PedalFinding::Upper::Suggested) out.emplace_back(zoneSetting(pedal, true).field, *f.upper);
  }
  return out;
}

std::vector<std::string> PedalCheckResult::reasons() const {
  std::vector<std::string> out;
  if (timing.reports == 0) return out;
  for (int p = 0; p < kPedalCount; ++p) {
    if (p == pedalIndex(Pedal::Clutch) && !hasClutch) continue;
    const PedalFinding& f = pedals[p];
    const char* name = pedalName(p);
    if (p == pedalIndex(Pedal::Clutch) && !f.pressed) {
      out.push_back("clutch was not pressed (or there is none): its dead zones are left as they are");
      continue;
    }
    switch (f.lowerAdvice) {
      case PedalFinding::Lower::Suggested:
        out.push_back(format("%s rests between %.1f and %.1f %%: a lower dead zone of %d %% keeps the game at 0", name,
                             f.rest.min, f.rest.max, *f.lower));
        break;
      case PedalFinding::Lower::MovedAtRest:
        out.push_back(format("%s moved while it should rest (%.1f to %.1f %%): no lower dead zone suggested; check "
                             "again with your feet off", name, f.rest.min, f.rest.max));
        break;
      case PedalFinding::Lower::TooHigh:
        out.push_back(format("%s rests as high as %.1f %%: too high for a dead zone; calibrate the pedals again (PRO "
                             "page, CALIBRATE)", name, f.rest.max));
        break;
      case PedalFinding::Lower::NotPressed: break;
    }
    switch (f.upperAdvice) {
      case PedalFinding::Upper::Suggested:
        out.push_back(format("%s reaches %.1f %%: an upper dead zone of %d %% gives the game 100 at full travel", name,
                             f.top, *f.upper));
        break;
      case PedalFinding::Upper::NotPressed:
        out.push_back(format("%s was not pressed: its upper dead zone is left as it is", name));
        break;
      case PedalFinding::Upper::TooShort:
        out.push_back(format("%s reaches only %.1f %%: too little travel for an upper dead zone; calibrate the pedals "
                             "again (PRO page, CALIBRATE)", name, f.top));
        break;
      case PedalFinding::Upper::BrakeLimit:
        out.push_back(format("brake reaches %.1f %% of its force: its upper dead zone is the brake limit you chose "
                             "(MAX BRAKE PRESS), left as it is; at %d %% or less a full press gives the game 100",
                             f.top, *f.upper));
        break;
    }
  }
  return out;
}

}  // namespace tkb
