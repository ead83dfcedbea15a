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

std::vector<size_t> wait_readable(const std::vector<int>& fds, std::optional<TimePoint> deadline) {
  std::vector<pollfd> p;
  p.reserve(fds.size());
  for (int fd : fds) p.push_back(pollfd{fd, POLLIN, 0});
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

int termination_signal_fd() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return -1;
  return signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
}

long read_some(int fd, void* buf, size_t n) {
  for (;;) {
    ssize_t got = ::read(fd, buf, n);
    if (got >= 0) return static_cast<long>(got);
    if (errno == EINTR) continue;
    return -1;
  }
}

}  // namespace lyralink::platform
