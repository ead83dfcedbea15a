/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The library's windows when the system's own window toolkit draws them
// from inside the library (Win32: dialogs from in-memory templates in
// lyralink.dll). On POSIX there are none here: the windows are the Qt
// module that lyralink/discovery/windows.cpp loads at run time.

// The table of lyralink/dialogs/dialogs_api.h (named here, not included:
// this layer sits below the library).
struct lyralink_dialogs_api;

namespace lyralink::platform {

// The built-in table, or null where the windows come from a loaded module.
// Never blocks; the table's start() tells whether windows can be shown.
const lyralink_dialogs_api* built_in_windows();

}  // namespace lyralink::platform
