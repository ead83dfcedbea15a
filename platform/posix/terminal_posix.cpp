// SPDX-License-Identifier: LGPL-2.1-or-later
#include <unistd.h>

#include "platform/terminal.h"

namespace lyralink::platform {

bool standard_error_is_terminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace lyralink::platform
