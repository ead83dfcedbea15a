// SPDX-License-Identifier: LGPL-2.1-or-later
// A second process for the transaction-lock test: opens a serial port with
// or without the lock and runs a number of short transactions.
//   lock_client PORT COUNT LOCK
#include <cstdio>
#include <cstdlib>

#include "lyralink/link/link.h"
#include "lyralink/link/transaction.h"

using namespace lyralink::link;

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: lock_client PORT COUNT LOCK\n");
    return 2;
  }
  LinkState& s = link_state();
  if (open_port(s, argv[1], 2000, 1, 38400, static_cast<uint16_t>(std::atoi(argv[3]))) == 0) {
    std::printf("cannot open %s\n", argv[1]);
    return 1;
  }
  std::printf("open\n");
  std::fflush(stdout);
  // Wait for the go, so that both processes start together.
  char go[8];
  if (std::fgets(go, sizeof go, stdin) == nullptr) return 1;
  int failures = 0;
  for (int i = 0; i < std::atoi(argv[2]); ++i) {
    s.command.reset(0x5A);
    if (short_transaction(s) != 0) ++failures;
  }
  close_link(s);
  std::printf("done %d\n", failures);
  return failures == 0 ? 0 : 1;
}
