// SPDX-License-Identifier: LGPL-2.1-or-later
// The charger lines and the latency timer on a direct USB channel, through
// the stand-in bridge library with an emulated analyser in this process.
#include <gtest/gtest.h>

#include <cstdlib>

#include "lyralink/link/link.h"
#include "lyralink/link/usb_serial.h"
#include "platform/dynamic_library.h"
#include "tests/support/emulator.h"

using namespace lyralink::link;

namespace {

class DirectUsb : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("LYRALINK_FTD2XX", lyratest::standin_bridge_path().c_str(), 1);
    // The same file the library loads: the hooks reach the same devices.
    hooks_ = lyralink::platform::DynamicLibrary::load(lyratest::standin_bridge_path());
    ASSERT_TRUE(hooks_);
    configure_ = reinterpret_cast<int (*)(const char*)>(hooks_->symbol("lyrasim_usb_configure"));
    calls_ = reinterpret_cast<int (*)(char*, int, int)>(hooks_->symbol("lyrasim_usb_calls"));
    ASSERT_TRUE(configure_ && calls_);
    ASSERT_EQ(configure_("reset\ndevice 740,sn=5,latency=16\n"), 0);
    LinkState& s = link_state();
    ASSERT_TRUE(s.usb_library.load());
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(s.usb_library.fn().FT_Open(0, &handle), FT_OK);
    adopt_usb_device(s, handle, kPortIdUsbVariant2);
    calls(true);
  }
  void TearDown() override { close_link(link_state()); }

  // The stand-in's log of line and latency calls since the last clear.
  std::string calls(bool clear = false) {
    char buf[4096];
    calls_(buf, sizeof buf, clear ? 1 : 0);
    return buf;
  }

  std::unique_ptr<lyralink::platform::DynamicLibrary> hooks_;
  int (*configure_)(const char*) = nullptr;
  int (*calls_)(char*, int, int) = nullptr;
};

TEST_F(DirectUsb, ChargerOnStrobesDtrAroundRts) {
  LinkState& s = link_state();
  EXPECT_EQ(get_usb_charger(s), kNo);
  set_usb_charger(s, true);
  EXPECT_EQ(calls(true), "SetDtr 0\nSetRts 0\nClrDtr 0\n");
  // The analyser latched the switch: CTS off (charger on), DSR off (charging).
  EXPECT_EQ(get_usb_charger(s), kYes);
  EXPECT_EQ(get_usb_charger_state(s), kYes);

  set_usb_charger(s, false);
  EXPECT_EQ(calls(), "SetDtr 0\nClrRts 0\nClrDtr 0\n");
  EXPECT_EQ(get_usb_charger(s), kNo);
  EXPECT_EQ(get_usb_charger_state(s), kNo);
}

TEST_F(DirectUsb, LatencyTimerThroughTheLibrary) {
  LinkState& s = link_state();
  EXPECT_EQ(is_current_usb_port(s), kYes);
  uint32_t value = 0;
  ASSERT_EQ(get_current_latency_timer(s, value), kYes);
  EXPECT_EQ(value, 16u);
  EXPECT_EQ(set_current_latency_timer(s, 2), kYes);
  EXPECT_EQ(calls(true), "SetLatencyTimer 0 2\n");
  ASSERT_EQ(get_current_latency_timer(s, value), kYes);
  EXPECT_EQ(value, 2u);
  // Only the low 8 bits reach the bridge.
  EXPECT_EQ(set_current_latency_timer(s, 0x1234), kYes);
  EXPECT_EQ(calls(), "SetLatencyTimer 0 52\n");
}

TEST_F(DirectUsb, PortIdentifierDecidesWhetherItCountsAsTheBridge) {
  LinkState& s = link_state();
  s.port_id = kPortIdUsbOther;
  EXPECT_EQ(is_current_usb_port(s), kYes);
  s.port_id = 0x0103;
  EXPECT_EQ(is_current_usb_port(s), kNo);
  EXPECT_EQ(set_current_latency_timer(s, 2), kNo);
  uint32_t value = 99;
  EXPECT_EQ(get_current_latency_timer(s, value), kNo);
  EXPECT_EQ(value, 99u);
  EXPECT_EQ(calls(), "");
}

TEST_F(DirectUsb, FailingLibraryCallsReportNo) {
  LinkState& s = link_state();
  FT_HANDLE real = s.usb_handle;
  // A handle the library does not know: every call fails.
  static int not_a_device;
  s.usb_handle = &not_a_device;
  EXPECT_EQ(get_usb_charger(s), kNo);
  EXPECT_EQ(get_usb_charger_state(s), kNo);
  EXPECT_EQ(set_current_latency_timer(s, 2), kNo);
  uint32_t value = 99;
  EXPECT_EQ(get_current_latency_timer(s, value), kNo);
  EXPECT_EQ(value, 99u);
  set_usb_charger(s, true);  // failures of the line calls are not reported
  EXPECT_EQ(calls(), "");
  s.usb_handle = real;
}

}  // namespace
