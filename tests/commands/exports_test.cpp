// SPDX-License-Identifier: LGPL-2.1-or-later
// The exported command functions and the generic entry through
// liblyralink.so against lyrasim over UDP: the exact frames on the wire
// (from lyrasim's frame record), the caller-visible results, the failure
// paths and what the emulated analyser reports back.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "include/lyralink.h"
#include "lyralink/link/bytes.h"
#include "platform/clock.h"
#include "tests/support/emulator.h"
#include "tools/lyrasim/device.h"

using lyralink::get_u16;
using lyralink::get_u32;
using lyratest::Emulator;

namespace {

// Arguments whose low byte, low word and full value all differ, so that a
// wrong packing shows in the frame.
constexpr int32_t A1 = 0x00110A01, A2 = 0x00220B02, A3 = 0x00330C03, A4 = 0x00440D04, A5 = 0x00550E05,
                  A6 = 0x00660F06;

struct Frame {
  uint16_t code;
  std::string params;  // the six parameter bytes in hex, as on the wire
};

std::string wire_hex(const Frame& f) {
  char code[8];
  std::snprintf(code, sizeof code, "%02x%02x", f.code & 0xFF, f.code >> 8);
  return "a55a" + std::string(code) + f.params + "b99b";
}

constexpr uint8_t kSentinel = 0xEE;
constexpr size_t kBufferSize = 2884 + 64;  // the largest answer plus room to see an overrun

struct Buffer {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(kBufferSize, kSentinel);
  uint8_t* data() { return bytes.data(); }
  bool untouched_from(size_t n) const {
    for (size_t i = n; i < bytes.size(); ++i) {
      if (bytes[i] != kSentinel) return false;
    }
    return true;
  }
};

class Exports : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // A fast HV ramp, so that the actual HV settles between two queries, and
    // a common memory that takes half a minute to fill.
    sim_ = Emulator::start({"--udp", "127.0.0.1=740,sn=2024,ramp=60000,memory=1073741824", "--udp", "127.0.0.2=740,sysdef=1", "--udp",
                            "127.0.0.3=310"})
               .release();
    ASSERT_NE(sim_, nullptr);
  }
  static void TearDownTestSuite() {
    delete sim_;
    sim_ = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(sim_, nullptr);
    ASSERT_TRUE(sim_->control("clear-faults"));
    open("127.0.0.1");
  }
  void TearDown() override { COMM_CLOSE(); }

  void open(const char* address) {
    COMM_CLOSE();
    ASSERT_EQ(COMM_INIT_ETHERNET_IP(address, 850, 1), 1);
    sim_->clear_record();
  }
  std::vector<std::string> sent() const {
    std::vector<std::string> out;
    for (const auto& f : sim_->frames()) out.push_back(f.hex());
    return out;
  }
  std::vector<uint16_t> sent_codes() const {
    std::vector<uint16_t> out;
    for (const auto& f : sim_->frames()) out.push_back(f.code());
    return out;
  }

  static Emulator* sim_;
};
Emulator* Exports::sim_ = nullptr;

std::vector<std::string> wire(const std::vector<Frame>& frames) {
  std::vector<std::string> out;
  for (const Frame& f : frames) out.push_back(wire_hex(f));
  return out;
}

// ---- every export: frames and caller-visible result ----

enum class Answer { none, short_data, bulk_data, long_data, text };

struct ExportCase {
  const char* name;
  std::function<int16_t(uint8_t*)> call;
  std::vector<Frame> frames;
  Answer answer = Answer::none;
  size_t written = 0;  // bytes the caller's buffer may receive
};

const uint8_t kIp[4] = {192, 168, 0, 10};
const int32_t kAhrc[10] = {0x01020300, 0x01020301, 0x01020302, 0x01020303, 0x01020304,
                           0x01020305, 0x01020306, 0x01020307, 0x01020308, 0x01020309};
const uint8_t kDetectorBytes[3] = {0x11, 0x22, 0x33};

std::vector<Frame> ahrc_frames() {
  std::vector<Frame> f{{304, "ffff010a0000"}};
  for (int i = 0; i < 10; ++i) {
    // word 1 = i, words 2-3 = 0x010203ii
    char p[16];
    std::snprintf(p, sizeof p, "%02x00%02x030201", i, i);
    f.push_back({304, p});
  }
  return f;
}

const char* const Z = "000000000000";
constexpr size_t S = 132;

