// PLACEHOLDER: replaced by the win-net branch
// SPDX-License-Identifier: LGPL-2.1-or-later
// Named semaphores are not yet implemented on Windows.
#include "platform/named_semaphore.h"
#include "platform/win32/win32_error.h"

namespace lyralink::platform {

struct NamedSemaphore::Impl {};

NamedSemaphore::NamedSemaphore(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
NamedSemaphore::~NamedSemaphore() = default;

std::unique_ptr<NamedSemaphore> NamedSemaphore::create(const std::string& name, unsigned, SystemError* error) {
  report(error, win32::system_error_of("create " + name, 50));  // ERROR_NOT_SUPPORTED
  return nullptr;
}

std::unique_ptr<NamedSemaphore> NamedSemaphore::open(const std::string& name, SystemError* error) {
  report(error, win32::system_error_of("open " + name, 50));
  return nullptr;
}

bool NamedSemaphore::remove(const std::string&) { return false; }
bool NamedSemaphore::post() { return false; }
NamedSemaphore::Wait NamedSemaphore::wait() { return Wait::failed; }
NamedSemaphore::Wait NamedSemaphore::wait_for(uint32_t) { return Wait::failed; }
bool NamedSemaphore::try_wait() { return false; }

}  // namespace lyralink::platform
