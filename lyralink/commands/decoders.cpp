// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/commands/decoders.h"

#include <algorithm>
#include <chrono>

#include "lyralink/link/bytes.h"

namespace lyralink::commands {

namespace {

namespace chr = std::chrono;

constexpr chr::sys_days kDeviceEpoch{chr::year{2008} / chr::January / 1};
constexpr int64_t kSecondsPerDay = 86400;

}  // namespace

std::optional<uint32_t> pack_device_time(const LocalDateTime& t) {
  const chr::year_month_day date{chr::year{t.year}, chr::month{static_cast<unsigned>(t.month)},
                                 chr::day{static_cast<unsigned>(t.day)}};
  if (t.month < 1 || t.month > 12 || t.day < 1 || !date.ok()) return std::nullopt;
  if (t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59 || t.second < 0) return std::nullopt;
  // A leap second (60) has no place in a six-bit field meant for 0-59; the
  // device gets the last second of the minute instead.
  const int second = std::min(t.second, 59);
  // Days count calendar days of local time, so a daylight-saving change
  // between the epoch and now shifts nothing.
  const int64_t days = (chr::sys_days{date} - kDeviceEpoch).count();
  if (days < 0 || days > kMaxDeviceDays) return std::nullopt;
  return static_cast<uint32_t>(second) | (static_cast<uint32_t>(t.minute) << 6) |
         (static_cast<uint32_t>(t.hour) << 12) | (static_cast<uint32_t>(days) << 17);
}

LocalDateTime unpack_device_time(uint32_t packed) {
  const int64_t seconds = packed & 0x3F;
  const int64_t minutes = (packed >> 6) & 0x3F;
  const int64_t hours = (packed >> 12) & 0x1F;
  const int64_t days = packed >> 17;
  const int64_t total = ((days * 24 + hours) * 60 + minutes) * 60 + seconds;
  const int64_t whole_days = total / kSecondsPerDay;
  const int64_t rest = total % kSecondsPerDay;
  const chr::year_month_day date{kDeviceEpoch + chr::days{whole_days}};
  LocalDateTime t;
  t.year = static_cast<int>(date.year());
  t.month = static_cast<int>(static_cast<unsigned>(date.month()));
  t.day = static_cast<int>(static_cast<unsigned>(date.day()));
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest / 60 % 60);
  t.second = static_cast<int>(rest % 60);
  return t;
}

void decode_state740_clock(uint8_t* answer) {
  const LocalDateTime t = unpack_device_time(get_u32(answer + 12));
  put_u16(answer + 12, static_cast<uint16_t>(t.year));
  answer[14] = static_cast<uint8_t>(t.month);
  answer[15] = static_cast<uint8_t>(t.day);
  answer[16] = static_cast<uint8_t>(t.hour);
  answer[17] = static_cast<uint8_t>(t.minute);
  answer[18] = static_cast<uint8_t>(t.second);
}

void apply_system_data_defaults(uint8_t* answer) {
  if (answer[122] == 0 && answer[123] == 0) {
    answer[122] = 10;
    answer[123] = 20;
  }
}

void apply_decoding(Decoding decoding, uint8_t* answer) {
  switch (decoding) {
    case Decoding::none: break;
    case Decoding::state740_clock: decode_state740_clock(answer); break;
    case Decoding::system_data_defaults: apply_system_data_defaults(answer); break;
  }
}

void rescale_voltage_current(uint8_t* answer, bool reading5_offset) {
  // Volts, millivolts and microamps per ADC step, times 1024.
  static constexpr uint32_t kFactors[10] = {2551, 249, 1192, 9766, 6000, 6000, 249, 249, 249, 249};
  for (size_t i = 0; i < 10; ++i) {
    const uint32_t raw = get_u32(answer + 4 * i);
    uint32_t scaled = (raw * kFactors[i]) >> 10;
    if (i == 4 && reading5_offset) scaled = ((raw * 1000u) >> 10) - 200u;
    put_u32(answer + 4 * i, scaled);
  }
}

SpectraChoice choose_spectra_query(int32_t first, int32_t count, int32_t selector) {
  const uint16_t f = static_cast<uint16_t>(first);
  const uint16_t c = static_cast<uint16_t>(count);
  const uint16_t s = static_cast<uint16_t>(selector);
  if (f >= 4096 || c > 32 || s >= 16) return {&defs::query_spectra_new, {f, c, s, 0, 0, 0}};
  return {&defs::query_spectra_old, {f + s * 4096, c, 0, 0, 0, 0}};
}

Arguments enrichment_arguments(int32_t a1, int32_t a2, int32_t a3, int32_t a4) {
  const uint16_t first1 = static_cast<uint16_t>(a1), last1 = static_cast<uint16_t>(a2);
  const uint16_t first2 = static_cast<uint16_t>(a3), last2 = static_cast<uint16_t>(a4);
  const uint8_t width1 = static_cast<uint8_t>(last1 - first1 + 1);
  const uint8_t width2 = static_cast<uint8_t>(last2 - first2 + 1);
  return {width1, width2, first1, first2, 0, 0};
}

BlockRange received_text_range(const uint8_t* block, int32_t maxlen) {
  const size_t received = std::min<size_t>(get_u16(block), kExtensionDataArea);
  const size_t wanted = static_cast<uint16_t>(maxlen);
  return {kExtensionBlockSize - received, wanted > received ? received : wanted};
}

BlockRange data_area_tail_range(int32_t maxlen) {
  const size_t wanted = static_cast<uint16_t>(maxlen);
  if (wanted > kExtensionDataArea) return {kExtensionBlockSize - kExtensionDataArea, kExtensionDataArea};
  return {kExtensionBlockSize - wanted, wanted};
}

std::vector<DetectorChunk> detector_info_chunks(size_t n) {
  std::vector<DetectorChunk> chunks;
  if (n == 0 || n > kMaxDetectorInfoBytes) return chunks;
  if (n <= 4) {
    chunks.push_back({static_cast<uint16_t>(0xC0 + n), 0, n});
    return chunks;
  }
  chunks.reserve((n + 3) / 4);
  chunks.push_back({0x44, 0, 4});
  size_t sent = 4;
  while (n - sent > 4) {
    chunks.push_back({0x04, sent, 4});
    sent += 4;
  }
  chunks.push_back({static_cast<uint16_t>(0x80 + (n - sent)), sent, n - sent});
  return chunks;
}

}  // namespace lyralink::commands
