// SPDX-License-Identifier: LGPL-2.1-or-later
// The Multiplex client against server stand-ins whose layout and behaviour
// each test controls. Port numbers 901-919 belong to this file.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <numeric>
#include <thread>

#include "lyralink/link/multiplex_client.h"
#include "platform/process.h"
#include "tests/multiplex/multiplex_support.h"

using lyralink::get_u32;
using lyralink::put_u32;
using lyralink::link::multiplex_time_limit;
using lyralink::link::MultiplexClient;
using lyralink::link::parse_multiplex_name;
using lyralink::platform::SharedMutex;
using mplxtest::FakeServer;
using mplxtest::Layout;
namespace mx = lyralink::link::multiplex;

namespace {

bool mutex_free(FakeServer& server) {
  auto l = server.mutex->lock_for(0);
  if (l != SharedMutex::Lock::taken) return false;
  server.mutex->unlock();
  return true;
}

std::array<uint8_t, 136> numbered_frame(uint8_t first) {
  std::array<uint8_t, 136> f{};
  std::iota(f.begin(), f.end(), first);
  return f;
}

// The server's side of one answer: data and length into the slot, then the
// answer event. bytes holds min(length, 256) bytes.
void answer(FakeServer& server, uint32_t client, const uint8_t* bytes, uint32_t length) {
  server.mutex->lock();
  if (bytes != nullptr) std::memcpy(server.slot(client) + mx::kDataOffset, bytes, std::min<uint32_t>(length, 256));
  put_u32(server.slot(client) + mx::kAnswerLengthOffset, length);
  server.mutex->unlock();
  server.answers[client - 1]->post();
}

TEST(MultiplexName, AcceptsPortAndClientNumber) {
  auto shortest = parse_multiplex_name("MPLX3#1");
  ASSERT_TRUE(shortest);
  EXPECT_EQ(shortest->port, 3u);
  EXPECT_EQ(shortest->client, 1u);
  auto longer = parse_multiplex_name("MPLX912#3");
  ASSERT_TRUE(longer);
  EXPECT_EQ(longer->port, 912u);
  EXPECT_EQ(longer->client, 3u);
}

TEST(MultiplexName, RefusesEveryOtherForm) {
  for (const char* name : {"MPLX3#4", "MPLX0#1", "MPLX3#1x", "MPLX3", "MPLX#1", "MPLX3#0", "MPLX3#", "MPLX3##1",
                           "MPLX3 #1", "MPLX+3#1", "MPLX3#+1", "MPLX3#1 ", "mplx3#1", "COM3", "com3", "",
                           "MPLX99999999999#1", "MPLX3#11"}) {
    EXPECT_FALSE(parse_multiplex_name(name)) << name;
  }
}

TEST(MultiplexTimeLimit, OneAnswerTimeoutPer136ExpectedBytes) {
  EXPECT_EQ(multiplex_time_limit(136, 1000), 1000u);
  EXPECT_EQ(multiplex_time_limit(137, 1000), 2000u);
  EXPECT_EQ(multiplex_time_limit(1440 + 14, 850), 11u * 850u);
  // A huge answer timeout saturates instead of wrapping to a short limit.
  EXPECT_EQ(multiplex_time_limit(1454, 0xFFFFFFFFu), 0xFFFFFFFFu);
}

TEST(MultiplexAttach, RefusedNamesTouchNoObject) {
  FakeServer server(901);
  ASSERT_TRUE(server.ready());
  MultiplexClient client;
  for (const char* name : {"MPLX901#4", "MPLX901#0", "MPLX901#1x", "MPLX901", "mplx901#1"}) {
    EXPECT_FALSE(client.attach(name)) << name;
  }
  for (uint32_t c = 1; c <= 3; ++c) EXPECT_EQ(server.field(c, mx::kInUseOffset), 0u);
  EXPECT_TRUE(mutex_free(server));
}

TEST(MultiplexAttach, NoServerNoAttach) {
  mplxtest::NameGuard guard(902);
  MultiplexClient client;
  EXPECT_FALSE(client.attach("MPLX902#1"));
  EXPECT_FALSE(client.attached());
}

TEST(MultiplexAttach, SameClientNumberRefusedUntilTheFirstDetaches) {
  FakeServer server(904);
  ASSERT_TRUE(server.ready());
  MultiplexClient first, second, other;
  ASSERT_TRUE(first.attach("MPLX904#1"));
  EXPECT_FALSE(second.attach("MPLX904#1"));
  EXPECT_TRUE(other.attach("MPLX904#3"));
  EXPECT_EQ(server.field(1, mx::kInUseOffset), 1u);
  EXPECT_EQ(server.field(2, mx::kInUseOffset), 0u);
  EXPECT_EQ(server.field(3, mx::kInUseOffset), 1u);
  EXPECT_TRUE(mutex_free(server));  // not held while attached
  first.detach();
  EXPECT_EQ(server.field(1, mx::kInUseOffset), 0u);
  EXPECT_TRUE(second.attach("MPLX904#1"));
}

TEST(MultiplexAttach, BlockOfAnotherLayoutRefused) {
  const Layout two_slots{2, 256, mx::kBlockSize, true};
  const Layout small_slots{3, 128, mx::kBlockSize, true};
  // A header that promises three 256-byte slots on an object too short for
  // them: reading the slots would run off the mapping.
  const Layout short_block{3, 256, 64, true};
  const Layout no_events{3, 256, mx::kBlockSize, false};
  uint32_t port = 905;
  for (const Layout& layout : {two_slots, small_slots, short_block, no_events}) {
    SCOPED_TRACE(port);
    FakeServer server(port, layout);
    ASSERT_TRUE(server.ready());
    MultiplexClient client;
    EXPECT_FALSE(client.attach("MPLX" + std::to_string(port) + "#1"));
    EXPECT_TRUE(mutex_free(server));  // released on the way out
    if (layout.block_size >= mx::kBlockSize) {
      EXPECT_EQ(server.field(1, mx::kInUseOffset), 0u);
    }
    ++port;
  }
}

TEST(MultiplexAttach, BusyServerRefusedAfterTheWait) {
  FakeServer server(911);
  ASSERT_TRUE(server.ready());
  ASSERT_EQ(server.mutex->lock(), SharedMutex::Lock::taken);
  MultiplexClient client;
  EXPECT_FALSE(client.attach("MPLX911#1"));
  server.mutex->unlock();
  EXPECT_EQ(server.field(1, mx::kInUseOffset), 0u);
  EXPECT_TRUE(client.attach("MPLX911#1"));
}

TEST(MultiplexAttach, MutexAbandonedByADeadClientIsTakenOver) {
  FakeServer server(912);
  ASSERT_TRUE(server.ready());
  auto holder = lyralink::platform::ChildProcess::spawn({MPLX_TEST_CLIENT, "hold-mutex", "912"});
  ASSERT_TRUE(holder);
  auto line = holder->read_line(lyralink::platform::deadline_after_ms(10000));
  ASSERT_TRUE(line);
  ASSERT_EQ(*line, "holding");
  ASSERT_TRUE(holder->wait(lyralink::platform::deadline_after_ms(10000)));
  MultiplexClient client;
  EXPECT_TRUE(client.attach("MPLX912#3"));
  EXPECT_EQ(server.field(3, mx::kInUseOffset), 1u);
}

TEST(MultiplexExchange, RequestStoredWithLengthsCappedToTheSlot) {
  FakeServer server(913);
  ASSERT_TRUE(server.ready());
  MultiplexClient client;
  ASSERT_TRUE(client.attach("MPLX913#2"));
  std::array<uint8_t, 300> request{};
  std::iota(request.begin(), request.end(), uint8_t{1});
  client.send_request(request.data(), request.size(), 1440 + 14, 11000);

  EXPECT_TRUE(server.requests[1]->try_wait());
  EXPECT_EQ(server.field(2, mx::kRequestLengthOffset), 256u);
  EXPECT_EQ(server.field(2, mx::kExpectedLengthOffset), 256u);
  EXPECT_EQ(server.field(2, mx::kTimeLimitOffset), 11000u);
  EXPECT_EQ(std::memcmp(server.slot(2) + mx::kDataOffset, request.data(), 256), 0);
  // The next slot begins right after the data: nothing spilled into it.
  EXPECT_EQ(server.field(3, mx::kInUseOffset), 0u);
  EXPECT_EQ(server.field(3, mx::kTimeLimitOffset), 0u);
}

TEST(MultiplexExchange, AnswerLengthBeyondTheSlotRefused) {
  FakeServer server(915);
  ASSERT_TRUE(server.ready());
  MultiplexClient client;
  ASSERT_TRUE(client.attach("MPLX915#1"));
  const uint8_t command[12] = {0xA5, 0x5A, 0x5A};
  client.send_request(command, sizeof command, 136, 1000);
  std::array<uint8_t, 256> full_slot{};
  std::iota(full_slot.begin(), full_slot.end(), uint8_t{1});
  answer(server, 1, full_slot.data(), 300);

  std::array<uint8_t, 1474> area;
  area.fill(0xEE);
  EXPECT_EQ(client.receive_answer(area.data(), area.size()), 0u);
  EXPECT_TRUE(std::all_of(area.begin(), area.end(), [](uint8_t b) { return b == 0xEE; }));
}

TEST(MultiplexExchange, ServerThatEndsWithoutAnsweringEndsTheWait) {
  FakeServer server(916);
  ASSERT_TRUE(server.ready());
  MultiplexClient client;
  ASSERT_TRUE(client.attach("MPLX916#1"));
  const uint8_t command[12] = {0xA5, 0x5A, 0x5A};
  // A time limit that would keep the client waiting for minutes.
  client.send_request(command, sizeof command, 136, 600000);
  server.vanish();
  std::array<uint8_t, 1474> area{};
  EXPECT_EQ(client.receive_answer(area.data(), area.size()), 0u);
}

TEST(MultiplexExchange, StaleAnswerEventNotTakenForTheNextAnswer) {
  FakeServer server(917);
  ASSERT_TRUE(server.ready());
  MultiplexClient client;
  ASSERT_TRUE(client.attach("MPLX917#1"));
  // Left pending by a previous client of this slot, with its answer still
  // in the slot.
  auto stale = numbered_frame(100);
  answer(server, 1, stale.data(), 136);

  auto fresh = numbered_frame(1);
  std::thread responder([&] {
    server.requests[0]->wait();
    answer(server, 1, fresh.data(), 136);
  });
  const uint8_t command[12] = {0xA5, 0x5A, 0x5A};
  client.send_request(command, sizeof command, 136, 1000);
  std::array<uint8_t, 1474> area{};
  size_t got = client.receive_answer(area.data(), area.size());
  responder.join();
  EXPECT_EQ(got, 136u);
  EXPECT_EQ(std::memcmp(area.data(), fresh.data(), 136), 0);
}

TEST(MultiplexExchange, StuckServerTimesOutAndItsLateAnswerIsSkipped) {
  FakeServer server(918);
  ASSERT_TRUE(server.ready());
  MultiplexClient client;
  ASSERT_TRUE(client.attach("MPLX918#1"));
  const uint8_t first[12] = {0xA5, 0x5A, 0x01};
  const uint8_t second[12] = {0xA5, 0x5A, 0x02};
  // Time limit 0: the client gives up after the margin alone.
  client.send_request(first, sizeof first, 136, 0);
  std::array<uint8_t, 1474> area{};
  EXPECT_EQ(client.receive_answer(area.data(), area.size()), 0u);

  // The server comes back to life: it answers the first request late, after
  // the second one has been sent, and then the second.
  auto late = numbered_frame(100);
  auto current = numbered_frame(1);
  std::thread responder([&] {
    server.requests[0]->wait();
    server.requests[0]->wait();
    answer(server, 1, late.data(), 136);
    answer(server, 1, current.data(), 136);
  });
  client.send_request(second, sizeof second, 136, 1000);
  size_t got = client.receive_answer(area.data(), area.size());
  responder.join();
  EXPECT_EQ(got, 136u);
  EXPECT_EQ(std::memcmp(area.data(), current.data(), 136), 0);
}

}  // namespace
