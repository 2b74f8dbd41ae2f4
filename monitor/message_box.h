// Where the monitor's few failure messages go. On a desktop they are message boxes; with the
// offscreen platform (tests, benchmarks) or when TKB_MONITOR_NO_MESSAGE_BOX is set they are
// printed to standard error, so that nothing waits for a click.
#pragma once

#include <string>

namespace tkb::monitor {

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void show(const std::string& text) = 0;
};

class StandardErrorMessages : public MessageSink {
 public:
  void show(const std::string& text) override;
};

// A modal message box, or standard error where no one could click it away.
class DesktopMessages : public MessageSink {
 public:
  void show(const std::string& text) override;
};

}  // namespace tkb::monitor