std::vector<ExportCase> export_cases() {
  auto none = Answer::none;
  auto sh = Answer::short_data;
  auto lg = Answer::long_data;
  return {
      // Acquisition and setting commands.
      {"LYRA_RESET", [](uint8_t*) { return LYRA_RESET(); }, {{65, Z}}},
      {"LYRA_START_ACQUIRE", [](uint8_t*) { return LYRA_START_ACQUIRE(A1, A2); }, {{66, "010a020b2200"}}},
      {"LYRA_STOP_ACQUIRE", [](uint8_t*) { return LYRA_STOP_ACQUIRE(); }, {{67, Z}}},
      {"LYRA_CLEAR_MEMORY", [](uint8_t*) { return LYRA_CLEAR_MEMORY(); }, {{68, Z}}},
      {"LYRA_CLEAR_TIME", [](uint8_t*) { return LYRA_CLEAR_TIME(); }, {{68, "010000000000"}}},
      {"LYRA_CLEAR_ROI", [](uint8_t*) { return LYRA_CLEAR_ROI(); }, {{68, "020000000000"}}},
      {"LYRA_CLEAR_ALL", [](uint8_t*) { return LYRA_CLEAR_ALL(); }, {{68, "030000000000"}}},
      {"LYRA_SET_MODE_MCA", [](uint8_t*) { return LYRA_SET_MODE_MCA(); }, {{69, Z}}},
      {"LYRA_SET_MODE_MCS", [](uint8_t*) { return LYRA_SET_MODE_MCS(); }, {{69, "010000000000"}}},
      {"LYRA_SET_MODE_MCS_TTL", [](uint8_t*) { return LYRA_SET_MODE_MCS_TTL(); }, {{69, "010000000000"}, {85, Z}}},
      {"LYRA_SET_MODE_MCS_DISCR", [](uint8_t*) { return LYRA_SET_MODE_MCS_DISCR(); },
       {{69, "010000000000"}, {85, "020000000000"}}},
      {"LYRA_SET_MODE_MCS_ICR", [](uint8_t*) { return LYRA_SET_MODE_MCS_ICR(); },
       {{69, "010000000000"}, {85, "010000000000"}}},
      {"LYRA_SET_MCS_INPUT_TTL", [](uint8_t*) { return LYRA_SET_MCS_INPUT_TTL(); }, {{85, Z}}},
      {"LYRA_SET_MCS_INPUT_DISCR", [](uint8_t*) { return LYRA_SET_MCS_INPUT_DISCR(); }, {{85, "020000000000"}}},
      {"LYRA_SET_MCS_INPUT_ICR", [](uint8_t*) { return LYRA_SET_MCS_INPUT_ICR(); }, {{85, "010000000000"}}},
      {"LYRA_SET_ADC_RES_DISCR", [](uint8_t*) { return LYRA_SET_ADC_RES_DISCR(A1, A2, A3); }, {{70, "010a020b030c"}}},
      {"LYRA_SET_THRESHOLD", [](uint8_t*) { return LYRA_SET_THRESHOLD(A1); }, {{71, "010a00000000"}}},
      {"LYRA_SET_PRESET_NONE", [](uint8_t*) { return LYRA_SET_PRESET_NONE(); }, {{72, Z}}},
      {"LYRA_SET_PRESET_REAL_TIME", [](uint8_t*) { return LYRA_SET_PRESET_REAL_TIME(A1); }, {{72, "0100010a1100"}}},
      {"LYRA_SET_PRESET_LIVE_TIME", [](uint8_t*) { return LYRA_SET_PRESET_LIVE_TIME(100000); },
       {{72, "0200a0860100"}}},
      {"LYRA_SET_PRESET_INTEGRAL", [](uint8_t*) { return LYRA_SET_PRESET_INTEGRAL(A1); }, {{72, "0300010a1100"}}},
      {"LYRA_SET_PRESET_AREA", [](uint8_t*) { return LYRA_SET_PRESET_AREA(A1); }, {{72, "0400010a1100"}}},
      {"LYRA_SET_PRESET_REAL_TIME_MILLISECONDS", [](uint8_t*) { return LYRA_SET_PRESET_REAL_TIME_MILLISECONDS(A1); },
       {{72, "0500010a1100"}}},
      {"LYRA_SET_ROI", [](uint8_t*) { return LYRA_SET_ROI(A1, A2); }, {{73, "010a020b0000"}}},
      {"LYRA_SET_REPEAT", [](uint8_t*) { return LYRA_SET_REPEAT(A1); }, {{74, "010a00000000"}}},
      {"LYRA_SET_TIME_PER_CHANNEL", [](uint8_t*) { return LYRA_SET_TIME_PER_CHANNEL(A1); }, {{75, "010a00000000"}}},
      {"LYRA_SET_TIME_PER_CHANNEL740", [](uint8_t*) { return LYRA_SET_TIME_PER_CHANNEL740(A1); },
       {{277, "010a11000000"}}},
      {"LYRA_SET_GAIN", [](uint8_t*) { return LYRA_SET_GAIN(A1, A2); }, {{76, "010a020b0000"}}},
      {"LYRA_SET_STABILISATION", [](uint8_t*) { return LYRA_SET_STABILISATION(A1, A2, A3); }, {{77, "010a020b030c"}}},
      {"LYRA_SET_PREAMPLIFIER_POWER", [](uint8_t*) { return LYRA_SET_PREAMPLIFIER_POWER(A1); }, {{78, "010a00000000"}}},
      {"LYRA_SET_HIGH_VOLTAGES", [](uint8_t*) { return LYRA_SET_HIGH_VOLTAGES(A1, A2); }, {{79, "010a020b2200"}}},
      {"LYRA_SET_FAST", [](uint8_t*) { return LYRA_SET_FAST(A1); }, {{80, "010a00000000"}}},
      {"LYRA_SET_SLOW", [](uint8_t*) { return LYRA_SET_SLOW(A1); }, {{81, "010a00000000"}}},
      {"LYRA_SET_SHAPING_TIME_LOW", [](uint8_t*) { return LYRA_SET_SHAPING_TIME_LOW(); }, {{82, "010000000000"}}},
      {"LYRA_SET_SHAPING_TIME_HIGH", [](uint8_t*) { return LYRA_SET_SHAPING_TIME_HIGH(); }, {{82, "030000000000"}}},
      {"LYRA_SET_PILE_UP_REJECTION", [](uint8_t*) { return LYRA_SET_PILE_UP_REJECTION(A1); }, {{83, "010a00000000"}}},
      {"LYRA_SET_MCA_INPUT_AMPLIFIER", [](uint8_t*) { return LYRA_SET_MCA_INPUT_AMPLIFIER(); }, {{84, Z}}},
      {"LYRA_SET_MCA_INPUT_AMPLIFIER_POS", [](uint8_t*) { return LYRA_SET_MCA_INPUT_AMPLIFIER_POS(); },
       {{84, Z}, {86, Z}}},
      {"LYRA_SET_MCA_INPUT_AMPLIFIER_NEG", [](uint8_t*) { return LYRA_SET_MCA_INPUT_AMPLIFIER_NEG(); },
       {{84, Z}, {86, "010000000000"}}},
      {"LYRA_SET_MCA_INPUT_DIRECT", [](uint8_t*) { return LYRA_SET_MCA_INPUT_DIRECT(); }, {{84, "050000000000"}}},
      {"LYRA_SET_MCA_INPUT_DIRECT_POS", [](uint8_t*) { return LYRA_SET_MCA_INPUT_DIRECT_POS(); },
       {{84, "030000000000"}}},
      {"LYRA_SET_MCA_INPUT_DIRECT_NEG", [](uint8_t*) { return LYRA_SET_MCA_INPUT_DIRECT_NEG(); },
       {{84, "040000000000"}}},
      {"LYRA_SET_INPUT_POLARITY_POS", [](uint8_t*) { return LYRA_SET_INPUT_POLARITY_POS(); }, {{86, Z}}},
      {"LYRA_SET_INPUT_POLARITY_NEG", [](uint8_t*) { return LYRA_SET_INPUT_POLARITY_NEG(); }, {{86, "010000000000"}}},
      {"LYRA_SET_USER_DATA", [](uint8_t*) { return LYRA_SET_USER_DATA(A1, A2); }, {{87, "010a020b2200"}}},
      {"LYRA_SET_PZC_MANUAL", [](uint8_t* b) { return LYRA_SET_PZC_MANUAL(A1, b); }, {{88, "0f00010a0000"}}, sh, S},
      {"LYRA_SET_PZC_VALUE", [](uint8_t* b) { return LYRA_SET_PZC_VALUE(A1, b); }, {{88, "0000010a0000"}}, sh, S},
      {"LYRA_SET_PZC_AUTOMATED", [](uint8_t*) { return LYRA_SET_PZC_AUTOMATED(); }, {{88, "ffff00000000"}}},
      {"LYRA_SET_PZC_TIME_OFFSET", [](uint8_t*) { return LYRA_SET_PZC_TIME_OFFSET(A1, A2); }, {{96, "010a020b0000"}}},
      {"LYRA_SET_TDF", [](uint8_t*) { return LYRA_SET_TDF(A1); }, {{97, "010a00000000"}}},
      {"LYRA_SET_MCS_CHANNEL", [](uint8_t*) { return LYRA_SET_MCS_CHANNEL(A1); }, {{99, "010a00000000"}}},
      {"LYRA_SET_UF6_ROIS", [](uint8_t*) { return LYRA_SET_UF6_ROIS(A1, A2, A3); }, {{100, "010a020b030c"}}},
      {"LYRA_SET_STAB_PARAM", [](uint8_t*) { return LYRA_SET_STAB_PARAM(A1, A2); }, {{103, "010a020b2200"}}},
      {"LYRA_SET_TRIGGER_FILTER", [](uint8_t*) { return LYRA_SET_TRIGGER_FILTER(A1, A2); }, {{259, "010a020b0000"}}},
      {"LYRA_SET_GENERAL_MODE", [](uint8_t*) { return LYRA_SET_GENERAL_MODE(A1); }, {{261, "010a00000000"}}},
      {"LYRA_SET_TRIGGER_PARAM", [](uint8_t*) { return LYRA_SET_TRIGGER_PARAM(A1, A2); }, {{262, "010a020b2200"}}},
      {"LYRA_SET_OFFSET_DAC", [](uint8_t*) { return LYRA_SET_OFFSET_DAC(A1); }, {{266, "010a00000000"}}},
      {"LYRA_SET_IP_ADDRESS", [](uint8_t*) { return LYRA_SET_IP_ADDRESS(kIp); }, {{267, "c0a8000a0000"}}},
      {"LYRA_SET_SHAPING_TIME_PAIR", [](uint8_t*) { return LYRA_SET_SHAPING_TIME_PAIR(A1, A2); },
       {{268, "010a020b0000"}}},
      {"LYRA_SET_THRESHOLD_TENTHS", [](uint8_t*) { return LYRA_SET_THRESHOLD_TENTHS(A1); }, {{269, "010a00000000"}}},
      {"LYRA_SET_GATING", [](uint8_t*) { return LYRA_SET_GATING(A1, A2, A3); }, {{271, "010203000000"}}},
      {"LYRA_SET_OSCI_TRIGGER", [](uint8_t*) { return LYRA_SET_OSCI_TRIGGER(A1, A2, A3, A4); },
       {{273, "0102030c040d"}}},
      {"LYRA_SET_FLAT_TOP_TIME", [](uint8_t*) { return LYRA_SET_FLAT_TOP_TIME(A1); }, {{275, "010a00000000"}}},
      {"LYRA_SET_EVAL_FILTER_TYPE", [](uint8_t*) { return LYRA_SET_EVAL_FILTER_TYPE(A1); }, {{276, "010a00000000"}}},
      {"LYRA_SET_JITTER_CORRECTION", [](uint8_t*) { return LYRA_SET_JITTER_CORRECTION(A1); }, {{278, "010a00000000"}}},
      {"LYRA_SET_COMMON_MEMORY_FILL_STOP", [](uint8_t*) { return LYRA_SET_COMMON_MEMORY_FILL_STOP(A1); },
       {{279, "010a11000000"}}},
      {"LYRA_SET_BASELINE_RESTORING", [](uint8_t*) { return LYRA_SET_BASELINE_RESTORING(0x1FF); },
       {{280, "ff0000000000"}}},
      {"LYRA_SET_PIN5_CURRENT_SOURCE", [](uint8_t*) { return LYRA_SET_PIN5_CURRENT_SOURCE(A1); },
       {{281, "010000000000"}}},
      {"LYRA_SET_AHRC_PARAM", [](uint8_t*) { return LYRA_SET_AHRC_PARAM(A1, kAhrc); }, ahrc_frames()},
      {"LYRA_SET_GATING_TIME_WINDOW_WIDTH", [](uint8_t*) { return LYRA_SET_GATING_TIME_WINDOW_WIDTH(A1, A2); },
       {{306, "010a020b2200"}}},
      // Queries.
      {"LYRA_QUERY_VOLTAGE_CURRENT", [](uint8_t* b) { return LYRA_QUERY_VOLTAGE_CURRENT(b); }, {{5, Z}}, sh, S},
      {"LYRA_QUERY_VOLTAGE_CURRENT_EX", [](uint8_t* b) { return LYRA_QUERY_VOLTAGE_CURRENT_EX(b, A1); }, {{5, Z}},
       sh, S},
      {"LYRA_QUERY_POWER", [](uint8_t* b) { return LYRA_QUERY_POWER(b); }, {{89, Z}}, sh, S},
      {"LYRA_QUERY_STATE", [](uint8_t* b) { return LYRA_QUERY_STATE(b); }, {{90, Z}}, sh, S},
      {"LYRA_QUERY_ON_LINE", [](uint8_t*) { return LYRA_QUERY_ON_LINE(); }, {{90, Z}}},
      {"LYRA_QUERY_SPECTRA", [](uint8_t* b) { return LYRA_QUERY_SPECTRA(A1, A2, b); }, {{91, "010a020b2200"}},
       Answer::bulk_data, S},
      {"LYRA_QUERY_SPECTRA_EX", [](uint8_t* b) { return LYRA_QUERY_SPECTRA_EX(0, 32, 15, b); }, {{91, "00f020000000"}},
       Answer::bulk_data, S},
      {"LYRA_QUERY_IMAGE", [](uint8_t* b) { return LYRA_QUERY_IMAGE(A1, A2, A3, b); }, {{92, "010a020b030c"}},
       Answer::bulk_data, S},
      {"LYRA_QUERY_ENRICHMENT", [](uint8_t* b) { return LYRA_QUERY_ENRICHMENT(100, 199, 300, 309, b); },
       {{93, "640a64002c01"}}, sh, S},
      {"LYRA_QUERY_USER_DATA", [](uint8_t* b) { return LYRA_QUERY_USER_DATA(A1, b); }, {{94, "010a00000000"}}, sh, S},
      {"LYRA_QUERY_CENTROID", [](uint8_t* b) { return LYRA_QUERY_CENTROID(A1, A2, b); }, {{95, "010a020b0000"}}, sh,
       S},
      {"LYRA_QUERY_SYSTEM_DATA", [](uint8_t* b) { return LYRA_QUERY_SYSTEM_DATA(b); }, {{98, Z}}, sh, S},
      {"LYRA_QUERY_UF6_ROIS", [](uint8_t* b) { return LYRA_QUERY_UF6_ROIS(b); }, {{101, Z}}, sh, S},
      {"LYRA_QUERY_UF6_INFO", [](uint8_t* b) { return LYRA_QUERY_UF6_INFO(b); }, {{102, Z}}, sh, S},
      {"LYRA_QUERY_STATE740", [](uint8_t* b) { return LYRA_QUERY_STATE740(b); }, {{257, Z}}, sh, S},
      {"LYRA_QUERY_STATE740_EX", [](uint8_t* b) { return LYRA_QUERY_STATE740_EX(b); }, {{272, Z}}, sh, S},
      {"LYRA_QUERY_STATE740_EX2", [](uint8_t* b) { return LYRA_QUERY_STATE740_EX2(b); }, {{303, Z}}, sh, S},
      {"LYRA_QUERY_COMMON_MEMORY", [](uint8_t* b) { return LYRA_QUERY_COMMON_MEMORY(A1, b); }, {{263, "010a11000000"}},
       lg, 1440},
      {"LYRA_QUERY_HISTOGRAM", [](uint8_t* b) { return LYRA_QUERY_HISTOGRAM(A1, A2, b); }, {{265, "010a020b0000"}},
       lg, 1024},
      {"LYRA_QUERY_FILTER", [](uint8_t* b) { return LYRA_QUERY_FILTER(A1, b); }, {{270, "010a00000000"}}, lg, 1452},
      {"LYRA_QUERY_OSCI_SCREEN", [](uint8_t* b) { return LYRA_QUERY_OSCI_SCREEN(A1, b); }, {{274, "010a11000000"}},
       lg, 1008},
      {"LYRA_QUERY_ADJUSTMENT_TABLE", [](uint8_t* b) { return LYRA_QUERY_ADJUSTMENT_TABLE(b); }, {{294, Z}}, sh, S},
      {"LYRA_QUERY_OSCI_SCREEN_EX", [](uint8_t* b) { return LYRA_QUERY_OSCI_SCREEN_EX(A1, b); },
       {{297, "010a00000000"}}, lg, 1444},
      {"LYRA_QUERY_OSCI_TRIGGER_FILTER_RESULTS",
       [](uint8_t* b) { return LYRA_QUERY_OSCI_TRIGGER_FILTER_RESULTS(1, b); }, {{298, Z}, {298, "010000000000"}}, lg,
       2884},
      {"LYRA_QUERY_OSCI_MAIN_FILTER_RESULTS", [](uint8_t* b) { return LYRA_QUERY_OSCI_MAIN_FILTER_RESULTS(b); },
       {{299, Z}}, lg, 1442},
      {"LYRA_QUERY_BASELINE", [](uint8_t* b) { return LYRA_QUERY_BASELINE(b); }, {{300, Z}}, sh, S},
      {"LYRA_QUERY_CLUSTER", [](uint8_t* b) { return LYRA_QUERY_CLUSTER(A1, A2, b); }, {{302, "010a1100020b"}}, lg,
       1032},
      {"LYRA_QUERY_AHRC_HISTOGRAM", [](uint8_t* b) { return LYRA_QUERY_AHRC_HISTOGRAM(A1, b); },
       {{305, "010a00000000"}}, lg, 1440},
      {"LYRA_QUERY_F_HISTOGRAM", [](uint8_t* b) { return LYRA_QUERY_F_HISTOGRAM(A1, b); }, {{516, "010a00000000"}},
       lg, 1440},
      {"LYRA_QUERY_UNALTERABLE_STATE", [](uint8_t* b) { return LYRA_QUERY_UNALTERABLE_STATE(b); }, {{65532, Z}}, sh,
       S},
      // Extension port, detector information, files.
      {"LYRA_QUERY_EEPROM_INFO", [](uint8_t* b) { return LYRA_QUERY_EEPROM_INFO(b); }, {{264, Z}}, lg, 1024},
      {"LYRA_SET_EXTENSION_PORT", [](uint8_t*) { return LYRA_SET_EXTENSION_PORT(A1, A2, A3, A4, A5, A6); },
       {{282, "010203040506"}}},
      {"LYRA_SET_EXTENSION_POLARITY", [](uint8_t*) { return LYRA_SET_EXTENSION_POLARITY(A1, A2); },
       {{283, "010a020b0000"}}},
      {"LYRA_SET_EXTENSION_PULSER_PERIOD", [](uint8_t*) { return LYRA_SET_EXTENSION_PULSER_PERIOD(A1, A2); },
       {{284, "010a020b2200"}}},
      {"LYRA_SET_EXTENSION_PULSER_WIDTH", [](uint8_t*) { return LYRA_SET_EXTENSION_PULSER_WIDTH(A1, A2); },
       {{285, "010a020b2200"}}},
      {"LYRA_SET_EXTENSION_RS232", [](uint8_t*) { return LYRA_SET_EXTENSION_RS232(A1, A2); }, {{286, "010a02000000"}}},
      {"LYRA_SET_EXTENSION_OUTPUT", [](uint8_t*) { return LYRA_SET_EXTENSION_OUTPUT(A1, A2, A3); },
       {{292, "010a020b030c"}}},
      {"LYRA_QUERY_EXTENSION_RS232_RX", [](uint8_t* b) { return LYRA_QUERY_EXTENSION_RS232_RX(A1, b); },
       {{293, "010a00000000"}}, lg, 1026},
      {"LYRA_SET_TTL_LEVELS", [](uint8_t*) { return LYRA_SET_TTL_LEVELS(A1, A2); }, {{295, "010a020b0000"}}},
      {"LYRA_SET_CORE_CLOCK", [](uint8_t*) { return LYRA_SET_CORE_CLOCK(A1); }, {{301, "010a00000000"}}},
      {"LYRA_QUERY_DETECTOR_INFO", [](uint8_t* b) { return LYRA_QUERY_DETECTOR_INFO(A1, b); },
       {{307, "010a00000000"}}, lg, 1024},
      {"LYRA_DELETE_FILE_STEP1", [](uint8_t*) { return LYRA_DELETE_FILE_STEP1(A1, A2); }, {{309, "010a1100020b"}}},
      {"LYRA_DELETE_FILE_STEP2", [](uint8_t*) { return LYRA_DELETE_FILE_STEP2(A1, A2); }, {{310, "010a1100020b"}}},
      {"LYRA_QUERY_DEBUG_INFO", [](uint8_t* b) { return LYRA_QUERY_DEBUG_INFO(b); }, {{513, Z}}, sh, S},
      {"LYRA_SET_TWI_EXPANDER", [](uint8_t*) { return LYRA_SET_TWI_EXPANDER(A1); }, {{514, "010a00000000"}}},
      {"LYRA_WRITE_TO_EXTENSION", [](uint8_t*) { return LYRA_WRITE_TO_EXTENSION("hello world"); },
       {{287, Z}, {288, "68656c6c6f20"}, {288, "776f726c6400"}}},
      {"LYRA_READ_FROM_EXTENSION", [](uint8_t* b) { return LYRA_READ_FROM_EXTENSION(reinterpret_cast<char*>(b), 10); },
       {{293, Z}}, Answer::text, 11},
      {"LYRA_READ_FROM_EXTENSION_EX",
       [](uint8_t* b) { return LYRA_READ_FROM_EXTENSION_EX(A1, reinterpret_cast<char*>(b), 10); },
       {{293, "010a00000000"}}, Answer::text, 11},
      {"LYRA_WRITE_DETECTOR_INFO", [](uint8_t*) { return LYRA_WRITE_DETECTOR_INFO(kDetectorBytes, 3); },
       {{308, "c30011223300"}}},
      // LYRA_SET_TIME depends on the host clock: CommandsCore.SetTime* covers it.
      {"LYRA_SET_TIME", nullptr, {}, none, 0},
  };
}

