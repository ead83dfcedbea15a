/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The process environment. None of these blocks.
#include <optional>
#include <string>

namespace lyralink::platform {

// Value of an environment variable; nullopt when unset (an empty value is a value).
std::optional<std::string> environment_value(const char* name);

// Sets an environment variable of this process (and of the children it
// starts later); false when the name is invalid or memory runs out.
bool set_environment_value(const char* name, const std::string& value);

// True when the environment names a display (DISPLAY, WAYLAND_DISPLAY or
// QT_QPA_PLATFORM set and not empty), so that a window can be tried.
// Always true on Windows, whose window system is always there.
bool display_named();

}  // namespace lyralink::platform
