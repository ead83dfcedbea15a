/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
/* For the sanitizer builds: fontconfig keeps a cache that it never frees,
 * and libdbus a buffer of the accessibility bus connection (system
 * libraries, not ours); LeakSanitizer would report them at the exit of
 * every program that shows a window. Included once per program. */
#ifdef __cplusplus
extern "C" {
#endif
__attribute__((used)) const char* __lsan_default_suppressions(void);
__attribute__((used)) const char* __lsan_default_suppressions(void) { return "leak:libfontconfig.so\nleak:libdbus-1.so\n"; }
#ifdef __cplusplus
}
#endif
