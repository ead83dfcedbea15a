// SPDX-License-Identifier: LGPL-2.1-or-later
// lyrasim's number syntax: every text that strtoll with base 0 reads whole
// and without overflow, and nothing else.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "tools/lyrasim/text.h"

namespace {

// The reference: strtoll with base 0, the whole text used, no overflow.
bool reference(const std::string& text, long long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, 0);
  if (errno != 0 || end == text.c_str() || *end != '\0') return false;
  out = v;
  return true;
}

}  // namespace

TEST(LyrasimText, ParseIntegerTakesWhatStrtollTakes) {
  const char* texts[] = {
      "0", "7", "-7", "+7", "  42", "\t\n42", "42 ", "4 2", "", " ", "-", "+", "+-1", "--1",
      "0x1F", "0X1f", "-0x10", "0x", "0xg", "0x-5", "010", "08", "-010", "00", "0b1",
      "9223372036854775807", "9223372036854775808", "-9223372036854775808", "-9223372036854775809",
      "0x7FFFFFFFFFFFFFFF", "0x8000000000000000", "-0x8000000000000000", "-0x8000000000000001",
      "0777777777777777777777", "01777777777777777777777", "99999999999999999999999", "1e3", "12abc",
      "0xFFFFFFFF", "-2147483648", "4294967295",
  };
  for (const char* text : texts) {
    long long want = 12345, got = 12345;
    const bool ok_want = reference(text, want);
    const bool ok_got = lyrasim::parse_integer(text, got);
    EXPECT_EQ(ok_got, ok_want) << "'" << text << "'";
    if (ok_want && ok_got) {
      EXPECT_EQ(got, want) << "'" << text << "'";
    }
  }
  long long v = 0;
  ASSERT_TRUE(lyrasim::parse_integer("-9223372036854775808", v));
  EXPECT_EQ(v, LLONG_MIN);
  EXPECT_FALSE(lyrasim::parse_integer("9223372036854775808", v));  // one past: overflow, not LLONG_MAX
}
