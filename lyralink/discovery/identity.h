/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The two probes every search sends, the identity answer they bring back,
// and the measuring heads' identity answer. Plain C++, no I/O.
//
// An identity answer is a 136-byte short answer frame; offsets below are
// frame offsets (answer data offset + 2).
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "lyralink/link/frames.h"

namespace lyralink::discovery {

using Probe = std::array<uint8_t, link::kCommandFrameSize>;

constexpr uint16_t kProbe310Code = 0x005A;   // QUERY_STATE: every analyser answers it
constexpr uint16_t kProbe740Code = 0x0101;   // CMD_QUERY_STATE740
constexpr uint16_t kHeadQueryCode = 0x0108;  // the EEPROM information query

// A5 5A <code> 00 00 00 00 00 00 B9 9B
Probe probe_frame(uint16_t code);
const Probe& probe_310();
const Probe& probe_740();
const Probe& head_identity_query();

constexpr size_t kIdentityAnswerSize = 136;

// The four checks: sync word at 0, end word at 134, the command echo at
// 108-115 equal to bytes 2-9 of the probe, and the checksum word at 128
// equal to the sum of the other 67 words. A device error word in place of
// the end word fails the check.
bool valid_identity_answer(const uint8_t* frame, const Probe& probe_sent);

// Fields of an answer to the 740 probe.
struct Identity740 {
  uint16_t word2 = 0;     // nonzero in a genuine 740 answer
  uint16_t firmware = 0;  // high byte major, low byte minor
  uint16_t variant = 0;
  uint16_t serial = 0;
  uint16_t use_word = 0;
  int16_t use_counter = 0;
  // In use by another application: use word 0 and use counter above 0.
  bool in_use() const { return use_word == 0 && use_counter > 0; }
};
Identity740 read_740_fields(const uint8_t* frame);

// Fields of an answer to the 310 probe.
struct Identity310 {
  uint16_t serial = 0;
  uint16_t firmware = 0;
};
Identity310 read_310_fields(const uint8_t* frame);

// Bytes 90-93 all 0xFF: an MCA-740 answered the 310 probe, and the 310
// fields are not valid.
bool answer_from_740(const uint8_t* frame);

// ---- measuring heads ----

constexpr size_t kHeadAnswerDatagramSize = 1040;  // 2-byte prefix + 1038-byte frame
constexpr size_t kHeadAnswerFrameSize = 1038;
constexpr size_t kHeadTextSize = 1024;

// The head's own serial number from a 1038-byte head identity answer frame,
// or nullopt when the frame is not one: sync word, end word at 1036, the
// echo of the head query at 1026, the checksum word at 1034 over the words
// at 2-1033, and a text at 2 that begins with "Trebla" and holds "SN=".
// The text is searched only inside its 1024-byte block, terminated or not;
// the number is the decimal digits after the first "SN=" (saturating at
// 4294967295; none gives 0).
std::optional<uint32_t> parse_head_answer(const uint8_t* frame, size_t size);

}  // namespace lyralink::discovery
