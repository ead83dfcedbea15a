// SPDX-License-Identifier: LGPL-2.1-or-later
// The recorder's rules and recording through liblyralink.so against
// lyrasim, files compared byte for byte with the emulator's memory; and
// lyractl record, which must write the same bytes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "include/lyralink.h"
#include "platform/process.h"
#include "pulsecap/core/library_device.h"
#include "tests/pulsecap/fakes.h"
#include "tests/support/emulator.h"
#include "tools/lyrasim/device.h"

using namespace pulsecap;
using lyralink::get_u16;
using lyralink::get_u32;
using lyratest::Emulator;
using pulsecap_test::FakeWindow;

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The device layer of the program, except that the search takes the
// emulated analyser by its serial number instead of asking in the dialog
// (nobody is there to click); every other field of the recorder's block
// is used as the recorder filled it.
class SearchingDevice final : public LibraryDevice {
 public:
  explicit SearchingDevice(uint16_t serial) : serial_(serial) {}
  int16_t comm_init_select(void* block, int32_t timeout, int32_t retries, void* owner) override {
    auto* b = static_cast<uint8_t*>(block);
    lyralink::put_u16(b + 2, serial_);
    lyralink::put_u16(b + 14, 0);
    return COMM_INIT_SELECT(block, timeout, retries, owner);
  }

 private:
  uint16_t serial_;
};

// Opens a fixed link instead of searching.
class FixedLinkDevice final : public LibraryDevice {
 public:
  explicit FixedLinkDevice(std::string ip, int32_t retries = 1) : ip_(std::move(ip)), retries_(retries) {}
  int16_t comm_init_select(void*, int32_t, int32_t, void*) override {
    return COMM_INIT_ETHERNET_IP(ip_.c_str(), 850, retries_);
  }

 private:
  std::string ip_;
  int32_t retries_;
};

// The signal the emulator's memory holds, recomputed from its description.
std::vector<uint16_t> expected_signal(const std::string& description, size_t n) {
  std::string error;
  auto id = lyrasim::parse_identity(description, &error);
  EXPECT_TRUE(id) << error;
  lyrasim::Analyser reference(*id);
  std::vector<uint16_t> s(n);
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<uint16_t>(reference.signal_sample(i) & 0x3FFF);
  return s;
}

// Equal files, or where they first differ (never the whole file in the log).
::testing::AssertionResult same_bytes(const std::string& got, const std::string& want) {
  if (got == want) return ::testing::AssertionSuccess();
  size_t i = 0;
  while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
  return ::testing::AssertionFailure() << "sizes " << got.size() << " and " << want.size() << ", first difference at byte "
                                       << i << ": \"" << got.substr(i - std::min<size_t>(i, 8), 24) << "\" against \""
                                       << want.substr(i - std::min<size_t>(i, 8), 24) << "\"";
}

std::string as_text(const std::vector<uint16_t>& s) {
  std::string out;
  char line[8];
  for (uint16_t v : s) {
    std::snprintf(line, sizeof line, "%5hu\r\n", v);
    out += line;
  }
  return out;
}

std::string as_wave(const std::vector<uint16_t>& s, uint32_t declared, uint32_t rate) {
  std::vector<uint8_t> h = wave_header(declared, rate);
  std::string out(h.begin(), h.end());
  for (uint16_t v : s) {
    const auto w = static_cast<uint16_t>(static_cast<int16_t>(v - 8192));
    out.push_back(static_cast<char>(w & 0xFF));
    out.push_back(static_cast<char>(w >> 8));
  }
  return out;
}

class PulsecapLyrasim : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = lyratest::make_temp_dir("pulsecap");
    ::setenv("LYRALINK_REGISTRY_DIR", (dir_ + "/registry").c_str(), 1);
    ::setenv("LYRALINK_HOST_ADDRESSES", "127.0.0.1/255.0.0.0", 1);
    ::setenv("LYRALINK_FTD2XX", (dir_ + "/no-bridge-library.so").c_str(), 1);
  }
  void TearDown() override { COMM_CLOSE(); }
  void start(const std::vector<std::string>& endpoints) {
    std::vector<std::string> args = {"--udp-port", std::getenv("LYRALINK_UDP_PORT")};
    args.insert(args.end(), endpoints.begin(), endpoints.end());
    sim_ = Emulator::start(args);
    ASSERT_TRUE(sim_);
    sim_->use_ports();
  }
  std::vector<uint16_t> codes_received() const {
    std::vector<uint16_t> codes;
    for (const auto& f : sim_->frames()) codes.push_back(f.code());
    return codes;
  }
  std::string dir_;
  std::unique_ptr<Emulator> sim_;
};

}  // namespace

