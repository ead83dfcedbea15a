// SPDX-License-Identifier: LGPL-2.1-or-later
#include "pulsecap/core/recording.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "lyralink/link/bytes.h"
#include "platform/clock.h"

namespace pulsecap {

namespace {
constexpr uint32_t kMemoryReserve = 1440;  // bytes of the common memory that no recording uses
constexpr uint16_t kFirstFirmwareWithRate = 0x1304;
}  // namespace

uint32_t sample_rate(uint16_t firmware, uint16_t rate_khz) {
  if (firmware < kFirstFirmwareWithRate) return 10'000'000u;
  return static_cast<uint32_t>(rate_khz) * 1000u;
}

double time_range_seconds(uint32_t memory_bytes, uint32_t rate) {
  if (memory_bytes < kMemoryReserve || rate == 0) return 0.0;
  return static_cast<double>(memory_bytes - kMemoryReserve) / (2.0 * static_cast<double>(rate));
}

uint32_t sample_count(double seconds, uint32_t rate, uint32_t memory_bytes) {
  if (!(seconds > 0) || rate == 0) return 0;
  const double n = std::floor(seconds * static_cast<double>(rate));
  const uint32_t memory_limit = memory_bytes < kMemoryReserve ? 0 : (memory_bytes - kMemoryReserve) / 2;
  const uint32_t limit = std::min(memory_limit, kMaxTraceSamples);
  if (!(n < static_cast<double>(limit))) return limit;
  return static_cast<uint32_t>(n);
}

unsigned progress_percent(uint64_t read_offset, uint32_t n) {
  if (n == 0) return 100;
  return static_cast<unsigned>(std::min<uint64_t>(read_offset * 100u / n, 100u));
}

void RecordingObserver::started() { lyralink::platform::sleep_ms(100); }

RecordingResult run_recording(RecordingDevice& device, TraceWriter& writer, uint32_t n, RecordingObserver& observer) {
  RecordingResult result;
  // 2 N fits 32 bits for every n a caller can get from sample_count().
  const uint32_t fill_bytes = 2u * std::min(n, kMaxTraceSamples);
  int16_t st = device.set_common_memory_fill_stop(static_cast<int32_t>(fill_bytes));
  if (st == 0) st = device.start_acquire(0, 0);
  if (st != 0) {
    result.end = RecordingEnd::start_failed;
    result.status = st;
    return result;
  }
  observer.started();

  std::array<uint8_t, kChunkBytes> chunk{};
  std::array<uint16_t, kChunkSamples> samples{};
  uint64_t offset = 0;
  for (;;) {
    st = device.query_common_memory(static_cast<int32_t>(offset), chunk.data());
    if (st != 0) {
      result.end = RecordingEnd::read_failed;
      result.status = st;
      result.samples_written = writer.samples_written();
      return result;
    }
    ++result.chunks_read;
    const uint64_t left = n - std::min<uint64_t>(offset, n);
    const size_t take = static_cast<size_t>(std::min<uint64_t>(left, kChunkSamples));
    for (size_t i = 0; i < take; ++i) samples[i] = static_cast<uint16_t>(lyralink::get_u16(&chunk[2 * i]) & 0x3FFF);
    if (!writer.write_chunk(samples.data(), take)) {
      result.end = RecordingEnd::write_failed;
      result.write_error = writer.last_error();
      result.samples_written = writer.samples_written();
      return result;
    }
    offset += kChunkSamples;
    if (offset >= n) break;
    observer.progress(progress_percent(offset, n));
    observer.between_chunks();
  }
  result.samples_written = writer.samples_written();
  return result;
}

}  // namespace pulsecap
