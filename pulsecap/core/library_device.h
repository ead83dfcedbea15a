/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The device layer over liblyralink.so's exported functions. The link
// opening through COMM_INIT_SELECT is left to SelectingLibraryDevice
// (library_select.cpp), so that programs that open their link in other
// ways (lyractl, tests) need not bind it.
#include "pulsecap/core/device_layer.h"

namespace pulsecap {

class LibraryDevice : public DeviceLayer {
 public:
  void comm_close() override;
  int16_t set_timeout(int32_t timeout) override;
  int16_t reset() override;
  int16_t query_state(uint8_t* answer) override;
  int16_t query_state740(uint8_t* answer) override;
  int16_t query_state740_ex(uint8_t* answer) override;
  int16_t query_power(uint8_t* answer) override;
  int16_t query_user_data(int32_t a1, uint8_t* answer) override;
  int16_t set_user_data(int32_t a1, int32_t value) override;
  int16_t set_general_mode(int32_t a1) override;
  int16_t set_high_voltages(int32_t volts, int32_t a2) override;
  int16_t set_preamplifier_power(int32_t a1) override;
  int16_t set_gain(int32_t coarse, int32_t fine) override;
  int16_t stop_acquire() override;
  int16_t set_common_memory_fill_stop(int32_t bytes) override;
  int16_t start_acquire(int32_t a1, int32_t a2) override;
  int16_t query_common_memory(int32_t offset, uint8_t* chunk) override;
};

// The program's device layer: opens its link with COMM_INIT_SELECT.
class SelectingLibraryDevice final : public LibraryDevice {
 public:
  int16_t comm_init_select(void* block, int32_t timeout, int32_t retries, void* owner) override;
};

}  // namespace pulsecap
