// SPDX-License-Identifier: LGPL-2.1-or-later
#include <cerrno>
#include <cstring>

#include "platform/system_error.h"

namespace lyralink::platform {

std::string SystemError::message() const {
  if (error_number == 0) return operation;
  return operation + ": " + std::strerror(error_number);
}

SystemError last_system_error(std::string operation) {
  return SystemError{std::move(operation), errno};
}

}  // namespace lyralink::platform
