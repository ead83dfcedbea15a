/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// A named lock shared by every process of the machine. The kernel releases
// it when its holder dies, like an abandoned mutex.
#include <memory>
#include <string>

#include "platform/system_error.h"

namespace lyralink::platform {

class MachineLock {
 public:
  // Creates or opens the lock called name (a file in /dev/shm, mode 0666,
  // on POSIX; the named mutex `name` on Windows, where a mutex abandoned by
  // a holder that ended counts as taken). Returns null on failure, with the
  // reason in *error. Never blocks.
  static std::unique_ptr<MachineLock> open(const std::string& name, SystemError* error = nullptr);
  ~MachineLock();
  MachineLock(const MachineLock&) = delete;
  MachineLock& operator=(const MachineLock&) = delete;

  // Blocks without time limit until this process holds the lock (a no-op
  // when this object holds it already). Should the system refuse the lock
  // itself, it returns without holding it: the caller goes on unlocked.
  void lock();
  // Releases the lock; a no-op when not held. Never blocks.
  void unlock();

  // The file that backs a lock name on POSIX; the mutex's name on Windows.
  static std::string path_for(const std::string& name);

 private:
  struct Impl;
  explicit MachineLock(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace lyralink::platform
