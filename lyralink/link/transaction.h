/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The transaction engine: one command frame out, one checked answer back,
// repeated up to the retry count of the link.
#include <cstddef>
#include <cstdint>

#include "lyralink/link/frames.h"
#include "lyralink/link/link_state.h"

namespace lyralink::link {

// Sends the command frame as the command left it and expects a short (or
// bulk) answer, which stays in the answer area. The caller has checked that
// a link is open.
Status short_transaction(LinkState& state);

// Sends the command frame and expects a long answer with a data block of
// len bytes (even, at most 1464). On status 0 the data block, and only it,
// is copied to destination; on any other status destination is untouched.
Status long_transaction(LinkState& state, uint8_t* destination, size_t len);

}  // namespace lyralink::link
