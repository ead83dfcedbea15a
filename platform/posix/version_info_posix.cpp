// SPDX-License-Identifier: LGPL-2.1-or-later
// Reads a file's version note: maps the file and walks its section headers.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/version_info.h"

namespace lyralink::platform {

std::optional<VersionInfo> read_version_info(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 64) {
    ::close(fd);
    return std::nullopt;
  }
  size_t size = static_cast<size_t>(st.st_size);
  void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  ::close(fd);
  if (map == MAP_FAILED) return std::nullopt;
  auto info = parse_elf_version_info(static_cast<const uint8_t*>(map), size);
  munmap(map, size);
  return info;
}

}  // namespace lyralink::platform
