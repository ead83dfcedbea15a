/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// lyractl's discovery: `lyractl discover`, and the links that are opened by
// searching (--select, --ethernet, --head).
#include <cstdint>
#include <optional>
#include <string>

namespace lyractl {

// One detection pass without dialogs; prints every device entry in list
// order (text or JSON) and closes every port again. The exit status.
int run_discover(bool json, int32_t timeout, int32_t retries);

struct SearchLink {
  enum class Kind { select, ethernet, head } kind = Kind::select;
  bool any = false;                   // --select any
  uint16_t serial = 0;                // the wanted serial number
  std::optional<uint16_t> port;       // --select-port
};

// Opens the link through the library (COMM_INIT_SELECT, COMM_INIT_ETHERNET,
// COMM_INIT_ETHERNET_TREBLA). On failure a line on stderr says why; false.
// label receives a name for the link that was opened ("COM5", "USB", ...).
bool open_search_link(const SearchLink& l, int32_t timeout, int32_t retries, std::string& label);

// Parses "any" or a serial number (1-65535) for --select, a number for the others.
std::optional<uint16_t> parse_serial(const std::string& text);

}  // namespace lyractl
