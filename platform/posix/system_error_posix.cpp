// SPDX-License-Identifier: LGPL-2.1-or-later
// The one place where errno is read and mapped onto the project's error kinds.
#include <cerrno>
#include <cstring>

#include "platform/posix/posix_error.h"
#include "platform/system_error.h"

namespace lyralink::platform {

ErrorKind posix::error_kind_of(int error_number) {
  switch (error_number) {
    case 0: return ErrorKind::none;
    case ENOENT:
    case ENXIO:
    case ENODEV: return ErrorKind::not_found;
    case EACCES:
    case EPERM: return ErrorKind::permission_denied;
    case EBUSY: return ErrorKind::busy;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
      return ErrorKind::would_block;
    case ECONNREFUSED: return ErrorKind::connection_refused;
    case EEXIST: return ErrorKind::already_exists;
    case EINTR: return ErrorKind::interrupted;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return ErrorKind::no_space;
    case EINVAL: return ErrorKind::invalid_argument;
    case ENOTTY:
    case ENOSYS:
    case EOPNOTSUPP:
#if ENOTSUP != EOPNOTSUPP
    case ENOTSUP:
#endif
      return ErrorKind::not_supported;
    case EPIPE: return ErrorKind::broken_pipe;
    case ETIMEDOUT: return ErrorKind::timed_out;
    default: return ErrorKind::other;
  }
}

SystemError posix::system_error_of(std::string operation, int error_number) {
  return SystemError{std::move(operation), error_kind_of(error_number), error_number};
}

std::string SystemError::reason() const { return error_number == 0 ? std::string() : std::strerror(error_number); }

std::string SystemError::message() const {
  if (error_number == 0) return operation;
  return operation + ": " + reason();
}

SystemError last_system_error(std::string operation) { return posix::system_error_of(std::move(operation), errno); }

}  // namespace lyralink::platform
