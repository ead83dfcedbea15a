// SPDX-License-Identifier: LGPL-2.1-or-later
// The Multiplex server's request and answer events: on Windows these are
// named auto-reset events, which is what the documented clients open
// (OpenEvent on a semaphore of the same name would fail). An event has no
// count: a post while it is still set is one post, not two. In the
// Multiplex handshake each post is waited for before the next one is made
// (the server's request threads wait all the time, a client waits for each
// answer), so posts merge only when a client has given up two answers in a
// row and both come late; the client then counts one late answer too many.
//
// As for shared memory, a name lasts while any process holds a handle, and
// the permission bits are not used (the creator's default security).
#include <windows.h>

#include "platform/named_semaphore.h"
#include "platform/win32/object_names.h"
#include "platform/win32/win32_error.h"

namespace lyralink::platform {

using win32::object_name;

struct NamedSemaphore::Impl {
  HANDLE event;
};

NamedSemaphore::NamedSemaphore(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::unique_ptr<NamedSemaphore> NamedSemaphore::create(const std::string& name, unsigned /*mode*/,
                                                       SystemError* error) {
  SetLastError(ERROR_SUCCESS);  // set to ERROR_ALREADY_EXISTS when the name is taken
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, object_name(name).c_str());
  if (event == nullptr) {
    report(error, last_system_error("create event " + name));
    return nullptr;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {  // opened, not created
    CloseHandle(event);
    report(error, win32::system_error_of("create event " + name, ERROR_ALREADY_EXISTS));
    return nullptr;
  }
  return std::unique_ptr<NamedSemaphore>(new NamedSemaphore(std::make_unique<Impl>(Impl{event})));
}

std::unique_ptr<NamedSemaphore> NamedSemaphore::open(const std::string& name, SystemError* error) {
  HANDLE event = OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, object_name(name).c_str());
  if (event == nullptr) {
    report(error, last_system_error("open event " + name));
    return nullptr;
  }
  return std::unique_ptr<NamedSemaphore>(new NamedSemaphore(std::make_unique<Impl>(Impl{event})));
}

bool NamedSemaphore::remove(const std::string& name) {
  // The event goes with its last handle; only say whether the name is there.
  HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, object_name(name).c_str());
  if (event == nullptr) return false;
  CloseHandle(event);
  return true;
}

NamedSemaphore::~NamedSemaphore() { CloseHandle(impl_->event); }

bool NamedSemaphore::post() { return SetEvent(impl_->event) != 0; }

NamedSemaphore::Wait NamedSemaphore::wait() {
  return WaitForSingleObject(impl_->event, INFINITE) == WAIT_OBJECT_0 ? Wait::signalled : Wait::failed;
}

NamedSemaphore::Wait NamedSemaphore::wait_for(uint32_t ms) {
  // INFINITE is 0xFFFFFFFF; a wait that long is one millisecond shorter.
  // WaitForSingleObject counts on the system's interrupt time, which a
  // change of the wall clock does not move.
  switch (WaitForSingleObject(impl_->event, ms == INFINITE ? INFINITE - 1 : ms)) {
    case WAIT_OBJECT_0: return Wait::signalled;
    case WAIT_TIMEOUT: return Wait::timed_out;
    default: return Wait::failed;
  }
}

bool NamedSemaphore::try_wait() { return WaitForSingleObject(impl_->event, 0) == WAIT_OBJECT_0; }

}  // namespace lyralink::platform
