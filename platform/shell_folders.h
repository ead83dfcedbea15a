/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Where things live for the user running us: home, the freedesktop data
// directory, the temporary directory, programs on PATH, our own file.
// Each only reads the environment, the user database or the file system,
// blocks no longer than those take, and has the fallback said below
// instead of a failure.
#include <optional>
#include <string>

#include "platform/handles.h"

namespace lyralink::platform {

// $HOME, else the password database's home, else "/".
std::string home_directory();
// $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
std::string xdg_data_home();
// ${TMPDIR:-/tmp} (TMPDIR only when absolute).
std::string temporary_directory();
// Whether the effective user is root.
bool running_as_superuser();
// The effective user.
UserId current_user_id();
// The running program's file (/proc/self/exe); "" when unknown.
std::string own_executable_path();
// The first executable regular file named `name` in the directories of
// $PATH; nullopt when there is none (or name contains a '/').
std::optional<std::string> find_program_on_path(const std::string& name);

}  // namespace lyralink::platform
