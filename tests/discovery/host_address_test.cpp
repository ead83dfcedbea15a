// SPDX-License-Identifier: LGPL-2.1-or-later
// Where the Ethernet probes go: the host address table and its masks, the
// broadcast targets and the directed targets.
#include <gtest/gtest.h>

#include <cstdlib>

#include "lyralink/discovery/host_addresses.h"
#include "platform/udp_socket.h"

using namespace lyralink::discovery;
namespace plat = lyralink::platform;

namespace {

uint32_t ip(const char* text) {
  uint32_t a = 0;
  EXPECT_TRUE(plat::parse_ipv4(text, a)) << text;
  return a;
}

plat::InterfaceAddress iface(const char* name, const char* address, std::optional<const char*> mask, bool up = true,
                             bool loopback = false) {
  plat::InterfaceAddress a;
  a.interface = name;
  a.address = ip(address);
  if (mask) a.netmask = ip(*mask);
  a.up = up;
  a.loopback = loopback;
  return a;
}

std::vector<std::string> texts(const std::vector<HostAddress>& t) {
  std::vector<std::string> out;
  for (const auto& h : t) out.push_back(h.text);
  return out;
}

TEST(HostTable, FirstFourAddressesOfInterfacesThatAreUpWithoutLoopback) {
  const std::vector<plat::InterfaceAddress> list = {
      iface("lo", "127.0.0.1", "255.0.0.0", true, true),
      iface("eth0", "192.168.1.10", "255.255.255.0"),
      iface("eth1", "10.1.2.3", "255.0.0.0", false),  // down
      iface("eth2", "10.1.2.4", "255.0.0.0"),
      iface("wlan0", "172.16.5.5", "255.255.0.0"),
      iface("tun0", "100.64.0.1", std::nullopt),
      iface("eth3", "192.168.9.9", "255.255.255.0"),  // a fifth: not in the table
  };
  auto t = host_table_from_interfaces(list);
  EXPECT_EQ(texts(t), (std::vector<std::string>{"192.168.1.10", "10.1.2.4", "172.16.5.5", "100.64.0.1"}));
  EXPECT_TRUE(t[0].mask_found);
  EXPECT_EQ(t[0].mask, 0xFFFFFF00u);
  EXPECT_FALSE(t[3].mask_found);
}

TEST(HostTable, FromTextForTests) {
  auto t = host_table_from_text("127.0.0.1/255.0.0.0,10.0.0.7/24,169.254.7.9,bad,1.2.3.4/33,5.6.7.8/");
  EXPECT_EQ(texts(t), (std::vector<std::string>{"127.0.0.1", "10.0.0.7", "169.254.7.9"}));
  EXPECT_EQ(t[1].mask, 0xFFFFFF00u);
  EXPECT_FALSE(t[2].mask_found);
  EXPECT_TRUE(host_table_from_text("").empty());
  EXPECT_EQ(host_table_from_text("1.1.1.1,2.2.2.2,3.3.3.3,4.4.4.4,5.5.5.5").size(), 4u);
  EXPECT_EQ(host_table_from_text("10.0.0.1/0")[0].mask, 0u);
  EXPECT_EQ(host_table_from_text("10.0.0.1/32")[0].mask, 0xFFFFFFFFu);
}

TEST(BroadcastTargets, EveryNetworkWithAMaskAndTheLinkLocalRule) {
  auto t = host_table_from_text("192.168.1.10/255.255.255.0,10.1.2.3/255.0.0.0");
  EXPECT_EQ(broadcast_targets(t), (std::vector<std::string>{"192.168.1.255", "10.255.255.255"}));
  // Link-local without a mask: the whole 169.254 range.
  EXPECT_EQ(broadcast_targets(host_table_from_text("169.254.7.9")), (std::vector<std::string>{"169.254.255.255"}));
  // Any other address without a mask is not probed at all.
  EXPECT_TRUE(broadcast_targets(host_table_from_text("192.168.1.10")).empty());
  EXPECT_TRUE(broadcast_targets(host_table_from_text("169.25.1.1")).empty());
  // A link-local address with a mask of its own keeps that mask.
  EXPECT_EQ(broadcast_targets(host_table_from_text("169.254.7.9/255.255.255.0")),
            (std::vector<std::string>{"169.254.7.255"}));
  EXPECT_EQ(broadcast_targets(host_table_from_text("127.0.0.1/8")), (std::vector<std::string>{"127.255.255.255"}));
}

TEST(DirectedTargets, SpecialIpThenTheListButNeverTheHostsOwnAddresses) {
  auto hosts = host_table_from_text("192.168.1.10/24,10.1.2.3/8");
  EXPECT_EQ(directed_targets("192.168.7.7", {"10.9.9.9", "", "192.168.1.10", "192.168.7.7"}, hosts),
            (std::vector<std::string>{"192.168.7.7", "10.9.9.9", "192.168.7.7"}));
  EXPECT_TRUE(directed_targets("10.1.2.3", {}, hosts).empty());
  EXPECT_EQ(directed_targets("", {"10.9.9.9"}, hosts), (std::vector<std::string>{"10.9.9.9"}));
  // The dialog's blank fields give 0.0.0.0, which Linux delivers to this
  // machine: never a target, typed or remembered, in whatever spelling.
  EXPECT_EQ(directed_targets("0.0.0.0", {"0.0.0.0", "10.9.9.9", "000.0.00.0"}, hosts),
            (std::vector<std::string>{"10.9.9.9"}));
}

TEST(HostTable, TheEnvironmentReplacesTheInterfaces) {
  ::setenv("LYRALINK_HOST_ADDRESSES", "10.0.0.7/24", 1);
  EXPECT_EQ(texts(current_host_table()), (std::vector<std::string>{"10.0.0.7"}));
  ::setenv("LYRALINK_HOST_ADDRESSES", "", 1);
  EXPECT_TRUE(current_host_table().empty());
  ::unsetenv("LYRALINK_HOST_ADDRESSES");
  // The machine's own list: never a loopback address.
  for (const auto& h : current_host_table()) EXPECT_NE(h.text.rfind("127.", 0), 0u) << h.text;
}

}  // namespace
