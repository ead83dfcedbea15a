// SPDX-License-Identifier: LGPL-2.1-or-later
// The command runners of the core against lyrasim over a pseudo-terminal:
// the device clock from an injected host clock, and what the generic entry
// does to the shared command frame and answer area.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "lyralink/commands/commands.h"
#include "lyralink/link/link.h"
#include "tests/support/emulator.h"

using namespace lyralink::commands;
using lyralink::get_u16;
using lyralink::link::close_link;
using lyralink::link::link_state;
using lyralink::link::open_port;
using lyratest::Emulator;

namespace {

class CommandsCore : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_ = Emulator::start({"--serial", "COM3=740"});
    ASSERT_TRUE(sim_);
    sim_->use_ports();
    ASSERT_EQ(open_port(link_state(), "COM3", 850, 1, 115200, 0), 1);
    sim_->clear_record();
  }
  void TearDown() override {
    set_local_clock({});
    close_link(link_state());
  }
  std::unique_ptr<Emulator> sim_;
};

struct ClockCase {
  LocalDateTime now;
  int16_t status;
  const char* frame;  // hex on the wire; null: nothing sent
};

TEST_F(CommandsCore, SetTimeSendsThePackedLocalTime) {
  const ClockCase cases[] = {
      {{2008, 1, 2, 1, 2, 3}, 0, "a55a0401831002000000b99b"},
      {{2008, 1, 1, 0, 0, 0}, 0, "a55a0401000000000000b99b"},
      {{2097, 9, 17, 23, 59, 59}, 0, "a55a0401fb7effff0000b99b"},
      {{2007, 12, 31, 23, 59, 59}, 4, nullptr},
      {{2097, 9, 18, 0, 0, 0}, 4, nullptr},
  };
  for (const ClockCase& c : cases) {
    SCOPED_TRACE(c.now.year);
    set_local_clock([&c] { return c.now; });
    sim_->clear_record();
    EXPECT_EQ(set_time(link_state()), c.status);
    auto frames = sim_->frames();
    if (c.frame == nullptr) {
      EXPECT_TRUE(frames.empty());
    } else {
      ASSERT_EQ(frames.size(), 1u);
      EXPECT_EQ(frames[0].hex(), c.frame);
    }
  }
}

TEST_F(CommandsCore, DeviceClockReadsBackAsCalendarTime) {
  set_local_clock([] { return LocalDateTime{2020, 2, 29, 23, 59, 58}; });
  ASSERT_EQ(set_time(link_state()), 0);
  std::array<uint8_t, 132> answer{};
  ASSERT_EQ(run_short_query(link_state(), defs::query_state740, answer.data()), 0);
  EXPECT_EQ(get_u16(&answer[12]), 2020);
  // Two seconds later the clock may already show March 1st.
  const bool same_second = answer[14] == 2 && answer[15] == 29 && answer[16] == 23 && answer[17] == 59;
  const bool next_day = answer[14] == 3 && answer[15] == 1 && answer[16] == 0 && answer[17] == 0;
  EXPECT_TRUE(same_second || next_day) << int{answer[14]} << "-" << int{answer[15]} << " " << int{answer[16]};
}

TEST_F(CommandsCore, WithoutLinkNothingIsTouched) {
  auto& s = link_state();
  s.command.reset(0x1234);
  close_link(s);
  set_local_clock([] { return LocalDateTime{2010, 1, 1, 0, 0, 0}; });
  EXPECT_EQ(set_time(s), 1);
  EXPECT_EQ(s.command.code(), 0x1234);
  // The generic entry clears the words before it tests the link; the code
  // stays until a row is found.
  s.command.set_word(1, 0xAAAA);
  std::array<uint8_t, 132> answer;
  answer.fill(0xEE);
  EXPECT_EQ(generic_command(s, "CMD_INIT", answer.data(), {1, 2, 3, 4, 5, 6}), 1);
  EXPECT_EQ(s.command.code(), 0x1234);
  EXPECT_EQ(s.command.word(1), 0);
  EXPECT_EQ(answer[0], 0xEE);
}

TEST_F(CommandsCore, GenericEntryCopiesTheAnswerAreaAfterAFailure) {
  auto& s = link_state();
  ASSERT_TRUE(sim_->control("fault checksum,code=90"));
  std::array<uint8_t, 132> answer;
  answer.fill(0xEE);
  EXPECT_EQ(generic_command(s, "QUERY_STATE", answer.data(), {}), 3);
  EXPECT_EQ(0, std::memcmp(answer.data(), s.answer_data(), answer.size()));
  EXPECT_EQ(get_u16(&answer[106]), 90);  // the echo of the rejected answer

  // The readings are rescaled in the answer area itself.
  ASSERT_TRUE(sim_->control("clear-faults"));
  ASSERT_EQ(query_voltage_current(s, nullptr, false), 0);
  std::array<uint8_t, 132> rescaled;
  std::memcpy(rescaled.data(), s.answer_data(), rescaled.size());
  ASSERT_EQ(generic_command(s, "QUERY_VOLTAGE_CURRENT", answer.data(), {}), 0);
  EXPECT_EQ(lyralink::get_u32(&rescaled[4]), lyralink::get_u32(&answer[4]) * 249u >> 10);
}

}  // namespace
