#pragma once
// The barrier at every export: one process-wide recursive lock, and no
// exception ever crosses the C boundary.
#include <mutex>

#define LYRALINK_EXPORT extern "C" __attribute__((visibility("default")))

namespace lyralink::exports {

// Held by every exported function for its whole run, so that a host calling
// from several threads cannot tear the shared command frame and answer area.
std::recursive_mutex& api_mutex();

// Runs body under the lock; an exception inside becomes on_failure.
template <class R, class F>
R guarded(R on_failure, F&& body) noexcept {
  try {
    std::lock_guard<std::recursive_mutex> hold(api_mutex());
    return body();
  } catch (...) {
    return on_failure;
  }
}

template <class F>
void guarded_void(F&& body) noexcept {
  try {
    std::lock_guard<std::recursive_mutex> hold(api_mutex());
    body();
  } catch (...) {
  }
}

}  // namespace lyralink::exports
