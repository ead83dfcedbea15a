// SPDX-License-Identifier: LGPL-2.1-or-later
// The datagram socket on Winsock 2.
//
// Two ways in which Winsock differs from the POSIX sockets the behaviour was
// first written for:
//  - A datagram sent to a port where nothing listens comes back as an ICMP
//    "port unreachable", which Windows reports as WSAECONNRESET (10054) from
//    the next receive call on the socket, connected or not (SIO_UDP_CONNRESET
//    is on by default and stays on). Linux reports it as ECONNREFUSED from
//    the socket's pending error. Both are the kind connection_refused here:
//    a receive call that meets 10054 notes it for take_pending_error() and
//    goes on to the next datagram, as the POSIX backend does.
//  - A receive into a buffer smaller than the datagram fails with
//    WSAEMSGSIZE and never says how large the datagram was (there is no
//    MSG_TRUNC size). A short buffer is therefore filled from a scratch
//    buffer of the largest datagram, and Datagram::size stays the true size.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/udp_socket.h"
#include "platform/win32/win32_error.h"

namespace lyralink::platform {

namespace {

// An IPv4 datagram carries at most 65535 - 8 (UDP) - 20 (IP) bytes.
constexpr size_t kLargestDatagram = 65507;

// Winsock needs WSAStartup once per process before the first socket call;
// it is never undone, the sockets live as long as the process may use them.
// 0 when Winsock is ready, else WSAStartup's error code.
int winsock_start_result() {
  static const int result = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  return result;
}

sockaddr_in make_address(uint32_t host_order, uint16_t port) {
  sockaddr_in sa {};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(host_order);
  return sa;
}

// A non-blocking UDP socket that child processes do not inherit.
SOCKET new_socket() {
  SOCKET s = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return s;
  u_long non_blocking = 1;
  if (ioctlsocket(s, FIONBIO, &non_blocking) != 0) {
    const int error = WSAGetLastError();
    closesocket(s);
    WSASetLastError(error);
    return INVALID_SOCKET;
  }
  return s;
}

SOCKET bind_socket(uint16_t port, const std::string& address, SystemError* error) {
  uint32_t host = INADDR_ANY;
  if (!address.empty() && !parse_ipv4(address, host)) {
    report(error, win32::system_error_of("parse address " + address, ERROR_INVALID_PARAMETER));
    return INVALID_SOCKET;
  }
  if (const int refusal = winsock_start_result(); refusal != 0) {
    report(error, win32::system_error_of("WSAStartup", static_cast<uint32_t>(refusal)));
    return INVALID_SOCKET;
  }
  SOCKET s = new_socket();
  if (s == INVALID_SOCKET) {
    report(error, last_system_error("socket"));
    return INVALID_SOCKET;
  }
  sockaddr_in sa = make_address(host, port);
  if (bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    report(error, last_system_error("bind " + (address.empty() ? std::string("0.0.0.0") : address) + ":" +
                                    std::to_string(port)));
    const int saved = WSAGetLastError();
    closesocket(s);
    WSASetLastError(saved);
    return INVALID_SOCKET;
  }
  return s;
}

// Sends one datagram with `attempt` (sendto or WSASendMsg), waiting up to
// 1 s for room in a full send buffer; true when all `size` bytes went out.
template <class Attempt>
bool send_whole(SOCKET s, size_t size, Attempt attempt) {
  for (;;) {
    const long sent = attempt();
    if (sent >= 0) return static_cast<size_t>(sent) == size;
    if (WSAGetLastError() != WSAEWOULDBLOCK) return false;
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(s, &writable);
    timeval second{1, 0};
    if (select(0, nullptr, &writable, nullptr, &second) <= 0) return false;
  }
}

// WSARecvMsg is an extension function: its address comes from the socket.
LPFN_WSARECVMSG receive_message_function(SOCKET s) {
  GUID id = WSAID_WSARECVMSG;
  LPFN_WSARECVMSG function = nullptr;
  DWORD bytes = 0;
  if (WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &function, sizeof function, &bytes, nullptr,
               nullptr) != 0) {
    return nullptr;
  }
  return function;
}

// A one-buffer message to or from `peer` with room for packet information
// in `control`, for WSARecvMsg and WSASendMsg.
template <size_t N>
WSAMSG one_buffer_message(sockaddr_in& peer, WSABUF& buffer, char (&control)[N]) {
  WSAMSG message {};
  message.name = reinterpret_cast<sockaddr*>(&peer);
  message.namelen = sizeof peer;
  message.lpBuffers = &buffer;
  message.dwBufferCount = 1;
  message.Control = WSABUF{N, control};
  return message;
}

}  // namespace

