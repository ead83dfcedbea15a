// SPDX-License-Identifier: LGPL-2.1-or-later
// Opening serial links and running transactions over real pseudo-terminals
// against lyrasim: the open rules, every failure status, the retry counts,
// line rates and the pacing of a real line.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "lyralink/link/link.h"
#include "lyralink/link/transaction.h"
#include "platform/port_names.h"
#include "tests/support/emulator.h"
#include "tools/lyrasim/device.h"

using namespace lyralink::link;
using lyratest::Emulator;

namespace {

class SerialLink : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sim_ = Emulator::start({"--serial", "COM3=740,sn=4242", "--serial", "COM4=310,sn=77", "--serial",
                            "COM5=740,bauds=115200/307200/3000000", "--serial", "COM6=740,wire=1"});
    ASSERT_TRUE(sim_);
    sim_->use_ports();
  }
  static void TearDownTestSuite() { sim_.reset(); }
  void SetUp() override {
    ASSERT_TRUE(sim_);
    ASSERT_TRUE(sim_->control("clear-faults"));
    sim_->clear_record();
  }
  void TearDown() override { close_link(link_state()); }

  static Status query(uint16_t code) {
    link_state().command.reset(code);
    return short_transaction(link_state());
  }
  static size_t frames_with_code(uint16_t code) {
    size_t n = 0;
    for (const auto& f : sim_->frames()) n += f.code() == code;
    return n;
  }

  static std::unique_ptr<Emulator> sim_;
};
std::unique_ptr<Emulator> SerialLink::sim_;

TEST_F(SerialLink, OpenSetsTheDocumentedLinkState) {
  LinkState& s = link_state();
  ASSERT_EQ(open_port(s, "COM3", 1000, 8, 38400, 0), 1);
  EXPECT_EQ(s.port_id, 3);
  EXPECT_EQ(s.baud_rate, 38400u);
  EXPECT_EQ(s.answer_timeout, 1000u);
  EXPECT_EQ(s.retry_count, 8u);
  EXPECT_STREQ(s.port_name, "COM3");
  EXPECT_FALSE(s.transaction_lock);
  // The line is set up as the analyser needs it.
  lyralink::platform::SerialSettings st;
  ASSERT_TRUE(s.serial_port->get_settings(st));
  EXPECT_EQ(st.baud, 38400u);
  EXPECT_EQ(st.data_bits, 8);
  EXPECT_EQ(st.parity, lyralink::platform::Parity::none);
  EXPECT_EQ(st.stop_bits, lyralink::platform::StopBits::one);
  EXPECT_TRUE(st.binary);
  EXPECT_FALSE(st.cts_output_flow);
  EXPECT_FALSE(st.xon_xoff_input);
  EXPECT_FALSE(st.xon_xoff_output);
}

TEST_F(SerialLink, TimeoutAndRetriesAreRaisedToTheirMinimaAndKeptOnFailure) {
  LinkState& s = link_state();
  EXPECT_EQ(open_port(s, "COM99", 100, 0, 9600, 0), 0);  // no such port
  EXPECT_EQ(s.answer_timeout, 850u);
  EXPECT_EQ(s.retry_count, 1u);
  EXPECT_STREQ(s.port_name, "COM99");  // the attempt's name, rate and lock stay
  EXPECT_EQ(s.baud_rate, 9600u);
  EXPECT_FALSE(s.link_open());
  EXPECT_EQ(open_port(s, "COM3", -5, -3, 9600, 1), 1);
  EXPECT_EQ(s.answer_timeout, 850u);
  EXPECT_EQ(s.retry_count, 1u);
  EXPECT_EQ(s.lock_requested, 1);
  EXPECT_TRUE(s.transaction_lock);
}

TEST_F(SerialLink, NamesThatAreNotSerialPortsAreRefused) {
  LinkState& s = link_state();
  EXPECT_EQ(open_port(s, "com3", 1000, 1, 38400, 0), 0);      // small letters: a Multiplex name
  EXPECT_EQ(open_port(s, "COM12345", 1000, 1, 38400, 0), 0);  // 8 characters: never cut to COM1234
  EXPECT_EQ(open_port(s, nullptr, 1000, 1, 38400, 0), 0);
  EXPECT_EQ(open_port(s, "COM3/../COM4", 1000, 1, 38400, 0), 0);
  EXPECT_FALSE(s.link_open());
}

TEST_F(SerialLink, SecondOpenIsRefusedAndChangesNothing) {
  LinkState& s = link_state();
  ASSERT_EQ(open_port(s, "COM3", 1200, 2, 38400, 0), 1);
  EXPECT_EQ(open_port(s, "COM4", 5000, 9, 9600, 1), 0);
  EXPECT_EQ(open_ethernet(s, "127.0.0.1", 5000, 9), 0);
  EXPECT_EQ(s.answer_timeout, 1200u);
  EXPECT_EQ(s.retry_count, 2u);
  EXPECT_EQ(s.port_id, 3);
  EXPECT_STREQ(s.port_name, "COM3");
}

