/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
/* The interface between liblyralink.so and its windows module
 * liblyralink-dialogs.so (Qt 6 Widgets), which the library loads with dlopen
 * the first time a window is needed. Plain C, so that either side can be
 * rebuilt alone; abi_version changes whenever a member changes. On Windows
 * the same table is built into lyralink.dll (Win32 dialogs,
 * platform/win32/dialogs_win32.cpp).
 *
 * Every function may be called from any thread; it runs the window on the
 * thread that owns the QApplication (the host's, or the module's own GUI
 * thread) and returns when the window is done. `owner` is an opaque value:
 * a live QWidget of this process becomes the window's parent, anything else
 * (null, a foreign handle, garbage) counts as no owner.
 *
 * On Windows a window belongs to the thread that creates it: each call runs
 * its window on the calling thread (the dialogs their own modal loops), and
 * `owner` is a window handle, the parent when it names a live window.
 */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define LYRALINK_DIALOGS_ABI_VERSION 1u
#define LYRALINK_DIALOGS_ENTRY "lyralink_dialogs_api"
#define LYRALINK_SPECIAL_IP_SIZE 16 /* a dotted address of at most 15 characters and its zero */

/* One line of the selection dialog, in device-list order. */
typedef struct lyralink_dialog_line {
  const char* text; /* the list text (at most 59 characters, tabs included) */
  int32_t applicable; /* nonzero: upper list (selectable), 0: lower list */
} lyralink_dialog_line;

typedef struct lyralink_dialogs_api {
  uint32_t abi_version; /* LYRALINK_DIALOGS_ABI_VERSION */
  uint32_t size;        /* sizeof(lyralink_dialogs_api) */

  /* Starts the module's GUI side once: 1 when windows can be shown, 0 when
   * no display can be reached (then every other call shows nothing). Never
   * aborts the process. */
  int32_t (*start)(void);

  /* The selection dialog over `count` lines. special_ip (16 bytes) is read
   * before and written back after, whatever the result. Returns the index
   * of the chosen line (= device-list index), -2 Cancel, -3 Redetect. */
  int32_t (*run_selection_dialog)(void* owner, const lyralink_dialog_line* lines, uint32_t count,
                                  char* special_ip);

  /* The head selection dialog over `count` list texts. Returns 1 (OK) with
   * the chosen line's device address in address (16 bytes), 2 otherwise. */
  int32_t (*run_head_selection_dialog)(void* owner, const char* const* texts, uint32_t count, char* address);

  /* The wait window with `message` (shown and painted before returning);
   * a second show replaces the first window. */
  void (*show_wait_window)(void* owner, const char* message);
  void (*close_wait_window)(void);

  /* The splash window: returns after its three pictures have been drawn
   * (about 3 s); it stays up until close_splash_window. */
  void (*show_splash_window)(void);
  void (*close_splash_window)(void);

  /* An information message box with an OK button. */
  void (*message_box)(void* owner, const char* text, const char* caption);

  /* Repaints `owner` at once when it is a live widget. */
  void (*repaint_window)(void* owner);
} lyralink_dialogs_api;

typedef const lyralink_dialogs_api* (*lyralink_dialogs_entry_fn)(void);

#ifdef __cplusplus
}
#endif
