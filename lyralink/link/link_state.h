/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The link state: the one process-wide connection to one analyser.
//
// No link open means: no serial port, no USB handle, Multiplex flag 0 and
// Ethernet flag 0. At most one of the four channels is open at a time.
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "lyralink/link/bridge_library.h"
#include "lyralink/link/frames.h"
#include "lyralink/link/multiplex_client.h"
#include "platform/machine_lock.h"
#include "platform/serial_port.h"
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

enum class Channel : uint8_t { none, serial, usb, ethernet, multiplex };

struct LinkState {
  std::unique_ptr<platform::SerialPort> serial_port;  // also a bridge's virtual serial port
  FT_HANDLE usb_handle = nullptr;                     // direct USB through the bridge library
  int32_t multiplex_flag = 0;
  int32_t ethernet_flag = 0;
  std::unique_ptr<platform::UdpSocket> udp_socket;  // kept across Ethernet links
  char device_address[kMaxDeviceAddressLength + 1] = {};
  char port_name[kMaxPortNameLength + 1] = {};
  uint16_t port_id = 0;
  uint32_t baud_rate = 0;
  uint16_t lock_requested = 0;
  uint32_t answer_timeout = 0;  // ms
  uint32_t retry_count = 0;     // attempts per transaction
  std::unique_ptr<platform::MachineLock> transaction_lock;
  BridgeLibrary usb_library;
  MultiplexClient multiplex;

  CommandFrame command;
  // Bytes 0-1: datagram prefix; bytes 2-137: the last short answer frame.
  std::array<uint8_t, kAnswerAreaSize> answer_area{};

  // False after a transaction that ended well: no answer of it can still
  // be on its way, so the next Ethernet send need not look for one.
  bool answer_may_be_late = true;

  // UDP port of the devices (50000; LYRALINK_UDP_PORT for tests).
  uint16_t device_udp_port = kDeviceUdpPort;

  bool link_open() const { return channel() != Channel::none; }
  Channel channel() const;

  uint8_t* short_frame() { return answer_area.data() + kDatagramPrefix; }
  // Answer data offset 0 is frame offset 2, area offset 4.
  const uint8_t* answer_data() const { return answer_area.data() + kDatagramPrefix + 2; }
  uint8_t* answer_data() { return answer_area.data() + kDatagramPrefix + 2; }
};

// The process-wide instance, created when the library is loaded.
LinkState& link_state();

}  // namespace lyralink::link
