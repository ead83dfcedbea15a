/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// An IPv4 datagram socket.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/clock.h"
#include "platform/handles.h"
#include "platform/system_error.h"

namespace lyralink::platform {

struct Datagram {
  size_t size = 0;            // bytes of the datagram (may exceed what was copied)
  size_t copied = 0;          // bytes placed into the caller's buffer
  std::string address;        // sender, dotted IPv4
  uint16_t port = 0;          // sender port
  std::string local_address;  // the address it was sent to (with packet info on)
};

class UdpSocket {
 public:
  // Binds a datagram socket to local_address:local_port (empty / 0: any).
  // The socket never blocks a call except where a call says it waits.
  // Returns null on failure, with the reason in *error (an unparsable
  // address: invalid_argument).
  static std::unique_ptr<UdpSocket> create(uint16_t local_port = 0,
                                           const std::string& local_address = {},
                                           SystemError* error = nullptr);
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  // Socket options; each never blocks and returns false when the system
  // refuses the option.
  bool set_broadcast(bool on);
  bool set_receive_buffer(int bytes);
  bool set_linger(bool on, int seconds);
  bool set_reuse_address(bool on);
  // Report the destination address of each datagram (Datagram::local_address)
  // and allow send_to() to choose the source address.
  bool enable_packet_info();

  // Sends one datagram to a dotted IPv4 address; false when the address does
  // not parse or the send fails. from_address (optional) picks the source.
  // Waits at most 1 s for room in a full send buffer.
  bool send_to(const void* data, size_t size, const std::string& address, uint16_t port,
               const std::string& from_address = {});

  // Blocks until a datagram is queued or the deadline passes. True when one
  // is queued. Sleeps in the system's wait; never spins. A socket error
  // (a refused earlier datagram) may end the wait early with false.
  bool wait_readable(TimePoint deadline);

  // The next queued datagram without taking it; nullopt when none is
  // queued. Never blocks.
  std::optional<Datagram> peek(void* buf, size_t capacity);

  // Takes the next queued datagram; never blocks; nullopt when none is queued.
  // At most `capacity` bytes are copied; Datagram::size tells the true size.
  std::optional<Datagram> receive(void* buf, size_t capacity);

  // The fast path of a device link, without the text forms of addresses:
  // one datagram to a host-order IPv4 address, and the next queued datagram
  // with its sender as a host-order address. Same results and waits as
  // send_to() and receive().
  struct RawDatagram {
    size_t size = 0;
    size_t copied = 0;
    uint32_t address = 0;
    uint16_t port = 0;
  };
  bool send_to(const void* data, size_t size, uint32_t address, uint16_t port);
  std::optional<RawDatagram> receive_raw(void* buf, size_t capacity);

  // The kind of the pending socket error (a refused earlier datagram shows
  // here as connection_refused), cleared by reading it. none when there is
  // none. Never blocks.
  ErrorKind take_pending_error();

  // The bound local port; 0 when it cannot be read. Never blocks.
  uint16_t local_port() const;

  // What to wait on with wait_readable() of event_wait.h.
  Waitable waitable() const;

  // Closes the socket and binds a new one to the same local port (and
  // address), with packet info again when it was on. False when the port
  // cannot be bound again; the object then stays usable but fails its calls.
  bool recreate();

 private:
  struct Impl;
  explicit UdpSocket(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// Parses a dotted IPv4 address strictly (four decimal parts 0-255).
bool parse_ipv4(const std::string& text, uint32_t& host_order);
std::string format_ipv4(uint32_t host_order);

}  // namespace lyralink::platform
