// SPDX-License-Identifier: LGPL-2.1-or-later
// Two processes on two ports share the machine-wide transaction lock: their
// exchanges never interleave. The emulator holds every answer for 20 ms and
// records when each frame arrives, so an exchange of one process that
// started inside another's shows as two frames less than 20 ms apart.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/machine_lock.h"
#include "platform/process.h"
#include "tests/support/emulator.h"

namespace plat = lyralink::platform;

namespace {

constexpr int kTransactions = 15;
constexpr int64_t kHoldUs = 20000;

// Runs both clients and returns the smallest gap between a frame of one
// port and the next frame of the other.
int64_t smallest_cross_gap(lyratest::Emulator& sim, const char* lock) {
  sim.clear_record();
  std::map<std::string, std::string> env{{"LYRALINK_PORT_DIR", sim.port_dir()}};
  auto a = plat::ChildProcess::spawn({LYRATEST_LOCK_CLIENT, "COM3", std::to_string(kTransactions), lock}, env);
  auto b = plat::ChildProcess::spawn({LYRATEST_LOCK_CLIENT, "COM4", std::to_string(kTransactions), lock}, env);
  EXPECT_TRUE(a && b);
  if (!a || !b) return -1;
  auto deadline = plat::deadline_after_ms(10000);
  EXPECT_EQ(a->read_line(deadline), "open");
  EXPECT_EQ(b->read_line(deadline), "open");
  a->write("go\n");
  b->write("go\n");
  EXPECT_EQ(a->read_line(deadline), "done 0");
  EXPECT_EQ(b->read_line(deadline), "done 0");
  auto frames = sim.frames();
  EXPECT_EQ(frames.size(), 2u * kTransactions);
  std::sort(frames.begin(), frames.end(), [](auto& x, auto& y) { return x.us < y.us; });
  int64_t smallest = INT64_MAX;
  for (size_t i = 1; i < frames.size(); ++i) {
    if (frames[i].endpoint != frames[i - 1].endpoint) smallest = std::min(smallest, frames[i].us - frames[i - 1].us);
  }
  return smallest;
}

TEST(TransactionLock, ExchangesOfTwoProcessesNeverInterleave) {
  auto sim = lyratest::Emulator::start({"--serial", "COM3=740", "--serial", "COM4=740", "--fault", "delay=20"});
  ASSERT_TRUE(sim);
  int64_t locked = smallest_cross_gap(*sim, "1");
  EXPECT_GE(locked, kHoldUs - 1000) << "an exchange started while the other process held the lock";
  // Without the lock the same clients do overlap: the check above can fail.
  int64_t unlocked = smallest_cross_gap(*sim, "0");
  EXPECT_LT(unlocked, kHoldUs - 1000);
}

TEST(TransactionLock, ADeadHolderReleasesTheLock) {
  auto lock = plat::MachineLock::open("lyratest-dead-holder");
  ASSERT_TRUE(lock);
  // A child takes the lock and is killed while holding it.
  auto holder = plat::ChildProcess::spawn(
      {"sh", "-c", "exec 9>" + plat::MachineLock::path_for("lyratest-dead-holder") + "; flock 9; echo held; exec sleep 30"});
  ASSERT_TRUE(holder);
  ASSERT_EQ(holder->read_line(plat::deadline_after_ms(5000)), "held");
  holder->kill();
  holder->wait(plat::deadline_after_ms(5000));
  lock->lock();  // would block for ever if the kernel kept it
  lock->unlock();
  SUCCEED();
}

}  // namespace
