// SPDX-License-Identifier: LGPL-2.1-or-later
#include "tests/discovery/failing_udp_sockets.h"

#include <dlfcn.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>

namespace {

std::atomic<bool> udp_fails{false};

}  // namespace

namespace lyratest {

UdpSocketsFail::UdpSocketsFail() { udp_fails = true; }
UdpSocketsFail::~UdpSocketsFail() { udp_fails = false; }

}  // namespace lyratest

extern "C" int socket(int domain, int type, int protocol) noexcept {
  using Socket = int (*)(int, int, int);
  static const Socket next = reinterpret_cast<Socket>(dlsym(RTLD_NEXT, "socket"));
  // The type carries SOCK_NONBLOCK and SOCK_CLOEXEC in its upper bits.
  if (udp_fails && domain == AF_INET && (type & 0xF) == SOCK_DGRAM) {
    errno = EMFILE;
    return -1;
  }
  return next(domain, type, protocol);
}
