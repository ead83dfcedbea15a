// SPDX-License-Identifier: LGPL-2.1-or-later
// The process environment as the system holds it (the block that child
// processes inherit), not the C runtime's copy of it.
#include <windows.h>

#include <cstring>
#include <vector>

#include "platform/environment.h"

namespace lyralink::platform {

std::optional<std::string> environment_value(const char* name) {
  std::vector<char> buf(256);
  while (true) {
    SetLastError(ERROR_SUCCESS);
    const DWORD n = GetEnvironmentVariableA(name, buf.data(), static_cast<DWORD>(buf.size()));
    // 0 is both "unset" and "set and empty"; only the error tells them apart.
    if (n == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    if (n < buf.size()) return std::string(buf.data(), n);
    buf.resize(n);  // n counts the terminating zero when the buffer was short
  }
}

bool set_environment_value(const char* name, const std::string& value) {
  // As setenv: no empty name, no '=' in it.
  if (name == nullptr || name[0] == '\0' || std::strchr(name, '=') != nullptr) return false;
  return SetEnvironmentVariableA(name, value.c_str()) != 0;
}

// Windows always has a window system to show a window on; whether the
// library can show one is up to its windows module.
bool display_named() { return true; }

}  // namespace lyralink::platform
