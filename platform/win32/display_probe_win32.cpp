// SPDX-License-Identifier: LGPL-2.1-or-later
// The window-system checks on Windows. There is no X server to ask and no
// Unix socket to knock on: windows are the system's own, always there.
#include <windows.h>

#include <exception>
#include <thread>

#include "platform/display_probe.h"

namespace lyralink::platform {

bool library_loads(const std::string& path) {
  DWORD old_mode = 0;
  const bool quiet = SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &old_mode) != 0;
  HMODULE module = LoadLibraryA(path.c_str());
  if (quiet) SetThreadErrorMode(old_mode, nullptr);
  return module != nullptr;  // stays loaded, as on POSIX
}

std::unique_ptr<XDisplayConnection> XDisplayConnection::open(const std::string&) { return nullptr; }

XDisplayConnection::~XDisplayConnection() = default;

bool unix_socket_accepts(const std::string&) { return false; }

// Windows delivers no asynchronous signals to threads (a console's Ctrl+C
// handler runs on a thread of its own), so a plain thread is enough.
bool start_detached_thread(std::function<void()> body) {
  try {
    std::thread(std::move(body)).detach();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace lyralink::platform
