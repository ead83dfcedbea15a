#pragma once
// A mutex shared by every process that opens it by name, which survives the
// death of a holder: the next locker gets it, told that it was abandoned
// (like a Win32 mutex abandoned by a dead owner).
//
// The process that creates a shared mutex owns its name for as long as the
// object lives: openers can ask whether that owner is still running, and a
// second create of the same name fails while it is, but takes the name over
// when the owner died without removing it.
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

  // Creates the mutex `name` ("/Name") with permission bits `mode` and
  // becomes its owner. When the name exists and its owner still runs, fails
  // with EEXIST; a name left behind by a dead owner is removed and created
  // afresh. Openers see the mutex only after publish(). Never blocks.
  static std::unique_ptr<SharedMutex> create(const std::string& name, unsigned mode,
                                             SystemError* error = nullptr);
  // Opens a published mutex. Null (ENOENT) when the name does not exist or
  // its owner has not published it yet. Never blocks.
  static std::unique_ptr<SharedMutex> open(const std::string& name, SystemError* error = nullptr);
  // Removes the name; holders keep their mutex. False when absent.
  static bool remove(const std::string& name);

  ~SharedMutex();  // unmaps; does not unlock
  SharedMutex(const SharedMutex&) = delete;
  SharedMutex& operator=(const SharedMutex&) = delete;

  // Makes a created mutex visible to open(). Call it once everything the
  // mutex guards is in place.
  void publish();

  // Blocks without time limit until this thread holds the mutex.
  Lock lock();
  // Blocks at most `ms` milliseconds of the steady clock.
  Lock lock_for(uint32_t ms);
  // Releases a mutex this thread holds.
  void unlock();

  // True while the process that created the mutex still holds its name.
  // Never blocks.
  bool owner_alive() const;

 private:
  SharedMutex(int fd, void* block) : fd_(fd), block_(block) {}
  Lock finish_lock(int result);
  int fd_;
  void* block_;  // the mapped object: ready mark and the pthread mutex
};

}  // namespace lyralink::platform
