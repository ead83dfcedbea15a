// SPDX-License-Identifier: LGPL-2.1-or-later
// Takes over the termination requests, says "waiting", waits for one with
// no time limit and prints its number: termination.sh sends Ctrl+C (SIGINT
// to the Wine process, which Wine delivers as a console control event).
#include <cstdio>

#include "platform/event_wait.h"

namespace plat = lyralink::platform;

int main() {
  auto requests = plat::TerminationRequests::take_over();
  if (!requests) {
    std::puts("cannot take over the termination requests");
    return 1;
  }
  if (requests->take()) {
    std::puts("a request was there before any was sent");
    return 1;
  }
  std::puts("waiting");
  std::fflush(stdout);
  auto ready = plat::wait_readable({requests->waitable()}, std::nullopt);
  if (ready.size() != 1 || ready[0] != 0) {
    std::puts("the wait ended without a request");
    return 1;
  }
  auto number = requests->take();
  std::printf("took %d\n", number.value_or(-1));
  // Taken once: nothing is left, and the wait now ends at its deadline.
  if (requests->take() || !plat::wait_readable({requests->waitable()}, plat::deadline_after_ms(20)).empty()) {
    std::puts("the request was still there after it was taken");
    return 1;
  }
  std::puts("done");
  return 0;
}
