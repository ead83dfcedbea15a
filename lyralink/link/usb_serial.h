/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The analyser's USB-serial bridge (vendor 0403, product 6001): telling its
// ports apart, its latency timer, and the charger switch that the analyser
// reads from the modem-control lines.
//
// Results follow the exported helpers: -1 for yes/success, 0 for no/failure.
//
// On Linux a serial port belongs to the bridge when its tty has the bridge
// as its USB device in sysfs, and the latency timer is that tty's
// device/latency_timer attribute (platform/bridge_ports.h).
#include <cstdint>
#include <optional>
#include <string>

#include "lyralink/link/link_state.h"

namespace lyralink::link {

constexpr uint16_t kBridgeVendorId = 0x0403;
constexpr uint16_t kBridgeProductId = 0x6001;
constexpr int16_t kYes = -1;
constexpr int16_t kNo = 0;

// The tty of the bridge behind the serial port `name` (case ignored); nullopt
// when the port is unknown or not a bridge port.
std::optional<std::string> bridge_tty(const std::string& name);

// True when the serial port `name` belongs to a USB-serial bridge of the
// analyser (vendor 0403, product 6001).
bool is_usb_port(const std::string& name);

// SET_LATENCY_TIMER_EX: writes ms as the latency timer of the bridge port
// `name` unless it already has that value. -1 when a new value was written
// and accepted; 0 when the value was already right, the port is no bridge
// port, or the write failed (missing attribute, no permission).
int16_t set_latency_timer(const std::string& name, uint32_t ms);

// GET_CURRENT_LATENCY_TIMER of a bridge port by name: -1 and *out, or 0.
int16_t get_latency_timer(const std::string& name, uint32_t& out);

// IS_CURRENT_USB_PORT: -1 when the open link runs over the bridge.
int16_t is_current_usb_port(const LinkState& s);

// SET_CURRENT_LATENCY_TIMER. On the bridge's serial port the link is closed,
// the value written and the link reopened with its stored parameters (the
// port is reopened in any case); -1 when the value changed and the reopen
// succeeded. On the direct USB channel the bridge library sets the low 8
// bits; -1 when it reports success. 0 on any other link.
int16_t set_current_latency_timer(LinkState& s, uint32_t ms);

// GET_CURRENT_LATENCY_TIMER: -1 with the latency in out, or 0.
int16_t get_current_latency_timer(LinkState& s, uint32_t& out);

// SET_USB_CHARGER: raises DTR, sets RTS to `on`, drops DTR, about 1 ms
// apart, on the serial port or direct USB channel; nothing on other links.
void set_usb_charger(LinkState& s, bool on);

// GET_USB_CHARGER: -1 when CTS is off (charger on). 0 when on, when the
// lines cannot be read, or on a link without modem lines.
int16_t get_usb_charger(LinkState& s);

// GET_USB_CHARGER_STATE: -1 when DSR is off (charging), else 0.
int16_t get_usb_charger_state(LinkState& s);

}  // namespace lyralink::link
