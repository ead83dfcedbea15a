// SPDX-License-Identifier: LGPL-2.1-or-later
// Arbitrary bytes and datagrams fed to the receive path: no crash, no read
// or write outside the buffers (the sanitizer build checks every access),
// no random input accepted as an answer, and the destination of a long
// transaction untouched unless the answer verified.
#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <thread>

#include "lyralink/link/channels.h"
#include "lyralink/link/link.h"
#include "lyralink/link/transaction.h"
#include "platform/pty.h"
#include "platform/udp_socket.h"
#include "tests/support/emulator.h"
#include "tools/lyrasim/wire.h"

using namespace lyralink;
using namespace lyralink::link;
namespace plat = lyralink::platform;

namespace {

// An input queue in memory, fed by the test; queries fail on request.
class MemoryChannel final : public QueueChannel {
 public:
  std::deque<uint8_t> queue;
  bool fail_queries = false;
  void send(const CommandFrame&, size_t) override {}

 protected:
  std::optional<size_t> wait_for_bytes(size_t, TimePoint) override { return bytes_waiting(); }
  void pause_between_polls(size_t, TimePoint) override {}
  std::optional<size_t> bytes_waiting() override {
    if (fail_queries) return std::nullopt;
    return queue.size();
  }
  size_t read(uint8_t* buf, size_t n) override {
    size_t count = std::min(n, queue.size());
    for (size_t i = 0; i < count; ++i) {
      buf[i] = queue.front();
      queue.pop_front();
    }
    return count;
  }
};

std::vector<uint8_t> random_input(std::mt19937& rng, const CommandFrame& sent) {
  static const size_t sizes[] = {0, 1, 2, 12, 135, 136, 137, 138, 1022, 1454, 1466, 1478, 1479, 1480, 2100};
  size_t size = rng() % 4 == 0 ? rng() % 2200 : sizes[rng() % std::size(sizes)];
  std::vector<uint8_t> bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  if (size >= 2 && rng() % 2 == 0) put_u16(bytes.data(), kSyncWord);
  if (size >= 136 && rng() % 3 == 0) put_u16(bytes.data() + 134, static_cast<uint16_t>(0xAAA8 + rng() % 8));
  if (size >= 116 && rng() % 3 == 0) std::copy(sent.echo(), sent.echo() + 8, bytes.begin() + 108);
  return bytes;
}

TEST(ReceiveFuzz, QueueChannelWithArbitraryInput) {
  std::mt19937 rng(20261207);
  MemoryChannel channel;
  std::array<uint8_t, kAnswerAreaSize> area{};
  auto past = plat::Clock::now();
  int accepted = 0;
  for (int round = 0; round < 30000; ++round) {
    CommandFrame sent(static_cast<uint16_t>(rng() % 3 == 0 ? 0x5B : 0x107));
    auto input = random_input(rng, sent);
    channel.queue.assign(input.begin(), input.end());
    channel.fail_queries = rng() % 50 == 0;
    if (round % 2 == 0) {
      if (channel.receive_short(area.data(), past) && check_short_answer(area.data() + 2, sent) == status::ok) {
        ++accepted;
      }
    } else {
      uint8_t buffer[kLongBufferSize];
      size_t len = 2 * (1 + rng() % (kMaxLongDataLength / 2));
      auto size = channel.receive_long(buffer, len, past);
      if (size && *size <= kLongBufferSize - 2 && check_long_answer(buffer + 2, *size, len, sent) == status::ok) {
        ++accepted;
      }
    }
  }
  EXPECT_EQ(accepted, 0);
}

TEST(ReceiveFuzz, DatagramsOfAnySizeAndSender) {
  // Random datagrams from the device's own port and from elsewhere.
  const uint16_t port = link_state().device_udp_port;
  auto device = plat::UdpSocket::create(port, "127.0.0.1");
  auto stranger = plat::UdpSocket::create(0, "127.0.0.1");
  ASSERT_TRUE(device && stranger);
  ASSERT_EQ(open_ethernet(link_state(), "127.0.0.1", 850, 1), 1);
  LinkState& s = link_state();
  std::mt19937 rng(77);
  std::thread peer([&] {
    uint8_t buf[64];
    for (int i = 0; i < 300; ++i) {
      if (!device->wait_readable(plat::deadline_after_ms(5000))) return;
      auto d = device->receive(buf, sizeof buf);
      if (!d) continue;
      CommandFrame sent(get_u16(buf + 2));
      sent.set_word(1, get_u16(buf + 4));
      // Noise from a stranger, then from the device port a datagram of a
      // size that ends the wait (the expected one or 138), random inside.
      for (int n = 0; n < 3; ++n) {
        auto bytes = random_input(rng, sent);
        if (n == 2) bytes.resize(rng() % 2 == 0 || sent.code() == 0x5A ? 136 : sent.word(1) + 14u);
        bytes.insert(bytes.begin(), {0, 0});
        (n == 2 ? device : stranger)->send_to(bytes.data(), bytes.size(), d->address, d->port);
      }
    }
  });
  std::vector<uint8_t> block(1464, 0x33);
  for (int i = 0; i < 300; ++i) {
    if (i % 2 == 0) {
      s.command.reset(0x5A);
      EXPECT_NE(short_transaction(s), status::ok);
    } else {
      const size_t len = 2 * (1 + rng() % 732);
      s.command.reset(0x107);
      s.command.set_word(1, static_cast<uint16_t>(len));  // tells the peer what to send
      EXPECT_NE(long_transaction(s, block.data(), len), status::ok);
    }
  }
  peer.join();
  EXPECT_EQ(block, std::vector<uint8_t>(1464, 0x33));
  close_link(s);
}

TEST(ReceiveFuzz, LineNoiseOnASerialPort) {
  // The test plays the device on a pseudo-terminal of its own and answers
  // every frame with noise of random length.
  auto pty = plat::PtyDevice::create();
  ASSERT_TRUE(pty);
  std::string dir = lyratest::make_temp_dir("noise");
  ASSERT_TRUE(pty->publish(dir + "/COM8"));
  ::setenv("LYRALINK_PORT_DIR", dir.c_str(), 1);
  ASSERT_EQ(open_port(link_state(), "COM8", 850, 1, 38400, 0), 1);
  std::atomic<bool> stop{false};
  std::thread device([&] {
    std::mt19937 rng(5);
    uint8_t buf[256];
    while (!stop) {
      if (pty->read(buf, sizeof buf) < 12) {
        plat::sleep_ms(1);
        continue;
      }
      CommandFrame sent(get_u16(buf + 2));
      auto bytes = random_input(rng, sent);
      // Sizes that end the wait at once: 136 exactly, or more than asked.
      if (sent.code() == 0x5A) bytes.resize(rng() % 2 == 0 ? 136 : 137 + rng() % 1400);
      else bytes.resize(rng() % 2 == 0 ? 1454 : 1455 + rng() % 600);
      pty->write(bytes.data(), bytes.size());
    }
  });
  LinkState& s = link_state();
  std::vector<uint8_t> block(1440, 0x44);
  for (int i = 0; i < 60; ++i) {
    s.command.reset(static_cast<uint16_t>(i % 2 == 0 ? 0x5A : 0x107));
    Status st = i % 2 == 0 ? short_transaction(s) : long_transaction(s, block.data(), block.size());
    EXPECT_NE(st, status::ok);
  }
  stop = true;
  device.join();
  EXPECT_EQ(block, std::vector<uint8_t>(1440, 0x44));
  close_link(s);
}

}  // namespace
