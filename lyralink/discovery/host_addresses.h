/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The host address table of the Ethernet search: this machine's own IPv4
// addresses with their subnet masks, and where the probes go from them.
// Plain C++; the interface list comes from platform/network_interfaces.h.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/network_interfaces.h"

namespace lyralink::discovery {

constexpr size_t kMaxHostAddresses = 4;

struct HostAddress {
  std::string text;      // "%u.%u.%u.%u", at most 15 characters
  uint32_t address = 0;  // host byte order
  uint32_t mask = 0;
  bool mask_found = false;
};

// The first four addresses of interfaces that are up, loopback excluded,
// in the order the system lists them.
std::vector<HostAddress> host_table_from_interfaces(const std::vector<platform::InterfaceAddress>& interfaces);

// The table given as "ADDRESS[/MASK],...", MASK dotted or a prefix length;
// an entry without a mask has none. Entries that do not parse are passed
// over; at most four are kept. An empty text gives an empty table.
std::vector<HostAddress> host_table_from_text(const std::string& text);

// LYRALINK_HOST_ADDRESSES when set (tests), else the interfaces of this
// machine.
std::vector<HostAddress> current_host_table();

// Directed broadcast address of every row with a mask, in table order. A
// row without a mask whose text begins with "169.254" (link-local) gets
// 255.255.0.0; any other row without a mask gives nothing.
std::vector<std::string> broadcast_targets(const std::vector<HostAddress>& table);

// The addresses the directed probe goes to: the special IP, then every
// entry of the list, each unless it is empty, 0.0.0.0 (this machine, not an
// analyser's address) or one of the host's own addresses. The same address
// may appear twice.
std::vector<std::string> directed_targets(const std::string& special_ip, const std::vector<std::string>& remembered,
                                          const std::vector<HostAddress>& table);

}  // namespace lyralink::discovery
