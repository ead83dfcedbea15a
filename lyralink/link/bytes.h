/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Little-endian byte helpers. Every multi-byte field of the wire protocol
// and of caller records goes through these, never through a cast.
#include <cstddef>
#include <cstdint>

namespace lyralink {

inline uint16_t get_u16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t get_u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void put_u16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put_u32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// 16-bit wrap-around sum of `count` little-endian words starting at p.
inline uint16_t sum_words(const uint8_t* p, size_t count) {
  uint32_t sum = 0;
  for (size_t i = 0; i < count; ++i) sum += get_u16(p + 2 * i);
  return static_cast<uint16_t>(sum);
}

}  // namespace lyralink
