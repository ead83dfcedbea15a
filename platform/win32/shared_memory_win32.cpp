// PLACEHOLDER: replaced by the win-net branch
// SPDX-License-Identifier: LGPL-2.1-or-later
// Named shared memory is not yet implemented on Windows.
#include "platform/shared_memory.h"
#include "platform/win32/win32_error.h"

namespace lyralink::platform {

std::unique_ptr<SharedMemory> SharedMemory::create(const std::string& name, size_t, unsigned, SystemError* error) {
  report(error, win32::system_error_of("create " + name, 50));  // ERROR_NOT_SUPPORTED
  return nullptr;
}

std::unique_ptr<SharedMemory> SharedMemory::open(const std::string& name, SystemError* error) {
  report(error, win32::system_error_of("open " + name, 50));
  return nullptr;
}

bool SharedMemory::remove(const std::string&) { return false; }

SharedMemory::~SharedMemory() = default;

}  // namespace lyralink::platform
