// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/commands/command_table.h"

#include <array>
#include <cstring>

#include "lyralink/commands/command_codes.h"

namespace lyralink::commands {

namespace {

using namespace args;

// One row per line, in the order the names are compared. Every name is
// distinct, so the order only matters for speed.
constexpr std::array<CommandRow, 78> kRows{{
    {"INIT", "CMD_INIT", {code::init, pack(w(1, p1))}},
    {"START", "CMD_START", {code::start, pack(w(1, p1), d(2, p2))}},
    {"STOP", "CMD_STOP", {code::stop, pack()}},
    {"CLEAR", "CMD_CLEAR", {code::clear, pack(w(1, p1))}},
    {"MODE", "CMD_SET_MODE", {code::mode, pack(w(1, p1))}},
    {"ADC_RES_DISCR", "CMD_SET_ADC_RES_DISCR", {code::adc_res_discr, pack(w(1, p1), w(2, p2), w(3, p3))}},
    {"THRESHOLD", "CMD_SET_THRESHOLD", {code::threshold, pack(w(1, p1))}},
    // The exported preset, high-voltage and spectrum functions send their
    // second argument as 32 bits; by name only its low word goes out.
    {"PRESETS", "CMD_SET_PRESETS", {code::presets, pack(w(1, p1), w(2, p2))}},
    {"ROI", "CMD_SET_ROI", {code::roi, pack(w(1, p1), w(2, p2))}},
    {"REPEAT", "CMD_SET_REPEAT", {code::repeat, pack(w(1, p1))}},
    {"TIME_PER_CHANNEL", "CMD_SET_TIME_PER_CHANNEL", {code::time_per_channel, pack(w(1, p1))}},
    {"GAIN", "CMD_SET_GAIN", {code::gain, pack(w(1, p1), w(2, p2))}},
    {"STABILISATION", "CMD_SET_STABILISATION", {code::stabilisation, pack(w(1, p1), w(2, p2), w(3, p3))}},
    {"PREAMPLIFIER_POWER", "CMD_SET_PREAMPLIFIER_POWER", {code::preamplifier_power, pack(w(1, p1))}},
    {"BIAS", "CMD_SET_BIAS", {code::bias, pack(w(1, p1), w(2, p2))}},
    {"FAST", "CMD_SET_FAST", {code::fast, pack(w(1, p1))}},
    {"SLOW", "CMD_SET_SLOW", {code::slow, pack(w(1, p1))}},
    {"SHAPING_TIME", "CMD_SET_SHAPING_TIME", {code::shaping_time, pack(w(1, p1))}},
    {"PUR", "CMD_SET_PUR", {code::pur, pack(w(1, p1))}},
    {"MCA_INPUT", "CMD_SET_MCA_INPUT", {code::mca_input, pack(w(1, p1))}},
    {"MCS_INPUT", "CMD_SET_MCS_INPUT", {code::mcs_input, pack(w(1, p1))}},
    {"INPUT_POLARITY", "CMD_SET_INPUT_POLARITY", {code::input_polarity, pack(w(1, p1))}},
    {"USER_DATA", "CMD_SET_USER_DATA", {code::user_data, pack(w(1, p1), d(2, p2))}},
    {"SET_MEASURE_PZC", "CMD_SET_MEASURE_PZC", {code::measure_pzc, pack(w(1, p1), w(2, p2))}},
    {"QUERY_POWER", "CMD_QUERY_POWER", {code::query_power, pack()}},
    {"QUERY_STATE", "CMD_QUERY_STATE", {code::query_state, pack()}},
    {"QUERY_SPECTRA", "CMD_QUERY_SPECTRA", {code::query_spectra, pack(w(1, p1), w(2, p2))}},
    {"QUERY_IMAGE", "CMD_QUERY_IMAGE", {code::query_image, pack(w(1, p1), w(2, p2), w(3, p3))}},
    {"QUERY_ENRICHMENT", "CMD_QUERY_ENRICHMENT", {code::query_enrichment, pack(b(0, p1), b(1, p2), w(2, p3), w(3, p4))}},
    {"QUERY_USER_DATA", "CMD_QUERY_USER_DATA", {code::query_user_data, pack(w(1, p1))}},
    {"QUERY_CENTROID", "CMD_QUERY_CENTROID", {code::query_centroid, pack(w(1, p1), w(2, p2))}},
    {"PZC_TIME_OFFSET", "CMD_SET_PZC_TIME_OFFSET", {code::pzc_time_offset, pack(w(1, p1), w(2, p2))}},
    {"TDF", "CMD_SET_TDF", {code::tdf, pack(w(1, p1))}},
    {"QUERY_SYSTEM_DATA", "CMD_QUERY_SYSTEM_DATA", {code::query_system_data, pack()}},
    {"MCS_CHANNEL", "CMD_SET_MCS_CHANNEL", {code::mcs_channel, pack(w(1, p1))}},
    {"UF6_ROIS", "CMD_SET_UF6_ROIS", {code::uf6_rois, pack(w(1, p1), w(2, p2), w(3, p3))}},
    {"QUERY_UF6_ROIS", "CMD_QUERY_UF6_ROIS", {code::query_uf6_rois, pack()}},
    {"QUERY_UF6_INFO", "CMD_QUERY_UF6_INFO", {code::query_uf6_info, pack()}},
    {"STAB_PARAM", "CMD_SET_STAB_PARAM", {code::stab_param, pack(w(1, p1), d(2, p2))}},
    {"QUERY_VOLTAGE_CURRENT", "CMD_QUERY_VOLTAGE_CURRENT", {code::query_voltage_current, pack()}},
    {"", "CMD_QUERY_STATE740", {code::query_state740, pack()}},
    {"", "CMD_QUERY_SPECTRA_EX", {code::query_spectra_ex, pack(w(1, p1), w(2, p2), w(3, p3))}},
    {"", "CMD_SET_TRIGGER_FILTER", {code::trigger_filter, pack(w(1, p1), w(2, p2))}},
    {"", "CMD_SET_TIME", {code::time, pack(d(1, p1))}},
    {"", "CMD_SET_GENERAL_MODE", {code::general_mode, pack(w(1, p1))}},
    {"", "CMD_SET_TRIGGER_PARAM", {code::trigger_param, pack(w(1, p1), d(2, p2))}},
    {"", "CMD_QUERY_COMMON_MEMORY", {code::query_common_memory, pack(d(1, p1))}},
    {"", "CMD_QUERY_HISTOGRAM", {code::query_histogram, pack(w(1, p1), w(2, p2), w(3, p3))}},
    {"", "CMD_SET_OFFSET_DAC", {code::offset_dac, pack(w(1, p1))}},
    {"", "CMD_SET_IP_ADDRESS", {code::ip_address, pack(b(0, p1), b(1, p2), b(2, p3), b(3, p4))}},
    {"", "CMD_SET_SHAPING_TIME_PAIR", {code::shaping_time_pair, pack(w(1, p1), w(2, p2))}},
    {"", "CMD_SET_THRESHOLD_TENTHS", {code::threshold_tenths, pack(w(1, p1))}},
    {"", "CMD_QUERY_FILTER", {code::query_filter, pack(w(1, p1))}},
    {"", "CMD_SET_GATING", {code::gating, pack(b(0, p1), b(1, p2), b(2, p3))}},
    {"", "CMD_QUERY_STATE740_EX", {code::query_state740_ex, pack()}},
    {"", "CMD_QUERY_STATE740_EX2", {code::query_state740_ex2, pack()}},
    {"", "CMD_SET_OSCI_TRIGGER", {code::osci_trigger, pack(b(0, p1), b(1, p2), w(2, p3), w(3, p4))}},
    {"", "CMD_QUERY_OSCI_SCREEN", {code::query_osci_screen, pack(d(1, p1))}},
    {"", "CMD_SET_FLAT_TOP_TIME", {code::flat_top_time, pack(w(1, p1))}},
    {"", "CMD_SET_EVAL_FILTER_TYPE", {code::eval_filter_type, pack(w(1, p1))}},
    {"", "CMD_SET_TIME_PER_CHANNEL740", {code::time_per_channel740, pack(d(1, p1))}},
    {"", "CMD_SET_JITTER_CORRECTION", {code::jitter_correction, pack(w(1, p1))}},
    {"", "CMD_SET_COMMON_MEMORY_FILL_STOP", {code::common_memory_fill_stop, pack(d(1, p1))}},
    // The exported functions of these two mask to 8 bits; by name the
    // whole low word goes out.
    {"", "CMD_SET_BASELINE_RESTORING", {code::baseline_restoring, pack(w(1, p1))}},
    {"", "CMD_SET_PIN5_CURRENT_SOURCE", {code::pin5_current_source, pack(w(1, p1))}},
    {"", "CMD_SET_EXTENSION_PORT", {code::extension_port, pack(b(0, p1), b(1, p2), b(2, p3), b(3, p4), b(4, p5), b(5, p6))}},
    {"", "CMD_SET_EXTENSION_POLARITY", {code::extension_polarity, pack(w(1, p1), w(2, p2))}},
    {"", "CMD_SET_EXTENSION_PULSER_PERIOD", {code::extension_pulser_period, pack(w(1, p1), d(2, p2))}},
    {"", "CMD_SET_EXTENSION_PULSER_WIDTH", {code::extension_pulser_width, pack(w(1, p1), d(2, p2))}},
    {"", "CMD_SET_EXTENSION_RS232", {code::extension_rs232, pack(w(1, p1), w(2, p2))}},
    {"", "CMD_CLEAR_EXTENSION_RS232_TX", {code::clear_extension_rs232_tx, pack()}},
    {"", "CMD_WRITE_EXTENSION_RS232_TX_ASCII", {code::write_extension_rs232_tx_ascii, pack(b(0, p1), b(1, p2), b(2, p3), b(3, p4), b(4, p5), b(5, p6))}},
    {"", "CMD_WRITE_EXTENSION_RS232_TX_BINARY", {code::write_extension_rs232_tx_binary, pack(w(1, p1), b(2, p2), b(3, p3), b(4, p4), b(5, p5))}},
    {"", "CMD_START_EXTENSION_PULSER", {code::start_extension_pulser, pack(w(1, p1))}},
    {"", "CMD_STOP_EXTENSION_PULSER", {code::stop_extension_pulser, pack(w(1, p1))}},
    {"", "CMD_SET_EXTENSION_OUTPUT", {code::extension_output, pack(w(1, p1), w(2, p2), w(3, p3))}},
    {"", "CMD_QUERY_EXTENSION_RS232_RX", {code::query_extension_rs232_rx, pack()}},
    {"", "CMD_SET_TTL_LEVELS", {code::ttl_levels, pack(w(1, p1), w(2, p2), w(3, p3))}},
}};

constexpr char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::span<const CommandRow> command_table() { return kRows; }

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (ascii_upper(a[i]) != ascii_upper(b[i])) return false;
  }
  return true;
}

const CommandRow* find_command_row(const char* name) {
  if (name == nullptr) return nullptr;
  const std::string_view wanted(name, std::strlen(name));
  for (const CommandRow& row : kRows) {
    if ((!row.short_name.empty() && equal_ignoring_ascii_case(wanted, row.short_name)) ||
        equal_ignoring_ascii_case(wanted, row.long_name)) {
      return &row;
    }
  }
  return nullptr;
}

}  // namespace lyralink::commands
