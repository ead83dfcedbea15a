// SPDX-License-Identifier: LGPL-2.1-or-later
#include <fcntl.h>
#include <semaphore.h>
#include <sys/stat.h>
#include <time.h>

#include <cerrno>

#include "platform/posix/monotonic_time.h"
#include "platform/named_semaphore.h"

namespace lyralink::platform {

using posix::monotonic_after_ms;

namespace {

// glibc keeps the named semaphore "/Name" as the file /dev/shm/sem.Name.
std::string backing_file(const std::string& name) {
  return "/dev/shm/sem." + (name.empty() || name[0] != '/' ? name : name.substr(1));
}

}  // namespace

struct NamedSemaphore::Impl {
  sem_t* sem;
};

NamedSemaphore::NamedSemaphore(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::unique_ptr<NamedSemaphore> NamedSemaphore::create(const std::string& name, unsigned mode,
                                                       SystemError* error) {
  sem_t* sem = sem_open(name.c_str(), O_CREAT | O_EXCL, static_cast<mode_t>(mode), 0u);
  if (sem == SEM_FAILED) {
    report(error, last_system_error("create semaphore " + name));
    return nullptr;
  }
  // sem_open applies the umask; the clients need the mode that was asked.
  (void)chmod(backing_file(name).c_str(), static_cast<mode_t>(mode));
  return std::unique_ptr<NamedSemaphore>(new NamedSemaphore(std::make_unique<Impl>(Impl{sem})));
}

std::unique_ptr<NamedSemaphore> NamedSemaphore::open(const std::string& name, SystemError* error) {
  sem_t* sem = sem_open(name.c_str(), 0);
  if (sem == SEM_FAILED) {
    report(error, last_system_error("open semaphore " + name));
    return nullptr;
  }
  return std::unique_ptr<NamedSemaphore>(new NamedSemaphore(std::make_unique<Impl>(Impl{sem})));
}

bool NamedSemaphore::remove(const std::string& name) { return sem_unlink(name.c_str()) == 0; }

NamedSemaphore::~NamedSemaphore() { sem_close(impl_->sem); }

bool NamedSemaphore::post() { return sem_post(impl_->sem) == 0; }

NamedSemaphore::Wait NamedSemaphore::wait() {
  while (sem_wait(impl_->sem) != 0) {
    if (errno != EINTR) return Wait::failed;
  }
  return Wait::signalled;
}

NamedSemaphore::Wait NamedSemaphore::wait_for(uint32_t ms) {
  // The monotonic clock: a change of the wall clock neither cuts nor
  // stretches the wait.
  const timespec until = monotonic_after_ms(ms);
  while (sem_clockwait(impl_->sem, CLOCK_MONOTONIC, &until) != 0) {
    if (errno == ETIMEDOUT) return Wait::timed_out;
    if (errno != EINTR) return Wait::failed;
  }
  return Wait::signalled;
}

bool NamedSemaphore::try_wait() {
  for (;;) {
    if (sem_trywait(impl_->sem) == 0) return true;
    if (errno != EINTR) return false;
  }
}

}  // namespace lyralink::platform
