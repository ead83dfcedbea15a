/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Absolute CLOCK_MONOTONIC times for the *_clocklock / sem_clockwait calls,
// which take a deadline rather than a span.
#include <time.h>

#include <cstdint>

namespace lyralink::platform::posix {

inline timespec monotonic_after_ms(uint32_t ms) {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  t.tv_sec += static_cast<time_t>(ms / 1000u);
  t.tv_nsec += static_cast<long>(ms % 1000u) * 1000000L;
  if (t.tv_nsec >= 1000000000L) {
    t.tv_sec += 1;
    t.tv_nsec -= 1000000000L;
  }
  return t;
}

}  // namespace lyralink::platform::posix
