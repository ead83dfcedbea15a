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
  // Creates or opens the lock called name (a file in /dev/shm, mode 0666).
  // Returns null on failure.
  static std::unique_ptr<MachineLock> open(const std::string& name, SystemError* error = nullptr);
  ~MachineLock();
  MachineLock(const MachineLock&) = delete;
  MachineLock& operator=(const MachineLock&) = delete;

  // Blocks without time limit until this process holds the lock.
  void lock();
  // Releases the lock; a no-op when not held.
  void unlock();

  // The file that backs a lock name.
  static std::string path_for(const std::string& name);

 private:
  explicit MachineLock(int fd) : fd_(fd) {}
  int fd_;
  bool held_ = false;
};

}  // namespace lyralink::platform
