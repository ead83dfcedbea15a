// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/link/channels.h"
#include "platform/udp_socket.h"

namespace lyralink::link {

namespace {
constexpr size_t kShortDatagram = kShortFrameSize + kDatagramPrefix;  // 138
}

EthernetChannel::EthernetChannel(platform::UdpSocket& socket, const char* device_address, uint16_t device_port,
                                 bool drain_first)
    : socket_(socket), port_(device_port), drain_(drain_first) {
  // Parsed once per transaction, not per datagram; the address counts only
  // in the form a sender's address is written (no leading zeros).
  const std::string text = device_address;
  uint32_t parsed = 0;
  address_parsed_ = platform::parse_ipv4(text, parsed);
  address_canonical_ = address_parsed_ && platform::format_ipv4(parsed) == text;
  address_ = parsed;
}

void EthernetChannel::send(const CommandFrame& frame, size_t /*expected_answer_length*/) {
  // Late answers of an earlier attempt still queued would otherwise be taken
  // for the answer to this one. They can only be there after an attempt
  // that gave up: the first send of a transaction after a good one skips
  // the look, every later send of the same transaction makes it.
  if (drain_) {
    uint8_t scratch[kLongBufferSize];
    while (auto d = socket_.receive_raw(scratch, sizeof scratch)) trace_datagram(scratch, *d);
  }
  drain_ = true;
  if (address_parsed_) {
    const TimePoint when = trace_time();
    (void)socket_.send_to(frame.data(), kCommandFrameSize, address_, port_);
    trace_sent(frame.data(), kCommandFrameSize, when);
  }
}

std::optional<platform::UdpSocket::RawDatagram> EthernetChannel::next_datagram(uint8_t* buffer, size_t capacity,
                                                                              TimePoint deadline) {
  // Wait first: right after the send the answer is never there yet, and
  // poll() returns at once when it is.
  for (;;) {
    if (!socket_.wait_readable(deadline)) return std::nullopt;
    if (auto d = socket_.receive_raw(buffer, capacity)) {
      trace_datagram(buffer, *d);
      return d;
    }
    if (platform::Clock::now() >= deadline) return std::nullopt;
  }
}

bool EthernetChannel::receive_short(uint8_t* area, TimePoint deadline) {
  size_t size = 0;
  uint16_t sender_port = 0;
  for (;;) {
    size = 0;
    sender_port = 0;
    auto d = next_datagram(area, kAnswerAreaSize, deadline);
    if (d) {
      size = d->size;
      sender_port = d->port;
      if (!from_device(*d)) size = 0;
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
    auto d = next_datagram(buffer, kLongBufferSize, deadline);
    if (d && from_device(*d)) size = d->size;
    if (size == wanted || size == kShortDatagram || platform::Clock::now() >= deadline) break;
  }
  // A datagram larger than the buffer was cut; its size no longer matches
  // any frame the checks accept, and they never read past the buffer.
  return size > kDatagramPrefix ? size - kDatagramPrefix : 0;
}

void EthernetChannel::trace_datagram(const uint8_t* bytes, const platform::UdpSocket::RawDatagram& d) {
  if (trace_ == nullptr) return;
  std::string note;
  if (!from_device(d) || d.port != port_) note = "from=" + platform::format_ipv4(d.address) + ":" + std::to_string(d.port);
  trace_->frame_received(bytes, d.copied, d.size, std::move(note));
}

void MultiplexChannel::send(const CommandFrame& frame, size_t expected_answer_length) {
  const TimePoint when = trace_time();
  client_.send_request(frame.data(), kCommandFrameSize, expected_answer_length,
                       multiplex_time_limit(expected_answer_length, answer_timeout_));
  trace_sent(frame.data(), kCommandFrameSize, when);
}

bool MultiplexChannel::receive_short(uint8_t* area, TimePoint /*deadline*/) {
  const size_t got = client_.receive_answer(area + kDatagramPrefix, kAnswerAreaSize - kDatagramPrefix);
  if (trace_ != nullptr && got > 0) trace_->frame_received(area + kDatagramPrefix, got, got);
  return true;  // whatever the server left is judged by the checks
}

std::optional<size_t> MultiplexChannel::receive_long(uint8_t* buffer, size_t /*len*/, TimePoint /*deadline*/) {
  const size_t got = client_.receive_answer(buffer + kDatagramPrefix, kLongBufferSize - kDatagramPrefix);
  if (trace_ != nullptr && got > 0) trace_->frame_received(buffer + kDatagramPrefix, got, got);
  return got;
}

}  // namespace lyralink::link
