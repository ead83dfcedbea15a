/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The machine's own IPv4 addresses, as its network interfaces hold them.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lyralink::platform {

struct InterfaceAddress {
  std::string interface;          // e.g. "eth0"
  uint32_t address = 0;           // host byte order
  std::optional<uint32_t> netmask;  // host byte order; nullopt when the interface reports none
  bool up = false;
  bool loopback = false;
};

// Every IPv4 address of every interface, in the order the system lists
// them (getifaddrs). Empty when the list cannot be read. Does not block.
std::vector<InterfaceAddress> ipv4_interface_addresses();

}  // namespace lyralink::platform
