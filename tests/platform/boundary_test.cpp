// SPDX-License-Identifier: LGPL-2.1-or-later
// What crosses the platform boundary: errors as kinds (with the system's
// wording kept for messages), objects to wait on as Waitables, child
// processes and termination requests through project calls.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "platform/event_wait.h"
#include "platform/named_semaphore.h"
#include "platform/posix/posix_error.h"
#include "platform/process.h"
#include "platform/pty.h"
#include "platform/serial_port.h"
#include "platform/shared_memory.h"
#include "platform/udp_socket.h"
#include "tests/support/emulator.h"

namespace plat = lyralink::platform;
using plat::ErrorKind;

namespace {

std::string unique_name(const char* what) {
  return std::string("/lyratest-") + what + "-" + std::to_string(::getpid());
}

}  // namespace

// The errno values that callers decide on land on their kinds; the
// message keeps the system's wording.
TEST(SystemError, PosixErrorsBecomeTheKindsCallersDecideOn) {
  EXPECT_EQ(plat::posix::error_kind_of(0), ErrorKind::none);
  EXPECT_EQ(plat::posix::error_kind_of(ECONNREFUSED), ErrorKind::connection_refused);
  EXPECT_EQ(plat::posix::error_kind_of(EEXIST), ErrorKind::already_exists);
  EXPECT_EQ(plat::posix::error_kind_of(EACCES), ErrorKind::permission_denied);
  EXPECT_EQ(plat::posix::error_kind_of(EPERM), ErrorKind::permission_denied);
  EXPECT_EQ(plat::posix::error_kind_of(EBUSY), ErrorKind::busy);
  EXPECT_EQ(plat::posix::error_kind_of(EWOULDBLOCK), ErrorKind::would_block);
  EXPECT_EQ(plat::posix::error_kind_of(ENOENT), ErrorKind::not_found);
  EXPECT_EQ(plat::posix::error_kind_of(ENOSPC), ErrorKind::no_space);
  EXPECT_EQ(plat::posix::error_kind_of(EIO), ErrorKind::other);

  errno = ENOENT;
  plat::SystemError e = plat::last_system_error("open /nowhere");
  EXPECT_EQ(e.kind, ErrorKind::not_found);
  EXPECT_EQ(e.error_number, ENOENT);
  EXPECT_EQ(e.message(), "open /nowhere: No such file or directory");
  EXPECT_EQ(e.reason(), "No such file or directory");
  EXPECT_EQ(plat::SystemError{"copy a: not a regular file"}.message(), "copy a: not a regular file");
}

// What `lyractl discover` reports for each port rests on these kinds.
TEST(SystemError, PortOpenErrorsArriveAsKinds) {
  const std::string dir = lyratest::make_temp_dir("kinds");
  auto missing = plat::serial_port_open_error(dir + "/COM9");
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->kind, ErrorKind::not_found);

  std::ofstream(dir + "/COM7") << "not a tty";
  auto plain = plat::serial_port_open_error(dir + "/COM7");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->kind, ErrorKind::not_supported);
  EXPECT_EQ(plain->message(), "open " + dir + "/COM7: Inappropriate ioctl for device");

  auto pty = plat::PtyDevice::create();
  ASSERT_TRUE(pty);
  EXPECT_FALSE(plat::serial_port_open_error(pty->terminal_path()));  // free: it opens
  auto holder = plat::SerialPort::open(pty->terminal_path());
  ASSERT_TRUE(holder);
  auto held = plat::serial_port_open_error(pty->terminal_path());
  ASSERT_TRUE(held);
  // Another process's exclusive mode (busy) or its lock (would_block).
  EXPECT_TRUE(held->kind == ErrorKind::busy || held->kind == ErrorKind::would_block) << held->message();
}

