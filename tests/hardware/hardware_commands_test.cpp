// SPDX-License-Identifier: LGPL-2.1-or-later
// The command suite of the hardware tier: the queries of every family, the
// generic entry against the exports, and the two stores a test may write
// because it puts them back at once: a word of user data and the detector
// information. Both are read first and restored whatever the outcome (a
// failed restore fails the test and says what the value was).
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "include/lyralink.h"
#include "tests/hardware/hardware_target.h"

using hwtest::OnAnalyser;

namespace {

uint16_t u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t u32(const uint8_t* p) { return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16 | p[3] << 24); }

class Commands : public OnAnalyser {};
HARDWARE_SUITE(Commands);

TEST_P(Commands, EveryFamilyOfQueriesAnswers) {
  uint8_t answer[132];
  EXPECT_EQ(LYRA_QUERY_STATE(answer), 0);
  EXPECT_EQ(LYRA_QUERY_POWER(answer), 0);
  EXPECT_EQ(LYRA_QUERY_VOLTAGE_CURRENT(answer), 0);
  EXPECT_EQ(LYRA_QUERY_SYSTEM_DATA(answer), 0);
  EXPECT_EQ(LYRA_QUERY_USER_DATA(0, answer), 0);
  EXPECT_EQ(LYRA_QUERY_SPECTRA_EX(0, 32, 0, answer), 0);  // the older query 91
  if (!is_740()) return;
  EXPECT_EQ(LYRA_QUERY_STATE740_EX(answer), 0);
  EXPECT_NE(u32(answer + 0), 0u) << "common memory size";
  EXPECT_NE(u16(answer + 104), 0) << "sample rate";
  EXPECT_EQ(LYRA_QUERY_SPECTRA_EX(4096, 40, 0, answer), 0);  // the newer query 258
  std::vector<uint8_t> block(1440);
  EXPECT_EQ(LYRA_QUERY_DETECTOR_INFO(0, block.data()), 0);
  EXPECT_EQ(LYRA_QUERY_EEPROM_INFO(block.data()), 0);
}

TEST_P(Commands, TheGenericEntryAndTheExportsSeeTheSameSettings) {
  uint8_t by_export[132], by_name[132];
  ASSERT_EQ(LYRA_QUERY_STATE(by_export), 0);
  ASSERT_EQ(MCA_COMM6("CMD_QUERY_STATE", by_name, 0, 0, 0, 0, 0, 0), 0);
  EXPECT_EQ(u16(by_export + 48), u16(by_name + 48)) << "coarse gain";
  EXPECT_EQ(u16(by_export + 56), u16(by_name + 56)) << "HV set value";
  EXPECT_EQ(u16(by_export + 58), u16(by_name + 58)) << "HV polarity";
}

// ---- user data ----

constexpr int32_t kWord = 20;  // page 0, offset 80; word 4 (the application code) is never touched

uint32_t user_word(int32_t index, int16_t* status) {
  uint8_t answer[132];
  *status = LYRA_QUERY_USER_DATA(0, answer);
  return u32(answer + 4 * index);
}

TEST_P(Commands, AUserDataWordIsWrittenReadBackAndRestored) {
  int16_t st = 0;
  uint8_t before[132];
  ASSERT_EQ(LYRA_QUERY_USER_DATA(0, before), 0);
  const uint32_t original = u32(before + 4 * kWord);
  struct Restore {
    uint32_t value;
    ~Restore() {
      int16_t s = 0;
      if (LYRA_SET_USER_DATA(kWord, static_cast<int32_t>(value)) != 0 || user_word(kWord, &s) != value || s != 0) {
        ADD_FAILURE() << "user data word " << kWord << " could not be restored: set it back to " << value
                      << " (lyractl LINK set-user-data " << kWord << " " << value << ")";
      }
    }
  } restore{original};
  for (uint32_t probe : {original ^ 0x5A5A0001u, original ^ 0xFFFFFFFFu}) {
    ASSERT_EQ(LYRA_SET_USER_DATA(kWord, static_cast<int32_t>(probe)), 0);
    EXPECT_EQ(user_word(kWord, &st), probe);
    EXPECT_EQ(st, 0);
  }
  // Every other word of the page kept its value.
  uint8_t after[132];
  ASSERT_EQ(LYRA_QUERY_USER_DATA(0, after), 0);
  for (int32_t w = 0; w < 26; ++w) {
    if (w != kWord) {
      EXPECT_EQ(u32(after + 4 * w), u32(before + 4 * w)) << "word " << w;
    }
  }
}

// ---- detector information ----

constexpr size_t kDetectorBytes = 2048;  // two pages of 1024

bool read_detector_info(std::vector<uint8_t>& out) {
  out.assign(kDetectorBytes, 0);
  return LYRA_QUERY_DETECTOR_INFO(0, out.data()) == 0 && LYRA_QUERY_DETECTOR_INFO(1, out.data() + 1024) == 0;
}

// Writes back what was read: the bytes up to the last nonzero one (at
// least one), since a store shorter than 2048 bytes reads back as zeros
// after its end.
int16_t write_detector_info(const std::vector<uint8_t>& bytes) {
  size_t n = bytes.size();
  while (n > 1 && bytes[n - 1] == 0) --n;
  return LYRA_WRITE_DETECTOR_INFO(bytes.data(), static_cast<int32_t>(n));
}

TEST_P(Commands, TheDetectorInformationIsWrittenReadBackAndRestored) {
  if (!is_740()) GTEST_SKIP() << "an MCA-310 has no detector information store";
  std::vector<uint8_t> original;
  ASSERT_TRUE(read_detector_info(original));
  struct Restore {
    const std::vector<uint8_t>& bytes;
    ~Restore() {
      std::vector<uint8_t> now;
      if (write_detector_info(bytes) != 0 || !read_detector_info(now) || now != bytes) {
        ADD_FAILURE() << "the detector information could not be restored; its first bytes were: "
                      << std::string(reinterpret_cast<const char*>(bytes.data()),
                                     strnlen(reinterpret_cast<const char*>(bytes.data()), 80));
      }
    }
  } restore{original};
  const std::string text = "lyralink hardware test, restored at once";
  std::vector<uint8_t> pattern(text.begin(), text.end());
  ASSERT_EQ(LYRA_WRITE_DETECTOR_INFO(pattern.data(), static_cast<int32_t>(pattern.size())), 0);
  std::vector<uint8_t> now;
  ASSERT_TRUE(read_detector_info(now));
  EXPECT_EQ(std::vector<uint8_t>(now.begin(), now.begin() + static_cast<long>(pattern.size())), pattern);
  // Nothing is sent for counts outside 1-2048.
  EXPECT_EQ(LYRA_WRITE_DETECTOR_INFO(pattern.data(), 0), 4);
  EXPECT_EQ(LYRA_WRITE_DETECTOR_INFO(pattern.data(), 2049), 4);
  ASSERT_TRUE(read_detector_info(now));
  EXPECT_EQ(std::vector<uint8_t>(now.begin(), now.begin() + static_cast<long>(pattern.size())), pattern);
}

}  // namespace
