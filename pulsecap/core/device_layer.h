/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The library calls the recorder makes, behind an interface so that the
// connection logic and the recording run against a fake device in tests
// and against liblyralink.so in the program. Each call returns the
// library's 16-bit status (0 success) and fills a 132-byte answer where it
// has one, exactly as the exported function of the same name.
#include <cstddef>
#include <cstdint>

namespace pulsecap {

constexpr size_t kAnswerSize = 132;
constexpr size_t kChunkSamples = 720;
constexpr size_t kChunkBytes = 2 * kChunkSamples;

// What a recording needs: the fill stop, the start and the memory reads.
class RecordingDevice {
 public:
  virtual ~RecordingDevice() = default;
  virtual int16_t set_common_memory_fill_stop(int32_t bytes) = 0;
  virtual int16_t start_acquire(int32_t a1, int32_t a2) = 0;
  // 1440 bytes (720 samples) from sample index `offset`.
  virtual int16_t query_common_memory(int32_t offset, uint8_t* chunk) = 0;
};

class DeviceLayer : public RecordingDevice {
 public:
  virtual int16_t comm_init_select(void* block, int32_t timeout, int32_t retries, void* owner) = 0;
  virtual void comm_close() = 0;
  virtual int16_t set_timeout(int32_t timeout) = 0;
  virtual int16_t reset() = 0;
  virtual int16_t query_state(uint8_t* answer) = 0;
  virtual int16_t query_state740(uint8_t* answer) = 0;
  virtual int16_t query_state740_ex(uint8_t* answer) = 0;
  virtual int16_t query_power(uint8_t* answer) = 0;
  virtual int16_t query_user_data(int32_t a1, uint8_t* answer) = 0;
  virtual int16_t set_user_data(int32_t a1, int32_t value) = 0;
  virtual int16_t set_general_mode(int32_t a1) = 0;
  virtual int16_t set_high_voltages(int32_t volts, int32_t a2) = 0;
  virtual int16_t set_preamplifier_power(int32_t a1) = 0;
  virtual int16_t set_gain(int32_t coarse, int32_t fine) = 0;
  virtual int16_t stop_acquire() = 0;
};

}  // namespace pulsecap