TEST(SystemError, NamedObjectsReportExistingAndMissingNames) {
  const std::string memory = unique_name("memory");
  plat::SharedMemory::remove(memory);
  plat::SystemError error;
  EXPECT_FALSE(plat::SharedMemory::open(memory, &error));
  EXPECT_EQ(error.kind, ErrorKind::not_found);
  auto block = plat::SharedMemory::create(memory, 64, 0600, &error);
  ASSERT_TRUE(block) << error.message();
  EXPECT_FALSE(plat::SharedMemory::create(memory, 64, 0600, &error));
  EXPECT_EQ(error.kind, ErrorKind::already_exists);
  EXPECT_TRUE(plat::SharedMemory::remove(memory));

  const std::string semaphore = unique_name("semaphore");
  plat::NamedSemaphore::remove(semaphore);
  EXPECT_FALSE(plat::NamedSemaphore::open(semaphore, &error));
  EXPECT_EQ(error.kind, ErrorKind::not_found);
  auto sem = plat::NamedSemaphore::create(semaphore, 0600, &error);
  ASSERT_TRUE(sem) << error.message();
  EXPECT_FALSE(plat::NamedSemaphore::create(semaphore, 0600, &error));
  EXPECT_EQ(error.kind, ErrorKind::already_exists);
  EXPECT_TRUE(plat::NamedSemaphore::remove(semaphore));

  EXPECT_FALSE(plat::UdpSocket::create(0, "300.1.1.1", &error));
  EXPECT_EQ(error.kind, ErrorKind::invalid_argument);
}

// One wait over objects of different kinds tells which of them is ready.
TEST(EventWait, WaitablesOfSocketsAndTerminalsReportTheirIndex) {
  auto pty = plat::PtyDevice::create();
  ASSERT_TRUE(pty);
  auto socket = plat::UdpSocket::create(0, "127.0.0.1");
  ASSERT_TRUE(socket);
  auto port = plat::SerialPort::open(pty->terminal_path());
  ASSERT_TRUE(port);
  const std::vector<plat::Waitable> waits{pty->waitable(), socket->waitable()};
  EXPECT_TRUE(waits[0].valid());
  EXPECT_FALSE(plat::Waitable().valid());

  EXPECT_TRUE(plat::wait_readable(waits, plat::deadline_after_ms(20)).empty());  // nothing yet
  ASSERT_TRUE(socket->send_to("x", 1, "127.0.0.1", socket->local_port()));
  EXPECT_EQ(plat::wait_readable(waits, plat::deadline_after_ms(2000)), std::vector<size_t>{1});
  char buf[8];
  ASSERT_TRUE(socket->receive(buf, sizeof buf));
  ASSERT_EQ(port->write("ab", 2), 2u);
  EXPECT_EQ(plat::wait_readable(waits, plat::deadline_after_ms(2000)), std::vector<size_t>{0});
  EXPECT_EQ(pty->read(buf, sizeof buf), 2u);
}

// A termination request becomes readable, is taken once with its signal
// number, and is gone afterwards.
TEST(EventWait, TerminationRequestsAreTakenAsEvents) {
  auto requests = plat::TerminationRequests::take_over();
  ASSERT_TRUE(requests);
  EXPECT_FALSE(requests->take());
  ASSERT_EQ(::kill(::getpid(), SIGTERM), 0);  // blocked now: it waits instead of ending us
  EXPECT_EQ(plat::wait_readable({requests->waitable()}, plat::deadline_after_ms(2000)), std::vector<size_t>{0});
  EXPECT_EQ(requests->take(), SIGTERM);
  EXPECT_FALSE(requests->take());
}

TEST(ChildProcess, TerminateAsksAndKillEnds) {
  // The child ignores nothing: a request ends it with SIGTERM's status.
  auto polite = plat::ChildProcess::spawn({"sh", "-c", "echo up; exec sleep 30"});
  ASSERT_TRUE(polite);
  EXPECT_GT(polite->pid(), 0);
  ASSERT_EQ(polite->read_line(plat::deadline_after_ms(5000)), "up");
  polite->terminate();
  EXPECT_EQ(polite->wait(plat::deadline_after_ms(5000)), 128 + SIGTERM);

  // One that ignores the request still ends with kill().
  auto stubborn = plat::ChildProcess::spawn({"sh", "-c", "trap '' TERM; echo up; while :; do sleep 1; done"});
  ASSERT_TRUE(stubborn);
  ASSERT_EQ(stubborn->read_line(plat::deadline_after_ms(5000)), "up");
  stubborn->terminate();
  stubborn->kill();
  EXPECT_EQ(stubborn->wait(plat::deadline_after_ms(5000)), 128 + SIGKILL);
}
