// SPDX-License-Identifier: LGPL-2.1-or-later
// Exported command functions and the generic command entry. Each export is
// one line: its definition in lyralink/commands/command_set.h handed to a
// runner, behind the barrier that takes the export lock and turns any
// exception into a status.
#include "include/lyralink.h"
#include "lyralink/commands/commands.h"
#include "lyralink/exports/export_guard.h"

using namespace lyralink;
namespace defs = commands::defs;
using link::link_state;
using link::LinkState;
using link::Status;

namespace {

// An exception inside the library (out of memory) is reported like a
// failure of the channel: no valid answer.
constexpr int16_t kInternalFailure = link::status::no_valid_answer;

template <class F>
int16_t barrier(const char* name, F&& body) {
  return exports::guarded<int16_t>(name, kInternalFailure, std::forward<F>(body));
}

uint8_t* bytes(void* p) { return static_cast<uint8_t*>(p); }
const uint8_t* bytes(const void* p) { return static_cast<const uint8_t*>(p); }

// name: the export's, for the wire log's line when an exception ends it.
template <class... A>
int16_t send(const char* name, const commands::Command& c, A... a) {
  return barrier(name, [&] { return commands::run_command(link_state(), c, {a...}); });
}

int16_t send(const char* name, const commands::TwoStep& steps) {
  return barrier(name, [&] { return commands::run_two_step(link_state(), steps); });
}

template <class... A>
int16_t query(const char* name, const commands::ShortQuery& q, void* answer, A... a) {
  return barrier(name, [&] { return commands::run_short_query(link_state(), q, bytes(answer), {a...}); });
}

template <class... A>
int16_t query(const char* name, const commands::LongQuery& q, void* buffer, A... a) {
  return barrier(name, [&] { return commands::run_long_query(link_state(), q, bytes(buffer), {a...}); });
}

template <class... P, class... A>
int16_t call(const char* name, Status (*run)(LinkState&, P...), A... a) {
  return barrier(name, [&] { return run(link_state(), a...); });
}

}  // namespace

// ---- generic entry ----
LYRALINK_EXPORT int16_t MCA_COMM6(const char* name, void* answer, int32_t p1, int32_t p2, int32_t p3, int32_t p4,
                                  int32_t p5, int32_t p6) {
  return barrier(__func__, [&] {
    return commands::generic_command(link_state(), name, bytes(answer), {p1, p2, p3, p4, p5, p6});
  });
}
LYRALINK_EXPORT int16_t MCA_COMM(const char* name, void* answer, int32_t p1, int32_t p2, int32_t p3, int32_t p4) {
  return MCA_COMM6(name, answer, p1, p2, p3, p4, 0, 0);
}

