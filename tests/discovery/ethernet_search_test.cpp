// SPDX-License-Identifier: LGPL-2.1-or-later
// COMM_INIT_ETHERNET and COMM_INIT_ETHERNET_TREBLA against lyrasim on
// loopback addresses (the host's own address given as 127.0.0.1/8, so the
// broadcast goes to 127.255.255.255), and against a test-owned socket that
// sends what no analyser would.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "lyralink/discovery/ethernet.h"
#include "lyralink/discovery/identity.h"
#include "tests/discovery/discovery_support.h"
#include "tests/discovery/failing_udp_sockets.h"
#include "tools/lyrasim/device.h"

using namespace lyralink;
using namespace lyralink::discovery;
using namespace lyratest;

namespace {

class EthernetSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    use_fresh_registry();
    ::setenv("LYRALINK_HOST_ADDRESSES", "127.0.0.1/255.0.0.0", 1);
  }
  void TearDown() override { link::close_link(link::link_state()); }
  void start(const std::vector<std::string>& args) {
    std::vector<std::string> a = {"--udp-port", std::to_string(link::link_state().device_udp_port)};
    a.insert(a.end(), args.begin(), args.end());
    sim_ = Emulator::start(a);
    ASSERT_TRUE(sim_);
  }
  std::unique_ptr<Emulator> sim_;
  ScriptedWindows windows_;
};

TEST_F(EthernetSearch, AnalysersBySerialNumberOrInTheDialog) {
  start({"--udp", "127.0.0.2=740,sn=21", "--udp", "127.0.0.3=740,sn=22,use=0,uses=1", "--udp", "127.0.0.4=310,sn=23"});
  WindowsInstalled shown(windows_);
  auto& s = link::link_state();

  // The in-use analyser is not taken by its serial number (only the low 16
  // bits of it count), and nothing is shown when the caller chose.
  EXPECT_EQ(comm_init_ethernet(s, 22 + 0x10000, 1000, 0, nullptr), 0);
  EXPECT_EQ(list_texts(), (std::vector<std::string>{"MCA-740#00021 on 127.0.0.2", "MCA-740#00022 on 127.0.0.3 (in use)"}));
  EXPECT_TRUE(windows_.events.empty());
  EXPECT_EQ(s.retry_count, 1u);  // 0 becomes 1
  EXPECT_EQ(s.answer_timeout, 1000u);

  // In the dialog it can be chosen; the address comes without the suffix.
  windows_.head_script = {DialogAction::pick("MCA-740#00022")};
  EXPECT_EQ(comm_init_ethernet(s, 0, 100, 2, nullptr), 1);
  EXPECT_EQ(s.channel(), link::Channel::ethernet);
  EXPECT_STREQ(s.device_address, "127.0.0.3");
  EXPECT_EQ(s.port_id, 0);
  EXPECT_EQ(s.answer_timeout, 850u);  // raised to the least
  ASSERT_EQ(windows_.head_lines.size(), 1u);
  EXPECT_EQ(windows_.head_lines[0].size(), 2u);

  // A call with a link open does nothing.
  sim_->clear_record();
  EXPECT_EQ(comm_init_ethernet(s, 21, 1000, 1, nullptr), 0);
  EXPECT_TRUE(sim_->frames().empty());
  EXPECT_STREQ(s.device_address, "127.0.0.3");

  link::close_link(s);
  EXPECT_EQ(comm_init_ethernet(s, 21, 1000, 1, nullptr), 1);
  EXPECT_STREQ(s.device_address, "127.0.0.2");
  // The MCA-310 never answers the 740 probe; the list holds only 740s.
  EXPECT_EQ(device_list().size(), 2u);
}

TEST_F(EthernetSearch, NothingFound) {
  start({"--udp", "127.0.0.2=310,sn=5"});
  WindowsInstalled shown(windows_);
  auto& s = link::link_state();
  EXPECT_EQ(comm_init_ethernet(s, 7, 1000, 1, nullptr), 0);
  EXPECT_TRUE(windows_.events.empty());
  EXPECT_EQ(comm_init_ethernet(s, 0, 1000, 1, nullptr), 0);
  EXPECT_EQ(windows_.events, (std::vector<std::string>{"message: No Lyra's detected. | MCA Communication"}));
  EXPECT_FALSE(s.link_open());
}

TEST_F(EthernetSearch, WithoutAUdpSocketNothingIsFoundAndTheUserIsTold) {
  start({"--udp", "127.0.0.2=740,sn=31,head=42"});
  WindowsInstalled shown(windows_);
  auto& s = link::link_state();
  link::terminate_ethernet(s);  // no socket left from before
  UdpSocketsFail no_udp;
  EXPECT_EQ(comm_init_ethernet(s, 31, 1000, 1, nullptr), 0);
  EXPECT_EQ(comm_init_ethernet_trebla(s, 31, 1000, 1, nullptr), 0);
  EXPECT_TRUE(windows_.events.empty());  // the caller chose: nothing shown
  EXPECT_EQ(comm_init_ethernet(s, 0, 1000, 1, nullptr), 0);
  EXPECT_EQ(comm_init_ethernet_trebla(s, 0, 1000, 1, nullptr), 0);
  EXPECT_EQ(windows_.events, (std::vector<std::string>{"message: No Lyra's detected. | MCA Communication",
                                                       "message: No measuring heads detected. | MCA Communication"}));
  EXPECT_TRUE(device_list().empty());
  EXPECT_FALSE(s.link_open());
  EXPECT_TRUE(sim_->frames().empty());
}

