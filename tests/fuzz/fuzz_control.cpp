// Requests that reach the running program's control socket: the reader takes any byte
// stream without reading past what it was given, and a payload decodes only when it is
// exactly what the encoder makes of the result.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "app/control_channel.h"

using namespace tkb::control;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MessageReader reader(kMaxRequestBytes);
  reader.feed(data, size);
  if (reader.status() == MessageReader::Status::Complete && reader.payload().size() + 4 != size) std::abort();
  if (const auto request = decodeRequest(data, size)) {
    if (encodeRequest(*request) != std::vector<uint8_t>(data, data + size)) std::abort();
  }
  if (const auto reply = decodeReply(data, size)) {
    if (encodeReply(*reply) != std::vector<uint8_t>(data, data + size)) std::abort();
  }
  return 0;
}
