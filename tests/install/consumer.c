/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* A program of a lyralink user, built against an installed lyralink (its
 * header, lyralink.pc or the CMake package): opens the analyser on the port
 * given, asks for its 740 state and prints firmware and serial number. */
#include <lyralink.h>
#include <stdio.h>

int main(int argc, char** argv) {
  const char* port = argc > 1 ? argv[1] : "COM3";
  uint8_t answer[132];
  int16_t status;
  if (!COMM_INIT_EX3(port, 1000, 3, 38400, 0)) {
    fprintf(stderr, "consumer: cannot open %s\n", port);
    return 69;
  }
  status = LYRA_QUERY_STATE740(answer);
  COMM_CLOSE();
  if (status != 0) {
    fprintf(stderr, "consumer: status %d\n", status);
    return status;
  }
  printf("firmware 0x%04x serial %u\n", (unsigned)(answer[2] | answer[3] << 8),
         (unsigned)(answer[44] | answer[45] << 8));
  return 0;
}
