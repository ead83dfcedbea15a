/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The link state: one connection to one analyser. The exports use one
// process-wide instance (link_state()); the search and tools may make
// others.
//
// Which channel is open is one field of a closed set (none, serial port,
// direct USB, Ethernet, Multiplex), and only opening, adopting (from the
// device search) and closing change it (link.h). A serial or USB link owns
// its byte port; the UDP socket outlives Ethernet links (it is the search's
// socket too) and is kept beside the channel.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "lyralink/link/bridge_library.h"
#include "lyralink/link/frames.h"
#include "lyralink/link/multiplex_client.h"
#include "lyralink/link/serial_byte_port.h"
#include "lyralink/link/usb_byte_port.h"
#include "platform/machine_lock.h"
#include "platform/udp_socket.h"

namespace lyralink::link {

// Port identifier values.
constexpr uint16_t kPortIdNone = 0xFFFF;
constexpr uint16_t kPortIdMultiplex = 0xFFFE;
constexpr uint16_t kPortIdEthernet = 0;
constexpr uint16_t kPortIdUsbVariant2 = 0x0101;
constexpr uint16_t kPortIdUsbOther = 0x0102;

constexpr uint32_t kMinAnswerTimeoutMs = 850;
constexpr uint16_t kDeviceUdpPort = 50000;
constexpr size_t kMaxPortNameLength = 7;
constexpr size_t kMaxDeviceAddressLength = 15;

// In the order of the alternatives of OpenChannel.
enum class Channel : uint8_t { none, serial, usb, ethernet, multiplex };

// A port opened by someone else (the device search) that a link can adopt.
using OwnedPort = std::variant<std::unique_ptr<SerialBytePort>, std::unique_ptr<UsbBytePort>>;
BytePort* port_of(const OwnedPort& port);

// The parameters of the link, as GET_COMM_PARAM and the reopen of a
// bridge port read them.
struct LinkParameters {
  char device_address[kMaxDeviceAddressLength + 1] = {};
  char port_name[kMaxPortNameLength + 1] = {};
  uint16_t port_id = 0;
  uint32_t baud_rate = 0;
  uint16_t lock_requested = 0;
  uint32_t answer_timeout = 0;  // ms
  uint32_t retry_count = 0;     // attempts per transaction
};

class LinkState {
 public:
  LinkState();
  ~LinkState();
  LinkState(const LinkState&) = delete;
  LinkState& operator=(const LinkState&) = delete;

  Channel channel() const { return static_cast<Channel>(open_.index()); }
  bool link_open() const { return channel() != Channel::none; }

  // The byte port of a serial or direct USB link; null on any other.
  BytePort* byte_port() const;
  SerialBytePort* serial_port() const;
  UsbBytePort* usb_port() const;

  const LinkParameters& parameters() const { return params_; }
  const char* port_name() const { return params_.port_name; }
  const char* device_address() const { return params_.device_address; }
  uint16_t port_id() const { return params_.port_id; }
  uint32_t baud_rate() const { return params_.baud_rate; }
  uint16_t lock_requested() const { return params_.lock_requested; }
  uint32_t answer_timeout() const { return params_.answer_timeout; }
  uint32_t retry_count() const { return params_.retry_count; }

  // Answer timeout (at least 850 ms) and retry count (at least 1).
  void set_timing(int32_t timeout, int32_t retries);
  void set_answer_timeout(int32_t timeout);
  // The rate the baud adjustment moved the link's port to.
  void set_baud_rate(uint32_t baud) { params_.baud_rate = baud; }

  // The transaction lock of a link opened with one; null otherwise.
  platform::MachineLock* transaction_lock() const { return transaction_lock_.get(); }

  // The UDP socket (null until made, and after terminate_ethernet).
  platform::UdpSocket* udp_socket() const { return udp_socket_.get(); }
  // UDP port of the devices (50000; LYRALINK_UDP_PORT for tests).
  uint16_t device_udp_port() const { return device_udp_port_; }

  BridgeLibrary& usb_library() { return usb_library_; }
  MultiplexClient& multiplex() { return multiplex_; }
  const MultiplexClient& multiplex() const { return multiplex_; }

  // False after a transaction that ended well: no answer of it can still
  // be on its way, so the next Ethernet send need not look for one.
  bool answer_may_be_late() const { return answer_may_be_late_; }
  void set_answer_may_be_late(bool late) { answer_may_be_late_ = late; }

  CommandFrame command;
  // Bytes 0-1: datagram prefix; bytes 2-137: the last short answer frame.
  std::array<uint8_t, kAnswerAreaSize> answer_area{};

  uint8_t* short_frame() { return answer_area.data() + kDatagramPrefix; }
  // Answer data offset 0 is frame offset 2, area offset 4.
  const uint8_t* answer_data() const { return answer_area.data() + kDatagramPrefix + 2; }
  uint8_t* answer_data() { return answer_area.data() + kDatagramPrefix + 2; }

 private:
  // The opening and closing functions of link.h are the only ones that
  // change the channel and its parameters.
  friend int16_t open_port(LinkState&, const char*, int32_t, int32_t, int32_t, uint16_t);
  friend int16_t open_ethernet(LinkState&, const char*, int32_t, int32_t);
  friend void close_link(LinkState&);
  friend void terminate_ethernet(LinkState&);
  friend bool prepare_udp_socket(LinkState&);
  friend void adopt_ethernet(LinkState&, const std::string&);
  friend void adopt_port(LinkState&, OwnedPort, const std::string&, uint16_t);
  friend void release_at_unload(LinkState&);

  struct NoLink {};
  struct SerialLink {
    std::unique_ptr<SerialBytePort> port;
  };
  struct UsbLink {
    std::unique_ptr<UsbBytePort> port;
  };
  struct EthernetLink {};
  struct MultiplexLink {};
  using OpenChannel = std::variant<NoLink, SerialLink, UsbLink, EthernetLink, MultiplexLink>;

  OpenChannel open_;
  LinkParameters params_;
  std::unique_ptr<platform::MachineLock> transaction_lock_;
  std::unique_ptr<platform::UdpSocket> udp_socket_;
  uint16_t device_udp_port_ = kDeviceUdpPort;
  // Declared before the open channel would be wrong: a USB port closes
  // through the library, so the library must outlive it. Members are
  // destroyed in reverse order; the channel is reset in the destructor.
  BridgeLibrary usb_library_;
  MultiplexClient multiplex_;
  bool answer_may_be_late_ = true;
};

// The process-wide instance, created when the library is loaded.
LinkState& link_state();

}  // namespace lyralink::link
