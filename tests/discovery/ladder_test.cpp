// SPDX-License-Identifier: LGPL-2.1-or-later
// The baud ladder on a link that answers at chosen rates only, and the
// rules of the ladder's settings (latency by driver version, modem lines).
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "lyralink/discovery/baud_adjustment.h"
#include "lyralink/discovery/identity.h"
#include "tools/lyrasim/device.h"

using namespace lyralink::discovery;
namespace plat = lyralink::platform;

namespace {

// An analyser behind a link that passes its answers only at some rates,
// answering with the emulator's own device model.
class FakeLink final : public BaudLink {
 public:
  explicit FakeLink(std::set<uint32_t> rates) : rates_(std::move(rates)), device_(lyrasim::Identity{}) {}

  bool start_step(uint32_t rate) override {
    steps.push_back(rate);
    if (refused.count(rate) != 0) return false;
    rate_ = rate;
    queue_.clear();
    return true;
  }
  void write_probe() override {
    ++probes;
    if (rates_.count(rate_) == 0) return;
    if (rate_ == 3000000 && needs_warm_up && !reached_307200_) return;
    if (rate_ == 307200) reached_307200_ = true;
    lyrasim::Command c;
    std::memcpy(c.raw.data(), probe_310().data(), 12);
    auto a = device_.respond(c, lyrasim::SteadyClock::now());
    if (corrupt_answers > 0) {
      --corrupt_answers;
      a[60] ^= 1;
    }
    queue_.insert(queue_.end(), a.begin(), a.end());
    for (size_t i = 0; i < extra_bytes; ++i) queue_.push_back(0);
  }
  std::optional<size_t> wait_for_answer(plat::TimePoint) override {
    if (fail_queries) return std::nullopt;
    return queue_.size();
  }
  bool read_answer(uint8_t* frame) override {
    if (queue_.size() < kIdentityAnswerSize) return false;
    std::copy(queue_.begin(), queue_.begin() + kIdentityAnswerSize, frame);
    queue_.erase(queue_.begin(), queue_.begin() + kIdentityAnswerSize);
    return true;
  }
  void drain_slowly() override {
    ++drains;
    queue_.clear();
  }
  bool query_failure_loses_link() const override { return usb; }

  std::vector<uint32_t> steps;
  std::set<uint32_t> refused;
  bool needs_warm_up = false;  // answers at 3000000 only once reached at 307200
  bool fail_queries = false;
  bool usb = false;
  int corrupt_answers = 0;
  size_t extra_bytes = 0;
  int probes = 0;
  int drains = 0;

 private:
  std::set<uint32_t> rates_;
  lyrasim::Analyser device_;
  uint32_t rate_ = 38400;
  bool reached_307200_ = false;
  std::vector<uint8_t> queue_;
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
    const LadderOutcome out = run_ladder(link);
    EXPECT_EQ(link.steps, c.steps);
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
  EXPECT_EQ(run_ladder_step(silent, 3000000), StepResult::failure);
  EXPECT_EQ(silent.probes, 4);
  EXPECT_EQ(silent.drains, 4);

  FakeLink flaky({3000000});
  flaky.corrupt_answers = 3;
  EXPECT_EQ(run_ladder_step(flaky, 3000000), StepResult::success);
  EXPECT_EQ(flaky.probes, 4);
  EXPECT_EQ(flaky.drains, 0);

  FakeLink noisy({3000000});
  noisy.extra_bytes = 4;
  EXPECT_EQ(run_ladder_step(noisy, 3000000), StepResult::failure);
  EXPECT_EQ(noisy.drains, 4);

  // A rate the driver refuses fails the step without a probe; the ladder
  // goes on.
  FakeLink picky({3000000, 115200});
  picky.refused = {3000000, 307200};
  const LadderOutcome out = run_ladder(picky);
  EXPECT_EQ(picky.steps, (Steps{3000000, 307200, 115200}));
  EXPECT_EQ(out.final_rate, 115200u);
}

TEST(BaudLadder, AFailedQueueQueryLosesAUsbLinkButNotASerialPort) {
  FakeLink usb({3000000});
  usb.usb = true;
  usb.fail_queries = true;
  const LadderOutcome lost = run_ladder(usb);
  EXPECT_TRUE(lost.link_lost);
  EXPECT_EQ(usb.steps, (Steps{3000000}));
  EXPECT_EQ(usb.probes, 1);

  FakeLink serial({3000000});
  serial.fail_queries = true;
  const LadderOutcome kept = run_ladder(serial);
  EXPECT_FALSE(kept.link_lost);
  EXPECT_EQ(serial.steps, (Steps{3000000, 307200, 115200, 38400}));
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

  auto bridge_cts_on = ladder_settings(base, 3000000, true, true);
  EXPECT_EQ(bridge_cts_on.baud, 3000000u);
  EXPECT_EQ(bridge_cts_on.rts_control, plat::LineControl::disabled);
  EXPECT_EQ(bridge_cts_on.dtr_control, plat::LineControl::disabled);
  EXPECT_EQ(bridge_cts_on.parity, plat::Parity::none);
  EXPECT_FALSE(bridge_cts_on.xon_xoff_output);

  auto bridge_cts_off = ladder_settings(base, 307200, true, false);
  EXPECT_EQ(bridge_cts_off.rts_control, plat::LineControl::enabled);
  EXPECT_EQ(bridge_cts_off.dtr_control, plat::LineControl::disabled);

  auto plain = ladder_settings(base, 115200, false, true);
  EXPECT_EQ(plain.rts_control, plat::LineControl::enabled);
  EXPECT_EQ(plain.dtr_control, plat::LineControl::enabled);
}

}  // namespace
