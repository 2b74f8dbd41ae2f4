// Datagrams that reach the monitor: exactly 20 bytes decode, and decode exactly (encoding the
// result gives the same bytes back); the pedal update of any of them is well defined.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "link/monitor_datagram.h"

using namespace tkb::monitor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto datagram = decodeDatagram(data, size);
  if (datagram.has_value() != (size == kDatagramBytes)) std::abort();
  if (!datagram) return 0;
  if (std::memcmp(encodeDatagram(*datagram).data(), data, size) != 0) std::abort();
  if (const auto update = pedalUpdateOf(*datagram)) {
    if (datagram->message != kPedalUpdateMessage) std::abort();
    const auto again = pedalUpdateOf(pedalUpdateDatagram(*update));
    if (!again || again->mode != update->mode || again->cutNumber != update->cutNumber ||
        again->clutch != update->clutch)
      std::abort();
  }
  return 0;
}
