// SPDX-License-Identifier: LGPL-2.1-or-later
// The shared mutex is a named Win32 mutex under the name itself (without
// the leading "/"), so that every program that opens that mutex takes part;
// a holder that dies leaves it abandoned, and the next wait gets it
// (WAIT_ABANDONED), which is what Lock::abandoned reports.
//
// The owner mark lives beside it, in the file mapping "<name>.owner": one
// 64-bit word with the owner's process ID, 31 bits of the owner's process
// creation time (so that a reused process ID is not taken for the owner)
// and a published bit. It is changed only by compare-and-exchange, so of
// two processes that claim a name at once exactly one gets it. Every opener
// keeps the mark mapped as long as it keeps the mutex, so the mark of a
// server that has died is still there while a client holds the mutex, and
// the next server takes the name over. A mutex with no mark beside it
// belongs to a program that claims names another way.
//
// Windows has no unlink: a named object lasts while any process holds a
// handle to it. remove() says whether the name is there and leaves it; an
// owner's claim ends when its object is destroyed (the word is cleared).
// The permission bits are not used (the creator's default security).
#include <windows.h>

#include <optional>

#include "platform/shared_mutex.h"
#include "platform/win32/object_names.h"
#include "platform/win32/win32_error.h"

namespace lyralink::platform {

using win32::object_name;

namespace {

constexpr uint64_t kPublished = 1;

std::string mark_name(const std::string& name) { return object_name(name) + ".owner"; }

// The low 31 bits of a process's creation time, shifted past the published
// bit; nullopt when the times cannot be read.
std::optional<uint64_t> creation_bits(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return std::nullopt;
  return (static_cast<uint64_t>(created.dwLowDateTime) & 0x7FFFFFFFu) << 1;
}

uint64_t claim_of_this_process() {
  return (static_cast<uint64_t>(GetCurrentProcessId()) << 32) | creation_bits(GetCurrentProcess()).value_or(0);
}

// Whether the process a claim names still runs (the very process: ID and
// creation time). A claim of 0 names nobody.
bool claimant_runs(uint64_t claim) {
  const DWORD pid = static_cast<DWORD>(claim >> 32);
  if (pid == 0) return false;
  if (pid == GetCurrentProcessId()) return (claim & ~kPublished) == claim_of_this_process();
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) {
    // A process that exists but may not be looked at (another user's) is
    // taken as running rather than declared dead.
    return GetLastError() == ERROR_ACCESS_DENIED;
  }
  const auto created = creation_bits(process);
  const bool runs = created && *created == (claim & ~kPublished & 0xFFFFFFFFu) &&
                    WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return runs;
}

// A view of the mark's word, null when it cannot be mapped. The mapping's
// handle must stay open as long as the view: Wine drops the name of a file
// mapping with its last handle, views or not.
volatile LONG64* map_word(HANDLE mapping) {
  return static_cast<volatile LONG64*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(LONG64)));
}

uint64_t read_word(volatile LONG64* word) {
  return static_cast<uint64_t>(InterlockedCompareExchange64(word, 0, 0));
}

bool exchange_word(volatile LONG64* word, uint64_t expected, uint64_t wanted) {
  return static_cast<uint64_t>(InterlockedCompareExchange64(word, static_cast<LONG64>(wanted),
                                                            static_cast<LONG64>(expected))) == expected;
}

}  // namespace

struct SharedMutex::Impl {
  HANDLE mutex = nullptr;
  HANDLE mark_mapping = nullptr;
  volatile LONG64* mark = nullptr;  // null for a mutex without the owner mark
  uint64_t claim = 0;               // an owner's own claim word; 0 for an opener

  Lock finish(DWORD result) {
    switch (result) {
      case WAIT_OBJECT_0: return Lock::taken;
      // The holder died (or its thread ended) inside its critical section;
      // the data it guarded is as it left it, and this thread now holds the
      // mutex.
      case WAIT_ABANDONED: return Lock::abandoned;
      case WAIT_TIMEOUT: return Lock::timed_out;
      default: return Lock::failed;
    }
  }
};

