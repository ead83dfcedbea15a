// SPDX-License-Identifier: LGPL-2.1-or-later
// The Win32 serial port, machine lock and bridge registry backends, run
// under Wine. serial_port_wine.sh starts lyrasim natively and links its
// pseudo-terminals into the prefix:
//   LYRATEST_COM          an MCA-740 that answers at any rate
//   LYRATEST_COM_307200   an MCA-740 that answers only at 307200 baud
//   LYRATEST_NOT_A_PORT   a COM name linked to a regular file
//   LYRATEST_COM_SET_NATIVELY  an MCA-740 whose terminal the native lyractl
//                         used last (it sets rates through termios2)
// and seeds the bridge driver's keys (see BridgeRegistry below).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "lyralink/link/frames.h"
#include "platform/bridge_ports.h"
#include "platform/event_wait.h"
#include "platform/machine_lock.h"
#include "platform/serial_port.h"
#include "platform/udp_socket.h"

namespace plat = lyralink::platform;
using lyralink::link::CommandFrame;
using plat::ErrorKind;

namespace {

std::string port_path(const char* variable) {
  const char* name = std::getenv(variable);
  return name == nullptr ? std::string() : std::string("\\\\.\\") + name;
}

plat::SerialSettings line_at(plat::SerialPort& port, uint32_t baud) {
  plat::SerialSettings s;
  EXPECT_TRUE(port.get_settings(s));
  s.baud = baud;
  s.data_bits = 8;
  s.parity = plat::Parity::none;
  s.stop_bits = plat::StopBits::one;
  s.cts_output_flow = s.dsr_output_flow = s.xon_xoff_input = s.xon_xoff_output = false;
  return s;
}

// Sends the 740 state query and waits for its 136-byte answer frame.
std::optional<size_t> query_state740(plat::SerialPort& port, uint8_t* answer) {
  CommandFrame frame(257);
  if (port.write(frame.data(), lyralink::link::kCommandFrameSize) != lyralink::link::kCommandFrameSize) return 0;
  auto queued = port.wait_for_input(lyralink::link::kShortFrameSize, plat::deadline_after_ms(5000));
  if (!queued || *queued < lyralink::link::kShortFrameSize) return queued;
  EXPECT_EQ(port.read(answer, lyralink::link::kShortFrameSize), lyralink::link::kShortFrameSize);
  EXPECT_EQ(lyralink::link::check_short_answer(answer, frame), lyralink::link::status::ok);
  return queued;
}

class WineSerialPort : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = port_path("LYRATEST_COM");
    if (path_.empty()) GTEST_SKIP() << "LYRATEST_COM names no port (run through serial_port_wine.sh)";
  }
  std::string path_;
};

TEST_F(WineSerialPort, AnswersArriveThroughTheInputQueue) {
  plat::SystemError error;
  auto port = plat::SerialPort::open(path_, &error);
  ASSERT_TRUE(port) << error.message();
  ASSERT_TRUE(port->set_queue_sizes(4096, 4096));
  ASSERT_TRUE(port->set_settings(line_at(*port, 115200)));
  EXPECT_EQ(port->current_baud(), 115200u);
  EXPECT_EQ(port->bytes_waiting(), 0u);
  // Nothing was asked: the wait ends at its deadline with nothing queued.
  const auto deadline = plat::deadline_after_ms(50);
  EXPECT_EQ(port->wait_for_input(1, deadline), 0u);
  EXPECT_GE(plat::Clock::now(), deadline);

  uint8_t answer[lyralink::link::kShortFrameSize];
  for (int round = 0; round < 3; ++round) {
    auto queued = query_state740(*port, answer);
    ASSERT_TRUE(queued);
    EXPECT_EQ(*queued, lyralink::link::kShortFrameSize);
    EXPECT_EQ(answer[4], 0x04);  // firmware 13.04, low byte first after sync and code
  }
  EXPECT_EQ(port->bytes_waiting(), 0u);
  EXPECT_EQ(port->read(answer, sizeof answer), 0u);
}

