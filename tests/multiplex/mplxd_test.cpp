// SPDX-License-Identifier: LGPL-2.1-or-later
// mplxd end to end: the server program on a lyrasim serial port, shared by
// client processes and by this process through the library's own link
// functions. Port numbers 950-969 belong to this file.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <fstream>
#include <map>

#include "lyralink/link/link.h"
#include "lyralink/link/transaction.h"
#include "platform/process.h"
#include "tests/multiplex/multiplex_support.h"
#include "tests/support/emulator.h"

using namespace lyralink::link;
using lyralink::platform::ChildProcess;
using lyralink::platform::deadline_after_ms;
using lyratest::Emulator;
namespace plat = lyralink::platform;
namespace mx = lyralink::link::multiplex;

namespace {

constexpr int kWaitMs = 20000;

// Reads lines until one contains `text`; false at the deadline.
bool wait_for_line(ChildProcess& p, const std::string& text, std::vector<std::string>* seen = nullptr) {
  auto deadline = deadline_after_ms(kWaitMs);
  while (auto line = p.read_line(deadline)) {
    if (seen != nullptr) seen->push_back(*line);
    if (line->find(text) != std::string::npos) return true;
  }
  return false;
}

bool names_exist(uint32_t port) {
  return plat::SharedMutex::open(mx::mutex_name(port)) || plat::SharedMemory::open(mx::block_name(port)) ||
         plat::NamedSemaphore::open(mx::request_event_name(port, 1)) ||
         plat::NamedSemaphore::open(mx::answer_event_name(port, 3));
}

class Mplxd : public ::testing::Test {
 protected:
  void TearDown() override {
    close_link(link_state());
    server_.reset();  // SIGTERM, and the server removes its names
  }

  // lyrasim with an MCA-740 on COM<port>, and mplxd serving it.
  void start(uint32_t port, std::vector<std::string> server_options = {}) {
    port_ = port;
    guard_ = std::make_unique<mplxtest::NameGuard>(port);
    sim_ = Emulator::start({"--serial", "COM" + std::to_string(port) + "=740"});
    ASSERT_TRUE(sim_);
    server_ = start_server(server_options);
    ASSERT_TRUE(server_);
  }

  std::unique_ptr<ChildProcess> start_server(std::vector<std::string> options = {}) {
    std::vector<std::string> argv{MPLXD, "COM" + std::to_string(port_)};
    argv.insert(argv.end(), options.begin(), options.end());
    auto p = ChildProcess::spawn(argv, {{"LYRALINK_PORT_DIR", sim_->port_dir()}});
    if (!p || !wait_for_line(*p, "serving")) {
      ADD_FAILURE() << "mplxd did not start";
      return nullptr;
    }
    return p;
  }

  std::unique_ptr<ChildProcess> client(const std::string& name, int index, int count) {
    return ChildProcess::spawn({MPLX_TEST_CLIENT, "run", name, std::to_string(index), std::to_string(count)});
  }

  // Runs one client process to its end; its output line, or "" on exit != 0.
  std::string run_client(const std::string& name, int index, int count) {
    auto c = client(name, index, count);
    if (!c) return "cannot start";
    std::string out = c->read_all(deadline_after_ms(kWaitMs));
    auto status = c->wait(deadline_after_ms(kWaitMs));
    if (!status || *status != 0) return "failed: " + out;
    return out;
  }

  std::string mplx(int client) const { return "MPLX" + std::to_string(port_) + "#" + std::to_string(client); }

