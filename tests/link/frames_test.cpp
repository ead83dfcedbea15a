// SPDX-License-Identifier: LGPL-2.1-or-later
// The frame checks, status mapping and the export barrier, without I/O.
// Answers are built with the emulator's device-side encoder, an independent
// implementation of the same wire format.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <regex>
#include <stdexcept>

#include "lyralink/exports/export_guard.h"
#include "lyralink/link/frames.h"
#include "lyralink/link/multiplex_client.h"
#include "lyralink/link/wire_log.h"
#include "tests/support/emulator.h"
#include "tools/lyrasim/wire.h"

using namespace lyralink;
using namespace lyralink::link;

namespace {

lyrasim::Command device_view(const CommandFrame& f) {
  lyrasim::Command c;
  std::memcpy(c.raw.data(), f.data(), 12);
  return c;
}

lyrasim::AnswerData sample_data() {
  lyrasim::AnswerData d{};
  for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<uint8_t>(i * 7 + 3);
  return d;
}

std::vector<uint8_t> long_block(size_t len) {
  std::vector<uint8_t> v(len);
  for (size_t i = 0; i < len; ++i) v[i] = static_cast<uint8_t>(i ^ 0x5A);
  return v;
}

TEST(CommandFrame, LayoutIsLittleEndianWithConstantSyncAndEnd) {
  CommandFrame f(0x0041);
  f.set_word(1, 0x1234);
  f.set_word(3, 0xBEEF);
  f.set_byte(2, 0x77);
  const uint8_t expected[12] = {0xA5, 0x5A, 0x41, 0x00, 0x34, 0x12, 0x77, 0x00, 0xEF, 0xBE, 0xB9, 0x9B};
  EXPECT_EQ(0, std::memcmp(f.data(), expected, 12));
  f.reset(0x0101);
  const uint8_t probe740[12] = {0xA5, 0x5A, 0x01, 0x01, 0, 0, 0, 0, 0, 0, 0xB9, 0x9B};
  EXPECT_EQ(0, std::memcmp(f.data(), probe740, 12));
}

TEST(StatusCodes, EveryDeviceErrorWordHasItsStatusAndNothingElseDoes) {
  const std::pair<uint16_t, Status> table[] = {{0xAAA8, 10}, {0xAAA9, 9}, {0xAAAA, 4}, {0xAAAB, 2},
                                               {0xAAAC, 5},  {0xAAAD, 6}, {0xAAAE, 7}, {0xAAAF, 8}};
  for (auto [word, s] : table) {
    EXPECT_EQ(device_error_status(word), s) << std::hex << word;
    EXPECT_EQ(device_error_word(s), word);
  }
  EXPECT_FALSE(device_error_status(0xAAA7));
  EXPECT_FALSE(device_error_status(0xAAB0));
  EXPECT_FALSE(device_error_status(kEndWord));
}

TEST(ShortAnswer, VerifiedAnswerPassesAndChecksumOffByOneFails) {
  CommandFrame sent(0x005A);
  auto f = lyrasim::short_answer(sample_data(), device_view(sent));
  EXPECT_EQ(check_short_answer(f.data(), sent), status::ok);
  f[128] = static_cast<uint8_t>(f[128] + 1);
  EXPECT_EQ(check_short_answer(f.data(), sent), status::no_valid_answer);
}

TEST(ShortAnswer, ChecksumCoversSyncAndEndWord) {
  // A hand-made answer: all data zero, echo of code 0x41 with words 0.
  CommandFrame sent(0x0041);
  uint8_t f[136] = {};
  put_u16(f, 0x5AA5);
  put_u16(f + 108, 0x0041);
  put_u16(f + 134, 0x9BB9);
  put_u16(f + 128, static_cast<uint16_t>(0x5AA5 + 0x0041 + 0x9BB9));
  EXPECT_EQ(check_short_answer(f, sent), status::ok);
  put_u16(f + 128, 0x0041);  // without sync and end word: wrong
  EXPECT_EQ(check_short_answer(f, sent), status::no_valid_answer);
}

TEST(ShortAnswer, EchoDifferingInOneParameterByteFailsEvenWithRightChecksum) {
  CommandFrame sent(0x0041);
  sent.set_word(1, 5);
  CommandFrame other = sent;
  other.set_byte(1, 1);  // high byte of word 1
  auto f = lyrasim::short_answer(sample_data(), device_view(other));
  EXPECT_EQ(check_short_answer(f.data(), other), status::ok);  // consistent in itself
  EXPECT_EQ(check_short_answer(f.data(), sent), status::no_valid_answer);
}

TEST(BulkAnswer, ChecksumMustCoverTheCommandWords) {
  for (uint16_t code : {uint16_t{0x005B}, uint16_t{0x005C}, uint16_t{0x0102}}) {
    CommandFrame sent(code);
    sent.set_word(1, 0xF000);
    sent.set_word(2, 32);
    auto bulk = lyrasim::bulk_answer(sample_data(), device_view(sent));
    EXPECT_EQ(check_short_answer(bulk.data(), sent), status::ok) << code;
    // The same answer computed without the command words fails.
    auto plain = bulk;
    put_u16(&plain[132], static_cast<uint16_t>(get_u16(&plain[132]) - sum_words(sent.data(), 6)));
    EXPECT_EQ(check_short_answer(plain.data(), sent), status::no_valid_answer) << code;
    // Another command's parameters change the sum.
    CommandFrame other = sent;
    other.set_word(2, 31);
    EXPECT_EQ(check_short_answer(bulk.data(), other), status::no_valid_answer) << code;
  }
}

TEST(BulkAnswer, SameBytesToAnotherCodeAreJudgedByEchoAndShortChecksum) {
  CommandFrame bulk_cmd(0x005B);
  auto bulk = lyrasim::bulk_answer(sample_data(), device_view(bulk_cmd));
  CommandFrame state(0x005A);
  EXPECT_EQ(check_short_answer(bulk.data(), state), status::no_valid_answer);
  // And a short answer to 0x5B, with echo and the short checksum, is refused.
  auto short_form = lyrasim::short_answer(sample_data(), device_view(bulk_cmd));
  EXPECT_EQ(check_short_answer(short_form.data(), bulk_cmd), status::no_valid_answer);
}

TEST(ShortAnswer, ErrorWordsNeedTheSyncWord) {
  CommandFrame sent(0x005A);
  auto e = lyrasim::error_answer(0xAAAB);
  EXPECT_EQ(check_short_answer(e.data(), sent), 2);
  e = lyrasim::error_answer(0xAAA8);
  EXPECT_EQ(check_short_answer(e.data(), sent), 10);
  e[0] = 0x00;  // any other sync word: 3 whatever stands at 134
  EXPECT_EQ(check_short_answer(e.data(), sent), status::no_valid_answer);
  auto good = lyrasim::short_answer(sample_data(), device_view(sent));
  put_u16(&good[134], 0x1234);  // neither end word nor error word
  EXPECT_EQ(check_short_answer(good.data(), sent), status::no_valid_answer);
}

TEST(LongAnswer, EveryCheckInOrder) {
  for (size_t len : {1008u, 1024u, 1026u, 1032u, 1440u, 1442u, 1444u, 1452u, 1464u}) {
    CommandFrame sent(0x0107);
    sent.set_word(1, 720);
    auto f = lyrasim::long_answer(long_block(len), device_view(sent));
    ASSERT_EQ(f.size(), len + 14);
    EXPECT_EQ(check_long_answer(f.data(), f.size(), len, sent), status::ok) << len;
    EXPECT_EQ(check_long_answer(f.data(), f.size() - 2, len, sent), status::no_valid_answer);
    auto bad = f;
    bad[0] = 0;
    EXPECT_EQ(check_long_answer(bad.data(), bad.size(), len, sent), status::no_valid_answer);
    bad = f;
    put_u16(&bad[12 + len], 0xAAAE);  // an error word in a long frame's end is no error answer
    EXPECT_EQ(check_long_answer(bad.data(), bad.size(), len, sent), status::no_valid_answer);
    bad = f;
    bad[2 + len + 3] ^= 1;  // echo
    EXPECT_EQ(check_long_answer(bad.data(), bad.size(), len, sent), status::no_valid_answer);
    bad = f;
    bad[2 + len / 2] ^= 0x10;  // data
    EXPECT_EQ(check_long_answer(bad.data(), bad.size(), len, sent), status::no_valid_answer);
  }
}

TEST(LongAnswer, ChecksumThatIncludesSyncAndEndIsRejected) {
  const size_t len = 1440;
  CommandFrame sent(0x0107);
  auto f = lyrasim::long_answer(long_block(len), device_view(sent));
  put_u16(&f[10 + len], static_cast<uint16_t>(get_u16(&f[10 + len]) + kSyncWord + kEndWord));
  EXPECT_EQ(check_long_answer(f.data(), f.size(), len, sent), status::no_valid_answer);
}

TEST(LongAnswer, A136ByteAnswerIsAlwaysAnErrorAnswer) {
  CommandFrame sent(0x0107);
  auto e = lyrasim::error_answer(0xAAAE);
  EXPECT_EQ(check_long_answer(e.data(), 136, 1440, sent), 7);
  auto s = lyrasim::short_answer(sample_data(), device_view(sent));
  EXPECT_EQ(check_long_answer(s.data(), 136, 1440, sent), status::no_valid_answer);
  // Even a 122-byte block, whose valid long frame is 136 bytes, never passes.
  auto odd = lyrasim::long_answer(long_block(122), device_view(sent));
  EXPECT_EQ(check_long_answer(odd.data(), odd.size(), 122, sent), status::no_valid_answer);
}

TEST(Checks, RandomFramesNeverPassOrReadOutsideTheirBuffer) {
  // Random bytes of every size up to the long buffer: the checks must not
  // crash (the sanitizer build watches the reads) and must not accept.
  std::mt19937 rng(1234);
  CommandFrame sent(0x005A);
  int accepted = 0;
  for (int round = 0; round < 20000; ++round) {
    size_t size = rng() % (kLongBufferSize - kDatagramPrefix + 1);
    std::vector<uint8_t> f(std::max<size_t>(size, 136));
    for (auto& b : f) b = static_cast<uint8_t>(rng());
    if (round % 3 == 0) put_u16(f.data(), kSyncWord);  // get past the first check
    if (check_short_answer(f.data(), sent) == status::ok) ++accepted;
    size_t len = 2 * (rng() % (kMaxLongDataLength / 2 + 1));
    if (len == 0) len = 2;
    Status s = check_long_answer(f.data(), size, len, sent);
    if (s == status::ok) ++accepted;
  }
  EXPECT_EQ(accepted, 0);
}

TEST(Multiplex, TimeLimitIsWholeAnswerFramesTimesTimeout) {
  EXPECT_EQ(multiplex_time_limit(136, 1000), 1000u);
  EXPECT_EQ(multiplex_time_limit(137, 1000), 2000u);
  EXPECT_EQ(multiplex_time_limit(1440 + 14, 850), 11u * 850u);
}

TEST(ExportBarrier, AnExceptionInsideBecomesTheFailureResultAndItsReasonIsLogged) {
  // The status alone cannot tell an out-of-memory from a silent analyser;
  // with the wire log on, the log can.
  const std::string log = lyratest::make_temp_dir("barrier") + "/wire.log";
  ::setenv("LYRALINK_LOG", log.c_str(), 1);
  int16_t r = exports::guarded<int16_t>("LYRA_QUERY_SPECTRA", 3, []() -> int16_t { throw std::runtime_error("boom"); });
  EXPECT_EQ(r, 3);
  r = exports::guarded<int16_t>("LYRA_RESET", 3, []() -> int16_t { throw 42; });
  EXPECT_EQ(r, 3);
  EXPECT_EQ(exports::guarded<int16_t>("LYRA_QUERY_STATE", 3, [] { return int16_t{0}; }), 0);
  bool ran = false;
  exports::guarded_void("COMM_CLOSE", [&] {
    ran = true;
    throw std::bad_alloc();
  });
  EXPECT_TRUE(ran);
  ::unsetenv("LYRALINK_LOG");
  wire_log().refresh_from_environment();

  std::ifstream in(log);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  ASSERT_EQ(lines.size(), 3u) << log;
  const std::string prefix = R"(^\d+\.\d{6} lyralink\[\d+\] )";
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(prefix + "LYRA_QUERY_SPECTRA exception: boom$"))) << lines[0];
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(prefix + "LYRA_RESET exception: unknown exception$"))) << lines[1];
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(prefix + "COMM_CLOSE exception: std::bad_alloc$"))) << lines[2];
}

}  // namespace

namespace lyralink::exports {
// The library defines the lock in its export layer; this program links only
// the core.
std::recursive_mutex& api_mutex() {
  static std::recursive_mutex m;
  return m;
}
}  // namespace lyralink::exports
