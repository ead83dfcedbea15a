// SPDX-License-Identifier: LGPL-2.1-or-later
// Discovery over real interfaces: this program runs inside the private
// network namespaces that netns_run.sh makes (two local networks of the
// host, analysers in a peer namespace, one of them on a third subnet that
// only a directed probe reaches). The host table comes from getifaddrs and
// the devices' port is the real 50000.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "lyralink/discovery/ethernet.h"
#include "lyralink/discovery/host_addresses.h"
#include "lyralink/discovery/selection.h"
#include "lyralink/discovery/special_ips.h"
#include "tests/discovery/discovery_support.h"

using namespace lyralink;
using namespace lyralink::discovery;
using namespace lyratest;

namespace {

class Namespace : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("LYRATEST_NO_NETNS") != nullptr) GTEST_SKIP() << "no user namespaces here (unshare -rn failed)";
    const char* peer = std::getenv("LYRATEST_PEER_NETNS");
    ASSERT_NE(peer, nullptr) << "run me through netns_run.sh";
    ::unsetenv("LYRALINK_HOST_ADDRESSES");
    ::setenv("LYRALINK_PORT_DIR", make_temp_dir("no-ports").c_str(), 1);
    ::setenv("LYRALINK_FTD2XX", "/nonexistent/libftd2xx.so", 1);
    use_fresh_registry();
    ASSERT_EQ(link::link_state().device_udp_port, 50000);
    sim_ = Emulator::start({"--udp", "10.9.0.11=740,sn=11", "--udp", "10.9.0.12=740,sn=12,use=0,uses=1", "--udp",
                            "10.20.5.5=740,sn=20", "--udp", "10.30.0.5=740,sn=30"},
                           {"nsenter", std::string("--net=") + peer});
    ASSERT_TRUE(sim_);
  }
  void TearDown() override { link::close_link(link::link_state()); }
  std::unique_ptr<Emulator> sim_;
  ScriptedWindows windows_;
};

std::vector<std::string> sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

TEST_F(Namespace, BroadcastReachesEveryLocalNetworkAndNoOther) {
  const auto table = current_host_table();
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(table[0].text, "10.9.0.1");
  EXPECT_EQ(table[0].mask, 0xFFFFFF00u);
  EXPECT_EQ(table[1].text, "10.20.0.1");
  EXPECT_EQ(broadcast_targets(table), (std::vector<std::string>{"10.9.0.255", "10.20.255.255"}));

  WindowsInstalled shown(windows_);
  windows_.head_script = {DialogAction::pick("MCA-740#00012")};
  EXPECT_EQ(comm_init_ethernet(link::link_state(), 0, 1000, 1, nullptr), 1);
  ASSERT_EQ(windows_.head_lines.size(), 1u);
  EXPECT_EQ(sorted(windows_.head_lines[0]),
            (std::vector<std::string>{"MCA-740#00011 on 10.9.0.11", "MCA-740#00012 on 10.9.0.12 (in use)",
                                      "MCA-740#00020 on 10.20.5.5"}));
  EXPECT_STREQ(link::link_state().device_address, "10.9.0.12");
  // The analyser on the third subnet heard nothing.
  EXPECT_TRUE(frames_of(sim_->frames(), "10.30.0.5", kProbe740Code).empty());
}

TEST_F(Namespace, RememberedAndTypedSpecialIps) {
  // Remembered: one the broadcast reaches too, and the host's own address.
  auto store = user_store();
  ASSERT_TRUE(store->create_key(kSpecialIpKey));
  ASSERT_TRUE(store->set_value(kSpecialIpKey, platform::RegistryValue::string("#00", "10.9.0.11")));
  ASSERT_TRUE(store->set_value(kSpecialIpKey, platform::RegistryValue::string("#01", "10.9.0.1")));

  WindowsInstalled shown(windows_);
  windows_.selection_script = {DialogAction::again("10.30.0.5"), DialogAction::pick("MCA-740#00030")};
  Block block;
  EXPECT_EQ(comm_init_select(link::link_state(), block.data(), 1000, 1, nullptr), 1);
  EXPECT_STREQ(link::link_state().device_address, "10.30.0.5");

  ASSERT_EQ(windows_.dialog_lines.size(), 2u);
  std::vector<std::string> first, second;
  for (const auto& l : windows_.dialog_lines[0]) first.push_back(l.text);
  for (const auto& l : windows_.dialog_lines[1]) second.push_back(l.text);
  // Listed once although it answered the broadcast and the directed probe.
  EXPECT_EQ(sorted(first), (std::vector<std::string>{"MCA-740#00011 on 10.9.0.11\t FW# 13.04",
                                                     "MCA-740#00012 on 10.9.0.12\t FW# 13.04\t(in use)",
                                                     "MCA-740#00020 on 10.20.5.5\t FW# 13.04"}));
  EXPECT_EQ(second.size(), 4u);
  EXPECT_NE(std::find(second.begin(), second.end(), "MCA-740#00030 on 10.30.0.5\t FW# 13.04"), second.end());
  auto frames = sim_->frames();
  EXPECT_EQ(frames_of(frames, "10.9.0.11", kProbe740Code).size(), 4u);  // two passes, two probes each
  EXPECT_EQ(frames_of(frames, "10.30.0.5", kProbe740Code).size(), 1u);  // only once it was typed

  // Moved to the front of the list and into the registry.
  EXPECT_EQ(store->get_value(kSpecialIpKey, "#00")->data, "10.30.0.5");
  EXPECT_EQ(store->get_value(kSpecialIpKey, "#01")->data, "10.9.0.11");
  EXPECT_EQ(store->get_value(kSpecialIpKey, "#02")->data, "10.9.0.1");
}

}  // namespace
