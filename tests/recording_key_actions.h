// The page actions of the key hook, recorded as text in the order they were asked for.
#pragma once

#include <string>
#include <vector>

#include "app/key_hook.h"

namespace tkb::test {

class RecordingActions : public KeyActions {
 public:
  bool pagesBuilt() const override { return built; }
  bool customPageOpen() const override { return customOpen; }
  void autocal() override { calls.push_back("autocal"); }
  void proBrakeUpperStep(int delta) override { calls.push_back("pro brake upper " + std::to_string(delta)); }
  void customBrakeUpperStep(int delta) override { calls.push_back("custom brake upper " + std::to_string(delta)); }
  void customBrakeStopStep(int delta) override { calls.push_back("custom brake stop " + std::to_string(delta)); }
  void setAutoBrakeLed(bool customPage, int brightness) override {
    calls.push_back(std::string(customPage ? "custom" : "pro") + " led " + std::to_string(brightness));
  }
  bool built = true;
  bool customOpen = false;
  std::vector<std::string> calls;
};

}  // namespace tkb::test
