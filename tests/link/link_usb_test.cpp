// SPDX-License-Identifier: LGPL-2.1-or-later
// The direct USB channel through the bridge library: binding the 21 entry
// points, and transactions against analysers hosted by the stand-in library.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "lyralink/link/link.h"
#include "lyralink/link/transaction.h"
#include "tests/support/emulator.h"

using namespace lyralink;
using namespace lyralink::link;

namespace {

using ConfigureFn = int (*)(const char*);

class UsbLink : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::setenv("LYRALINK_FTD2XX", lyratest::standin_bridge_path().c_str(), 1);
    // The same file the library loads: dlopen hands back the same instance.
    standin_ = dlopen(lyratest::standin_bridge_path().c_str(), RTLD_NOW);
    ASSERT_NE(standin_, nullptr);
    configure_ = reinterpret_cast<ConfigureFn>(dlsym(standin_, "lyrasim_usb_configure"));
    ASSERT_NE(configure_, nullptr);
    ASSERT_TRUE(link_state().usb_library.load());
  }
  void SetUp() override {
    record_ = lyratest::make_temp_dir("usb") + "/frames.log";
    ASSERT_EQ(configure_(("reset\ndevice 740,sn=515,com=7\ndevice 310,sn=99,wire=1\nrecord " + record_).c_str()),
              0);
  }
  void TearDown() override { close_link(link_state()); }

  FT_HANDLE open_device(int index, uint32_t baud = 38400) {
    const BridgeFunctions& fn = link_state().usb_library.fn();
    FT_HANDLE h = nullptr;
    EXPECT_EQ(fn.FT_Open(index, &h), FT_OK);
    EXPECT_EQ(fn.FT_SetBaudRate(h, baud), FT_OK);
    return h;
  }
  size_t frames() const { return lyratest::read_record(record_).size(); }

  static void* standin_;
  static ConfigureFn configure_;
  std::string record_;
};
void* UsbLink::standin_ = nullptr;
ConfigureFn UsbLink::configure_ = nullptr;

TEST(BridgeLibrary, AbsentOrIncompleteLibrariesCountAsAbsent) {
  const char* saved = std::getenv("LYRALINK_FTD2XX");
  std::string keep = saved != nullptr ? saved : "";
  ::setenv("LYRALINK_FTD2XX", "/nonexistent/libftd2xx.so", 1);
  BridgeLibrary missing;
  EXPECT_FALSE(missing.load());
  ::setenv("LYRALINK_FTD2XX", LYRATEST_PARTIAL_BRIDGE, 1);  // 20 of the 21 entry points
  BridgeLibrary partial;
  EXPECT_FALSE(partial.load());
  EXPECT_FALSE(partial.loaded());
  ::setenv("LYRALINK_FTD2XX", lyratest::standin_bridge_path().c_str(), 1);
  BridgeLibrary complete;
  EXPECT_TRUE(complete.load());
  EXPECT_NE(complete.fn().FT_GetBitMode, nullptr);
  complete.unload();
  EXPECT_FALSE(complete.loaded());
  if (saved != nullptr) ::setenv("LYRALINK_FTD2XX", keep.c_str(), 1);
}