TEST_F(PulsecapLyrasim, TakesOverAForeignAnalyserAndRecordsWhatItsMemoryHolds) {
  const std::string description = "740,sn=2024,app=KBRE,hv=600,rate=2000,seed=7";
  start({"--serial", "COM3=" + description});
  FakeWindow window;
  SearchingDevice device(2024);
  Recorder recorder(window, device);
  window.recorder = &recorder;
  window.real_pause = true;
  recorder.on_init(std::nullopt);
  ASSERT_TRUE(recorder.connected()) << (window.messages.empty() ? "" : window.messages[0]);
  ASSERT_EQ(window.questions.size(), 1u);
  EXPECT_EQ(window.questions[0], "Previous application mode was: Brevix\n\nHV is on!\n\nReset Lyra and clear all data?");

  // On the wire: HV off, the power polled until it reads 0, then the
  // reset, the general mode and the own code; the set-up last.
  std::vector<uint16_t> codes = codes_received();
  auto at = [&](uint16_t code) { return std::find(codes.begin(), codes.end(), code) - codes.begin(); };
  const auto hv_off = at(79), reset = at(65);
  ASSERT_LT(hv_off, reset);
  EXPECT_GT(std::count(codes.begin() + hv_off, codes.begin() + reset, 89), 1);
  EXPECT_LT(reset, at(261));
  EXPECT_LT(at(261), at(87));
  EXPECT_LT(at(87), at(78));
  std::array<uint8_t, 132> user{};
  ASSERT_EQ(LYRA_QUERY_USER_DATA(0, user.data()), 0);
  EXPECT_EQ(std::string(user.begin() + 16, user.begin() + 20), "KPUL");
  EXPECT_EQ(recorder.rate(), 2'000'000u);

  // 0.01 s at 2 MHz: 20000 samples, as WAVE and as text.
  const auto signal = expected_signal(description, 20000);
  window.type_time("0.01");
  ASSERT_TRUE(window.enabled[pulsecap::Control::start]);
  window.save_answers = {dir_ + "/shot.wav", dir_ + "/shot.txt"};
  recorder.on_start_button();
  recorder.on_start_button();
  EXPECT_TRUE(window.messages.empty()) << window.messages[0];
  EXPECT_TRUE(same_bytes(read_file(dir_ + "/shot.wav"), as_wave(signal, 20000, 2'000'000)));
  EXPECT_TRUE(same_bytes(read_file(dir_ + "/shot.txt"), as_text(signal)));
  EXPECT_EQ(window.progress.size(), 2u * (1 + 27));  // 0, then after 27 of 28 chunks, twice

  // Taken again, the analyser carries our code: straight to the set-up.
  recorder.on_connect_button();
  sim_->clear_record();
  recorder.on_connect_button();
  ASSERT_TRUE(recorder.connected());
  codes = codes_received();
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 65), 0);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 79), 0);
  EXPECT_EQ(window.questions.size(), 1u);
}

TEST_F(PulsecapLyrasim, LyractlRecordWritesTheRecordersBytes) {
  const std::string description = "740,sn=31,rate=5000,seed=99";
  start({"--udp", "127.0.0.1=" + description});
  FakeWindow window;
  FixedLinkDevice device("127.0.0.1");
  Recorder recorder(window, device);
  window.recorder = &recorder;
  window.real_pause = true;
  recorder.on_init(std::nullopt);
  ASSERT_TRUE(recorder.connected());
  window.type_time("0.0123");  // 61500 samples at 5 MHz
  window.save_answers = {dir_ + "/gui.wav", dir_ + "/gui.txt"};
  recorder.on_start_button();
  recorder.on_start_button();
  recorder.on_connect_button();
  ASSERT_TRUE(window.messages.empty());

  for (const char* name : {"cli.wav", "cli.txt"}) {
    auto tool = lyralink::platform::ChildProcess::spawn(
        {LYRACTL_PATH, "--ip", "127.0.0.1", "record", "0.0123", dir_ + "/" + name}, {});
    ASSERT_TRUE(tool);
    std::string out;
    while (auto line = tool->read_line(lyralink::platform::deadline_after_ms(20000))) out += *line + "\n";
    EXPECT_EQ(tool->wait(lyralink::platform::deadline_after_ms(20000)).value_or(-1), 0) << out;
    EXPECT_NE(out.find("recorded 61500 samples at 5000000 samples/s"), std::string::npos) << out;
  }
  const std::string gui_wav = read_file(dir_ + "/gui.wav");
  EXPECT_EQ(gui_wav.size(), 44u + 2u * 61500u);
  EXPECT_TRUE(same_bytes(read_file(dir_ + "/cli.wav"), gui_wav));
  EXPECT_TRUE(same_bytes(read_file(dir_ + "/cli.txt"), read_file(dir_ + "/gui.txt")));
  EXPECT_TRUE(same_bytes(read_file(dir_ + "/gui.txt"), as_text(expected_signal(description, 61500))));
}

