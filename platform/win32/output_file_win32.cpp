// SPDX-License-Identifier: LGPL-2.1-or-later
#include <windows.h>

#include "platform/output_file.h"
#include "platform/win32/file_io.h"

namespace lyralink::platform {

struct OutputFile::Impl {
  HANDLE handle;  // INVALID_HANDLE_VALUE once closed
};

std::unique_ptr<OutputFile> OutputFile::create(const std::string& path, SystemError* error) {
  // Readers may look at the file while it is written (a viewer, a tail).
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    report(error, last_system_error("create " + path));
    return nullptr;
  }
  return std::unique_ptr<OutputFile>(new OutputFile(std::make_unique<Impl>(Impl{h}), path));
}

OutputFile::OutputFile(std::unique_ptr<Impl> impl, std::string path) : impl_(std::move(impl)), path_(std::move(path)) {}

OutputFile::~OutputFile() { (void)close(); }

bool OutputFile::write(const void* data, size_t n, SystemError* error) {
  if (impl_->handle == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
  } else if (win32::write_all(impl_->handle, data, n)) {
    return true;
  }
  report(error, last_system_error("write " + path_));
  return false;
}

bool OutputFile::close(SystemError* error) {
  if (impl_->handle == INVALID_HANDLE_VALUE) return true;
  const BOOL ok = CloseHandle(impl_->handle);
  impl_->handle = INVALID_HANDLE_VALUE;
  if (ok == 0) {
    report(error, last_system_error("close " + path_));
    return false;
  }
  return true;
}

}  // namespace lyralink::platform
