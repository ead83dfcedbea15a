/* SPDX-License-Identifier: LGPL-2.1-or-later */
/*
 * A host program in C, as a Windows application uses the library: it loads
 * lyralink.dll at run time, resolves every export by name and runs
 * transactions against lyrasim on a COM port.
 *
 *   dll_client DLL PORT RECORD
 *
 * DLL is the path of lyralink.dll; PORT the COM port that lyrasim serves
 * (an MCA-740 with firmware 13.04); RECORD lyrasim's frame record (a path
 * this program can open). lyrasim runs with the fault rules
 *   silent,code=272,count=1   (the first extended-state query goes unanswered)
 *   silent,code=89            (the power query is never answered)
 * Prints one line per check and exits 1 when any check failed.
 */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "include/lyralink.h"
#include "lyralink_export_names.h" /* kExportNames, kExportCount: made from lyralink.map */

static int failures = 0;

static void check(int ok, const char* what) {
  printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  if (!ok) ++failures;
}

/* Resolves one export into a function pointer of the header's type. */
#define RESOLVE(dll, name, slot)                           \
  do {                                                     \
    FARPROC address_ = GetProcAddress((dll), #name);       \
    memcpy(&(slot), &address_, sizeof(slot));              \
  } while (0)

/* Frames of lyrasim's record with this command code (bytes 2-3 of the
 * frame, little-endian). A line: "<us> <endpoint> <24 hex digits>[ ...]". */
static int frames_with_code(const char* record, unsigned code) {
  FILE* f = fopen(record, "r");
  if (f == NULL) return -1;
  char line[256];
  int count = 0;
  while (fgets(line, sizeof line, f) != NULL) {
    char endpoint[64], hex[64];
    long long us;
    if (sscanf(line, "%lld %63s %63s", &us, endpoint, hex) != 3 || strlen(hex) != 24) continue;
    char byte[3] = {0};
    memcpy(byte, hex + 4, 2);
    unsigned low = (unsigned)strtoul(byte, NULL, 16);
    memcpy(byte, hex + 6, 2);
    unsigned high = (unsigned)strtoul(byte, NULL, 16);
    if ((low | (high << 8)) == code) ++count;
  }
  fclose(f);
  return count;
}

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: dll_client DLL PORT RECORD\n");
    return 2;
  }
  const char* dll_path = argv[1];
  const char* port = argv[2];
  const char* record = argv[3];
  char text[256];

  HMODULE dll = LoadLibraryA(dll_path);
  snprintf(text, sizeof text, "LoadLibraryA(%s) (error %lu)", dll_path, dll != NULL ? 0ul : GetLastError());
  check(dll != NULL, text);
  if (dll == NULL) return 1;

  /* Every export of the list, by name. */
  int found = 0;
  for (int i = 0; i < kExportCount; ++i) {
    if (GetProcAddress(dll, kExportNames[i]) != NULL) {
      ++found;
    } else {
      printf("  missing export %s\n", kExportNames[i]);
    }
  }
  snprintf(text, sizeof text, "%d of the %d exports in lyralink.map resolve (144 expected)", found, kExportCount);
  check(found == kExportCount && kExportCount == 144, text);

  __typeof__(&COMM_INIT_EX3) comm_init_ex3 = NULL;
  __typeof__(&COMM_CLOSE) comm_close = NULL;
  __typeof__(&LYRA_QUERY_STATE740) query_state740 = NULL;
  __typeof__(&LYRA_QUERY_STATE740_EX) query_state740_ex = NULL;
  __typeof__(&LYRA_QUERY_OSCI_SCREEN) query_osci_screen = NULL;
  __typeof__(&LYRA_QUERY_POWER) query_power = NULL;
  RESOLVE(dll, COMM_INIT_EX3, comm_init_ex3);
  RESOLVE(dll, COMM_CLOSE, comm_close);
  RESOLVE(dll, LYRA_QUERY_STATE740, query_state740);
  RESOLVE(dll, LYRA_QUERY_STATE740_EX, query_state740_ex);
  RESOLVE(dll, LYRA_QUERY_OSCI_SCREEN, query_osci_screen);
  RESOLVE(dll, LYRA_QUERY_POWER, query_power);
  if (comm_init_ex3 == NULL || comm_close == NULL || query_state740 == NULL || query_state740_ex == NULL ||
      query_osci_screen == NULL || query_power == NULL) {
    check(0, "the transaction functions resolve");
    return 1;
  }

  /* 3 attempts per transaction, answer timeout 1000 ms, 38400 baud. */
  snprintf(text, sizeof text, "COMM_INIT_EX3(%s, 1000, 3, 38400, 0) opens the link", port);
  check(comm_init_ex3(port, 1000, 3, 38400, 0) != 0, text);

  /* Short transaction: 132 bytes of answer; firmware 13.04 at offset 2. */
  unsigned char answer[132 + 8];
  memset(answer, 0xEE, sizeof answer);
  int16_t st = query_state740(answer);
  snprintf(text, sizeof text, "LYRA_QUERY_STATE740: status %d, firmware 0x%02X%02X (0 and 0x1304 expected)", st,
           answer[3], answer[2]);
  check(st == 0 && answer[2] == 0x04 && answer[3] == 0x13, text);
  check(answer[132] == 0xEE, "LYRA_QUERY_STATE740 writes no byte past the 132 of the answer");

  /* Long transaction: 504 samples of the oscilloscope screen, 1008 bytes,
   * twice from the same index: the emulated signal repeats per index. */
  static unsigned char screen[2][1008 + 8];
  memset(screen, 0xEE, sizeof screen);
  int16_t first = query_osci_screen(4096, screen[0]);
  int16_t second = query_osci_screen(4096, screen[1]);
  snprintf(text, sizeof text, "LYRA_QUERY_OSCI_SCREEN twice: status %d and %d (0 expected)", first, second);
  check(first == 0 && second == 0, text);
  int nonzero = 0;
  for (int i = 0; i < 1008; ++i) nonzero += screen[0][i] != 0;
  check(nonzero > 0 && memcmp(screen[0], screen[1], 1008) == 0,
        "the two 1008-byte screens carry the same signal, not all zero");
  check(screen[0][1008] == 0xEE, "LYRA_QUERY_OSCI_SCREEN writes no byte past the 1008 of the block");

  /* A retry: the first 272 frame goes unanswered, the second attempt gets
   * the answer. */
  int before = frames_with_code(record, 272);
  st = query_state740_ex(answer);
  int after = frames_with_code(record, 272);
  snprintf(text, sizeof text, "LYRA_QUERY_STATE740_EX after one unanswered attempt: status %d, %d frames sent (0 and 2 expected)",
           st, after - before);
  check(before >= 0 && st == 0 && after - before == 2, text);

  /* A time-out: no attempt is answered; all 3 are made, then status 3. */
  before = frames_with_code(record, 89);
  st = query_power(answer);
  after = frames_with_code(record, 89);
  snprintf(text, sizeof text, "LYRA_QUERY_POWER never answered: status %d after %d frames (3 and 3 expected)", st,
           after - before);
  check(before >= 0 && st == 3 && after - before == 3, text);

  /* The link still works after the time-out. */
  st = query_state740(answer);
  snprintf(text, sizeof text, "LYRA_QUERY_STATE740 after the time-out: status %d (0 expected)", st);
  check(st == 0, text);

  comm_close();
  st = query_state740(answer);
  snprintf(text, sizeof text, "LYRA_QUERY_STATE740 after COMM_CLOSE: status %d (1, no link, expected)", st);
  check(st == 1, text);

  FreeLibrary(dll);
  printf("%s: %d failed check(s)\n", failures == 0 ? "PASS" : "FAIL", failures);
  return failures == 0 ? 0 : 1;
}
