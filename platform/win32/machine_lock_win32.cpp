// PLACEHOLDER: replaced by the win-serial branch
// SPDX-License-Identifier: LGPL-2.1-or-later
// The machine-wide lock is not yet implemented on Windows: open fails with
// not_supported (callers then go on unlocked).
#include "platform/machine_lock.h"
#include "platform/win32/win32_error.h"

namespace lyralink::platform {

struct MachineLock::Impl {};

MachineLock::MachineLock(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
MachineLock::~MachineLock() = default;

std::unique_ptr<MachineLock> MachineLock::open(const std::string& name, SystemError* error) {
  report(error, win32::system_error_of("open lock " + name, 50));  // ERROR_NOT_SUPPORTED
  return nullptr;
}

void MachineLock::lock() {}
void MachineLock::unlock() {}
std::string MachineLock::path_for(const std::string& name) { return name; }

}  // namespace lyralink::platform