TEST_F(EthernetSearch, MeasuringHeads) {
  start({"--udp", "127.0.0.2=740,sn=31", "--udp", "127.0.0.3=740,sn=32,head=42,use=0,uses=1"});
  WindowsInstalled shown(windows_);
  auto& s = link::link_state();
  sim_->clear_record();
  // The head answers as in use; by its analyser serial number it is taken
  // all the same, with the plain address.
  EXPECT_EQ(comm_init_ethernet_trebla(s, 32, 1000, 1, nullptr), 1);
  EXPECT_EQ(list_texts(), (std::vector<std::string>{"Trebla#00042 on 127.0.0.3 (in use)"}));
  EXPECT_EQ(device_list().at(0).serial_number, 32);
  EXPECT_STREQ(s.device_address, "127.0.0.3");
  // Each analyser was asked for its head identity, once.
  auto frames = sim_->frames();
  EXPECT_EQ(frames_of(frames, "127.0.0.2", kHeadQueryCode).size(), 1u);
  EXPECT_EQ(frames_of(frames, "127.0.0.3", kHeadQueryCode).size(), 1u);

  link::close_link(s);
  windows_.head_script = {DialogAction::pick("Trebla#00042")};
  EXPECT_EQ(comm_init_ethernet_trebla(s, 0, 1000, 1, nullptr), 1);
  EXPECT_STREQ(s.device_address, "127.0.0.3");
  ASSERT_EQ(windows_.head_lines.size(), 1u);
  EXPECT_EQ(windows_.head_lines[0], (std::vector<std::string>{"Trebla#00042 on 127.0.0.3 (in use)"}));
}

TEST_F(EthernetSearch, NoHeadAmongTheAnalysers) {
  start({"--udp", "127.0.0.2=740,sn=31"});
  WindowsInstalled shown(windows_);
  auto& s = link::link_state();
  EXPECT_EQ(comm_init_ethernet_trebla(s, 0, 1000, 1, nullptr), 0);
  EXPECT_TRUE(device_list().empty());
  EXPECT_EQ(windows_.events, (std::vector<std::string>{"message: No measuring heads detected. | MCA Communication"}));
}

// A device of the test's own that answers the search with everything an
// analyser must not send, then with one good answer.
TEST_F(EthernetSearch, ForeignAndMalformedDatagramsAreDropped) {
  auto& s = link::link_state();
  ASSERT_TRUE(link::prepare_udp_socket(s));
  const uint16_t library_port = s.udp_socket->local_port();
  const uint16_t device_port = s.device_udp_port;
  auto device = platform::UdpSocket::create(device_port, "127.0.0.5");
  auto stranger = platform::UdpSocket::create(0, "127.0.0.6");
  ASSERT_TRUE(device && stranger);

  lyrasim::Analyser analyser(*lyrasim::parse_identity("740,sn=55", nullptr));
  lyrasim::Command probe;
  std::memcpy(probe.raw.data(), probe_740().data(), 12);
  auto frame = analyser.respond(probe, lyrasim::SteadyClock::now());
  std::vector<uint8_t> good(2 + frame.size(), 0);  // the datagram prefix, then the frame
  std::copy(frame.begin(), frame.end(), good.begin() + 2);

  std::atomic<bool> done{false};
  std::thread sender([&] {
    platform::sleep_ms(100);
    auto send = [&](platform::UdpSocket& from, std::vector<uint8_t> bytes) {
      from.send_to(bytes.data(), bytes.size(), "127.0.0.1", library_port);
    };
    send(*device, std::vector<uint8_t>(good.begin(), good.begin() + 136));  // 136 bytes
    auto longer = good;
    longer.resize(longer.size() + 2, 0);
    send(*device, longer);     // 140 bytes
    send(*stranger, good);     // right size, wrong port
    send(*device, std::vector<uint8_t>(4000, 0x5A));  // far larger than the buffer
    auto bad = good;
    bad[100] ^= 0x10;
    send(*device, bad);        // checksum
    // Keep the window open past its first second, then answer properly:
    // the answer comes only because every datagram moved the window's end.
    for (int i = 0; i < 6; ++i) {
      platform::sleep_ms(200);
      send(*stranger, {1, 2, 3});
    }
    send(*device, good);
    done = true;
  });
  EXPECT_EQ(comm_init_ethernet(s, 55, 1000, 1, nullptr), 1);
  sender.join();
  EXPECT_TRUE(done);
  EXPECT_STREQ(s.device_address, "127.0.0.5");
  EXPECT_EQ(list_texts(), (std::vector<std::string>{"MCA-740#00055 on 127.0.0.5"}));
}

}  // namespace
