/* SPDX-License-Identifier: LGPL-2.1-or-later */
/*
 * A Windows host program that opens its link as a lab program does, and
 * then shows what a second program would find of the bridge devices the
 * search went through:
 *
 *   search_host [--serial N] [--no-dialogs] [--ethernet|--heads] [--bridges DLL] [--hold]
 *
 * Calls COMM_INIT_SELECT, or with --ethernet COMM_INIT_ETHERNET and with
 * --heads COMM_INIT_ETHERNET_TREBLA (serial number N, 0 to choose in the
 * head selection dialog). Prints "result R port P serial S": P the port the
 * selection block hands back (-1 for the two Ethernet calls, which have
 * none), S read from the linked analyser's state answer (-1 without a link).
 * With --bridges DLL (the bridge library the search used, by the same name,
 * so that this process gets the same module) then "bridges W..." with one
 * word per device: "held" when FT_Open finds it open, "free" when it opens
 * (it is closed again at once), "errorN" for any other status N. With
 * --hold it then prints "holding" and keeps the link until a line arrives
 * on standard input, so that the test can look at the ports from outside.
 * Exits 0 unless its arguments are wrong.
 */
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "lyralink.h"
#include "tests/dialogs/select_host_common.h"

typedef uint32_t (*ListDevices)(void* count, void* unused, uint32_t flags);
typedef uint32_t (*OpenDevice)(int index, void** handle);
typedef uint32_t (*CloseDevice)(void* handle);

/* The bridge library's view of its devices from this process. */
static void print_bridges(const char* library) {
  HMODULE dll = LoadLibraryA(library);
  ListDevices list = NULL;
  OpenDevice open = NULL;
  CloseDevice close = NULL;
  if (dll != NULL) {
    FARPROC f = GetProcAddress(dll, "FT_ListDevices");
    memcpy(&list, &f, sizeof list);
    f = GetProcAddress(dll, "FT_Open");
    memcpy(&open, &f, sizeof open);
    f = GetProcAddress(dll, "FT_Close");
    memcpy(&close, &f, sizeof close);
  }
  uint32_t count = 0;
  const uint32_t kNumberOnly = 0x80000000u; /* FT_ListDevices: the number of devices */
  if (list == NULL || open == NULL || close == NULL || list(&count, NULL, kNumberOnly) != 0) {
    printf("bridges unreadable\n");
    return;
  }
  printf("bridges");
  for (uint32_t i = 0; i < count; ++i) {
    void* handle = NULL;
    uint32_t status = open((int)i, &handle);
    if (status == 0) {
      close(handle);
      printf(" free");
    } else if (status == 3) { /* FT_DEVICE_NOT_OPENED: another handle has it */
      printf(" held");
    } else {
      printf(" error%u", (unsigned)status);
    }
  }
  printf("\n");
}

int main(int argc, char** argv) {
  LYRA_SELECT_PARAM block;
  select_host_block(&block); /* an MCA-310 is listed as inapplicable */
  const char* bridges = NULL;
  int hold = 0;
  enum { kSelect, kEthernet, kHeads } call = kSelect;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--serial") == 0 && i + 1 < argc) {
      block.serial = (uint16_t)atoi(argv[++i]);
    } else if (strcmp(argv[i], "--no-dialogs") == 0) {
      block.dialogs = 0;
    } else if (strcmp(argv[i], "--bridges") == 0 && i + 1 < argc) {
      bridges = argv[++i];
    } else if (strcmp(argv[i], "--hold") == 0) {
      hold = 1;
    } else if (strcmp(argv[i], "--ethernet") == 0) {
      call = kEthernet;
    } else if (strcmp(argv[i], "--heads") == 0) {
      call = kHeads;
    } else {
      fprintf(stderr, "usage: %s [--serial N] [--no-dialogs] [--ethernet|--heads] [--bridges DLL] [--hold]\n", argv[0]);
      return 2;
    }
  }
  int16_t result;
  int port = -1;
  if (call == kEthernet) {
    result = COMM_INIT_ETHERNET(block.serial, 1000, 2, NULL);
  } else if (call == kHeads) {
    result = COMM_INIT_ETHERNET_TREBLA(block.serial, 1000, 2, NULL);
  } else {
    result = COMM_INIT_SELECT(&block, 1000, 2, NULL);
    port = (int16_t)block.port;
  }
  long serial = select_host_linked_serial(result);
  printf("result %d port %d serial %ld\n", result, port, serial);
  if (bridges != NULL) print_bridges(bridges);
  if (hold) {
    printf("holding\n");
    fflush(stdout);
    char line[16];
    if (fgets(line, sizeof line, stdin) == NULL) line[0] = '\0';
  }
  fflush(stdout);
  COMM_CLOSE();
  return 0;
}
