/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* A host without Qt that loads the windows module by itself and shows its
 * windows over realistic device lists: for the X server tests (driven with
 * xdotool) and for the screenshots of the documentation.
 *
 *   dialogs_demo_host MODULE start
 *   dialogs_demo_host MODULE select [SPECIAL_IP]   -> "result N ip TEXT"
 *   dialogs_demo_host MODULE empty                 (selection dialog, nothing found)
 *   dialogs_demo_host MODULE heads|analysers       -> "result N address TEXT"
 *   dialogs_demo_host MODULE wait MESSAGE MS
 *   dialogs_demo_host MODULE splash MS             (MS after the three pictures)
 *   dialogs_demo_host MODULE message TEXT
 */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "lyralink/dialogs/dialogs_api.h"
#include "tests/dialogs/lsan_suppressions.h"

static const lyralink_dialog_line kLines[] = {
    {"MCA-740#00317 on 192.168.10.41\t FW# 12.06", 1},
    {"MCA-740#00012 on USB\t FW# 12.00", 1},
    {"MCA-740#00007 on COM3\t FW# 11.20", 1},
    {"MCA-740#00204 on 192.168.10.57\t FW# 12.06\t(in use)", 0},
    {"MCA-310#00051 on COM1\t FW# 02.10\t(unsuitable)", 0},
    {"MCA-740#00099 on COM4\t FW# 11.10\t(unsuitable)", 0},
    {"MCA-740#????? on USB\t FW# ??.??\t(inoperable)", 0},
};

static const char* const kHeads[] = {"Trebla#00042 on 192.168.10.57 (in use)", "Trebla#00007 on 192.168.10.63"};
static const char* const kAnalysers[] = {"MCA-740#00317 on 192.168.10.41", "MCA-740#00204 on 192.168.10.57 (in use)"};

static void sleep_ms(long ms) {
  struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&t, NULL);
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s MODULE start|select|empty|heads|analysers|wait|splash|message ...\n", argv[0]);
    return 2;
  }
  void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (module == NULL) {
    fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
    return 3;
  }
  /* POSIX guarantees that a function's address survives this copy. */
  lyralink_dialogs_entry_fn entry;
  void* symbol = dlsym(module, LYRALINK_DIALOGS_ENTRY);
  memcpy(&entry, &symbol, sizeof entry);
  const lyralink_dialogs_api* api = symbol != NULL ? entry() : NULL;
  if (api == NULL || api->abi_version != LYRALINK_DIALOGS_ABI_VERSION || api->size < sizeof *api) {
    fprintf(stderr, "no usable entry in %s\n", argv[1]);
    return 3;
  }
  int started = api->start();
  const char* what = argv[2];
  if (strcmp(what, "start") == 0) {
    printf("start %d\n", started);
    return 0;
  }
  if (!started) {
    printf("no display\n");
    return 4;
  }
  if (strcmp(what, "select") == 0 || strcmp(what, "empty") == 0) {
    char ip[LYRALINK_SPECIAL_IP_SIZE] = "";
    if (argc > 3) snprintf(ip, sizeof ip, "%s", argv[3]);
    int n = strcmp(what, "empty") == 0 ? 0 : (int)(sizeof kLines / sizeof kLines[0]);
    int result = api->run_selection_dialog(NULL, kLines, (uint32_t)n, ip);
    printf("result %d ip %s\n", result, ip);
  } else if (strcmp(what, "heads") == 0 || strcmp(what, "analysers") == 0) {
    char address[LYRALINK_SPECIAL_IP_SIZE] = "";
    int heads = strcmp(what, "heads") == 0;
    int result = api->run_head_selection_dialog(NULL, heads ? kHeads : kAnalysers, 2, address);
    printf("result %d address %s\n", result, address);
  } else if (strcmp(what, "wait") == 0 && argc > 4) {
    api->show_wait_window(NULL, argv[3]);
    printf("shown\n");
    fflush(stdout);
    sleep_ms(atol(argv[4]));
    api->close_wait_window();
  } else if (strcmp(what, "splash") == 0 && argc > 3) {
    api->show_splash_window();
    printf("drawn\n");
    fflush(stdout);
    sleep_ms(atol(argv[3]));
    api->close_splash_window();
  } else if (strcmp(what, "message") == 0 && argc > 3) {
    api->message_box(NULL, argv[3], "MCA Communication");
    printf("closed\n");
  } else {
    fprintf(stderr, "unknown command %s\n", what);
    return 2;
  }
  fflush(stdout);
  return 0;
}
