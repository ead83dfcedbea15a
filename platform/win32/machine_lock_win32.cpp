// SPDX-License-Identifier: LGPL-2.1-or-later
// The machine-wide lock on Win32: a named mutex. Its owner is a thread; the
// library takes and releases it within one export call, on one thread.
#include <windows.h>

#include "platform/machine_lock.h"

namespace lyralink::platform {

struct MachineLock::Impl {
  HANDLE mutex;
  bool held = false;
};

MachineLock::MachineLock(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

// The name of the mutex in the session's namespace: the name itself, as
// every program that shares the lock uses it.
std::string MachineLock::path_for(const std::string& name) { return name; }

std::unique_ptr<MachineLock> MachineLock::open(const std::string& name, SystemError* error) {
  // Creates the mutex, or opens it when another process made it first.
  HANDLE mutex = CreateMutexA(nullptr, FALSE, path_for(name).c_str());
  if (mutex == nullptr) {
    report(error, last_system_error("create mutex " + name));
    return nullptr;
  }
  return std::unique_ptr<MachineLock>(new MachineLock(std::make_unique<Impl>(Impl{mutex})));
}

MachineLock::~MachineLock() {
  unlock();
  CloseHandle(impl_->mutex);
}

void MachineLock::lock() {
  if (impl_->held) return;
  switch (WaitForSingleObject(impl_->mutex, INFINITE)) {
    case WAIT_OBJECT_0:
    // The holder ended without releasing it: the mutex is ours now, as a
    // lock is after the kernel drops a dead holder's.
    case WAIT_ABANDONED: impl_->held = true; break;
    default: break;  // the system refuses the wait: go on unlocked
  }
}

void MachineLock::unlock() {
  if (!impl_->held) return;
  ReleaseMutex(impl_->mutex);
  impl_->held = false;
}

}  // namespace lyralink::platform
