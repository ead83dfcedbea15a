/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Whether another process holds a file so that replacing it now would hurt
// that process.
#include <string>

namespace lyralink::platform {

// True when `path` is a running program (the kernel refuses writing to it,
// ETXTBSY) or another process has it open for writing. Scans /proc, so it
// sees the processes this user may look at (all of them for root). False
// for a missing file.
bool file_in_use(const std::string& path);

}  // namespace lyralink::platform
