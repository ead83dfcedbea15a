/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Errors of the operating system, as the rest of the project sees them.
//
// Each backend turns its system's error numbers (errno on POSIX) into
// SystemErrors and ErrorKinds in one translation function
// (platform/posix/system_error_posix.cpp): a kind that callers decide on,
// and the system's own number, kept only so that message() can print the
// system's wording. The backend's sources still test errno for their own
// control flow (a call interrupted by a signal is retried, a full
// non-blocking buffer is waited on), but errno never leaves them: nothing
// outside a backend folder reads it or compares error numbers
// (scripts/check-platform-headers.sh); it asks for a kind.
#include <cstdint>
#include <string>

namespace lyralink::platform {

// What went wrong, in the terms the callers decide on. A backend maps each
// of its system's errors onto one kind; errors no caller tells apart are
// `other`.
enum class ErrorKind : uint8_t {
  none,                // no error
  not_found,           // no such file, object or name
  permission_denied,   // this user may not (access or operation refused)
  busy,                // the device or resource is in use
  would_block,         // the call would have to wait (a lock another process holds, a full queue)
  connection_refused,  // a peer refused: for a datagram socket, an earlier datagram was refused
  already_exists,      // the name is taken
  interrupted,         // a signal ended the call early
  no_space,            // the file system or device is full
  invalid_argument,    // the system refused an argument (an unparsable address, a zero size)
  not_supported,       // the device or file does not support the operation (not a terminal)
  broken_pipe,         // the reading end is gone
  timed_out,           // a time limit passed
  other,               // anything else
};

// What a failed system call left behind: the operation that failed, the
// kind of failure, and the system's error number for the message.
struct SystemError {
  std::string operation;             // e.g. "open /dev/ttyUSB0"
  ErrorKind kind = ErrorKind::none;  // what callers decide on
  int error_number = 0;              // the system's own number (errno on POSIX); for message() only
  // "open /dev/ttyUSB0: Device or resource busy"; just the operation when
  // there is no system error behind it.
  std::string message() const;
  // The system's wording of the error alone ("Device or resource busy");
  // "" when there is none.
  std::string reason() const;
};

// The error the calling thread's last failed system call left, with the
// operation's name. Call it right after the failed call.
SystemError last_system_error(std::string operation);

// Stores e into *out when out is not null.
inline void report(SystemError* out, SystemError e) {
  if (out != nullptr) *out = std::move(e);
}

}  // namespace lyralink::platform
