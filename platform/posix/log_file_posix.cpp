// SPDX-License-Identifier: LGPL-2.1-or-later
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/log_file.h"
#include "platform/posix/descriptor_io.h"

namespace lyralink::platform {

namespace {

// Blocks SIGPIPE in the calling thread for the lifetime of the object; a
// SIGPIPE raised meanwhile (a write to a pipe nobody reads) is consumed
// before the old mask comes back, so the host never sees it. A SIGPIPE that
// was already pending before is left alone.
class SigpipeHold {
 public:
  SigpipeHold() {
    sigset_t pipe_only;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    was_pending_ = sigismember(&pending, SIGPIPE) == 1;
    held_ = pthread_sigmask(SIG_BLOCK, &pipe_only, &old_) == 0;
  }
  ~SigpipeHold() {
    if (!held_) return;
    if (raised_ && !was_pending_) {
      sigset_t pipe_only;
      sigemptyset(&pipe_only);
      sigaddset(&pipe_only, SIGPIPE);
      const timespec no_wait{0, 0};
      while (sigtimedwait(&pipe_only, nullptr, &no_wait) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  void note_epipe() { raised_ = true; }
  SigpipeHold(const SigpipeHold&) = delete;
  SigpipeHold& operator=(const SigpipeHold&) = delete;

 private:
  sigset_t old_{};
  bool held_ = false;
  bool was_pending_ = false;
  bool raised_ = false;
};

}  // namespace

struct LogFile::Impl {
  int fd;
  bool owned;
};

LogFile::LogFile(std::unique_ptr<Impl> impl, std::string name) : impl_(std::move(impl)), name_(std::move(name)) {}

std::unique_ptr<LogFile> LogFile::open_append(const std::string& path, SystemError* error) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) {
    report(error, last_system_error("open " + path));
    return nullptr;
  }
  // Non-blocking only for the open (a FIFO without reader fails at once);
  // the writes themselves block as a log's writes should.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return std::unique_ptr<LogFile>(new LogFile(std::make_unique<Impl>(Impl{fd, true}), path));
}

std::unique_ptr<LogFile> LogFile::standard_error() {
  return std::unique_ptr<LogFile>(new LogFile(std::make_unique<Impl>(Impl{STDERR_FILENO, false}), "standard error"));
}

LogFile::~LogFile() {
  if (impl_->owned && impl_->fd >= 0) ::close(impl_->fd);
}

bool LogFile::write(const void* data, size_t n, SystemError* error) {
  SigpipeHold hold;
  if (posix::write_all(impl_->fd, data, n)) return true;
  if (errno == EPIPE) hold.note_epipe();
  report(error, last_system_error("write " + name_));
  return false;
}

ProcessId current_process_id() { return static_cast<ProcessId>(::getpid()); }

}  // namespace lyralink::platform
