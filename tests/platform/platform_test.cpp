// SPDX-License-Identifier: LGPL-2.1-or-later
// The operating-system layer's own rules: where port names live, strict
// address parsing, the UDP socket's re-creation, what counts as a port.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "platform/port_names.h"
#include "platform/pty.h"
#include "platform/serial_port.h"
#include "platform/udp_socket.h"
#include "tests/support/emulator.h"

namespace plat = lyralink::platform;

TEST(PortNames, DefaultTableBoundaries) {
  EXPECT_FALSE(plat::default_port_path(0));
  EXPECT_EQ(plat::default_port_path(1), "/dev/ttyS0");
  EXPECT_EQ(plat::default_port_path(32), "/dev/ttyS31");
  EXPECT_EQ(plat::default_port_path(33), "/dev/ttyUSB0");
  EXPECT_EQ(plat::default_port_path(64), "/dev/ttyUSB31");
  EXPECT_EQ(plat::default_port_path(65), "/dev/ttyACM0");
  EXPECT_EQ(plat::default_port_path(96), "/dev/ttyACM31");
  EXPECT_FALSE(plat::default_port_path(97));
}

TEST(PortNames, PortDirectoryListsTheOnlyPorts) {
  std::string dir = lyratest::make_temp_dir("ports");
  ::setenv("LYRALINK_PORT_DIR", dir.c_str(), 1);
  std::ofstream(dir + "/COM7").close();
  EXPECT_EQ(plat::resolve_serial_port("COM7"), dir + "/COM7");
  EXPECT_FALSE(plat::resolve_serial_port("COM1"));  // the default table does not apply
  EXPECT_FALSE(plat::resolve_serial_port("../COM7"));
  EXPECT_FALSE(plat::resolve_serial_port(".."));
  EXPECT_FALSE(plat::resolve_serial_port(""));
  EXPECT_EQ(plat::port_directory(), dir);
  ::unsetenv("LYRALINK_PORT_DIR");
}

TEST(PortNames, ARegularFileIsNoSerialPort) {
  std::string dir = lyratest::make_temp_dir("ports");
  std::ofstream(dir + "/COM7") << "not a tty";
  plat::SystemError error;
  EXPECT_FALSE(plat::SerialPort::open(dir + "/COM7", &error));
  EXPECT_NE(error.error_number, 0);
  EXPECT_NE(error.message().find(dir + "/COM7"), std::string::npos);
}

TEST(Addresses, DottedQuadsOnly) {
  uint32_t a = 0;
  ASSERT_TRUE(plat::parse_ipv4("192.168.0.10", a));
  EXPECT_EQ(a, 0xC0A8000Au);
  EXPECT_EQ(plat::format_ipv4(a), "192.168.0.10");
  ASSERT_TRUE(plat::parse_ipv4("192.168.000.010", a));  // decimal, not octal
  EXPECT_EQ(a, 0xC0A8000Au);
  for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4 ", "a.b.c.d", "1..2.3", "1.2.3.0004",
                          "-1.2.3.4"}) {
    EXPECT_FALSE(plat::parse_ipv4(bad, a)) << bad;
  }
}

TEST(UdpSocket, RecreateKeepsTheLocalPort) {
  auto s = plat::UdpSocket::create(0, "127.0.0.1");
  ASSERT_TRUE(s);
  uint16_t port = s->local_port();
  ASSERT_TRUE(s->recreate());
  EXPECT_EQ(s->local_port(), port);
  // Still usable: a datagram to itself arrives.
  ASSERT_TRUE(s->send_to("hi", 2, "127.0.0.1", port));
  ASSERT_TRUE(s->wait_readable(plat::deadline_after_ms(2000)));
  char buf[8];
  auto d = s->receive(buf, sizeof buf);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->size, 2u);
  EXPECT_EQ(d->port, port);
  EXPECT_FALSE(s->send_to("x", 1, "not-an-address", port));
}

TEST(UdpSocket, OversizedDatagramIsCutButReportsItsSize) {
  auto s = plat::UdpSocket::create(0, "127.0.0.1");
  ASSERT_TRUE(s);
  std::vector<uint8_t> big(3000, 0xAB);
  ASSERT_TRUE(s->send_to(big.data(), big.size(), "127.0.0.1", s->local_port()));
  ASSERT_TRUE(s->wait_readable(plat::deadline_after_ms(2000)));
  std::vector<uint8_t> buf(100 + 16, 0);
  auto d = s->receive(buf.data(), 100);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->size, 3000u);
  EXPECT_EQ(d->copied, 100u);
  EXPECT_EQ(buf[100], 0);  // nothing past the capacity
}

TEST(SerialPort, InputQueueCountsAndWaitsForBytes) {
  auto pty = plat::PtyDevice::create();
  ASSERT_TRUE(pty);
  auto port = plat::SerialPort::open(pty->terminal_path());
  ASSERT_TRUE(port);
  plat::SerialSettings st;
  ASSERT_TRUE(port->get_settings(st));
  st.binary = true;
  st.baud = 307200;
  ASSERT_TRUE(port->set_settings(st));
  EXPECT_EQ(port->current_baud(), 307200u);
  EXPECT_EQ(pty->line_baud(), 307200u);  // the device side sees the host's rate
  EXPECT_EQ(port->bytes_waiting(), 0u);
  pty->write("\x0d\x0a\x00\x11", 4);  // binary: no translation of CR, LF or NUL
  auto count = port->wait_for_input(4, plat::deadline_after_ms(2000));
  ASSERT_EQ(count, 4u);
  uint8_t buf[4];
  ASSERT_EQ(port->read(buf, 4), 4u);
  EXPECT_EQ(buf[0], 0x0d);
  EXPECT_EQ(buf[1], 0x0a);
  EXPECT_EQ(buf[2], 0x00);
  // A wait for more than arrives ends at the deadline with what is there.
  pty->write("ab", 2);
  EXPECT_EQ(port->wait_for_input(10, plat::deadline_after_ms(100)), 2u);
  // Modem lines of a pseudo-terminal read as off, without failing.
  auto lines = port->modem_status();
  ASSERT_TRUE(lines);
  EXPECT_FALSE(lines->cts);
}