TEST_F(UsbLink, ListsAndDescribesDevices) {
  const BridgeFunctions& fn = link_state().usb_library.fn();
  uint32_t count = 0;
  ASSERT_EQ(fn.FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
  EXPECT_EQ(count, 2u);
  char description[64] = {};
  ASSERT_EQ(fn.FT_ListDevices(reinterpret_cast<void*>(uintptr_t{0}), description,
                              FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION),
            FT_OK);
  EXPECT_STREQ(description, "MCA-740");
}

TEST_F(UsbLink, AdoptedDeviceRunsShortAndLongTransactions) {
  LinkState& s = link_state();
  adopt_usb_device(s, open_device(0), kPortIdUsbVariant2);
  set_timing(s, 850, 2);
  set_baud_rate(s, 38400);
  EXPECT_EQ(s.channel(), Channel::usb);
  EXPECT_STREQ(s.port_name, "USB");
  EXPECT_EQ(s.port_id, 0x0101);
  s.command.reset(0x0101);
  ASSERT_EQ(short_transaction(s), status::ok);
  EXPECT_EQ(get_u16(s.answer_data() + 44), 515);
  s.command.reset(66);
  ASSERT_EQ(short_transaction(s), status::ok);
  platform::sleep_ms(10);
  s.command.reset(263);
  std::vector<uint8_t> block(1440);
  EXPECT_EQ(long_transaction(s, block.data(), block.size()), status::ok);
  EXPECT_NE(get_u16(block.data()), 0);
  uint8_t record[12] = {12, 0};
  get_link_parameters(s, record);
  EXPECT_EQ(get_u16(record + 2), 0x0101);
  EXPECT_EQ(get_u16(record + 8), 7);  // the bridge's virtual serial port
  close_link(s);
  EXPECT_EQ(s.port_id, kPortIdNone);
  EXPECT_EQ(s.usb_handle, nullptr);
  // Closed through the library: it can be opened again.
  FT_HANDLE again = nullptr;
  EXPECT_EQ(s.usb_library.fn().FT_Open(0, &again), FT_OK);
  s.usb_library.fn().FT_Close(again);
}

TEST_F(UsbLink, FailuresAndRetries) {
  LinkState& s = link_state();
  adopt_usb_device(s, open_device(0), kPortIdUsbOther);
  set_timing(s, 850, 4);
  ASSERT_EQ(configure_("fault error=0xAAAE"), 0);
  s.command.reset(0x5A);
  EXPECT_EQ(short_transaction(s), 7);
  EXPECT_EQ(frames(), 1u);
  // A device error other than 7 is retried until the attempts are used up.
  std::ofstream(record_, std::ios::trunc).close();
  ASSERT_EQ(configure_("reset"), 0);
  ASSERT_EQ(configure_(("device 740,sn=515\nfault error=0xAAAA\nrecord " + record_).c_str()), 0);
  close_link(s);  // the old handle died with the reset
  adopt_usb_device(s, open_device(0), kPortIdUsbOther);
  EXPECT_EQ(short_transaction(s), 4);
  EXPECT_EQ(frames(), 4u);
  // A short answer that arrives incomplete fails only its own attempt.
  ASSERT_EQ(configure_("reset"), 0);
  ASSERT_EQ(configure_("device 740,sn=515\nfault length=-10,count=1"), 0);
  close_link(s);
  adopt_usb_device(s, open_device(0), kPortIdUsbOther);
  EXPECT_EQ(short_transaction(s), status::ok);
}

TEST_F(UsbLink, LongAnswerAtLineSpeedAndWrongLengths) {
  LinkState& s = link_state();
  adopt_usb_device(s, open_device(1, 115200), kPortIdUsbOther);
  set_timing(s, 850, 1);
  set_baud_rate(s, 115200);
  s.command.reset(0x5A);
  EXPECT_EQ(short_transaction(s), status::ok);
  EXPECT_EQ(get_u16(s.answer_data() + 86), 99);
  ASSERT_EQ(configure_("fault length=+6,count=1"), 0);
  EXPECT_EQ(short_transaction(s), status::no_valid_answer);
  EXPECT_EQ(short_transaction(s), status::ok);  // the surplus was read and dropped
}

TEST_F(UsbLink, AFailingQueueQueryEndsTheAttempt) {
  LinkState& s = link_state();
  adopt_usb_device(s, open_device(0), kPortIdUsbOther);
  set_timing(s, 850, 3);
  ASSERT_EQ(configure_("reset"), 0);  // the device is gone: every call on its handle fails
  s.command.reset(0x5A);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(short_transaction(s), status::no_valid_answer);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(850));
  std::vector<uint8_t> block(1440, 1);
  EXPECT_EQ(long_transaction(s, block.data(), block.size()), status::no_valid_answer);
  EXPECT_EQ(block, std::vector<uint8_t>(1440, 1));
  s.usb_handle = nullptr;  // nothing left to close
}

}  // namespace
