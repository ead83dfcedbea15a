// PLACEHOLDER: replaced by the win-net branch
// SPDX-License-Identifier: LGPL-2.1-or-later
// Named shared mutexes are not yet implemented on Windows.
#include "platform/shared_mutex.h"
#include "platform/win32/win32_error.h"

namespace lyralink::platform {

struct SharedMutex::Impl {};

SharedMutex::SharedMutex(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SharedMutex::~SharedMutex() = default;

std::unique_ptr<SharedMutex> SharedMutex::create(const std::string& name, unsigned, SystemError* error) {
  report(error, win32::system_error_of("create " + name, 50));  // ERROR_NOT_SUPPORTED
  return nullptr;
}

std::unique_ptr<SharedMutex> SharedMutex::open(const std::string& name, SystemError* error) {
  report(error, win32::system_error_of("open " + name, 50));
  return nullptr;
}

bool SharedMutex::remove(const std::string&) { return false; }
bool SharedMutex::publish(SystemError* error) {
  report(error, win32::system_error_of("publish", 50));
  return false;
}
SharedMutex::Lock SharedMutex::lock() { return Lock::failed; }
SharedMutex::Lock SharedMutex::lock_for(uint32_t) { return Lock::failed; }
void SharedMutex::unlock() {}
bool SharedMutex::owner_alive() const { return false; }

}  // namespace lyralink::platform
