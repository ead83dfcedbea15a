// SPDX-License-Identifier: LGPL-2.1-or-later
// The recorder's connection logic and recording over a fake window and a
// fake device layer.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "pulsecap/core/recorder.h"
#include "tests/pulsecap/fakes.h"
#include "tests/support/emulator.h"

using namespace pulsecap;
using pulsecap_test::FakeDevice;
using pulsecap_test::FakeWindow;
using lyralink::get_u16;
using lyralink::get_u32;

namespace {

constexpr int32_t kKpul = 'K' | ('P' << 8) | ('U' << 16) | ('L' << 24);

struct Rig {
  Rig() : recorder(window, device) { window.recorder = &recorder; }
  void start(const std::optional<std::string>& version = std::nullopt) { recorder.on_init(version); }
  std::vector<std::string> calls_without_select() const {
    return std::vector<std::string>(device.calls.begin() + 1, device.calls.end());
  }
  FakeWindow window;
  FakeDevice device;
  Recorder recorder;
};

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(RecorderRules, TablesAndTexts) {
  EXPECT_EQ(application_name("KBRE"), "Brevix");
  EXPECT_EQ(application_name("KNOL"), "Nolvane");
  EXPECT_EQ(application_name("XYZW"), "XYZW");
  const uint8_t cut[] = {'A', 'B', 0, 'D'};
  EXPECT_EQ(application_code(cut), "AB");
  const uint8_t full[] = {'K', 'T', 'B', 'L'};
  EXPECT_EQ(application_code(full), "KTBL");
  EXPECT_EQ(own_application_word(), kKpul);
  EXPECT_EQ(takeover_question("KMIR", 500, 7),
            "Previous application mode was: Mirvane\n\nHV on - Lyra is collecting data!\n\nReset Lyra and clear all data?");
  EXPECT_EQ(takeover_question("KMIR", 500, 0),
            "Previous application mode was: Mirvane\n\nHV is on!\n\nReset Lyra and clear all data?");
  EXPECT_EQ(takeover_question("QQQQ", 0, 2),
            "Previous application mode was: QQQQ\n\nLyra is collecting data!\n\nReset Lyra and clear all data?");
  EXPECT_EQ(takeover_question("KSEL", 0, 1), "Previous application mode was: Selmorn\n\nReset Lyra and clear all data?");
  EXPECT_EQ(hv_display_text(800, 802, 0), "+800");  // exactly 2 V apart: the set value
  EXPECT_EQ(hv_display_text(800, 797, 0), "+797");  // 3 V: the actual value
  EXPECT_EQ(hv_display_text(800, 803, 1), "-803");
  EXPECT_EQ(hv_display_text(0, 0x10005, 0), "+65541");  // compared as 16 bits, shown whole
  EXPECT_EQ(hv_display_text(0, 0x10002, 0), "+0");
  EXPECT_EQ(caption_for(std::string("1.01.0000")), "MCA-740 Transient Recorder [Version 1.01.0000]");
  EXPECT_EQ(caption_for(std::nullopt), "MCA-740 Transient Recorder");
  EXPECT_EQ(gain_for_entry(0), 2);
  EXPECT_EQ(gain_for_entry(5), 100);
  EXPECT_FALSE(gain_for_entry(6));
  EXPECT_EQ(entry_for_gain(50), 4);
  EXPECT_FALSE(entry_for_gain(7));
}

TEST(RecorderRules, SampleRateRangeAndCount) {
  EXPECT_EQ(sample_rate(0x1303, 5000), 10'000'000u);  // the kHz word is not there yet
  EXPECT_EQ(sample_rate(0x1304, 5000), 5'000'000u);
  EXPECT_EQ(time_range_seconds(1440, 10'000'000), 0.0);
  EXPECT_EQ(time_range_seconds(100, 10'000'000), 0.0);  // never negative
  EXPECT_EQ(time_range_seconds(1u << 24, 0), 0.0);      // unknown rate: no recording
  EXPECT_DOUBLE_EQ(time_range_seconds(1440 + 2000, 1000), 1.0);
  EXPECT_EQ(sample_count(0.001, 1'000'000, 1u << 24), 1000u);
  EXPECT_EQ(sample_count(0.00001, 1000, 1u << 24), 0u);
  // More than the memory holds is clamped by the range; so is a count
  // that would not fit 32 bits.
  EXPECT_EQ(sample_count(100.0, 20'000'000, 1u << 24), ((1u << 24) - 1440) / 2);
  EXPECT_EQ(sample_count(1e12, 4'000'000'000u, 0xFFFFFFFFu), (0xFFFFFFFFu - 1440u) / 2);
  EXPECT_EQ(progress_percent(720, 1000), 72u);
  EXPECT_EQ(progress_percent(2'000'000'000u, 2'100'000'000u), 95u);  // no 32-bit wrap
}

TEST(RecorderConnect, StartUpSetsTheWindowAndSelectsWithTheSplash) {
  Rig r;
  r.device.app_code = "KPUL";
  r.start(std::string("1.01.0000"));
  EXPECT_TRUE(r.window.icon_set);
  EXPECT_EQ(r.window.caption, "MCA-740 Transient Recorder [Version 1.01.0000]");
  EXPECT_EQ(r.window.hv_rules.precision(), 0u);
  EXPECT_EQ(r.window.hv_rules.length_limit(), 4u);
  EXPECT_EQ(r.window.time_rules.precision(), 4u);
  EXPECT_EQ(r.window.time_rules.length_limit(), 6u);
  EXPECT_TRUE(r.window.time_rules.clamp_on_leave());
  ASSERT_FALSE(r.device.calls.empty());
  EXPECT_EQ(r.device.calls[0], "COMM_INIT_SELECT(1000,4,null)");
  const auto& b = r.device.block;
  EXPECT_EQ(get_u16(&b[0]), 24);
  EXPECT_EQ(get_u16(&b[2]), 0);
  EXPECT_EQ(get_u16(&b[4]), 0);
  EXPECT_EQ(get_u16(&b[6]), 0xFFFF);
  EXPECT_EQ(get_u16(&b[8]), 0xFFFF);
  EXPECT_EQ(get_u16(&b[10]), 0x1200);
  EXPECT_EQ(get_u16(&b[12]), 0xFFFF);  // splash at start-up
  EXPECT_EQ(get_u16(&b[14]), 0xFFFF);
  EXPECT_EQ(get_u16(&b[16]), 0xFFFF);
  EXPECT_EQ(get_u32(&b[20]), 0u);
  // From the button: no splash.
  r.recorder.on_connect_button();  // disconnect
  r.recorder.on_connect_button();  // connect again
  EXPECT_EQ(get_u16(&r.device.block[12]), 0);
}

TEST(RecorderConnect, NothingChosenIsSilent) {
  Rig r;
  r.device.select_result = false;
  r.start();
  EXPECT_EQ(r.device.calls.size(), 1u);
  EXPECT_TRUE(r.window.messages.empty());
  EXPECT_FALSE(r.recorder.connected());
  EXPECT_TRUE(r.window.only_connect_enabled());
  EXPECT_EQ(r.window.caption, "MCA-740 Transient Recorder");
}

TEST(RecorderConnect, OwnCodeGoesStraightToSetUp) {
  Rig r;
  r.device.app_code = "KPUL";
  r.device.actual_hv = 700;
  r.device.acquisition740 = 7;
  r.start();
  EXPECT_EQ(r.calls_without_select(),
            (std::vector<std::string>{"LYRA_QUERY_USER_DATA(0)", "LYRA_QUERY_STATE740()", "LYRA_QUERY_POWER()",
                                      "LYRA_SET_PREAMPLIFIER_POWER(240)", "LYRA_QUERY_STATE740()",
                                      "LYRA_QUERY_STATE()", "LYRA_QUERY_POWER()", "LYRA_QUERY_STATE740_EX()"}));
  EXPECT_TRUE(r.window.questions.empty());
  EXPECT_TRUE(r.recorder.connected());
  EXPECT_EQ(r.window.texts[Control::connect], "Disconnect MCA-740");
  EXPECT_EQ(r.window.timer_id, 1);
  EXPECT_EQ(r.window.timer_period, 1000);
}

TEST(RecorderConnect, UnclaimedAnalysersAreTakenOverSilently) {
  for (const char* code : {"", "0000"}) {
    Rig r;
    r.device.app_code = code;
    r.start();
    EXPECT_TRUE(r.window.questions.empty()) << code;
    EXPECT_EQ(r.device.count("LYRA_STOP_ACQUIRE"), 0);
    EXPECT_EQ(r.device.count("LYRA_SET_HIGH_VOLTAGES"), 0);  // the HV was off
    const auto reset = r.device.index_of("LYRA_RESET()");
    EXPECT_LT(reset, r.device.index_of("LYRA_SET_GENERAL_MODE(1)"));
    EXPECT_LT(r.device.index_of("LYRA_SET_GENERAL_MODE(1)"),
              r.device.index_of("LYRA_SET_USER_DATA(4," + std::to_string(kKpul) + ")"));
    EXPECT_LT(r.device.index_of("LYRA_SET_USER_DATA"), r.device.index_of("LYRA_SET_PREAMPLIFIER_POWER(240)"));
    EXPECT_TRUE(r.recorder.connected());
  }
}

TEST(RecorderConnect, ForeignCodeAsksAndYesSwitchesTheHvOffBeforeTheReset) {
  Rig r;
  r.device.app_code = "KOSA";
  r.device.actual_hv = 1200;
  r.device.hv_steps_to_zero = 4;
  r.device.acquisition740 = 7;
  r.start();
  ASSERT_EQ(r.window.questions.size(), 1u);
  EXPECT_EQ(r.window.questions[0],
            "Previous application mode was: Osmald\n\nHV on - Lyra is collecting data!\n\nReset Lyra and clear all data?");
  const size_t stop = r.device.index_of("LYRA_STOP_ACQUIRE()");
  const size_t hv_off = r.device.index_of("LYRA_SET_HIGH_VOLTAGES(0,0)");
  const size_t reset = r.device.index_of("LYRA_RESET()");
  EXPECT_LT(stop, hv_off);
  EXPECT_LT(hv_off, reset);
  // Polled until 0 with nothing in between, then the reset.
  for (size_t i = hv_off + 1; i < reset; ++i) EXPECT_EQ(r.device.calls[i], "LYRA_QUERY_POWER()") << i;
  EXPECT_EQ(reset - hv_off - 1, 4u);
  EXPECT_TRUE(r.recorder.connected());
}

TEST(RecorderConnect, NoClosesTheLinkAndLeavesOnlyConnect) {
  Rig r;
  r.device.app_code = "XQ12";
  r.window.answer_yes = false;
  r.start();
  ASSERT_EQ(r.window.questions.size(), 1u);
  EXPECT_EQ(r.window.questions[0].rfind("Previous application mode was: XQ12", 0), 0u);
  EXPECT_EQ(r.device.calls.back(), "COMM_CLOSE()");
  EXPECT_EQ(r.device.count("LYRA_RESET"), 0);
  EXPECT_TRUE(r.window.messages.empty());
  EXPECT_TRUE(r.window.only_connect_enabled());
  EXPECT_FALSE(r.recorder.connected());
  EXPECT_EQ(r.window.timer_id, 0);
}

TEST(RecorderConnect, SlowModeSwitchRaisesTheTimeout) {
  Rig r;
  r.device.flags = 0x4030;
  r.start();
  EXPECT_EQ(r.device.timeouts_at_general_mode, std::vector<int32_t>{10000});
  EXPECT_EQ(r.device.timeout, 1000);
  Rig f;
  f.device.flags = 0x4030;
  f.device.failures.push_back({"LYRA_SET_GENERAL_MODE", 3, 0});
  f.start();
  EXPECT_EQ(f.device.timeout, 10000);  // stays raised with the closed link
  EXPECT_EQ(f.window.messages, std::vector<std::string>{"The connection to the MCA-740 has been brocken!"});
  EXPECT_EQ(f.device.calls.back(), "COMM_CLOSE()");
  EXPECT_FALSE(f.recorder.connected());
}

TEST(RecorderConnect, EveryFailedStepIsAConnectionLossWithoutReset) {
  for (const char* step :
       {"LYRA_QUERY_USER_DATA", "LYRA_QUERY_STATE740", "LYRA_QUERY_POWER", "LYRA_STOP_ACQUIRE", "LYRA_SET_HIGH_VOLTAGES",
        "LYRA_RESET", "LYRA_SET_GENERAL_MODE", "LYRA_SET_USER_DATA", "LYRA_SET_PREAMPLIFIER_POWER",
        "LYRA_QUERY_STATE", "LYRA_QUERY_STATE740_EX"}) {
    Rig r;
    r.device.actual_hv = 500;
    r.device.acquisition740 = 2;
    r.device.failures.push_back({step, 3, 0});
    r.start();
    EXPECT_EQ(r.window.messages, std::vector<std::string>{"The connection to the MCA-740 has been brocken!"}) << step;
    EXPECT_EQ(r.device.calls.back(), "COMM_CLOSE()") << step;
    EXPECT_FALSE(r.recorder.connected()) << step;
    EXPECT_TRUE(r.window.only_connect_enabled()) << step;
    EXPECT_EQ(r.window.timer_starts, 0) << step;
  }
}

TEST(RecorderConnect, AnHvThatNeverReachesZeroDoesNotHang) {
  Rig r;
  r.device.actual_hv = 900;
  r.device.hv_steps_to_zero = 1 << 30;
  r.recorder.set_hv_off_limit_ms(50);
  r.start();
  EXPECT_EQ(r.device.count("LYRA_RESET"), 0);
  EXPECT_EQ(r.window.messages.size(), 1u);
  EXPECT_FALSE(r.recorder.connected());
}

TEST(RecorderConnect, ControlsFollowTheFeatureFlags) {
  Rig r;
  r.device.app_code = "KPUL";
  r.device.hv_set = 750;
  r.device.max_hv = 2000;
  r.device.gain = 50;
  r.start();
  EXPECT_TRUE(r.window.enabled[Control::hv_edit]);
  EXPECT_TRUE(r.window.enabled[Control::hv_display]);
  EXPECT_TRUE(r.window.enabled[Control::hv_set]);
  EXPECT_EQ(r.window.hv_rules.maximum(), 2000.0);
  EXPECT_EQ(r.window.hv_rules.value(), 750.0);
  EXPECT_TRUE(r.window.enabled[Control::gain_list]);
  EXPECT_EQ(r.window.gain_index, 4);
  EXPECT_EQ(r.device.count("LYRA_SET_GAIN"), 0);  // selecting from code sends nothing
  EXPECT_TRUE(r.window.enabled[Control::time_edit]);
  EXPECT_FALSE(r.window.enabled[Control::start]);  // time 0

  Rig bare;
  bare.device.app_code = "KPUL";
  bare.device.flags = 0;
  bare.device.gain = 7;  // not in the list: selection unchanged
  bare.start();
  EXPECT_FALSE(bare.window.enabled[Control::hv_edit]);
  EXPECT_FALSE(bare.window.enabled[Control::hv_display]);
  EXPECT_FALSE(bare.window.enabled[Control::hv_set]);
  EXPECT_FALSE(bare.window.enabled[Control::gain_list]);
  EXPECT_EQ(bare.window.gain_index, -1);
  const size_t before = bare.device.calls.size();
  bare.recorder.on_timer(1);
  EXPECT_EQ(bare.device.calls.size(), before);  // no HV controls: the timer sends nothing
}

TEST(RecorderConnect, TimeRangeFromFirmwareRateAndMemory) {
  Rig old_fw;
  old_fw.device.firmware = 0x1303;
  old_fw.device.rate_khz = 5000;
  old_fw.device.memory = 1440 + 2'000'000;
  old_fw.start();
  EXPECT_DOUBLE_EQ(old_fw.window.time_rules.maximum(), 2'000'000.0 / 2e7);

  Rig new_fw;
  new_fw.device.rate_khz = 5000;
  new_fw.device.memory = 1440 + 2'000'000;
  new_fw.start();
  EXPECT_EQ(new_fw.recorder.rate(), 5'000'000u);
  EXPECT_DOUBLE_EQ(new_fw.window.time_rules.maximum(), 0.2);

  for (uint32_t m : {1440u, 1000u}) {
    Rig small;
    small.device.memory = m;
    small.start();
    EXPECT_EQ(small.window.time_rules.maximum(), 0.0) << m;
    small.window.type_time("0.5");
    EXPECT_FALSE(small.window.enabled[Control::start]) << m;
  }
}

TEST(RecorderConnect, StartFollowsTheTypedTime) {
  Rig r;
  r.start();
  r.window.type_time("0.1");
  EXPECT_TRUE(r.window.enabled[Control::start]);
  r.window.type_time("5");  // beyond 0.4194 s of 16 MB at 20 MHz: red, invalid
  EXPECT_FALSE(r.window.enabled[Control::start]);
  r.window.type_time("");
  EXPECT_FALSE(r.window.enabled[Control::start]);
  r.window.type_time("0.0000");
  EXPECT_FALSE(r.window.enabled[Control::start]);
  r.window.type_time("0.0001");
  EXPECT_TRUE(r.window.enabled[Control::start]);
}

TEST(RecorderConnect, HvDisplayAndHvSet) {
  Rig r;
  r.device.app_code = "KPUL";
  r.device.hv_set = 800;
  r.device.actual_hv = 802;
  r.start();
  r.recorder.on_timer(1);
  EXPECT_EQ(r.window.texts[Control::hv_display], "+800");
  r.device.actual_hv = 803;
  r.recorder.on_timer(1);
  EXPECT_EQ(r.window.texts[Control::hv_display], "+803");

  // The same value as set: nothing is sent.
  const size_t before = r.device.calls.size();
  r.window.hv_rules.set_value(800.9);  // truncated to 800
  r.recorder.on_hv_set_button();
  EXPECT_EQ(r.device.calls.size(), before);
  r.window.hv_rules.set_value(1000);
  r.recorder.on_hv_set_button();
  EXPECT_EQ(std::vector<std::string>(r.device.calls.begin() + static_cast<long>(before), r.device.calls.end()),
            (std::vector<std::string>{"LYRA_SET_HIGH_VOLTAGES(1000,0)", "LYRA_QUERY_STATE()"}));
}

TEST(RecorderConnect, GainSet) {
  Rig r;
  r.start();
  r.window.gain_index = 3;
  const size_t before = r.device.calls.size();
  r.recorder.on_gain_selected();
  EXPECT_EQ(std::vector<std::string>(r.device.calls.begin() + static_cast<long>(before), r.device.calls.end()),
            (std::vector<std::string>{"LYRA_SET_GAIN(20,10000)", "LYRA_QUERY_STATE()"}));
}

TEST(RecorderConnect, FailuresAfterConnectResetTheWindow) {
  for (int which = 0; which < 3; ++which) {
    Rig r;
    r.device.hv_set = 10;
    r.start();
    r.window.type_time("0.1");
    r.device.failures.push_back({which == 0 ? "LYRA_QUERY_POWER" : which == 1 ? "LYRA_SET_HIGH_VOLTAGES" : "LYRA_SET_GAIN", 3, 0});
    if (which == 0) r.recorder.on_timer(1);
    if (which == 1) {
      r.window.hv_rules.set_value(20);
      r.recorder.on_hv_set_button();
    }
    if (which == 2) {
      r.window.gain_index = 1;
      r.recorder.on_gain_selected();
    }
    EXPECT_EQ(r.window.messages, std::vector<std::string>{"The connection to the MCA-740 has been brocken!"});
    EXPECT_FALSE(r.recorder.connected());
    EXPECT_TRUE(r.window.only_connect_enabled());
    EXPECT_EQ(r.window.texts[Control::connect], "Connect MCA-740 ...");
    EXPECT_EQ(r.window.texts[Control::hv_display], "0");
    EXPECT_EQ(r.window.time_rules.value(), 0.0);
    EXPECT_EQ(r.window.timer_id, 0);
    EXPECT_FALSE(r.recorder.timer_running());
    EXPECT_EQ(r.device.calls.back(), "COMM_CLOSE()");
  }
}

TEST(RecorderConnect, DisconnectSendsNothing) {
  Rig r;
  r.start();
  const size_t before = r.device.calls.size();
  r.recorder.on_connect_button();
  EXPECT_EQ(std::vector<std::string>(r.device.calls.begin() + static_cast<long>(before), r.device.calls.end()),
            std::vector<std::string>{"COMM_CLOSE()"});
  EXPECT_FALSE(r.recorder.connected());
  EXPECT_TRUE(r.window.only_connect_enabled());
  EXPECT_EQ(r.window.timer_id, 0);
}

// ---- recording ----

class RecordingRig : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = lyratest::make_temp_dir("rec");
    r.device.app_code = "KPUL";
    r.device.rate_khz = 1000;  // R = 1 MHz
    r.start();
    ASSERT_TRUE(r.recorder.connected());
  }
  void record(const std::string& time, const std::string& path) {
    r.window.type_time(time);
    r.window.save_answers.push_back(path);
    r.recorder.on_start_button();
  }
  std::string expected_text(uint64_t n) const {
    std::string s;
    char line[16];
    for (uint64_t i = 0; i < n; ++i) {
      std::snprintf(line, sizeof line, "%5hu\r\n", static_cast<unsigned short>(r.device.sample(i) & 0x3FFF));
      s += line;
    }
    return s;
  }
  Rig r;
  std::string dir;
};

TEST_F(RecordingRig, ThousandSamplesAreTwoChunksAndShow72Percent) {
  const std::string path = dir + "/a.txt";
  const size_t before = r.device.calls.size();
  record("0.001", path);
  std::vector<std::string> calls(r.device.calls.begin() + static_cast<long>(before), r.device.calls.end());
  EXPECT_EQ(calls, (std::vector<std::string>{"LYRA_SET_COMMON_MEMORY_FILL_STOP(2000)", "LYRA_START_ACQUIRE(0,0)",
                                             "LYRA_QUERY_COMMON_MEMORY(0)", "LYRA_QUERY_COMMON_MEMORY(720)"}));
  EXPECT_EQ(r.window.pauses, std::vector<unsigned>{100});
  EXPECT_EQ(r.window.progress, (std::vector<unsigned>{0, 72}));  // 100 % is never painted
  EXPECT_EQ(r.window.pumps, 1);
  EXPECT_FALSE(r.window.progress_shown);
  EXPECT_EQ(r.window.close_history, (std::vector<bool>{false, true}));
  EXPECT_EQ(read_file(path), expected_text(1000));
  EXPECT_EQ(r.window.previews.size(), 1u);
  EXPECT_EQ(r.window.previews[0].first, path);
  EXPECT_EQ(r.window.previews[0].second, 1'000'000u);
  // The connected look is back.
  for (Control c : {Control::hv_edit, Control::hv_display, Control::hv_set, Control::gain_list, Control::time_edit,
                    Control::start, Control::connect}) {
    EXPECT_TRUE(r.window.enabled[c]) << static_cast<int>(c);
  }
  EXPECT_TRUE(r.window.messages.empty());
}

TEST_F(RecordingRig, ExactMultiplesAndEmptyRecordings) {
  record("0.00144", dir + "/b.wav");  // 1440 samples: exactly two chunks
  EXPECT_EQ(r.device.count("LYRA_QUERY_COMMON_MEMORY"), 2);
  EXPECT_EQ(r.window.progress, (std::vector<unsigned>{0, 50}));
  const std::string wav = read_file(dir + "/b.wav");
  ASSERT_EQ(wav.size(), 44u + 2880u);
  EXPECT_EQ(get_u32(reinterpret_cast<const uint8_t*>(wav.data()) + 40), 2880u);
  for (size_t i = 0; i < 1440; ++i) {
    const auto stored = static_cast<int16_t>(get_u16(reinterpret_cast<const uint8_t*>(wav.data()) + 44 + 2 * i));
    ASSERT_EQ(stored, static_cast<int>(r.device.sample(i) & 0x3FFF) - 8192) << i;
  }
  // N = 0 (0.1 us at 1 MHz): one chunk read, nothing written.
  r.device.rate_khz = 1;
  r.recorder.on_connect_button();
  r.recorder.on_connect_button();
  r.window.time_rules.set_value(0.0001);
  const int reads = r.device.count("LYRA_QUERY_COMMON_MEMORY");
  r.window.save_answers.push_back(dir + "/c.wav");
  r.recorder.on_start_button();
  EXPECT_EQ(r.device.count("LYRA_QUERY_COMMON_MEMORY"), reads + 1);
  EXPECT_EQ(read_file(dir + "/c.wav").size(), 44u);
  EXPECT_EQ(r.device.calls[r.device.index_of("LYRA_SET_COMMON_MEMORY_FILL_STOP(0)")], "LYRA_SET_COMMON_MEMORY_FILL_STOP(0)");
}

TEST_F(RecordingRig, CapitalWavIsTextAndThePathIsOfferedAgain) {
  record("0.0001", dir + "/shot.WAV");
  EXPECT_EQ(read_file(dir + "/shot.WAV"), expected_text(100));
  EXPECT_EQ(r.window.offered.front(), "*.txt");
  record("0.0001", dir + "/shot.WAV");
  EXPECT_EQ(r.window.offered.back(), dir + "/shot.WAV");
  EXPECT_EQ(r.recorder.trace_path(), dir + "/shot.WAV");
}

TEST_F(RecordingRig, CancelAndFileErrorsSendNothing) {
  r.window.type_time("0.001");
  const size_t before = r.device.calls.size();
  r.window.save_answers.push_back(std::nullopt);  // cancelled
  r.recorder.on_start_button();
  EXPECT_TRUE(r.window.messages.empty());
  r.window.save_answers.push_back(dir + "/no/such/dir/a.txt");
  r.recorder.on_start_button();
  r.window.save_answers.push_back(dir + "/" + std::string(300, 'x') + ".txt");  // too long for a trace path
  r.recorder.on_start_button();
  EXPECT_EQ(r.device.calls.size(), before);
  EXPECT_EQ(r.window.messages, (std::vector<std::string>{"File error!", "File error!"}));
  EXPECT_EQ(r.recorder.trace_path(), dir + "/no/such/dir/a.txt");  // the long one was not kept
  EXPECT_TRUE(r.window.enabled[Control::start]);  // controls untouched
  EXPECT_TRUE(r.window.close_history.empty());
}

TEST_F(RecordingRig, FailedStartReturnsToTheDisconnectedWindow) {
  for (const char* step : {"LYRA_SET_COMMON_MEMORY_FILL_STOP", "LYRA_START_ACQUIRE"}) {
    if (!r.recorder.connected()) r.recorder.on_connect_button();
    r.device.failures = {{step, 6, 0}};
    r.window.messages.clear();
    const std::string path = dir + "/f.wav";
    record("0.001", path);
    EXPECT_EQ(r.window.messages, std::vector<std::string>{"The connection to the MCA-740 has been brocken!"}) << step;
    EXPECT_EQ(read_file(path).size(), 44u) << step;  // the header only
    EXPECT_FALSE(r.recorder.connected());
    EXPECT_TRUE(r.window.only_connect_enabled());
    EXPECT_TRUE(r.window.close_enabled);
    EXPECT_FALSE(r.window.progress_shown);
    EXPECT_EQ(r.device.calls.back(), "COMM_CLOSE()");
    EXPECT_TRUE(r.window.previews.empty());
    r.device.failures.clear();
  }
}

TEST_F(RecordingRig, FailedReadKeepsWhatCameBefore) {
  r.device.failures = {{"LYRA_QUERY_COMMON_MEMORY", 3, 2}};
  const std::string path = dir + "/g.txt";
  record("0.003", path);  // 3000 samples, the third read fails
  EXPECT_EQ(read_file(path), expected_text(1440));
  EXPECT_EQ(r.window.messages.size(), 1u);
  EXPECT_FALSE(r.recorder.connected());
  EXPECT_TRUE(r.window.only_connect_enabled());
  EXPECT_EQ(r.window.timer_id, 0);
}

TEST_F(RecordingRig, TimerTicksRunBetweenReadsAndItsFailureEndsTheRecording) {
  r.window.on_pump = [&] { r.recorder.on_timer(1); };
  record("0.002", dir + "/h.txt");  // three chunks, two pumps
  EXPECT_EQ(r.window.pumps, 2);
  const size_t first = r.device.index_of("LYRA_QUERY_COMMON_MEMORY(0)");
  EXPECT_EQ(r.device.calls[first + 1], "LYRA_QUERY_POWER()");
  EXPECT_EQ(r.device.calls[first + 2], "LYRA_QUERY_COMMON_MEMORY(720)");

  // The power query fails in a tick: one message, the next read finds no link.
  r.device.failures = {{"LYRA_QUERY_POWER", 3, 0}};
  record("0.002", dir + "/i.txt");
  EXPECT_EQ(r.window.messages, std::vector<std::string>{"The connection to the MCA-740 has been brocken!"});
  EXPECT_FALSE(r.recorder.connected());
  EXPECT_TRUE(r.window.only_connect_enabled());
  EXPECT_TRUE(r.window.close_enabled);
  EXPECT_EQ(read_file(dir + "/i.txt"), expected_text(720));
}

TEST_F(RecordingRig, AFullDiskIsReportedAndTheLinkStays) {
  r.window.messages.clear();
  record("0.002", "/dev/full");
  ASSERT_EQ(r.window.messages.size(), 1u);
  EXPECT_EQ(r.window.messages[0].rfind("File error!\n\n", 0), 0u);
  EXPECT_NE(r.window.messages[0].find("No space left on device"), std::string::npos);
  EXPECT_NE(r.window.messages[0].find("first 0 of 2000 samples"), std::string::npos);
  EXPECT_EQ(r.device.count("LYRA_QUERY_COMMON_MEMORY"), 1);  // reading stopped at once
  EXPECT_TRUE(r.recorder.connected());
  EXPECT_NE(r.device.calls.back(), "COMM_CLOSE()");
  EXPECT_TRUE(r.window.enabled[Control::start]);
  EXPECT_TRUE(r.window.close_enabled);
  EXPECT_FALSE(r.window.progress_shown);
  EXPECT_TRUE(r.window.previews.empty());
}
