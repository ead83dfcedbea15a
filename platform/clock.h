/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The steady process clock and the plain waits. Deadlines are steady-clock
// points: wall-clock changes never stretch or cut a device wait.
#include <chrono>
#include <cstdint>

namespace lyralink::platform {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

inline TimePoint deadline_after_ms(uint32_t ms) {
  return Clock::now() + std::chrono::milliseconds(ms);
}

// Milliseconds left until the deadline, 0 once it has passed.
int milliseconds_until(TimePoint deadline);

// Blocks the calling thread for ms milliseconds (0: returns at once).
void sleep_ms(uint32_t ms);

// Blocks for the given number of microseconds.
void sleep_us(uint32_t us);

// CPU time this process has used so far (user + system), in microseconds.
uint64_t process_cpu_time_us();

// Gives the rest of the time slice to another runnable thread; never blocks.
void yield_processor();

}  // namespace lyralink::platform