TEST_F(SerialLink, APortHeldByAnotherOpenerCannotBeOpened) {
  auto path = lyralink::platform::resolve_serial_port("COM3");
  ASSERT_TRUE(path);
  auto holder = lyralink::platform::SerialPort::open(*path);
  ASSERT_TRUE(holder);
  EXPECT_EQ(open_port(link_state(), "COM3", 1000, 1, 38400, 0), 0);
  holder.reset();
  EXPECT_EQ(open_port(link_state(), "COM3", 1000, 1, 38400, 0), 1);
}

TEST_F(SerialLink, CloseResetsPortIdentifierAndAllowsReopen) {
  LinkState& s = link_state();
  ASSERT_EQ(open_port(s, "COM3", 1000, 1, 38400, 0), 1);
  close_link(s);
  EXPECT_EQ(s.port_id, kPortIdNone);
  EXPECT_FALSE(s.link_open());
  EXPECT_EQ(query(0x5A), status::no_link);  // no channel: the engine refuses too
  ASSERT_EQ(open_port(s, "COM3", 1000, 1, 38400, 0), 1);
  EXPECT_EQ(query(0x5A), status::ok);
}

TEST_F(SerialLink, ShortTransactionSendsTheFrameAndKeepsTheAnswer) {
  ASSERT_EQ(open_port(link_state(), "COM3", 1000, 3, 38400, 0), 1);
  EXPECT_EQ(query(0x0101), status::ok);
  // The identity answer: serial number at answer-data offset 44.
  EXPECT_EQ(lyralink::get_u16(link_state().answer_data() + 44), 4242);
  auto frames = sim_->frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].hex(), "a55a0101000000000000b99b");
  EXPECT_EQ(frames[0].baud, 38400u);
}

struct FailureCase {
  const char* fault;
  Status status;
  size_t attempts;  // frames the device receives with 5 retries
};

class SerialFailures : public SerialLink, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(SerialFailures, StatusAndNumberOfAttempts) {
  const FailureCase& c = GetParam();
  ASSERT_TRUE(sim_->control(std::string("fault ") + c.fault));
  ASSERT_EQ(open_port(link_state(), "COM3", 850, 5, 38400, 0), 1);
  EXPECT_EQ(query(0x5A), c.status);
  EXPECT_EQ(frames_with_code(0x5A), c.attempts);
}

INSTANTIATE_TEST_SUITE_P(
    EveryStatus, SerialFailures,
    ::testing::Values(FailureCase{"error=0xAAAE", 7, 1},  // never retried
                      FailureCase{"error=0xAAAA", 4, 5}, FailureCase{"error=0xAAAB", 2, 5},
                      FailureCase{"error=0xAAAC", 5, 5}, FailureCase{"error=0xAAAD", 6, 5},
                      FailureCase{"error=0xAAAF", 8, 5}, FailureCase{"error=0xAAA9", 9, 5},
                      FailureCase{"error=0xAAA8", 10, 5}, FailureCase{"checksum", 3, 5},
                      FailureCase{"echo", 3, 5}, FailureCase{"length=+4", 3, 5},
                      FailureCase{"length=-4", 3, 5}, FailureCase{"garbage", 3, 5},
                      // A failure that passes: the third attempt is answered.
                      FailureCase{"checksum,count=2", 0, 3}),
    [](const ::testing::TestParamInfo<FailureCase>& case_info) {
      std::string n = case_info.param.fault;
      std::string name;
      for (char ch : n) {
        if (isalnum(static_cast<unsigned char>(ch))) name.push_back(ch);
        else if (ch == '+') name += "plus";
        else if (ch == '-') name += "minus";
        else name.push_back('_');
      }
      return name;
    });

TEST_F(SerialLink, SilenceLastsRetryCountTimesTheAnswerTimeout) {
  ASSERT_TRUE(sim_->control("fault silent"));
  ASSERT_EQ(open_port(link_state(), "COM3", 850, 2, 38400, 0), 1);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(query(0x5A), status::no_valid_answer);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_GE(ms, 2 * 850);  // each attempt waits the whole timeout
  EXPECT_EQ(frames_with_code(0x5A), 2u);
}

TEST_F(SerialLink, LateAnswerFailsTheAttemptButNeverTheNextCommand) {
  // The first answer comes after the timeout; it must not be taken for the
  // answer of a later command.
  ASSERT_TRUE(sim_->control("fault delay=1000,count=1"));
  ASSERT_EQ(open_port(link_state(), "COM3", 850, 1, 38400, 0), 1);
  EXPECT_EQ(query(0x5A), status::no_valid_answer);
  lyralink::platform::sleep_ms(300);  // the late answer is queued by now
  EXPECT_EQ(query(0x0101), status::ok);
  EXPECT_EQ(lyralink::get_u16(link_state().answer_data() + 44), 4242);
}

