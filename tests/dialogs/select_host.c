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

int main(int argc, char** argv) {
  LYRA_SELECT_PARAM block;
  memset(&block, 0, sizeof block);
  block.length = (uint16_t)sizeof block;
  block.admit_310 = 0;
  block.min_fw_310 = 0xFFFF;
  block.admit_740 = 0xFFFF;
  block.min_fw_740 = 0x1116;
  block.dialogs = 0xFFFF;
  block.port = 0xFFFF;
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
  long serial = -1;
  if (result == 1) {
    uint8_t answer[132];
    memset(answer, 0, sizeof answer);
    /* The serial number is at frame offset 46 of the state answer, 44 of
     * its answer data. */
    if (LYRA_QUERY_STATE740(answer) == 0) serial = answer[44] | (answer[45] << 8);
  }
  printf("result %d port %d serial %ld\n", result, (int)(int16_t)block.port, serial);
  fflush(stdout);
  COMM_CLOSE();
  return 0;
}
