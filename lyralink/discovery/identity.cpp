// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/discovery/identity.h"

#include <cstring>

#include "lyralink/link/bytes.h"

namespace lyralink::discovery {

Probe probe_frame(uint16_t code) {
  Probe p{};
  put_u16(&p[0], link::kSyncWord);
  put_u16(&p[2], code);
  put_u16(&p[10], link::kEndWord);
  return p;
}

const Probe& probe_310() {
  static const Probe p = probe_frame(kProbe310Code);
  return p;
}

const Probe& probe_740() {
  static const Probe p = probe_frame(kProbe740Code);
  return p;
}

const Probe& head_identity_query() {
  static const Probe p = probe_frame(kHeadQueryCode);
  return p;
}

bool valid_identity_answer(const uint8_t* frame, const Probe& probe_sent) {
  if (get_u16(frame) != link::kSyncWord) return false;
  if (get_u16(frame + 134) != link::kEndWord) return false;
  if (std::memcmp(frame + 108, probe_sent.data() + 2, 8) != 0) return false;
  // The other 67 words: offsets 0-126 (64 words) and 130-134 (3 words).
  const uint16_t sum = static_cast<uint16_t>(sum_words(frame, 64) + sum_words(frame + 130, 3));
  return sum == get_u16(frame + 128);
}

Identity740 read_740_fields(const uint8_t* frame) {
  Identity740 id;
  id.word2 = get_u16(frame + 2);
  id.firmware = get_u16(frame + 4);
  id.variant = get_u16(frame + 6);
  id.serial = get_u16(frame + 46);
  id.use_word = get_u16(frame + 48);
  id.use_counter = static_cast<int16_t>(get_u16(frame + 56));
  return id;
}

Identity310 read_310_fields(const uint8_t* frame) {
  return Identity310{get_u16(frame + 88), get_u16(frame + 92)};
}

bool answer_from_740(const uint8_t* frame) {
  return frame[90] == 0xFF && frame[91] == 0xFF && frame[92] == 0xFF && frame[93] == 0xFF;
}

namespace {

// Position of `needle` inside the first n bytes of `text`, or n.
size_t find_bounded(const uint8_t* text, size_t n, const char* needle) {
  const size_t k = std::strlen(needle);
  for (size_t i = 0; i + k <= n; ++i) {
    if (std::memcmp(text + i, needle, k) == 0) return i;
  }
  return n;
}

}  // namespace

std::optional<uint32_t> parse_head_answer(const uint8_t* frame, size_t size) {
  if (size != kHeadAnswerFrameSize) return std::nullopt;
  if (get_u16(frame) != link::kSyncWord || get_u16(frame + 1036) != link::kEndWord) return std::nullopt;
  if (std::memcmp(frame + 1026, head_identity_query().data() + 2, 8) != 0) return std::nullopt;
  if (sum_words(frame + 2, 516) != get_u16(frame + 1034)) return std::nullopt;

  const uint8_t* text = frame + 2;
  // A zero byte ends the text; without one the whole block counts, never
  // a byte beyond it.
  const void* zero = std::memchr(text, 0, kHeadTextSize);
  const size_t length = zero != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - text) : kHeadTextSize;
  if (length < 6 || std::memcmp(text, "Trebla", 6) != 0) return std::nullopt;
  const size_t sn = find_bounded(text, length, "SN=");
  if (sn == length) return std::nullopt;

  // Read as an unsigned decimal number: leading blanks and a plus sign are
  // passed over; a number too large for 32 bits stays at the largest value.
  size_t i = sn + 3;
  while (i < length && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i < length && text[i] == '+') ++i;
  uint64_t value = 0;
  for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    if (value > 0xFFFFFFFFull) value = 0xFFFFFFFFull;
  }
  return static_cast<uint32_t>(value);
}

}  // namespace lyralink::discovery
