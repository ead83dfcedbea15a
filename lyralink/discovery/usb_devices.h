/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The devices the bridge library lists, as the device search reads them.
#include <optional>
#include <string>

#include "lyralink/link/bridge_library.h"

namespace lyralink::discovery {

// The description of device `index` as the bridge library lists it
// (FT_ListDevices by index); nullopt when the library refuses. The library
// writes at most 64 characters and a zero into a larger buffer, and only
// what lies inside that buffer is read, terminated or not.
std::optional<std::string> device_description(const link::BridgeFunctions& fn, int index);

}  // namespace lyralink::discovery
