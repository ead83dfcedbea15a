// SPDX-License-Identifier: LGPL-2.1-or-later
// The wire log's lines, built from recorded attempts without any I/O.
#include <gtest/gtest.h>

#include "lyralink/link/link_state.h"
#include "lyralink/link/wire_log.h"
#include "tests/wirelog/wire_log_support.h"

using namespace lyralink::link;
using lyralink::platform::TimePoint;
using wirelogtest::parse_line;

namespace {

const uint8_t kFrame[12] = {0xa5, 0x5a, 0x5a, 0x00, 1, 2, 3, 4, 5, 6, 0xb9, 0x9b};

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    EXPECT_NE(end, std::string::npos) << "every line ends in a newline";
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

TEST(WireLogFormat, SteadyTimeHasSixDigitsOfMicroseconds) {
  EXPECT_EQ(format_steady_time(TimePoint(std::chrono::microseconds(5000042))), "5.000042");
  EXPECT_EQ(format_steady_time(TimePoint(std::chrono::microseconds(999999))), "0.999999");
  EXPECT_EQ(format_steady_time(TimePoint(std::chrono::seconds(123456))), "123456.000000");
}

TEST(WireLogFormat, StatusNamesTheDeviceErrorWord) {
  EXPECT_EQ(status_description(0), "0 (ok)");
  EXPECT_EQ(status_description(3), "3 (no valid answer)");
  EXPECT_EQ(status_description(7), "7 (device error 0xAAAE)");
  EXPECT_EQ(status_description(10), "10 (device error 0xAAA8)");
  EXPECT_EQ(status_description(-5), "-5 (unknown status)");
}

TEST(WireLogFormat, AStreamAnswerReadInPiecesIsOneFrame) {
  AttemptTrace t;
  t.sent(kFrame, 12, lyralink::platform::Clock::now());
  std::vector<uint8_t> answer(136);
  for (size_t i = 0; i < answer.size(); ++i) answer[i] = static_cast<uint8_t>(i);
  t.stream_received(answer.data(), 100);
  t.stream_received(answer.data() + 100, 36);
  t.stream_received(answer.data(), 0);  // an empty read adds nothing
  auto lines = lines_of(format_attempt("lyralink[77]", "serial COM3", t, 2, 5, 0, lyralink::platform::Clock::now()));
  ASSERT_EQ(lines.size(), 2u);
  auto tx = parse_line(lines[0]);
  auto rx = parse_line(lines[1]);
  ASSERT_TRUE(tx && rx) << lines[0] << "\n" << lines[1];
  EXPECT_EQ(tx->direction, "tx");
  EXPECT_EQ(tx->length, 12u);
  EXPECT_EQ(tx->hex, "a55a5a00010203040506b99b");
  EXPECT_EQ(tx->pid, 77);
  EXPECT_EQ(tx->channel, "serial");
  EXPECT_EQ(tx->where, "COM3");
  EXPECT_EQ(rx->direction, "rx");
  EXPECT_EQ(rx->length, 136u);
  EXPECT_EQ(rx->hex, wirelogtest::hex_of(answer.data(), 136));
  EXPECT_EQ(rx->note, "");
  for (const auto& l : {*tx, *rx}) {
    EXPECT_EQ(l.attempt, 2u);
    EXPECT_EQ(l.attempts, 5u);
    EXPECT_EQ(l.status, 0);
    EXPECT_EQ(l.status_text, "ok");
  }
  EXPECT_LE(tx->us, rx->us);
}

TEST(WireLogFormat, BytesBeforeTheSendAreLateAndAMissingAnswerGetsAnEmptyLine) {
  AttemptTrace t;
  const uint8_t late[3] = {0xde, 0xad, 0x01};
  t.stream_received(late, 3);
  t.sent(kFrame, 12, lyralink::platform::Clock::now());
  const TimePoint gave_up = lyralink::platform::Clock::now() + std::chrono::milliseconds(850);
  auto lines = lines_of(format_attempt("lyralink[1]", "usb USB", t, 1, 1, 3, gave_up));
  ASSERT_EQ(lines.size(), 3u);
  auto first = parse_line(lines[0]);
  auto none = parse_line(lines[2]);
  ASSERT_TRUE(first && none);
  EXPECT_EQ(first->direction, "rx");
  EXPECT_EQ(first->hex, "dead01");
  EXPECT_EQ(first->note, "late");
  EXPECT_EQ(none->direction, "rx");
  EXPECT_EQ(none->length, 0u);
  EXPECT_EQ(none->hex, "-");
  EXPECT_EQ(none->status, 3);
  EXPECT_EQ(none->status_text, "no valid answer");
  EXPECT_EQ(none->us, std::chrono::duration_cast<std::chrono::microseconds>(gave_up.time_since_epoch()).count());
}

TEST(WireLogFormat, DatagramsStayApartAndKeepTheirTrueLength) {
  AttemptTrace t;
  t.sent(kFrame, 12, lyralink::platform::Clock::now());
  const uint8_t d[4] = {1, 2, 3, 4};
  t.frame_received(d, 2, 2, "from=10.1.2.3:50000");
  t.frame_received(d, 4, 1500);  // cut: 4 of 1500 bytes kept
  auto lines = lines_of(format_attempt("lyralink[1]", "ethernet 10.0.0.5:50000", t, 1, 3, 3, {}));
  ASSERT_EQ(lines.size(), 3u);
  auto foreign = parse_line(lines[1]);
  auto cut = parse_line(lines[2]);
  ASSERT_TRUE(foreign && cut);
  EXPECT_EQ(foreign->hex, "0102");
  EXPECT_EQ(foreign->note, "from=10.1.2.3:50000");
  EXPECT_EQ(foreign->where, "10.0.0.5:50000");
  EXPECT_EQ(cut->length, 1500u);
  EXPECT_EQ(cut->hex, "01020304");
}

TEST(WireLogFormat, ClearingStartsTheNextAttemptAfresh) {
  AttemptTrace t;
  t.sent(kFrame, 12, lyralink::platform::Clock::now());
  const uint8_t b[2] = {9, 9};
  t.stream_received(b, 2);
  t.clear();
  t.stream_received(b, 2);  // before this attempt's send again
  ASSERT_EQ(t.events().size(), 1u);
  EXPECT_EQ(t.events()[0].note, "late");
  EXPECT_EQ(format_attempt("p", "w x", AttemptTrace{}, 1, 1, 0, {}), "");  // nothing sent, nothing logged
}

TEST(WireLogFormat, LinksAreNamedByChannelAndPortOrAddress) {
  LinkState s;
  EXPECT_EQ(describe_link(s), "none -");
  s.ethernet_flag = 1;
  std::snprintf(s.device_address, sizeof s.device_address, "10.0.0.5");
  s.device_udp_port = 50000;
  EXPECT_EQ(describe_link(s), "ethernet 10.0.0.5:50000");
}

TEST(WireLogFormat, AnUnwritableDestinationLeavesTheLogOff) {
  WireLog log;
  log.set_destination(std::string("/nonexistent-lyralink-dir/wire.log"));
  EXPECT_FALSE(log.enabled());
  log.set_destination(std::string("stderr"));
  EXPECT_TRUE(log.enabled());
  log.set_destination(std::nullopt);
  EXPECT_FALSE(log.enabled());
}

}  // namespace
