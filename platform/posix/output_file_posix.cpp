// SPDX-License-Identifier: LGPL-2.1-or-later
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/output_file.h"
#include "platform/posix/descriptor_io.h"

namespace lyralink::platform {

struct OutputFile::Impl {
  int fd;  // -1 once closed
};

std::unique_ptr<OutputFile> OutputFile::create(const std::string& path, SystemError* error) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    report(error, last_system_error("create " + path));
    return nullptr;
  }
  return std::unique_ptr<OutputFile>(new OutputFile(std::make_unique<Impl>(Impl{fd}), path));
}

OutputFile::OutputFile(std::unique_ptr<Impl> impl, std::string path) : impl_(std::move(impl)), path_(std::move(path)) {}

OutputFile::~OutputFile() { (void)close(); }

bool OutputFile::write(const void* data, size_t n, SystemError* error) {
  if (impl_->fd < 0) {
    errno = EBADF;
    report(error, last_system_error("write " + path_));
    return false;
  }
  if (posix::write_all(impl_->fd, data, n)) return true;
  report(error, last_system_error("write " + path_));
  return false;
}

bool OutputFile::close(SystemError* error) {
  if (impl_->fd < 0) return true;
  int rc = ::close(impl_->fd);
  impl_->fd = -1;
  if (rc != 0 && errno != EINTR) {
    report(error, last_system_error("close " + path_));
    return false;
  }
  return true;
}

}  // namespace lyralink::platform
