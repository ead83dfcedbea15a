// SPDX-License-Identifier: LGPL-2.1-or-later
#include "pulsecap/core/trace_reader.h"

#include <fstream>
#include <iterator>

#include "lyralink/link/bytes.h"
#include "pulsecap/core/trace_writer.h"

namespace pulsecap {

namespace {

bool tag_at(const std::vector<uint8_t>& b, size_t at, const char* four) {
  if (at + 4 > b.size()) return false;
  for (size_t i = 0; i < 4; ++i) {
    if (b[at + i] != static_cast<uint8_t>(four[i])) return false;
  }
  return true;
}

std::optional<Trace> fail(std::string* error, const std::string& why) {
  if (error != nullptr) *error = why;
  return std::nullopt;
}

std::optional<Trace> parse_wave(const std::vector<uint8_t>& b, std::string* error) {
  using lyralink::get_u16;
  using lyralink::get_u32;
  if (b.size() < 12 || !tag_at(b, 8, "WAVE")) return fail(error, "not a WAVE file (no WAVE tag after RIFF)");
  Trace t;
  t.wave = true;
  bool have_format = false;
  size_t at = 12;
  // Walk the chunks: "fmt " first, then "data"; others are skipped.
  while (at + 8 <= b.size()) {
    const uint32_t size = get_u32(&b[at + 4]);
    const size_t body = at + 8;
    if (tag_at(b, at, "fmt ")) {
      if (size < 16 || body + 16 > b.size()) return fail(error, "WAVE format chunk too short");
      if (get_u16(&b[body]) != 1) return fail(error, "WAVE data is not PCM");
      if (get_u16(&b[body + 2]) != 1) return fail(error, "WAVE file is not mono");
      if (get_u16(&b[body + 14]) != 16) return fail(error, "WAVE samples are not 16 bits");
      t.rate = get_u32(&b[body + 4]);
      have_format = true;
    } else if (tag_at(b, at, "data")) {
      if (!have_format) return fail(error, "WAVE data before its format chunk");
      t.declared = size / 2;
      const size_t available = (b.size() - body) / 2;
      const size_t n = std::min<size_t>(t.declared, available);
      t.samples.resize(n);
      for (size_t i = 0; i < n; ++i) {
        const auto stored = static_cast<int16_t>(get_u16(&b[body + 2 * i]));
        const int32_t v = stored + kWaveMidScale;
        t.samples[i] = static_cast<uint16_t>(v < 0 ? 0 : v > 0x3FFF ? 0x3FFF : v);
      }
      return t;
    }
    at = body + size + (size & 1u);
    if (at < body) break;  // a size that wraps
  }
  return fail(error, have_format ? "WAVE file without a data chunk" : "WAVE file without a format chunk");
}

std::optional<Trace> parse_text(const std::vector<uint8_t>& b, std::string* error) {
  Trace t;
  size_t line = 1;
  size_t i = 0;
  while (i < b.size()) {
    while (i < b.size() && b[i] == ' ') ++i;
    uint32_t v = 0;
    size_t digits = 0;
    while (i < b.size() && b[i] >= '0' && b[i] <= '9') {
      v = v * 10 + static_cast<uint32_t>(b[i] - '0');
      if (v > 0x3FFF) return fail(error, "line " + std::to_string(line) + ": value above 16383");
      ++i;
      ++digits;
    }
    while (i < b.size() && b[i] == ' ') ++i;
    if (i < b.size() && b[i] == '\r') ++i;
    const bool end_of_line = i < b.size() && b[i] == '\n';
    if (digits == 0 && !end_of_line && i < b.size()) {
      return fail(error, "line " + std::to_string(line) + ": not a sample value");
    }
    if (digits > 0) {
      if (!end_of_line && i < b.size()) return fail(error, "line " + std::to_string(line) + ": not a sample value");
      t.samples.push_back(static_cast<uint16_t>(v));
    }
    if (end_of_line) ++i;
    ++line;
  }
  t.declared = static_cast<uint32_t>(t.samples.size());
  return t;
}

}  // namespace

std::optional<Trace> parse_trace(const std::vector<uint8_t>& bytes, std::string* error) {
  if (tag_at(bytes, 0, "RIFF")) return parse_wave(bytes, error);
  return parse_text(bytes, error);
}

std::optional<Trace> read_trace_file(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail(error, path + ": cannot be opened");
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return fail(error, path + ": read error");
  std::string why;
  auto t = parse_trace(bytes, &why);
  if (!t) return fail(error, path + ": " + why);
  return t;
}

}  // namespace pulsecap
