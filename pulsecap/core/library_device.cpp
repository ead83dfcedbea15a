// SPDX-License-Identifier: LGPL-2.1-or-later
#include "pulsecap/core/library_device.h"

#include "include/lyralink.h"

namespace pulsecap {

void LibraryDevice::comm_close() { COMM_CLOSE(); }
int16_t LibraryDevice::set_timeout(int32_t timeout) { return SET_TIMEOUT(timeout); }
int16_t LibraryDevice::reset() { return LYRA_RESET(); }
int16_t LibraryDevice::query_state(uint8_t* a) { return LYRA_QUERY_STATE(a); }
int16_t LibraryDevice::query_state740(uint8_t* a) { return LYRA_QUERY_STATE740(a); }
int16_t LibraryDevice::query_state740_ex(uint8_t* a) { return LYRA_QUERY_STATE740_EX(a); }
int16_t LibraryDevice::query_power(uint8_t* a) { return LYRA_QUERY_POWER(a); }
int16_t LibraryDevice::query_user_data(int32_t a1, uint8_t* a) { return LYRA_QUERY_USER_DATA(a1, a); }
int16_t LibraryDevice::set_user_data(int32_t a1, int32_t v) { return LYRA_SET_USER_DATA(a1, v); }
int16_t LibraryDevice::set_general_mode(int32_t a1) { return LYRA_SET_GENERAL_MODE(a1); }
int16_t LibraryDevice::set_high_voltages(int32_t v, int32_t a2) { return LYRA_SET_HIGH_VOLTAGES(v, a2); }
int16_t LibraryDevice::set_preamplifier_power(int32_t a1) { return LYRA_SET_PREAMPLIFIER_POWER(a1); }
int16_t LibraryDevice::set_gain(int32_t c, int32_t f) { return LYRA_SET_GAIN(c, f); }
int16_t LibraryDevice::stop_acquire() { return LYRA_STOP_ACQUIRE(); }
int16_t LibraryDevice::set_common_memory_fill_stop(int32_t b) { return LYRA_SET_COMMON_MEMORY_FILL_STOP(b); }
int16_t LibraryDevice::start_acquire(int32_t a1, int32_t a2) { return LYRA_START_ACQUIRE(a1, a2); }
int16_t LibraryDevice::query_common_memory(int32_t o, uint8_t* c) { return LYRA_QUERY_COMMON_MEMORY(o, c); }

}  // namespace pulsecap