TEST_F(WineSerialPort, AQueueSmallerThanTheAnswerFillsAndEndsTheWait) {
  auto port = plat::SerialPort::open(path_);
  ASSERT_TRUE(port);
  ASSERT_TRUE(port->set_settings(line_at(*port, 38400)));
  ASSERT_TRUE(port->set_queue_sizes(100, 100));
  CommandFrame frame(257);
  ASSERT_EQ(port->write(frame.data(), 12), 12u);
  // A wait for more than the queue holds ends once the queue is full.
  EXPECT_EQ(port->wait_for_input(136, plat::deadline_after_ms(5000)), 100u);
  uint8_t answer[136];
  EXPECT_EQ(port->read(answer, 100), 100u);
  EXPECT_EQ(port->wait_for_input(36, plat::deadline_after_ms(5000)), 36u);
  EXPECT_EQ(port->read(answer + 100, 36), 36u);
  EXPECT_EQ(lyralink::link::check_short_answer(answer, frame), lyralink::link::status::ok);
}

TEST_F(WineSerialPort, SettingsReadBackAsWritten) {
  auto port = plat::SerialPort::open(path_);
  ASSERT_TRUE(port);
  plat::SerialSettings s = line_at(*port, 3000000);
  ASSERT_TRUE(port->set_settings(s));
  plat::SerialSettings back;
  ASSERT_TRUE(port->get_settings(back));
  EXPECT_EQ(back.baud, 3000000u);
  EXPECT_EQ(back.data_bits, 8);
  EXPECT_EQ(back.parity, plat::Parity::none);
  EXPECT_EQ(back.stop_bits, plat::StopBits::one);
  EXPECT_TRUE(back.binary);
  EXPECT_FALSE(back.cts_output_flow);
  EXPECT_FALSE(back.xon_xoff_output);
  EXPECT_FALSE(back.xon_xoff_input);
  uint8_t answer[136];
  EXPECT_EQ(query_state740(*port, answer), 136u) << "no answer at 3000000 baud";
}

// A pseudo-terminal has no modem lines: Wine refuses every modem-line call
// on it with error 50. The port opens, takes its settings with DTR and RTS
// enabled or disabled, and reports all lines off, as on Linux.
TEST_F(WineSerialPort, RefusedModemLinesCountAsOff) {
  auto port = plat::SerialPort::open(path_);
  ASSERT_TRUE(port);
  plat::SerialSettings s = line_at(*port, 38400);
  s.dtr_control = plat::LineControl::disabled;
  s.rts_control = plat::LineControl::enabled;
  EXPECT_TRUE(port->set_settings(s));
  auto lines = port->modem_status();
  ASSERT_TRUE(lines);
  EXPECT_FALSE(lines->cts || lines->dsr || lines->ring || lines->dcd);
}

TEST_F(WineSerialPort, ASecondOpenIsRefused) {
  auto first = plat::SerialPort::open(path_);
  ASSERT_TRUE(first);
  plat::SystemError error;
  auto second = plat::SerialPort::open(path_, &error);
  if (second) {
    GTEST_SKIP() << "Wine: share mode 0 does not stop a second open of a COM port (Windows refuses it with "
                    "ERROR_ACCESS_DENIED)";
  }
  EXPECT_TRUE(error.kind == ErrorKind::permission_denied || error.kind == ErrorKind::busy) << error.message();
  EXPECT_EQ(plat::serial_port_open_error(path_).has_value(), true);
  first.reset();
  EXPECT_FALSE(plat::serial_port_open_error(path_).has_value());
}

TEST_F(WineSerialPort, ThePortOpensAgainAfterClose) {
  for (int i = 0; i < 3; ++i) {
    plat::SystemError error;
    auto port = plat::SerialPort::open(path_, &error);
    ASSERT_TRUE(port) << "open " << i << ": " << error.message();
  }
  EXPECT_FALSE(plat::serial_port_open_error(path_).has_value());
}

