// SPDX-License-Identifier: LGPL-2.1-or-later
// The text form of IPv4 addresses: plain string work, the same on every system.
#include "platform/udp_socket.h"

namespace lyralink::platform {

bool parse_ipv4(const std::string& text, uint32_t& host_order) {
  // Strict form: four decimal parts of 1-3 digits, each 0-255. inet_pton
  // would do, but it accepts nothing else either and keeps no leading-zero
  // policy of ours; leading zeros are allowed here ("010" is ten).
  uint32_t value = 0;
  int parts = 0;
  size_t i = 0;
  while (parts < 4) {
    size_t start = i;
    uint32_t part = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3) {
      part = part * 10 + static_cast<uint32_t>(text[i] - '0');
      ++i;
    }
    if (i == start || part > 255) return false;
    value = (value << 8) | part;
    ++parts;
    if (parts < 4) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
  }
  if (i != text.size()) return false;
  host_order = value;
  return true;
}

std::string format_ipv4(uint32_t a) {
  return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 0xFF) + "." +
         std::to_string((a >> 8) & 0xFF) + "." + std::to_string(a & 0xFF);
}

}  // namespace lyralink::platform
