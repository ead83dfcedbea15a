/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Whether a standard stream is a terminal, for progress lines that only a
// person watching should see.
namespace lyralink::platform {

// True when standard error is a terminal. Never blocks.
bool standard_error_is_terminal();

}  // namespace lyralink::platform
