#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <new>

#include "platform/shared_mutex.h"

namespace lyralink::platform {

namespace {

// The shared object: a ready mark that the owner sets once the mutex and
// everything it guards are set up, then the mutex itself.
struct MutexObject {
  uint32_t ready;
  uint32_t reserved;
  pthread_mutex_t mutex;
};
constexpr uint32_t kReadyMark = 0x59444552;  // "REDY"

MutexObject& object_of(void* block) { return *static_cast<MutexObject*>(block); }

// Ownership is an open-file-description write lock on the object: the
// kernel drops it when the owner's descriptor closes, also when the owner
// is killed, so a dead owner is recognised without trusting process IDs.
bool take_ownership(int fd) {
  struct flock claim {};
  claim.l_type = F_WRLCK;
  claim.l_whence = SEEK_SET;
  return fcntl(fd, F_OFD_SETLK, &claim) == 0;
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

void* map_object(int fd) {
  void* address = mmap(nullptr, sizeof(MutexObject), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return address == MAP_FAILED ? nullptr : address;
}

timespec monotonic_after_ms(uint32_t ms) {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  t.tv_sec += static_cast<time_t>(ms / 1000u);
  t.tv_nsec += static_cast<long>(ms % 1000u) * 1000000L;
  if (t.tv_nsec >= 1000000000L) {
    t.tv_sec += 1;
    t.tv_nsec -= 1000000000L;
  }
  return t;
}

// Sets up a fresh object: a process-shared robust mutex, not yet ready.
bool initialise(void* block) {
  auto* object = new (block) MutexObject{};
  pthread_mutexattr_t attributes;
  if (pthread_mutexattr_init(&attributes) != 0) return false;
  bool ok = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
            pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
            pthread_mutex_init(&object->mutex, &attributes) == 0;
  pthread_mutexattr_destroy(&attributes);
  return ok;
}

}  // namespace

std::unique_ptr<SharedMutex> SharedMutex::create(const std::string& name, unsigned mode, SystemError* error) {
  // Two rounds: the second one runs after a dead owner's name was removed.
  for (int round = 0; round < 2; ++round) {
    int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
    if (fd >= 0) {
      (void)fchmod(fd, static_cast<mode_t>(mode));  // the umask may have narrowed it
      if (!take_ownership(fd) || !still_named(fd, name)) {
        // Another process judging the name stale holds the claim this very
        // moment; it takes the name over, so this one gives way.
        ::close(fd);
        errno = EEXIST;
        report(error, last_system_error("create mutex " + name));
        return nullptr;
      }
      void* block = nullptr;
      if (ftruncate(fd, sizeof(MutexObject)) == 0) block = map_object(fd);
      if (block != nullptr && initialise(block)) {
        return std::unique_ptr<SharedMutex>(new SharedMutex(fd, block));
      }
      report(error, last_system_error("set up mutex " + name));
      if (block != nullptr) munmap(block, sizeof(MutexObject));
      shm_unlink(name.c_str());
      ::close(fd);
      return nullptr;
    }
    if (errno != EEXIST) break;
    // The name exists. If its owner still holds it, it is in use; if the
    // claim can be taken, its owner died and left it behind.
    int existing = shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (existing < 0) {
      if (errno == ENOENT) continue;  // removed in the meantime
      break;
    }
    const bool stale = take_ownership(existing);
    if (stale) shm_unlink(name.c_str());
    ::close(existing);
    if (!stale) {
      errno = EEXIST;
      break;
    }
  }
  report(error, last_system_error("create mutex " + name));
  return nullptr;
}

std::unique_ptr<SharedMutex> SharedMutex::open(const std::string& name, SystemError* error) {
  int fd = shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) {
    report(error, last_system_error("open mutex " + name));
    return nullptr;
  }
  struct stat info {};
  void* block = nullptr;
  if (fstat(fd, &info) != 0) {
    // errno from fstat
  } else if (static_cast<size_t>(info.st_size) < sizeof(MutexObject)) {
    errno = ENOENT;  // its owner is still setting it up
  } else {
    block = map_object(fd);
    if (block != nullptr &&
        std::atomic_ref<uint32_t>(object_of(block).ready).load(std::memory_order_acquire) != kReadyMark) {
      munmap(block, sizeof(MutexObject));
      block = nullptr;
      errno = ENOENT;  // not published yet
    }
  }
  if (block == nullptr) {
    report(error, last_system_error("open mutex " + name));
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<SharedMutex>(new SharedMutex(fd, block));
}

bool SharedMutex::remove(const std::string& name) { return shm_unlink(name.c_str()) == 0; }

SharedMutex::~SharedMutex() {
  munmap(block_, sizeof(MutexObject));
  ::close(fd_);  // an owner's claim ends here
}

void SharedMutex::publish() {
  std::atomic_ref<uint32_t>(object_of(block_).ready).store(kReadyMark, std::memory_order_release);
}

SharedMutex::Lock SharedMutex::finish_lock(int result) {
  switch (result) {
    case 0: return Lock::taken;
    case EOWNERDEAD:
      // The holder died inside its critical section. The data it guarded is
      // as it left it; mark the mutex usable again and carry on.
      pthread_mutex_consistent(&object_of(block_).mutex);
      return Lock::abandoned;
    case ETIMEDOUT: return Lock::timed_out;
    default: return Lock::failed;
  }
}

SharedMutex::Lock SharedMutex::lock() { return finish_lock(pthread_mutex_lock(&object_of(block_).mutex)); }

SharedMutex::Lock SharedMutex::lock_for(uint32_t ms) {
  const timespec until = monotonic_after_ms(ms);
  return finish_lock(pthread_mutex_clocklock(&object_of(block_).mutex, CLOCK_MONOTONIC, &until));
}

void SharedMutex::unlock() { pthread_mutex_unlock(&object_of(block_).mutex); }

bool SharedMutex::owner_alive() const {
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  // Asks without taking anything; if the question itself fails, the owner
  // is assumed to be there rather than declared dead.
  if (fcntl(fd_, F_OFD_GETLK, &probe) != 0) return true;
  return probe.l_type != F_UNLCK;
}

}  // namespace lyralink::platform
