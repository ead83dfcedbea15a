/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Which uninstall logs remover (and install, replacing an installation)
// may act on. A log names files to delete, so one that another user could
// have written would let that user delete our files.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "setup/common/uninstall_log.h"

namespace lyralink::setup {

// Absolute, without ".." levels and without NUL bytes.
bool is_plain_absolute_path(std::string_view path);

// The path with its empty and "." levels and a trailing '/' dropped
// ("/opt//a/./b/" is "/opt/a/b"): the form the system itself gives a
// directory it is in, which the removal script compares with. Nothing
// else changes; ".." levels stay.
std::string normal_path(std::string_view path);
// The directory part of a normal absolute path ("/" for "/x").
std::string directory_of(std::string_view path);
// The log path of remover's command line: an absolute path as it is, a
// relative one taken from `working_directory` (the directory remover was
// started in); both normalised. The trust checks below apply to the result.
std::string log_path_from_working_directory(std::string_view given, std::string_view working_directory);

// Why the log may not be used, or nullopt when it may: it must be owned by
// the user running us or by root, and no group or other write bit may be
// set; every file and directory it names must be a plain absolute path.
std::optional<std::string> log_refusal(const std::string& log_path, unsigned owner, uint32_t mode,
                                       unsigned current_user, const ParsedLog& log);

}  // namespace lyralink::setup
