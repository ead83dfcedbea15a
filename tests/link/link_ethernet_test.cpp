// SPDX-License-Identifier: LGPL-2.1-or-later
// The Ethernet channel: opening, the socket's life, and the receive rules
// for sender address, sender port and datagram size. A test-owned UDP
// socket plays the device so that each rule can be met and broken exactly.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "lyralink/link/link.h"
#include "lyralink/link/transaction.h"
#include "platform/udp_socket.h"
#include "tests/support/emulator.h"
#include "tools/lyrasim/wire.h"

using namespace lyralink;
using namespace lyralink::link;
namespace plat = lyralink::platform;

namespace {

// What the fake device sends back for one received command: datagrams from
// chosen sockets.
struct Send {
  plat::UdpSocket* from;
  std::vector<uint8_t> datagram;
};

class FakeDevice {
 public:
  FakeDevice() {
    port_ = link_state().device_udp_port;
    main_ = plat::UdpSocket::create(port_, "127.0.0.1");
    other_port_ = plat::UdpSocket::create(0, "127.0.0.1");
    other_address_ = plat::UdpSocket::create(port_, "127.0.0.2");
  }
  bool ready() const { return main_ && other_port_ && other_address_; }

  // Answers the next `count` commands with what `reply` returns.
  void serve(int count, std::function<std::vector<Send>(const lyrasim::Command&)> reply) {
    worker_ = std::thread([this, count, reply] {
      for (int i = 0; i < count; ++i) {
        if (!main_->wait_readable(plat::deadline_after_ms(5000))) return;
        uint8_t buf[64];
        auto d = main_->receive(buf, sizeof buf);
        if (!d || d->size != 12) continue;
        lyrasim::Command c;
        std::memcpy(c.raw.data(), buf, 12);
        ++received_;
        for (auto& s : reply(c)) s.from->send_to(s.datagram.data(), s.datagram.size(), d->address, d->port);
      }
    });
  }
  void join() {
    if (worker_.joinable()) worker_.join();
  }
  ~FakeDevice() { join(); }

  static std::vector<uint8_t> with_prefix(std::vector<uint8_t> frame) {
    frame.insert(frame.begin(), {0x12, 0x34});
    return frame;
  }

  plat::UdpSocket* main() { return main_.get(); }
  plat::UdpSocket* other_port() { return other_port_.get(); }
  plat::UdpSocket* other_address() { return other_address_.get(); }
  int received() const { return received_; }

