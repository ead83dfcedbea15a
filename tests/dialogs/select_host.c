/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* A plain C host that links only liblyralink.so (no Qt anywhere in it) and
 * opens a link with COMM_INIT_SELECT, as a lab program would:
 *
 *   select_host [--serial N] [--no-dialogs] [--splash]
 *
 * Prints "result R port P serial S" (S read from the linked analyser's
 * state answer, -1 without a link) and exits 0. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "lyralink.h"
#include "tests/dialogs/lsan_suppressions.h"
#include "tests/dialogs/select_host_common.h"

int main(int argc, char** argv) {
  LYRA_SELECT_PARAM block;
  select_host_block(&block);
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--serial") == 0 && i + 1 < argc) {
      block.serial = (uint16_t)atoi(argv[++i]);
    } else if (strcmp(argv[i], "--no-dialogs") == 0) {
      block.dialogs = 0;
    } else if (strcmp(argv[i], "--splash") == 0) {
      block.splash = 1;
    } else {
      fprintf(stderr, "usage: %s [--serial N] [--no-dialogs] [--splash]\n", argv[0]);
      return 2;
    }
  }
  int16_t result = COMM_INIT_SELECT(&block, 1000, 2, NULL);
  long serial = select_host_linked_serial(result);
  printf("result %d port %d serial %ld\n", result, (int)(int16_t)block.port, serial);
  fflush(stdout);
  COMM_CLOSE();
  return 0;
}
