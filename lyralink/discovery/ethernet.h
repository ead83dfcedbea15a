/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Ethernet discovery: the two ways of sending the 740 probe (broadcast to
// every local network, directed to the special IP and the remembered
// addresses), the receive windows that collect the identity answers, and
// the Ethernet-only searches COMM_INIT_ETHERNET and
// COMM_INIT_ETHERNET_TREBLA.
//
// Every datagram goes through the link state's one UDP socket. The windows
// wait on the socket in the system's wait; nothing spins while they are open.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "lyralink/link/link_state.h"
#include "platform/clock.h"
#include "platform/udp_socket.h"

namespace lyralink::discovery {

using platform::TimePoint;

constexpr uint32_t kReceiveWindowMs = 1000;
constexpr uint32_t kWindowExtensionMs = 500;
constexpr uint32_t kHeadListenMs = 1000;
constexpr size_t kPeekBufferSize = 1476;
constexpr size_t kIdentityDatagramSize = 138;  // 2-byte prefix + identity answer

// Sends the 740 probe to the directed broadcast address of every local
// network whose mask is known (and the link-local range). The targets are
// returned, for tests and tools.
std::vector<std::string> broadcast_probe(link::LinkState& s);

// Sends the 740 probe to the special IP and to every remembered address,
// leaving out the host's own addresses and 0.0.0.0 (directed_targets).
// Returns the targets.
std::vector<std::string> directed_probe(link::LinkState& s, const std::string& special_ip);

// What a receive window needs of the socket; tests put a scripted one in.
class DatagramPort {
 public:
  virtual ~DatagramPort() = default;
  virtual TimePoint now() = 0;
  // Blocks until a datagram is queued or the deadline passes.
  virtual bool wait_readable(TimePoint deadline) = 0;
  virtual std::optional<platform::Datagram> peek(uint8_t* buf, size_t capacity) = 0;
  virtual std::optional<platform::Datagram> receive(uint8_t* buf, size_t capacity) = 0;
  // The kind of the socket's pending error, cleared by reading it.
  virtual platform::ErrorKind take_pending_error() = 0;
  // Closes the socket and makes it again on its local port, with its options.
  virtual void recreate() = 0;
  virtual void sleep_until(TimePoint deadline) = 0;
};

// The link state's socket.
class LinkSocketPort final : public DatagramPort {
 public:
  explicit LinkSocketPort(link::LinkState& s) : s_(s) {}
  TimePoint now() override;
  bool wait_readable(TimePoint deadline) override;
  std::optional<platform::Datagram> peek(uint8_t* buf, size_t capacity) override;
  std::optional<platform::Datagram> receive(uint8_t* buf, size_t capacity) override;
  platform::ErrorKind take_pending_error() override;
  void recreate() override;
  void sleep_until(TimePoint deadline) override;

 private:
  link::LinkState& s_;
};

struct WindowRules {
  uint16_t device_port = link::kDeviceUdpPort;
  // Re-create the socket when the window closed with nothing waiting and the
  // socket reported a refused earlier datagram (connection_refused).
  bool recreate_on_refused = false;
};

// One receive window of 1000 ms: every 138-byte datagram from the devices'
// port whose 136 bytes behind the prefix are a valid identity answer to the
// 740 probe is handed to on_answer(frame, sender address); every other
// datagram is taken and dropped. After each datagram the window is extended
// to 500 ms from then if less remains.
void receive_window(DatagramPort& port, const WindowRules& rules,
                    const std::function<void(const uint8_t* frame, const std::string& sender)>& on_answer);

// Listens 1000 ms for the head identity answer of `address` (the query was
// sent just before): datagrams of other senders are dropped, one from the
// address is left waiting until the time is up. The head's serial number
// when the waiting datagram is a head identity answer from the address and
// the devices' port; nullopt otherwise.
std::optional<uint32_t> listen_for_head(DatagramPort& port, const std::string& address, uint16_t device_port);

// The exported searches. 1 when an Ethernet link is open afterwards, else 0.
int16_t comm_init_ethernet(link::LinkState& s, int32_t serial, int32_t timeout, int32_t retries, void* owner);
int16_t comm_init_ethernet_trebla(link::LinkState& s, int32_t serial, int32_t timeout, int32_t retries, void* owner);

}  // namespace lyralink::discovery
