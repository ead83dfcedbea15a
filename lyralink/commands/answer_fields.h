/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The answer fields: where each value that a program reads from the
// analyser's answers lies, how wide it is and what it means. One table,
// walked by the library's own decodings (decoders.cpp), read by lyractl
// and pulsecap through the small readers below, and copied by the Python
// package (python/lyralink/_fields.py), whose copy a test compares with
// this one row by row.
//
// Header only and constexpr: pulsecap links liblyralink.so, which exports
// only the C functions, so it cannot link the library's C++ decoders; it
// includes this header instead.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "lyralink/commands/command_codes.h"
#include "lyralink/commands/command_set.h"
#include "lyralink/link/bytes.h"
#include "lyralink/link/frames.h"

namespace lyralink::commands {

// Bytes of answer data that a short query copies to its caller.
using link::kAnswerDataSize;

enum class FieldType : uint8_t {
  u8,
  u16,    // little-endian
  u32,    // little-endian
  ascii,  // characters, one byte each; a zero byte ends the text early
};

constexpr size_t field_type_size(FieldType t) {
  return t == FieldType::u16 ? 2 : t == FieldType::u32 ? 4 : 1;
}

constexpr std::string_view field_type_name(FieldType t) {
  switch (t) {
    case FieldType::u8: return "u8";
    case FieldType::u16: return "u16";
    case FieldType::u32: return "u32";
    case FieldType::ascii: return "ascii";
  }
  return "";
}

struct AnswerField {
  std::string_view name;  // "<answer>.<field>": the key lyractl --json prints and the Python attribute
  uint16_t query;         // command code of the query whose answer holds it
  uint8_t offset;         // byte offset into the answer data as the library hands it back
  FieldType type;
  uint8_t count;          // values one after the other (readings, words, characters)
  uint32_t scale;         // a value times scale is in `unit`
  std::string_view unit;
  bool host;              // false: only the library's own decoding reads it
};

// The rows. A short answer frame carries the command echo and the checksum
// at answer-data offsets 106-113 and 126-127, so no field of a short answer
// lies there; the spectrum answer is a bulk frame with 130 data bytes.
inline constexpr AnswerField kAnswerFields[] = {
    // name                          query                         off  type              n  scale unit  host
    {"state.coarse_gain",            code::query_state,             48, FieldType::u16,    1, 1,    "",   true},
    {"state.hv_set",                 code::query_state,             56, FieldType::u16,    1, 1,    "V",  true},
    // 0 positive, any other value negative.
    {"state.hv_polarity",            code::query_state,             58, FieldType::u16,    1, 1,    "",   true},
    {"state.acquisition_state",      code::query_state,            128, FieldType::u16,    1, 1,    "",   true},
    {"state740.firmware",            code::query_state740,           2, FieldType::u16,    1, 1,    "",   true},
    {"state740.feature_flags",       code::query_state740,           8, FieldType::u32,    1, 1,    "",   true},
    // As the analyser sends it: seconds bits 0-5, minutes 6-11, hours 12-16,
    // days since 2008-01-01 bits 17-31. The library writes the calendar
    // fields below over bytes 12-18 before the caller sees them.
    {"state740.device_time",         code::query_state740,          12, FieldType::u32,    1, 1,    "",   false},
    {"state740.clock_year",          code::query_state740,          12, FieldType::u16,    1, 1,    "",   true},
    {"state740.clock_month",         code::query_state740,          14, FieldType::u8,     1, 1,    "",   true},
    {"state740.clock_day",           code::query_state740,          15, FieldType::u8,     1, 1,    "",   true},
    {"state740.clock_hour",          code::query_state740,          16, FieldType::u8,     1, 1,    "",   true},
    {"state740.clock_minute",        code::query_state740,          17, FieldType::u8,     1, 1,    "",   true},
    {"state740.clock_second",        code::query_state740,          18, FieldType::u8,     1, 1,    "",   true},
    {"state740.highest_hv",          code::query_state740,          64, FieldType::u16,    1, 1,    "V",  true},
    {"state740.acquisition_state",   code::query_state740,         128, FieldType::u16,    1, 1,    "",   true},
    {"state740_ex.memory_size",      code::query_state740_ex,        0, FieldType::u32,    1, 1,    "bytes", true},
    // Valid from firmware kFirstFirmwareWithRate on (see sample_rate()).
    {"state740_ex.sample_rate_khz",  code::query_state740_ex,      104, FieldType::u16,    1, 1000, "samples/s", true},
    // 0 when the high voltage is off.
    {"power.hv_actual",              code::query_power,             40, FieldType::u32,    1, 1,    "V",  true},
    // Rescaled by the library (kReadingFactors) before the caller sees them.
    {"voltage_current.readings",     code::query_voltage_current,    0, FieldType::u32,   10, 1,    "",   true},
    {"user_data.words",              code::query_user_data,          0, FieldType::u32,   26, 1,    "",   true},
    // Page 0 only: user-data word 4, the code of the application that set
    // the analyser up, its first character in the lowest byte.
    {"user_data.application_code",   code::query_user_data,         16, FieldType::ascii,  4, 1,    "",   true},
    // Of both spectrum queries (also code::query_spectra_ex, 258).
    {"spectrum.counts",              code::query_spectra,            0, FieldType::u32,   32, 1,    "",   true},
    // Left 0, 0 by some analysers; the library puts kSystemDataDefaults there.
    {"system_data.defaulted",        code::query_system_data,      122, FieldType::u8,     2, 1,    "",   false},
};

// The row named `name`; a name that is not in the table stops the build.
consteval const AnswerField& answer_field(std::string_view name) {
  for (const AnswerField& f : kAnswerFields) {
    if (f.name == name) return f;
  }
  throw "no answer field of that name";
}

// Value i (0 for a single value) of the number field f in answer data.
inline uint32_t field_value(const uint8_t* answer, const AnswerField& f, size_t i = 0) {
  const uint8_t* p = answer + f.offset + i * field_type_size(f.type);
  switch (f.type) {
    case FieldType::u16: return get_u16(p);
    case FieldType::u32: return get_u32(p);
    case FieldType::u8:
    case FieldType::ascii: break;
  }
  return *p;
}

// All values of a field of N values.
template <size_t N>
std::array<uint32_t, N> field_values(const uint8_t* answer, const AnswerField& f) {
  std::array<uint32_t, N> values{};
  for (size_t i = 0; i < N && i < f.count; ++i) values[i] = field_value(answer, f, i);
  return values;
}

// ---- what the values mean ----

// Acquisition state words (state and 740 state answers).
inline constexpr uint16_t kAcquisitionIdle = 0;
inline constexpr uint16_t kCollectingStates[] = {2, 7};

constexpr bool is_collecting(uint16_t acquisition_state) {
  for (uint16_t s : kCollectingStates) {
    if (s == acquisition_state) return true;
  }
  return false;
}

// "idle", "collecting data", or "" for the states a host gives no name.
constexpr std::string_view acquisition_note(uint16_t acquisition_state) {
  if (acquisition_state == kAcquisitionIdle) return "idle";
  return is_collecting(acquisition_state) ? "collecting data" : "";
}

// Feature flags of the 740 state answer that a host acts on.
inline constexpr uint32_t kFeatureHvControls = 0x10;        // HV edit, display and set button
inline constexpr uint32_t kFeatureSlowGeneralMode = 0x20;   // the general-mode switch needs up to 10 s
inline constexpr uint32_t kFeatureGainList = 0x4000;        // the coarse gain can be chosen

struct FeatureFlag {
  uint32_t bit;
  std::string_view name;
};
inline constexpr FeatureFlag kFeatureFlags[] = {
    {kFeatureHvControls, "HV controls"},
    {kFeatureSlowGeneralMode, "slow general-mode switch"},
    {kFeatureGainList, "gain list"},
};

// Sample rate of the common (signal) memory in samples per second: fixed
// below kFirstFirmwareWithRate, whose analysers have no rate word yet.
inline constexpr uint16_t kFirstFirmwareWithRate = 0x1304;
inline constexpr uint32_t kFixedSampleRate = 10'000'000;

constexpr uint32_t sample_rate(uint16_t firmware, uint16_t rate_khz) {
  if (firmware < kFirstFirmwareWithRate) return kFixedSampleRate;
  return static_cast<uint32_t>(rate_khz) * answer_field("state740_ex.sample_rate_khz").scale;
}

// Factors of readings 1-10 of the voltage and current answer (volts,
// millivolts and microamps per ADC step, times 2^kReadingShift).
inline constexpr uint32_t kReadingFactors[] = {2551, 249, 1192, 9766, 6000, 6000, 249, 249, 249, 249};
inline constexpr unsigned kReadingShift = 10;

// What the library puts in the system data's bytes 122-123 when the
// analyser left both 0.
inline constexpr uint8_t kSystemDataDefaults[] = {10, 20};

// The common memory block (LYRA_QUERY_COMMON_MEMORY): 16-bit samples whose
// low 14 bits are the signal; the upper 2 are status bits.
inline constexpr size_t kMemoryBlockSamples = defs::query_common_memory.length / 2;
inline constexpr uint16_t kSampleSignalMask = 0x3FFF;

// ---- the answers the programs read, decoded ----

struct StateFields {
  uint16_t coarse_gain;
  uint16_t hv_set;       // volts
  uint16_t hv_polarity;  // 0 positive, else negative
  uint16_t acquisition_state;
};

// Calendar clock of the 740 state answer, as the library decoded it.
struct DeviceClock {
  uint16_t year;
  uint8_t month, day, hour, minute, second;
};

struct State740Fields {
  uint16_t firmware;
  uint32_t feature_flags;
  DeviceClock clock;
  uint16_t highest_hv;  // volts
  uint16_t acquisition_state;
};

struct State740ExFields {
  uint32_t memory_size;  // bytes
  uint16_t sample_rate_khz;
};

struct PowerFields {
  uint32_t hv_actual;  // volts; 0 when off
};

struct VoltageCurrentFields {
  std::array<uint32_t, answer_field("voltage_current.readings").count> readings;
};

struct UserDataFields {
  std::array<uint32_t, answer_field("user_data.words").count> words;
  // The raw bytes; meaningful on page 0 only.
  std::array<uint8_t, answer_field("user_data.application_code").count> application_code;
};

struct SpectrumFields {
  std::array<uint32_t, answer_field("spectrum.counts").count> counts;
};

inline StateFields read_state(const uint8_t* a) {
  return {static_cast<uint16_t>(field_value(a, answer_field("state.coarse_gain"))),
          static_cast<uint16_t>(field_value(a, answer_field("state.hv_set"))),
          static_cast<uint16_t>(field_value(a, answer_field("state.hv_polarity"))),
          static_cast<uint16_t>(field_value(a, answer_field("state.acquisition_state")))};
}

inline State740Fields read_state740(const uint8_t* a) {
  const DeviceClock clock{static_cast<uint16_t>(field_value(a, answer_field("state740.clock_year"))),
                          static_cast<uint8_t>(field_value(a, answer_field("state740.clock_month"))),
                          static_cast<uint8_t>(field_value(a, answer_field("state740.clock_day"))),
                          static_cast<uint8_t>(field_value(a, answer_field("state740.clock_hour"))),
                          static_cast<uint8_t>(field_value(a, answer_field("state740.clock_minute"))),
                          static_cast<uint8_t>(field_value(a, answer_field("state740.clock_second")))};
  return {static_cast<uint16_t>(field_value(a, answer_field("state740.firmware"))),
          field_value(a, answer_field("state740.feature_flags")), clock,
          static_cast<uint16_t>(field_value(a, answer_field("state740.highest_hv"))),
          static_cast<uint16_t>(field_value(a, answer_field("state740.acquisition_state")))};
}

inline State740ExFields read_state740_ex(const uint8_t* a) {
  return {field_value(a, answer_field("state740_ex.memory_size")),
          static_cast<uint16_t>(field_value(a, answer_field("state740_ex.sample_rate_khz")))};
}

inline PowerFields read_power(const uint8_t* a) { return {field_value(a, answer_field("power.hv_actual"))}; }

inline VoltageCurrentFields read_voltage_current(const uint8_t* a) {
  constexpr const AnswerField& f = answer_field("voltage_current.readings");
  return {field_values<f.count>(a, f)};
}

inline UserDataFields read_user_data(const uint8_t* a) {
  constexpr const AnswerField& words = answer_field("user_data.words");
  constexpr const AnswerField& code = answer_field("user_data.application_code");
  UserDataFields u{field_values<words.count>(a, words), {}};
  for (size_t i = 0; i < code.count; ++i) u.application_code[i] = a[code.offset + i];
  return u;
}

inline SpectrumFields read_spectrum(const uint8_t* a) {
  constexpr const AnswerField& f = answer_field("spectrum.counts");
  return {field_values<f.count>(a, f)};
}

}  // namespace lyralink::commands
