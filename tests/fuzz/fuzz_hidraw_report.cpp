// The joystick side: the same bytes as an input report of the pedals and as a HID report
// descriptor, as they come from /dev/hidraw and from sysfs.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "link/pedal_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  using Kind = tkb::PedalReport::Kind;
  // Without a descriptor: an id byte, any id, exactly the fixed length.
  const tkb::PedalReport report = tkb::decodePedalReport(bytes);
  if ((report.kind == Kind::Axes) != (size == static_cast<size_t>(tkb::kPedalReportBytes)))
    std::abort();
  if (report.kind == Kind::Axes && report.axes.axis1 != static_cast<int16_t>(data[1] | data[2] << 8))
    std::abort();
  if (const auto layout = tkb::pedalReportLayout(bytes)) {
    const int idByte = layout->hasReportIds ? 1 : 0;
    if (layout->length < 8 + idByte || layout->longest < layout->length) std::abort();
    if (layout->hasReportIds != layout->axesReportId.has_value()) std::abort();
    // The same bytes as a report under the layout they declare.
    const tkb::PedalReport asReport = tkb::decodePedalReport(bytes, *layout);
    if (asReport.kind == Kind::Axes && size != static_cast<size_t>(layout->length)) std::abort();
  }
  return 0;
}