TEST(WineSerialPortErrors, MissingPortsAndOtherFilesAreTold) {
  plat::SystemError error;
  EXPECT_FALSE(plat::SerialPort::open("\\\\.\\COM231", &error));
  EXPECT_EQ(error.kind, ErrorKind::not_found) << error.message();
  auto missing = plat::serial_port_open_error("\\\\.\\COM231");
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->kind, ErrorKind::not_found);

  const std::string file = port_path("LYRATEST_NOT_A_PORT");
  if (file.empty()) GTEST_SKIP() << "LYRATEST_NOT_A_PORT names no port (run through serial_port_wine.sh)";
  EXPECT_FALSE(plat::SerialPort::open(file, &error));
  EXPECT_EQ(error.kind, ErrorKind::not_supported) << error.message();
  auto not_a_port = plat::serial_port_open_error(file);
  ASSERT_TRUE(not_a_port);
  EXPECT_EQ(not_a_port->kind, ErrorKind::not_supported);
}

// A Linux program that set the terminal's rate through termios2 leaves a
// line state that Wine's GetCommState cannot read (ERROR_INVALID_PARAMETER
// for the rate it finds). The port is still a port: it opens, and once
// its settings are written whole it reads back and answers.
TEST(WineSerialPortAfterLinux, ALineStateWineCannotReadIsWrittenAnew) {
  const std::string path = port_path("LYRATEST_COM_SET_NATIVELY");
  if (path.empty()) GTEST_SKIP() << "LYRATEST_COM_SET_NATIVELY names no port (run through serial_port_wine.sh)";
  plat::SystemError error;
  auto port = plat::SerialPort::open(path, &error);
  ASSERT_TRUE(port) << error.message();
  // Wine cannot read the settings now; whatever it reads is replaced.
  plat::SerialSettings s;
  (void)port->get_settings(s);
  s.baud = 38400;
  s.data_bits = 8;
  s.parity = plat::Parity::none;
  s.stop_bits = plat::StopBits::one;
  ASSERT_TRUE(port->set_settings(s));
  EXPECT_EQ(port->current_baud(), 38400u);
  uint8_t answer[136];
  EXPECT_EQ(query_state740(*port, answer), 136u);
}

// lyrasim answers on this port only at 307200 baud. Wine sets that rate on
// a pseudo-terminal as 38400 (it knows only the classic rates and
// 460800 and up), so the query goes unanswered there.
TEST(WineSerialRates, Rate307200) {
  const std::string path = port_path("LYRATEST_COM_307200");
  if (path.empty()) GTEST_SKIP() << "LYRATEST_COM_307200 names no port (run through serial_port_wine.sh)";
  auto port = plat::SerialPort::open(path);
  ASSERT_TRUE(port);
  ASSERT_TRUE(port->set_settings(line_at(*port, 307200)));
  if (port->current_baud() == 38400u) {
    GTEST_SKIP() << "Wine: a rate of 307200 is set as 38400 (Windows keeps 307200)";
  }
  EXPECT_EQ(port->current_baud(), 307200u);
  uint8_t answer[136];
  EXPECT_EQ(query_state740(*port, answer), 136u);
}

// A holder that ends without releasing the lock leaves an abandoned mutex,
// which the next lock() takes as its own, as the kernel hands over a dead
// holder's flock on Linux. Taken as its own means released by unlock():
// a lock() that took the mutex without counting it held would leave it
// owned by this thread for ever, and the last thread below would never get
// it (the test would hang until ctest's time limit).
TEST(WineMachineLock, AnAbandonedLockIsTakenAndReleased) {
  auto held = plat::MachineLock::open("lyratest-abandoned");
  ASSERT_TRUE(held);
  std::thread holder([&] { held->lock(); });  // the thread ends holding it
  holder.join();
  auto lock = plat::MachineLock::open("lyratest-abandoned");
  ASSERT_TRUE(lock);
  lock->lock();
  lock->unlock();
  std::atomic<bool> taken{false};
  std::thread other([&] {
    auto again = plat::MachineLock::open("lyratest-abandoned");
    again->lock();
    taken = true;
    again->unlock();
  });
  other.join();
  EXPECT_TRUE(taken);
  EXPECT_EQ(plat::MachineLock::path_for("COMM_SYNCHRONISATION"), "COMM_SYNCHRONISATION");
}

