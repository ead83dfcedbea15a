// SPDX-License-Identifier: LGPL-2.1-or-later
// The pure parts of the command set: device time, answer decodings,
// argument computations, receive-block ranges, chunking and the name table.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <set>
#include <string>

#include "lyralink/commands/command_table.h"
#include "lyralink/commands/decoders.h"
#include "lyralink/link/bytes.h"

using namespace lyralink::commands;
using lyralink::get_u16;
using lyralink::get_u32;
using lyralink::put_u32;

namespace {

std::string show(const LocalDateTime& t) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
  return buf;
}

struct PackCase {
  LocalDateTime time;
  std::optional<uint32_t> packed;
};

TEST(DeviceTime, PacksHostTimeOrRefusesIt) {
  const PackCase cases[] = {
      {{2008, 1, 1, 0, 0, 0}, 0u},
      {{2008, 1, 2, 1, 2, 3}, 135299u},  // 3 + 2*64 + 1*4096 + 1*131072
      {{2009, 1, 1, 0, 0, 0}, 366u << 17},  // 2008 is a leap year
      {{2007, 12, 31, 23, 59, 59}, std::nullopt},
      {{1999, 6, 1, 12, 0, 0}, std::nullopt},
      {{2097, 9, 17, 23, 59, 59}, (32767u << 17) | (23u << 12) | (59u << 6) | 59u},  // the last day that fits
      {{2097, 9, 18, 0, 0, 0}, std::nullopt},  // day 32768
      {{2010, 2, 29, 0, 0, 0}, std::nullopt},  // no such date
      {{2010, 13, 1, 0, 0, 0}, std::nullopt},
      {{2010, 1, 1, 24, 0, 0}, std::nullopt},
  };
  for (const PackCase& c : cases) {
    EXPECT_EQ(pack_device_time(c.time), c.packed) << show(c.time);
  }
  // A leap second is sent as the last ordinary second of its minute.
  EXPECT_EQ(pack_device_time({2012, 6, 30, 23, 59, 60}), pack_device_time({2012, 6, 30, 23, 59, 59}));
}

TEST(DeviceTime, UnpacksWithCalendarCarries) {
  const std::pair<uint32_t, std::string> cases[] = {
      {0u, "2008-01-01 00:00:00"},
      {366u << 17, "2009-01-01 00:00:00"},
      {24u << 12, "2008-01-02 00:00:00"},                        // hour field 24
      {(63u << 6) | 63u, "2008-01-01 01:04:03"},                 // 63 minutes, 63 seconds
      {(59u << 17) | (23u << 12) | (59u << 6) | 60u, "2008-03-01 00:00:00"},  // Feb 29th 23:59:60
      {0xFFFFFFFFu, "2097-09-18 08:04:03"},                      // every field at its maximum
  };
  for (const auto& [packed, expected] : cases) EXPECT_EQ(show(unpack_device_time(packed)), expected) << packed;
  // Fields within their ranges go back to the same packed value.
  for (uint32_t packed : {0u, 135299u, (4000u << 17) | (13u << 12) | (7u << 6) | 45u}) {
    EXPECT_EQ(pack_device_time(unpack_device_time(packed)), packed);
  }
}

TEST(AnswerDecoding, State740ClockReplacesOnlyBytes12To18) {
  std::array<uint8_t, 132> answer{};
  for (size_t i = 0; i < answer.size(); ++i) answer[i] = static_cast<uint8_t>(i * 7 + 1);
  put_u32(&answer[12], (366u << 17) | (24u << 12) | (1u << 6) | 2u);  // 2009-01-01 plus 24:01:02
  const auto before = answer;
  decode_state740_clock(answer.data());
  EXPECT_EQ(get_u16(&answer[12]), 2009);
  EXPECT_EQ(answer[14], 1);
  EXPECT_EQ(answer[15], 2);
  EXPECT_EQ(answer[16], 0);
  EXPECT_EQ(answer[17], 1);
  EXPECT_EQ(answer[18], 2);
  for (size_t i = 0; i < answer.size(); ++i) {
    if (i < 12 || i > 18) {
      EXPECT_EQ(answer[i], before[i]) << i;
    }
  }
}

TEST(AnswerDecoding, SystemDataDefaultsOnlyWhenBothBytesAreZero) {
  const std::array<std::array<uint8_t, 4>, 4> cases{{{0, 0, 10, 20}, {0, 5, 0, 5}, {5, 0, 5, 0}, {12, 24, 12, 24}}};
  for (const auto& c : cases) {
    std::array<uint8_t, 132> answer{};
    answer[121] = 0x77;
    answer[122] = c[0];
    answer[123] = c[1];
    apply_system_data_defaults(answer.data());
    EXPECT_EQ(answer[122], c[2]);
    EXPECT_EQ(answer[123], c[3]);
    EXPECT_EQ(answer[121], 0x77);
  }
}