TEST_F(PulsecapLyrasim, InjectedFaultsEndTheRecordingCleanly) {
  start({"--udp", "127.0.0.1=740,sn=5,rate=1000"});
  FakeWindow window;
  FixedLinkDevice device("127.0.0.1");
  Recorder recorder(window, device);
  window.recorder = &recorder;
  window.real_pause = true;
  recorder.on_init(std::nullopt);
  ASSERT_TRUE(recorder.connected());

  // The fourth memory read gets no answer.
  ASSERT_TRUE(sim_->control("fault silent,code=263,skip=3"));
  window.type_time("0.01");  // 10000 samples at 1 MHz
  window.save_answers = {dir_ + "/cut.txt"};
  recorder.on_start_button();
  EXPECT_EQ(window.messages, std::vector<std::string>{"The connection to the MCA-740 has been brocken!"});
  EXPECT_TRUE(same_bytes(read_file(dir_ + "/cut.txt"), as_text(expected_signal("740,sn=5,rate=1000", 3 * 720))));
  EXPECT_FALSE(recorder.connected());
  EXPECT_TRUE(window.only_connect_enabled());
  ASSERT_TRUE(sim_->control("clear-faults"));

  // The fill stop is refused with a device error: the WAVE file keeps its header only.
  recorder.on_connect_button();
  ASSERT_TRUE(recorder.connected());
  ASSERT_TRUE(sim_->control("fault error=0xAAAD,code=279"));
  window.messages.clear();
  window.type_time("0.01");
  window.save_answers = {dir_ + "/none.wav"};
  recorder.on_start_button();
  EXPECT_EQ(window.messages.size(), 1u);
  EXPECT_TRUE(same_bytes(read_file(dir_ + "/none.wav"), as_wave({}, 10000, 1'000'000)));
  EXPECT_FALSE(recorder.connected());
}

TEST_F(PulsecapLyrasim, LyractlRecordExitStatuses) {
  start({"--udp", "127.0.0.1=740,sn=8,rate=20000", "--fault", "silent,code=263,skip=2"});
  auto run = [&](const std::vector<std::string>& args, std::string* err = nullptr) {
    std::vector<std::string> argv = {"/bin/sh", "-c", "\"$0\" \"$@\" 2>" + dir_ + "/err.txt", LYRACTL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    auto p = lyralink::platform::ChildProcess::spawn(argv, {});
    while (p->read_line(lyralink::platform::deadline_after_ms(20000))) {
    }
    int rc = p->wait(lyralink::platform::deadline_after_ms(20000)).value_or(-1);
    if (err != nullptr) *err = read_file(dir_ + "/err.txt");
    return rc;
  };
  std::string err;
  EXPECT_EQ(run({"--ip", "127.0.0.1", "record", "0.001", dir_ + "/a.txt"}, &err), 3);  // the third read fails
  EXPECT_NE(err.find("holds 1440 of 20000 samples"), std::string::npos) << err;
  EXPECT_EQ(read_file(dir_ + "/a.txt").size(), 1440u * 7u);
  EXPECT_EQ(run({"--ip", "127.0.0.1", "record", "5", dir_ + "/b.txt"}, &err), 64);
  EXPECT_NE(err.find("holds 0.419394 s"), std::string::npos) << err;
  EXPECT_EQ(run({"--ip", "127.0.0.1", "record", "-1", dir_ + "/b.txt"}), 64);
  EXPECT_EQ(run({"--ip", "127.0.0.1", "record", "1e-3", dir_ + "/b.txt"}), 64);
  EXPECT_EQ(run({"--ip", "127.0.0.1", "record", "0.001"}), 64);
  EXPECT_EQ(run({"record", "0.001", dir_ + "/b.txt"}), 64);
  EXPECT_EQ(run({"--ip", "127.0.0.1", "record", "0.001", dir_ + "/missing/b.txt"}, &err), 73);
  EXPECT_NE(err.find("No such file or directory"), std::string::npos) << err;
  ASSERT_TRUE(sim_->control("clear-faults"));
  EXPECT_EQ(run({"--ip", "127.0.0.1", "record", "0.001", "/dev/full"}, &err), 74);
  EXPECT_NE(err.find("No space left on device"), std::string::npos) << err;
  // Not a terminal: no progress line.
  EXPECT_EQ(run({"--ip", "127.0.0.1", "record", "0.01", dir_ + "/c.wav"}, &err), 0);
  EXPECT_EQ(err, "");
  // On a terminal (script gives the tool one): the progress line.
  auto p = lyralink::platform::ChildProcess::spawn(
      {"script", "-qec", std::string(LYRACTL_PATH) + " --ip 127.0.0.1 record 0.01 " + dir_ + "/d.wav", "/dev/null"}, {});
  ASSERT_TRUE(p);
  std::string tty;
  while (auto line = p->read_line(lyralink::platform::deadline_after_ms(20000))) tty += *line + "\n";
  EXPECT_EQ(p->wait(lyralink::platform::deadline_after_ms(20000)).value_or(-1), 0);
  EXPECT_NE(tty.find("recording:  50 % of 200000 samples"), std::string::npos) << tty;
  EXPECT_TRUE(same_bytes(read_file(dir_ + "/d.wav"), read_file(dir_ + "/c.wav")));
}
