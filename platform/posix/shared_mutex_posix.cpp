// SPDX-License-Identifier: LGPL-2.1-or-later
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <new>

#include "platform/posix/monotonic_time.h"
#include "platform/shared_mutex.h"

namespace lyralink::platform {

using posix::monotonic_after_ms;

namespace {

// The shared object: the mutex first, where every program looks for it,
// then the owner mark of objects made by create().
struct MutexObject {
  pthread_mutex_t mutex;
  uint32_t owner_mark;
  uint32_t reserved;
};
constexpr uint32_t kOwnerMark = 0x4C4E574F;  // "OWNL": an owner holds the claim

MutexObject& object_of(void* block) { return *static_cast<MutexObject*>(block); }

// glibc keeps the shared memory object "/Name" as the file /dev/shm/Name;
// publishing renames it there.
std::string backing_file(const std::string& name) { return "/dev/shm" + name; }

// Ownership is an open-file-description write lock on the object: the
// kernel drops it when the owner's descriptor closes, also when the owner
// is killed, so a dead owner is recognised without trusting process IDs.
bool take_ownership(int fd) {
  struct flock claim {};
  claim.l_type = F_WRLCK;
  claim.l_whence = SEEK_SET;
  return fcntl(fd, F_OFD_SETLK, &claim) == 0;
}

bool someone_owns(int fd) {
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  // Asks without taking anything; if the question itself fails, an owner is
  // assumed rather than declared dead.
  if (fcntl(fd, F_OFD_GETLK, &probe) != 0) return true;
  return probe.l_type != F_UNLCK;
}

// True when `name` still names the object open on fd: a process that judged
// the name stale may have removed it between our create and our claim.
bool still_named(int fd, const std::string& name) {
  int current = shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (current < 0) return false;
  struct stat mine {}, named {};
  const bool same = fstat(fd, &mine) == 0 && fstat(current, &named) == 0 && mine.st_dev == named.st_dev &&
                    mine.st_ino == named.st_ino;
  ::close(current);
  return same;
}

off_t object_size(int fd) {
  struct stat info {};
  return fstat(fd, &info) == 0 ? info.st_size : -1;
}

void* map_bytes(int fd, size_t size) {
  void* address = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return address == MAP_FAILED ? nullptr : address;
}

// Whether an existing object under the name may be taken over: an empty
// placeholder or a marked object whose owner has died. Decided with the
// object's claim taken, so two processes never both decide so.
bool stale(int fd) {
  const off_t size = object_size(fd);
  if (size == 0) return take_ownership(fd);
  if (size < static_cast<off_t>(sizeof(MutexObject))) return false;
  void* block = map_bytes(fd, sizeof(MutexObject));
  if (block == nullptr) return false;
  const bool marked = object_of(block).owner_mark == kOwnerMark;
  munmap(block, sizeof(MutexObject));
  // An object without the mark belongs to a program that claims names
  // another way; it is never taken from it.
  return marked && take_ownership(fd);
}


// A process-shared robust mutex and the owner mark in a fresh object.
bool initialise(void* block) {
  auto* object = new (block) MutexObject{};
  pthread_mutexattr_t attributes;
  if (pthread_mutexattr_init(&attributes) != 0) return false;
  bool ok = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
            pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
            pthread_mutex_init(&object->mutex, &attributes) == 0;
  pthread_mutexattr_destroy(&attributes);
  object->owner_mark = kOwnerMark;
  return ok;
}

// Claims `name` with an empty placeholder; its descriptor, or -1.
int claim_name(const std::string& name, unsigned mode) {
  // Two rounds: the second one runs after a dead owner's name was removed.
  for (int round = 0; round < 2; ++round) {
    int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
    if (fd >= 0) {
      if (take_ownership(fd) && still_named(fd, name)) return fd;
      // Another process judging the name stale holds the claim this very
      // moment, or has removed it; that one takes the name over.
      ::close(fd);
      errno = EEXIST;
      return -1;
    }
    if (errno != EEXIST) return -1;
    int existing = shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (existing < 0) {
      if (errno == ENOENT) continue;  // removed in the meantime
      return -1;
    }
    const bool take_over = stale(existing);
    if (take_over) shm_unlink(name.c_str());
    ::close(existing);
    if (!take_over) {
      errno = EEXIST;
      return -1;
    }
  }
  errno = EEXIST;
  return -1;
}

}  // namespace

struct SharedMutex::Impl {
  Impl(int descriptor, void* mapping, bool marked) : fd(descriptor), block(mapping), owner_marked(marked) {}
  Lock finish_lock(int result);