SharedMutex::SharedMutex(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::unique_ptr<SharedMutex> SharedMutex::create(const std::string& name, unsigned /*mode*/, SystemError* error) {
  auto fail = [&](const char* what, DWORD code) {
    report(error, win32::system_error_of(what + (" mutex " + name), code));
    return nullptr;
  };
  SetLastError(ERROR_SUCCESS);  // set to ERROR_ALREADY_EXISTS when the mark is there
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(LONG64),
                                      mark_name(name).c_str());
  if (mapping == nullptr) return fail("claim", GetLastError());
  const bool mark_was_there = GetLastError() == ERROR_ALREADY_EXISTS;
  volatile LONG64* mark = map_word(mapping);
  if (mark == nullptr) {
    const DWORD refusal = GetLastError();
    CloseHandle(mapping);
    return fail("claim", refusal);
  }
  auto release_mark = [&] {
    UnmapViewOfFile(const_cast<LONG64*>(mark));
    CloseHandle(mapping);
  };

  // The claim: the word of nobody (0) or of a dead owner becomes ours.
  const uint64_t mine = claim_of_this_process();
  bool claimed = false;
  for (int attempt = 0; attempt < 8 && !claimed; ++attempt) {
    const uint64_t current = read_word(mark);
    if (claimant_runs(current)) break;
    claimed = exchange_word(mark, current, mine);
  }
  if (!claimed) {
    release_mark();
    return fail("claim", ERROR_ALREADY_EXISTS);
  }

  SetLastError(ERROR_SUCCESS);
  HANDLE mutex = CreateMutexA(nullptr, FALSE, object_name(name).c_str());
  DWORD refusal = mutex == nullptr ? GetLastError() : ERROR_SUCCESS;
  // A mutex already under the name is taken over when a (dead) owner's
  // mark was there too: its clients may still hold it. Without a mark it
  // belongs to someone else.
  if (mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS && !mark_was_there) {
    CloseHandle(mutex);
    mutex = nullptr;
    refusal = ERROR_ALREADY_EXISTS;
  }
  if (mutex == nullptr) {
    exchange_word(mark, mine, 0);
    release_mark();
    return fail("set up", refusal);
  }
  auto impl = std::make_unique<Impl>();
  impl->mutex = mutex;
  impl->mark_mapping = mapping;
  impl->mark = mark;
  impl->claim = mine;
  return std::unique_ptr<SharedMutex>(new SharedMutex(std::move(impl)));
}

bool SharedMutex::publish(SystemError* error) {
  if (impl_->claim == 0 || (impl_->claim & kPublished) != 0) return true;  // opened, or published already
  if (!exchange_word(impl_->mark, impl_->claim, impl_->claim | kPublished)) {
    // The claim was taken from this owner.
    report(error, win32::system_error_of("publish mutex", ERROR_ALREADY_EXISTS));
    return false;
  }
  impl_->claim |= kPublished;
  return true;
}

std::unique_ptr<SharedMutex> SharedMutex::open(const std::string& name, SystemError* error) {
  HANDLE mutex = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, object_name(name).c_str());
  if (mutex == nullptr) {
    report(error, last_system_error("open mutex " + name));
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  impl->mutex = mutex;
  if (HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, mark_name(name).c_str())) {
    impl->mark_mapping = mapping;
    impl->mark = map_word(mapping);
    if (impl->mark == nullptr || (read_word(impl->mark) & kPublished) == 0) {
      // Claimed, but its owner is still setting it up.
      if (impl->mark != nullptr) UnmapViewOfFile(const_cast<LONG64*>(impl->mark));
      CloseHandle(mapping);
      CloseHandle(mutex);
      report(error, win32::system_error_of("open mutex " + name, ERROR_FILE_NOT_FOUND));
      return nullptr;
    }
  }
  return std::unique_ptr<SharedMutex>(new SharedMutex(std::move(impl)));
}

bool SharedMutex::remove(const std::string& name) {
  HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, object_name(name).c_str());
  if (mutex == nullptr) return false;
  CloseHandle(mutex);
  return true;
}

SharedMutex::~SharedMutex() {
  if (impl_->mark != nullptr) {
    // An owner's claim ends here; openers then see a server that has gone.
    if (impl_->claim != 0) exchange_word(impl_->mark, impl_->claim, 0);
    UnmapViewOfFile(const_cast<LONG64*>(impl_->mark));
  }
  if (impl_->mark_mapping != nullptr) CloseHandle(impl_->mark_mapping);
  CloseHandle(impl_->mutex);
}

SharedMutex::Lock SharedMutex::lock() { return impl_->finish(WaitForSingleObject(impl_->mutex, INFINITE)); }

SharedMutex::Lock SharedMutex::lock_for(uint32_t ms) {
  return impl_->finish(WaitForSingleObject(impl_->mutex, ms == INFINITE ? INFINITE - 1 : ms));
}

void SharedMutex::unlock() { ReleaseMutex(impl_->mutex); }

bool SharedMutex::owner_alive() const {
  return impl_->mark == nullptr || claimant_runs(read_word(impl_->mark));
}

}  // namespace lyralink::platform
