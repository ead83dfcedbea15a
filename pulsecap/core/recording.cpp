// SPDX-License-Identifier: LGPL-2.1-or-later
#include "pulsecap/core/recording.h"

#include <algorithm>
#include <array>

#include "lyralink/link/bytes.h"
#include "platform/clock.h"

namespace pulsecap {

namespace {
constexpr uint32_t kMemoryReserve = 1440;  // bytes of the common memory that no recording uses
constexpr uint16_t kFirstFirmwareWithRate = 0x1304;
constexpr uint64_t kMaxDecimalFactor = uint64_t{1} << 60;

uint64_t saturating_mul(uint64_t a, uint64_t b) {
  uint64_t p = 0;
  return __builtin_mul_overflow(a, b, &p) ? UINT64_MAX : p;
}

uint64_t saturating_add(uint64_t a, uint64_t b) {
  uint64_t s = 0;
  return __builtin_add_overflow(a, b, &s) ? UINT64_MAX : s;
}

// floor(seconds x factor) of a text that is_decimal_seconds() took, and
// whether digits were dropped (the product was not whole).
uint64_t decimal_product(std::string_view seconds, uint64_t factor, bool* inexact) {
  const size_t point = seconds.find('.');
  const std::string_view whole = seconds.substr(0, point);
  const std::string_view fraction = point == std::string_view::npos ? std::string_view() : seconds.substr(point + 1);
  uint64_t whole_value = 0;
  for (char c : whole) whole_value = saturating_add(saturating_mul(whole_value, 10), static_cast<uint64_t>(c - '0'));
  // The fraction 0.d1...dk times the factor is the long multiplication of
  // the integer d1...dk by the factor, done from its last digit, with the k
  // lowest decimal digits of the product dropped: what carries out past d1
  // is the whole part. The carry stays below the factor, so
  // d x factor + carry < 10 x 2^60 never wraps.
  uint64_t carry = 0;
  *inexact = false;
  for (auto it = fraction.rbegin(); it != fraction.rend(); ++it) {
    const uint64_t t = static_cast<uint64_t>(*it - '0') * factor + carry;
    *inexact = *inexact || t % 10 != 0;
    carry = t / 10;
  }
  return saturating_add(saturating_mul(whole_value, factor), carry);
}
}  // namespace

uint32_t sample_rate(uint16_t firmware, uint16_t rate_khz) {
  if (firmware < kFirstFirmwareWithRate) return 10'000'000u;
  return static_cast<uint32_t>(rate_khz) * 1000u;
}

double time_range_seconds(uint32_t memory_bytes, uint32_t rate) {
  if (memory_bytes < kMemoryReserve || rate == 0) return 0.0;
  return static_cast<double>(memory_bytes - kMemoryReserve) / (2.0 * static_cast<double>(rate));
}

bool is_decimal_seconds(std::string_view text) {
  size_t digits = 0, points = 0;
  for (char c : text) {
    if (c >= '0' && c <= '9') ++digits;
    else if (c == '.') ++points;
    else return false;
  }
  return digits > 0 && points <= 1;
}

std::optional<uint64_t> decimal_times(std::string_view seconds, uint64_t factor) {
  if (!is_decimal_seconds(seconds) || factor > kMaxDecimalFactor) return std::nullopt;
  bool inexact = false;
  return decimal_product(seconds, factor, &inexact);
}

std::optional<uint32_t> sample_count(std::string_view seconds, uint32_t rate, uint32_t memory_bytes) {
  const std::optional<uint64_t> n = decimal_times(seconds, rate);
  if (!n) return std::nullopt;
  const uint32_t memory_limit = memory_bytes < kMemoryReserve ? 0 : (memory_bytes - kMemoryReserve) / 2;
  return static_cast<uint32_t>(std::min<uint64_t>(*n, std::min(memory_limit, kMaxTraceSamples)));
}

bool recording_fits(std::string_view seconds, uint32_t rate, uint32_t memory_bytes) {
  if (!is_decimal_seconds(seconds)) return false;
  if (rate == 0 || memory_bytes < kMemoryReserve) return seconds.find_first_not_of("0.") == std::string_view::npos;
  // s <= (M - 1440) / (2 R) is s x 2R <= M - 1440: against a whole bound,
  // the product rounded up must not exceed it.
  bool inexact = false;
  const uint64_t truncated = decimal_product(seconds, 2 * static_cast<uint64_t>(rate), &inexact);
  const uint64_t bound = memory_bytes - kMemoryReserve;
  return truncated < bound || (truncated == bound && !inexact);
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
