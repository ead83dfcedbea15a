// SPDX-License-Identifier: LGPL-2.1-or-later
// The wire log on every channel against lyrasim: each logged frame sent is
// a frame the emulator received (its frame record), each answer is the
// frame the library checked, and the status on the lines is the status the
// transaction returned. Also: off by default, and the statuses are the
// same with the log on, off or unwritable.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "lyralink/link/link.h"
#include "lyralink/link/transaction.h"
#include "lyralink/link/wire_log.h"
#include "platform/log_file.h"
#include "platform/process.h"
#include "tests/multiplex/multiplex_support.h"
#include "tests/support/emulator.h"
#include "tests/wirelog/wire_log_support.h"

using namespace lyralink;
using namespace lyralink::link;
using lyratest::Emulator;
using wirelogtest::LogLine;

namespace {

constexpr uint32_t kMultiplexPort = 975;  // shared memory names of this test alone (the 9xx of mplxd_test are 950-969)

class WireLogChannels : public ::testing::Test {
 protected:
  void SetUp() override {
    log_path_ = lyratest::make_temp_dir("wirelog") + "/wire.log";
    ::setenv("LYRALINK_LOG", log_path_.c_str(), 1);
  }
  void TearDown() override {
    close_link(link_state());
    ::unsetenv("LYRALINK_LOG");
    wire_log().refresh_from_environment();
  }

  static Status run_short(uint16_t code, uint16_t word1 = 0) {
    link_state().command.reset(code);
    link_state().command.set_word(1, word1);
    return short_transaction(link_state());
  }
  static Status run_long(uint16_t code, size_t len) {
    std::vector<uint8_t> block(len);
    link_state().command.reset(code);
    return long_transaction(link_state(), block.data(), len);
  }

  std::vector<LogLine> lines() const { return wirelogtest::read_log(log_path_); }

  // The frames sent, in the log's order and in the emulator's record, are
  // the same; every line is of this process, this channel and link, and
  // the emulator received each frame between its tx line and the line of
  // the answer.
  static void expect_matches_record(const std::vector<LogLine>& log, const std::vector<lyratest::RecordedFrame>& record,
                                    const std::string& channel, const std::string& where) {
    std::vector<const LogLine*> sent;
    for (const LogLine& l : log) {
      EXPECT_EQ(l.pid, platform::current_process_id()) << l.note;
      EXPECT_EQ(l.channel, channel);
      EXPECT_EQ(l.where, where);
      if (l.direction == "tx") sent.push_back(&l);
    }
    ASSERT_EQ(sent.size(), record.size());
    for (size_t i = 0; i < sent.size(); ++i) {
      EXPECT_EQ(sent[i]->hex, record[i].hex()) << "frame " << i;
      EXPECT_EQ(sent[i]->length, 12u);
    }
    for (size_t i = 0; i + 1 < log.size(); ++i) {
      if (log[i].direction != "tx") continue;
      const auto& r = record[static_cast<size_t>(std::find(sent.begin(), sent.end(), &log[i]) - sent.begin())];
      // The emulator's time stamps come from the same steady clock.
      EXPECT_LE(log[i].us, r.us + 1);
      EXPECT_LE(r.us, log[i + 1].us + 1);
    }
  }

