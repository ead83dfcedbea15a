// SPDX-License-Identifier: LGPL-2.1-or-later
// The baud ladder on a link that answers at chosen rates only, and the
// rules of the ladder's settings (latency by driver version, modem lines).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "lyralink/discovery/baud_adjustment.h"
#include "lyralink/discovery/identity.h"
#include "lyralink/link/serial_byte_port.h"
#include "tests/support/memory_byte_port.h"
#include "tools/lyrasim/device.h"

using namespace lyralink::discovery;
namespace plat = lyralink::platform;

namespace {

// An analyser behind a port that passes its answers only at some rates,
// answering with the emulator's own device model.
class FakeLink final : public lyratest::MemoryBytePort {
 public:
  explicit FakeLink(std::set<uint32_t> rates) : rates_(std::move(rates)), device_(lyrasim::Identity{}) {}

  bool needs_warm_up = false;  // answers at 3000000 only once reached at 307200
  bool usb = false;
  int corrupt_answers = 0;
  size_t extra_bytes = 0;
  int probes = 0;

 private:
  void on_write(const uint8_t* bytes, size_t n) override {
    if (n != 12 || !std::equal(bytes, bytes + n, probe_310().begin())) return;
    ++probes;
    if (rates_.count(rate()) == 0) return;
    if (rate() == 3000000 && needs_warm_up && !reached_307200_) return;
    if (rate() == 307200) reached_307200_ = true;
    lyrasim::Command c;
    std::memcpy(c.raw.data(), probe_310().data(), 12);
    auto a = device_.respond(c, lyrasim::SteadyClock::now());
    if (corrupt_answers > 0) {
      --corrupt_answers;
      a[60] ^= 1;
    }
    queue.insert(queue.end(), a.begin(), a.end());
    for (size_t i = 0; i < extra_bytes; ++i) queue.push_back(0);
  }

