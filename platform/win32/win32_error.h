/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The Win32 backend's error translation (system_error_win32.cpp), for the
// Win32 sources that hold an error code other than GetLastError()'s (a
// socket's pending error, a code a call returned).
#include <cstdint>
#include <string>

#include "platform/system_error.h"

namespace lyralink::platform::win32 {

// The kind of a Win32 or Winsock error code (the two share one number
// space: WSAGetLastError() is GetLastError()); ErrorKind::none for 0.
ErrorKind error_kind_of(uint32_t code);

// A SystemError for a code that the caller holds.
SystemError system_error_of(std::string operation, uint32_t code);

}  // namespace lyralink::platform::win32