  std::string log_path_;
};

// ---- serial port ----

class WireLogSerial : public WireLogChannels {
 protected:
  static void SetUpTestSuite() {
    sim_ = Emulator::start({"--serial", "COM3=740,sn=321"});
    ASSERT_TRUE(sim_);
    sim_->use_ports();
  }
  static void TearDownTestSuite() { sim_.reset(); }
  void SetUp() override {
    WireLogChannels::SetUp();
    ASSERT_TRUE(sim_);
    ASSERT_TRUE(sim_->control("clear-faults"));
    sim_->clear_record();
  }
  static std::unique_ptr<Emulator> sim_;
};
std::unique_ptr<Emulator> WireLogSerial::sim_;

TEST_F(WireLogSerial, ShortAndLongAnswersAreLoggedAsTheyCame) {
  LinkState& s = link_state();
  ASSERT_EQ(open_port(s, "COM3", 1000, 3, 38400, 0), 1);
  ASSERT_TRUE(wire_log().enabled());
  ASSERT_EQ(run_short(0x0101), status::ok);
  const std::string identity = wirelogtest::hex_of(s.short_frame(), kShortFrameSize);
  ASSERT_EQ(run_short(90), status::ok);
  ASSERT_EQ(run_long(264, 1024), status::ok);
  close_link(s);

  auto log = lines();
  ASSERT_EQ(log.size(), 6u);
  expect_matches_record(log, sim_->frames(), "serial", "COM3");
  const std::vector<size_t> lengths{12, 136, 12, 136, 12, 1024 + kLongFrameOverhead};
  for (size_t i = 0; i < log.size(); ++i) {
    EXPECT_EQ(log[i].direction, i % 2 == 0 ? "tx" : "rx");
    EXPECT_EQ(log[i].length, lengths[i]);
    EXPECT_EQ(log[i].hex.size(), 2 * lengths[i]);
    EXPECT_EQ(log[i].status, 0);
    EXPECT_EQ(log[i].attempt, 1u);
    EXPECT_EQ(log[i].attempts, 3u);
    EXPECT_EQ(log[i].note, "");
  }
  EXPECT_EQ(log[1].hex, identity);  // the frame the checks were given
  EXPECT_EQ(log[5].hex.substr(0, 4), "a55a");
  EXPECT_EQ(log[5].hex.substr(log[5].hex.size() - 4), "b99b");
}

TEST_F(WireLogSerial, EveryAttemptShowsWithItsOwnStatus) {
  LinkState& s = link_state();
  ASSERT_EQ(open_port(s, "COM3", 850, 3, 38400, 0), 1);
  // Two silent answers, then a good one: three attempts of one transaction.
  ASSERT_TRUE(sim_->control("fault silent,code=90,count=2"));
  ASSERT_EQ(run_short(90), status::ok);
  // A device error that is never retried: one attempt.
  ASSERT_TRUE(sim_->control("fault error=0xAAAE,code=257"));
  ASSERT_EQ(run_short(257), status::device_error_aaae);
  // An answer of the wrong length: its bytes are shown, and rejected.
  ASSERT_TRUE(sim_->control("clear-faults"));
  ASSERT_TRUE(sim_->control("fault length=+5,code=89,count=1"));
  ASSERT_EQ(run_short(89), status::ok);
  close_link(s);

  auto log = lines();
  ASSERT_EQ(log.size(), 12u);
  expect_matches_record(log, sim_->frames(), "serial", "COM3");
  for (int a = 0; a < 2; ++a) {
    const LogLine& tx = log[static_cast<size_t>(2 * a)];
    const LogLine& rx = log[static_cast<size_t>(2 * a + 1)];
    EXPECT_EQ(tx.attempt, static_cast<uint32_t>(a + 1));
    EXPECT_EQ(rx.direction, "rx");
    EXPECT_EQ(rx.length, 0u);
    EXPECT_EQ(rx.hex, "-");
    EXPECT_EQ(rx.status, 3);
    EXPECT_EQ(rx.status_text, "no valid answer");
    // The attempt gave up at its answer timeout.
    EXPECT_GE(rx.us - tx.us, 840000);
  }
  EXPECT_EQ(log[4].attempt, 3u);
  EXPECT_EQ(log[5].length, 136u);
  EXPECT_EQ(log[5].status, 0);
  // 0xAAAE in the frame's last word, status 7, no second attempt.
  EXPECT_EQ(log[7].length, 136u);
  EXPECT_EQ(log[7].hex.substr(log[7].hex.size() - 4), "aeaa");
  EXPECT_EQ(log[7].status, 7);
  EXPECT_EQ(log[7].status_text, "device error 0xAAAE");
  EXPECT_EQ(log[8].attempt, 1u);  // the next transaction
  // 141 bytes came and were dropped; the second attempt went well.
  EXPECT_EQ(log[9].length, 141u);
  EXPECT_EQ(log[9].status, 3);
  EXPECT_EQ(log[10].attempt, 2u);
  EXPECT_EQ(log[11].status, 0);
}

TEST_F(WireLogSerial, OffByDefaultAndTheSameStatusesEitherWay) {
  LinkState& s = link_state();
  // A sequence that passes through success, a retried failure and a
  // device error; run with the log to a file, to an unwritable place and
  // with no log at all, the statuses and answers are the same.
  auto sequence = [&]() {
    std::vector<std::string> seen;
    EXPECT_EQ(open_port(s, "COM3", 850, 2, 38400, 0), 1);
    EXPECT_TRUE(sim_->control("fault silent,code=89,count=1"));
    EXPECT_TRUE(sim_->control("fault error=0xAAAC,code=98"));
    for (uint16_t code : {uint16_t{90}, uint16_t{89}, uint16_t{98}, uint16_t{0x0101}}) {
      const Status st = run_short(code);
      // The 12 bytes before the device clock of the state answers.
      std::string answer = wirelogtest::hex_of(s.answer_data(), 12);
      seen.push_back(std::to_string(st) + ":" + answer);
    }
    EXPECT_TRUE(sim_->control("clear-faults"));
    close_link(s);
    return seen;
  };
  const auto with_log = sequence();
  EXPECT_EQ(lines().size(), 12u);  // 1 + 2 + 2 (retried device error) + 1 attempts

  ::setenv("LYRALINK_LOG", "/nonexistent-lyralink-dir/wire.log", 1);
  const auto unwritable = sequence();
  EXPECT_FALSE(wire_log().enabled());

  ::unsetenv("LYRALINK_LOG");
  const auto without_log = sequence();
  EXPECT_FALSE(wire_log().enabled());
  EXPECT_FALSE(std::filesystem::exists("/nonexistent-lyralink-dir"));

  EXPECT_EQ(with_log, without_log);
  EXPECT_EQ(unwritable, without_log);
  EXPECT_EQ(without_log[0].substr(0, 2), "0:");
  EXPECT_EQ(without_log[2].substr(0, 2), "5:");
  // The file got nothing more once the log was off.
  EXPECT_EQ(lines().size(), 12u);
}

TEST_F(WireLogSerial, TheLogFollowsTheVariableFromOneLinkToTheNext) {
  LinkState& s = link_state();
  ASSERT_EQ(open_port(s, "COM3", 1000, 1, 38400, 0), 1);
  ASSERT_EQ(run_short(90), status::ok);
  close_link(s);
  const std::string second = log_path_ + ".2";
  ::setenv("LYRALINK_LOG", second.c_str(), 1);
  ASSERT_EQ(open_port(s, "COM3", 1000, 1, 38400, 0), 1);
  ASSERT_EQ(run_short(89), status::ok);
  close_link(s);
  auto first_log = lines();
  auto second_log = wirelogtest::read_log(second);
  ASSERT_EQ(first_log.size(), 2u);
  ASSERT_EQ(second_log.size(), 2u);
  EXPECT_EQ(first_log[0].hex.substr(4, 4), "5a00");
  EXPECT_EQ(second_log[0].hex.substr(4, 4), "5900");
}

// ---- Ethernet ----

TEST_F(WireLogChannels, EthernetDatagramsWithTheirPrefix) {
  auto sim = Emulator::start({"--udp", "127.0.0.1=740,sn=99"});
  ASSERT_TRUE(sim);
  LinkState& s = link_state();
  ASSERT_EQ(open_ethernet(s, "127.0.0.1", 1000, 2), 1);
  sim->clear_record();
  ASSERT_EQ(run_short(0x0101), status::ok);
  ASSERT_EQ(run_long(263, 1440), status::ok);
  ASSERT_TRUE(sim->control("fault silent,code=90,count=1"));
  ASSERT_EQ(run_short(90), status::ok);
  close_link(s);

  auto log = lines();
  ASSERT_EQ(log.size(), 8u);
  const std::string where = "127.0.0.1:" + std::to_string(s.device_udp_port());
  expect_matches_record(log, sim->frames(), "ethernet", where);
  EXPECT_EQ(log[1].length, 138u);  // 2-byte datagram prefix + 136
  EXPECT_EQ(log[3].length, 2u + 1440 + kLongFrameOverhead);
  EXPECT_EQ(log[5].length, 0u);
  EXPECT_EQ(log[5].status, 3);
  EXPECT_EQ(log[6].attempt, 2u);
  EXPECT_EQ(log[7].length, 138u);
  EXPECT_EQ(log[7].status, 0);
}

// ---- direct USB through the bridge library ----

TEST_F(WireLogChannels, DirectUsbThroughTheBridgeLibrary) {
  using ConfigureFn = int (*)(const char*);
  ::setenv("LYRALINK_FTD2XX", lyratest::standin_bridge_path().c_str(), 1);
  void* standin = dlopen(lyratest::standin_bridge_path().c_str(), RTLD_NOW);
  ASSERT_NE(standin, nullptr);
  auto configure = reinterpret_cast<ConfigureFn>(dlsym(standin, "lyrasim_usb_configure"));
  ASSERT_NE(configure, nullptr);
  const std::string record = lyratest::make_temp_dir("usb") + "/frames.log";
  ASSERT_EQ(configure(("reset\ndevice 740,sn=515\nrecord " + record).c_str()), 0);
  LinkState& s = link_state();
  ASSERT_TRUE(s.usb_library().load());
  const BridgeFunctions& fn = s.usb_library().fn();
  FT_HANDLE h = nullptr;
  ASSERT_EQ(fn.FT_Open(0, &h), FT_OK);
  ASSERT_EQ(fn.FT_SetBaudRate(h, 38400), FT_OK);
  adopt_port(s, UsbBytePort::adopt(s.usb_library(), h, 38400), "USB", kPortIdUsbVariant2);
  s.set_timing(850, 2);
  ASSERT_EQ(run_short(0x0101), status::ok);
  ASSERT_EQ(run_long(307, 1024), status::ok);
  close_link(s);

  auto log = lines();
  ASSERT_EQ(log.size(), 4u);
  expect_matches_record(log, lyratest::read_record(record), "usb", "USB");
  EXPECT_EQ(log[1].length, 136u);
  EXPECT_EQ(log[3].length, 1024u + kLongFrameOverhead);
  dlclose(standin);
}

// ---- Multiplex server ----

TEST_F(WireLogChannels, MultiplexRequestsAndTheServersAnswers) {
  mplxtest::NameGuard names(kMultiplexPort);
  const std::string com = "COM" + std::to_string(kMultiplexPort);
  auto sim = Emulator::start({"--serial", com + "=740,sn=4242"});
  ASSERT_TRUE(sim);
  auto server = platform::ChildProcess::spawn({MPLXD, com}, {{"LYRALINK_PORT_DIR", sim->port_dir()}});
  ASSERT_TRUE(server);
  bool serving = false;
  while (auto line = server->read_line(platform::deadline_after_ms(10000))) {
    if (line->find("serving") != std::string::npos) {
      serving = true;
      break;
    }
  }
  ASSERT_TRUE(serving);
  LinkState& s = link_state();
  const std::string name = "MPLX" + std::to_string(kMultiplexPort) + "#2";
  ASSERT_EQ(open_port(s, name.c_str(), 1000, 1, 38400, 0), 1);
  sim->clear_record();
  ASSERT_EQ(run_short(0x0101), status::ok);
  ASSERT_EQ(run_short(90), status::ok);
  close_link(s);
  server->terminate();
  (void)server->wait(platform::deadline_after_ms(5000));

  auto log = lines();
  ASSERT_EQ(log.size(), 4u);
  expect_matches_record(log, sim->frames(), "multiplex", name);
  EXPECT_EQ(log[1].length, 136u);
  EXPECT_EQ(log[3].length, 136u);
  EXPECT_EQ(log[3].status, 0);
}

}  // namespace