TEST_F(Exports, EveryExportSendsItsFramesAndFillsOnlyItsBuffer) {
  const auto cases = export_cases();
  std::set<std::string> names;
  for (const ExportCase& c : cases) names.insert(c.name);
  EXPECT_EQ(names.size(), 120u);  // every LYRA_ export of the library, once
  for (const ExportCase& c : cases) {
    if (!c.call) continue;
    SCOPED_TRACE(c.name);
    sim_->clear_record();
    Buffer buf;
    ASSERT_EQ(c.call(buf.data()), 0);
    EXPECT_EQ(sent(), wire(c.frames));
    EXPECT_TRUE(buf.untouched_from(c.written)) << "written beyond " << c.written;
    if (c.answer == Answer::short_data) {
      // The answer data of a short answer carries the command echo at 106.
      const auto last = sim_->frames().back();
      EXPECT_EQ(0, std::memcmp(&buf.bytes[106], &last.bytes[2], 8));
    }
    if (c.written > 0) {
      EXPECT_FALSE(buf.untouched_from(0)) << "nothing written";
    }
  }
}

TEST_F(Exports, WithoutLinkEveryExportReturnsOneAndSendsNothing) {
  COMM_CLOSE();
  for (const ExportCase& c : export_cases()) {
    SCOPED_TRACE(c.name);
    Buffer buf;
    const int16_t result = c.call ? c.call(buf.data()) : LYRA_SET_TIME();
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(buf.untouched_from(0));
  }
  Buffer buf;
  EXPECT_EQ(MCA_COMM6("CMD_INIT", buf.data(), 1, 2, 3, 4, 5, 6), 1);
  EXPECT_EQ(MCA_COMM("NO_SUCH_NAME", buf.data(), 1, 2, 3, 4), 1);  // the link test comes first
  EXPECT_TRUE(buf.untouched_from(0));
  EXPECT_TRUE(sent().empty());
}

