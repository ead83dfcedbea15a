/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// A mutex shared by every process that opens it by name, which survives the
// death of a holder: the next locker gets it, told that it was abandoned
// (like a Win32 mutex abandoned by a dead owner).
//
// On POSIX the named object holds a robust process-shared pthread mutex at
// offset 0, so any program that maps the object and locks the mutex there
// takes part. Objects made by create() carry an owner mark after the mutex: the
// creating process holds the name for as long as it lives, openers can ask
// whether it still runs, and a second create() of the name fails while it
// does but takes the name over once its owner has died. Objects without
// the mark (made by other programs) are used as they are.
//
// On Windows the object is a named Win32 mutex ("Name", without the
// slash) and the owner mark a file mapping "Name.owner" beside it. A name
// lasts there while any process holds a handle: remove() only says whether
// it is there, and the permission bits are not used.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/system_error.h"

namespace lyralink::platform {

class SharedMutex {
 public:
  enum class Lock : uint8_t {
    taken,      // this thread holds the mutex
    abandoned,  // held now; the previous holder died while holding it
    timed_out,  // not held
    failed,     // not held: the mutex is unusable
  };

  // Claims the name `name` ("/Name") for this process and sets up a mutex
  // with permission bits `mode`, usable at once by this process. Openers
  // find it only after publish(). Fails with already_exists when the name
  // is held by a running owner or by an object without the owner mark; a
  // name left by a dead owner is taken over. Never blocks.
  static std::unique_ptr<SharedMutex> create(const std::string& name, unsigned mode,
                                             SystemError* error = nullptr);
  // Opens a published mutex. Null (not_found) when the name does not exist
  // or is only claimed, not yet published. Never blocks.
  static std::unique_ptr<SharedMutex> open(const std::string& name, SystemError* error = nullptr);
  // Removes the name; holders keep their mutex. False when absent. Never
  // blocks.
  static bool remove(const std::string& name);

  ~SharedMutex();  // unmaps; does not unlock. An owner's claim ends here.
  SharedMutex(const SharedMutex&) = delete;
  SharedMutex& operator=(const SharedMutex&) = delete;

  // Puts a created mutex under its name in one step, so that an opener
  // finds either nothing or a ready mutex. Call it once everything the
  // mutex guards is in place. False (name not published) on failure.
  // Never blocks.
  bool publish(SystemError* error = nullptr);

  // Blocks without time limit until this thread holds the mutex.
  Lock lock();
  // Blocks at most `ms` milliseconds of the steady clock.
  Lock lock_for(uint32_t ms);
  // Releases a mutex this thread holds. Never blocks.
  void unlock();

  // For an opener: false once the process that created the mutex has ended.
  // Always true for a mutex without the owner mark. Never blocks.
  bool owner_alive() const;

 private:
  struct Impl;
  explicit SharedMutex(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace lyralink::platform