struct UdpSocket::Impl {
  SOCKET socket;
  std::string bound_address;
  bool packet_info = false;
  LPFN_WSARECVMSG receive_message = nullptr;
  // A receive call met 10054 (an earlier datagram was refused); reported
  // once by take_pending_error().
  bool refused = false;
  // Where a datagram goes when the caller's buffer may be too short.
  std::vector<char> scratch;

  // Receives (or with MSG_PEEK looks at) the next datagram into buf, or
  // into the scratch buffer when buf may be too short; the byte count and
  // the sender, nullopt when none is queued. 10054 is noted and passed over.
  std::optional<size_t> next(void* buf, size_t capacity, int flags, sockaddr_in& from, std::string* local_address);
  // The next datagram as the header describes it (flags 0 or MSG_PEEK).
  std::optional<Datagram> take(void* buf, size_t capacity, int flags);
};

std::optional<Datagram> UdpSocket::Impl::take(void* buf, size_t capacity, int flags) {
  sockaddr_in from {};
  Datagram d;
  auto size = next(buf, capacity, flags, from, packet_info ? &d.local_address : nullptr);
  if (!size) return std::nullopt;
  d.size = *size;
  d.copied = std::min(d.size, capacity);
  d.address = format_ipv4(ntohl(from.sin_addr.s_addr));
  d.port = ntohs(from.sin_port);
  return d;
}

std::optional<size_t> UdpSocket::Impl::next(void* buf, size_t capacity, int flags, sockaddr_in& from,
                                            std::string* local_address) {
  char* target = static_cast<char*>(buf);
  size_t room = capacity;
  if (capacity < kLargestDatagram) {
    if (scratch.empty()) scratch.resize(kLargestDatagram);
    target = scratch.data();
    room = scratch.size();
  }
  // Each refused earlier datagram is one 10054; a bounded number of them is
  // passed over, so that a peek can never spin on one that stays queued.
  for (int refusals = 0; refusals < 64; ++refusals) {
    long got = SOCKET_ERROR;
    std::memset(&from, 0, sizeof from);
    if (local_address != nullptr && receive_message != nullptr) {
      WSABUF data{static_cast<ULONG>(room), target};
      alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
      WSAMSG message = one_buffer_message(from, data, control);
      message.dwFlags = static_cast<ULONG>(flags);
      DWORD bytes = 0;
      if (receive_message(socket, &message, &bytes, nullptr, nullptr) == 0) {
        got = static_cast<long>(bytes);
        for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&message); c != nullptr; c = WSA_CMSG_NXTHDR(&message, c)) {
          if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            IN_PKTINFO info {};
            std::memcpy(&info, WSA_CMSG_DATA(c), sizeof info);
            *local_address = format_ipv4(ntohl(info.ipi_addr.s_addr));
          }
        }
      }
    } else {
      int length = sizeof from;
      got = recvfrom(socket, target, static_cast<int>(std::min<size_t>(room, 0x7FFFFFFF)), flags,
                     reinterpret_cast<sockaddr*>(&from), &length);
    }
    if (got == SOCKET_ERROR) {
      if (WSAGetLastError() == WSAECONNRESET) {
        refused = true;  // not a datagram: a refused earlier send
        continue;
      }
      return std::nullopt;
    }
    const size_t size = static_cast<size_t>(got);
    if (target != buf) std::memcpy(buf, target, std::min(size, capacity));
    return size;
  }
  return std::nullopt;
}

std::unique_ptr<UdpSocket> UdpSocket::create(uint16_t local_port, const std::string& local_address,
                                             SystemError* error) {
  SOCKET s = bind_socket(local_port, local_address, error);
  if (s == INVALID_SOCKET) return nullptr;
  auto impl = std::make_unique<Impl>();
  impl->socket = s;
  impl->bound_address = local_address;
  return std::unique_ptr<UdpSocket>(new UdpSocket(std::move(impl)));
}

UdpSocket::UdpSocket(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

UdpSocket::~UdpSocket() {
  if (impl_->socket != INVALID_SOCKET) closesocket(impl_->socket);
}

Waitable UdpSocket::waitable() const { return Waitable::from_token(static_cast<intptr_t>(impl_->socket)); }

bool UdpSocket::set_broadcast(bool on) {
  BOOL v = on ? TRUE : FALSE;
  return setsockopt(impl_->socket, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&v), sizeof v) == 0;
}

bool UdpSocket::set_receive_buffer(int bytes) {
  return setsockopt(impl_->socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes) == 0;
}

bool UdpSocket::set_linger(bool on, int seconds) {
  linger l{static_cast<u_short>(on ? 1 : 0), static_cast<u_short>(std::clamp(seconds, 0, 0xFFFF))};
  return setsockopt(impl_->socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l) == 0;
}

bool UdpSocket::set_reuse_address(bool on) {
  BOOL v = on ? TRUE : FALSE;
  return setsockopt(impl_->socket, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&v), sizeof v) == 0;
}

