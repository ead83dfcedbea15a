/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Opening and closing links, and the operations the device discovery uses
// to hand a link it found over to the link state.
#include <cstdint>
#include <memory>
#include <string>

#include "lyralink/link/link_state.h"

namespace lyralink::link {

// Serial port ("COMn") or Multiplex ("MPLXn#c") open. Nonzero when the link
// is open, 0 when not. port may be null (refused).
int16_t open_port(LinkState& s, const char* port, int32_t timeout, int32_t retries, int32_t baud, uint16_t lock);

// Ethernet link to a dotted IPv4 address; 1 when set up, 0 when not. No
// datagram is exchanged.
int16_t open_ethernet(LinkState& s, const char* address, int32_t timeout, int32_t retries);

// Ends whatever link is open; port identifier becomes 0xFFFF.
void close_link(LinkState& s);

// Destroys the UDP socket. An open Ethernet link is closed first.
void terminate_ethernet(LinkState& s);

// Answer timeout = timeout, at least 850 ms.
void set_answer_timeout(LinkState& s, int32_t timeout);

// Fills the link parameter record; the first word of record is its size.
void get_link_parameters(const LinkState& s, uint8_t* record);

// ---- for the device discovery ----

// Creates the UDP socket if there is none and sets its options. False when
// no socket could be made.
bool prepare_udp_socket(LinkState& s);

// The options every library socket gets: broadcast allowed, a 256 KiB
// receive buffer, linger 5 s. Also after the socket was re-created.
void apply_udp_socket_options(platform::UdpSocket& socket);

// The Ethernet link to `address` (at most 15 characters): Ethernet flag,
// port identifier 0.
void adopt_ethernet(LinkState& s, const std::string& address);

// A serial port that the selection opened and configured.
void adopt_serial_port(LinkState& s, std::unique_ptr<platform::SerialPort> port, const std::string& name,
                       uint16_t port_id);

// A device opened directly through the bridge library.
void adopt_usb_device(LinkState& s, FT_HANDLE handle, uint16_t port_id);

// Answer timeout (at least 850 ms) and retry count (at least 1).
void set_timing(LinkState& s, int32_t timeout, int32_t retries);
void set_baud_rate(LinkState& s, uint32_t baud);

// Sets up an open port for an analyser: queue sizes, the line settings
// below, and the modem lines (on a USB bridge port RTS keeps the charger
// where CTS reports it and DTR is low; elsewhere both are high). False when
// the port refuses the settings.
bool configure_analyser_port(platform::SerialPort& serial, const std::string& name, uint32_t baud);

// The serial settings used for every analyser port: rate, 8N1, binary, no
// flow control, other fields as the port had them.
void apply_analyser_line_settings(platform::SerialSettings& settings, uint32_t baud);

}  // namespace lyralink::link
