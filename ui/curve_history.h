// The CUSTOM page's undo and redo over its curve edits: each finished edit (a drag, a key,
// a typed value, DEFAULT) is one step holding the pedal's curve before and after it. The
// page keeps one history for the whole run, so closing and reopening the page keeps it.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <vector>

#include "link/controller_state.h"
#include "link/settings.h"

namespace tkb::ui {

class CurveHistory {
 public:
  struct Restore {
    Pedal pedal;
    Curve curve;
  };
  // The oldest steps are forgotten beyond this many.
  static constexpr size_t kMaxSteps = 200;

  // A finished edit; one that changed nothing is not a step. A new step ends what could
  // be redone.
  void record(Pedal pedal, const Curve& before, const Curve& after);
  // The curve to put back, none when there is nothing to undo (or redo).
  std::optional<Restore> undo();
  std::optional<Restore> redo();
  size_t undoCount() const { return done_.size(); }
  size_t redoCount() const { return undone_.size(); }

 private:
  struct Step {
    Pedal pedal;
    Curve before, after;
  };
  std::deque<Step> done_;
  std::vector<Step> undone_;
};

}  // namespace tkb::ui
