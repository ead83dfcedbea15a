// SPDX-License-Identifier: LGPL-2.1-or-later
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/posix/serial_rate.h"
#include "platform/serial_port.h"

namespace lyralink::platform {

namespace {

// Drives one modem-control output. Pseudo-terminals and some adapters have
// no modem lines (ENOTTY/EINVAL); that never fails an open.
void drive_line(int fd, int line, bool asserted) {
  int bits = line;
  (void)ioctl(fd, asserted ? TIOCMBIS : TIOCMBIC, &bits);
}

bool line_asserted(int fd, int line) {
  int bits = 0;
  if (ioctl(fd, TIOCMGET, &bits) != 0) return false;
  return (bits & line) != 0;
}

// Opens a terminal for reading and writing and takes its lock; -1 with the
// reason in *error when either fails.
int open_locked(const std::string& path, SystemError* error) {
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    report(error, last_system_error("open " + path));
    return -1;
  }
  if (!isatty(fd)) {
    errno = ENOTTY;
    report(error, last_system_error("open " + path));
    ::close(fd);
    return -1;
  }
  // flock keeps other processes out even where TIOCEXCL does not (root may
  // open an exclusive tty); TIOCEXCL keeps out programs that do not flock.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    report(error, last_system_error("lock " + path));
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

// The open terminal and the input queue in front of it.
struct SerialPort::Impl {
  explicit Impl(int descriptor) : fd(descriptor) {}
  // Moves readable bytes from the kernel into the queue; false on failure.
  bool fill_queue();

