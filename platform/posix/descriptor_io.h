/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Small descriptor helpers shared by the POSIX sources.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace lyralink::platform::posix {

// Writes all `size` bytes, retrying on EINTR. False on failure with errno
// set; a write that takes nothing without an error counts as a full device
// (ENOSPC).
inline bool write_all(int fd, const void* data, size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t put = ::write(fd, bytes, size);
    if (put > 0) {
      bytes += put;
      size -= static_cast<size_t>(put);
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put == 0) errno = ENOSPC;
    return false;
  }
  return true;
}

// A waitpid status as a shell reports it: the exit code, or 128 + signal.
inline int exit_status_of(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw); }

}  // namespace lyralink::platform::posix
