/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The four channels a transaction can run on. Each offers the same three
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

#include "lyralink/link/bridge_library.h"
#include "lyralink/link/frames.h"
#include "lyralink/link/multiplex_client.h"
#include "lyralink/link/wire_log.h"
#include "platform/clock.h"
#include "platform/udp_socket.h"

namespace lyralink::platform {
class SerialPort;
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

// Serial port and direct USB: a device with an input queue that is polled
// for its byte count and read once the whole answer is queued.
class QueueChannel : public TransactionChannel {
 public:
  bool receive_short(uint8_t* area, TimePoint deadline) override;
  std::optional<size_t> receive_long(uint8_t* buffer, size_t len, TimePoint deadline) override;

 protected:
  // Waits until at least `want` bytes are queued, the deadline passes or the
  // query fails; the queue count, nullopt on failure.
  virtual std::optional<size_t> wait_for_bytes(size_t want, TimePoint deadline) = 0;
  // Sleeps between two polls of a long answer that still misses bytes.
  virtual void pause_between_polls(size_t missing, TimePoint deadline) = 0;
  virtual std::optional<size_t> bytes_waiting() = 0;
  virtual size_t read(uint8_t* buf, size_t n) = 0;
  virtual void after_read() {}
  // read() as the receive steps use it: what was read goes to the trace.
  size_t take(uint8_t* buf, size_t n) {
    const size_t got = read(buf, n);
    if (trace_ != nullptr) trace_->stream_received(buf, got);
    return got;
  }
  // Reads and drops what is queued, in pieces of at most `piece` bytes,
  // until the queue is empty, the query fails or a bound is reached.
  void discard_input(size_t piece);
};

class SerialChannel final : public QueueChannel {
 public:
  // baud: the line rate, for how long the rest of a long answer can take.
  SerialChannel(platform::SerialPort& port, uint32_t baud) : port_(port), baud_(baud) {}
  void send(const CommandFrame& frame, size_t expected_answer_length) override;

 protected:
  std::optional<size_t> wait_for_bytes(size_t want, TimePoint deadline) override;
  void pause_between_polls(size_t missing, TimePoint deadline) override;
  std::optional<size_t> bytes_waiting() override;
  size_t read(uint8_t* buf, size_t n) override;
  void after_read() override;

 private:
  platform::SerialPort& port_;
  uint32_t baud_;
};

class UsbChannel final : public QueueChannel {
 public:
  UsbChannel(const BridgeFunctions& fn, FT_HANDLE handle, uint32_t baud) : fn_(fn), handle_(handle), baud_(baud) {}
  void send(const CommandFrame& frame, size_t expected_answer_length) override;

 protected:
  std::optional<size_t> wait_for_bytes(size_t want, TimePoint deadline) override;
  void pause_between_polls(size_t missing, TimePoint deadline) override;
  std::optional<size_t> bytes_waiting() override;
  size_t read(uint8_t* buf, size_t n) override;

 private:
  const BridgeFunctions& fn_;
  FT_HANDLE handle_;
  uint32_t baud_;
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

// Time to carry n bytes at `baud` (10 bits a byte on an 8N1 line), in
// microseconds; a nominal rate is assumed when baud is 0.
uint32_t wire_time_us(size_t n, uint32_t baud);

}  // namespace lyralink::link
