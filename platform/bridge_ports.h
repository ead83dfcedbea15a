/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// USB-serial bridges behind serial ports, found through sysfs.
//
// The sysfs root is LYRALINK_SYSFS_ROOT when set (tests build fake trees
// there), else /sys. A port's tty is found by following its port entry's
// chain of symbolic links one link at a time and taking the first name that
// exists under <root>/class/tty/, so COM4 -> ttyUSB0 -> /dev/pts/3 and
// COM4 -> /dev/serial/by-id/... -> ../../ttyUSB0 both give ttyUSB0. Every
// function here only reads directories, links and small attribute files:
// none of them blocks for longer than the file system takes.
//
// On Windows the same questions go to the bridge driver's device keys in
// the local-machine registry (platform/win32/bridge_ports_win32.cpp): a
// port entry is the port name itself, its "tty" is the parameter key of the
// device whose "PortName" it is, the IDs come from the device key's name
// (VID_0403+PID_6001+...) and the latency timer is the key's "LatencyTimer"
// value.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/system_error.h"

namespace lyralink::platform {

struct UsbDeviceId {
  uint16_t vendor = 0;
  uint16_t product = 0;
};

// The sysfs root in effect, without a trailing '/'.
std::string sysfs_root();

// The port entry for a port name, the name compared without regard to case
// (com4 finds COM4): an entry of the port directory in effect (see
// port_names.h) or, when LYRALINK_PORT_DIR is unset and no configured entry
// matches, the default table's device for COMn. nullopt when none exists.
std::optional<std::string> find_port_entry(const std::string& name);

// The kernel name of the tty behind a port entry (e.g. "ttyUSB0"); nullopt
// when no link of the chain (at most 40 links) names a tty.
std::optional<std::string> tty_of_port_entry(const std::string& entry);

// Vendor and product ID of the nearest USB device above the tty in the
// sysfs device tree; nullopt when the tty is not on USB or the IDs cannot
// be read.
std::optional<UsbDeviceId> usb_device_of_tty(const std::string& tty);

// The tty's latency timer in milliseconds (its device/latency_timer
// attribute); nullopt when the attribute is missing or unreadable.
std::optional<uint32_t> read_latency_timer(const std::string& tty);

// Rewrites the tty's latency timer attribute with `ms`. True when the whole
// value was written; false when the attribute is missing (it is never
// created: attributes belong to the driver), not writable for this user, or
// the driver refuses the value.
bool write_latency_timer(const std::string& tty, uint32_t ms, SystemError* error = nullptr);

}  // namespace lyralink::platform
