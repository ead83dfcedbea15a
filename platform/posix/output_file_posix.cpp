// SPDX-License-Identifier: LGPL-2.1-or-later
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/output_file.h"
#include "platform/posix/descriptor_io.h"

namespace lyralink::platform {

std::unique_ptr<OutputFile> OutputFile::create(const std::string& path, SystemError* error) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    report(error, last_system_error("create " + path));
    return nullptr;
  }
  return std::unique_ptr<OutputFile>(new OutputFile(fd, path));
}

OutputFile::OutputFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

OutputFile::~OutputFile() { (void)close(); }

bool OutputFile::write(const void* data, size_t n, SystemError* error) {
  if (fd_ < 0) {
    errno = EBADF;
    report(error, last_system_error("write " + path_));
    return false;
  }
  if (posix::write_all(fd_, data, n)) return true;
  report(error, last_system_error("write " + path_));
  return false;
}

bool OutputFile::close(SystemError* error) {
  if (fd_ < 0) return true;
  int rc = ::close(fd_);
  fd_ = -1;
  if (rc != 0 && errno != EINTR) {
    report(error, last_system_error("close " + path_));
    return false;
  }
  return true;
}

}  // namespace lyralink::platform
