// PLACEHOLDER: replaced by the win-serial branch
// SPDX-License-Identifier: LGPL-2.1-or-later
// Bridge ports are not yet found on Windows: no port is a bridge port.
#include "platform/bridge_ports.h"
#include "platform/win32/win32_error.h"

namespace lyralink::platform {

std::string sysfs_root() { return ""; }
std::optional<std::string> find_port_entry(const std::string&) { return std::nullopt; }
std::optional<std::string> tty_of_port_entry(const std::string&) { return std::nullopt; }
std::optional<UsbDeviceId> usb_device_of_tty(const std::string&) { return std::nullopt; }
std::optional<uint32_t> read_latency_timer(const std::string&) { return std::nullopt; }

bool write_latency_timer(const std::string& tty, uint32_t, SystemError* error) {
  report(error, win32::system_error_of("write latency timer of " + tty, 50));  // ERROR_NOT_SUPPORTED
  return false;
}

}  // namespace lyralink::platform