 private:
  uint16_t port_ = 0;
  std::unique_ptr<plat::UdpSocket> main_, other_port_, other_address_;
  std::thread worker_;
  std::atomic<int> received_{0};
};

lyrasim::AnswerData data_with(uint16_t marker) {
  lyrasim::AnswerData d{};
  put_u16(d.data(), marker);
  return d;
}

class EthernetLink : public ::testing::Test {
 protected:
  void TearDown() override {
    close_link(link_state());
    terminate_ethernet(link_state());
  }
  static Status run(uint16_t code, uint32_t timeout = 850, int retries = 1,
                    const char* address = "127.0.0.1") {
    EXPECT_EQ(open_ethernet(link_state(), address, static_cast<int32_t>(timeout), retries), 1);
    link_state().command.reset(code);
    return short_transaction(link_state());
  }
};

TEST_F(EthernetLink, OpenStoresTheAddressWithoutSendingAnything) {
  FakeDevice device;
  ASSERT_TRUE(device.ready());
  LinkState& s = link_state();
  s.port_id = 0xAAAA;
  EXPECT_EQ(open_ethernet(s, "192.168.100.1001", 1000, 3), 0);  // 16 characters
  EXPECT_EQ(s.port_id, 0xAAAA);
  EXPECT_FALSE(s.link_open());
  EXPECT_EQ(open_ethernet(s, "127.0.0.1", 100, 0), 1);
  EXPECT_EQ(s.port_id, kPortIdEthernet);
  EXPECT_EQ(s.answer_timeout, 850u);
  EXPECT_EQ(s.retry_count, 1u);
  EXPECT_STREQ(s.device_address, "127.0.0.1");
  plat::sleep_ms(50);
  uint8_t buf[64];
  EXPECT_FALSE(device.main()->receive(buf, sizeof buf));  // no traffic
  EXPECT_EQ(open_ethernet(s, "127.0.0.1", 1000, 1), 0);   // already open
  EXPECT_EQ(open_port(s, "COM1", 1000, 1, 38400, 0), 0);
  EXPECT_EQ(open_ethernet(s, nullptr, 1000, 1), 0);
}

TEST_F(EthernetLink, SocketSurvivesCloseAndIsNotReconfigured) {
  LinkState& s = link_state();
  ASSERT_EQ(open_ethernet(s, "127.0.0.1", 850, 1), 1);
  plat::UdpSocket* first = s.udp_socket.get();
  uint16_t port = first->local_port();
  close_link(s);
  EXPECT_EQ(s.port_id, kPortIdNone);
  EXPECT_STREQ(s.device_address, "127.0.0.1");
  ASSERT_EQ(open_ethernet(s, "127.0.0.2", 850, 1), 1);
  EXPECT_EQ(s.udp_socket.get(), first);
  EXPECT_EQ(s.udp_socket->local_port(), port);
}

TEST_F(EthernetLink, TerminateWhileOpenClosesTheLinkFirst) {
  LinkState& s = link_state();
  ASSERT_EQ(open_ethernet(s, "127.0.0.1", 850, 1), 1);
  terminate_ethernet(s);
  EXPECT_FALSE(s.udp_socket);
  EXPECT_FALSE(s.link_open());  // no Ethernet flag left without a socket
  link_state().command.reset(0x5A);
  EXPECT_EQ(short_transaction(s), status::no_link);
  ASSERT_EQ(open_ethernet(s, "127.0.0.1", 850, 1), 1);  // a new socket
  EXPECT_TRUE(s.udp_socket);
}

TEST_F(EthernetLink, RightAddressAndPortPass) {
  FakeDevice device;
  ASSERT_TRUE(device.ready());
  device.serve(1, [&](const lyrasim::Command& c) {
    return std::vector<Send>{{device.main(), FakeDevice::with_prefix(lyrasim::short_answer(data_with(0xCAFE), c))}};
  });
  EXPECT_EQ(run(0x5A), status::ok);
  EXPECT_EQ(get_u16(link_state().answer_data()), 0xCAFE);
}

TEST_F(EthernetLink, AnswerFromAnotherPortYields3) {
  FakeDevice device;
  ASSERT_TRUE(device.ready());
  device.serve(1, [&](const lyrasim::Command& c) {
    return std::vector<Send>{{device.other_port(), FakeDevice::with_prefix(lyrasim::short_answer(data_with(1), c))}};
  });
  EXPECT_EQ(run(0x5A), status::no_valid_answer);
}

TEST_F(EthernetLink, AnswerFromAnotherAddressIsIgnoredButEndsTheAttempt) {
  FakeDevice device;
  ASSERT_TRUE(device.ready());
  // First command: a datagram from 127.0.0.2 on the device port ends the
  // attempt (3); the good answer right behind it is late. Second command:
  // answered normally, and the late answer must not be taken for it.
  device.serve(2, [&](const lyrasim::Command& c) {
    if (device.received() == 1) {
      return std::vector<Send>{
          {device.other_address(), FakeDevice::with_prefix(lyrasim::short_answer(data_with(1), c))},
          {device.main(), FakeDevice::with_prefix(lyrasim::short_answer(data_with(2), c))}};
    }
    return std::vector<Send>{{device.main(), FakeDevice::with_prefix(lyrasim::short_answer(data_with(3), c))}};
  });
  EXPECT_EQ(run(0x5A), status::no_valid_answer);
  plat::sleep_ms(50);
  EXPECT_EQ(short_transaction(link_state()), status::ok);
  EXPECT_EQ(get_u16(link_state().answer_data()), 3);
}

TEST_F(EthernetLink, ForeignDatagramsFromOtherPortsAreSkipped) {
  FakeDevice device;
  ASSERT_TRUE(device.ready());
  // Noise from another port and another size first, then the answer: the
  // loop goes on past the noise.
  device.serve(1, [&](const lyrasim::Command& c) {
    return std::vector<Send>{{device.other_port(), std::vector<uint8_t>(40, 0xEE)},
                             {device.main(), FakeDevice::with_prefix(lyrasim::short_answer(data_with(7), c))}};
  });
  EXPECT_EQ(run(0x5A), status::ok);
  EXPECT_EQ(get_u16(link_state().answer_data()), 7);
}

TEST_F(EthernetLink, WrongSizeFromTheDevicePortFailsAtOnce) {
  FakeDevice device;
  ASSERT_TRUE(device.ready());
  device.serve(1, [&](const lyrasim::Command& c) {
    auto d = FakeDevice::with_prefix(lyrasim::short_answer(data_with(1), c));
    d.push_back(0);
    d.push_back(0);  // 140 bytes
    return std::vector<Send>{{device.main(), d}};
  });
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(run(0x5A, 5000), status::no_valid_answer);
  // Ends with that datagram, long before the 5 s deadline.
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(2500));
}

