// SPDX-License-Identifier: LGPL-2.1-or-later
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/machine_lock.h"

namespace lyralink::platform {

struct MachineLock::Impl {
  int fd;
  bool held = false;
};

MachineLock::MachineLock(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

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
  return std::unique_ptr<MachineLock>(new MachineLock(std::make_unique<Impl>(Impl{fd})));
}

MachineLock::~MachineLock() {
  unlock();
  ::close(impl_->fd);
}

void MachineLock::lock() {
  if (impl_->held) return;
  while (flock(impl_->fd, LOCK_EX) != 0) {
    if (errno != EINTR) return;  // cannot lock a valid descriptor: go on unlocked
  }
  impl_->held = true;
}

void MachineLock::unlock() {
  if (!impl_->held) return;
  flock(impl_->fd, LOCK_UN);
  impl_->held = false;
}

}  // namespace lyralink::platform
