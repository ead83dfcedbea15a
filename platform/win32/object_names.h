/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The Windows names of the named objects (shared memory, semaphores,
// mutexes). The platform headers take POSIX-style names, "/Name", so that
// one set of names (lyralink/link/multiplex_layout.h) serves every system;
// Windows names have no leading slash ("MultiplexServerCOM3").
#include <string>

namespace lyralink::platform::win32 {

inline std::string object_name(const std::string& name) {
  return !name.empty() && name[0] == '/' ? name.substr(1) : name;
}

}  // namespace lyralink::platform::win32
