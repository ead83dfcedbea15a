/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The POSIX backend's error translation (system_error_posix.cpp), for the
// POSIX sources that hold an error number other than errno (a socket's
// pending error).
#include <string>

#include "platform/system_error.h"

namespace lyralink::platform::posix {

// The kind of an errno value; ErrorKind::none for 0.
ErrorKind error_kind_of(int error_number);

// A SystemError for an errno value that the caller holds.
SystemError system_error_of(std::string operation, int error_number);

}  // namespace lyralink::platform::posix