// ---- the generic entry: every row ----

struct RowCase {
  const char* long_name;
  const char* short_name;  // null for rows 41-78
  Frame frame;
  bool long_answer = false;  // its exported function reads a long block
};

const std::vector<RowCase>& row_cases() {
  static const std::vector<RowCase> rows = {
      {"CMD_INIT", "INIT", {65, "010a00000000"}},
      {"CMD_START", "START", {66, "010a020b2200"}},
      {"CMD_STOP", "STOP", {67, Z}},
      {"CMD_CLEAR", "CLEAR", {68, "010a00000000"}},
      {"CMD_SET_MODE", "MODE", {69, "010a00000000"}},
      {"CMD_SET_ADC_RES_DISCR", "ADC_RES_DISCR", {70, "010a020b030c"}},
      {"CMD_SET_THRESHOLD", "THRESHOLD", {71, "010a00000000"}},
      {"CMD_SET_PRESETS", "PRESETS", {72, "010a020b0000"}},
      {"CMD_SET_ROI", "ROI", {73, "010a020b0000"}},
      {"CMD_SET_REPEAT", "REPEAT", {74, "010a00000000"}},
      {"CMD_SET_TIME_PER_CHANNEL", "TIME_PER_CHANNEL", {75, "010a00000000"}},
      {"CMD_SET_GAIN", "GAIN", {76, "010a020b0000"}},
      {"CMD_SET_STABILISATION", "STABILISATION", {77, "010a020b030c"}},
      {"CMD_SET_PREAMPLIFIER_POWER", "PREAMPLIFIER_POWER", {78, "010a00000000"}},
      {"CMD_SET_BIAS", "BIAS", {79, "010a020b0000"}},
      {"CMD_SET_FAST", "FAST", {80, "010a00000000"}},
      {"CMD_SET_SLOW", "SLOW", {81, "010a00000000"}},
      {"CMD_SET_SHAPING_TIME", "SHAPING_TIME", {82, "010a00000000"}},
      {"CMD_SET_PUR", "PUR", {83, "010a00000000"}},
      {"CMD_SET_MCA_INPUT", "MCA_INPUT", {84, "010a00000000"}},
      {"CMD_SET_MCS_INPUT", "MCS_INPUT", {85, "010a00000000"}},
      {"CMD_SET_INPUT_POLARITY", "INPUT_POLARITY", {86, "010a00000000"}},
      {"CMD_SET_USER_DATA", "USER_DATA", {87, "010a020b2200"}},
      {"CMD_SET_MEASURE_PZC", "SET_MEASURE_PZC", {88, "010a020b0000"}},
      {"CMD_QUERY_POWER", "QUERY_POWER", {89, Z}},
      {"CMD_QUERY_STATE", "QUERY_STATE", {90, Z}},
      {"CMD_QUERY_SPECTRA", "QUERY_SPECTRA", {91, "010a020b0000"}},
      {"CMD_QUERY_IMAGE", "QUERY_IMAGE", {92, "010a020b030c"}},
      {"CMD_QUERY_ENRICHMENT", "QUERY_ENRICHMENT", {93, "0102030c040d"}},
      {"CMD_QUERY_USER_DATA", "QUERY_USER_DATA", {94, "010a00000000"}},
      {"CMD_QUERY_CENTROID", "QUERY_CENTROID", {95, "010a020b0000"}},
      {"CMD_SET_PZC_TIME_OFFSET", "PZC_TIME_OFFSET", {96, "010a020b0000"}},
      {"CMD_SET_TDF", "TDF", {97, "010a00000000"}},
      {"CMD_QUERY_SYSTEM_DATA", "QUERY_SYSTEM_DATA", {98, Z}},
      {"CMD_SET_MCS_CHANNEL", "MCS_CHANNEL", {99, "010a00000000"}},
      {"CMD_SET_UF6_ROIS", "UF6_ROIS", {100, "010a020b030c"}},
      {"CMD_QUERY_UF6_ROIS", "QUERY_UF6_ROIS", {101, Z}},
      {"CMD_QUERY_UF6_INFO", "QUERY_UF6_INFO", {102, Z}},
      {"CMD_SET_STAB_PARAM", "STAB_PARAM", {103, "010a020b2200"}},
      {"CMD_QUERY_VOLTAGE_CURRENT", "QUERY_VOLTAGE_CURRENT", {5, Z}},
      {"CMD_QUERY_STATE740", nullptr, {257, Z}},
      {"CMD_QUERY_SPECTRA_EX", nullptr, {258, "010a020b030c"}},
      {"CMD_SET_TRIGGER_FILTER", nullptr, {259, "010a020b0000"}},
      {"CMD_SET_TIME", nullptr, {260, "010a11000000"}},
      {"CMD_SET_GENERAL_MODE", nullptr, {261, "010a00000000"}},
      {"CMD_SET_TRIGGER_PARAM", nullptr, {262, "010a020b2200"}},
      {"CMD_QUERY_COMMON_MEMORY", nullptr, {263, "010a11000000"}, true},
      {"CMD_QUERY_HISTOGRAM", nullptr, {265, "010a020b030c"}, true},
      {"CMD_SET_OFFSET_DAC", nullptr, {266, "010a00000000"}},
      {"CMD_SET_IP_ADDRESS", nullptr, {267, "010203040000"}},
      {"CMD_SET_SHAPING_TIME_PAIR", nullptr, {268, "010a020b0000"}},
      {"CMD_SET_THRESHOLD_TENTHS", nullptr, {269, "010a00000000"}},
      {"CMD_QUERY_FILTER", nullptr, {270, "010a00000000"}, true},
      {"CMD_SET_GATING", nullptr, {271, "010203000000"}},
      {"CMD_QUERY_STATE740_EX", nullptr, {272, Z}},
      {"CMD_QUERY_STATE740_EX2", nullptr, {303, Z}},
      {"CMD_SET_OSCI_TRIGGER", nullptr, {273, "0102030c040d"}},
      {"CMD_QUERY_OSCI_SCREEN", nullptr, {274, "010a11000000"}, true},
      {"CMD_SET_FLAT_TOP_TIME", nullptr, {275, "010a00000000"}},
      {"CMD_SET_EVAL_FILTER_TYPE", nullptr, {276, "010a00000000"}},
      {"CMD_SET_TIME_PER_CHANNEL740", nullptr, {277, "010a11000000"}},
      {"CMD_SET_JITTER_CORRECTION", nullptr, {278, "010a00000000"}},
      {"CMD_SET_COMMON_MEMORY_FILL_STOP", nullptr, {279, "010a11000000"}},
      {"CMD_SET_BASELINE_RESTORING", nullptr, {280, "010a00000000"}},  // by name: not masked to 8 bits
      {"CMD_SET_PIN5_CURRENT_SOURCE", nullptr, {281, "010a00000000"}},
      {"CMD_SET_EXTENSION_PORT", nullptr, {282, "010203040506"}},
      {"CMD_SET_EXTENSION_POLARITY", nullptr, {283, "010a020b0000"}},
      {"CMD_SET_EXTENSION_PULSER_PERIOD", nullptr, {284, "010a020b2200"}},
      {"CMD_SET_EXTENSION_PULSER_WIDTH", nullptr, {285, "010a020b2200"}},
      {"CMD_SET_EXTENSION_RS232", nullptr, {286, "010a020b0000"}},  // by name: w(p2), not b(p2)
      {"CMD_CLEAR_EXTENSION_RS232_TX", nullptr, {287, Z}},
      {"CMD_WRITE_EXTENSION_RS232_TX_ASCII", nullptr, {288, "010203040506"}},
      {"CMD_WRITE_EXTENSION_RS232_TX_BINARY", nullptr, {289, "010a02030405"}},
      {"CMD_START_EXTENSION_PULSER", nullptr, {290, "010a00000000"}},
      {"CMD_STOP_EXTENSION_PULSER", nullptr, {291, "010a00000000"}},
      {"CMD_SET_EXTENSION_OUTPUT", nullptr, {292, "010a020b030c"}},
      {"CMD_QUERY_EXTENSION_RS232_RX", nullptr, {293, Z}, true},
      {"CMD_SET_TTL_LEVELS", nullptr, {295, "010a020b030c"}},
  };
  return rows;
}

