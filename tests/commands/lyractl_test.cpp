// SPDX-License-Identifier: LGPL-2.1-or-later
// lyractl against lyrasim: what it prints and the exit status it ends with.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/process.h"
#include "tests/support/emulator.h"

using lyratest::Emulator;

namespace {

struct Outcome {
  int exit_status = -1;
  std::string out;
};

class Lyractl : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_ = Emulator::start({"--serial", "COM3=740,sn=515", "--udp", "127.0.0.1=740"});
    ASSERT_TRUE(sim_);
  }
  Outcome run(std::vector<std::string> args) {
    args.insert(args.begin(), LYRACTL_PATH);
    auto child = lyralink::platform::ChildProcess::spawn(args, {{"LYRALINK_PORT_DIR", sim_->port_dir()}});
    Outcome r;
    if (!child) return r;
    child->close_stdin();
    r.out = child->read_all(lyralink::platform::deadline_after_ms(10000));
    r.exit_status = child->wait(lyralink::platform::deadline_after_ms(10000)).value_or(-1);
    return r;
  }
  std::unique_ptr<Emulator> sim_;
};

struct Case {
  std::vector<std::string> args;
  int exit_status;
  std::vector<std::string> shown;  // lines or pieces the output must contain
};

TEST_F(Lyractl, PrintsFieldsAndExitsWithTheStatus) {
  const Case cases[] = {
      {{"--port", "COM3", "state740"},
       0,
       {"state740 (code 257) on COM3: status 0 (ok)", "firmware              0x1304",
        "feature flags         0x00004010 (HV controls, gain list)", "highest HV            1500 V", "device clock"}},
      {{"--port", "COM3", "--json", "state740-ex"},
       0,
       {"\"status\":0", "\"memory_size\":16777216", "\"sample_rate_khz\":20000"}},
      {{"--port", "COM3", "set-hv", "700", "1"}, 0, {"set-hv (code 79) on COM3: status 0 (ok)"}},
      {{"--port", "COM3", "state"}, 0, {"HV set value          700 V", "HV polarity           1 (negative)"}},
      {{"--port", "COM3", "set-user-data", "4", "0x4C55504B"}, 0, {}},
      {{"--port", "COM3", "--timeout", "900", "user-data"}, 0, {"application code      KPUL"}},
      {{"--port", "COM3", "cmd_query_state740", "1", "2"}, 0, {"CMD_QUERY_STATE740 (code 257)", "  0000  40 07 04 13"}},
      {{"--ip", "127.0.0.1", "--retries", "1", "power"}, 0, {"on 127.0.0.1: status 0", "HV actual             0 V (off)"}},
      {{"names"}, 0, {"CMD_QUERY_STATE740_EX2", "CMD_INIT                             INIT"}},
      {{"--help"}, 0, {"--mplx MPLXn#c", "Exit status"}},
      // Usage errors and a link that does not open.
      {{"--port", "COM9", "state"}, 69, {}},
      {{"--port", "COM3", "bogus"}, 64, {}},
      {{"--port", "COM3", "set-gain"}, 64, {}},
      {{"--port", "COM3", "set-gain", "ten"}, 64, {}},
      {{"state"}, 64, {}},
      {{"--port", "COM3", "--ip", "127.0.0.1", "state"}, 64, {}},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const auto& a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    Outcome r = run(c.args);
    EXPECT_EQ(r.exit_status, c.exit_status) << r.out;
    for (const std::string& piece : c.shown) EXPECT_NE(r.out.find(piece), std::string::npos) << piece << "\n" << r.out;
    if (c.exit_status >= 64) {
      EXPECT_TRUE(r.out.empty()) << r.out;  // errors go to stderr only
    }
  }
}

TEST_F(Lyractl, DeviceErrorBecomesTheExitStatus) {
  ASSERT_TRUE(sim_->control("fault error=0xAAAC,code=90"));
  Outcome r = run({"--port", "COM3", "--retries", "1", "--json", "state"});
  EXPECT_EQ(r.exit_status, 5);
  EXPECT_NE(r.out.find("\"status\":5,\"status_text\":\"device error 0xAAAC\""), std::string::npos) << r.out;
}

}  // namespace
