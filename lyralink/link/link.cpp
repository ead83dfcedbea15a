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

void store_text(char* field, size_t capacity, const std::string& text) {
  std::memset(field, 0, capacity);
  std::memcpy(field, text.data(), std::min(text.size(), capacity - 1));
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

Channel LinkState::channel() const {
  if (serial_port) return Channel::serial;
  if (usb_handle != nullptr) return Channel::usb;
  if (multiplex_flag != 0) return Channel::multiplex;
  if (ethernet_flag != 0) return Channel::ethernet;
  return Channel::none;
}

LinkState& link_state() {
  static LinkState* state = [] {
    auto* s = new LinkState;  // lives until the library is unloaded
    s->device_udp_port = configured_device_port();
    return s;
  }();
  return *state;
}

void apply_analyser_line_settings(platform::SerialSettings& st, uint32_t baud) {
  st.baud = baud;
  st.data_bits = 8;
  st.parity = platform::Parity::none;
  st.stop_bits = platform::StopBits::one;
  st.binary = true;
  st.parity_check = false;
  st.cts_output_flow = false;
  st.dsr_output_flow = false;
  st.xon_xoff_output = false;
  st.xon_xoff_input = false;
  st.null_stripping = false;
}

bool configure_analyser_port(platform::SerialPort& serial, const std::string& name, uint32_t baud) {
  serial.set_queue_sizes(2000, 16);
  platform::SerialSettings settings;
  if (!serial.get_settings(settings)) return false;
  apply_analyser_line_settings(settings, baud);
  if (is_usb_port(name)) {
    // The bridge's charger switch follows RTS; CTS reports where it is now,
    // so RTS is set to keep it there (CTS off = charger on = RTS on).
    platform::ModemStatus lines = serial.modem_status().value_or(platform::ModemStatus{});
    settings.rts_control = lines.cts ? platform::LineControl::disabled : platform::LineControl::enabled;
    (void)serial.set_settings(settings);
    settings.dtr_control = platform::LineControl::disabled;
  } else {
    settings.dtr_control = platform::LineControl::enabled;
    settings.rts_control = platform::LineControl::enabled;
  }
  return serial.set_settings(settings);
}

int16_t open_port(LinkState& s, const char* port, int32_t timeout, int32_t retries, int32_t baud, uint16_t lock) {
  if (s.link_open()) return 0;
  wire_log().refresh_from_environment();
  s.answer_timeout = at_least(timeout, kMinAnswerTimeoutMs);
  s.retry_count = at_least(retries, 1);
  if (port == nullptr) return 0;
  if (std::strncmp(port, "COM", 3) != 0) {
    // Multiplex names are parsed by the client; bound what it may look at.
    if (strnlen(port, 64) >= 64 || !s.multiplex.attach(port)) return 0;
    s.multiplex_flag = 1;
    s.port_id = kPortIdMultiplex;
    return 1;
  }
  // A longer name would be cut to seven characters and could then name
  // another port; it is refused instead.
  if (strnlen(port, kMaxPortNameLength + 1) > kMaxPortNameLength) return 0;

  store_text(s.port_name, sizeof s.port_name, port);
  s.baud_rate = static_cast<uint32_t>(baud);
  s.lock_requested = lock;

  auto path = platform::resolve_serial_port(port);
  if (!path) return 0;
  auto serial = platform::SerialPort::open(*path);
  if (!serial) return 0;

  if (!configure_analyser_port(*serial, port, static_cast<uint32_t>(baud))) return 0;  // closes the port

  if (lock != 0) s.transaction_lock = platform::MachineLock::open("COMM_SYNCHRONISATION");
  s.serial_port = std::move(serial);
  s.ethernet_flag = 0;
  s.port_id = com_port_number(port);
  return 1;
}

bool prepare_udp_socket(LinkState& s) {
  if (s.udp_socket) return true;
  s.udp_socket = platform::UdpSocket::create();
  if (!s.udp_socket) return false;
  apply_udp_socket_options(*s.udp_socket);
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
  store_text(s.device_address, sizeof s.device_address, address);
  s.retry_count = at_least(retries, 1);
  s.answer_timeout = at_least(timeout, kMinAnswerTimeoutMs);
  s.ethernet_flag = 1;
  s.port_id = kPortIdEthernet;
  return 1;
}

void close_link(LinkState& s) {
  s.transaction_lock.reset();
  s.answer_may_be_late = true;  // the next link may find datagrams of this one
  switch (s.channel()) {
    case Channel::ethernet: s.ethernet_flag = 0; break;  // socket and address stay
    case Channel::multiplex:
      s.multiplex.detach();
      s.multiplex_flag = 0;
      break;
    case Channel::serial: s.serial_port.reset(); break;
    case Channel::usb:
      if (s.usb_library.loaded()) s.usb_library.fn().FT_Close(s.usb_handle);
      s.usb_handle = nullptr;
      break;
    case Channel::none: break;
  }
  s.port_id = kPortIdNone;
}

void terminate_ethernet(LinkState& s) {
  // Without this the Ethernet flag would stay set with no socket under it.
  if (s.channel() == Channel::ethernet) close_link(s);
  s.udp_socket.reset();
}

void set_answer_timeout(LinkState& s, int32_t timeout) { s.answer_timeout = at_least(timeout, kMinAnswerTimeoutMs); }

void get_link_parameters(const LinkState& s, uint8_t* record) {
  const uint16_t size = get_u16(record);
  if (size >= 4) put_u16(record + 2, s.port_id);
  if (size >= 8) put_u32(record + 4, s.baud_rate);
  if (size >= 12) {
    uint16_t number = 0;
    if (s.channel() == Channel::usb && s.usb_library.loaded()) {
      int32_t com = -1;
      if (s.usb_library.fn().FT_GetComPortNumber(s.usb_handle, &com) == FT_OK && com >= 0) {
        number = static_cast<uint16_t>(com);
      }
    }
    put_u16(record + 8, number);
  }
}

void adopt_ethernet(LinkState& s, const std::string& address) {
  wire_log().refresh_from_environment();
  store_text(s.device_address, sizeof s.device_address, address);
  s.ethernet_flag = 1;
  s.port_id = kPortIdEthernet;
}

void adopt_serial_port(LinkState& s, std::unique_ptr<platform::SerialPort> port, const std::string& name,
                       uint16_t port_id) {
  wire_log().refresh_from_environment();
  s.serial_port = std::move(port);
  store_text(s.port_name, sizeof s.port_name, name);
  s.ethernet_flag = 0;
  s.port_id = port_id;
}

void adopt_usb_device(LinkState& s, FT_HANDLE handle, uint16_t port_id) {
  wire_log().refresh_from_environment();
  s.usb_handle = handle;
  store_text(s.port_name, sizeof s.port_name, "USB");
  s.ethernet_flag = 0;
  s.port_id = port_id;
}

void set_timing(LinkState& s, int32_t timeout, int32_t retries) {
  s.answer_timeout = at_least(timeout, kMinAnswerTimeoutMs);
  s.retry_count = at_least(retries, 1);
}

void set_baud_rate(LinkState& s, uint32_t baud) { s.baud_rate = baud; }

}  // namespace lyralink::link
