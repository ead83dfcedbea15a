/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The runners behind the exported command functions. Each takes the link
// state and a definition from command_set.h; every one returns status 1
// without touching the command frame when no link is open.
//
// Buffer conventions: a short answer buffer receives 132 bytes after the
// transaction whatever its status; a long answer buffer receives its block
// only on success. A null buffer is never written; the call still runs and
// returns its status.
#include <cstdint>
#include <functional>

#include "lyralink/commands/command_set.h"
#include "lyralink/commands/decoders.h"
#include "lyralink/link/link_state.h"

namespace lyralink::commands {

using link::LinkState;
using link::Status;

// One short transaction; the answer stays in the library.
Status run_command(LinkState& s, const Command& command, const Arguments& args = {});

// The first command, and the second only when the first returned 0.
Status run_two_step(LinkState& s, const TwoStep& steps);

// One short transaction; the answer data (decoded as the query says) goes
// to answer.
Status run_short_query(LinkState& s, const ShortQuery& query, uint8_t* answer, const Arguments& args = {});

// One long transaction of query.length bytes into buffer.
Status run_long_query(LinkState& s, const LongQuery& query, uint8_t* buffer, const Arguments& args = {});

// ---- the functions with a sequence or a decoding of their own ----

// Code 5. The readings are rescaled in the library's answer area, then the
// 132 bytes are copied; both whatever the status.
Status query_voltage_current(LinkState& s, uint8_t* answer, bool reading5_offset);

Status query_spectra_ex(LinkState& s, int32_t first, int32_t count, int32_t selector, uint8_t* answer);

Status query_enrichment(LinkState& s, int32_t a1, int32_t a2, int32_t a3, int32_t a4, uint8_t* answer);

// Two long blocks of 1444 bytes when the low 16 bits of flag are not 0: the
// first into buffer[0..1443], bytes 4-1443 of the second into
// buffer[1444..2883].
Status query_trigger_filter_results(LinkState& s, int32_t flag, uint8_t* buffer);

// The device clock from the host's local time (see set_local_clock).
// Status 4 and nothing sent when the time lies before the device epoch or
// beyond the 15-bit day limit.
Status set_time(LinkState& s);

// The clock source of set_time. The default reads the host's local time;
// tests put any date in its place. An empty function restores the default.
using LocalClock = std::function<LocalDateTime()>;
void set_local_clock(LocalClock clock);
LocalDateTime local_time_now();

// Header frame with the selector, then one frame per value; stops at the
// first failure. values points to ten 32-bit values (null: status 4).
Status set_ahrc_param(LinkState& s, int32_t selector, const int32_t* values);

// Four address bytes in memory order (null: status 4).
Status set_ip_address(LinkState& s, const uint8_t* address);

// Clears the transmitter (287), then six characters a frame (288); the last
// frame carries the 0-5 remaining characters and is always sent. A null
// text: status 4, nothing sent.
Status write_to_extension(LinkState& s, const char* text);

// The extension receive block (code 293, word 1 = a1) as a NUL-terminated
// text; text is untouched when the transaction fails.
Status read_from_extension(LinkState& s, char* text, int32_t maxlen);
Status read_from_extension_ex(LinkState& s, int32_t a1, char* text, int32_t maxlen);

// count (low 16 bits, 1 to 2048) bytes of detector description in chunks
// of up to four (code 308); 4 and nothing sent for another count or null
// data.
Status write_detector_info(LinkState& s, const uint8_t* data, int32_t count);

// ---- the generic entry ----

// MCA_COMM6: the command of the table row named `name` with the six numbers
// packed as the row says; 132 bytes of raw answer data to answer after the
// transaction whatever its status. 1 without a link, 2 for a name in no
// row; neither sends nor writes answer.
Status generic_command(LinkState& s, const char* name, uint8_t* answer, const Arguments& p);

}  // namespace lyralink::commands
