// The joystick side: the same bytes as an input report of the pedals and as a HID report
// descriptor, as they come from /dev/hidraw and from sysfs.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "link/pedal_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  const auto axes = tkb::decodePedalReport(bytes);
  if (axes.has_value() != (size >= static_cast<size_t>(tkb::kPedalReportBytes))) std::abort();
  if (axes && axes->axis1 != static_cast<int16_t>(data[1] | data[2] << 8)) std::abort();
  if (const auto length = tkb::inputReportLength(bytes)) {
    if (*length <= 0) std::abort();
  }
  return 0;
}
