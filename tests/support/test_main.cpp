// SPDX-License-Identifier: LGPL-2.1-or-later
// Test entry point: moves this process's emulated devices to a UDP port of
// its own, so that test programs running side by side never answer each
// other's frames.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/emulator.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (std::getenv("LYRALINK_UDP_PORT") == nullptr) {
    std::string port = std::to_string(lyratest::free_udp_port());
    ::setenv("LYRALINK_UDP_PORT", port.c_str(), 1);
  }
  return RUN_ALL_TESTS();
}
