/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The identities and handles that cross the platform boundary, in types of
// our own: what they stand for differs per system, and only the backend
// that made one looks inside.
#include <cstdint>

namespace lyralink::platform {

// A process, as the system numbers it (a pid on POSIX, a process ID on
// Windows; both fit).
using ProcessId = int64_t;

// A user account, as the system numbers the owner of a file (a uid on
// POSIX). Compared only with other UserIds of the same system.
using UserId = uint32_t;

// Something an event loop can wait on until it is readable (event_wait.h):
// a file descriptor on POSIX; a HANDLE or SOCKET on Windows, both of which
// fit the token. A Waitable owns nothing and duplicates nothing: it is
// usable while the object it came from lives. Only backends make one from a
// token or read its token.
class Waitable {
 public:
  constexpr Waitable() = default;
  static constexpr Waitable from_token(intptr_t token) {
    Waitable w;
    w.token_ = token;
    return w;
  }
  constexpr intptr_t token() const { return token_; }
  // False for the default (nothing to wait on).
  constexpr bool valid() const { return token_ != kNone; }

 private:
  static constexpr intptr_t kNone = -1;
  intptr_t token_ = kNone;
};

}  // namespace lyralink::platform