// ---- acquisition and setting commands ----
LYRALINK_EXPORT int16_t LYRA_RESET(void) { return send(__func__, defs::reset); }
LYRALINK_EXPORT int16_t LYRA_START_ACQUIRE(int32_t a1, int32_t a2) {
  return send(__func__, defs::start_acquire, a1, a2);
}
LYRALINK_EXPORT int16_t LYRA_STOP_ACQUIRE(void) { return send(__func__, defs::stop_acquire); }
LYRALINK_EXPORT int16_t LYRA_CLEAR_MEMORY(void) { return send(__func__, defs::clear_memory); }
LYRALINK_EXPORT int16_t LYRA_CLEAR_TIME(void) { return send(__func__, defs::clear_time); }
LYRALINK_EXPORT int16_t LYRA_CLEAR_ROI(void) { return send(__func__, defs::clear_roi); }
LYRALINK_EXPORT int16_t LYRA_CLEAR_ALL(void) { return send(__func__, defs::clear_all); }
LYRALINK_EXPORT int16_t LYRA_SET_MODE_MCA(void) { return send(__func__, defs::mode_mca); }
LYRALINK_EXPORT int16_t LYRA_SET_MODE_MCS(void) { return send(__func__, defs::mode_mcs); }
LYRALINK_EXPORT int16_t LYRA_SET_MODE_MCS_TTL(void) { return send(__func__, defs::mode_mcs_ttl); }
LYRALINK_EXPORT int16_t LYRA_SET_MODE_MCS_DISCR(void) { return send(__func__, defs::mode_mcs_discr); }
LYRALINK_EXPORT int16_t LYRA_SET_MODE_MCS_ICR(void) { return send(__func__, defs::mode_mcs_icr); }
LYRALINK_EXPORT int16_t LYRA_SET_MCS_INPUT_TTL(void) { return send(__func__, defs::mcs_input_ttl); }
LYRALINK_EXPORT int16_t LYRA_SET_MCS_INPUT_DISCR(void) { return send(__func__, defs::mcs_input_discr); }
LYRALINK_EXPORT int16_t LYRA_SET_MCS_INPUT_ICR(void) { return send(__func__, defs::mcs_input_icr); }
LYRALINK_EXPORT int16_t LYRA_SET_ADC_RES_DISCR(int32_t a1, int32_t a2, int32_t a3) {
  return send(__func__, defs::adc_res_discr, a1, a2, a3);
}
LYRALINK_EXPORT int16_t LYRA_SET_THRESHOLD(int32_t a1) { return send(__func__, defs::threshold, a1); }
LYRALINK_EXPORT int16_t LYRA_SET_PRESET_NONE(void) { return send(__func__, defs::preset_none); }
LYRALINK_EXPORT int16_t LYRA_SET_PRESET_REAL_TIME(int32_t value) {
  return send(__func__, defs::preset_real_time, value);
}
LYRALINK_EXPORT int16_t LYRA_SET_PRESET_LIVE_TIME(int32_t value) {
  return send(__func__, defs::preset_live_time, value);
}
LYRALINK_EXPORT int16_t LYRA_SET_PRESET_INTEGRAL(int32_t value) { return send(__func__, defs::preset_integral, value); }
LYRALINK_EXPORT int16_t LYRA_SET_PRESET_AREA(int32_t value) { return send(__func__, defs::preset_area, value); }
LYRALINK_EXPORT int16_t LYRA_SET_PRESET_REAL_TIME_MILLISECONDS(int32_t value) {
  return send(__func__, defs::preset_real_time_ms, value);
}
LYRALINK_EXPORT int16_t LYRA_SET_ROI(int32_t a1, int32_t a2) { return send(__func__, defs::roi, a1, a2); }
LYRALINK_EXPORT int16_t LYRA_SET_REPEAT(int32_t a1) { return send(__func__, defs::repeat, a1); }
LYRALINK_EXPORT int16_t LYRA_SET_TIME_PER_CHANNEL(int32_t a1) { return send(__func__, defs::time_per_channel, a1); }
LYRALINK_EXPORT int16_t LYRA_SET_TIME_PER_CHANNEL740(int32_t value) {
  return send(__func__, defs::time_per_channel740, value);
}
LYRALINK_EXPORT int16_t LYRA_SET_GAIN(int32_t a1, int32_t a2) { return send(__func__, defs::gain, a1, a2); }
LYRALINK_EXPORT int16_t LYRA_SET_STABILISATION(int32_t a1, int32_t a2, int32_t a3) {
  return send(__func__, defs::stabilisation, a1, a2, a3);
}
LYRALINK_EXPORT int16_t LYRA_SET_PREAMPLIFIER_POWER(int32_t a1) { return send(__func__, defs::preamplifier_power, a1); }
LYRALINK_EXPORT int16_t LYRA_SET_HIGH_VOLTAGES(int32_t a1, int32_t a2) {
  return send(__func__, defs::high_voltages, a1, a2);
}
LYRALINK_EXPORT int16_t LYRA_SET_FAST(int32_t a1) { return send(__func__, defs::fast, a1); }
LYRALINK_EXPORT int16_t LYRA_SET_SLOW(int32_t a1) { return send(__func__, defs::slow, a1); }
LYRALINK_EXPORT int16_t LYRA_SET_SHAPING_TIME_LOW(void) { return send(__func__, defs::shaping_time_low); }
LYRALINK_EXPORT int16_t LYRA_SET_SHAPING_TIME_HIGH(void) { return send(__func__, defs::shaping_time_high); }
LYRALINK_EXPORT int16_t LYRA_SET_PILE_UP_REJECTION(int32_t a1) { return send(__func__, defs::pile_up_rejection, a1); }
LYRALINK_EXPORT int16_t LYRA_SET_MCA_INPUT_AMPLIFIER(void) { return send(__func__, defs::mca_input_amplifier); }
LYRALINK_EXPORT int16_t LYRA_SET_MCA_INPUT_AMPLIFIER_POS(void) { return send(__func__, defs::mca_input_amplifier_pos); }
LYRALINK_EXPORT int16_t LYRA_SET_MCA_INPUT_AMPLIFIER_NEG(void) { return send(__func__, defs::mca_input_amplifier_neg); }
LYRALINK_EXPORT int16_t LYRA_SET_MCA_INPUT_DIRECT(void) { return send(__func__, defs::mca_input_direct); }
LYRALINK_EXPORT int16_t LYRA_SET_MCA_INPUT_DIRECT_POS(void) { return send(__func__, defs::mca_input_direct_pos); }
LYRALINK_EXPORT int16_t LYRA_SET_MCA_INPUT_DIRECT_NEG(void) { return send(__func__, defs::mca_input_direct_neg); }
LYRALINK_EXPORT int16_t LYRA_SET_INPUT_POLARITY_POS(void) { return send(__func__, defs::input_polarity_pos); }
LYRALINK_EXPORT int16_t LYRA_SET_INPUT_POLARITY_NEG(void) { return send(__func__, defs::input_polarity_neg); }
LYRALINK_EXPORT int16_t LYRA_SET_USER_DATA(int32_t a1, int32_t value) {
  return send(__func__, defs::user_data, a1, value);
}
LYRALINK_EXPORT int16_t LYRA_SET_PZC_MANUAL(int32_t a1, void* answer) {
  return query(__func__, defs::pzc_manual, answer, a1);
}
LYRALINK_EXPORT int16_t LYRA_SET_PZC_VALUE(int32_t a1, void* answer) {
  return query(__func__, defs::pzc_value, answer, a1);
}
LYRALINK_EXPORT int16_t LYRA_SET_PZC_AUTOMATED(void) { return send(__func__, defs::pzc_automated); }
LYRALINK_EXPORT int16_t LYRA_SET_PZC_TIME_OFFSET(int32_t a1, int32_t a2) {
  return send(__func__, defs::pzc_time_offset, a1, a2);
}
LYRALINK_EXPORT int16_t LYRA_SET_TDF(int32_t a1) { return send(__func__, defs::tdf, a1); }
LYRALINK_EXPORT int16_t LYRA_SET_MCS_CHANNEL(int32_t a1) { return send(__func__, defs::mcs_channel, a1); }
LYRALINK_EXPORT int16_t LYRA_SET_UF6_ROIS(int32_t a1, int32_t a2, int32_t a3) {
  return send(__func__, defs::uf6_rois, a1, a2, a3);
}
LYRALINK_EXPORT int16_t LYRA_SET_STAB_PARAM(int32_t a1, int32_t value) {
  return send(__func__, defs::stab_param, a1, value);
}
LYRALINK_EXPORT int16_t LYRA_SET_TRIGGER_FILTER(int32_t a1, int32_t a2) {
  return send(__func__, defs::trigger_filter, a1, a2);
}
LYRALINK_EXPORT int16_t LYRA_SET_TIME(void) { return call(__func__, commands::set_time); }
LYRALINK_EXPORT int16_t LYRA_SET_GENERAL_MODE(int32_t a1) { return send(__func__, defs::general_mode, a1); }
LYRALINK_EXPORT int16_t LYRA_SET_TRIGGER_PARAM(int32_t a1, int32_t value) {
  return send(__func__, defs::trigger_param, a1, value);
}
LYRALINK_EXPORT int16_t LYRA_SET_OFFSET_DAC(int32_t a1) { return send(__func__, defs::offset_dac, a1); }
LYRALINK_EXPORT int16_t LYRA_SET_IP_ADDRESS(const void* address) {
  return call(__func__, commands::set_ip_address, bytes(address));
}
LYRALINK_EXPORT int16_t LYRA_SET_SHAPING_TIME_PAIR(int32_t a1, int32_t a2) {
  return send(__func__, defs::shaping_time_pair, a1, a2);
}
LYRALINK_EXPORT int16_t LYRA_SET_THRESHOLD_TENTHS(int32_t a1) { return send(__func__, defs::threshold_tenths, a1); }
LYRALINK_EXPORT int16_t LYRA_SET_GATING(int32_t a1, int32_t a2, int32_t a3) {
  return send(__func__, defs::gating, a1, a2, a3);
}
LYRALINK_EXPORT int16_t LYRA_SET_OSCI_TRIGGER(int32_t a1, int32_t a2, int32_t a3, int32_t a4) {
  return send(__func__, defs::osci_trigger, a1, a2, a3, a4);
}
LYRALINK_EXPORT int16_t LYRA_SET_FLAT_TOP_TIME(int32_t a1) { return send(__func__, defs::flat_top_time, a1); }
LYRALINK_EXPORT int16_t LYRA_SET_EVAL_FILTER_TYPE(int32_t a1) { return send(__func__, defs::eval_filter_type, a1); }
LYRALINK_EXPORT int16_t LYRA_SET_JITTER_CORRECTION(int32_t a1) { return send(__func__, defs::jitter_correction, a1); }
LYRALINK_EXPORT int16_t LYRA_SET_COMMON_MEMORY_FILL_STOP(int32_t value) {
  return send(__func__, defs::common_memory_fill_stop, value);
}
LYRALINK_EXPORT int16_t LYRA_SET_BASELINE_RESTORING(int32_t a1) { return send(__func__, defs::baseline_restoring, a1); }
LYRALINK_EXPORT int16_t LYRA_SET_PIN5_CURRENT_SOURCE(int32_t a1) {
  return send(__func__, defs::pin5_current_source, a1);
}
LYRALINK_EXPORT int16_t LYRA_SET_AHRC_PARAM(int32_t a1, const int32_t* values) {
  return call(__func__, commands::set_ahrc_param, a1, values);
}
LYRALINK_EXPORT int16_t LYRA_SET_GATING_TIME_WINDOW_WIDTH(int32_t a1, int32_t value) {
  return send(__func__, defs::gating_time_window_width, a1, value);
}

