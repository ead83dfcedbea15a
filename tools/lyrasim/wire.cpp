// SPDX-License-Identifier: LGPL-2.1-or-later
#include "tools/lyrasim/wire.h"

#include <cstring>

namespace lyrasim {

void put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v & 0xFF);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
  put16(p, static_cast<uint16_t>(v & 0xFFFF));
  put16(p + 2, static_cast<uint16_t>(v >> 16));
}
uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t get32(const uint8_t* p) { return get16(p) | (static_cast<uint32_t>(get16(p + 2)) << 16); }

namespace {
uint16_t word_sum(const uint8_t* p, size_t bytes) {
  unsigned sum = 0;
  for (size_t i = 0; i + 1 < bytes; i += 2) sum += get16(p + i);
  return static_cast<uint16_t>(sum & 0xFFFF);
}
}  // namespace

bool is_bulk_code(uint16_t code) { return code == 91 || code == 92 || code == 258; }

std::vector<uint8_t> short_answer(const AnswerData& data, const Command& cmd) {
  std::vector<uint8_t> f(136, 0);
  put16(&f[0], kSync);
  std::memcpy(&f[2], data.data(), 132);
  std::memcpy(&f[108], &cmd.raw[2], 8);  // echo: code and the three words
  put16(&f[134], kEnd);
  put16(&f[128], 0);
  uint16_t sum = static_cast<uint16_t>(word_sum(&f[0], 128) + word_sum(&f[130], 6));
  put16(&f[128], sum);
  return f;
}

std::vector<uint8_t> bulk_answer(const AnswerData& data, const Command& cmd) {
  std::vector<uint8_t> f(136, 0);
  put16(&f[0], kSync);
  std::memcpy(&f[2], data.data(), 130);
  put16(&f[134], kEnd);
  uint16_t sum = static_cast<uint16_t>(word_sum(&f[0], 132) + kEnd + word_sum(cmd.raw.data(), 12));
  put16(&f[132], sum);
  return f;
}

std::vector<uint8_t> long_answer(const std::vector<uint8_t>& data, const Command& cmd) {
  const size_t len = data.size();
  std::vector<uint8_t> f(len + 14, 0);
  put16(&f[0], kSync);
  std::memcpy(&f[2], data.data(), len);
  std::memcpy(&f[2 + len], &cmd.raw[2], 8);
  uint16_t sum = static_cast<uint16_t>(word_sum(&f[2], len) + word_sum(&f[2 + len], 8));
  put16(&f[10 + len], sum);
  put16(&f[12 + len], kEnd);
  return f;
}

std::vector<uint8_t> error_answer(uint16_t error_word) {
  std::vector<uint8_t> f(136, 0);
  put16(&f[0], kSync);
  put16(&f[134], error_word);
  return f;
}

}  // namespace lyrasim
