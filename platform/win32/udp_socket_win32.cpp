// PLACEHOLDER: replaced by the win-net branch
// SPDX-License-Identifier: LGPL-2.1-or-later
// UDP sockets are not yet implemented on Windows: create fails with
// not_supported, so no UdpSocket object ever exists.
#include "platform/udp_socket.h"
#include "platform/win32/win32_error.h"

namespace lyralink::platform {

struct UdpSocket::Impl {};

UdpSocket::UdpSocket(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
UdpSocket::~UdpSocket() = default;

std::unique_ptr<UdpSocket> UdpSocket::create(uint16_t, const std::string&, SystemError* error) {
  report(error, win32::system_error_of("socket", 50));  // ERROR_NOT_SUPPORTED
  return nullptr;
}

bool UdpSocket::set_broadcast(bool) { return false; }
bool UdpSocket::set_receive_buffer(int) { return false; }
bool UdpSocket::set_linger(bool, int) { return false; }
bool UdpSocket::set_reuse_address(bool) { return false; }
bool UdpSocket::enable_packet_info() { return false; }
bool UdpSocket::send_to(const void*, size_t, const std::string&, uint16_t, const std::string&) { return false; }
bool UdpSocket::wait_readable(TimePoint) { return false; }
std::optional<Datagram> UdpSocket::peek(void*, size_t) { return std::nullopt; }
std::optional<Datagram> UdpSocket::receive(void*, size_t) { return std::nullopt; }
bool UdpSocket::send_to(const void*, size_t, uint32_t, uint16_t) { return false; }
std::optional<UdpSocket::RawDatagram> UdpSocket::receive_raw(void*, size_t) { return std::nullopt; }
ErrorKind UdpSocket::take_pending_error() { return ErrorKind::not_supported; }
uint16_t UdpSocket::local_port() const { return 0; }
Waitable UdpSocket::waitable() const { return Waitable{}; }
bool UdpSocket::recreate() { return false; }

}  // namespace lyralink::platform
