// SPDX-License-Identifier: LGPL-2.1-or-later
// POSIX has no window toolkit of its own to build into the library: the
// windows are the Qt module liblyralink-dialogs.so, loaded when needed.
#include "platform/built_in_windows.h"

namespace lyralink::platform {

const lyralink_dialogs_api* built_in_windows() { return nullptr; }

}  // namespace lyralink::platform
