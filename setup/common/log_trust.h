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

// Why the log may not be used, or nullopt when it may: it must be owned by
// the user running us or by root, and no group or other write bit may be
// set; every file and directory it names must be a plain absolute path.
std::optional<std::string> log_refusal(const std::string& log_path, unsigned owner, uint32_t mode,
                                       unsigned current_user, const ParsedLog& log);

}  // namespace lyralink::setup
