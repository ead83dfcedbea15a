/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The command frame, the answer frames and their checks. Plain C++, no I/O.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "lyralink/link/bytes.h"

namespace lyralink::link {

// Result of every transaction and command function.
using Status = int16_t;
namespace status {
constexpr Status ok = 0;
constexpr Status no_link = 1;
constexpr Status device_error_aaab = 2;  // also: unknown command name
constexpr Status no_valid_answer = 3;
constexpr Status device_error_aaaa = 4;  // also: argument out of range
constexpr Status out_of_range = 4;
constexpr Status device_error_aaae = 7;  // never retried
}  // namespace status

constexpr uint16_t kSyncWord = 0x5AA5;
constexpr uint16_t kEndWord = 0x9BB9;

constexpr size_t kCommandFrameSize = 12;
constexpr size_t kShortFrameSize = 136;
constexpr size_t kAnswerDataSize = 132;
constexpr size_t kDatagramPrefix = 2;
constexpr size_t kAnswerAreaSize = 1476;
constexpr size_t kLongBufferSize = 1480;
constexpr size_t kLongFrameOverhead = 14;  // sync, echo, checksum, end
constexpr size_t kMaxLongDataLength = kLongBufferSize - kDatagramPrefix - kLongFrameOverhead;  // 1464

// Offsets inside a short answer frame.
constexpr size_t kEchoOffset = 108;
constexpr size_t kShortChecksumOffset = 128;
constexpr size_t kBulkChecksumOffset = 132;
constexpr size_t kEndOffset = 134;

// The 12-byte frame sent for every command.
class CommandFrame {
 public:
  CommandFrame() { reset(0); }
  explicit CommandFrame(uint16_t code) { reset(code); }

  // Command code `code`, all parameter words 0.
  void reset(uint16_t code) {
    bytes_.fill(0);
    put_u16(&bytes_[0], kSyncWord);
    put_u16(&bytes_[2], code);
    put_u16(&bytes_[10], kEndWord);
  }
  void set_code(uint16_t code) { put_u16(&bytes_[2], code); }
  uint16_t code() const { return get_u16(&bytes_[2]); }

  // Parameter words 1-3.
  void set_word(int n, uint16_t v) { put_u16(&bytes_[2 + 2 * n], v); }
  uint16_t word(int n) const { return get_u16(&bytes_[2 + 2 * n]); }
  // Parameter bytes 0-5.
  void set_byte(int n, uint8_t v) { bytes_[4 + n] = v; }
  uint8_t byte(int n) const { return bytes_[4 + n]; }
  void clear_parameters() {
    for (int i = 0; i < 6; ++i) bytes_[4 + i] = 0;
  }

  const uint8_t* data() const { return bytes_.data(); }
  // The eight bytes an answer echoes: command code and parameter words.
  const uint8_t* echo() const { return bytes_.data() + 2; }

 private:
  std::array<uint8_t, kCommandFrameSize> bytes_;
};

// The status a device error word stands for; nullopt for any other word.
std::optional<Status> device_error_status(uint16_t word);

// The device error word for a status of 2 or 4-10 (for the emulator and tests).
std::optional<uint16_t> device_error_word(Status s);

// True for the commands whose short answer is a bulk frame without echo.
bool is_bulk_answer_code(uint16_t code);

// Checks a 136-byte short (or bulk) answer frame against the frame sent.
Status check_short_answer(const uint8_t* frame, const CommandFrame& sent);

// Checks a long answer frame of frame_size bytes for a data block of len
// bytes. The caller guarantees that frame holds at least frame_size bytes.
Status check_long_answer(const uint8_t* frame, size_t frame_size, size_t len, const CommandFrame& sent);

}  // namespace lyralink::link
