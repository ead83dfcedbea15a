// SPDX-License-Identifier: LGPL-2.1-or-later
#include "setup/common/copy_rule.h"

namespace lyralink::setup {

bool should_replace(const FileFacts& target, const FileFacts& source) {
  if (!target.version || !source.version) {
    if (!source.last_write_ns) return false;
    if (!target.last_write_ns) return true;
    return *source.last_write_ns > *target.last_write_ns;
  }
  // The 64-bit value is the most significant half above the least
  // significant one, so one comparison orders both halves.
  bool replace = target.version->file_version < source.version->file_version;
  auto target_special = target.version->string("SpecialBuild");
  if (target_special) {
    auto source_special = source.version->string("SpecialBuild");
    if (!source_special || *source_special != *target_special) replace = true;
  }
  return replace;
}

}  // namespace lyralink::setup
