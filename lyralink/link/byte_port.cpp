// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/link/byte_port.h"

#include <algorithm>

namespace lyralink::link {

uint32_t wire_time_us(size_t n, uint32_t baud) {
  if (baud == 0) baud = 38400;
  uint64_t us = static_cast<uint64_t>(n) * 10u * 1000000u / baud;
  return us > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(us);
}

bool BytePort::drain(bool slowly, const Bytes& seen) {
  uint8_t scratch[1480];
  size_t budget = kDrainBound;
  while (budget > 0) {
    auto count = bytes_waiting();
    if (!count) return false;
    if (*count == 0) return true;
    const size_t got = read(scratch, std::min(*count, sizeof scratch));
    if (got == 0) return true;
    if (seen) seen(scratch, got);
    budget -= std::min(budget, got);
    if (slowly) platform::sleep_ms(10);
  }
  return true;
}

bool BytePort::read_exactly(uint8_t* buf, size_t n) {
  const bool whole = read(buf, n) == n;
  clear_errors();
  return whole;
}

}  // namespace lyralink::link