  uint32_t port_ = 0;
  std::unique_ptr<mplxtest::NameGuard> guard_;
  std::unique_ptr<Emulator> sim_;
  std::unique_ptr<ChildProcess> server_;
};

TEST_F(Mplxd, ThreeClientProcessesShareOneAnalyser) {
  start(950);
  constexpr int kPairs = 60;
  std::vector<std::unique_ptr<ChildProcess>> clients;
  for (int c = 1; c <= 3; ++c) {
    clients.push_back(client(mplx(c), c, kPairs));
    ASSERT_TRUE(clients.back());
  }
  for (auto& c : clients) {
    EXPECT_EQ(c->read_all(deadline_after_ms(60000)), "ok " + std::to_string(kPairs) + "\n");
    EXPECT_EQ(c->wait(deadline_after_ms(kWaitMs)), 0);
  }

  // Every frame reached the analyser whole: bytes of two clients mixed on
  // the line would show up as junk in the record.
  std::ifstream raw(sim_->record_path());
  std::string line;
  while (std::getline(raw, line)) EXPECT_EQ(line.find("junk"), std::string::npos) << line;

  // Each client's stores arrived once each and in its own order.
  std::map<int, std::vector<uint32_t>> stored;
  int queries = 0;
  for (const auto& f : sim_->frames()) {
    if (f.code() == 87) stored[f.word(1)].push_back(static_cast<uint32_t>(f.word(2)) | (f.word(3) << 16));
    if (f.code() == 94) ++queries;
  }
  EXPECT_EQ(queries, 3 * kPairs);
  for (int c = 1; c <= 3; ++c) {
    ASSERT_EQ(stored[c].size(), static_cast<size_t>(kPairs)) << c;
    for (int i = 0; i < kPairs; ++i) EXPECT_EQ(stored[c][i], (static_cast<uint32_t>(c) << 20) | i);
  }

  // One log line per attach and per detach of every client: six in all.
  std::vector<std::string> log;
  auto deadline = deadline_after_ms(kWaitMs);
  while (log.size() < 6) {
    auto next = server_->read_line(deadline);
    if (!next) break;
    log.push_back(*next);
  }
  std::sort(log.begin(), log.end());
  EXPECT_EQ(log, (std::vector<std::string>{
                     "mplxd COM950: client 1 attached", "mplxd COM950: client 1 detached",
                     "mplxd COM950: client 2 attached", "mplxd COM950: client 2 detached",
                     "mplxd COM950: client 3 attached", "mplxd COM950: client 3 detached"}));
}

TEST_F(Mplxd, SecondServerForThePortRefused) {
  start(951);
  auto second = ChildProcess::spawn({MPLXD, "COM951"}, {{"LYRALINK_PORT_DIR", sim_->port_dir()}});
  ASSERT_TRUE(second);
  EXPECT_EQ(second->wait(deadline_after_ms(kWaitMs)), 1);
  // The first one's names are untouched: it still serves.
  EXPECT_EQ(run_client(mplx(2), 2, 3), "ok 3\n");
}

TEST_F(Mplxd, StopsOnSigtermAndRemovesItsNames) {
  start(952);
  EXPECT_EQ(run_client(mplx(1), 1, 2), "ok 2\n");
  ASSERT_TRUE(names_exist(952));
  server_->terminate();
  EXPECT_TRUE(wait_for_line(*server_, "stopped"));
  EXPECT_EQ(server_->wait(deadline_after_ms(kWaitMs)), 0);
  EXPECT_FALSE(names_exist(952));
}

TEST_F(Mplxd, NamesOfAKilledServerAreTakenOverByTheNext) {
  start(953);
  server_->kill();
  ASSERT_TRUE(server_->wait(deadline_after_ms(kWaitMs)));
  ASSERT_TRUE(plat::SharedMemory::open(mx::block_name(953)));  // left behind
  // Nobody would answer: the client is refused instead of hanging.
  EXPECT_NE(run_client(mplx(1), 1, 1), "ok 1\n");

  server_ = start_server();
  ASSERT_TRUE(server_);
  EXPECT_EQ(run_client(mplx(1), 1, 1), "ok 1\n");
}

TEST_F(Mplxd, ClientOfAStoppedServerGetsStatus3) {
  start(954);
  LinkState& s = link_state();
  ASSERT_NE(open_port(s, mplx(3).c_str(), 1000, 2, 38400, 0), 0);
  EXPECT_EQ(s.port_id(), kPortIdMultiplex);
  s.command.reset(90);
  EXPECT_EQ(short_transaction(s), status::ok);
  server_->terminate();
  ASSERT_EQ(server_->wait(deadline_after_ms(kWaitMs)), 0);
  s.command.reset(90);
  EXPECT_EQ(short_transaction(s), status::no_valid_answer);
}

TEST_F(Mplxd, LongAnswerDoesNotFitAndLeavesTheLineClean) {
  start(955);
  LinkState& s = link_state();
  ASSERT_NE(open_port(s, mplx(1).c_str(), 1000, 2, 38400, 0), 0);
  s.command.reset(264);  // answered with 1024 data bytes
  std::vector<uint8_t> data(1024, 0xEE);
  EXPECT_EQ(long_transaction(s, data.data(), data.size()), status::no_valid_answer);
  EXPECT_TRUE(std::all_of(data.begin(), data.end(), [](uint8_t b) { return b == 0xEE; }));
  // The rest of the long answer was dropped by the server: the next
  // exchange is not mistaken for it.
  s.command.reset(90);
  EXPECT_EQ(short_transaction(s), status::ok);
}

TEST_F(Mplxd, SilentAnalyserStillGetsTheClientAnAnswerEvent) {
  start(956, {"--verbose"});
  ASSERT_TRUE(sim_->control("fault silent,code=90"));
  LinkState& s = link_state();
  ASSERT_NE(open_port(s, mplx(2).c_str(), 900, 1, 38400, 0), 0);
  s.command.reset(90);
  EXPECT_EQ(short_transaction(s), status::no_valid_answer);
  // The server answered the request with nothing, within its time limit.
  EXPECT_TRUE(wait_for_line(*server_, "client 2: 12 bytes out, 0 of 136 back"));
}

TEST(MplxdProgram, UsageAndStartErrors) {
  auto run = [](std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    args.insert(args.begin(), MPLXD);
    auto p = ChildProcess::spawn(args, env);
    if (!p) return std::pair<int, std::string>(-1, "");
    std::string out = p->read_all(deadline_after_ms(kWaitMs));
    return std::pair<int, std::string>(p->wait(deadline_after_ms(kWaitMs)).value_or(-1), out);
  };
  auto help = run({"--help"});
  EXPECT_EQ(help.first, 0);
  EXPECT_NE(help.second.find("Usage: mplxd"), std::string::npos);
  EXPECT_EQ(run({}).first, 2);
  EXPECT_EQ(run({"ttyS0"}).first, 2);
  EXPECT_EQ(run({"COM0"}).first, 2);
  EXPECT_EQ(run({"COM3", "--bogus"}).first, 2);
  EXPECT_EQ(run({"COM3", "COM4"}).first, 2);

  // A port that does not exist: refused, and no name stays behind.
  mplxtest::NameGuard guard(959);
  std::string empty = lyratest::make_temp_dir("noports");
  EXPECT_EQ(run({"COM959"}, {{"LYRALINK_PORT_DIR", empty}}).first, 1);
  EXPECT_FALSE(names_exist(959));
}

}  // namespace
