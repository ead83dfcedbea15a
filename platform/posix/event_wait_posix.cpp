// SPDX-License-Identifier: LGPL-2.1-or-later
#include <fcntl.h>
#include <time.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/event_wait.h"

namespace lyralink::platform {

std::vector<size_t> wait_readable(const std::vector<Waitable>& objects, std::optional<TimePoint> deadline) {
  std::vector<pollfd> p;
  p.reserve(objects.size());
  for (const Waitable& w : objects) p.push_back(pollfd{static_cast<int>(w.token()), POLLIN, 0});
  // The exact time left, not whole milliseconds: the emulator paces an
  // answer at a fast line's byte rate with waits of some microseconds.
  timespec left{};
  timespec* timeout = nullptr;
  if (deadline) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(*deadline - Clock::now()).count();
    const long long wait = ns > 0 ? ns : 0;
    left.tv_sec = static_cast<time_t>(wait / 1'000'000'000);
    left.tv_nsec = static_cast<long>(wait % 1'000'000'000);
    timeout = &left;
  }
  std::vector<size_t> ready;
  int rc = ppoll(p.data(), p.size(), timeout, nullptr);
  if (rc <= 0) return ready;
  for (size_t i = 0; i < p.size(); ++i) {
    if ((p[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) ready.push_back(i);
  }
  return ready;
}

Waitable standard_input() { return Waitable::from_token(STDIN_FILENO); }

long read_some(Waitable from, void* buf, size_t n) {
  for (;;) {
    ssize_t got = ::read(static_cast<int>(from.token()), buf, n);
    if (got >= 0) return static_cast<long>(got);
    if (errno == EINTR) continue;
    return -1;
  }
}

// A signalfd for the blocked signals.
struct TerminationRequests::Impl {
  int fd;
};

TerminationRequests::TerminationRequests(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::unique_ptr<TerminationRequests> TerminationRequests::take_over() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return nullptr;
  const int fd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
  if (fd < 0) return nullptr;
  return std::unique_ptr<TerminationRequests>(new TerminationRequests(std::make_unique<Impl>(Impl{fd})));
}

TerminationRequests::~TerminationRequests() { ::close(impl_->fd); }

Waitable TerminationRequests::waitable() const { return Waitable::from_token(impl_->fd); }

std::optional<int> TerminationRequests::take() {
  signalfd_siginfo info{};
  for (;;) {
    const ssize_t got = ::read(impl_->fd, &info, sizeof info);
    if (got == static_cast<ssize_t>(sizeof info)) return static_cast<int>(info.ssi_signo);
    if (got < 0 && errno == EINTR) continue;
    return std::nullopt;
  }
}

}  // namespace lyralink::platform
