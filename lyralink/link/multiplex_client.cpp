#include "lyralink/link/multiplex_client.h"

namespace lyralink::link {

// No Multiplex server support on this build yet: every attach is refused.
bool MultiplexClient::attach(const std::string& /*name*/) { return false; }

void MultiplexClient::detach() { attached_ = false; }

void MultiplexClient::send_request(const uint8_t*, size_t, size_t, uint32_t) {}

size_t MultiplexClient::receive_answer(uint8_t*, size_t) { return 0; }

}  // namespace lyralink::link