TEST(AnswerDecoding, VoltageReadingsAreScaledWithWrapAround) {
  const uint32_t factors[10] = {2551, 249, 1192, 9766, 6000, 6000, 249, 249, 249, 249};
  for (bool offset : {false, true}) {
    for (uint32_t raw : {0u, 1u, 1024u, 70000u, 0xFFFFFFFFu}) {
      std::array<uint8_t, 132> answer{};
      for (size_t i = 0; i < 10; ++i) put_u32(&answer[4 * i], raw);
      answer[40] = 0x5A;
      rescale_voltage_current(answer.data(), offset);
      for (size_t i = 0; i < 10; ++i) {
        uint32_t expected = static_cast<uint32_t>(uint64_t{raw} * factors[i] % (uint64_t{1} << 32)) >> 10;
        if (offset && i == 4) {
          expected = static_cast<uint32_t>((static_cast<uint32_t>(uint64_t{raw} * 1000 % (uint64_t{1} << 32)) >> 10) -
                                           200u);
        }
        EXPECT_EQ(get_u32(&answer[4 * i]), expected) << "reading " << i + 1 << " raw " << raw << " offset " << offset;
      }
      EXPECT_EQ(answer[40], 0x5A);
    }
  }
  // The documented values.
  std::array<uint8_t, 132> a{};
  put_u32(&a[0], 1024);
  put_u32(&a[4], 1024);
  put_u32(&a[16], 1024);
  rescale_voltage_current(a.data(), true);
  EXPECT_EQ(get_u32(&a[0]), 2551u);
  EXPECT_EQ(get_u32(&a[4]), 249u);
  EXPECT_EQ(get_u32(&a[16]), 800u);
  put_u32(&a[16], 0);
  rescale_voltage_current(a.data(), true);
  EXPECT_EQ(get_u32(&a[16]), 4294967096u);
}

struct SpectraCase {
  int32_t first, count, selector;
  uint16_t code;
  Arguments words;
};

TEST(ArgumentComputation, SpectrumQueryChoosesOldOrNewForm) {
  const SpectraCase cases[] = {
      {0, 32, 15, 91, {0xF000, 32, 0}},
      {4095, 32, 0, 91, {4095, 32, 0}},
      {100, 0, 3, 91, {100 + 3 * 4096, 0, 0}},
      {4096, 1, 0, 258, {4096, 1, 0}},
      {0, 33, 0, 258, {0, 33, 0}},
      {0, 1, 16, 258, {0, 1, 16}},
      {0x10005, 2, 0, 91, {5, 2, 0}},             // taken as 16 bits: 5
      {-1, 1, 0, 258, {0xFFFF, 1, 0}},
  };
  for (const SpectraCase& c : cases) {
    SpectraChoice choice = choose_spectra_query(c.first, c.count, c.selector);
    lyralink::link::CommandFrame frame;
    load_command(frame, choice.query->command, choice.args);
    EXPECT_EQ(frame.code(), c.code) << c.first << "," << c.count << "," << c.selector;
    for (int w = 1; w <= 3; ++w) EXPECT_EQ(frame.word(w), c.words[static_cast<size_t>(w - 1)]) << "word " << w;
  }
}

TEST(ArgumentComputation, EnrichmentWidthsAndStarts) {
  struct Case {
    int32_t a1, a2, a3, a4;
    std::array<uint8_t, 6> bytes;
  };
  const Case cases[] = {
      {100, 199, 300, 309, {100, 10, 100, 0, 0x2C, 0x01}},
      {0, 255, 7, 7, {0, 1, 0, 0, 7, 0}},           // 256 channels: width byte 0
      {10, 9, 0x10000, 0x10001, {0, 2, 10, 0, 0, 0}},  // 16-bit arguments
  };
  for (const Case& c : cases) {
    lyralink::link::CommandFrame frame;
    load_command(frame, defs::query_enrichment.command, enrichment_arguments(c.a1, c.a2, c.a3, c.a4));
    EXPECT_EQ(frame.code(), 93);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(frame.byte(i), c.bytes[static_cast<size_t>(i)]) << "byte " << i;
  }
}

std::array<uint8_t, kExtensionBlockSize> receive_block(uint16_t count, const std::string& tail) {
  std::array<uint8_t, kExtensionBlockSize> block{};
  block[0] = static_cast<uint8_t>(count);
  block[1] = static_cast<uint8_t>(count >> 8);
  for (size_t i = 0; i < tail.size(); ++i) block[kExtensionBlockSize - tail.size() + i] = static_cast<uint8_t>(tail[i]);
  return block;
}

std::string take(const std::array<uint8_t, kExtensionBlockSize>& block, BlockRange r) {
  EXPECT_LE(r.offset + r.length, block.size());
  EXPECT_GE(r.offset, 2u);
  return std::string(reinterpret_cast<const char*>(block.data()) + r.offset, r.length);
}

