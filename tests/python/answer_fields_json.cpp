// SPDX-License-Identifier: LGPL-2.1-or-later
// Prints the library's answer-field table (lyralink/commands/answer_fields.h)
// as one JSON object, with sample answers and what the C++ readers make of
// them, for the Python package's drift test (python/tests/test_fields.py).
#include <array>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "lyralink/commands/answer_fields.h"

namespace {

namespace f = lyralink::commands;
using Answer = std::array<uint8_t, f::kAnswerDataSize>;

std::string quoted(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  return out + "\"";
}

template <typename Range>
std::string list(const Range& values) {
  std::string out = "[";
  for (auto v : values) out += (out.size() > 1 ? "," : "") + std::to_string(v);
  return out + "]";
}

// Answer data in which every byte differs from its neighbours, so that a
// field read one byte off, or with the wrong width, gives another value.
Answer pattern(unsigned seed) {
  Answer a{};
  for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<uint8_t>(i * 37 + seed * 13 + 11);
  return a;
}

std::string hex(const Answer& a) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : a) {
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  }
  return out;
}

void example(const char* name, const Answer& a, const std::string& decoded, bool last = false) {
  std::printf("    %s: {\"data\": \"%s\", \"decoded\": {%s}}%s\n", quoted(name).c_str(), hex(a).c_str(),
              decoded.c_str(), last ? "" : ",");
}

}  // namespace

int main() {
  std::printf("{\n  \"answer_size\": %zu,\n  \"fields\": [\n", f::kAnswerDataSize);
  const size_t rows = std::size(f::kAnswerFields);
  for (size_t i = 0; i < rows; ++i) {
    const f::AnswerField& r = f::kAnswerFields[i];
    std::printf("    {\"name\": %s, \"query\": %u, \"offset\": %u, \"type\": %s, \"count\": %u, \"scale\": %" PRIu32
                ", \"unit\": %s, \"host\": %s}%s\n",
                quoted(r.name).c_str(), r.query, r.offset, quoted(f::field_type_name(r.type)).c_str(), r.count, r.scale,
                quoted(r.unit).c_str(), r.host ? "true" : "false", i + 1 < rows ? "," : "");
  }
  std::printf("  ],\n  \"acquisition_idle\": %u,\n  \"collecting_states\": %s,\n", f::kAcquisitionIdle,
              list(f::kCollectingStates).c_str());
  std::string notes;
  for (uint16_t s = 0; s < 16; ++s) notes += (s > 0 ? ", " : "") + quoted(f::acquisition_note(s));
  std::printf("  \"acquisition_notes\": [%s],\n  \"feature_flags\": [", notes.c_str());
  for (size_t i = 0; i < std::size(f::kFeatureFlags); ++i) {
    std::printf("%s[%" PRIu32 ", %s]", i > 0 ? ", " : "", f::kFeatureFlags[i].bit,
                quoted(f::kFeatureFlags[i].name).c_str());
  }
  std::printf("],\n  \"first_firmware_with_rate\": %u,\n  \"fixed_sample_rate\": %" PRIu32 ",\n",
              f::kFirstFirmwareWithRate, f::kFixedSampleRate);
  std::string rates;
  for (uint16_t fw : std::array<uint16_t, 4>{0x1116, 0x1303, 0x1304, 0x1400}) {
    for (uint16_t khz : std::array<uint16_t, 3>{0, 5000, 20000}) {
      rates += std::string(rates.empty() ? "" : ", ") + "[" + std::to_string(fw) + ", " + std::to_string(khz) + ", " +
               std::to_string(f::sample_rate(fw, khz)) + "]";
    }
  }
  std::printf("  \"sample_rates\": [%s],\n", rates.c_str());
  std::printf("  \"memory_block_samples\": %zu,\n  \"sample_signal_mask\": %u,\n", f::kMemoryBlockSamples,
              f::kSampleSignalMask);

  std::printf("  \"examples\": {\n");
  const Answer state = pattern(1);
  const f::StateFields s = f::read_state(state.data());
  example("state", state,
          "\"coarse_gain\": " + std::to_string(s.coarse_gain) + ", \"hv_set\": " + std::to_string(s.hv_set) +
              ", \"hv_polarity\": " + std::to_string(s.hv_polarity) +
              ", \"acquisition_state\": " + std::to_string(s.acquisition_state));
  const Answer state740 = pattern(2);
  const f::State740Fields s7 = f::read_state740(state740.data());
  const f::DeviceClock& c = s7.clock;
  example("state740", state740,
          "\"firmware\": " + std::to_string(s7.firmware) + ", \"feature_flags\": " + std::to_string(s7.feature_flags) +
              ", \"highest_hv\": " + std::to_string(s7.highest_hv) +
              ", \"acquisition_state\": " + std::to_string(s7.acquisition_state) + ", \"clock\": " +
              list(std::array<unsigned, 6>{c.year, c.month, c.day, c.hour, c.minute, c.second}));
  const Answer state740_ex = pattern(3);
  const f::State740ExFields ex = f::read_state740_ex(state740_ex.data());
  example("state740_ex", state740_ex,
          "\"memory_size\": " + std::to_string(ex.memory_size) +
              ", \"sample_rate_khz\": " + std::to_string(ex.sample_rate_khz));
  const Answer power = pattern(4);
  example("power", power, "\"hv_actual\": " + std::to_string(f::read_power(power.data()).hv_actual));
  const Answer readings = pattern(5);
  example("voltage_current", readings, "\"readings\": " + list(f::read_voltage_current(readings.data()).readings));
  // A printable application code, so that both sides give the same text.
  Answer user = pattern(6);
  const std::string_view code = "KTBL";
  for (size_t i = 0; i < code.size(); ++i) {
    user[f::answer_field("user_data.application_code").offset + i] = static_cast<uint8_t>(code[i]);
  }
  const f::UserDataFields u = f::read_user_data(user.data());
  example("user_data", user,
          "\"words\": " + list(u.words) + ", \"application_code\": " +
              quoted(std::string(u.application_code.begin(), u.application_code.end())));
  const Answer spectrum = pattern(7);
  example("spectrum", spectrum, "\"counts\": " + list(f::read_spectrum(spectrum.data()).counts), true);
  std::printf("  }\n}\n");
  return 0;
}
