#include "link/trace.h"

#include <atomic>
#include <cstdarg>

namespace tkb {
namespace {
std::atomic<std::FILE*> gSink{nullptr};
std::atomic<bool> gEnabled{true};
}  // namespace

void trace(const char* format, ...) {
  if (!gEnabled.load(std::memory_order_relaxed)) return;
  std::FILE* sink = gSink.load(std::memory_order_relaxed);
  if (sink == nullptr) sink = stdout;
  va_list args;
  va_start(args, format);
  std::vfprintf(sink, format, args);
  va_end(args);
  std::fflush(sink);
}

std::FILE* setTraceSink(std::FILE* sink) { return gSink.exchange(sink); }

void setTraceEnabled(bool enabled) { gEnabled.store(enabled); }

}  // namespace tkb
