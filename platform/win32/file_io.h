/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Writing a whole block to a file handle, for the Win32 file backends.
#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace lyralink::platform::win32 {

// Writes all n bytes; false (GetLastError() set) when the system takes
// fewer. WriteFile takes at most 4 GiB per call, so larger blocks go in
// several.
inline bool write_all(HANDLE h, const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (n > 0) {
    const DWORD chunk = n > 0x40000000u ? 0x40000000u : static_cast<DWORD>(n);
    DWORD written = 0;
    if (WriteFile(h, p, chunk, &written, nullptr) == 0) return false;
    if (written == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    p += written;
    n -= written;
  }
  return true;
}

}  // namespace lyralink::platform::win32
