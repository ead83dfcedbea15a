/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// How a command's arguments go into the six parameter bytes of the command
// frame, written as data: a command is its code plus a short list of
// fields, each naming where it goes (word, word pair, byte) and what it
// carries (an argument or a constant). The generic command entry and the
// exported command functions use the same fields and the same loader.
#include <array>
#include <cstddef>
#include <cstdint>

#include "lyralink/link/frames.h"

namespace lyralink::commands {

// The numeric arguments of one command, in order; unused ones are 0.
using Arguments = std::array<int32_t, 6>;

// Names an argument by position: p1 (a1) is the first.
struct Arg {
  uint8_t index;
};
// In a namespace of their own so that parameters named a1 elsewhere do not
// shadow them; the data tables bring them in with a using-directive.
namespace args {
inline constexpr Arg p1{0}, p2{1}, p3{2}, p4{3}, p5{4}, p6{5};
inline constexpr Arg a1 = p1, a2 = p2, a3 = p3, a4 = p4, a5 = p5, a6 = p6;
}  // namespace args

struct Field {
  enum class Kind : uint8_t {
    word,       // w(x): low 16 bits in parameter word `at` (1-3)
    dword,      // d(x): 32 bits in words `at` and `at`+1, low half first
    byte,       // b(x): low 8 bits in parameter byte `at` (0-5)
    word_low8,  // low 8 bits in parameter word `at`, high byte 0
  };
  Kind kind = Kind::word;
  uint8_t at = 1;
  bool constant = false;
  uint8_t arg = 0;     // argument index when !constant
  uint32_t value = 0;  // the constant when constant
};

constexpr Field w(int at, Arg a) { return {Field::Kind::word, static_cast<uint8_t>(at), false, a.index, 0}; }
constexpr Field w(int at, uint16_t v) { return {Field::Kind::word, static_cast<uint8_t>(at), true, 0, v}; }
constexpr Field d(int at, Arg a) { return {Field::Kind::dword, static_cast<uint8_t>(at), false, a.index, 0}; }
constexpr Field b(int at, Arg a) { return {Field::Kind::byte, static_cast<uint8_t>(at), false, a.index, 0}; }
constexpr Field w_low8(int at, Arg a) {
  return {Field::Kind::word_low8, static_cast<uint8_t>(at), false, a.index, 0};
}

// Up to six fields; parameter bytes that no field names stay 0.
struct Packing {
  std::array<Field, 6> fields{};
  uint8_t count = 0;
};

template <class... F>
constexpr Packing pack(F... f) {
  static_assert(sizeof...(F) <= 6, "six parameter bytes hold at most six fields");
  return Packing{{f...}, static_cast<uint8_t>(sizeof...(F))};
}

// One device command as an exported function or a table row sends it.
struct Command {
  uint16_t code = 0;
  Packing packing{};
};

// Writes the fields of `packing` into the frame; bytes no field names keep
// their value.
void apply_packing(link::CommandFrame& frame, const Packing& packing, const Arguments& args);

// Command code and fields of `command` on a frame whose parameters are
// first cleared: the frame of a command's first (or only) transaction.
void load_command(link::CommandFrame& frame, const Command& command, const Arguments& args);

// Command code and fields of `command` on the frame as the previous step
// left it: only the named words change.
void continue_command(link::CommandFrame& frame, const Command& command, const Arguments& args);

}  // namespace lyralink::commands
