// The profile snapshot's text decoder on any input: it never crashes, and what it accepts is
// exactly what encode() gives for the result (one snapshot, one text), which decodes again to
// the same snapshot.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/profile_snapshot.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto snapshot = tkb::ProfileSnapshot::decode(text);
  if (!snapshot) return 0;
  if (snapshot->encode() != text) std::abort();
  if (!(tkb::ProfileSnapshot::decode(snapshot->encode()) == snapshot)) std::abort();
  return 0;
}