TEST(ExtensionReceiveBlock, RangesOfTheReceivedText) {
  auto abc = receive_block(3, "xyzabc");
  EXPECT_EQ(take(abc, received_text_range(abc.data(), 10)), "abc");
  EXPECT_EQ(take(abc, received_text_range(abc.data(), 3)), "abc");
  EXPECT_EQ(take(abc, received_text_range(abc.data(), 2)), "ab");
  EXPECT_EQ(take(abc, received_text_range(abc.data(), 0)), "");
  EXPECT_EQ(take(abc, received_text_range(abc.data(), 0x10002)), "ab");  // low 16 bits of maxlen
  EXPECT_EQ(take(abc, data_area_tail_range(2)), "bc");
  EXPECT_EQ(take(abc, data_area_tail_range(6)), "xyzabc");  // the count is not consulted
  EXPECT_EQ(data_area_tail_range(1025).length, 1024u);
  EXPECT_EQ(data_area_tail_range(1024).offset, 2u);

  auto empty = receive_block(0, "");
  EXPECT_EQ(take(empty, received_text_range(empty.data(), 100)), "");
  // A count beyond the data area stays inside the block.
  for (uint16_t count : {uint16_t{1024}, uint16_t{1025}, uint16_t{0xFFFF}}) {
    auto bad = receive_block(count, "end");
    BlockRange all = received_text_range(bad.data(), 0xFFFF);
    EXPECT_EQ(all.offset, 2u);
    EXPECT_EQ(all.length, 1024u);
    EXPECT_EQ(take(bad, received_text_range(bad.data(), 5)), std::string(5, '\0'));
  }
}

TEST(DetectorInfoChunks, HeadersAndCoverage) {
  struct Case {
    size_t n;
    std::vector<uint16_t> headers;  // empty: refused
  };
  const Case cases[] = {
      {0, {}}, {1, {0xC1}}, {3, {0xC3}}, {4, {0xC4}}, {5, {0x44, 0x81}}, {8, {0x44, 0x84}},
      {9, {0x44, 0x04, 0x81}}, {2049, {}},
  };
  for (const Case& c : cases) {
    std::vector<uint16_t> headers;
    for (const DetectorChunk& chunk : detector_info_chunks(c.n)) headers.push_back(chunk.header);
    EXPECT_EQ(headers, c.headers) << c.n;
  }
  for (size_t n : {1u, 5u, 7u, 13u, 2047u, 2048u}) {
    auto chunks = detector_info_chunks(n);
    ASSERT_EQ(chunks.size(), (n + 3) / 4);
    size_t next = 0;
    for (size_t i = 0; i < chunks.size(); ++i) {
      EXPECT_EQ(chunks[i].first, next);
      EXPECT_GE(chunks[i].length, 1u);
      EXPECT_LE(chunks[i].length, 4u);
      EXPECT_EQ(chunks[i].header & 0x07, chunks[i].length);
      EXPECT_EQ((chunks[i].header & 0x40) != 0, i == 0);
      EXPECT_EQ((chunks[i].header & 0x80) != 0, i + 1 == chunks.size());
      next += chunks[i].length;
    }
    EXPECT_EQ(next, n);
  }
  auto big = detector_info_chunks(2048);
  EXPECT_EQ(big.front().header, 0x44);
  EXPECT_EQ(big.back().header, 0x84);
  EXPECT_EQ(std::count_if(big.begin(), big.end(), [](const DetectorChunk& c) { return c.header == 0x04; }), 510);
}

TEST(CommandTable, NamesAreDistinctAndLookupIgnoresOnlyAsciiCase) {
  auto rows = command_table();
  ASSERT_EQ(rows.size(), 78u);
  std::set<std::string> names;
  size_t with_short = 0;
  for (const CommandRow& row : rows) {
    for (std::string_view n : {row.short_name, row.long_name}) {
      if (n.empty()) continue;
      std::string upper(n);
      for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      EXPECT_TRUE(names.insert(upper).second) << n;
      EXPECT_EQ(find_command_row(std::string(n).c_str()), &row) << n;
    }
    if (!row.short_name.empty()) ++with_short;
  }
  EXPECT_EQ(with_short, 40u);
  EXPECT_TRUE(rows[39].long_name == "CMD_QUERY_VOLTAGE_CURRENT" && rows[40].short_name.empty());

  const std::pair<const char*, int> lookups[] = {
      {"cmd_init", 65}, {"Init", 65}, {"INIT", 65}, {"CMD_QUERY_STATE740_EX2", 303}, {"CMD_QUERY_STATE740", 257},
      {"cmd_query_state740_ex", 272}, {"query_voltage_current", 5}, {"CMD_SET_PRESETS", 72},
      {"QUERY_STATE740", -1}, {"SET_TIME", -1}, {"", -1}, {" INIT", -1}, {"INIT ", -1}, {"CMD_", -1},
      {"CMD_SET_INIT", -1}, {"INIT\xC9", -1},
  };
  for (const auto& [name, code] : lookups) {
    const CommandRow* row = find_command_row(name);
    EXPECT_EQ(row == nullptr ? -1 : row->command.code, code) << name;
  }
  EXPECT_EQ(find_command_row(nullptr), nullptr);
}

}  // namespace
