// SPDX-License-Identifier: LGPL-2.1-or-later
// The exported link functions, called as a host program calls them:
// through liblyralink.so and its C header.
#include <gtest/gtest.h>

#include <cstring>

#include "include/lyralink.h"
#include "tests/support/emulator.h"

namespace {

struct Params {
  uint16_t size;
  int16_t port_id;
  uint32_t baud;
  uint16_t usb_port;
  uint16_t reserved;
};

Params read_params(uint16_t size) {
  uint8_t record[12];
  std::memset(record, 0xEE, sizeof record);
  record[0] = static_cast<uint8_t>(size);
  record[1] = static_cast<uint8_t>(size >> 8);
  GET_COMM_PARAM(record);
  Params p{};
  std::memcpy(&p.port_id, record + 2, 2);
  std::memcpy(&p.baud, record + 4, 4);
  std::memcpy(&p.usb_port, record + 8, 2);
  std::memcpy(&p.reserved, record + 10, 2);
  return p;
}

// Runs first in this program: the state before any open.
TEST(LinkApi, PortIdentifierIsZeroBeforeTheFirstOpen) { EXPECT_EQ(read_params(4).port_id, 0); }

class LinkApiSerial : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sim_ = lyratest::Emulator::start({"--serial", "COM3=740", "--serial", "COM1=740"});
    ASSERT_TRUE(sim_);
    sim_->use_ports();
  }
  static void TearDownTestSuite() { sim_.reset(); }
  void TearDown() override { COMM_CLOSE(); }
  static std::unique_ptr<lyratest::Emulator> sim_;
};
std::unique_ptr<lyratest::Emulator> LinkApiSerial::sim_;

TEST_F(LinkApiSerial, CommInitUsesItsDefaults) {
  ASSERT_NE(COMM_INIT("COM3"), 0);
  Params p = read_params(12);
  EXPECT_EQ(p.port_id, 3);
  EXPECT_EQ(p.baud, 38400u);
  EXPECT_EQ(p.usb_port, 0);  // a serial link has no USB serial port number
  EXPECT_EQ(p.reserved, 0xEEEE);  // never written
}

TEST_F(LinkApiSerial, RecordSizeDecidesWhatIsWritten) {
  ASSERT_NE(COMM_INIT_EX2("COM3", 1000, 2, 115200), 0);
  Params p = read_params(6);
  EXPECT_EQ(p.port_id, 3);
  EXPECT_EQ(p.baud, 0xEEEEEEEEu);
  p = read_params(8);
  EXPECT_EQ(p.baud, 115200u);
  EXPECT_EQ(p.usb_port, 0xEEEE);
  p = read_params(3);
  EXPECT_EQ(static_cast<uint16_t>(p.port_id), 0xEEEE);
  GET_COMM_PARAM(nullptr);  // ignored, no crash
}

TEST_F(LinkApiSerial, OpenRulesThroughTheExports) {
  EXPECT_EQ(COMM_INIT_EX3("com1", 1000, 1, 38400, 0), 0);
  EXPECT_EQ(COMM_INIT_EX3("COM10000", 1000, 1, 38400, 0), 0);
  EXPECT_EQ(COMM_INIT_EX3(nullptr, 1000, 1, 38400, 0), 0);
  EXPECT_EQ(COMM_INIT(nullptr), 0);
  ASSERT_NE(COMM_INIT_EX3("COM1", 100, 0, 9600, 0), 0);
  EXPECT_EQ(read_params(8).port_id, 1);
  EXPECT_EQ(COMM_INIT("COM3"), 0);
  EXPECT_EQ(COMM_INIT_ETHERNET_IP("127.0.0.1", 1000, 1), 0);
  COMM_CLOSE();
  EXPECT_EQ(read_params(4).port_id, -1);
  COMM_CLOSE();  // closing again only resets the identifier
  EXPECT_EQ(read_params(4).port_id, -1);
}

TEST(LinkApiEthernet, OpenCloseAndSocketRelease) {
  EXPECT_EQ(COMM_INIT_ETHERNET_IP("192.168.100.1001", 1000, 1), 0);
  EXPECT_EQ(COMM_INIT_ETHERNET_IP(nullptr, 1000, 1), 0);
  ASSERT_EQ(COMM_INIT_ETHERNET_IP("192.168.0.10", 100, 0), 1);
  EXPECT_EQ(read_params(4).port_id, 0);
  EXPECT_EQ(SET_TIMEOUT(2000), 1);
  COMM_TERMINATE_ETHERNET();  // closes the open link first
  EXPECT_EQ(read_params(4).port_id, -1);
  ASSERT_EQ(COMM_INIT_ETHERNET_IP("192.168.0.10", 1000, 1), 1);
  COMM_CLOSE();
  COMM_TERMINATE_ETHERNET();
  COMM_TERMINATE_ETHERNET();
}

}  // namespace
