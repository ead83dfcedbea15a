#include "lyralink/link/channels.h"
#include "platform/udp_socket.h"

namespace lyralink::link {

namespace {
constexpr size_t kShortDatagram = kShortFrameSize + kDatagramPrefix;  // 138
}

void EthernetChannel::send(const CommandFrame& frame, size_t /*expected_answer_length*/) {
  // Late answers of an earlier attempt still queued would otherwise be taken
  // for the answer to this one.
  uint8_t scratch[kLongBufferSize];
  while (socket_.receive(scratch, sizeof scratch)) {
  }
  (void)socket_.send_to(frame.data(), kCommandFrameSize, address_, port_);
}

std::optional<platform::Datagram> EthernetChannel::next_datagram(uint8_t* buffer, size_t capacity,
                                                                TimePoint deadline) {
  // Wait first: right after the send the answer is never there yet, and
  // poll() returns at once when it is.
  for (;;) {
    if (!socket_.wait_readable(deadline)) return std::nullopt;
    if (auto d = socket_.receive(buffer, capacity)) return d;
    if (platform::Clock::now() >= deadline) return std::nullopt;
  }
}

bool EthernetChannel::receive_short(uint8_t* area, TimePoint deadline) {
  size_t size = 0;
  uint16_t sender_port = 0;
  for (;;) {
    size = 0;
    sender_port = 0;
    std::optional<platform::Datagram> d = next_datagram(area, kAnswerAreaSize, deadline);
    if (d) {
      size = d->size;
      sender_port = d->port;
      // Exact string comparison: an address written differently (leading
      // zeros) never matches.
      if (d->address != address_) size = 0;
    }
    if (size == kShortDatagram || sender_port == port_ || platform::Clock::now() >= deadline) break;
  }
  return size == kShortDatagram && sender_port == port_;
}

std::optional<size_t> EthernetChannel::receive_long(uint8_t* buffer, size_t len, TimePoint deadline) {
  const size_t wanted = len + kLongFrameOverhead + kDatagramPrefix;
  size_t size = 0;
  for (;;) {
    size = 0;
    std::optional<platform::Datagram> d = next_datagram(buffer, kLongBufferSize, deadline);
    if (d && d->address == address_) size = d->size;
    if (size == wanted || size == kShortDatagram || platform::Clock::now() >= deadline) break;
  }
  // A datagram larger than the buffer was cut; its size no longer matches
  // any frame the checks accept, and they never read past the buffer.
  return size > kDatagramPrefix ? size - kDatagramPrefix : 0;
}

void MultiplexChannel::send(const CommandFrame& frame, size_t expected_answer_length) {
  client_.send_request(frame.data(), kCommandFrameSize, expected_answer_length,
                       multiplex_time_limit(expected_answer_length, answer_timeout_));
}

bool MultiplexChannel::receive_short(uint8_t* area, TimePoint /*deadline*/) {
  (void)client_.receive_answer(area + kDatagramPrefix, kAnswerAreaSize - kDatagramPrefix);
  return true;  // whatever the server left is judged by the checks
}

std::optional<size_t> MultiplexChannel::receive_long(uint8_t* buffer, size_t /*len*/, TimePoint /*deadline*/) {
  return client_.receive_answer(buffer + kDatagramPrefix, kLongBufferSize - kDatagramPrefix);
}

}  // namespace lyralink::link
