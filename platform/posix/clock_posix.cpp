// SPDX-License-Identifier: LGPL-2.1-or-later
#include <sched.h>
#include <time.h>

#include <cerrno>

#include "platform/clock.h"

namespace lyralink::platform {

int milliseconds_until(TimePoint deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
}

void sleep_us(uint32_t us) {
  timespec request{static_cast<time_t>(us / 1000000u), static_cast<long>(us % 1000000u) * 1000L};
  // Sleep the whole span even when a signal interrupts it.
  while (nanosleep(&request, &request) != 0 && errno == EINTR) {
  }
}

void sleep_ms(uint32_t ms) {
  if (ms == 0) return;
  sleep_us(ms * 1000u);
}

void yield_processor() { sched_yield(); }

uint64_t process_cpu_time_us() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000000u + static_cast<uint64_t>(t.tv_nsec) / 1000u;
}

}  // namespace lyralink::platform
