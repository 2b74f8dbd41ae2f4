// The pinned brake reference's config.ini value on any input: decoding never crashes, never
// gives more points than a reference holds, and what it accepts is kept again as a value
// that gives back the same figures.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/brake_capture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto reference = tkb::decodeBrakeReference(text);
  if (!reference) return 0;
  if (reference->samples.size() > static_cast<size_t>(tkb::kBrakeReferenceMaxPoints)) std::abort();
  const auto again = tkb::decodeBrakeReference(tkb::encodeBrakeReference(*reference));
  if (!again || !(again->figures == reference->figures)) std::abort();
  return 0;
}