  int fd;                  // the mutex object (for an owner: holding its claim)
  void* block;             // its mapping
  bool owner_marked;
  int claim_fd = -1;       // owner before publish(): the placeholder under the name
  std::string name;        // owner: the name to publish under
  std::string setup_name;  // owner before publish(): where the mutex is set up
};

SharedMutex::SharedMutex(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::unique_ptr<SharedMutex> SharedMutex::create(const std::string& name, unsigned mode, SystemError* error) {
  int claim = claim_name(name, mode);
  if (claim < 0) {
    report(error, last_system_error("claim mutex " + name));
    return nullptr;
  }
  // The mutex is set up under a name of its own and moved under the claimed
  // name by publish(). The setup name carries the process ID; one left by a
  // dead process of the same ID is stale.
  const std::string setup = name + ".setup" + std::to_string(getpid());
  shm_unlink(setup.c_str());
  int fd = shm_open(setup.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
  void* block = nullptr;
  if (fd >= 0) {
    (void)fchmod(fd, static_cast<mode_t>(mode));  // the umask may have narrowed it
    if (ftruncate(fd, sizeof(MutexObject)) == 0 && take_ownership(fd)) block = map_bytes(fd, sizeof(MutexObject));
    if (block != nullptr && !initialise(block)) {
      munmap(block, sizeof(MutexObject));
      block = nullptr;
    }
  }
  if (block == nullptr) {
    report(error, last_system_error("set up mutex " + name));
    if (fd >= 0) {
      shm_unlink(setup.c_str());
      ::close(fd);
    }
    shm_unlink(name.c_str());
    ::close(claim);
    return nullptr;
  }
  auto impl = std::make_unique<Impl>(fd, block, true);
  impl->claim_fd = claim;
  impl->name = name;
  impl->setup_name = setup;
  return std::unique_ptr<SharedMutex>(new SharedMutex(std::move(impl)));
}

bool SharedMutex::publish(SystemError* error) {
  if (impl_->claim_fd < 0) return true;  // opened, or published already
  // rename() replaces the placeholder in one step.
  if (std::rename(backing_file(impl_->setup_name).c_str(), backing_file(impl_->name).c_str()) != 0) {
    report(error, last_system_error("publish mutex " + impl_->name));
    return false;
  }
  ::close(impl_->claim_fd);  // the claim now rests on the published object
  impl_->claim_fd = -1;
  impl_->setup_name.clear();
  return true;
}

std::unique_ptr<SharedMutex> SharedMutex::open(const std::string& name, SystemError* error) {
  int fd = shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) {
    report(error, last_system_error("open mutex " + name));
    return nullptr;
  }
  const off_t size = object_size(fd);
  void* block = nullptr;
  bool marked = false;
  if (size >= 0 && size < static_cast<off_t>(sizeof(pthread_mutex_t))) {
    errno = ENOENT;  // a claim whose mutex is not published yet
  } else if (size >= 0) {
    // The whole object when it has the owner mark's room, else the mutex.
    marked = size >= static_cast<off_t>(sizeof(MutexObject));
    block = map_bytes(fd, marked ? sizeof(MutexObject) : sizeof(pthread_mutex_t));
    if (block != nullptr && marked) marked = object_of(block).owner_mark == kOwnerMark;
  }
  if (block == nullptr) {
    report(error, last_system_error("open mutex " + name));
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<SharedMutex>(new SharedMutex(std::make_unique<Impl>(fd, block, marked)));
}

bool SharedMutex::remove(const std::string& name) { return shm_unlink(name.c_str()) == 0; }

SharedMutex::~SharedMutex() {
  // An opener of an object without the mark mapped only the mutex.
  munmap(impl_->block, impl_->owner_marked ? sizeof(MutexObject) : sizeof(pthread_mutex_t));
  if (!impl_->setup_name.empty()) shm_unlink(impl_->setup_name.c_str());
  if (impl_->claim_fd >= 0) ::close(impl_->claim_fd);
  ::close(impl_->fd);
}

SharedMutex::Lock SharedMutex::Impl::finish_lock(int result) {
  switch (result) {
    case 0: return Lock::taken;
    case EOWNERDEAD:
      // The holder died inside its critical section. The data it guarded is
      // as it left it; mark the mutex usable again and carry on.
      pthread_mutex_consistent(&object_of(block).mutex);
      return Lock::abandoned;
    case ETIMEDOUT: return Lock::timed_out;
    default: return Lock::failed;
  }
}

SharedMutex::Lock SharedMutex::lock() {
  return impl_->finish_lock(pthread_mutex_lock(&object_of(impl_->block).mutex));
}

SharedMutex::Lock SharedMutex::lock_for(uint32_t ms) {
  const timespec until = monotonic_after_ms(ms);
  return impl_->finish_lock(pthread_mutex_clocklock(&object_of(impl_->block).mutex, CLOCK_MONOTONIC, &until));
}

void SharedMutex::unlock() { pthread_mutex_unlock(&object_of(impl_->block).mutex); }

bool SharedMutex::owner_alive() const { return !impl_->owner_marked || someone_owns(impl_->fd); }

}  // namespace lyralink::platform
