// SPDX-License-Identifier: LGPL-2.1-or-later
// Busy-file check: ETXTBSY for a running program, /proc/<pid>/fdinfo for a
// file another process writes to.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/busy_file.h"

namespace lyralink::platform {

namespace {

bool all_digits(const char* s) {
  if (*s == '\0') return false;
  for (; *s != '\0'; ++s) {
    if (*s < '0' || *s > '9') return false;
  }
  return true;
}

// The access mode of descriptor `fd` of process `pid` from its fdinfo
// ("flags:" is octal); -1 when it cannot be read.
int access_mode(const std::string& pid, const char* fd) {
  std::ifstream info("/proc/" + pid + "/fdinfo/" + fd);
  std::string word;
  while (info >> word) {
    if (word == "flags:") {
      std::string flags;
      info >> flags;
      return static_cast<int>(std::strtol(flags.c_str(), nullptr, 8)) & O_ACCMODE;
    }
  }
  return -1;
}

bool open_for_writing_elsewhere(const struct stat& target) {
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return false;
  std::string self = std::to_string(::getpid());
  bool busy = false;
  while (!busy) {
    const dirent* p = ::readdir(proc);
    if (p == nullptr) break;
    if (!all_digits(p->d_name) || self == p->d_name) continue;
    std::string pid = p->d_name;
    struct stat exe {};
    if (::stat(("/proc/" + pid + "/exe").c_str(), &exe) == 0 && exe.st_dev == target.st_dev &&
        exe.st_ino == target.st_ino) {
      busy = true;  // its running program, when the write test above could not tell
      break;
    }
    std::string fd_dir = "/proc/" + pid + "/fd";
    DIR* fds = ::opendir(fd_dir.c_str());
    if (fds == nullptr) continue;  // gone, or not ours to see
    while (const dirent* f = ::readdir(fds)) {
      if (!all_digits(f->d_name)) continue;
      struct stat st {};
      if (::stat((fd_dir + "/" + f->d_name).c_str(), &st) != 0) continue;
      if (st.st_dev != target.st_dev || st.st_ino != target.st_ino) continue;
      int mode = access_mode(pid, f->d_name);
      if (mode == O_WRONLY || mode == O_RDWR) {
        busy = true;
        break;
      }
    }
    ::closedir(fds);
  }
  ::closedir(proc);
  return busy;
}

}  // namespace

bool file_in_use(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  // Opening for writing without O_TRUNC changes nothing; the kernel answers
  // ETXTBSY while the file is some process's running program.
  int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd >= 0) {
    ::close(fd);
  } else if (errno == ETXTBSY) {
    return true;
  }
  return open_for_writing_elsewhere(st);
}

}  // namespace lyralink::platform
