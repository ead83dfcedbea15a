/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Opening and closing links, and the operations the device search uses to
// hand a port or an address it found over to a link. These are the only
// functions that change which channel a link state has open.
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

// Ends whatever link is open; port identifier becomes 0xFFFF. A serial or
// USB link's port is closed.
void close_link(LinkState& s);

// Destroys the UDP socket. An open Ethernet link is closed first.
void terminate_ethernet(LinkState& s);

// Library unload: the UDP socket goes and the bridge library is unloaded;
// an open link is left as it is.
void release_at_unload(LinkState& s);

// Answer timeout = timeout, at least 850 ms.
void set_answer_timeout(LinkState& s, int32_t timeout);

// Fills the link parameter record; the first word of record is its size.
void get_link_parameters(LinkState& s, uint8_t* record);

// ---- for the device search ----

// Creates the UDP socket if there is none and sets its options. False when
// no socket could be made.
bool prepare_udp_socket(LinkState& s);

// The options every library socket gets: broadcast allowed, a 256 KiB
// receive buffer, linger 5 s. Also after the socket was re-created.
void apply_udp_socket_options(platform::UdpSocket& socket);

// The Ethernet link to `address` (at most 15 characters): port identifier 0.
void adopt_ethernet(LinkState& s, const std::string& address);

// A serial port or USB device that the search opened and set up becomes the
// link, under the name ("COMn", "USB") and port identifier it was found
// with.
void adopt_port(LinkState& s, OwnedPort port, const std::string& name, uint16_t port_id);

}  // namespace lyralink::link
