// SPDX-License-Identifier: LGPL-2.1-or-later
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/shared_memory.h"

namespace lyralink::platform {

namespace {

// Maps all `size` bytes of fd; null on failure (errno set).
uint8_t* map_whole(int fd, size_t size) {
  void* address = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (address == MAP_FAILED) return nullptr;
  return static_cast<uint8_t*>(address);
}

}  // namespace

std::unique_ptr<SharedMemory> SharedMemory::create(const std::string& name, size_t size, unsigned mode,
                                                   SystemError* error) {
  int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
  if (fd < 0) {
    report(error, last_system_error("create shared memory " + name));
    return nullptr;
  }
  // The umask may have narrowed the mode; the clients need what was asked.
  (void)fchmod(fd, static_cast<mode_t>(mode));
  uint8_t* data = nullptr;
  if (size == 0) {
    errno = EINVAL;
  } else if (ftruncate(fd, static_cast<off_t>(size)) == 0) {
    data = map_whole(fd, size);  // a new object reads as zeros
  }
  if (data == nullptr) {
    report(error, last_system_error("set up shared memory " + name));
    shm_unlink(name.c_str());
    ::close(fd);
    return nullptr;
  }
  ::close(fd);  // the mapping keeps the object
  return std::unique_ptr<SharedMemory>(new SharedMemory(data, size));
}

std::unique_ptr<SharedMemory> SharedMemory::open(const std::string& name, SystemError* error) {
  int fd = shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) {
    report(error, last_system_error("open shared memory " + name));
    return nullptr;
  }
  struct stat info {};
  uint8_t* data = nullptr;
  size_t size = 0;
  if (fstat(fd, &info) == 0) {
    size = static_cast<size_t>(info.st_size);
    if (size == 0) {
      errno = ENOENT;  // created, but not yet set up by its owner
    } else {
      data = map_whole(fd, size);
    }
  }
  if (data == nullptr) {
    report(error, last_system_error("map shared memory " + name));
    ::close(fd);
    return nullptr;
  }
  ::close(fd);
  return std::unique_ptr<SharedMemory>(new SharedMemory(data, size));
}

bool SharedMemory::remove(const std::string& name) { return shm_unlink(name.c_str()) == 0; }

SharedMemory::~SharedMemory() { munmap(data_, size_); }

}  // namespace lyralink::platform
