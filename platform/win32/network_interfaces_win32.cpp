// PLACEHOLDER: replaced by the win-net branch
// SPDX-License-Identifier: LGPL-2.1-or-later
// The adapter list is not yet read on Windows: no addresses.
#include "platform/network_interfaces.h"

namespace lyralink::platform {

std::vector<InterfaceAddress> ipv4_interface_addresses() { return {}; }

}  // namespace lyralink::platform
