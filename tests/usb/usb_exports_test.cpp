// SPDX-License-Identifier: LGPL-2.1-or-later
// The exported USB helpers through the shared library: argument checks,
// links without modem lines, and the latency setters on a fake sysfs tree.
#include <gtest/gtest.h>

#include "include/lyralink.h"
#include "tests/multiplex/multiplex_support.h"
#include "tests/usb/fake_sysfs.h"

namespace {

TEST(UsbExports, NullAndOverlongArgumentsAreRefused) {
  EXPECT_EQ(IS_USB_PORT(nullptr), 0);
  EXPECT_EQ(SET_LATENCY_TIMER_EX(nullptr, 2), 0);
  EXPECT_EQ(SET_LATENCY_TIMER(nullptr), 0);
  EXPECT_EQ(GET_CURRENT_LATENCY_TIMER(nullptr), 0);
  const std::string long_name(300, 'C');
  EXPECT_EQ(IS_USB_PORT(long_name.c_str()), 0);
}

TEST(UsbExports, NoBridgeLinkNoEffect) {
  auto check = [](const char* link) {
    SCOPED_TRACE(link);
    EXPECT_EQ(IS_CURRENT_USB_PORT(), 0);
    EXPECT_EQ(SET_CURRENT_LATENCY_TIMER(2), 0);
    int32_t value = 77;
    EXPECT_EQ(GET_CURRENT_LATENCY_TIMER(&value), 0);
    EXPECT_EQ(value, 77);
    SET_USB_CHARGER(1);
    EXPECT_EQ(GET_USB_CHARGER(), 0);
    EXPECT_EQ(GET_USB_CHARGER_STATE(), 0);
    USB_TEST();
  };
  COMM_CLOSE();
  check("no link");

  ASSERT_EQ(COMM_INIT_ETHERNET_IP("127.0.0.1", 1000, 1), 1);
  check("Ethernet");
  uint8_t record[4] = {4, 0, 0, 0};
  GET_COMM_PARAM(record);
  EXPECT_EQ(record[2] | (record[3] << 8), 0);  // still the Ethernet link
  COMM_CLOSE();

  mplxtest::FakeServer server(920);
  ASSERT_TRUE(server.ready());
  ASSERT_NE(COMM_INIT_EX3("MPLX920#1", 1000, 1, 38400, 0), 0);
  check("Multiplex");
  COMM_CLOSE();
  EXPECT_EQ(server.field(1, lyralink::link::multiplex::kInUseOffset), 0u);
}

TEST(UsbExports, LatencySettersOnABridgePort) {
  usbtest::FakeSysfs sys;
  sys.add_usb_tty("ttyUSB0");
  sys.add_port("COM4", "/dev/ttyUSB0");
  EXPECT_EQ(IS_USB_PORT("com4"), -1);
  EXPECT_EQ(SET_LATENCY_TIMER("com4"), -1);
  EXPECT_EQ(sys.latency("ttyUSB0"), "8\n");
  EXPECT_EQ(SET_LATENCY_TIMER_EX("COM4", 8), 0);
  EXPECT_EQ(SET_LATENCY_TIMER_EX("COM4", 1), -1);
  EXPECT_EQ(sys.latency("ttyUSB0"), "1\n");
  EXPECT_EQ(IS_USB_PORT("COM5"), 0);
}

}  // namespace
