// SPDX-License-Identifier: LGPL-2.1-or-later
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/udp_socket.h"

namespace lyralink::platform {

bool parse_ipv4(const std::string& text, uint32_t& host_order) {
  // Strict form: four decimal parts of 1-3 digits, each 0-255. inet_pton
  // would do, but it accepts nothing else either and keeps no leading-zero
  // policy of ours; leading zeros are allowed here ("010" is ten).
  uint32_t value = 0;
  int parts = 0;
  size_t i = 0;
  while (parts < 4) {
    size_t start = i;
    uint32_t part = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3) {
      part = part * 10 + static_cast<uint32_t>(text[i] - '0');
      ++i;
    }
    if (i == start || part > 255) return false;
    value = (value << 8) | part;
    ++parts;
    if (parts < 4) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
  }
  if (i != text.size()) return false;
  host_order = value;
  return true;
}

std::string format_ipv4(uint32_t a) {
  return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 0xFF) + "." +
         std::to_string((a >> 8) & 0xFF) + "." + std::to_string(a & 0xFF);
}

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

std::unique_ptr<UdpSocket> UdpSocket::create(uint16_t local_port, const std::string& local_address,
                                             SystemError* error) {
  int fd = bind_socket(local_port, local_address, error);
  if (fd < 0) return nullptr;
  return std::unique_ptr<UdpSocket>(new UdpSocket(fd, local_address));
}

UdpSocket::UdpSocket(int fd, std::string local_address)
    : fd_(fd), bound_address_(std::move(local_address)) {}

UdpSocket::~UdpSocket() { ::close(fd_); }

bool UdpSocket::set_broadcast(bool on) {
  int v = on ? 1 : 0;
  return setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &v, sizeof v) == 0;
}

bool UdpSocket::set_receive_buffer(int bytes) {
  return setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0;
}

bool UdpSocket::set_linger(bool on, int seconds) {
  linger l{on ? 1 : 0, seconds};
  return setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l) == 0;
}

bool UdpSocket::set_reuse_address(bool on) {
  int v = on ? 1 : 0;
  return setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &v, sizeof v) == 0;
}

bool UdpSocket::enable_packet_info() {
  int v = 1;
  packet_info_ = setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &v, sizeof v) == 0;
  return packet_info_;
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
  if (packet_info_ && !from_address.empty() && parse_ipv4(from_address, from)) {
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
  return send_whole(fd_, size, [&] { return sendmsg(fd_, &msg, MSG_NOSIGNAL); });
}

bool UdpSocket::send_to(const void* data, size_t size, uint32_t address, uint16_t port) {
  sockaddr_in to = make_address(address, port);
  return send_whole(fd_, size, [&] {
    return sendto(fd_, data, size, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&to), sizeof to);
  });
}

std::optional<UdpSocket::RawDatagram> UdpSocket::receive_raw(void* buf, size_t capacity) {
  for (;;) {
    sockaddr_in from {};
    socklen_t len = sizeof from;
    // MSG_TRUNC: the true size even when the datagram is larger than buf.
    ssize_t got = recvfrom(fd_, buf, capacity, MSG_TRUNC | MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &len);
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
  for (;;) {
    pollfd p{fd_, POLLIN, 0};
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
  return take(fd_, buf, capacity, MSG_PEEK, packet_info_);
}

std::optional<Datagram> UdpSocket::receive(void* buf, size_t capacity) {
  return take(fd_, buf, capacity, 0, packet_info_);
}

int UdpSocket::take_pending_error() {
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

uint16_t UdpSocket::local_port() const {
  sockaddr_in sa {};
  socklen_t len = sizeof sa;
  if (getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

bool UdpSocket::recreate() {
  uint16_t port = local_port();
  ::close(fd_);
  fd_ = -1;
  int fd = bind_socket(port, bound_address_, nullptr);
  if (fd < 0) {
    // Keep an object that fails its calls cleanly rather than a dangling fd.
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    return false;
  }
  fd_ = fd;
  if (packet_info_) enable_packet_info();
  return true;
}

}  // namespace lyralink::platform
