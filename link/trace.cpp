#include "link/trace.h"

#include <atomic>
#include <cstdarg>

namespace tkb {
namespace {
std::atomic<std::FILE*> gSink{nullptr};
std::atomic<bool> gEnabled{true};
thread_local std::FILE* tThreadSink = nullptr;
}  // namespace

void trace(const char* format, ...) {
  if (!gEnabled.load(std::memory_order_relaxed)) return;
  std::FILE* sink = tThreadSink != nullptr ? tThreadSink : gSink.load(std::memory_order_relaxed);
  if (sink == nullptr) sink = stdout;
  va_list args;
  va_start(args, format);
  std::vfprintf(sink, format, args);
  va_end(args);
  std::fflush(sink);
}

std::FILE* setTraceSink(std::FILE* sink) { return gSink.exchange(sink); }

std::FILE* setThreadTraceSink(std::FILE* sink) {
  std::FILE* previous = tThreadSink;
  tThreadSink = sink;
  return previous;
}

void setTraceEnabled(bool enabled) { gEnabled.store(enabled); }

}  // namespace tkb
