// SPDX-License-Identifier: LGPL-2.1-or-later
// lyrasim's fault rules as the operator writes them (--fault, "fault RULE"
// on the control input) and as the responder applies them to answers.
// Both faults here were found with the lyrasim_frames fuzzer's inputs
// (fuzz/regressions/lyrasim_frames).
#include <gtest/gtest.h>

#include "tools/lyrasim/device.h"
#include "tools/lyrasim/engine.h"

using namespace lyrasim;

namespace {

Command frame(uint16_t code) {
  Command c;
  put16(&c.raw[0], kSync);
  put16(&c.raw[2], code);
  put16(&c.raw[10], kEnd);
  return c;
}

TEST(LyrasimFaults, RuleValuesOutsideTheirRangeAreRefusedNotCut) {
  std::string error;
  // A value beyond 32 bits was cut to its low bits: "length=4294967300"
  // became a change of 4 bytes, "count=4294967297" a single time.
  for (const char* bad : {"length=4294967300", "length=2000000000", "length=-65537", "delay=3600001",
                          "delay=4294967297", "silent,count=4294967297", "silent,skip=-1"}) {
    error.clear();
    EXPECT_FALSE(parse_fault(bad, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
  for (const char* good : {"length=-4", "length=+65536", "delay=1000", "silent,count=4294967295,skip=2"}) {
    EXPECT_TRUE(parse_fault(good, &error)) << good << ": " << error;
  }
  auto r = parse_fault("silent,count=4294967295", &error);
  ASSERT_TRUE(r);
  EXPECT_EQ(*r->count, 4294967295u);
}

TEST(LyrasimFaults, ChecksumRuleOnAnAnswerCutToNothingLeavesItEmpty) {
  // A length rule that removes the whole answer, then a checksum rule: the
  // checksum word was looked for 4 bytes before the (empty) answer and
  // written there, outside the buffer.
  Analyser device(Identity{});
  Responder responder;
  std::string error;
  auto cut = parse_fault("length=-200", &error);
  auto spoil = parse_fault("checksum", &error);
  ASSERT_TRUE(cut && spoil);
  responder.add_fault(*cut);
  responder.add_fault(*spoil);
  auto reply = responder.answer(device, "COM3", frame(0x5A), SteadyClock::time_point{std::chrono::hours(1)});
  ASSERT_TRUE(reply);
  EXPECT_TRUE(reply->bytes.empty());
}

}  // namespace
