// SPDX-License-Identifier: LGPL-2.1-or-later
// The log file on Windows. Opened with append access only, so that the
// system puts every write at the file's current end (several processes
// appending to one file never overwrite each other). Windows raises no
// signal for a pipe whose reader is gone: such a write fails with
// ERROR_NO_DATA / ERROR_BROKEN_PIPE, which is reported as broken_pipe.
#include <windows.h>

#include "platform/log_file.h"
#include "platform/win32/file_io.h"

namespace lyralink::platform {

struct LogFile::Impl {
  HANDLE handle;
  bool owned;
};

LogFile::LogFile(std::unique_ptr<Impl> impl, std::string name) : impl_(std::move(impl)), name_(std::move(name)) {}

std::unique_ptr<LogFile> LogFile::open_append(const std::string& path, SystemError* error) {
  // Shared with every reader and writer: another process's log lines, a
  // viewer following the file, a deletion while it is open.
  HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    report(error, last_system_error("open " + path));
    return nullptr;
  }
  return std::unique_ptr<LogFile>(new LogFile(std::make_unique<Impl>(Impl{h, true}), path));
}

std::unique_ptr<LogFile> LogFile::standard_error() {
  // A program without a console has no standard error: writes then fail
  // and are reported, as for any refused write.
  return std::unique_ptr<LogFile>(
      new LogFile(std::make_unique<Impl>(Impl{GetStdHandle(STD_ERROR_HANDLE), false}), "standard error"));
}

LogFile::~LogFile() {
  if (impl_->owned && impl_->handle != INVALID_HANDLE_VALUE) CloseHandle(impl_->handle);
}

bool LogFile::write(const void* data, size_t n, SystemError* error) {
  HANDLE h = impl_->handle;
  if (h == nullptr || h == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
  } else if (win32::write_all(h, data, n)) {
    return true;
  }
  report(error, last_system_error("write " + name_));
  return false;
}

ProcessId current_process_id() { return static_cast<ProcessId>(GetCurrentProcessId()); }

}  // namespace lyralink::platform
