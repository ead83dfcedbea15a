/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The answer decodings and argument computations of the command set:
// plain functions on bytes and numbers, no link and no I/O.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "lyralink/commands/command_set.h"

namespace lyralink::commands {

// ---- packed device time ----
// 32 bits: seconds in bits 0-5, minutes 6-11, hours 12-16, days since the
// device epoch 2008-01-01 00:00:00 (local time) in bits 17-31.

// A local date and time as the host's calendar shows it.
struct LocalDateTime {
  int year = 2008;
  int month = 1;  // 1-12
  int day = 1;    // 1-31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

inline constexpr uint32_t kMaxDeviceDays = 0x7FFF;  // the days field has 15 bits

// The packed device time of `t`; nullopt when t lies before the device
// epoch, more than 32767 days after it, or is no valid calendar date.
std::optional<uint32_t> pack_device_time(const LocalDateTime& t);

// Calendar form of a packed device time, with ordinary carries: an hour
// field above 23 or a minute or second field above 59 runs over into the
// next unit.
LocalDateTime unpack_device_time(uint32_t packed);

// ---- answer decodings (on 132 bytes of answer data) ----

// Replaces bytes 12-18 (packed device time, and the three bytes after it)
// by year (16 bits), month, day, hour, minute, second.
void decode_state740_clock(uint8_t* answer);

// Bytes 122-123 of 0, 0 mean the device left them unset: 10, 20.
void apply_system_data_defaults(uint8_t* answer);

// Applies a short query's decoding to the caller's copy.
void apply_decoding(Decoding decoding, uint8_t* answer);

// Readings 1-10 (32-bit, bytes 0-39) times their factor, wrapping at 2^32,
// shifted right by 10. With `reading5_offset`, reading 5 instead becomes
// (reading x 1000 >> 10) - 200, also wrapping.
void rescale_voltage_current(uint8_t* answer, bool reading5_offset);

// ---- argument computations ----

// The spectrum query with automatic choice: the older query when first,
// count and selector fit its packing (first < 4096, count <= 32,
// selector < 16), else the newer one. All three are taken as 16 bits.
struct SpectraChoice {
  const ShortQuery* query;
  Arguments args;
};
SpectraChoice choose_spectra_query(int32_t first, int32_t count, int32_t selector);

// Arguments of defs::query_enrichment for the channel ranges a1..a2 and
// a3..a4 (inclusive, 16-bit): the two widths (low 8 bits), then a1 and a3.
Arguments enrichment_arguments(int32_t a1, int32_t a2, int32_t a3, int32_t a4);

// ---- extension receive block ----
// 1026 bytes: a 16-bit count N, then a 1024-byte data area whose last N
// bytes are the received ones.
inline constexpr size_t kExtensionBlockSize = 1026;
inline constexpr size_t kExtensionDataArea = 1024;

// Bytes of the block that become the text; a NUL follows them at
// text[length].
struct BlockRange {
  size_t offset;
  size_t length;
};

// LYRA_READ_FROM_EXTENSION: the received bytes, at most the low 16 bits of
// maxlen of them. A count above 1024 is a device fault; it is taken as
// 1024 so that nothing outside the block is read.
BlockRange received_text_range(const uint8_t* block, int32_t maxlen);

// LYRA_READ_FROM_EXTENSION_EX: the last min(maxlen, 1024) bytes of the
// data area, whatever the count says.
BlockRange data_area_tail_range(int32_t maxlen);

// ---- multi-frame writes ----

inline constexpr size_t kExtensionCharsPerFrame = 6;

// Number of code-288 frames for a text of `length` characters: one per six
// characters, and always a last one with the 0-5 characters that remain.
inline constexpr size_t extension_text_frames(size_t length) { return length / kExtensionCharsPerFrame + 1; }

inline constexpr size_t kMaxDetectorInfoBytes = 2048;

// One chunk of a detector-information write: header word (0x40 first,
// 0x80 last, data byte count in the low bits) and which data bytes it
// carries.
struct DetectorChunk {
  uint16_t header;
  size_t first;
  size_t length;
};

// The chunks for n bytes (1 to 2048); empty for any other n.
std::vector<DetectorChunk> detector_info_chunks(size_t n);

}  // namespace lyralink::commands