// ---- queries ----
LYRALINK_EXPORT int16_t LYRA_QUERY_VOLTAGE_CURRENT(void* answer) {
  return call(__func__, commands::query_voltage_current, bytes(answer), false);
}
LYRALINK_EXPORT int16_t LYRA_QUERY_VOLTAGE_CURRENT_EX(void* answer, int32_t flag) {
  return call(__func__, commands::query_voltage_current, bytes(answer), static_cast<uint16_t>(flag) != 0);
}
LYRALINK_EXPORT int16_t LYRA_QUERY_POWER(void* answer) { return query(__func__, defs::query_power, answer); }
LYRALINK_EXPORT int16_t LYRA_QUERY_STATE(void* answer) { return query(__func__, defs::query_state, answer); }
LYRALINK_EXPORT int16_t LYRA_QUERY_ON_LINE(void) { return send(__func__, defs::query_on_line); }
LYRALINK_EXPORT int16_t LYRA_QUERY_SPECTRA(int32_t a1, int32_t a2, void* answer) {
  return query(__func__, defs::query_spectra, answer, a1, a2);
}
LYRALINK_EXPORT int16_t LYRA_QUERY_SPECTRA_EX(int32_t first, int32_t count, int32_t selector, void* answer) {
  return call(__func__, commands::query_spectra_ex, first, count, selector, bytes(answer));
}
LYRALINK_EXPORT int16_t LYRA_QUERY_IMAGE(int32_t a1, int32_t a2, int32_t a3, void* answer) {
  return query(__func__, defs::query_image, answer, a1, a2, a3);
}
LYRALINK_EXPORT int16_t LYRA_QUERY_ENRICHMENT(int32_t a1, int32_t a2, int32_t a3, int32_t a4, void* answer) {
  return call(__func__, commands::query_enrichment, a1, a2, a3, a4, bytes(answer));
}
LYRALINK_EXPORT int16_t LYRA_QUERY_USER_DATA(int32_t a1, void* answer) {
  return query(__func__, defs::query_user_data, answer, a1);
}
LYRALINK_EXPORT int16_t LYRA_QUERY_CENTROID(int32_t a1, int32_t a2, void* answer) {
  return query(__func__, defs::query_centroid, answer, a1, a2);
}
LYRALINK_EXPORT int16_t LYRA_QUERY_SYSTEM_DATA(void* answer) {
  return query(__func__, defs::query_system_data, answer);
}
LYRALINK_EXPORT int16_t LYRA_QUERY_UF6_ROIS(void* answer) { return query(__func__, defs::query_uf6_rois, answer); }
LYRALINK_EXPORT int16_t LYRA_QUERY_UF6_INFO(void* answer) { return query(__func__, defs::query_uf6_info, answer); }
LYRALINK_EXPORT int16_t LYRA_QUERY_STATE740(void* answer) { return query(__func__, defs::query_state740, answer); }
LYRALINK_EXPORT int16_t LYRA_QUERY_STATE740_EX(void* answer) {
  return query(__func__, defs::query_state740_ex, answer);
}
LYRALINK_EXPORT int16_t LYRA_QUERY_STATE740_EX2(void* answer) {
  return query(__func__, defs::query_state740_ex2, answer);
}
LYRALINK_EXPORT int16_t LYRA_QUERY_COMMON_MEMORY(int32_t a1, void* buffer) {
  return query(__func__, defs::query_common_memory, buffer, a1);
}
LYRALINK_EXPORT int16_t LYRA_QUERY_HISTOGRAM(int32_t a1, int32_t a2, void* buffer) {
  return query(__func__, defs::query_histogram, buffer, a1, a2);
}
LYRALINK_EXPORT int16_t LYRA_QUERY_FILTER(int32_t a1, void* buffer) {
  return query(__func__, defs::query_filter, buffer, a1);
}
LYRALINK_EXPORT int16_t LYRA_QUERY_OSCI_SCREEN(int32_t a1, void* buffer) {
  return query(__func__, defs::query_osci_screen, buffer, a1);
}
LYRALINK_EXPORT int16_t LYRA_QUERY_ADJUSTMENT_TABLE(void* answer) {
  return query(__func__, defs::query_adjustment_table, answer);
}
LYRALINK_EXPORT int16_t LYRA_QUERY_OSCI_SCREEN_EX(int32_t a1, void* buffer) {
  return query(__func__, defs::query_osci_screen_ex, buffer, a1);
}
LYRALINK_EXPORT int16_t LYRA_QUERY_OSCI_TRIGGER_FILTER_RESULTS(int32_t flag, void* buffer) {
  return call(__func__, commands::query_trigger_filter_results, flag, bytes(buffer));
}
LYRALINK_EXPORT int16_t LYRA_QUERY_OSCI_MAIN_FILTER_RESULTS(void* buffer) {
  return query(__func__, defs::query_osci_main_filter_results, buffer);
}
LYRALINK_EXPORT int16_t LYRA_QUERY_BASELINE(void* answer) { return query(__func__, defs::query_baseline, answer); }
LYRALINK_EXPORT int16_t LYRA_QUERY_CLUSTER(int32_t a1, int32_t a2, void* buffer) {
  return query(__func__, defs::query_cluster, buffer, a1, a2);
}
LYRALINK_EXPORT int16_t LYRA_QUERY_AHRC_HISTOGRAM(int32_t a1, void* buffer) {
  return query(__func__, defs::query_ahrc_histogram, buffer, a1);
}
LYRALINK_EXPORT int16_t LYRA_QUERY_F_HISTOGRAM(int32_t a1, void* buffer) {
  return query(__func__, defs::query_f_histogram, buffer, a1);
}
LYRALINK_EXPORT int16_t LYRA_QUERY_UNALTERABLE_STATE(void* answer) {
  return query(__func__, defs::query_unalterable_state, answer);
}

