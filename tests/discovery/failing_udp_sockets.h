/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// UDP sockets that cannot be made, as in a sandboxed service or with the
// descriptor table full: while a UdpSocketsFail lives, socket(AF_INET,
// SOCK_DGRAM) fails with EMFILE in this test program. Every other socket,
// and every socket outside that time, is made by the C library as usual.
//
// socket() is defined in the test program (failing_udp_sockets.cpp), where
// it stands in front of the C library's for the library code linked into
// the program, and hands through to the C library's through RTLD_NEXT.
namespace lyratest {

class UdpSocketsFail {
 public:
  UdpSocketsFail();
  ~UdpSocketsFail();
  UdpSocketsFail(const UdpSocketsFail&) = delete;
  UdpSocketsFail& operator=(const UdpSocketsFail&) = delete;
};

}  // namespace lyratest