std::string lower(const char* s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return out;
}

TEST_F(Exports, EveryTableRowSendsItsPackingByEachName) {
  ASSERT_EQ(row_cases().size(), 78u);
  for (const RowCase& row : row_cases()) {
    std::vector<std::string> names{row.long_name};
    if (row.short_name != nullptr) names.push_back(lower(row.short_name));
    for (const std::string& name : names) {
      SCOPED_TRACE(name);
      sim_->clear_record();
      Buffer buf;
      const int16_t result = MCA_COMM6(name.c_str(), buf.data(), A1, A2, A3, A4, A5, A6);
      EXPECT_EQ(sent(), wire({row.frame}));
      EXPECT_TRUE(buf.untouched_from(132));
      EXPECT_FALSE(buf.untouched_from(0));
      if (row.long_answer) {
        // The device sends its long block; as a short transaction that is
        // no valid answer.
        EXPECT_EQ(result, 3);
      } else {
        EXPECT_EQ(result, 0);
      }
    }
  }
}

TEST_F(Exports, GenericEntryEdgeCases) {
  struct Case {
    const char* name;
    std::array<int32_t, 6> p;
    Frame frame;
  };
  const Case cases[] = {
      {"QUERY_STATE", {1, 2, 3, 4, 5, 6}, {90, Z}},
      {"CMD_QUERY_STATE", {-1, -1, -1, -1, -1, -1}, {90, Z}},
      {"cmd_init", {7, 0, 0, 0, 0, 0}, {65, "070000000000"}},
      {"Init", {8, 9, 0, 0, 0, 0}, {65, "080000000000"}},
      {"START", {0, 0x12345, 0, 0, 0, 0}, {66, "000045230100"}},
      {"PRESETS", {0, 70000, 0, 0, 0, 0}, {72, "000070110000"}},
      {"CMD_SET_EXTENSION_PORT", {0x101, 2, 3, 4, 5, 6}, {282, "010203040506"}},
      {"CMD_SET_TIME", {0x12345678, 0, 0, 0, 0, 0}, {260, "785634120000"}},  // sent as it stands
      {"CMD_QUERY_SPECTRA_EX", {0, 1, 2, 0, 0, 0}, {258, "000001000200"}},   // no choice of query
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim_->clear_record();
    std::array<uint8_t, 132> answer{};
    EXPECT_EQ(MCA_COMM6(c.name, answer.data(), c.p[0], c.p[1], c.p[2], c.p[3], c.p[4], c.p[5]), 0);
    EXPECT_EQ(sent(), wire({c.frame}));
  }
  sim_->clear_record();
  std::array<uint8_t, 132> answer{};
  EXPECT_EQ(MCA_COMM("QUERY_ENRICHMENT", answer.data(), 10, 20, 300, 400), 0);
  EXPECT_EQ(sent(), wire({{93, "0a142c019001"}}));

  // Names in no row: 2, nothing sent, the buffer untouched.
  for (const char* name : {"QUERY_STATE740", "SET_TIME", "", " INIT", "CMD_QUERY_STATE740 "}) {
    SCOPED_TRACE(name);
    sim_->clear_record();
    Buffer buf;
    EXPECT_EQ(MCA_COMM(name, buf.data(), 0, 0, 0, 0), 2);
    EXPECT_TRUE(buf.untouched_from(0));
    EXPECT_TRUE(sent().empty());
  }
  EXPECT_EQ(MCA_COMM(nullptr, answer.data(), 0, 0, 0, 0), 2);
  EXPECT_EQ(MCA_COMM("QUERY_STATE", nullptr, 0, 0, 0, 0), 0);  // a null answer is not written
}