TEST_F(EthernetLink, AddressWithLeadingZerosNeverMatches) {
  FakeDevice device;
  ASSERT_TRUE(device.ready());
  device.serve(2, [&](const lyrasim::Command& c) {
    return std::vector<Send>{{device.main(), FakeDevice::with_prefix(lyrasim::short_answer(data_with(1), c))}};
  });
  EXPECT_EQ(run(0x5A, 850, 2, "127.000.000.001"), status::no_valid_answer);
  device.join();
  EXPECT_EQ(device.received(), 2);  // it was sent, and retried
}

TEST_F(EthernetLink, LongAnswersIgnoreTheSenderPortButNotTheAddress) {
  FakeDevice device;
  ASSERT_TRUE(device.ready());
  device.serve(3, [&](const lyrasim::Command& c) {
    std::vector<uint8_t> block(1440);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i);
    auto frame = FakeDevice::with_prefix(lyrasim::long_answer(block, c));
    switch (c.word(1)) {
      case 0: return std::vector<Send>{{device.other_port(), frame}};      // accepted
      case 1: return std::vector<Send>{{device.other_address(), frame}};   // ignored: 3
      default:
        return std::vector<Send>{{device.main(), FakeDevice::with_prefix(lyrasim::error_answer(0xAAAE))}};
    }
  });
  ASSERT_EQ(open_ethernet(link_state(), "127.0.0.1", 850, 1), 1);
  std::vector<uint8_t> block(1440, 0);
  LinkState& s = link_state();
  s.command.reset(263);
  EXPECT_EQ(long_transaction(s, block.data(), block.size()), status::ok);
  EXPECT_EQ(block[1439], static_cast<uint8_t>(1439));
  s.command.set_word(1, 1);
  EXPECT_EQ(long_transaction(s, block.data(), block.size()), status::no_valid_answer);
  s.command.set_word(1, 2);
  EXPECT_EQ(long_transaction(s, block.data(), block.size()), 7);
}

TEST_F(EthernetLink, OversizedAndTinyDatagramsStayInsideTheBuffers) {
  FakeDevice device;
  ASSERT_TRUE(device.ready());
  device.serve(2, [&](const lyrasim::Command&) {
    return std::vector<Send>{{device.main(), std::vector<uint8_t>(1)},
                             {device.main(), std::vector<uint8_t>(1600, 0xA5)},
                             {device.main(), std::vector<uint8_t>(65000, 0x5A)}};
  });
  ASSERT_EQ(open_ethernet(link_state(), "127.0.0.1", 850, 1), 1);
  link_state().command.reset(0x5A);
  EXPECT_EQ(short_transaction(link_state()), status::no_valid_answer);
  std::vector<uint8_t> block(1464, 0x11);
  link_state().command.reset(263);
  EXPECT_EQ(long_transaction(link_state(), block.data(), block.size()), status::no_valid_answer);
  EXPECT_EQ(block, std::vector<uint8_t>(1464, 0x11));
}

TEST_F(EthernetLink, EmulatedDeviceOverUdp) {
  auto sim = lyratest::Emulator::start(
      {"--udp", "127.0.0.1=740,sn=321", "--udp-port", std::to_string(link_state().device_udp_port)});
  ASSERT_TRUE(sim);
  ASSERT_EQ(open_ethernet(link_state(), "127.0.0.1", 850, 3), 1);
  LinkState& s = link_state();
  s.command.reset(0x0101);
  EXPECT_EQ(short_transaction(s), status::ok);
  EXPECT_EQ(get_u16(s.answer_data() + 44), 321);
  ASSERT_TRUE(sim->control("fault error=0xAAAE"));
  EXPECT_EQ(short_transaction(s), 7);
  ASSERT_TRUE(sim->control("clear-faults"));
  ASSERT_TRUE(sim->control("fault checksum,count=2"));
  EXPECT_EQ(short_transaction(s), status::ok);  // third attempt
  auto frames = sim->frames();
  EXPECT_EQ(frames.size(), 5u);
}

}  // namespace
