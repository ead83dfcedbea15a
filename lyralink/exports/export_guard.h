/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The barrier at every export: one process-wide recursive lock, and no
// exception ever crosses the C boundary.
#include <exception>
#include <mutex>

#include "lyralink/link/wire_log.h"

// LYRALINK_EXPORT, the mark of an exported function, comes from the build
// (lyralink/CMakeLists.txt): default visibility for the ELF library,
// __declspec(dllexport) for lyralink.dll. Either way the export list decides
// what is visible: the version script, or the module definition file made
// from it.

namespace lyralink::exports {

// Held by every exported function for its whole run, so that a host calling
// from several threads cannot tear the shared command frame and answer area.
std::recursive_mutex& api_mutex();

// The reason an export failed, to the wire log (reason null: unknown).
inline void log_export_failure(const char* export_name, const char* reason) noexcept {
  try {
    link::wire_log().write_exception(export_name, reason);
  } catch (...) {
    // The log itself could not be made: the status is all there is.
  }
}

// Runs body under the lock; an exception inside becomes on_failure. The
// caller sees only the status (out of memory looks like a silent
// analyser), so the reason goes to the wire log with the export's name
// (export_name: the exported function, __func__ at the call).
template <class R, class F>
R guarded(const char* export_name, R on_failure, F&& body) noexcept {
  std::unique_lock<std::recursive_mutex> hold(api_mutex(), std::defer_lock);
  try {
    hold.lock();
    return body();
  } catch (const std::exception& e) {
    log_export_failure(export_name, e.what());
  } catch (...) {
    log_export_failure(export_name, nullptr);
  }
  return on_failure;
}

template <class F>
void guarded_void(const char* export_name, F&& body) noexcept {
  (void)guarded(export_name, 0, [&] {
    body();
    return 0;
  });
}

}  // namespace lyralink::exports
