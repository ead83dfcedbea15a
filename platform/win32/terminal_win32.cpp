// SPDX-License-Identifier: LGPL-2.1-or-later
#include <windows.h>

#include "platform/terminal.h"

namespace lyralink::platform {

// A console answers GetConsoleMode; a file, a pipe and the NUL device do
// not (the C runtime's isatty() says yes to NUL, so it is not asked).
bool standard_error_is_terminal() {
  DWORD mode = 0;
  HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

}  // namespace lyralink::platform
