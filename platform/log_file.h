/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// A file that diagnostic lines are appended to: the library's wire trace
// log. Unlike OutputFile it never truncates, it appends (O_APPEND: lines of
// several processes writing one file never overwrite each other, and one
// write() of a whole line block is not interleaved with another's), and a
// failed write can never end the process: a log on a closed pipe gets EPIPE
// instead of the SIGPIPE that would kill a host that does not handle it.
#include <cstddef>
#include <memory>
#include <string>

#include "platform/system_error.h"

namespace lyralink::platform {

class LogFile {
 public:
  // Opens `path` for appending, creating it (mode 0666 less the umask).
  // Null on failure, with the reason in *error. Never blocks for long: a
  // FIFO without a reader is refused (ENXIO) instead of waited for.
  static std::unique_ptr<LogFile> open_append(const std::string& path, SystemError* error = nullptr);
  // The process's standard error (descriptor 2), not closed by this object.
  static std::unique_ptr<LogFile> standard_error();

  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Writes all n bytes with as few system calls as the system allows
  // (normally one). False, with the reason in *error, when the system
  // refuses (ENOSPC, EPIPE, EBADF, EIO ...); a SIGPIPE that the write
  // raised is taken back before this returns, so it is never delivered.
  bool write(const void* data, size_t n, SystemError* error = nullptr);

  const std::string& name() const { return name_; }

 private:
  LogFile(int fd, bool owned, std::string name) : fd_(fd), owned_(owned), name_(std::move(name)) {}
  int fd_;
  bool owned_;
  std::string name_;
};

// Identifier of the calling process, for log lines of several processes.
long current_process_id();

}  // namespace lyralink::platform