// ---- decodings: exported function against the raw answer by name ----

TEST_F(Exports, DecodedAnswersDifferFromTheRawOnesOnlyAsDocumented) {
  // A quiet analyser: HV off and settled, no acquisition.
  ASSERT_EQ(LYRA_STOP_ACQUIRE(), 0);
  ASSERT_EQ(LYRA_SET_HIGH_VOLTAGES(0, 0), 0);
  lyralink::platform::sleep_ms(40);
  std::array<uint8_t, 132> raw{}, decoded{};
  // Voltages: the generic entry hands over the raw readings.
  ASSERT_EQ(MCA_COMM("QUERY_VOLTAGE_CURRENT", raw.data(), 0, 0, 0, 0), 0);
  ASSERT_EQ(LYRA_QUERY_VOLTAGE_CURRENT(decoded.data()), 0);
  const uint32_t factors[10] = {2551, 249, 1192, 9766, 6000, 6000, 249, 249, 249, 249};
  for (size_t i = 0; i < 10; ++i) {
    EXPECT_EQ(get_u32(&decoded[4 * i]), static_cast<uint32_t>(uint64_t{get_u32(&raw[4 * i])} * factors[i] >> 10)) << i;
  }
  EXPECT_EQ(0, std::memcmp(&raw[40], &decoded[40], 92));
  ASSERT_EQ(LYRA_QUERY_VOLTAGE_CURRENT_EX(decoded.data(), 0x10000), 0);  // low 16 bits 0: no offset
  EXPECT_EQ(get_u32(&decoded[16]), get_u32(&raw[16]) * 6000u >> 10);
  ASSERT_EQ(LYRA_QUERY_VOLTAGE_CURRENT_EX(decoded.data(), 1), 0);
  EXPECT_EQ(get_u32(&decoded[16]), (get_u32(&raw[16]) * 1000u >> 10) - 200u);

  // System data: bytes 122-123 of 0, 0 become 10, 20.
  ASSERT_EQ(MCA_COMM("QUERY_SYSTEM_DATA", raw.data(), 0, 0, 0, 0), 0);
  ASSERT_EQ(LYRA_QUERY_SYSTEM_DATA(decoded.data()), 0);
  EXPECT_EQ(raw[122], 0);
  EXPECT_EQ(raw[123], 0);
  EXPECT_EQ(decoded[122], 10);
  EXPECT_EQ(decoded[123], 20);
  EXPECT_EQ(0, std::memcmp(raw.data(), decoded.data(), 122));
  open("127.0.0.2");  // an analyser that fills them itself
  ASSERT_EQ(LYRA_QUERY_SYSTEM_DATA(decoded.data()), 0);
  EXPECT_EQ(decoded[122], 12);
  EXPECT_EQ(decoded[123], 24);
  open("127.0.0.1");

  // The 740 state: the clock comes as calendar fields, the rest unchanged.
  ASSERT_EQ(MCA_COMM("CMD_SET_TIME", raw.data(), (5 << 17) | (6 << 12) | (7 << 6) | 8, 0, 0, 0), 0);
  ASSERT_EQ(MCA_COMM("CMD_QUERY_STATE740", raw.data(), 0, 0, 0, 0), 0);
  ASSERT_EQ(LYRA_QUERY_STATE740(decoded.data()), 0);
  EXPECT_EQ(get_u32(&raw[12]) >> 12, (5u << 5) | 6u);  // the device's own packed form
  EXPECT_EQ(get_u16(&decoded[12]), 2008);
  EXPECT_EQ(decoded[14], 1);
  EXPECT_EQ(decoded[15], 6);
  EXPECT_EQ(decoded[16], 6);
  EXPECT_EQ(decoded[17], 7);
  EXPECT_GE(decoded[18], 8);  // the device clock runs on
  EXPECT_EQ(0, std::memcmp(raw.data(), decoded.data(), 12));
  EXPECT_EQ(0, std::memcmp(&raw[19], &decoded[19], 132 - 19));
}

