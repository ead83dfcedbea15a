/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Where a "COMn" port name lives on this machine.
//
// LYRALINK_PORT_DIR set: only its entries exist, as $LYRALINK_PORT_DIR/<name>.
// Unset: an entry /etc/lyralink/ports/<name> if there is one, else the
// default table COM1-COM32 -> /dev/ttyS0-31, COM33-COM64 -> /dev/ttyUSB0-31,
// COM65-COM96 -> /dev/ttyACM0-31.
// These read only the environment and directory entries: none opens a port
// or blocks beyond the file system.
//
// On Windows "COMn" (n = 1..256, any letter case) is the device \\.\COMn
// and the port directory is the device namespace "\\.\"; whether the
// port exists is learnt by opening it.
#include <optional>
#include <string>

namespace lyralink::platform {

// The device path of the default table for COMn, or nullopt outside 1-96.
std::optional<std::string> default_port_path(unsigned number);

// Device path for a port name; nullopt when no such port is known here.
std::optional<std::string> resolve_serial_port(const std::string& name);

// The directory of port entries in effect ($LYRALINK_PORT_DIR or
// /etc/lyralink/ports).
std::string port_directory();

}  // namespace lyralink::platform