bool UdpSocket::enable_packet_info() {
  DWORD v = 1;
  impl_->receive_message = receive_message_function(impl_->socket);
  impl_->packet_info = impl_->receive_message != nullptr &&
                       setsockopt(impl_->socket, IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&v),
                                  sizeof v) == 0;
  return impl_->packet_info;
}

bool UdpSocket::send_to(const void* data, size_t size, const std::string& address, uint16_t port,
                        const std::string& from_address) {
  uint32_t host = 0;
  if (!parse_ipv4(address, host)) return false;
  uint32_t from = 0;
  if (!impl_->packet_info || from_address.empty() || !parse_ipv4(from_address, from)) {
    return send_to(data, size, host, port);
  }
  sockaddr_in to = make_address(host, port);
  WSABUF buffer{static_cast<ULONG>(size), static_cast<char*>(const_cast<void*>(data))};
  alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
  WSAMSG message = one_buffer_message(to, buffer, control);
  WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&message);
  c->cmsg_level = IPPROTO_IP;
  c->cmsg_type = IP_PKTINFO;
  c->cmsg_len = WSA_CMSG_LEN(sizeof(IN_PKTINFO));
  IN_PKTINFO info {};
  info.ipi_addr.s_addr = htonl(from);  // on Windows the source goes in ipi_addr
  std::memcpy(WSA_CMSG_DATA(c), &info, sizeof info);
  const SOCKET s = impl_->socket;
  return send_whole(s, size, [&]() -> long {
    DWORD sent = 0;
    return WSASendMsg(s, &message, 0, &sent, nullptr, nullptr) == 0 ? static_cast<long>(sent) : -1;
  });
}

bool UdpSocket::send_to(const void* data, size_t size, uint32_t address, uint16_t port) {
  sockaddr_in to = make_address(address, port);
  const SOCKET s = impl_->socket;
  if (size > 0x7FFFFFFF) return false;
  return send_whole(s, size, [&]() -> long {
    return sendto(s, static_cast<const char*>(data), static_cast<int>(size), 0, reinterpret_cast<sockaddr*>(&to),
                  sizeof to);
  });
}

std::optional<UdpSocket::RawDatagram> UdpSocket::receive_raw(void* buf, size_t capacity) {
  sockaddr_in from {};
  auto size = impl_->next(buf, capacity, 0, from, nullptr);
  if (!size) return std::nullopt;
  RawDatagram d;
  d.size = *size;
  d.copied = std::min(d.size, capacity);
  d.address = ntohl(from.sin_addr.s_addr);
  d.port = ntohs(from.sin_port);
  return d;
}

bool UdpSocket::wait_readable(TimePoint deadline) {
  const SOCKET s = impl_->socket;
  for (;;) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    // The time left to the microsecond, rounded up, so that the wait never
    // ends before the deadline.
    const auto left = std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now()).count();
    const long long wait = left > 0 ? left : 0;
    timeval timeout{static_cast<long>(wait / 1000000), static_cast<long>(wait % 1000000)};
    const int rc = select(0, &readable, nullptr, nullptr, &timeout);
    if (rc > 0) return FD_ISSET(s, &readable) != 0;
    if (rc < 0) return false;
    // Windows' timers may end a wait a little early; only the deadline ends it.
    if (Clock::now() >= deadline) return false;
  }
}

std::optional<Datagram> UdpSocket::peek(void* buf, size_t capacity) { return impl_->take(buf, capacity, MSG_PEEK); }

std::optional<Datagram> UdpSocket::receive(void* buf, size_t capacity) { return impl_->take(buf, capacity, 0); }

ErrorKind UdpSocket::take_pending_error() {
  if (impl_->refused) {
    impl_->refused = false;
    return ErrorKind::connection_refused;
  }
  int error = 0;
  int length = sizeof error;
  if (getsockopt(impl_->socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
    error = WSAGetLastError();
  }
  return win32::error_kind_of(static_cast<uint32_t>(error));
}

uint16_t UdpSocket::local_port() const {
  sockaddr_in sa {};
  int length = sizeof sa;
  if (getsockname(impl_->socket, reinterpret_cast<sockaddr*>(&sa), &length) != 0) return 0;
  return ntohs(sa.sin_port);
}

bool UdpSocket::recreate() {
  const uint16_t port = local_port();
  closesocket(impl_->socket);
  impl_->socket = INVALID_SOCKET;
  impl_->refused = false;
  SOCKET s = bind_socket(port, impl_->bound_address, nullptr);
  if (s == INVALID_SOCKET) {
    // Keep an object that fails its calls cleanly rather than a closed socket.
    impl_->socket = new_socket();
    return false;
  }
  impl_->socket = s;
  if (impl_->packet_info) enable_packet_info();
  return true;
}

}  // namespace lyralink::platform