// ---- failure paths ----

struct FaultCase {
  const char* what;
  std::vector<std::string> faults;
  std::function<int16_t(uint8_t*)> call;
  int16_t status;
  std::vector<uint16_t> codes;  // frames sent, in order
  size_t written;               // bytes of the buffer that may change
};

TEST_F(Exports, FailuresStopSequencesAndLeaveBuffersAlone) {
  const uint8_t nine[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  const FaultCase cases[] = {
      {"two-step, first step fails", {"checksum,code=69"}, [](uint8_t*) { return LYRA_SET_MODE_MCS_DISCR(); }, 3,
       {69}, 0},
      {"two-step, second step fails", {"error=0xAAAA,code=86"},
       [](uint8_t*) { return LYRA_SET_MCA_INPUT_AMPLIFIER_NEG(); }, 4, {84, 86}, 0},
      {"parameter block, fifth frame fails", {"error=0xAAAF,code=304,skip=4,count=1"},
       [](uint8_t*) { return LYRA_SET_AHRC_PARAM(1, kAhrc); }, 8, {304, 304, 304, 304, 304}, 0},
      {"detector information, middle chunk fails", {"error=0xAAAC,code=308,skip=1,count=1"},
       [&nine](uint8_t*) { return LYRA_WRITE_DETECTOR_INFO(nine, 9); }, 5, {308, 308}, 0},
      {"extension text, clearing fails", {"error=0xAAA9,code=287"},
       [](uint8_t*) { return LYRA_WRITE_TO_EXTENSION("hello world"); }, 9, {287}, 0},
      {"extension text, first chunk fails", {"error=0xAAAD,code=288"},
       [](uint8_t*) { return LYRA_WRITE_TO_EXTENSION("hello world"); }, 6, {287, 288}, 0},
      {"long query fails", {"checksum,code=263"}, [](uint8_t* b) { return LYRA_QUERY_COMMON_MEMORY(0, b); }, 3,
       {263}, 0},
      {"two-part query, second part fails", {"checksum,code=298,skip=1"},
       [](uint8_t* b) { return LYRA_QUERY_OSCI_TRIGGER_FILTER_RESULTS(1, b); }, 3, {298, 298}, 1444},
      {"extension read fails", {"error=0xAAA8,code=293"},
       [](uint8_t* b) { return LYRA_READ_FROM_EXTENSION(reinterpret_cast<char*>(b), 10); }, 10, {293}, 0},
      {"extension read (any block) fails", {"checksum,code=293"},
       [](uint8_t* b) { return LYRA_READ_FROM_EXTENSION_EX(0, reinterpret_cast<char*>(b), 2000); }, 3, {293}, 0},
      {"a short query that fails still copies its answer", {"error=0xAAAE,code=90"},
       [](uint8_t* b) { return LYRA_QUERY_STATE(b); }, 7, {90}, 132},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(sim_->control("clear-faults"));
    for (const std::string& f : c.faults) ASSERT_TRUE(sim_->control("fault " + f));
    sim_->clear_record();
    Buffer buf;
    EXPECT_EQ(c.call(buf.data()), c.status);
    EXPECT_EQ(sent_codes(), c.codes);
    EXPECT_TRUE(buf.untouched_from(c.written));
  }
}

TEST_F(Exports, ShortAnswersAreCopiedAndDecodedWhateverTheStatus) {
  ASSERT_TRUE(sim_->control("fault error=0xAAAA,code=5"));
  Buffer buf;
  // The error answer carries no data: every reading is 0, and reading 5
  // with the offset becomes 0 - 200.
  EXPECT_EQ(LYRA_QUERY_VOLTAGE_CURRENT_EX(buf.data(), 1), 4);
  EXPECT_EQ(get_u32(&buf.bytes[0]), 0u);
  EXPECT_EQ(get_u32(&buf.bytes[16]), 4294967096u);
  EXPECT_TRUE(buf.untouched_from(132));

  ASSERT_TRUE(sim_->control("fault error=0xAAAB,code=98"));
  Buffer sys;
  EXPECT_EQ(LYRA_QUERY_SYSTEM_DATA(sys.data()), 2);
  EXPECT_EQ(sys.bytes[122], 10);
  EXPECT_EQ(sys.bytes[123], 20);

  // The MCA-310 knows no codes from 257 on.
  open("127.0.0.3");
  Buffer state;
  EXPECT_EQ(LYRA_QUERY_STATE740(state.data()), 2);
  EXPECT_EQ(get_u16(&state.bytes[12]), 2008);  // a packed time of 0, decoded
  EXPECT_EQ(state.bytes[14], 1);
  EXPECT_EQ(LYRA_QUERY_STATE(state.data()), 0);
}

TEST_F(Exports, NullPointersAreNeverUsed) {
  EXPECT_EQ(LYRA_QUERY_STATE(nullptr), 0);
  EXPECT_EQ(LYRA_QUERY_STATE740(nullptr), 0);
  EXPECT_EQ(LYRA_QUERY_VOLTAGE_CURRENT(nullptr), 0);
  EXPECT_EQ(LYRA_QUERY_COMMON_MEMORY(0, nullptr), 0);
  EXPECT_EQ(LYRA_QUERY_OSCI_TRIGGER_FILTER_RESULTS(1, nullptr), 0);
  EXPECT_EQ(LYRA_READ_FROM_EXTENSION(nullptr, 10), 0);
  EXPECT_EQ(LYRA_READ_FROM_EXTENSION_EX(0, nullptr, 10), 0);
  sim_->clear_record();
  // Inputs that cannot be read: 4, nothing sent.
  EXPECT_EQ(LYRA_SET_IP_ADDRESS(nullptr), 4);
  EXPECT_EQ(LYRA_SET_AHRC_PARAM(0, nullptr), 4);
  EXPECT_EQ(LYRA_WRITE_TO_EXTENSION(nullptr), 4);
  EXPECT_EQ(LYRA_WRITE_DETECTOR_INFO(nullptr, 3), 4);
  EXPECT_TRUE(sent().empty());
}

TEST_F(Exports, DetectorInfoCountLimits) {
  std::vector<uint8_t> data(0x10001, 0x5A);
  for (int32_t count : {0, 2049, 0x10000, -1}) {
    sim_->clear_record();
    EXPECT_EQ(LYRA_WRITE_DETECTOR_INFO(data.data(), count), 4) << count;
    EXPECT_TRUE(sent().empty());
  }
  // Only the low 16 bits of the count matter.
  sim_->clear_record();
  EXPECT_EQ(LYRA_WRITE_DETECTOR_INFO(data.data(), 0x10004), 0);
  EXPECT_EQ(sent(), wire({{308, "c4005a5a5a5a"}}));
}

TEST_F(Exports, ExtensionTextFrames) {
  struct Case {
    const char* text;
    std::vector<Frame> frames;
  };
  const Case cases[] = {
      {"", {{287, Z}, {288, Z}}},
      {"abcdef", {{287, Z}, {288, "616263646566"}, {288, Z}}},
      {"abcdefghijk", {{287, Z}, {288, "616263646566"}, {288, "6768696a6b00"}}},
  };
  for (const Case& c : cases) {
    sim_->clear_record();
    EXPECT_EQ(LYRA_WRITE_TO_EXTENSION(c.text), 0);
    EXPECT_EQ(sent(), wire(c.frames)) << c.text;
  }
}

// ---- what the analyser reports back ----

TEST_F(Exports, SettingsReadBackThroughTheStateAnswers) {
  struct Case {
    const char* what;
    std::function<int16_t()> set;
    std::function<int16_t(uint8_t*)> query;
    size_t offset;
    std::vector<uint8_t> expected;
  };
  const uint8_t ip[4] = {10, 0, 0, 42};
  const Case cases[] = {
      {"gain", [] { return LYRA_SET_GAIN(20, 9000); }, LYRA_QUERY_STATE, 48, {20, 0, 0x28, 0x23}},
      {"high voltage", [] { return LYRA_SET_HIGH_VOLTAGES(800, 1); }, LYRA_QUERY_STATE, 56, {0x20, 0x03, 1, 0}},
      {"ADC resolution", [] { return LYRA_SET_ADC_RES_DISCR(4096, 5, 6); }, LYRA_QUERY_STATE, 26,
       {0, 0x10, 5, 0, 6, 0}},
      {"application code", [] { return LYRA_SET_USER_DATA(4, 0x4C55504B); },
       [](uint8_t* b) { return LYRA_QUERY_USER_DATA(0, b); }, 16, {'K', 'P', 'U', 'L'}},
      {"UF6 regions", [] { return LYRA_SET_UF6_ROIS(1, 2, 3); }, LYRA_QUERY_UF6_ROIS, 0, {1, 0, 2, 0, 3, 0}},
      {"IP address", [&ip] { return LYRA_SET_IP_ADDRESS(ip); }, LYRA_QUERY_STATE740_EX, 30, {10, 0, 0, 42}},
      {"gating", [] { return LYRA_SET_GATING(7, 8, 9); }, LYRA_QUERY_STATE740_EX, 40, {7, 8, 9}},
      {"fill stop", [] { return LYRA_SET_COMMON_MEMORY_FILL_STOP(0x123456); }, LYRA_QUERY_STATE740_EX, 4,
       {0x56, 0x34, 0x12, 0}},
      {"extension port", [] { return LYRA_SET_EXTENSION_PORT(1, 2, 3, 4, 5, 6); }, LYRA_QUERY_STATE740_EX2, 0,
       {1, 2, 3, 4, 5, 6}},
      {"TTL levels", [] { return LYRA_SET_TTL_LEVELS(5, 6); }, LYRA_QUERY_STATE740_EX2, 38, {5, 0, 6, 0}},
      {"parameter block", [] { return LYRA_SET_AHRC_PARAM(7, kAhrc); }, LYRA_QUERY_DEBUG_INFO, 16,
       {7, 0, 0x00, 0x03, 0x02, 0x01, 0x01, 0x03, 0x02, 0x01}},
      {"PZC value", [] { return 0; }, [](uint8_t* b) { return LYRA_SET_PZC_VALUE(300, b); }, 60, {0x2C, 0x01}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(c.set(), 0);
    std::array<uint8_t, 132> answer{};
    ASSERT_EQ(c.query(answer.data()), 0);
    EXPECT_EQ(std::vector<uint8_t>(answer.begin() + static_cast<long>(c.offset),
                                   answer.begin() + static_cast<long>(c.offset + c.expected.size())),
              c.expected);
  }
}

TEST_F(Exports, ExtensionLoopbackReadsBackAsText) {
  ASSERT_EQ(LYRA_QUERY_EXTENSION_RS232_RX(1, Buffer().data()), 0);  // word 1 = 1 empties the receiver
  ASSERT_EQ(LYRA_WRITE_TO_EXTENSION("hello world"), 0);
  char text[64];
  std::memset(text, 'x', sizeof text);
  ASSERT_EQ(LYRA_READ_FROM_EXTENSION(text, 100), 0);
  EXPECT_STREQ(text, "hello world");
  ASSERT_EQ(LYRA_READ_FROM_EXTENSION(text, 5), 0);
  EXPECT_STREQ(text, "hello");
  ASSERT_EQ(LYRA_READ_FROM_EXTENSION_EX(0, text, 3), 0);
  EXPECT_STREQ(text, "rld");
  std::vector<char> whole(1100, 'x');
  ASSERT_EQ(LYRA_READ_FROM_EXTENSION_EX(0, whole.data(), 5000), 0);
  EXPECT_EQ(whole[1024], '\0');
  EXPECT_EQ(whole[1025], 'x');
  EXPECT_EQ(std::string(&whole[1013]), "hello world");
}

TEST_F(Exports, DetectorInformationReadsBack) {
  std::vector<uint8_t> info(2048);
  for (size_t i = 0; i < info.size(); ++i) info[i] = static_cast<uint8_t>(i * 13 + 7);
  ASSERT_EQ(LYRA_WRITE_DETECTOR_INFO(info.data(), 2048), 0);
  const auto frames = sim_->frames();
  ASSERT_EQ(frames.size(), 512u);
  EXPECT_EQ(frames.front().word(1), 0x44);
  EXPECT_EQ(frames.back().word(1), 0x84);
  std::vector<uint8_t> back(2048);
  ASSERT_EQ(LYRA_QUERY_DETECTOR_INFO(0, back.data()), 0);
  ASSERT_EQ(LYRA_QUERY_DETECTOR_INFO(1, back.data() + 1024), 0);
  EXPECT_EQ(back, info);
}

TEST_F(Exports, CommonMemoryHoldsTheSignalAfterStart) {
  ASSERT_EQ(LYRA_SET_COMMON_MEMORY_FILL_STOP(0), 0);
  ASSERT_EQ(LYRA_START_ACQUIRE(0, 0), 0);
  lyralink::platform::sleep_ms(20);  // the emulated memory fills at 40 MB/s
  std::array<uint8_t, 1440> block{};
  ASSERT_EQ(LYRA_QUERY_COMMON_MEMORY(720, block.data()), 0);
  lyrasim::Analyser reference{lyrasim::Identity{}};
  for (size_t i = 0; i < 720; ++i) ASSERT_EQ(get_u16(&block[2 * i]), reference.signal_sample(720 + i)) << i;
  std::array<uint8_t, 132> state{};
  ASSERT_EQ(LYRA_QUERY_STATE740(state.data()), 0);
  EXPECT_EQ(get_u16(&state[128]), 7);  // still recording into the common memory
  ASSERT_EQ(LYRA_STOP_ACQUIRE(), 0);
}

}  // namespace