  int fd;
  std::vector<uint8_t> queue;
  size_t queue_capacity = 4096;
  bool failed = false;
};

std::unique_ptr<SerialPort> SerialPort::open(const std::string& path, SystemError* error) {
  const int fd = open_locked(path, error);
  if (fd < 0) return nullptr;
  (void)ioctl(fd, TIOCEXCL);
  return std::unique_ptr<SerialPort>(new SerialPort(std::make_unique<Impl>(fd), path));
}

std::optional<SystemError> serial_port_open_error(const std::string& path) {
  SystemError error;
  const int fd = open_locked(path, &error);
  if (fd < 0) return error;
  flock(fd, LOCK_UN);
  ::close(fd);
  return std::nullopt;
}

SerialPort::SerialPort(std::unique_ptr<Impl> impl, std::string path)
    : impl_(std::move(impl)), path_(std::move(path)) {}

SerialPort::~SerialPort() {
  // A pseudo-terminal keeps exclusive mode after close, so clear it first or
  // the next open of the same terminal fails.
  (void)ioctl(impl_->fd, TIOCNXCL);
  flock(impl_->fd, LOCK_UN);
  ::close(impl_->fd);
}

bool SerialPort::set_queue_sizes(uint32_t input_bytes, uint32_t /*output_bytes*/) {
  impl_->queue_capacity = std::max<size_t>(input_bytes, 1);
  return true;
}

bool SerialPort::get_settings(SerialSettings& s) const {
  const Impl& port = *impl_;
  termios tio {};
  if (tcgetattr(port.fd, &tio) != 0) return false;
  s.baud = posix::get_line_rate(port.fd).value_or(0);
  switch (tio.c_cflag & CSIZE) {
    case CS5: s.data_bits = 5; break;
    case CS6: s.data_bits = 6; break;
    case CS7: s.data_bits = 7; break;
    default: s.data_bits = 8; break;
  }
  s.parity = (tio.c_cflag & PARENB) == 0 ? Parity::none
             : (tio.c_cflag & PARODD) != 0 ? Parity::odd
                                           : Parity::even;
  s.stop_bits = (tio.c_cflag & CSTOPB) != 0 ? StopBits::two : StopBits::one;
  s.binary = (tio.c_lflag & ICANON) == 0 && (tio.c_oflag & OPOST) == 0;
  s.parity_check = (tio.c_iflag & INPCK) != 0;
  s.cts_output_flow = (tio.c_cflag & CRTSCTS) != 0;
  s.dsr_output_flow = false;  // not offered by POSIX ttys
  s.xon_xoff_output = (tio.c_iflag & IXON) != 0;
  s.xon_xoff_input = (tio.c_iflag & IXOFF) != 0;
  s.null_stripping = false;
  s.dtr_control = line_asserted(port.fd, TIOCM_DTR) ? LineControl::enabled : LineControl::disabled;
  s.rts_control = line_asserted(port.fd, TIOCM_RTS) ? LineControl::enabled : LineControl::disabled;
  return true;
}

bool SerialPort::set_settings(const SerialSettings& s) {
  Impl& port = *impl_;
  termios tio {};
  if (tcgetattr(port.fd, &tio) != 0) return false;
  if (s.binary) {
    // Binary transfer: no line editing, echo, signals or CR/LF translation.
    cfmakeraw(&tio);
  }
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  switch (s.data_bits) {
    case 5: tio.c_cflag |= CS5; break;
    case 6: tio.c_cflag |= CS6; break;
    case 7: tio.c_cflag |= CS7; break;
    default: tio.c_cflag |= CS8; break;
  }
  if (s.parity != Parity::none) tio.c_cflag |= PARENB;
  if (s.parity == Parity::odd) tio.c_cflag |= PARODD;
  if (s.stop_bits == StopBits::two) tio.c_cflag |= CSTOPB;
  if (s.cts_output_flow) tio.c_cflag |= CRTSCTS;
  tio.c_cflag |= CREAD | CLOCAL;
  tio.c_iflag &= ~static_cast<tcflag_t>(INPCK | IXON | IXOFF | IXANY);
  if (s.parity_check) tio.c_iflag |= INPCK;
  if (s.xon_xoff_output) tio.c_iflag |= IXON;
  if (s.xon_xoff_input) tio.c_iflag |= IXOFF;
  // Reads never block: the caller waits in poll() with its own deadline.
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (tcsetattr(port.fd, TCSANOW, &tio) != 0) return false;
  if (!posix::set_line_rate(port.fd, s.baud)) return false;
  drive_line(port.fd, TIOCM_DTR, s.dtr_control == LineControl::enabled);
  drive_line(port.fd, TIOCM_RTS, s.rts_control == LineControl::enabled);
  return true;
}

std::optional<ModemStatus> SerialPort::modem_status() {
  if (impl_->failed) return std::nullopt;
  int bits = 0;
  if (ioctl(impl_->fd, TIOCMGET, &bits) != 0) return ModemStatus{};
  return ModemStatus{(bits & TIOCM_CTS) != 0, (bits & TIOCM_DSR) != 0, (bits & TIOCM_RI) != 0,
                     (bits & TIOCM_CD) != 0};
}

bool SerialPort::Impl::fill_queue() {
  if (failed) return false;
  uint8_t chunk[512];
  while (queue.size() < queue_capacity) {
    size_t room = std::min(sizeof chunk, queue_capacity - queue.size());
    ssize_t got = ::read(fd, chunk, room);
    if (got > 0) {
      queue.insert(queue.end(), chunk, chunk + got);
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (got == 0) return true;  // nothing there (VMIN 0) or the peer hung up
    failed = true;  // EIO: device gone
    return false;
  }
  return true;
}

std::optional<size_t> SerialPort::bytes_waiting() {
  if (!impl_->fill_queue()) return std::nullopt;
  return impl_->queue.size();
}

std::optional<size_t> SerialPort::wait_for_input(size_t want, TimePoint deadline) {
  Impl& port = *impl_;
  for (;;) {
    if (!port.fill_queue()) return std::nullopt;
    if (port.queue.size() >= want || port.queue.size() >= port.queue_capacity) return port.queue.size();
    int left = milliseconds_until(deadline);
    if (left == 0 && Clock::now() >= deadline) return port.queue.size();
    pollfd p{port.fd, POLLIN, 0};
    // Round up so that a wait never ends a fraction of a millisecond early.
    int rc = poll(&p, 1, left + 1);
    if (rc < 0 && errno != EINTR) return std::nullopt;
    if (rc > 0 && (p.revents & (POLLERR | POLLNVAL)) != 0) {
      port.failed = true;
      return std::nullopt;
    }
    if (rc > 0 && (p.revents & POLLHUP) != 0 && (p.revents & POLLIN) == 0) {
      // Hang-up with nothing left to read: nothing more will come.
      if (Clock::now() >= deadline) return port.queue.size();
      sleep_ms(static_cast<uint32_t>(std::min(milliseconds_until(deadline), 10)));
    }
  }
}

size_t SerialPort::read(void* buf, size_t n) {
  Impl& port = *impl_;
  size_t count = std::min(n, port.queue.size());
  if (count == 0) return 0;
  std::memcpy(buf, port.queue.data(), count);
  port.queue.erase(port.queue.begin(), port.queue.begin() + static_cast<std::ptrdiff_t>(count));
  return count;
}

size_t SerialPort::write(const void* buf, size_t n) {
  Impl& port = *impl_;
  const auto* bytes = static_cast<const uint8_t*>(buf);
  size_t done = 0;
  TimePoint deadline = deadline_after_ms(1000);
  while (done < n) {
    ssize_t put = ::write(port.fd, bytes + done, n - done);
    if (put > 0) {
      done += static_cast<size_t>(put);
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      int left = milliseconds_until(deadline);
      if (left == 0) break;
      pollfd p{port.fd, POLLOUT, 0};
      if (poll(&p, 1, left) <= 0) break;
      continue;
    }
    break;
  }
  return done;
}

void SerialPort::clear_errors() {}

std::optional<uint32_t> SerialPort::current_baud() const { return posix::get_line_rate(impl_->fd); }

}  // namespace lyralink::platform
