/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* What the C host programs that call COMM_INIT_SELECT share: their
 * selection block and the serial number of the analyser they linked to. */
#ifndef LYRALINK_TESTS_DIALOGS_SELECT_HOST_COMMON_H
#define LYRALINK_TESTS_DIALOGS_SELECT_HOST_COMMON_H

#include <stdint.h>
#include <string.h>

#include "lyralink.h"

/* MCA-740s from firmware 0x1116 on are admitted, MCA-310s are not (they are
 * listed as inapplicable); windows on, any port, no serial number. */
static void select_host_block(LYRA_SELECT_PARAM* block) {
  memset(block, 0, sizeof *block);
  block->length = (uint16_t)sizeof *block;
  block->admit_310 = 0;
  block->min_fw_310 = 0xFFFF;
  block->admit_740 = 0xFFFF;
  block->min_fw_740 = 0x1116;
  block->dialogs = 0xFFFF;
  block->port = 0xFFFF;
}

/* The serial number of the linked analyser, from its state answer (offset
 * 44 of the answer's data); -1 when COMM_INIT_SELECT gave no link. */
static long select_host_linked_serial(int16_t result) {
  if (result != 1) return -1;
  uint8_t answer[132];
  memset(answer, 0, sizeof answer);
  if (LYRA_QUERY_STATE740(answer) != 0) return -1;
  return answer[44] | (answer[45] << 8);
}

#endif
