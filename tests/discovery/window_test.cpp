// SPDX-License-Identifier: LGPL-2.1-or-later
// The receive windows on a scripted socket with its own clock (no real
// waiting), and the selection parameter block.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>

#include "lyralink/discovery/ethernet.h"
#include "lyralink/discovery/identity.h"
#include "lyralink/discovery/selection.h"
#include "tools/lyrasim/device.h"
#include "tools/lyrasim/wire.h"

using namespace lyralink::discovery;
namespace plat = lyralink::platform;
using std::chrono::milliseconds;

namespace {

constexpr uint16_t kPort = 50000;

struct Arrival {
  int at_ms;
  std::vector<uint8_t> bytes;
  std::string from = "10.0.0.5";
  uint16_t port = kPort;
};

// A socket whose datagrams arrive at scripted times of a fake clock; every
// wait moves the clock forward instead of sleeping.
class ScriptedPort final : public DatagramPort {
 public:
  explicit ScriptedPort(std::vector<Arrival> script) : script_(script.begin(), script.end()) {}

  plat::TimePoint now() override { return now_; }
  bool wait_readable(plat::TimePoint deadline) override {
    ++waits;
    if (!queue_.empty()) return true;
    if (error_at_ms >= 0 && start_ + milliseconds(error_at_ms) <= deadline && !error_raised_) {
      now_ = std::max(now_, start_ + milliseconds(error_at_ms));
      error_raised_ = true;
      pending_error_ = plat::ErrorKind::connection_refused;
      return false;
    }
    if (!script_.empty() && start_ + milliseconds(script_.front().at_ms) <= deadline) {
      now_ = std::max(now_, start_ + milliseconds(script_.front().at_ms));
      arrive();
      return true;
    }
    now_ = std::max(now_, deadline);
    return false;
  }
  std::optional<plat::Datagram> peek(uint8_t* buf, size_t capacity) override { return take(buf, capacity, false); }
  std::optional<plat::Datagram> receive(uint8_t* buf, size_t capacity) override { return take(buf, capacity, true); }
  plat::ErrorKind take_pending_error() override {
    plat::ErrorKind e = pending_error_;
    pending_error_ = plat::ErrorKind::none;
    return e;
  }
  void recreate() override { ++recreated; }
  void sleep_until(plat::TimePoint deadline) override {
    now_ = std::max(now_, deadline);
    while (!script_.empty() && start_ + milliseconds(script_.front().at_ms) <= now_) arrive();
  }

  int elapsed_ms() const { return static_cast<int>(std::chrono::duration_cast<milliseconds>(now_ - start_).count()); }
  int recreated = 0;
  int waits = 0;
  int error_at_ms = -1;
  size_t received = 0;

 private:
  void arrive() {
    queue_.push_back(script_.front());
    script_.pop_front();
  }
  std::optional<plat::Datagram> take(uint8_t* buf, size_t capacity, bool remove) {
    if (queue_.empty()) return std::nullopt;
    const Arrival& a = queue_.front();
    plat::Datagram d;
    d.size = a.bytes.size();
    d.copied = std::min(capacity, a.bytes.size());
    std::memcpy(buf, a.bytes.data(), d.copied);
    d.address = a.from;
    d.port = a.port;
    if (remove) {
      queue_.pop_front();
      ++received;
    }
    return d;
  }

