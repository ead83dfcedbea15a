/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// A file written from the start, for trace files and other program output.
//
// Bytes go to the file exactly as given (no line-end translation). Each
// write() is one system call loop for the whole block, so a caller that
// hands over whole chunks gets one write per chunk. A failed write (a full
// disk, a file size limit) is reported with the system's reason, never
// silently dropped.
#include <cstddef>
#include <memory>
#include <string>

#include "platform/system_error.h"

namespace lyralink::platform {

class OutputFile {
 public:
  // Creates `path` for writing, truncating an existing file (mode 0666
  // less the umask). Null on failure, with the reason in *error. Blocks
  // only on the file system.
  static std::unique_ptr<OutputFile> create(const std::string& path, SystemError* error = nullptr);

  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Writes all n bytes, blocking only on the file system. False when the
  // system took fewer (no_space for a full disk or a file size limit, other
  // for an I/O error ...), with the reason in *error; what was taken stays
  // in the file. After close() every write fails.
  bool write(const void* data, size_t n, SystemError* error = nullptr);

  // Closes the file; false when the close reports a deferred write error.
  // Called by the destructor when not done before; a second call does
  // nothing and returns true.
  bool close(SystemError* error = nullptr);

  const std::string& path() const { return path_; }

 private:
  struct Impl;
  OutputFile(std::unique_ptr<Impl> impl, std::string path);
  std::unique_ptr<Impl> impl_;
  std::string path_;
};

}  // namespace lyralink::platform
