// SPDX-License-Identifier: LGPL-2.1-or-later
#include <cstdlib>

#include "platform/environment.h"

namespace lyralink::platform {

std::optional<std::string> environment_value(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

bool set_environment_value(const char* name, const std::string& value) {
  return ::setenv(name, value.c_str(), 1) == 0;
}

bool display_named() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return true;
  }
  return false;
}

}  // namespace lyralink::platform
