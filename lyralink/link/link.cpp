// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/link/link.h"

#include <cstring>

#include "lyralink/link/usb_serial.h"
#include "lyralink/link/wire_log.h"
#include "platform/environment.h"
#include "platform/port_names.h"

namespace lyralink::link {

namespace {

uint16_t configured_device_port() {
  // Tests move the devices off the fixed port; nothing else should.
  if (auto text = platform::environment_value("LYRALINK_UDP_PORT")) {
    char* end = nullptr;
    long v = std::strtol(text->c_str(), &end, 10);
    if (end != text->c_str() && *end == '\0' && v > 0 && v < 65536) return static_cast<uint16_t>(v);
  }
  return kDeviceUdpPort;
}

uint32_t at_least(int32_t value, uint32_t minimum) {
  return value < static_cast<int64_t>(minimum) ? minimum : static_cast<uint32_t>(value);
}

template <size_t N>
void store_text(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

// The decimal number after "COM" (0 if none), as far as digits go.
uint16_t com_port_number(const char* port) {
  uint32_t n = 0;
  for (const char* p = port + 3; *p >= '0' && *p <= '9'; ++p) {
    n = n * 10 + static_cast<uint32_t>(*p - '0');
    if (n > 0xFFFF) return 0;
  }
  return static_cast<uint16_t>(n);
}

}  // namespace

BytePort* port_of(const OwnedPort& port) {
  return std::visit([](const auto& p) -> BytePort* { return p.get(); }, port);
}

LinkState::LinkState() : device_udp_port_(configured_device_port()) {}

LinkState::~LinkState() {
  // A USB port closes through the bridge library: close it while the
  // library is still there.
  open_ = NoLink{};
}

BytePort* LinkState::byte_port() const {
  if (auto* serial = std::get_if<SerialLink>(&open_)) return serial->port.get();
  if (auto* usb = std::get_if<UsbLink>(&open_)) return usb->port.get();
  return nullptr;
}

SerialBytePort* LinkState::serial_port() const {
  auto* serial = std::get_if<SerialLink>(&open_);
  return serial != nullptr ? serial->port.get() : nullptr;
}

UsbBytePort* LinkState::usb_port() const {
  auto* usb = std::get_if<UsbLink>(&open_);
  return usb != nullptr ? usb->port.get() : nullptr;
}

void LinkState::set_timing(int32_t timeout, int32_t retries) {
  params_.answer_timeout = at_least(timeout, kMinAnswerTimeoutMs);
  params_.retry_count = at_least(retries, 1);
}

void LinkState::set_answer_timeout(int32_t timeout) { params_.answer_timeout = at_least(timeout, kMinAnswerTimeoutMs); }

LinkState& link_state() {
  static LinkState* state = new LinkState;  // lives until the library is unloaded
  return *state;
}

int16_t open_port(LinkState& s, const char* port, int32_t timeout, int32_t retries, int32_t baud, uint16_t lock) {
  if (s.link_open()) return 0;
  wire_log().refresh_from_environment();
  s.set_timing(timeout, retries);
  if (port == nullptr) return 0;
  if (std::strncmp(port, "COM", 3) != 0) {
    // Multiplex names are parsed by the client; bound what it may look at.
    if (strnlen(port, 64) >= 64 || !s.multiplex_.attach(port)) return 0;
    s.open_ = LinkState::MultiplexLink{};
    s.params_.port_id = kPortIdMultiplex;
    return 1;
  }
  // A longer name would be cut to seven characters and could then name
  // another port; it is refused instead.
  if (strnlen(port, kMaxPortNameLength + 1) > kMaxPortNameLength) return 0;

  store_text(s.params_.port_name, port);
  s.params_.baud_rate = static_cast<uint32_t>(baud);
  s.params_.lock_requested = lock;

  auto path = platform::resolve_serial_port(port);
  if (!path) return 0;
  auto serial = SerialBytePort::open_for_link(*path, port, static_cast<uint32_t>(baud));
  if (!serial) return 0;

  if (lock != 0) s.transaction_lock_ = platform::MachineLock::open("COMM_SYNCHRONISATION");
  s.open_ = LinkState::SerialLink{std::move(serial)};
  s.params_.port_id = com_port_number(port);
  return 1;
}

bool prepare_udp_socket(LinkState& s) {
  if (s.udp_socket_) return true;
  s.udp_socket_ = platform::UdpSocket::create();
  if (!s.udp_socket_) return false;
  apply_udp_socket_options(*s.udp_socket_);
  return true;
}

void apply_udp_socket_options(platform::UdpSocket& socket) {
  socket.set_broadcast(true);
  socket.set_receive_buffer(262144);
  socket.set_linger(true, 5);
}

int16_t open_ethernet(LinkState& s, const char* address, int32_t timeout, int32_t retries) {
  if (address == nullptr) return 0;
  if (strnlen(address, kMaxDeviceAddressLength + 1) > kMaxDeviceAddressLength) return 0;
  if (s.link_open()) return 0;
  wire_log().refresh_from_environment();
  if (!prepare_udp_socket(s)) return 0;
  store_text(s.params_.device_address, address);
  s.set_timing(timeout, retries);
  s.open_ = LinkState::EthernetLink{};
  s.params_.port_id = kPortIdEthernet;
  return 1;
}

void close_link(LinkState& s) {
  s.transaction_lock_.reset();
  s.answer_may_be_late_ = true;  // the next link may find datagrams of this one
  // The socket and the address of an Ethernet link stay.
  if (s.channel() == Channel::multiplex) s.multiplex_.detach();
  s.open_ = LinkState::NoLink{};
  s.params_.port_id = kPortIdNone;
}

void terminate_ethernet(LinkState& s) {
  // Without this the Ethernet link would stay open with no socket under it.
  if (s.channel() == Channel::ethernet) close_link(s);
  s.udp_socket_.reset();
}

void release_at_unload(LinkState& s) {
  s.udp_socket_.reset();
  s.usb_library_.unload();
}

void set_answer_timeout(LinkState& s, int32_t timeout) { s.set_answer_timeout(timeout); }

void get_link_parameters(LinkState& s, uint8_t* record) {
  const uint16_t size = get_u16(record);
  const LinkParameters& p = s.parameters();
  if (size >= 4) put_u16(record + 2, p.port_id);
  if (size >= 8) put_u32(record + 4, p.baud_rate);
  if (size >= 12) {
    uint16_t number = 0;
    if (UsbBytePort* usb = s.usb_port()) number = static_cast<uint16_t>(usb->com_port_number().value_or(0));
    put_u16(record + 8, number);
  }
}

void adopt_ethernet(LinkState& s, const std::string& address) {
  wire_log().refresh_from_environment();
  store_text(s.params_.device_address, address);
  s.open_ = LinkState::EthernetLink{};
  s.params_.port_id = kPortIdEthernet;
}

void adopt_port(LinkState& s, OwnedPort port, const std::string& name, uint16_t port_id) {
  wire_log().refresh_from_environment();
  store_text(s.params_.port_name, name);
  s.params_.baud_rate = port_of(port)->rate();
  if (auto* serial = std::get_if<std::unique_ptr<SerialBytePort>>(&port)) {
    s.open_ = LinkState::SerialLink{std::move(*serial)};
  } else {
    s.open_ = LinkState::UsbLink{std::move(std::get<std::unique_ptr<UsbBytePort>>(port))};
  }
  s.params_.port_id = port_id;
}

}  // namespace lyralink::link
