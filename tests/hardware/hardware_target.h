/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The analyser the hardware tier runs against: a real one named by
// LYRALINK_TEST_PORT=COMn (serial or USB-serial port) and/or
// LYRALINK_TEST_IP=address (Ethernet), or lyrasim when the program is run
// with --emulate (as every ctest run does, so that the suites themselves
// stay proven).
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hwtest {

enum class Kind { serial, ethernet };

struct Target {
  Kind kind = Kind::serial;
  std::string name;     // "COM3" or "192.168.0.10"
  int32_t baud = 38400;  // serial only
};

// The target of a kind, or null when none is named.
const Target* target(Kind kind);
bool emulated();

// How to run the tier against an analyser, for the skip message.
const char* instructions();

// Opens the link to the target (answer timeout 1000 ms, 3 attempts);
// nonzero when open. lock: the machine-wide transaction lock (serial).
int16_t open_link(const Target& t, bool lock = false);

// The fixture of both suites: one test per channel named in the
// environment, skipped (with the instructions) for a channel that is not.
class OnAnalyser : public ::testing::TestWithParam<Kind> {
 protected:
  void SetUp() override;
  void TearDown() override;
  const Target& t() const { return *target_; }
  // True for an MCA-740 (it answers the 740 state query).
  bool is_740() const { return is_740_; }

 private:
  const Target* target_ = nullptr;
  bool is_740_ = false;
};

std::string kind_name(const ::testing::TestParamInfo<Kind>& info);

}  // namespace hwtest

#define HARDWARE_SUITE(fixture)                                                                              \
  INSTANTIATE_TEST_SUITE_P(Channels, fixture, ::testing::Values(hwtest::Kind::serial, hwtest::Kind::ethernet), \
                           hwtest::kind_name)
