// Diagnostic trace lines. Every command, query and button branch prints its line to
// standard output exactly as written (newlines included); service staff read them and
// tests check them. Tests may point the lines at another stream.
#pragma once

#include <cstdio>

namespace tkb {

// printf-style; writes to the current sink (standard output unless redirected).
void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Redirects trace lines (nullptr restores standard output). Returns the previous sink.
std::FILE* setTraceSink(std::FILE* sink);

// Redirects the calling thread's trace lines only (nullptr: the thread follows the common
// sink again), e.g. while one command runs on it. Returns the thread's previous sink.
std::FILE* setThreadTraceSink(std::FILE* sink);

// Turns trace output off entirely (the benchmarks use it so printing is not measured).
void setTraceEnabled(bool enabled);

}  // namespace tkb
