// SPDX-License-Identifier: LGPL-2.1-or-later
// The answer-field table and its readers against the answers of lyrasim's
// device model, which builds them from the device's side of the protocol
// (its own offsets, its own byte helpers), so a field put in the wrong
// place on either side shows as a wrong value.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "lyralink/commands/answer_fields.h"
#include "lyralink/commands/decoders.h"
#include "tools/lyrasim/device.h"

namespace lc = lyralink::commands;

namespace {

using Clock = lyrasim::SteadyClock;
using Answer = std::array<uint8_t, lc::kAnswerDataSize>;

lyrasim::Command command(uint16_t code, uint16_t w1 = 0, uint16_t w2 = 0, uint16_t w3 = 0) {
  lyrasim::Command c;
  lyrasim::put16(&c.raw[0], lyrasim::kSync);
  lyrasim::put16(&c.raw[2], code);
  lyrasim::put16(&c.raw[4], w1);
  lyrasim::put16(&c.raw[6], w2);
  lyrasim::put16(&c.raw[8], w3);
  lyrasim::put16(&c.raw[10], lyrasim::kEnd);
  return c;
}

// The answer data of a short answer as the library hands it to its caller:
// frame bytes 2-133, with the library's decoding of the query applied.
Answer ask(lyrasim::Analyser& device, const lyrasim::Command& c, Clock::time_point now) {
  const std::vector<uint8_t> frame = device.respond(c, now);
  EXPECT_EQ(frame.size(), 136u) << "code " << c.code();
  Answer a{};
  if (frame.size() != 136) return a;
  std::copy(frame.begin() + 2, frame.begin() + 134, a.begin());
  if (c.code() == lc::code::query_state740) lc::decode_state740_clock(a.data());
  if (c.code() == lc::code::query_voltage_current) lc::rescale_voltage_current(a.data(), false);
  return a;
}

// Sets the device's 32-bit clock word (command 260, words 1-2).
void set_clock(lyrasim::Analyser& device, uint32_t packed, Clock::time_point now) {
  device.respond(command(lc::code::time, static_cast<uint16_t>(packed), static_cast<uint16_t>(packed >> 16)), now);
}

}  // namespace

TEST(AnswerFieldTable, EveryRowLiesInsideItsAnswerAndClearOfTheFrameWords) {
  std::set<std::string_view> names;
  for (const lc::AnswerField& f : lc::kAnswerFields) {
    EXPECT_TRUE(names.insert(f.name).second) << "two rows named " << f.name;
    EXPECT_GT(f.name.find('.'), 0u) << f.name << " names no answer";
    EXPECT_NE(f.name.find('.'), std::string_view::npos) << f.name << " names no answer";
    const size_t end = f.offset + lc::field_type_size(f.type) * f.count;
    const bool bulk = f.query == lc::code::query_spectra;
    // A bulk answer frame carries 130 data bytes, a short one 132 with the
    // command echo at 106-113 and the checksum at 126-127.
    EXPECT_LE(end, bulk ? 130u : lc::kAnswerDataSize) << f.name;
    if (!bulk) {
      EXPECT_TRUE(end <= 106 || f.offset >= 114) << f.name << " overlaps the command echo";
      EXPECT_TRUE(end <= 126 || f.offset >= 128) << f.name << " overlaps the checksum word";
    }
    EXPECT_GE(f.count, 1u) << f.name;
    EXPECT_GE(f.scale, 1u) << f.name;
  }
}