  std::set<uint32_t> rates_;
  lyrasim::Analyser device_;
  bool reached_307200_ = false;
};

using Steps = std::vector<uint32_t>;

TEST(BaudLadder, TheStepsOfEachAnalyser) {
  struct Case {
    std::set<uint32_t> rates;
    bool warm_up;
    Steps steps;
    uint32_t final_rate;
  };
  const Case cases[] = {
      {{3000000, 307200, 115200, 38400}, false, {3000000}, 3000000},
      {{307200, 38400}, false, {3000000, 307200, 3000000, 307200}, 307200},
      {{3000000, 307200, 38400}, true, {3000000, 307200, 3000000}, 3000000},
      {{115200, 38400}, false, {3000000, 307200, 115200}, 115200},
      {{}, false, {3000000, 307200, 115200, 38400}, 38400},
      {{38400}, false, {3000000, 307200, 115200, 38400}, 38400},
  };
  for (const Case& c : cases) {
    FakeLink link(c.rates);
    link.needs_warm_up = c.warm_up;
    const LadderOutcome out = run_ladder(link, link.usb);
    EXPECT_EQ(link.rates_set, c.steps);
    EXPECT_EQ(out.final_rate, c.final_rate);
    EXPECT_FALSE(out.link_lost);
  }
}

TEST(BaudLadder, NextRateTable) {
  bool second = false;
  EXPECT_EQ(next_ladder_rate(3000000, true, second), std::nullopt);
  EXPECT_EQ(next_ladder_rate(3000000, false, second), 307200u);
  EXPECT_EQ(next_ladder_rate(307200, false, second), 115200u);
  EXPECT_EQ(next_ladder_rate(307200, true, second), 3000000u);
  EXPECT_TRUE(second);
  EXPECT_EQ(next_ladder_rate(307200, true, second), std::nullopt);
  EXPECT_EQ(next_ladder_rate(115200, true, second), std::nullopt);
  EXPECT_EQ(next_ladder_rate(115200, false, second), 38400u);
  EXPECT_EQ(next_ladder_rate(38400, false, second), std::nullopt);
  EXPECT_EQ(next_ladder_rate(38400, true, second), std::nullopt);
}

TEST(BaudLadder, AttemptsWithinAStep) {
  // Four attempts at most; an invalid answer is followed by the next
  // attempt without a drain, a wrong byte count by a drain.
  FakeLink silent({});
  EXPECT_EQ(run_ladder_step(silent, 3000000, false), StepResult::failure);
  EXPECT_EQ(silent.probes, 4);
  EXPECT_EQ(silent.drains, 4);

  FakeLink flaky({3000000});
  flaky.corrupt_answers = 3;
  EXPECT_EQ(run_ladder_step(flaky, 3000000, false), StepResult::success);
  EXPECT_EQ(flaky.probes, 4);
  EXPECT_EQ(flaky.drains, 0);

  FakeLink noisy({3000000});
  noisy.extra_bytes = 4;
  EXPECT_EQ(run_ladder_step(noisy, 3000000, false), StepResult::failure);
  EXPECT_EQ(noisy.drains, 4);

  // A rate the driver refuses fails the step without a probe; the ladder
  // goes on.
  FakeLink picky({3000000, 115200});
  picky.refused_rates = {3000000, 307200};
  const LadderOutcome out = run_ladder(picky, false);
  EXPECT_EQ(picky.rates_set, (Steps{3000000, 307200, 115200}));
  EXPECT_EQ(out.final_rate, 115200u);
}

TEST(BaudLadder, AFailedQueueQueryLosesAUsbLinkButNotASerialPort) {
  FakeLink usb({3000000});
  usb.usb = true;
  usb.fail_queries = true;
  const LadderOutcome lost = run_ladder(usb, usb.usb);
  EXPECT_TRUE(lost.link_lost);
  EXPECT_EQ(usb.rates_set, (Steps{3000000}));
  EXPECT_EQ(usb.probes, 1);

  FakeLink serial({3000000});
  serial.fail_queries = true;
  const LadderOutcome kept = run_ladder(serial, serial.usb);
  EXPECT_FALSE(kept.link_lost);
  EXPECT_EQ(serial.rates_set, (Steps{3000000, 307200, 115200, 38400}));
  EXPECT_EQ(serial.probes, 16);
}

TEST(BaudLadder, LatencyByDriverVersion) {
  EXPECT_EQ(latency_for_driver(0x00020813), 8);
  EXPECT_EQ(latency_for_driver(0x00020814), 2);
  EXPECT_EQ(latency_for_driver(0x00021400), 2);
  EXPECT_EQ(latency_for_driver(std::nullopt), 8);
}

TEST(BaudLadder, ModemLinesOfTheStepSettings) {
  plat::SerialSettings base;
  base.baud = 38400;
  base.xon_xoff_output = true;
  base.parity = plat::Parity::even;
  base.dtr_control = plat::LineControl::enabled;
  base.rts_control = plat::LineControl::disabled;

  auto bridge_cts_on = lyralink::link::analyser_line_settings(base, 3000000, true, true);
  EXPECT_EQ(bridge_cts_on.baud, 3000000u);
  EXPECT_EQ(bridge_cts_on.rts_control, plat::LineControl::disabled);
  EXPECT_EQ(bridge_cts_on.dtr_control, plat::LineControl::disabled);
  EXPECT_EQ(bridge_cts_on.parity, plat::Parity::none);
  EXPECT_FALSE(bridge_cts_on.xon_xoff_output);

  auto bridge_cts_off = lyralink::link::analyser_line_settings(base, 307200, true, false);
  EXPECT_EQ(bridge_cts_off.rts_control, plat::LineControl::enabled);
  EXPECT_EQ(bridge_cts_off.dtr_control, plat::LineControl::disabled);

  auto plain = lyralink::link::analyser_line_settings(base, 115200, false, true);
  EXPECT_EQ(plain.rts_control, plat::LineControl::enabled);
  EXPECT_EQ(plain.dtr_control, plat::LineControl::enabled);
}

}  // namespace