// One wait over sockets alone sleeps in WSAPoll; a wait that mixes a
// socket with an event handle (the termination requests) finds the socket
// between short waits on the handle. Either way the index of what is ready
// comes back, and nothing before the deadline when nothing is.
TEST(WineEventWait, SocketsAloneAndMixedWithAnEventReportTheirIndex) {
  plat::SystemError error;
  auto socket = plat::UdpSocket::create(0, "127.0.0.1", &error);
  if (!socket && error.kind == ErrorKind::not_supported) {
    GTEST_SKIP() << "no UDP socket in this build: " << error.message();
  }
  ASSERT_TRUE(socket) << error.message();
  auto requests = plat::TerminationRequests::take_over();
  ASSERT_TRUE(requests);
  const std::vector<plat::Waitable> alone{socket->waitable()};
  const std::vector<plat::Waitable> mixed{requests->waitable(), socket->waitable()};
  char buf[8];

  auto deadline = plat::deadline_after_ms(30);
  EXPECT_TRUE(plat::wait_readable(alone, deadline).empty());
  EXPECT_GE(plat::Clock::now(), deadline);
  deadline = plat::deadline_after_ms(30);
  EXPECT_TRUE(plat::wait_readable(mixed, deadline).empty());
  EXPECT_GE(plat::Clock::now(), deadline);

  ASSERT_TRUE(socket->send_to("x", 1, "127.0.0.1", socket->local_port()));
  EXPECT_EQ(plat::wait_readable(alone, plat::deadline_after_ms(5000)), std::vector<size_t>{0});
  EXPECT_EQ(plat::wait_readable(mixed, std::nullopt), std::vector<size_t>{1});
  ASSERT_TRUE(socket->receive(buf, sizeof buf));
  EXPECT_TRUE(plat::wait_readable(mixed, plat::deadline_after_ms(20)).empty());
}

// serial_port_wine.sh writes, under HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS:
//   VID_0403+PID_6001+LY00012A\0000\Device Parameters  PortName=COM4, LatencyTimer=16
//   VID_0403+PID_6001+LY00013A\0000\Device Parameters  PortName=COM5 (no LatencyTimer)
//   VID_0403+PID_6010+LY00014A\0000\Device Parameters  PortName=COM6, LatencyTimer=16
TEST(WineBridgeRegistry, BridgePortsAndTheirLatencyTimers) {
  if (std::getenv("LYRATEST_BRIDGE_KEYS") == nullptr) {
    GTEST_SKIP() << "LYRATEST_BRIDGE_KEYS unset: the keys are not seeded (run through serial_port_wine.sh)";
  }
  auto com4 = plat::tty_of_port_entry(*plat::find_port_entry("com4"));  // case ignored
  ASSERT_TRUE(com4);
  EXPECT_EQ(*com4, "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+LY00012A\\0000\\Device Parameters");
  auto id = plat::usb_device_of_tty(*com4);
  ASSERT_TRUE(id);
  EXPECT_EQ(id->vendor, 0x0403);
  EXPECT_EQ(id->product, 0x6001);
  EXPECT_EQ(plat::read_latency_timer(*com4), 16u);
  ASSERT_TRUE(plat::write_latency_timer(*com4, 2));
  EXPECT_EQ(plat::read_latency_timer(*com4), 2u);

  auto com5 = plat::tty_of_port_entry("COM5");
  ASSERT_TRUE(com5);
  EXPECT_FALSE(plat::read_latency_timer(*com5));
  ASSERT_TRUE(plat::write_latency_timer(*com5, 8));  // created
  EXPECT_EQ(plat::read_latency_timer(*com5), 8u);

  auto com6 = plat::tty_of_port_entry("COM6");
  ASSERT_TRUE(com6);
  auto other = plat::usb_device_of_tty(*com6);
  ASSERT_TRUE(other);
  EXPECT_EQ(other->product, 0x6010);

  EXPECT_FALSE(plat::tty_of_port_entry("COM7"));
  EXPECT_FALSE(plat::find_port_entry("..\\COM4"));
  EXPECT_FALSE(plat::usb_device_of_tty("SOFTWARE\\Other"));
  EXPECT_FALSE(plat::write_latency_timer("SOFTWARE\\Other", 2));
}

}  // namespace
