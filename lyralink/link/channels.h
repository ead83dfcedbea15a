/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The channels a transaction can run on: a byte port (serial port or
// direct USB), UDP and the Multiplex server. Each offers the same three
// steps (send, receive a short answer, receive a long answer); the frame
// checks and the retry loop above them are written once (transaction.h).
//
// Receive steps place the answer frame at offset 2 of the given buffer
// (the first two bytes take the datagram prefix on Ethernet) and report
// whether a frame is there for the checks, or that the attempt failed.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "lyralink/link/byte_port.h"
#include "lyralink/link/frames.h"
#include "lyralink/link/multiplex_client.h"
#include "lyralink/link/wire_log.h"
#include "platform/clock.h"
#include "platform/udp_socket.h"

namespace lyralink::platform {
class UdpSocket;
}  // namespace lyralink::platform

namespace lyralink::link {

using platform::TimePoint;

class TransactionChannel {
 public:
  virtual ~TransactionChannel() = default;
  // Sends the 12-byte command frame. expected_answer_length is 136 for a
  // short transaction and len + 14 for a long one.
  virtual void send(const CommandFrame& frame, size_t expected_answer_length) = 0;
  // True when a 136-byte frame lies at area + 2 for the checks; false ends
  // the attempt with status 3. area holds kAnswerAreaSize bytes.
  virtual bool receive_short(uint8_t* area, TimePoint deadline) = 0;
  // The size of the frame at buffer + 2 for the long checks, or nullopt when
  // the attempt already failed (status 3). buffer holds kLongBufferSize bytes.
  virtual std::optional<size_t> receive_long(uint8_t* buffer, size_t len, TimePoint deadline) = 0;

  // The wire log's record of the attempt in progress; null (the default)
  // while the log is off, and then the channel records nothing.
  void set_trace(AttemptTrace* trace) { trace_ = trace; }

 protected:
  // The moment a frame is about to go out, when the trace wants it.
  TimePoint trace_time() const { return trace_ != nullptr ? platform::Clock::now() : TimePoint{}; }
  void trace_sent(const uint8_t* bytes, size_t n, TimePoint when) {
    if (trace_ != nullptr) trace_->sent(bytes, n, when);
  }
  AttemptTrace* trace_ = nullptr;
};

// Serial port and direct USB: a byte port whose receive queue is waited on
// until the whole answer is queued, then read at once.
class PortChannel final : public TransactionChannel {
 public:
  explicit PortChannel(BytePort& port) : port_(port) {}
  void send(const CommandFrame& frame, size_t expected_answer_length) override;
  bool receive_short(uint8_t* area, TimePoint deadline) override;
  std::optional<size_t> receive_long(uint8_t* buffer, size_t len, TimePoint deadline) override;

 private:
  // read() as the receive steps use it: what was read goes to the trace.
  size_t take(uint8_t* buf, size_t n);
  // Drops what is queued; the wire log sees it.
  void discard_input();
  // Waits between two looks at a long answer that misses `missing` bytes
  // while `queued` are in the queue; the queue count afterwards.
  std::optional<size_t> pause_between_polls(size_t queued, size_t missing, TimePoint deadline);

  BytePort& port_;
};

class EthernetChannel final : public TransactionChannel {
 public:
  // drain_first: datagrams may be queued from an earlier attempt that gave
  // up (the last transaction failed); they are dropped before the send.
  EthernetChannel(platform::UdpSocket& socket, const char* device_address, uint16_t device_port, bool drain_first);
  void send(const CommandFrame& frame, size_t expected_answer_length) override;
  bool receive_short(uint8_t* area, TimePoint deadline) override;
  std::optional<size_t> receive_long(uint8_t* buffer, size_t len, TimePoint deadline) override;

 private:
  // The next datagram, waiting for it until the deadline; nullopt if none came.
  std::optional<platform::UdpSocket::RawDatagram> next_datagram(uint8_t* buffer, size_t capacity, TimePoint deadline);
  // A datagram from the device's address. The address is compared as the
  // exact dotted text the link was given: one written another way
  // ("127.000.000.001") matches no sender.
  bool from_device(const platform::UdpSocket::RawDatagram& d) const { return address_canonical_ && d.address == address_; }
  // Hands a datagram to the trace, naming its sender when it is not the device.
  void trace_datagram(const uint8_t* bytes, const platform::UdpSocket::RawDatagram& d);

  platform::UdpSocket& socket_;
  uint32_t address_ = 0;
  bool address_parsed_ = false;     // the frame can be sent
  bool address_canonical_ = false;  // and answers can match
  uint16_t port_;
  bool drain_;
};

class MultiplexChannel final : public TransactionChannel {
 public:
  MultiplexChannel(MultiplexClient& client, uint32_t answer_timeout)
      : client_(client), answer_timeout_(answer_timeout) {}
  void send(const CommandFrame& frame, size_t expected_answer_length) override;
  bool receive_short(uint8_t* area, TimePoint deadline) override;
  std::optional<size_t> receive_long(uint8_t* buffer, size_t len, TimePoint deadline) override;

 private:
  MultiplexClient& client_;
  uint32_t answer_timeout_;
};

}  // namespace lyralink::link