// ---- extension port, detector information, files ----
LYRALINK_EXPORT int16_t LYRA_QUERY_EEPROM_INFO(void* buffer) {
  return query(__func__, defs::query_eeprom_info, buffer);
}
LYRALINK_EXPORT int16_t LYRA_SET_EXTENSION_PORT(int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5,
                                                int32_t a6) {
  return send(__func__, defs::extension_port, a1, a2, a3, a4, a5, a6);
}
LYRALINK_EXPORT int16_t LYRA_SET_EXTENSION_POLARITY(int32_t a1, int32_t a2) {
  return send(__func__, defs::extension_polarity, a1, a2);
}
LYRALINK_EXPORT int16_t LYRA_SET_EXTENSION_PULSER_PERIOD(int32_t a1, int32_t value) {
  return send(__func__, defs::extension_pulser_period, a1, value);
}
LYRALINK_EXPORT int16_t LYRA_SET_EXTENSION_PULSER_WIDTH(int32_t a1, int32_t value) {
  return send(__func__, defs::extension_pulser_width, a1, value);
}
LYRALINK_EXPORT int16_t LYRA_SET_EXTENSION_RS232(int32_t a1, int32_t a2) {
  return send(__func__, defs::extension_rs232, a1, a2);
}
LYRALINK_EXPORT int16_t LYRA_SET_EXTENSION_OUTPUT(int32_t a1, int32_t a2, int32_t a3) {
  return send(__func__, defs::extension_output, a1, a2, a3);
}
LYRALINK_EXPORT int16_t LYRA_QUERY_EXTENSION_RS232_RX(int32_t a1, void* buffer) {
  return query(__func__, defs::query_extension_rs232_rx, buffer, a1);
}
LYRALINK_EXPORT int16_t LYRA_SET_TTL_LEVELS(int32_t a1, int32_t a2) { return send(__func__, defs::ttl_levels, a1, a2); }
LYRALINK_EXPORT int16_t LYRA_SET_CORE_CLOCK(int32_t a1) { return send(__func__, defs::core_clock, a1); }
LYRALINK_EXPORT int16_t LYRA_QUERY_DETECTOR_INFO(int32_t a1, void* buffer) {
  return query(__func__, defs::query_detector_info, buffer, a1);
}
LYRALINK_EXPORT int16_t LYRA_DELETE_FILE_STEP1(int32_t a1, int32_t a2) {
  return send(__func__, defs::delete_file_step1, a1, a2);
}
LYRALINK_EXPORT int16_t LYRA_DELETE_FILE_STEP2(int32_t a1, int32_t a2) {
  return send(__func__, defs::delete_file_step2, a1, a2);
}
LYRALINK_EXPORT int16_t LYRA_QUERY_DEBUG_INFO(void* answer) { return query(__func__, defs::query_debug_info, answer); }
LYRALINK_EXPORT int16_t LYRA_SET_TWI_EXPANDER(int32_t a1) { return send(__func__, defs::twi_expander, a1); }
LYRALINK_EXPORT int16_t LYRA_WRITE_TO_EXTENSION(const char* text) {
  return call(__func__, commands::write_to_extension, text);
}
LYRALINK_EXPORT int16_t LYRA_READ_FROM_EXTENSION(char* text, int32_t maxlen) {
  return call(__func__, commands::read_from_extension, text, maxlen);
}
LYRALINK_EXPORT int16_t LYRA_READ_FROM_EXTENSION_EX(int32_t a1, char* text, int32_t maxlen) {
  return call(__func__, commands::read_from_extension_ex, a1, text, maxlen);
}
LYRALINK_EXPORT int16_t LYRA_WRITE_DETECTOR_INFO(const void* data, int32_t count) {
  return call(__func__, commands::write_detector_info, bytes(data), count);
}
