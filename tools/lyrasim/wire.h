/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Device side of the wire protocol: the emulator builds answer frames here.
// Written from the device's point of view, independently of the library's
// checks, so that a fault in one is not mirrored by the other.
#include <array>
#include <cstdint>
#include <vector>

namespace lyrasim {

constexpr uint16_t kSync = 0x5AA5;
constexpr uint16_t kEnd = 0x9BB9;

// A received command frame.
struct Command {
  std::array<uint8_t, 12> raw{};
  uint16_t code() const { return word_at(2); }
  uint16_t word(int n) const { return word_at(2 + 2 * n); }  // parameter words 1-3
  uint8_t byte(int n) const { return raw[4 + n]; }          // parameter bytes 0-5
  uint32_t dword(int first) const { return word(first) | (static_cast<uint32_t>(word(first + 1)) << 16); }
  uint16_t word_at(int off) const { return static_cast<uint16_t>(raw[off] | (raw[off + 1] << 8)); }
  bool well_formed() const { return word_at(0) == kSync && word_at(10) == kEnd; }
};

using AnswerData = std::array<uint8_t, 132>;

void put16(uint8_t* p, uint16_t v);
void put32(uint8_t* p, uint32_t v);
uint16_t get16(const uint8_t* p);
uint32_t get32(const uint8_t* p);

// 136-byte short answer: data bytes 0-105 and 114-125 and 128-131 are
// carried (the echo and checksum take the rest).
std::vector<uint8_t> short_answer(const AnswerData& data, const Command& cmd);
// 136-byte bulk answer (spectrum and image queries): 130 data bytes.
std::vector<uint8_t> bulk_answer(const AnswerData& data, const Command& cmd);
// Long answer with a data block of data.size() bytes.
std::vector<uint8_t> long_answer(const std::vector<uint8_t>& data, const Command& cmd);
// 136-byte error answer carrying a device error word.
std::vector<uint8_t> error_answer(uint16_t error_word);

bool is_bulk_code(uint16_t code);

}  // namespace lyrasim
