#include "ui/curve_history.h"

namespace tkb::ui {

void CurveHistory::record(Pedal pedal, const Curve& before, const Curve& after) {
  if (before == after) return;
  done_.push_back({pedal, before, after});
  if (done_.size() > kMaxSteps) done_.pop_front();
  undone_.clear();
}

std::optional<CurveHistory::Restore> CurveHistory::undo() {
  if (done_.empty()) return std::nullopt;
  const Step step = done_.back();
  done_.pop_back();
  undone_.push_back(step);
  return Restore{step.pedal, step.before};
}

std::optional<CurveHistory::Restore> CurveHistory::redo() {
  if (undone_.empty()) return std::nullopt;
  const Step step = undone_.back();
  undone_.pop_back();
  done_.push_back(step);
  return Restore{step.pedal, step.after};
}

}  // namespace tkb::ui
