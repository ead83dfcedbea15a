// SPDX-License-Identifier: LGPL-2.1-or-later
// The event wait of the Windows programs, driven by termination.sh:
//   1. says "waiting" and waits, with no time limit, on the termination
//      requests and standard input (a pipe); the script writes a line, which
//      is read and echoed as "read LINE";
//   2. waits again; the script sends Ctrl+C (SIGINT to the Wine process,
//      which Wine delivers as a console control event): "took 2";
//   3. waits on standard input alone; the script closes it: "end of input".
// Any other outcome is printed and ends the program with status 1.
#include <cstdio>
#include <string>

#include "platform/event_wait.h"

namespace plat = lyralink::platform;

namespace {
int failed(const char* what) {
  std::printf("%s\n", what);
  return 1;
}
}  // namespace

int main() {
  auto requests = plat::TerminationRequests::take_over();
  if (!requests) return failed("cannot take over the termination requests");
  if (requests->take()) return failed("a request was there before any was sent");
  const std::vector<plat::Waitable> both{requests->waitable(), plat::standard_input()};
  std::puts("waiting");
  std::fflush(stdout);

  // 1. A line on standard input.
  if (plat::wait_readable(both, std::nullopt) != std::vector<size_t>{1}) return failed("no input seen");
  std::string line;
  char buf[64];
  while (line.find('\n') == std::string::npos) {
    const long n = plat::read_some(plat::standard_input(), buf, sizeof buf);
    if (n <= 0) {
      if (n == 0) return failed("end of input before the line");
      if (plat::wait_readable({plat::standard_input()}, plat::deadline_after_ms(5000)).empty()) {
        return failed("the rest of the line did not come");
      }
      continue;
    }
    line.append(buf, static_cast<size_t>(n));
  }
  if (plat::read_some(plat::standard_input(), buf, sizeof buf) != -1) return failed("more input than the line");
  std::printf("read %s", line.c_str());
  std::fflush(stdout);

  // 2. Ctrl+C.
  if (plat::wait_readable(both, std::nullopt) != std::vector<size_t>{0}) return failed("the wait ended without a request");
  auto number = requests->take();
  std::printf("took %d\n", number.value_or(-1));
  // Taken once: nothing is left, and the wait now ends at its deadline.
  if (requests->take() || !plat::wait_readable({requests->waitable()}, plat::deadline_after_ms(20)).empty()) {
    return failed("the request was still there after it was taken");
  }
  std::fflush(stdout);

  // 3. The writer closes standard input.
  if (plat::wait_readable({plat::standard_input()}, std::nullopt) != std::vector<size_t>{0}) {
    return failed("the end of input was not seen");
  }
  if (plat::read_some(plat::standard_input(), buf, sizeof buf) != 0) return failed("no end of input on read");
  std::puts("end of input");
  return 0;
}