TEST(AnswerFields, ReadWhatTheEmulatedAnalyserReports) {
  lyrasim::Identity id;
  id.firmware = 0x1305;
  id.features = 0x4030;
  id.sample_rate_khz = 5000;
  id.memory_bytes = 8u << 20;
  id.max_hv = 2000;
  id.application = "KTBL";
  id.hv = 700;
  id.hv_polarity = 1;
  lyrasim::Analyser device(id);
  const Clock::time_point now = Clock::now();

  device.respond(command(lc::code::gain, 50, 10000), now);
  const lc::StateFields s = lc::read_state(ask(device, command(lc::code::query_state), now).data());
  EXPECT_EQ(s.coarse_gain, 50);
  EXPECT_EQ(s.hv_set, 700);
  EXPECT_EQ(s.hv_polarity, 1);
  EXPECT_EQ(s.acquisition_state, lc::kAcquisitionIdle);

  const uint32_t leap_day = *lc::pack_device_time({2024, 2, 29, 23, 59, 58});
  set_clock(device, leap_day, now);
  const lc::State740Fields s7 = lc::read_state740(ask(device, command(lc::code::query_state740), now).data());
  EXPECT_EQ(s7.firmware, 0x1305);
  EXPECT_EQ(s7.feature_flags, 0x4030u);
  EXPECT_EQ(s7.highest_hv, 2000);
  EXPECT_EQ(s7.acquisition_state, lc::kAcquisitionIdle);
  const lc::DeviceClock& c = s7.clock;
  EXPECT_EQ((std::array<int, 6>{c.year, c.month, c.day, c.hour, c.minute, c.second}),
            (std::array<int, 6>{2024, 2, 29, 23, 59, 58}));

  const lc::State740ExFields ex = lc::read_state740_ex(ask(device, command(lc::code::query_state740_ex), now).data());
  EXPECT_EQ(ex.memory_size, 8u << 20);
  EXPECT_EQ(ex.sample_rate_khz, 5000);
  EXPECT_EQ(lc::sample_rate(s7.firmware, ex.sample_rate_khz), 5'000'000u);

  // The HV ramps at 1000 V/s: 300 ms after a change from 700 V to 1500 V
  // the actual value is 1000 V, while the set value is already 1500 V.
  EXPECT_EQ(lc::read_power(ask(device, command(lc::code::query_power), now).data()).hv_actual, 700u);
  device.respond(command(lc::code::bias, 1500, 1), now);
  const Clock::time_point ramping = now + std::chrono::milliseconds(300);
  EXPECT_EQ(lc::read_power(ask(device, command(lc::code::query_power), ramping).data()).hv_actual, 1000u);
  EXPECT_EQ(lc::read_state(ask(device, command(lc::code::query_state), ramping).data()).hv_set, 1500u);

  const lc::UserDataFields u = lc::read_user_data(ask(device, command(lc::code::query_user_data, 0), now).data());
  EXPECT_EQ(std::string(u.application_code.begin(), u.application_code.end()), "KTBL");
  EXPECT_EQ(u.words[4], 0x4C42544Bu);  // "KTBL", first character in the lowest byte
  EXPECT_EQ(u.words[0], 0u);
  device.respond(command(lc::code::user_data, 25, 0x5678, 0x1234), now);
  EXPECT_EQ(lc::read_user_data(ask(device, command(lc::code::query_user_data, 0), now).data()).words[25],
            0x12345678u);

  // Reading 1 is the actual HV in volts, reading 2 the 5 V supply in mV,
  // once the library has rescaled the ADC values.
  const auto readings =
      lc::read_voltage_current(ask(device, command(lc::code::query_voltage_current), ramping).data()).readings;
  EXPECT_NEAR(readings[0], 1000, 2);
  EXPECT_NEAR(readings[1], 5000, 2);
  EXPECT_NEAR(readings[2], 12000, 2);
}

TEST(AnswerFields, FirmwareBeforeTheRateWordRecordsAtTheFixedRate) {
  lyrasim::Identity id;
  id.firmware = 0x1303;
  id.sample_rate_khz = 5000;
  lyrasim::Analyser device(id);
  const Clock::time_point now = Clock::now();
  const auto s7 = lc::read_state740(ask(device, command(lc::code::query_state740), now).data());
  const auto ex = lc::read_state740_ex(ask(device, command(lc::code::query_state740_ex), now).data());
  EXPECT_EQ(lc::sample_rate(s7.firmware, ex.sample_rate_khz), lc::kFixedSampleRate);
}

TEST(AnswerFields, TheAnalysersAcquiringStatesCountAsCollecting) {
  lyrasim::Identity id;
  id.sample_rate_khz = 20000;
  lyrasim::Analyser device(id);
  const Clock::time_point t0 = Clock::now();
  auto states = [&](Clock::time_point t) {
    return std::array<uint16_t, 2>{
        lc::read_state(ask(device, command(lc::code::query_state), t).data()).acquisition_state,
        lc::read_state740(ask(device, command(lc::code::query_state740), t).data()).acquisition_state};
  };

  // A fill stop of 4000 bytes: the signal memory fills in 100 us at
  // 20 MHz, the spectrum acquisition goes on.
  device.respond(command(lc::code::common_memory_fill_stop, 4000, 0), t0);
  device.respond(command(lc::code::start), t0);
  for (const auto& [when, what] : {std::pair{t0, "while the memory fills"},
                                   std::pair{t0 + std::chrono::seconds(1), "while the spectrum is acquired"}}) {
    for (uint16_t state : states(when)) {
      EXPECT_NE(state, lc::kAcquisitionIdle) << what;
      EXPECT_TRUE(lc::is_collecting(state)) << what << ": state " << state;
      EXPECT_EQ(lc::acquisition_note(state), "collecting data") << what;
    }
  }
  EXPECT_NE(states(t0)[1], states(t0 + std::chrono::seconds(1))[1]) << "two different collecting states";

  device.respond(command(lc::code::stop), t0 + std::chrono::seconds(2));
  for (uint16_t state : states(t0 + std::chrono::seconds(2))) {
    EXPECT_FALSE(lc::is_collecting(state));
    EXPECT_EQ(lc::acquisition_note(state), "idle");
  }
}
