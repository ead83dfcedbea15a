/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Whether a standard stream is a terminal, for progress lines that only a
// person watching should see.
namespace lyralink::platform {

// True when standard error (fd 2) is a terminal.
bool standard_error_is_terminal();

}  // namespace lyralink::platform
