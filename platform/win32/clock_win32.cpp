// SPDX-License-Identifier: LGPL-2.1-or-later
// Waits and process times on Windows. Sleep() counts in the scheduler's
// ticks (up to 15.6 ms); a span below a millisecond or between ticks is
// waited on a high-resolution waitable timer where the system has one.
#include <windows.h>

#include "platform/clock.h"

namespace lyralink::platform {

namespace {

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

// Waits about `us` microseconds on a waitable timer; false when no timer
// could be made (the caller then falls back to Sleep).
bool timer_wait(uint32_t us) {
  HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
  // Systems before Windows 10 1803 refuse the flag: a plain timer then.
  if (timer == nullptr) timer = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
  if (timer == nullptr) return false;
  LARGE_INTEGER due;
  due.QuadPart = -static_cast<LONGLONG>(us) * 10;  // relative, in 100 ns units
  bool ok = SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE) != 0 &&
            WaitForSingleObject(timer, INFINITE) == WAIT_OBJECT_0;
  CloseHandle(timer);
  return ok;
}

}  // namespace

int milliseconds_until(TimePoint deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
}

void sleep_us(uint32_t us) {
  if (us == 0) return;
  // The whole span, however the waits below round it.
  const TimePoint end = Clock::now() + std::chrono::microseconds(us);
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(end - Clock::now()).count();
    if (left <= 0) return;
    if (!timer_wait(static_cast<uint32_t>(left))) Sleep(static_cast<DWORD>((left + 999) / 1000));
  }
}

void sleep_ms(uint32_t ms) {
  if (ms == 0) return;
  sleep_us(ms * 1000u);
}

void yield_processor() { SwitchToThread(); }

uint64_t process_cpu_time_us() {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user) == 0) return 0;
  auto ticks = [](const FILETIME& t) {
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;  // 100 ns units
  };
  return (ticks(kernel) + ticks(user)) / 10u;
}

}  // namespace lyralink::platform
