#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>

#include "platform/event_wait.h"

namespace lyralink::platform {

std::vector<size_t> wait_readable(const std::vector<int>& fds, std::optional<TimePoint> deadline) {
  std::vector<pollfd> p;
  p.reserve(fds.size());
  for (int fd : fds) p.push_back(pollfd{fd, POLLIN, 0});
  int timeout = -1;
  if (deadline) {
    timeout = milliseconds_until(*deadline);
    if (Clock::now() < *deadline) timeout += 1;  // never wake a fraction early
  }
  std::vector<size_t> ready;
  int rc = poll(p.data(), p.size(), timeout);
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