  std::deque<Arrival> script_;
  std::deque<Arrival> queue_;
  plat::TimePoint start_ = plat::Clock::now();
  plat::TimePoint now_ = start_;
  plat::ErrorKind pending_error_ = plat::ErrorKind::none;
  bool error_raised_ = false;
};

std::vector<uint8_t> datagram(const std::string& device, const Probe& probe = probe_740()) {
  lyrasim::Analyser a(*lyrasim::parse_identity(device, nullptr));
  lyrasim::Command c;
  std::memcpy(c.raw.data(), probe.data(), 12);
  auto frame = a.respond(c, lyrasim::SteadyClock::now());
  std::vector<uint8_t> d{0x01, 0x00};
  d.insert(d.end(), frame.begin(), frame.end());
  return d;
}

struct Collected {
  std::vector<std::string> senders;
  std::vector<uint16_t> serials;
};

Collected run(ScriptedPort& port, bool recreate = false) {
  Collected c;
  receive_window(port, WindowRules{kPort, recreate}, [&](const uint8_t* frame, const std::string& sender) {
    c.senders.push_back(sender);
    c.serials.push_back(read_740_fields(frame).serial);
  });
  return c;
}

TEST(ReceiveWindow, ThousandMillisecondsWithoutAnswers) {
  ScriptedPort port({});
  auto c = run(port);
  EXPECT_TRUE(c.senders.empty());
  EXPECT_EQ(port.elapsed_ms(), 1000);
}

TEST(ReceiveWindow, EachDatagramExtendsTheWindowToFiveHundredMilliseconds) {
  // 100 ms in: 900 ms remain, no extension. 800 ms in: 200 ms remain, the
  // window now ends at 1300. 1250 ms in (a foreign datagram, dropped): ends at 1750.
  std::vector<uint8_t> foreign(40, 0x55);
  ScriptedPort port({{100, datagram("740,sn=1")}, {800, datagram("740,sn=2"), "10.0.0.6"}, {1250, foreign, "10.0.0.7"}});
  auto c = run(port);
  EXPECT_EQ(c.serials, (std::vector<uint16_t>{1, 2}));
  EXPECT_EQ(c.senders, (std::vector<std::string>{"10.0.0.5", "10.0.0.6"}));
  EXPECT_EQ(port.elapsed_ms(), 1750);
  EXPECT_EQ(port.received, 3u);
}

TEST(ReceiveWindow, WrongSizesPortsAndAnswersAreTakenAndDropped) {
  auto good = datagram("740,sn=9");
  auto short_one = std::vector<uint8_t>(good.begin(), good.begin() + 136);
  auto long_one = good;
  long_one.insert(long_one.end(), {0, 0});
  auto for_310 = datagram("740,sn=8", probe_310());  // valid, but not for the 740 probe
  auto garbled = good;
  garbled[50] ^= 0xFF;
  ScriptedPort port({{10, short_one},
                     {20, long_one},
                     {30, good, "10.0.0.5", 50001},
                     {40, for_310},
                     {50, garbled},
                     {60, std::vector<uint8_t>(3000, 0xA5)},
                     {70, good}});
  auto c = run(port);
  EXPECT_EQ(c.serials, (std::vector<uint16_t>{9}));
  EXPECT_EQ(port.received, 7u);
}

TEST(ReceiveWindow, ARefusedDatagramRecreatesTheSocketOnlyWhereAsked) {
  ScriptedPort plain({});
  plain.error_at_ms = 300;
  run(plain, false);
  EXPECT_EQ(plain.recreated, 0);
  EXPECT_EQ(plain.elapsed_ms(), 1000);  // the error does not cut the window short

  ScriptedPort selection({{500, datagram("740,sn=3")}});
  selection.error_at_ms = 200;
  auto c = run(selection, true);
  EXPECT_EQ(c.serials, (std::vector<uint16_t>{3}));
  EXPECT_EQ(selection.recreated, 1);

  ScriptedPort quiet({});
  run(quiet, true);
  EXPECT_EQ(quiet.recreated, 0);
}

std::vector<uint8_t> head_datagram(const std::string& text) {
  std::vector<uint8_t> data(1024, 0);
  std::memcpy(data.data(), text.data(), text.size());
  lyrasim::Command c;
  std::memcpy(c.raw.data(), head_identity_query().data(), 12);
  auto frame = lyrasim::long_answer(data, c);
  std::vector<uint8_t> d{0, 0};
  d.insert(d.end(), frame.begin(), frame.end());
  return d;
}

TEST(HeadListening, AlwaysTheFullSecondAndOnlyTheAddressesOwnAnswer) {
  ScriptedPort port({{5, datagram("740,sn=1"), "10.0.0.9"}, {20, head_datagram("Trebla x SN=42")}});
  EXPECT_EQ(listen_for_head(port, "10.0.0.5", kPort), 42u);
  EXPECT_EQ(port.elapsed_ms(), 1000);

  // From the right address but another port, or no head text: nothing.
  ScriptedPort wrong_port({{20, head_datagram("Trebla SN=42"), "10.0.0.5", 50001}});
  EXPECT_EQ(listen_for_head(wrong_port, "10.0.0.5", kPort), std::nullopt);
  EXPECT_EQ(wrong_port.received, 1u);
  ScriptedPort analyser({{20, datagram("740,sn=1")}});
  EXPECT_EQ(listen_for_head(analyser, "10.0.0.5", kPort), std::nullopt);
  ScriptedPort silent({});
  EXPECT_EQ(listen_for_head(silent, "10.0.0.5", kPort), std::nullopt);
  EXPECT_EQ(silent.elapsed_ms(), 1000);
}

TEST(SelectionBlock, DefaultsCopyInAndWriteBack) {
  SelectionParameters d = read_selection_block(nullptr);
  EXPECT_FALSE(d.caller_block);
  EXPECT_EQ(d.wanted_serial, 0);
  EXPECT_FALSE(d.admission.admit_310);
  EXPECT_EQ(d.admission.min_fw_310, 0xFFFF);
  EXPECT_TRUE(d.admission.admit_740);
  EXPECT_EQ(d.admission.min_fw_740, 0x1116);
  EXPECT_FALSE(d.splash);
  EXPECT_TRUE(d.dialogs);
  EXPECT_EQ(d.port_filter, 0xFFFF);

  // Length 16: fields from offset 16 on keep their defaults, and nothing is
  // written back; the bytes beyond are never touched.
  uint8_t block[32];
  std::memset(block, 0xEE, sizeof block);
  const uint8_t head[16] = {16, 0, 77, 0, 1, 0, 0x00, 0x03, 0, 0, 0x00, 0x12, 0, 0, 0, 0};
  std::memcpy(block, head, sizeof head);
  SelectionParameters p = read_selection_block(block);
  EXPECT_EQ(p.wanted_serial, 77);
  EXPECT_TRUE(p.admission.admit_310);
  EXPECT_EQ(p.admission.min_fw_310, 0x0300);
  EXPECT_FALSE(p.admission.admit_740);
  EXPECT_EQ(p.admission.min_fw_740, 0x1200);
  EXPECT_FALSE(p.dialogs);
  EXPECT_EQ(p.port_filter, 0xFFFF);  // 0xEEEE lies beyond the length
  write_chosen_port(block, p, 5);
  write_chosen_baud(block, p, 307200);
  for (size_t i = 16; i < sizeof block; ++i) EXPECT_EQ(block[i], 0xEE) << i;

  block[0] = 18;
  p = read_selection_block(block);
  EXPECT_EQ(p.port_filter, 0xEEEE);
  write_chosen_port(block, p, 5);
  write_chosen_baud(block, p, 307200);
  EXPECT_EQ(block[16], 5);
  EXPECT_EQ(block[17], 0);
  EXPECT_EQ(block[20], 0xEE);

  block[0] = 22;
  p = read_selection_block(block);
  write_chosen_baud(block, p, 307200);
  EXPECT_EQ(lyrasim::get32(block + 20), 307200u);
  EXPECT_EQ(block[18], 0xEE);  // reserved: never written
  EXPECT_EQ(block[24], 0xEE);

  // A length beyond 24 reads 24 bytes; length 0 or 1 reads (almost)
  // nothing, and nothing is written back.
  block[0] = 200;
  EXPECT_EQ(read_selection_block(block).caller_length, 200);
  uint8_t zero[24];
  std::memset(zero, 0xEE, sizeof zero);
  zero[0] = 0;
  zero[1] = 0;
  p = read_selection_block(zero);
  EXPECT_TRUE(p.dialogs);
  EXPECT_EQ(p.wanted_serial, 0);
  write_chosen_port(zero, p, 5);
  write_chosen_baud(zero, p, 38400);
  EXPECT_EQ(zero[16], 0xEE);
  EXPECT_EQ(zero[20], 0xEE);
}

}  // namespace
