/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Line rates through termios2. Kept apart from <termios.h> users because
// <asm/termbits.h> redefines the same structures.
#include <cstdint>
#include <optional>

namespace lyralink::platform::posix {

// Sets input and output rate to any value (BOTHER), e.g. 307200 or 3000000.
bool set_line_rate(int fd, uint32_t baud);

// The output rate the terminal holds. On a pseudo-terminal the master side
// reports the settings made on the terminal side.
std::optional<uint32_t> get_line_rate(int fd);

}  // namespace lyralink::platform::posix
