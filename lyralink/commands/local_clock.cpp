// SPDX-License-Identifier: LGPL-2.1-or-later
// The host's local date and time for LYRA_SET_TIME, replaceable by tests.
#include <ctime>
#include <utility>

#include "lyralink/commands/commands.h"

namespace lyralink::commands {

namespace {

LocalDateTime read_host_clock() {
  // The device keeps local time (its epoch is midnight local time), so the
  // host's calendar fields are taken as they stand. Every caller holds the
  // library's export lock, so the shared result of localtime is not raced
  // from inside the library.
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  if (local == nullptr) return {0, 1, 1, 0, 0, 0};  // no usable clock: refused as before the epoch
  return {local->tm_year + 1900, local->tm_mon + 1, local->tm_mday, local->tm_hour, local->tm_min, local->tm_sec};
}

LocalClock& clock_source() {
  static LocalClock source;
  return source;
}

}  // namespace

void set_local_clock(LocalClock clock) { clock_source() = std::move(clock); }

LocalDateTime local_time_now() {
  const LocalClock& source = clock_source();
  return source ? source() : read_host_clock();
}

}  // namespace lyralink::commands
