// SPDX-License-Identifier: LGPL-2.1-or-later
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/machine_lock.h"

namespace lyralink::platform {

std::string MachineLock::path_for(const std::string& name) {
  return "/dev/shm/lyralink-" + name + ".lock";
}

std::unique_ptr<MachineLock> MachineLock::open(const std::string& name, SystemError* error) {
  std::string path = path_for(name);
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    report(error, last_system_error("open " + path));
    return nullptr;
  }
  // The umask may have narrowed the mode; every user's processes share the lock.
  (void)fchmod(fd, 0666);
  return std::unique_ptr<MachineLock>(new MachineLock(fd));
}

MachineLock::~MachineLock() {
  unlock();
  ::close(fd_);
}

void MachineLock::lock() {
  if (held_) return;
  while (flock(fd_, LOCK_EX) != 0) {
    if (errno != EINTR) return;  // cannot lock a valid descriptor: go on unlocked
  }
  held_ = true;
}

void MachineLock::unlock() {
  if (!held_) return;
  flock(fd_, LOCK_UN);
  held_ = false;
}

}  // namespace lyralink::platform
