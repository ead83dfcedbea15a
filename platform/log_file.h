/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// A file that diagnostic lines are appended to: the library's wire trace
// log. Unlike OutputFile it never truncates, it appends (every write goes
// to the end of the file as the system has it: lines of several processes
// writing one file never overwrite each other, and one write of a whole
// line block is not interleaved with another's), and a failed write can
// never end the process: a log on a closed pipe fails with broken_pipe
// instead of raising the SIGPIPE that would kill a POSIX host that does not
// handle it.
#include <cstddef>
#include <memory>
#include <string>

#include "platform/handles.h"
#include "platform/system_error.h"

namespace lyralink::platform {

class LogFile {
 public:
  // Opens `path` for appending, creating it (mode 0666 less the umask).
  // Null on failure, with the reason in *error. Never blocks for long: a
  // FIFO without a reader is refused (not_found) instead of waited for.
  static std::unique_ptr<LogFile> open_append(const std::string& path, SystemError* error = nullptr);
  // The process's standard error, not closed by this object. Never blocks.
  static std::unique_ptr<LogFile> standard_error();

  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Writes all n bytes with as few system calls as the system allows
  // (normally one), blocking while the file or pipe takes them. False,
  // with the reason in *error, when the system refuses (no_space,
  // broken_pipe, other for an I/O error ...); a SIGPIPE that the write
  // raised is taken back before this returns, so it is never delivered.
  bool write(const void* data, size_t n, SystemError* error = nullptr);

  const std::string& name() const { return name_; }

 private:
  struct Impl;
  LogFile(std::unique_ptr<Impl> impl, std::string name);
  std::unique_ptr<Impl> impl_;
  std::string name_;
};

// Identifier of the calling process, for log lines of several processes.
ProcessId current_process_id();

}  // namespace lyralink::platform
