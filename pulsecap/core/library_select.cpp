// SPDX-License-Identifier: LGPL-2.1-or-later
#include "include/lyralink.h"
#include "pulsecap/core/library_device.h"

namespace pulsecap {

int16_t SelectingLibraryDevice::comm_init_select(void* block, int32_t timeout, int32_t retries, void* owner) {
  return COMM_INIT_SELECT(block, timeout, retries, owner);
}

}  // namespace pulsecap
