// SPDX-License-Identifier: LGPL-2.1-or-later
// The machine's IPv4 addresses from GetAdaptersAddresses. Which of them the
// search uses (up, not loopback, the first four) and the
// LYRALINK_HOST_ADDRESSES override are decided above this layer, for every
// system alike (lyralink/discovery/host_addresses.cpp).
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>
// The COM headers that iphlpapi.h pulls in define `interface` as a macro
// for `struct`; here it is the name of a field.
#undef interface

#include <cstring>

#include "platform/network_interfaces.h"

namespace lyralink::platform {

namespace {

std::string utf8_of(const wchar_t* text) {
  if (text == nullptr || *text == L'\0') return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.resize(static_cast<size_t>(size - 1));  // without the terminator
  return out;
}

// The mask of a prefix length ("/24" -> 255.255.255.0); nullopt for a
// length no IPv4 mask has.
std::optional<uint32_t> mask_of(unsigned prefix_length) {
  if (prefix_length > 32) return std::nullopt;
  return prefix_length == 0 ? 0u : ~uint32_t{0} << (32 - prefix_length);
}

}  // namespace

std::vector<InterfaceAddress> ipv4_interface_addresses() {
  std::vector<InterfaceAddress> out;
  constexpr ULONG kFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  // The list's size is known only by asking; it may grow between the two
  // calls, so ask again a few times.
  std::vector<unsigned char> buffer(16 * 1024);
  ULONG size = static_cast<ULONG>(buffer.size());
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    result = GetAdaptersAddresses(AF_INET, kFlags, nullptr,
                                  reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result != NO_ERROR) return out;
  for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
       adapter = adapter->Next) {
    for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr; unicast = unicast->Next) {
      const SOCKADDR* sa = unicast->Address.lpSockaddr;
      if (sa == nullptr || sa->sa_family != AF_INET) continue;
      sockaddr_in in {};
      std::memcpy(&in, sa, sizeof in);
      InterfaceAddress a;
      a.interface = utf8_of(adapter->FriendlyName);
      a.address = ntohl(in.sin_addr.s_addr);
      a.netmask = mask_of(unicast->OnLinkPrefixLength);
      a.up = adapter->OperStatus == IfOperStatusUp;
      a.loopback = adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
      out.push_back(std::move(a));
    }
  }
  return out;
}

}  // namespace lyralink::platform
