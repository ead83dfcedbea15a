/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The check of the application path that the path dialog (and an
// unattended --target) must pass.
#include <string>
#include <string_view>
#include <vector>

#include "platform/mount_points.h"

namespace lyralink::setup {

inline constexpr const char* kInvalidPathMessage = "This is no valid path!\n\nPlease correct it.";
inline constexpr const char* kRemovableDriveMessage = "This is a removable drive!\n\nPlease change it.";

enum class PathVerdict { ok, invalid, removable };

// The rules, in order:
// 1. The path begins with '/', has something after it, holds none of
//    " * : < > ? | , nor a control character, no "//", and no "." or ".."
//    level. (A comma would split the path where the setup script's
//    comma-separated entries insert it; a line break would split its log
//    line; a ".." level would make its log one that remover refuses.)
// 2. The drive holding it is a fixed drive, or the drive of the
//    program-files directory or of the system configuration directory.
//    Otherwise: removable.
// The check runs on the path as typed; a trailing '/' is allowed and
// removed afterwards (without_trailing_slash).
PathVerdict check_application_path(std::string_view path, const std::vector<platform::Drive>& drives,
                                   const std::string& program_files, const std::string& windows_directory);

// The message for a verdict ("" for ok).
std::string path_verdict_message(PathVerdict verdict);

// One trailing '/' removed ("/" stays).
std::string without_trailing_slash(std::string_view path);

}  // namespace lyralink::setup
