// SPDX-License-Identifier: LGPL-2.1-or-later
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/serial_rate.h"
#include "platform/pty.h"

namespace lyralink::platform {

struct PtyDevice::Impl {
  int master_fd;
  int terminal_fd;
};

PtyDevice::PtyDevice(std::unique_ptr<Impl> impl, std::string path)
    : impl_(std::move(impl)), terminal_path_(std::move(path)) {}

std::unique_ptr<PtyDevice> PtyDevice::create(SystemError* error) {
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0) {
    report(error, last_system_error("posix_openpt"));
    return nullptr;
  }
  char name[128];
  if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
    report(error, last_system_error("unlock pseudo-terminal"));
    ::close(master);
    return nullptr;
  }
  int terminal = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (terminal < 0) {
    report(error, last_system_error(std::string("open ") + name));
    ::close(master);
    return nullptr;
  }
  // Raw from the start: with the default echo on, the answers the device
  // writes would come straight back to it as input.
  termios tio {};
  if (tcgetattr(terminal, &tio) == 0) {
    cfmakeraw(&tio);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    tcsetattr(terminal, TCSANOW, &tio);
  }
  return std::unique_ptr<PtyDevice>(new PtyDevice(std::make_unique<Impl>(Impl{master, terminal}), name));
}

PtyDevice::~PtyDevice() {
  ::close(impl_->terminal_fd);
  ::close(impl_->master_fd);
}

bool PtyDevice::publish(const std::string& link_path, SystemError* error) {
  (void)unlink(link_path.c_str());
  if (symlink(terminal_path_.c_str(), link_path.c_str()) != 0) {
    report(error, last_system_error("symlink " + link_path));
    return false;
  }
  return true;
}

std::optional<uint32_t> PtyDevice::line_baud() const { return posix::get_line_rate(impl_->master_fd); }

size_t PtyDevice::read(void* buf, size_t n) {
  for (;;) {
    ssize_t got = ::read(impl_->master_fd, buf, n);
    if (got > 0) return static_cast<size_t>(got);
    if (got < 0 && errno == EINTR) continue;
    return 0;
  }
}

bool PtyDevice::write(const void* buf, size_t n) {
  const auto* bytes = static_cast<const uint8_t*>(buf);
  size_t done = 0;
  while (done < n) {
    ssize_t put = ::write(impl_->master_fd, bytes + done, n - done);
    if (put > 0) {
      done += static_cast<size_t>(put);
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno == EAGAIN) {
      pollfd p{impl_->master_fd, POLLOUT, 0};
      if (poll(&p, 1, 1000) <= 0) return false;
      continue;
    }
    return false;
  }
  return true;
}

Waitable PtyDevice::waitable() const { return Waitable::from_token(impl_->master_fd); }

size_t PtyDevice::pending() const {
  int count = 0;
  if (ioctl(impl_->master_fd, FIONREAD, &count) != 0 || count < 0) return 0;
  return static_cast<size_t>(count);
}

}  // namespace lyralink::platform
