// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/link/frames.h"

#include <cstring>

namespace lyralink::link {

std::optional<Status> device_error_status(uint16_t word) {
  switch (word) {
    case 0xAAA8: return Status{10};
    case 0xAAA9: return Status{9};
    case 0xAAAA: return Status{4};
    case 0xAAAB: return Status{2};
    case 0xAAAC: return Status{5};
    case 0xAAAD: return Status{6};
    case 0xAAAE: return Status{7};
    case 0xAAAF: return Status{8};
    default: return std::nullopt;
  }
}

std::optional<uint16_t> device_error_word(Status s) {
  for (uint16_t w = 0xAAA8; w <= 0xAAAF; ++w) {
    if (device_error_status(w) == s) return w;
  }
  return std::nullopt;
}

bool is_bulk_answer_code(uint16_t code) { return code == 0x005B || code == 0x005C || code == 0x0102; }

namespace {

Status error_answer_status(const uint8_t* frame) {
  if (get_u16(frame) == kSyncWord) {
    if (auto s = device_error_status(get_u16(frame + kEndOffset))) return *s;
  }
  return status::no_valid_answer;
}

}  // namespace

Status check_short_answer(const uint8_t* frame, const CommandFrame& sent) {
  if (get_u16(frame) != kSyncWord || get_u16(frame + kEndOffset) != kEndWord) {
    return error_answer_status(frame);
  }
  if (is_bulk_answer_code(sent.code())) {
    // Sync word and 65 data words, the end word, and the six words sent.
    uint16_t sum = static_cast<uint16_t>(sum_words(frame, 66) + get_u16(frame + kEndOffset) +
                                         sum_words(sent.data(), 6));
    return sum == get_u16(frame + kBulkChecksumOffset) ? status::ok : status::no_valid_answer;
  }
  if (std::memcmp(frame + kEchoOffset, sent.echo(), 8) != 0) return status::no_valid_answer;
  uint16_t sum = static_cast<uint16_t>(sum_words(frame, 64) + sum_words(frame + 130, 3));
  return sum == get_u16(frame + kShortChecksumOffset) ? status::ok : status::no_valid_answer;
}

Status check_long_answer(const uint8_t* frame, size_t frame_size, size_t len, const CommandFrame& sent) {
  if (frame_size == kShortFrameSize) return error_answer_status(frame);
  if (frame_size != len + kLongFrameOverhead || get_u16(frame) != kSyncWord) {
    return status::no_valid_answer;
  }
  if (get_u16(frame + 12 + len) != kEndWord) return status::no_valid_answer;
  if (std::memcmp(frame + 2 + len, sent.echo(), 8) != 0) return status::no_valid_answer;
  uint16_t sum = static_cast<uint16_t>(sum_words(frame + 2, len / 2) + sum_words(frame + 2 + len, 4));
  if (sum != get_u16(frame + 10 + len)) return status::no_valid_answer;
  return status::ok;
}

}  // namespace lyralink::link
