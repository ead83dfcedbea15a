// SPDX-License-Identifier: LGPL-2.1-or-later
// Bridge ports and their latency timer, found through fake sysfs trees, and
// the latency timer of an open bridge link on a real pseudo-terminal.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>

#include "lyralink/link/link.h"
#include "lyralink/link/transaction.h"
#include "lyralink/link/usb_serial.h"
#include "platform/bridge_ports.h"
#include "tests/usb/fake_sysfs.h"

using namespace lyralink::link;
using usbtest::FakeSysfs;
using usbtest::UsbTty;
namespace fs = std::filesystem;

namespace {

TEST(BridgeDetection, PortWhoseTtySitsOnTheBridge) {
  FakeSysfs sys;
  sys.add_usb_tty("ttyUSB0");
  sys.add_port("COM4", "/dev/ttyUSB0");
  EXPECT_TRUE(is_usb_port("COM4"));
  // Port names compare without regard to case.
  EXPECT_TRUE(is_usb_port("com4"));
  EXPECT_TRUE(is_usb_port("Com4"));
  EXPECT_EQ(bridge_tty("com4"), "ttyUSB0");
  EXPECT_FALSE(is_usb_port("COM5"));
  EXPECT_FALSE(is_usb_port(""));
  EXPECT_FALSE(is_usb_port("../COM4"));
}

TEST(BridgeDetection, LinksAreFollowedOneAtATime) {
  FakeSysfs sys;
  sys.add_usb_tty("ttyUSB1");
  sys.add_usb_tty("ttyUSB2");
  // COM7 -> by-id name -> ../../ttyUSB1, as udev names a bridge.
  fs::create_directories(sys.ports() + "/dev/serial/by-id");
  fs::create_symlink("../../ttyUSB1", sys.ports() + "/dev/serial/by-id/usb-LYRA_MCA-740-if00-port0");
  sys.add_port("COM7", sys.ports() + "/dev/serial/by-id/usb-LYRA_MCA-740-if00-port0");
  EXPECT_EQ(bridge_tty("COM7"), "ttyUSB1");
  // COM8 -> ttyUSB2 -> /dev/pts/0: the first name that is a tty counts,
  // wherever the chain ends.
  sys.add_port("ttyUSB2", "/dev/pts/0");
  sys.add_port("COM8", "ttyUSB2");
  EXPECT_EQ(bridge_tty("COM8"), "ttyUSB2");
}

TEST(BridgeDetection, OtherDevicesAreNoBridges) {
  FakeSysfs sys;
  sys.add_usb_tty("ttyUSB0", UsbTty{"0403", "6015"});
  sys.add_usb_tty("ttyUSB1", UsbTty{"067b", "6001"});
  UsbTty no_product;
  no_product.with_product = false;
  sys.add_usb_tty("ttyUSB2", no_product);
  sys.add_plain_tty("ttyS0");
  sys.add_port("COM1", "/dev/ttyUSB0");
  sys.add_port("COM2", "/dev/ttyUSB1");
  sys.add_port("COM3", "/dev/ttyUSB2");
  sys.add_port("COM4", "/dev/ttyS0");
  sys.add_port("COM5", "/dev/pts/3");  // no tty of that name in sysfs
  sys.add_port("COM6", "COM6");        // a link to itself
  for (const char* port : {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6"}) EXPECT_FALSE(is_usb_port(port)) << port;
  auto id = lyralink::platform::usb_device_of_tty("ttyUSB0");
  ASSERT_TRUE(id);
  EXPECT_EQ(id->vendor, 0x0403);
  EXPECT_EQ(id->product, 0x6015);
  EXPECT_FALSE(lyralink::platform::usb_device_of_tty("ttyS0"));
}

TEST(LatencyTimer, WrittenOnlyWhenItChanges) {
  FakeSysfs sys;
  sys.add_usb_tty("ttyUSB0");
  sys.add_port("COM4", "/dev/ttyUSB0");
  uint32_t value = 0;
  ASSERT_EQ(get_latency_timer("com4", value), kYes);
  EXPECT_EQ(value, 16u);

  EXPECT_EQ(set_latency_timer("com4", 2), kYes);
  EXPECT_EQ(sys.latency("ttyUSB0"), "2\n");
  ASSERT_EQ(get_latency_timer("COM4", value), kYes);
  EXPECT_EQ(value, 2u);

  sys.age_latency("ttyUSB0");
  const long before = sys.latency_mtime("ttyUSB0");
  EXPECT_EQ(set_latency_timer("COM4", 2), kNo);
  EXPECT_EQ(sys.latency_mtime("ttyUSB0"), before);
  EXPECT_EQ(sys.latency("ttyUSB0"), "2\n");
}

TEST(LatencyTimer, MissingAttributeIsNeverCreated) {
  FakeSysfs sys;
  UsbTty no_latency;
  no_latency.latency.reset();
  sys.add_usb_tty("ttyUSB0", no_latency);
  sys.add_port("COM4", "/dev/ttyUSB0");
  ASSERT_TRUE(is_usb_port("COM4"));
  uint32_t value = 77;
  EXPECT_EQ(get_latency_timer("COM4", value), kNo);
  EXPECT_EQ(value, 77u);
  EXPECT_EQ(set_latency_timer("COM4", 2), kNo);
  EXPECT_FALSE(fs::exists(sys.latency_path("ttyUSB0")));
}

// A bridge whose tty is an emulated analyser's pseudo-terminal: COM4 ->
// ttyUSB0 -> /dev/pts/N, with ttyUSB0 a bridge tty in the fake sysfs.
class BridgeSerialLink : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_ = lyratest::Emulator::start({"--serial", "COM4=740", "--serial", "COM3=740"});
    ASSERT_TRUE(sim_);
    sys_ = std::make_unique<FakeSysfs>();
    sys_->add_usb_tty("ttyUSB0");
    sys_->add_port("ttyUSB0", fs::read_symlink(sim_->port_dir() + "/COM4").string());
    sys_->add_port("COM4", "ttyUSB0");
    sys_->add_port("COM3", fs::read_symlink(sim_->port_dir() + "/COM3").string());
  }
  void TearDown() override { close_link(link_state()); }

  std::unique_ptr<lyratest::Emulator> sim_;
  std::unique_ptr<FakeSysfs> sys_;
};

TEST_F(BridgeSerialLink, LatencySetWithThePortClosedAndTheLinkReopened) {
  LinkState& s = link_state();
  ASSERT_NE(open_port(s, "COM4", 1200, 2, 38400, 0), 0);
  EXPECT_EQ(is_current_usb_port(s), kYes);
  uint32_t value = 0;
  ASSERT_EQ(get_current_latency_timer(s, value), kYes);
  EXPECT_EQ(value, 16u);

  EXPECT_EQ(set_current_latency_timer(s, 2), kYes);
  EXPECT_EQ(sys_->latency("ttyUSB0"), "2\n");
  // Open again, with what it was opened with.
  ASSERT_EQ(s.channel(), Channel::serial);
  EXPECT_EQ(s.port_id, 4);
  EXPECT_STREQ(s.port_name, "COM4");
  EXPECT_EQ(s.answer_timeout, 1200u);
  EXPECT_EQ(s.retry_count, 2u);
  EXPECT_EQ(s.baud_rate, 38400u);
  sim_->clear_record();
  s.command.reset(90);
  EXPECT_EQ(short_transaction(s), status::ok);
  auto frames = sim_->frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].baud, 38400u);

  // The same value again: nothing written, but the link is back as well.
  EXPECT_EQ(set_current_latency_timer(s, 2), kNo);
  EXPECT_EQ(s.channel(), Channel::serial);
  ASSERT_EQ(get_current_latency_timer(s, value), kYes);
  EXPECT_EQ(value, 2u);
}

TEST_F(BridgeSerialLink, OtherSerialPortUntouched) {
  LinkState& s = link_state();
  ASSERT_NE(open_port(s, "COM3", 1000, 1, 38400, 0), 0);
  // An answer waiting in the port's input queue shows that the port was
  // never closed in between.
  CommandFrame query(90);
  s.serial_port->write(query.data(), kCommandFrameSize);
  ASSERT_EQ(s.serial_port->wait_for_input(kShortFrameSize, lyralink::platform::deadline_after_ms(5000)),
            kShortFrameSize);
  EXPECT_EQ(is_current_usb_port(s), kNo);
  EXPECT_EQ(set_current_latency_timer(s, 2), kNo);
  uint32_t value = 99;
  EXPECT_EQ(get_current_latency_timer(s, value), kNo);
  EXPECT_EQ(value, 99u);
  ASSERT_EQ(s.channel(), Channel::serial);
  EXPECT_EQ(s.serial_port->bytes_waiting(), kShortFrameSize);
  EXPECT_EQ(sys_->latency("ttyUSB0"), "16\n");
}

}  // namespace
