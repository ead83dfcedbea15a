// SPDX-License-Identifier: LGPL-2.1-or-later
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/posix_error.h"
#include "platform/udp_socket.h"

namespace lyralink::platform {

namespace {

// Sends one datagram with `attempt` (sendto or sendmsg), waiting up to 1 s
// for room in a full send buffer; true when all `size` bytes went out.
template <class Attempt>
bool send_whole(int fd, size_t size, Attempt attempt) {
  for (;;) {
    ssize_t sent = attempt();
    if (sent >= 0) return static_cast<size_t>(sent) == size;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, 1000) <= 0) return false;
      continue;
    }
    return false;
  }
}

sockaddr_in make_address(uint32_t host_order, uint16_t port) {
  sockaddr_in sa {};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(host_order);
  return sa;
}

int bind_socket(uint16_t port, const std::string& address, SystemError* error) {
  uint32_t host = INADDR_ANY;
  if (!address.empty() && !parse_ipv4(address, host)) {
    errno = EINVAL;
    report(error, last_system_error("parse address " + address));
    return -1;
  }
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    report(error, last_system_error("socket"));
    return -1;
  }
  sockaddr_in sa = make_address(host, port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    report(error, last_system_error("bind " + (address.empty() ? std::string("0.0.0.0") : address) +
                                    ":" + std::to_string(port)));
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

struct UdpSocket::Impl {
  int fd;
  std::string bound_address;
  bool packet_info = false;
};

std::unique_ptr<UdpSocket> UdpSocket::create(uint16_t local_port, const std::string& local_address,
                                             SystemError* error) {
  int fd = bind_socket(local_port, local_address, error);
  if (fd < 0) return nullptr;
  return std::unique_ptr<UdpSocket>(new UdpSocket(std::make_unique<Impl>(Impl{fd, local_address})));
}

UdpSocket::UdpSocket(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

UdpSocket::~UdpSocket() { ::close(impl_->fd); }

Waitable UdpSocket::waitable() const { return Waitable::from_token(impl_->fd); }

bool UdpSocket::set_broadcast(bool on) {
  int v = on ? 1 : 0;
  return setsockopt(impl_->fd, SOL_SOCKET, SO_BROADCAST, &v, sizeof v) == 0;
}

bool UdpSocket::set_receive_buffer(int bytes) {
  return setsockopt(impl_->fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0;
}

bool UdpSocket::set_linger(bool on, int seconds) {
  linger l{on ? 1 : 0, seconds};
  return setsockopt(impl_->fd, SOL_SOCKET, SO_LINGER, &l, sizeof l) == 0;
}

bool UdpSocket::set_reuse_address(bool on) {
  int v = on ? 1 : 0;
  return setsockopt(impl_->fd, SOL_SOCKET, SO_REUSEADDR, &v, sizeof v) == 0;
}

bool UdpSocket::enable_packet_info() {
  int v = 1;
  impl_->packet_info = setsockopt(impl_->fd, IPPROTO_IP, IP_PKTINFO, &v, sizeof v) == 0;
  return impl_->packet_info;
}

bool UdpSocket::send_to(const void* data, size_t size, const std::string& address, uint16_t port,
                        const std::string& from_address) {
  uint32_t host = 0;
  if (!parse_ipv4(address, host)) return false;
  sockaddr_in to = make_address(host, port);
  msghdr msg {};
  iovec iov{const_cast<void*>(data), size};
  msg.msg_name = &to;
  msg.msg_namelen = sizeof to;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
  uint32_t from = 0;
  if (impl_->packet_info && !from_address.empty() && parse_ipv4(from_address, from)) {
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info {};
    info.ipi_spec_dst.s_addr = htonl(from);
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
  }
  return send_whole(impl_->fd, size, [&] { return sendmsg(impl_->fd, &msg, MSG_NOSIGNAL); });
}

bool UdpSocket::send_to(const void* data, size_t size, uint32_t address, uint16_t port) {
  sockaddr_in to = make_address(address, port);
  const int fd = impl_->fd;
  return send_whole(fd, size, [&] {
    return sendto(fd, data, size, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&to), sizeof to);
  });
}

std::optional<UdpSocket::RawDatagram> UdpSocket::receive_raw(void* buf, size_t capacity) {
  const int fd = impl_->fd;
  for (;;) {
    sockaddr_in from {};
    socklen_t len = sizeof from;
    // MSG_TRUNC: the true size even when the datagram is larger than buf.
    ssize_t got = recvfrom(fd, buf, capacity, MSG_TRUNC | MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &len);
    if (got < 0 && (errno == EINTR || errno == ECONNREFUSED)) continue;
    if (got < 0) return std::nullopt;
    RawDatagram d;
    d.size = static_cast<size_t>(got);
    d.copied = d.size < capacity ? d.size : capacity;
    d.address = ntohl(from.sin_addr.s_addr);
    d.port = ntohs(from.sin_port);
    return d;
  }
}

bool UdpSocket::wait_readable(TimePoint deadline) {
  const int fd = impl_->fd;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    int left = milliseconds_until(deadline);
    int rc = poll(&p, 1, left == 0 && Clock::now() >= deadline ? 0 : left + 1);
    if (rc > 0) return (p.revents & POLLIN) != 0;
    if (rc == 0) return false;
    if (errno != EINTR) return false;
  }
}

namespace {

std::optional<Datagram> take(int fd, void* buf, size_t capacity, int flags, bool packet_info) {
  sockaddr_in from {};
  iovec iov{buf, capacity};
  msghdr msg {};
  msg.msg_name = &from;
  msg.msg_namelen = sizeof from;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
  if (packet_info) {
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
  }
  for (;;) {
    // MSG_TRUNC makes the call report the datagram's true size even when it
    // is larger than the buffer; only `capacity` bytes are ever written.
    ssize_t got = recvmsg(fd, &msg, flags | MSG_TRUNC | MSG_DONTWAIT);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == ECONNREFUSED) continue;  // a refused earlier send: not a datagram
    if (got < 0) return std::nullopt;
    Datagram d;
    d.size = static_cast<size_t>(got);
    d.copied = d.size < capacity ? d.size : capacity;
    d.address = format_ipv4(ntohl(from.sin_addr.s_addr));
    d.port = ntohs(from.sin_port);
    if (packet_info) {
      for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
          in_pktinfo info {};
          std::memcpy(&info, CMSG_DATA(c), sizeof info);
          d.local_address = format_ipv4(ntohl(info.ipi_addr.s_addr));
        }
      }
    }
    return d;
  }
}

}  // namespace

std::optional<Datagram> UdpSocket::peek(void* buf, size_t capacity) {
  return take(impl_->fd, buf, capacity, MSG_PEEK, impl_->packet_info);
}

std::optional<Datagram> UdpSocket::receive(void* buf, size_t capacity) {
  return take(impl_->fd, buf, capacity, 0, impl_->packet_info);
}

ErrorKind UdpSocket::take_pending_error() {
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(impl_->fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
  return posix::error_kind_of(err);
}

uint16_t UdpSocket::local_port() const {
  sockaddr_in sa {};
  socklen_t len = sizeof sa;
  if (getsockname(impl_->fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

bool UdpSocket::recreate() {
  uint16_t port = local_port();
  ::close(impl_->fd);
  impl_->fd = -1;
  int fd = bind_socket(port, impl_->bound_address, nullptr);
  if (fd < 0) {
    // Keep an object that fails its calls cleanly rather than a dangling fd.
    impl_->fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    return false;
  }
  impl_->fd = fd;
  if (impl_->packet_info) enable_packet_info();
  return true;
}

}  // namespace lyralink::platform