TEST_F(SerialLink, SetTimeoutAppliesToTheNextAttempt) {
  ASSERT_TRUE(sim_->control("fault delay=1000"));
  ASSERT_EQ(open_port(link_state(), "COM3", 850, 1, 38400, 0), 1);
  EXPECT_EQ(query(0x5A), status::no_valid_answer);
  set_answer_timeout(link_state(), 2000);
  lyralink::platform::sleep_ms(300);
  EXPECT_EQ(query(0x5A), status::ok);
  set_answer_timeout(link_state(), 10);
  EXPECT_EQ(link_state().answer_timeout, 850u);
}

TEST_F(SerialLink, OlderModelRefusesNewerCommandsWithItsErrorWord) {
  ASSERT_EQ(open_port(link_state(), "COM4", 850, 3, 38400, 0), 1);
  EXPECT_EQ(query(0x0101), 2);
  EXPECT_EQ(query(0x5A), status::ok);
  // The MCA-310 puts its serial number at answer-data offset 86.
  EXPECT_EQ(lyralink::get_u16(link_state().answer_data() + 86), 77);
}

TEST_F(SerialLink, DeviceAnswersOnlyAtItsLineRates) {
  for (uint32_t baud : {38400u, 115200u, 307200u, 3000000u}) {
    ASSERT_EQ(open_port(link_state(), "COM5", 850, 1, static_cast<int32_t>(baud), 0), 1);
    EXPECT_EQ(query(0x5A), baud == 38400u ? status::no_valid_answer : status::ok) << baud;
    auto frames = sim_->frames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().baud, baud);  // the device saw the rate we set
    close_link(link_state());
  }
}

TEST_F(SerialLink, LongTransactionDeliversTheBlockOnlyOnSuccess) {
  ASSERT_EQ(open_port(link_state(), "COM3", 1000, 2, 115200, 0), 1);
  LinkState& s = link_state();
  s.command.reset(66);  // start: the common memory fills
  ASSERT_EQ(short_transaction(s), status::ok);
  lyralink::platform::sleep_ms(20);
  s.command.reset(263);
  s.command.set_word(1, 720);
  std::vector<uint8_t> block(1440, 0xEE);
  ASSERT_EQ(long_transaction(s, block.data(), block.size()), status::ok);
  lyrasim::Analyser reference{lyrasim::Identity{}};
  for (size_t i = 0; i < 720; ++i) {
    ASSERT_EQ(lyralink::get_u16(&block[2 * i]), reference.signal_sample(720 + i)) << i;
  }
  // A failing long transaction leaves the destination untouched.
  ASSERT_TRUE(sim_->control("fault checksum,code=263"));
  std::vector<uint8_t> untouched(1440, 0xEE);
  EXPECT_EQ(long_transaction(s, untouched.data(), untouched.size()), status::no_valid_answer);
  EXPECT_EQ(untouched, std::vector<uint8_t>(1440, 0xEE));
  EXPECT_EQ(frames_with_code(263), 3u);  // one good, two failed attempts
}

TEST_F(SerialLink, LongTransactionErrorAnswers) {
  ASSERT_EQ(open_port(link_state(), "COM3", 850, 5, 38400, 0), 1);
  LinkState& s = link_state();
  std::vector<uint8_t> block(1440);
  ASSERT_TRUE(sim_->control("fault error=0xAAAE,code=263"));
  s.command.reset(263);
  EXPECT_EQ(long_transaction(s, block.data(), block.size()), 7);
  EXPECT_EQ(frames_with_code(263), 1u);  // no retry, and no wait for the timeout
  ASSERT_TRUE(sim_->control("clear-faults"));
  sim_->clear_record();
  // A verified 136-byte short answer to a long request is taken for an
  // error answer without an error word: 3, on every attempt.
  s.command.reset(0x5A);
  EXPECT_EQ(long_transaction(s, block.data(), 1440), status::no_valid_answer);
  EXPECT_EQ(frames_with_code(0x5A), 5u);
  // A long answer of another length than asked for: 3 as well.
  sim_->clear_record();
  s.command.reset(263);
  EXPECT_EQ(long_transaction(s, block.data(), 1024), status::no_valid_answer);
  EXPECT_EQ(frames_with_code(263), 5u);
}

TEST_F(SerialLink, LongAnswerArrivingAtLineSpeedPassesThroughAnyByteCount) {
  // COM6 sends its answers at the line's byte rate in small pieces, so the
  // queue count grows through every size, including 136, on its way to 1454.
  ASSERT_EQ(open_port(link_state(), "COM6", 1000, 1, 38400, 0), 1);
  LinkState& s = link_state();
  std::vector<uint8_t> block(1440);
  for (int i = 0; i < 3; ++i) {
    s.command.reset(263);
    s.command.set_word(1, static_cast<uint16_t>(i * 720));
    EXPECT_EQ(long_transaction(s, block.data(), block.size()), status::ok) << i;
  }
  s.command.reset(0x5A);
  EXPECT_EQ(short_transaction(s), status::ok);
}

}  // namespace
