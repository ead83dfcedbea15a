// SPDX-License-Identifier: LGPL-2.1-or-later
// Exported discovery functions: find analysers, choose one, open the link.
#include "include/lyralink.h"
#include "lyralink/discovery/ethernet.h"
#include "lyralink/discovery/selection.h"
#include "lyralink/exports/export_guard.h"

using namespace lyralink;
using exports::guarded;
using link::link_state;

LYRALINK_EXPORT int16_t COMM_INIT_SELECT(void* block, int32_t timeout, int32_t retries, void* owner) {
  return guarded<int16_t>(__func__, 0, [&] {
    return discovery::comm_init_select(link_state(), static_cast<uint8_t*>(block), timeout, retries, owner);
  });
}

LYRALINK_EXPORT int16_t COMM_INIT_ETHERNET(int32_t serial, int32_t timeout, int32_t retries, void* owner) {
  return guarded<int16_t>(__func__, 0, [&] {
    return discovery::comm_init_ethernet(link_state(), serial, timeout, retries, owner);
  });
}

LYRALINK_EXPORT int16_t COMM_INIT_ETHERNET_TREBLA(int32_t serial, int32_t timeout, int32_t retries, void* owner) {
  return guarded<int16_t>(__func__, 0, [&] {
    return discovery::comm_init_ethernet_trebla(link_state(), serial, timeout, retries, owner);
  });
}
