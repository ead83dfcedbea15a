// SPDX-License-Identifier: LGPL-2.1-or-later
// Files and directories with POSIX calls (see file_system.h).
#include <dirent.h>
#include <fcntl.h>
#include <glob.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "platform/posix/descriptor_io.h"

namespace lyralink::platform {

namespace {

// Closes a descriptor on scope exit.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = other.release();
    }
    return *this;
  }
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

std::optional<std::string> read_all(int fd, size_t max_bytes) {
  std::string content;
  char buf[65536];
  for (;;) {
    ssize_t got = ::read(fd, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) return content;
    if (content.size() + static_cast<size_t>(got) > max_bytes) return std::nullopt;
    content.append(buf, static_cast<size_t>(got));
  }
}

}  // namespace

EntryKind entry_kind(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return EntryKind::none;
  if (S_ISREG(st.st_mode)) return EntryKind::file;
  if (S_ISDIR(st.st_mode)) return EntryKind::directory;
  return EntryKind::other;
}

bool entry_present(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

bool make_directory(const std::string& path, SystemError* error) {
  if (::mkdir(path.c_str(), 0755) == 0) return true;
  report(error, last_system_error("mkdir " + path));
  return false;
}

bool remove_directory(const std::string& path) { return ::rmdir(path.c_str()) == 0; }

bool delete_file(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return true;
  if (S_ISDIR(st.st_mode)) return false;
  return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

namespace {

// The directory that holds the last level of `path`, opened by the walk
// described in file_system.h, and the name of that last level. The
// descriptors are O_PATH: they serve as the base of the *at calls and need
// only search permission on each level, as a path lookup does.
struct Parent {
  Fd dir{-1};
  std::string name;
  InPlace state = InPlace::failed;  // done when dir and name are usable
};

InPlace why_not_entered(int dir, const std::string& name) {
  int error = errno;
  struct stat st {};
  if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(st.st_mode)) return InPlace::through_link;
    if (!S_ISDIR(st.st_mode)) return InPlace::missing;
  }
  return error == ENOENT || error == ENOTDIR ? InPlace::missing : InPlace::failed;
}

Parent open_parent(const std::string& path) {
  Parent parent;
  if (path.empty() || path[0] != '/') return parent;
  std::vector<std::string> levels;
  for (size_t pos = 1; pos <= path.size();) {
    size_t end = path.find('/', pos);
    if (end == std::string::npos) end = path.size();
    std::string level = path.substr(pos, end - pos);
    if (level == "..") return parent;
    if (!level.empty() && level != ".") levels.push_back(std::move(level));
    pos = end + 1;
  }
  if (levels.empty()) return parent;  // "/" itself has no parent to act from
  Fd dir(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) return parent;
  for (size_t i = 0; i + 1 < levels.size(); ++i) {
    Fd next(::openat(dir.get(), levels[i].c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (next.get() < 0) {
      parent.state = why_not_entered(dir.get(), levels[i]);
      return parent;
    }
    dir = std::move(next);
  }
  parent.dir = std::move(dir);
  parent.name = levels.back();
  parent.state = InPlace::done;
  return parent;
}

// What the last level is, not following a link: its stat, or the state to
// return when it is not there.
InPlace last_level(const Parent& parent, struct stat& st) {
  if (::fstatat(parent.dir.get(), parent.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return InPlace::done;
  return errno == ENOENT ? InPlace::missing : InPlace::failed;
}

}  // namespace

InPlace delete_file_in_place(const std::string& path) {
  Parent parent = open_parent(path);
  if (parent.state != InPlace::done) return parent.state;
  // unlinkat never follows the last level: a link there goes, not its target.
  if (::unlinkat(parent.dir.get(), parent.name.c_str(), 0) == 0) return InPlace::done;
  return errno == ENOENT ? InPlace::missing : InPlace::failed;  // EISDIR (EPERM on some systems): a directory
}

InPlace remove_directory_in_place(const std::string& path) {
  Parent parent = open_parent(path);
  if (parent.state != InPlace::done) return parent.state;
  if (::unlinkat(parent.dir.get(), parent.name.c_str(), AT_REMOVEDIR) == 0) return InPlace::done;
  int error = errno;
  if (error == ENOENT) return InPlace::missing;
  struct stat st {};
  // AT_REMOVEDIR on a link fails with ENOTDIR and leaves the link.
  if (last_level(parent, st) == InPlace::done && S_ISLNK(st.st_mode)) return InPlace::through_link;
  return error == ENOTDIR ? InPlace::missing : InPlace::failed;
}

InPlace make_directory_writable_in_place(const std::string& path) {
  Parent parent = open_parent(path);
  if (parent.state != InPlace::done) return parent.state;
  struct stat st {};
  if (InPlace state = last_level(parent, st); state != InPlace::done) return state;
  if (S_ISLNK(st.st_mode)) return InPlace::through_link;
  if (!S_ISDIR(st.st_mode)) return InPlace::missing;
  if ((st.st_mode & S_IWUSR) != 0) return InPlace::done;
  // AT_SYMLINK_NOFOLLOW: should the name have become a link since the
  // fstatat, the change is refused instead of reaching the link's target.
  if (::fchmodat(parent.dir.get(), parent.name.c_str(), (st.st_mode & 07777) | S_IWUSR, AT_SYMLINK_NOFOLLOW) == 0) {
    return InPlace::done;
  }
  return InPlace::failed;
}

std::optional<std::string> working_directory() {
  char* dir = ::getcwd(nullptr, 0);
  if (dir == nullptr) return std::nullopt;
  std::string result(dir);
  ::free(dir);
  // Linux marks a working directory that is no longer reachable from the
  // root with "(unreachable)"; such a path names nothing.
  if (result.empty() || result[0] != '/') return std::nullopt;
  return result;
}

std::optional<int64_t> last_write_time_ns(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

std::string part_file_path(const std::string& target) {
  size_t slash = target.rfind('/');
  if (slash == std::string::npos) return "." + target + ".part";
  return target.substr(0, slash + 1) + "." + target.substr(slash + 1) + ".part";
}

CopyResult copy_file(const std::string& source, const std::string& target, SystemError* error) {
  Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) {
    report(error, last_system_error("open " + source));
    return errno == ENOENT ? CopyResult::source_missing : CopyResult::failed;
  }
  struct stat st {};
  if (::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    report(error, SystemError{"open " + source + ": not a regular file", ErrorKind::other, 0});
    return CopyResult::source_missing;
  }
  std::string part = part_file_path(target);
  ::unlink(part.c_str());
  Fd out(::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (out.get() < 0) {
    report(error, last_system_error("create " + part));
    return CopyResult::failed;
  }
  char buf[65536];
  for (;;) {
    ssize_t got = ::read(in.get(), buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      report(error, last_system_error("read " + source));
      ::unlink(part.c_str());
      return CopyResult::failed;
    }
    if (got == 0) break;
    if (!posix::write_all(out.get(), buf, static_cast<size_t>(got))) {
      report(error, last_system_error("write " + part));
      ::unlink(part.c_str());
      return CopyResult::failed;
    }
  }
  // The source's permissions and last-write time: the version rule compares
  // last-write times, so an unchanged source is not copied again.
  const timespec times[2] = {st.st_atim, st.st_mtim};
  if (::fchmod(out.get(), st.st_mode & 07777) != 0 || ::futimens(out.get(), times) != 0 ||
      ::close(out.release()) != 0) {
    report(error, last_system_error("finish " + part));
    ::unlink(part.c_str());
    return CopyResult::failed;
  }
  if (::rename(part.c_str(), target.c_str()) != 0) {
    report(error, last_system_error("rename " + part + " to " + target));
    ::unlink(part.c_str());
    return CopyResult::failed;
  }
  return CopyResult::copied;
}

std::optional<std::string> read_file(const std::string& path, size_t max_bytes) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return std::nullopt;
  return read_all(fd.get(), max_bytes);
}

std::optional<OwnedFile> read_owned_file(const std::string& path, InPlace* place) {
  auto tell = [place](InPlace state) {
    if (place != nullptr) *place = state;
    return std::nullopt;
  };
  Parent parent = open_parent(path);
  if (parent.state != InPlace::done) return tell(parent.state);
  // O_NONBLOCK: a FIFO planted under the name must not hang the reader.
  Fd fd(::openat(parent.dir.get(), parent.name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
  if (fd.get() < 0) {
    if (errno == ELOOP) return tell(InPlace::through_link);  // the name itself is a link
    return tell(errno == ENOENT ? InPlace::missing : InPlace::failed);
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return tell(InPlace::failed);
  OwnedFile file;
  file.owner = st.st_uid;
  file.mode = st.st_mode & 07777;
  file.regular = S_ISREG(st.st_mode);
  if (place != nullptr) *place = InPlace::done;
  if (!file.regular) return file;
  auto content = read_all(fd.get(), 16u << 20);
  if (!content) return tell(InPlace::failed);
  file.content = std::move(*content);
  return file;
}

namespace {

// Creates (or, without O_EXCL, replaces) path with `text` at `mode`.
bool write_whole_file(const std::string& path, const std::string& text, uint32_t mode, int create_flag,
                      SystemError* error) {
  Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | create_flag | O_CLOEXEC, 0600));
  if (fd.get() < 0) {
    report(error, last_system_error("create " + path));
    return false;
  }
  if (::fchmod(fd.get(), static_cast<mode_t>(mode)) != 0 || !posix::write_all(fd.get(), text.data(), text.size()) ||
      ::close(fd.release()) != 0) {
    report(error, last_system_error("write " + path));
    return false;
  }
  return true;
}

}  // namespace

bool create_new_file(const std::string& path, const std::string& text, uint32_t mode, SystemError* error) {
  return write_whole_file(path, text, mode, O_EXCL, error);
}

bool append_to_file(const std::string& path, const std::string& text, SystemError* error) {
  Fd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
  if (fd.get() < 0) {
    report(error, last_system_error("open " + path));
    return false;
  }
  if (!posix::write_all(fd.get(), text.data(), text.size()) || ::close(fd.release()) != 0) {
    report(error, last_system_error("write " + path));
    return false;
  }
  return true;
}

std::optional<std::string> create_temporary_file(const std::string& templ, const std::string& text,
                                                 SystemError* error) {
  std::string name = templ;
  Fd fd(::mkstemp(name.data()));
  if (fd.get() < 0) {
    report(error, last_system_error("mkstemp " + templ));
    return std::nullopt;
  }
  ::fcntl(fd.get(), F_SETFD, FD_CLOEXEC);
  if (!posix::write_all(fd.get(), text.data(), text.size()) || ::close(fd.release()) != 0) {
    report(error, last_system_error("write " + name));
    ::unlink(name.c_str());
    return std::nullopt;
  }
  return name;
}

bool write_file(const std::string& path, const std::string& text, uint32_t mode, SystemError* error) {
  return write_whole_file(path, text, mode, O_TRUNC, error);
}

namespace {

template <typename Visit>
void for_each_subdirectory(const std::string& dir, Visit visit) {
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return;
  std::string base = dir == "/" ? std::string() : dir;
  while (const dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    bool directory = e->d_type == DT_DIR;
    if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
      directory = entry_kind(base + "/" + e->d_name) == EntryKind::directory;
    }
    if (directory && !visit(std::string(e->d_name))) break;
  }
  ::closedir(d);
}

}  // namespace

std::vector<std::string> subdirectory_names(const std::string& dir) {
  std::vector<std::string> names;
  for_each_subdirectory(dir, [&](std::string name) {
    names.push_back(std::move(name));
    return true;
  });
  return names;
}

bool has_subdirectory(const std::string& dir) {
  bool found = false;
  for_each_subdirectory(dir, [&](const std::string&) {
    found = true;
    return false;
  });
  return found;
}

std::optional<std::string> canonical_path(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return std::nullopt;
  std::string result(resolved);
  ::free(resolved);
  return result;
}

bool pattern_matches_existing(const std::string& pattern) {
  glob_t g{};
  int rc = ::glob(pattern.c_str(), GLOB_NOSORT, nullptr, &g);
  bool found = false;
  if (rc == 0) {
    // glob returns a pattern without wildcards as it stands when lstat finds
    // it; a dangling link is no file.
    for (size_t i = 0; i < g.gl_pathc && !found; ++i) found = entry_kind(g.gl_pathv[i]) != EntryKind::none;
  }
  ::globfree(&g);
  return found;
}

}  // namespace lyralink::platform
