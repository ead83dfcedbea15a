// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/discovery/host_addresses.h"

#include "platform/environment.h"
#include "platform/udp_socket.h"

namespace lyralink::discovery {

namespace {

HostAddress row(uint32_t address, std::optional<uint32_t> mask) {
  HostAddress h;
  h.text = platform::format_ipv4(address);
  h.address = address;
  h.mask = mask.value_or(0);
  h.mask_found = mask.has_value();
  return h;
}

std::optional<uint32_t> parse_mask(const std::string& text) {
  uint32_t mask = 0;
  if (platform::parse_ipv4(text, mask)) return mask;
  if (text.empty() || text.size() > 2) return std::nullopt;
  unsigned bits = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    bits = bits * 10 + static_cast<unsigned>(c - '0');
  }
  if (bits > 32) return std::nullopt;
  return bits == 0 ? 0u : ~uint32_t{0} << (32 - bits);
}

}  // namespace

std::vector<HostAddress> host_table_from_interfaces(const std::vector<platform::InterfaceAddress>& interfaces) {
  std::vector<HostAddress> table;
  for (const auto& i : interfaces) {
    if (!i.up || i.loopback) continue;
    if (table.size() == kMaxHostAddresses) break;
    table.push_back(row(i.address, i.netmask));
  }
  return table;
}

std::vector<HostAddress> host_table_from_text(const std::string& text) {
  std::vector<HostAddress> table;
  size_t start = 0;
  while (start <= text.size() && table.size() < kMaxHostAddresses) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    const std::string item = text.substr(start, comma - start);
    start = comma + 1;
    if (item.empty()) continue;
    const size_t slash = item.find('/');
    uint32_t address = 0;
    if (!platform::parse_ipv4(item.substr(0, slash), address)) continue;
    std::optional<uint32_t> mask;
    if (slash != std::string::npos) {
      mask = parse_mask(item.substr(slash + 1));
      if (!mask) continue;
    }
    table.push_back(row(address, mask));
  }
  return table;
}

std::vector<HostAddress> current_host_table() {
  if (auto text = platform::environment_value("LYRALINK_HOST_ADDRESSES")) return host_table_from_text(*text);
  return host_table_from_interfaces(platform::ipv4_interface_addresses());
}

std::vector<std::string> broadcast_targets(const std::vector<HostAddress>& table) {
  std::vector<std::string> out;
  for (HostAddress h : table) {
    if (!h.mask_found && h.text.compare(0, 7, "169.254") == 0) {
      h.mask = 0xFFFF0000u;
      h.mask_found = true;
    }
    if (!h.mask_found) continue;
    out.push_back(platform::format_ipv4((h.address & h.mask) | ~h.mask));
  }
  return out;
}

std::vector<std::string> directed_targets(const std::string& special_ip, const std::vector<std::string>& remembered,
                                          const std::vector<HostAddress>& table) {
  auto wanted = [&](const std::string& a) {
    if (a.empty()) return false;
    // The selection dialog's blank fields read as 0.0.0.0, and Linux
    // delivers a datagram to 0.0.0.0 to this machine: an emulator or a
    // service on 127.0.0.1 would answer although nobody named it.
    uint32_t parsed = 0;
    if (platform::parse_ipv4(a, parsed) && parsed == 0) return false;
    for (const auto& h : table) {
      if (h.text == a) return false;
    }
    return true;
  };
  std::vector<std::string> out;
  if (wanted(special_ip)) out.push_back(special_ip);
  for (const auto& a : remembered) {
    if (wanted(a)) out.push_back(a);
  }
  return out;
}

}  // namespace lyralink::discovery
