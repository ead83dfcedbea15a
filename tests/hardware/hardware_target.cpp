// SPDX-License-Identifier: LGPL-2.1-or-later
#include "tests/hardware/hardware_target.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "include/lyralink.h"
#include "tests/support/emulator.h"

namespace hwtest {

namespace {

std::vector<Target> g_targets;
bool g_emulated = false;

void read_targets() {
  g_targets.clear();
  int32_t baud = 38400;
  if (const char* b = std::getenv("LYRALINK_TEST_BAUD"); b != nullptr && *b != '\0') baud = std::atoi(b);
  if (const char* p = std::getenv("LYRALINK_TEST_PORT"); p != nullptr && *p != '\0') {
    g_targets.push_back(Target{Kind::serial, p, baud});
  }
  if (const char* ip = std::getenv("LYRALINK_TEST_IP"); ip != nullptr && *ip != '\0') {
    g_targets.push_back(Target{Kind::ethernet, ip, baud});
  }
}

}  // namespace

const char* instructions() {
  return "No analyser named: the hardware tests are skipped. To run them against a real MCA-740 or MCA-310:\n"
         "  LYRALINK_TEST_PORT=COM33 ctest -L hardware --output-on-failure   (serial or USB-serial port;\n"
         "      COM33 is /dev/ttyUSB0, see the port names in the README; LYRALINK_TEST_BAUD, default 38400)\n"
         "  LYRALINK_TEST_IP=192.168.0.10 ctest -L hardware --output-on-failure   (Ethernet)\n"
         "Both may be given. No other program may hold the analyser meanwhile. The tests write the\n"
         "analyser's user data and detector information only to restore them at once, and never touch\n"
         "its high voltage, gain, clock, acquisition or extension port (docs/hardware-tests.md).\n";
}

const Target* target(Kind kind) {
  for (const Target& t : g_targets) {
    if (t.kind == kind) return &t;
  }
  return nullptr;
}

bool emulated() { return g_emulated; }

int16_t open_link(const Target& t, bool lock) {
  if (t.kind == Kind::serial) return COMM_INIT_EX3(t.name.c_str(), 1000, 3, t.baud, lock ? 1 : 0);
  return COMM_INIT_ETHERNET_IP(t.name.c_str(), 1000, 3);
}

void OnAnalyser::SetUp() {
  target_ = target(GetParam());
  if (target_ == nullptr) {
    GTEST_SKIP() << (GetParam() == Kind::serial ? "LYRALINK_TEST_PORT" : "LYRALINK_TEST_IP")
                 << " is not set: no analyser on this channel.";
  }
  ASSERT_NE(open_link(*target_), 0) << "cannot open the link to " << target_->name;
  uint8_t answer[132];
  is_740_ = LYRA_QUERY_STATE740(answer) == 0;
}

void OnAnalyser::TearDown() { COMM_CLOSE(); }

std::string kind_name(const ::testing::TestParamInfo<Kind>& info) {
  return info.param == Kind::serial ? "Serial" : "Ethernet";
}

}  // namespace hwtest

// --emulate: lyrasim on a pseudo-terminal (COM3) and on UDP (127.0.0.1 at a
// port of this run) takes the analyser's place; otherwise the environment
// names the analyser, and without one the program exits with 77 (ctest's
// "skipped") after printing how to run it.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  bool emulate = false;
  for (int i = 1; i < argc; ++i) emulate = emulate || std::strcmp(argv[i], "--emulate") == 0;
  std::unique_ptr<lyratest::Emulator> sim;
  if (emulate) {
    hwtest::g_emulated = true;
    ::setenv("LYRALINK_UDP_PORT", std::to_string(lyratest::free_udp_port()).c_str(), 1);
    sim = lyratest::Emulator::start({"--serial", "COM3=740,sn=4711", "--udp", "127.0.0.1=740,sn=4712"});
    if (!sim) return 1;
    sim->use_ports();
    ::setenv("LYRALINK_TEST_PORT", "COM3", 1);
    ::setenv("LYRALINK_TEST_IP", "127.0.0.1", 1);
    ::unsetenv("LYRALINK_TEST_BAUD");
    // Stores that are not empty, as on an analyser in use, so that the
    // restoring is seen to put back what was there.
    for (const char* link : {"COM3", "127.0.0.1"}) {
      const int16_t open = link[0] == 'C' ? COMM_INIT_EX3(link, 1000, 3, 38400, 0) : COMM_INIT_ETHERNET_IP(link, 1000, 3);
      const char description[] = "NaI(Tl) 3x3 inch, serial 8812, calibrated 2026-11-02";
      if (open == 0 || LYRA_WRITE_DETECTOR_INFO(description, sizeof description - 1) != 0 ||
          LYRA_SET_USER_DATA(20, 123456789) != 0) {
        std::fprintf(stderr, "cannot prepare the emulated analyser on %s\n", link);
        return 1;
      }
      COMM_CLOSE();
    }
  }
  hwtest::read_targets();
  if (hwtest::g_targets.empty()) {
    std::fputs(hwtest::instructions(), stdout);
    return 77;
  }
  for (const auto& t : hwtest::g_targets) {
    std::printf("hardware tests against %s%s\n", t.name.c_str(), emulate ? " (lyrasim)" : "");
  }
  return RUN_ALL_TESTS();
}
