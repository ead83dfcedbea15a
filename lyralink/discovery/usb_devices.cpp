// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/discovery/usb_devices.h"

#include <cstdint>
#include <cstring>

namespace lyralink::discovery {

std::optional<std::string> device_description(const link::BridgeFunctions& fn, int index) {
  char buf[256] = {};
  if (fn.FT_ListDevices(reinterpret_cast<void*>(static_cast<uintptr_t>(index)), buf,
                        link::FT_LIST_BY_INDEX | link::FT_OPEN_BY_DESCRIPTION) != link::FT_OK) {
    return std::nullopt;
  }
  return std::string(buf, strnlen(buf, sizeof buf - 1));
}

}  // namespace lyralink::discovery
