// SPDX-License-Identifier: LGPL-2.1-or-later
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstring>

#include "platform/network_interfaces.h"

namespace lyralink::platform {

namespace {
uint32_t host_order(const sockaddr* sa) {
  sockaddr_in in {};
  std::memcpy(&in, sa, sizeof in);
  return ntohl(in.sin_addr.s_addr);
}
}  // namespace

std::vector<InterfaceAddress> ipv4_interface_addresses() {
  std::vector<InterfaceAddress> out;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return out;
  for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
    InterfaceAddress a;
    a.interface = i->ifa_name != nullptr ? i->ifa_name : "";
    a.address = host_order(i->ifa_addr);
    if (i->ifa_netmask != nullptr) a.netmask = host_order(i->ifa_netmask);
    a.up = (i->ifa_flags & IFF_UP) != 0;
    a.loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
    out.push_back(std::move(a));
  }
  freeifaddrs(list);
  return out;
}

}  // namespace lyralink::platform
