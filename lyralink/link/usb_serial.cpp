// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/link/usb_serial.h"

#include "lyralink/link/link.h"
#include "platform/bridge_ports.h"
#include "platform/clock.h"

namespace lyralink::link {

namespace {

struct ModemLines {
  bool cts = false;
  bool dsr = false;
};

// The modem status of the serial port or direct USB channel; nullopt on any
// other link or when the status cannot be read.
std::optional<ModemLines> modem_lines(LinkState& s) {
  switch (s.channel()) {
    case Channel::serial: {
      auto status = s.serial_port->modem_status();
      if (!status) return std::nullopt;
      return ModemLines{status->cts, status->dsr};
    }
    case Channel::usb: {
      if (!s.usb_library.loaded()) return std::nullopt;
      uint32_t bits = 0;
      if (s.usb_library.fn().FT_GetModemStatus(s.usb_handle, &bits) != FT_OK) return std::nullopt;
      return ModemLines{(bits & FT_MODEM_STATUS_CTS) != 0, (bits & FT_MODEM_STATUS_DSR) != 0};
    }
    default: return std::nullopt;
  }
}

}  // namespace

std::optional<std::string> bridge_tty(const std::string& name) {
  auto entry = platform::find_port_entry(name);
  if (!entry) return std::nullopt;
  auto tty = platform::tty_of_port_entry(*entry);
  if (!tty) return std::nullopt;
  auto id = platform::usb_device_of_tty(*tty);
  if (!id || id->vendor != kBridgeVendorId || id->product != kBridgeProductId) return std::nullopt;
  return tty;
}

bool is_usb_port(const std::string& name) { return bridge_tty(name).has_value(); }

int16_t set_latency_timer(const std::string& name, uint32_t ms) {
  auto tty = bridge_tty(name);
  if (!tty) return kNo;
  auto current = platform::read_latency_timer(*tty);
  if (current && *current == ms) return kNo;  // already right: nothing written
  // Only a write that took effect counts: sysfs attributes are root's
  // unless a udev rule opens them, and a refused write changed nothing.
  return platform::write_latency_timer(*tty, ms) ? kYes : kNo;
}

int16_t get_latency_timer(const std::string& name, uint32_t& out) {
  auto tty = bridge_tty(name);
  if (!tty) return kNo;
  auto value = platform::read_latency_timer(*tty);
  if (!value) return kNo;
  out = *value;
  return kYes;
}

int16_t is_current_usb_port(const LinkState& s) {
  switch (s.channel()) {
    case Channel::serial: return is_usb_port(s.port_name) ? kYes : kNo;
    case Channel::usb: return s.port_id == kPortIdUsbVariant2 || s.port_id == kPortIdUsbOther ? kYes : kNo;
    default: return kNo;
  }
}

int16_t set_current_latency_timer(LinkState& s, uint32_t ms) {
  if (is_current_usb_port(s) == kNo) return kNo;
  if (s.channel() == Channel::usb) {
    if (!s.usb_library.loaded()) return kNo;
    return s.usb_library.fn().FT_SetLatencyTimer(s.usb_handle, static_cast<uint8_t>(ms & 0xFF)) == FT_OK ? kYes
                                                                                                     : kNo;
  }
  // The bridge's serial port: the value is set with the port closed and
  // the link then reopened exactly as it was opened.
  const std::string port = s.port_name;
  const uint32_t timeout = s.answer_timeout;
  const uint32_t retries = s.retry_count;
  const uint32_t baud = s.baud_rate;
  const uint16_t lock = s.lock_requested;
  close_link(s);
  const int16_t written = set_latency_timer(port, ms);
  const int16_t reopened = open_port(s, port.c_str(), static_cast<int32_t>(timeout), static_cast<int32_t>(retries),
                                     static_cast<int32_t>(baud), lock);
  return written == kYes && reopened != 0 ? kYes : kNo;
}

int16_t get_current_latency_timer(LinkState& s, uint32_t& out) {
  if (is_current_usb_port(s) == kNo) return kNo;
  if (s.channel() == Channel::usb) {
    if (!s.usb_library.loaded()) return kNo;
    uint8_t value = 0;
    if (s.usb_library.fn().FT_GetLatencyTimer(s.usb_handle, &value) != FT_OK) return kNo;
    out = value;
    return kYes;
  }
  return get_latency_timer(s.port_name, out);
}

void set_usb_charger(LinkState& s, bool on) {
  // The analyser latches RTS as its charger switch while DTR strobes; the
  // 1 ms pauses let each level settle before the next change.
  switch (s.channel()) {
    case Channel::serial: {
      platform::SerialPort& port = *s.serial_port;
      platform::SerialSettings settings;
      if (!port.get_settings(settings)) return;
      settings.dtr_control = platform::LineControl::enabled;
      (void)port.set_settings(settings);
      platform::sleep_ms(1);
      settings.rts_control = on ? platform::LineControl::enabled : platform::LineControl::disabled;
      (void)port.set_settings(settings);
      platform::sleep_ms(1);
      settings.dtr_control = platform::LineControl::disabled;
      (void)port.set_settings(settings);
      return;
    }
    case Channel::usb: {
      if (!s.usb_library.loaded()) return;
      const BridgeFunctions& fn = s.usb_library.fn();
      (void)fn.FT_SetDtr(s.usb_handle);
      platform::sleep_ms(1);
      (void)(on ? fn.FT_SetRts(s.usb_handle) : fn.FT_ClrRts(s.usb_handle));
      platform::sleep_ms(1);
      (void)fn.FT_ClrDtr(s.usb_handle);
      return;
    }
    default: return;
  }
}

int16_t get_usb_charger(LinkState& s) {
  auto lines = modem_lines(s);
  return lines && !lines->cts ? kYes : kNo;
}

int16_t get_usb_charger_state(LinkState& s) {
  auto lines = modem_lines(s);
  return lines && !lines->dsr ? kYes : kNo;
}

}  // namespace lyralink::link
