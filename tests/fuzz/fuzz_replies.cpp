// Controller replies. The first byte picks the query by its request code (any other value
// picks one by index), the rest is what arrived. A reply is decoded only when it passes its
// frame check at the query's length and every value lies in its field's range; otherwise it
// leaves the state exactly as it was.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "link/protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const auto queries = tkb::allQueries();
  const tkb::QuerySpec* spec = &queries[data[0] % queries.size()];
  for (const tkb::QuerySpec& candidate : queries)
    if (candidate.request == data[0]) spec = &candidate;
  const std::span<const uint8_t> reply(data + 1, size - 1);

  tkb::ControllerState state;
  state.language = "English";
  state.brakeMax = 1234;
  state.cheto = 77;
  const tkb::ControllerState before = state;
  const bool applied = tkb::applyReply(spec->query, reply, state);
  const bool wellFormed = reply.size() == static_cast<size_t>(spec->replyBytes) && tkb::replyFramed(reply);
  if (applied && !wellFormed) std::abort();  // an unframed reply was decoded
  if (applied && !state.known.hasAll(tkb::fieldsOf(spec->query))) std::abort();
  if (!applied && !(state == before)) std::abort();  // a refused reply changed the state
  return 0;
}
