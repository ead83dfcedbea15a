/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Whether install copies a file over a target that already exists.
#include <cstdint>
#include <optional>

#include "platform/version_info.h"

namespace lyralink::setup {

struct FileFacts {
  std::optional<platform::VersionInfo> version;  // nullopt: no readable version information
  std::optional<int64_t> last_write_ns;          // nullopt: cannot be read
};

// The version rule, in order:
// - either file without version information: copy only when the source was
//   written later than the target;
// - otherwise by the fixed file version (most, then least significant
//   half): an older target is replaced, the same or a newer one kept;
// - a target with a "SpecialBuild" string that the source lacks or has
//   with another text is replaced, whatever the versions say.
bool should_replace(const FileFacts& target, const FileFacts& source);

}  // namespace lyralink::setup
