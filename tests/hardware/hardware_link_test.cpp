// SPDX-License-Identifier: LGPL-2.1-or-later
// The link suite of the hardware tier, through liblyralink.so's C
// interface: opening and closing, the link parameters, refusals, many
// transactions in a row, long answers, reopening and the transaction lock.
// Nothing here changes the analyser's settings.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "include/lyralink.h"
#include "tests/hardware/hardware_target.h"

using hwtest::Kind;
using hwtest::OnAnalyser;

namespace {

uint16_t u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

struct CommParam {
  int16_t port_id = 0;
  uint32_t baud = 0;
};
CommParam comm_param() {
  uint8_t record[12] = {12, 0};
  GET_COMM_PARAM(record);
  CommParam p;
  p.port_id = static_cast<int16_t>(u16(record + 2));
  p.baud = static_cast<uint32_t>(record[4] | record[5] << 8 | record[6] << 16 | record[7] << 24);
  return p;
}

class Link : public OnAnalyser {};
HARDWARE_SUITE(Link);

TEST_P(Link, OpenLinkAnswersAndReportsItsParameters) {
  EXPECT_EQ(LYRA_QUERY_ON_LINE(), 0);
  const CommParam p = comm_param();
  if (t().kind == Kind::serial) {
    EXPECT_EQ(p.port_id, std::atoi(t().name.c_str() + 3));
    EXPECT_EQ(p.baud, static_cast<uint32_t>(t().baud));
  } else {
    EXPECT_EQ(p.port_id, 0);
  }
}

TEST_P(Link, ASecondOpenIsRefusedAndTheFirstLinkStays) {
  EXPECT_EQ(hwtest::open_link(t()), 0);
  EXPECT_EQ(COMM_INIT_ETHERNET_IP("127.0.0.1", 1000, 1), 0);
  EXPECT_EQ(COMM_INIT_EX3("COM1", 1000, 1, 38400, 0), 0);
  EXPECT_EQ(LYRA_QUERY_ON_LINE(), 0);
}

TEST_P(Link, AClosedLinkSendsNothingAndOpensAgain) {
  COMM_CLOSE();
  EXPECT_EQ(LYRA_QUERY_ON_LINE(), 1);
  uint8_t answer[132];
  std::memset(answer, 0xEE, sizeof answer);
  EXPECT_EQ(LYRA_QUERY_STATE(answer), 1);
  EXPECT_EQ(answer[0], 0xEE);  // nothing copied
  EXPECT_EQ(comm_param().port_id, -1);
  for (int i = 0; i < 5; ++i) {
    ASSERT_NE(hwtest::open_link(t()), 0) << "reopen " << i;
    EXPECT_EQ(LYRA_QUERY_ON_LINE(), 0) << "reopen " << i;
    COMM_CLOSE();
  }
  ASSERT_NE(hwtest::open_link(t()), 0);
}

TEST_P(Link, AnswersCarryTheEchoOfTheirCommand) {
  uint8_t answer[132];
  ASSERT_EQ(LYRA_QUERY_STATE(answer), 0);
  EXPECT_EQ(u16(answer + 106), 90);  // bytes 106-113: code and parameter words as sent
  ASSERT_EQ(LYRA_QUERY_POWER(answer), 0);
  EXPECT_EQ(u16(answer + 106), 89);
  ASSERT_EQ(LYRA_QUERY_USER_DATA(0, answer), 0);
  EXPECT_EQ(u16(answer + 106), 94);
}

TEST_P(Link, HundredsOfTransactionsInARow) {
  uint8_t answer[132];
  int failures = 0;
  for (int i = 0; i < 300; ++i) {
    const int16_t st = i % 2 == 0 ? LYRA_QUERY_STATE(answer) : LYRA_QUERY_POWER(answer);
    if (st != 0 || u16(answer + 106) != (i % 2 == 0 ? 90 : 89)) ++failures;
  }
  EXPECT_EQ(failures, 0);
}

TEST_P(Link, TheAnalyserNamesItselfTheSameEachTime) {
  if (!is_740()) GTEST_SKIP() << "an MCA-310: no 740 state query";
  uint8_t first[132], again[132];
  ASSERT_EQ(LYRA_QUERY_STATE740(first), 0);
  ASSERT_EQ(MCA_COMM6("CMD_QUERY_STATE740", again, 0, 0, 0, 0, 0, 0), 0);
  EXPECT_NE(u16(first + 2), 0) << "firmware";
  EXPECT_EQ(u16(first + 2), u16(again + 2)) << "firmware";
  EXPECT_EQ(std::memcmp(first + 4, again + 4, 4), 0) << "feature flags";
}

TEST_P(Link, LongAnswersFillExactlyTheirBlock) {
  constexpr uint8_t kSentinel = 0xEE;
  auto check = [&](const char* what, size_t size, auto call) {
    std::vector<uint8_t> buffer(size + 64, kSentinel);
    EXPECT_EQ(call(buffer.data()), 0) << what;
    bool beyond_untouched = true;
    for (size_t i = size; i < buffer.size(); ++i) beyond_untouched = beyond_untouched && buffer[i] == kSentinel;
    EXPECT_TRUE(beyond_untouched) << what << " wrote past its " << size << " bytes";
  };
  check("EEPROM information", 1024, [](uint8_t* b) { return LYRA_QUERY_EEPROM_INFO(b); });
  if (!is_740()) return;
  check("detector information", 1024, [](uint8_t* b) { return LYRA_QUERY_DETECTOR_INFO(0, b); });
  check("common memory", 1440, [](uint8_t* b) { return LYRA_QUERY_COMMON_MEMORY(0, b); });
  // Short and long answers alternating: each lands where it belongs.
  uint8_t answer[132];
  std::vector<uint8_t> block(1440);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(LYRA_QUERY_COMMON_MEMORY(720 * i, block.data()), 0);
    EXPECT_EQ(LYRA_QUERY_STATE(answer), 0);
    EXPECT_EQ(u16(answer + 106), 90);
  }
}

TEST_P(Link, TheTransactionLockIsTakenAndGiven) {
  if (t().kind != Kind::serial) GTEST_SKIP() << "the lock belongs to serial links";
  COMM_CLOSE();
  ASSERT_NE(hwtest::open_link(t(), true), 0);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(LYRA_QUERY_ON_LINE(), 0);
}

TEST_P(Link, TheGenericEntryRefusesUnknownNamesWithoutSending) {
  std::array<uint8_t, 132> answer;
  answer.fill(0xEE);
  EXPECT_EQ(MCA_COMM("CMD_NO_SUCH_COMMAND", answer.data(), 0, 0, 0, 0), 2);
  EXPECT_EQ(answer[0], 0xEE);
  EXPECT_EQ(LYRA_QUERY_ON_LINE(), 0);
}

}  // namespace
