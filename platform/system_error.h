/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Errors of the operating system, translated in one place per platform.
#include <string>

namespace lyralink::platform {

// What a failed system call left behind: the operation that failed and the
// OS error number, kept so that a tool can print a useful line.
struct SystemError {
  std::string operation;  // e.g. "open /dev/ttyUSB0"
  int error_number = 0;   // errno on POSIX
  std::string message() const;  // "open /dev/ttyUSB0: Device or resource busy"
};

// Captures errno right after a failed call. The only place errno is read.
SystemError last_system_error(std::string operation);

// Stores e into *out when out is not null.
inline void report(SystemError* out, SystemError e) {
  if (out != nullptr) *out = std::move(e);
}

}  // namespace lyralink::platform
