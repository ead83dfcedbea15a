/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The analysers' command codes: the wire values of every command that the
// generic entry or an exported function sends. Codes from 257 on exist only
// on the MCA-740.
#include <cstdint>

namespace lyralink::commands::code {

inline constexpr uint16_t query_voltage_current = 5;
inline constexpr uint16_t init = 65;
inline constexpr uint16_t start = 66;
inline constexpr uint16_t stop = 67;
inline constexpr uint16_t clear = 68;
inline constexpr uint16_t mode = 69;
inline constexpr uint16_t adc_res_discr = 70;
inline constexpr uint16_t threshold = 71;
inline constexpr uint16_t presets = 72;
inline constexpr uint16_t roi = 73;
inline constexpr uint16_t repeat = 74;
inline constexpr uint16_t time_per_channel = 75;
inline constexpr uint16_t gain = 76;
inline constexpr uint16_t stabilisation = 77;
inline constexpr uint16_t preamplifier_power = 78;
inline constexpr uint16_t bias = 79;  // the high voltage
inline constexpr uint16_t fast = 80;
inline constexpr uint16_t slow = 81;
inline constexpr uint16_t shaping_time = 82;
inline constexpr uint16_t pur = 83;
inline constexpr uint16_t mca_input = 84;
inline constexpr uint16_t mcs_input = 85;
inline constexpr uint16_t input_polarity = 86;
inline constexpr uint16_t user_data = 87;
inline constexpr uint16_t measure_pzc = 88;
inline constexpr uint16_t query_power = 89;
inline constexpr uint16_t query_state = 90;
inline constexpr uint16_t query_spectra = 91;
inline constexpr uint16_t query_image = 92;
inline constexpr uint16_t query_enrichment = 93;
inline constexpr uint16_t query_user_data = 94;
inline constexpr uint16_t query_centroid = 95;
inline constexpr uint16_t pzc_time_offset = 96;
inline constexpr uint16_t tdf = 97;
inline constexpr uint16_t query_system_data = 98;
inline constexpr uint16_t mcs_channel = 99;
inline constexpr uint16_t uf6_rois = 100;
inline constexpr uint16_t query_uf6_rois = 101;
inline constexpr uint16_t query_uf6_info = 102;
inline constexpr uint16_t stab_param = 103;

inline constexpr uint16_t query_state740 = 257;
inline constexpr uint16_t query_spectra_ex = 258;
inline constexpr uint16_t trigger_filter = 259;
inline constexpr uint16_t time = 260;
inline constexpr uint16_t general_mode = 261;
inline constexpr uint16_t trigger_param = 262;
inline constexpr uint16_t query_common_memory = 263;
inline constexpr uint16_t query_eeprom_info = 264;
inline constexpr uint16_t query_histogram = 265;
inline constexpr uint16_t offset_dac = 266;
inline constexpr uint16_t ip_address = 267;
inline constexpr uint16_t shaping_time_pair = 268;
inline constexpr uint16_t threshold_tenths = 269;
inline constexpr uint16_t query_filter = 270;
inline constexpr uint16_t gating = 271;
inline constexpr uint16_t query_state740_ex = 272;
inline constexpr uint16_t osci_trigger = 273;
inline constexpr uint16_t query_osci_screen = 274;
inline constexpr uint16_t flat_top_time = 275;
inline constexpr uint16_t eval_filter_type = 276;
inline constexpr uint16_t time_per_channel740 = 277;
inline constexpr uint16_t jitter_correction = 278;
inline constexpr uint16_t common_memory_fill_stop = 279;
inline constexpr uint16_t baseline_restoring = 280;
inline constexpr uint16_t pin5_current_source = 281;
inline constexpr uint16_t extension_port = 282;
inline constexpr uint16_t extension_polarity = 283;
inline constexpr uint16_t extension_pulser_period = 284;
inline constexpr uint16_t extension_pulser_width = 285;
inline constexpr uint16_t extension_rs232 = 286;
inline constexpr uint16_t clear_extension_rs232_tx = 287;
inline constexpr uint16_t write_extension_rs232_tx_ascii = 288;
inline constexpr uint16_t write_extension_rs232_tx_binary = 289;
inline constexpr uint16_t start_extension_pulser = 290;
inline constexpr uint16_t stop_extension_pulser = 291;
inline constexpr uint16_t extension_output = 292;
inline constexpr uint16_t query_extension_rs232_rx = 293;
inline constexpr uint16_t query_adjustment_table = 294;
inline constexpr uint16_t ttl_levels = 295;
inline constexpr uint16_t query_osci_screen_ex = 297;
inline constexpr uint16_t query_osci_trigger_filter_results = 298;
inline constexpr uint16_t query_osci_main_filter_results = 299;
inline constexpr uint16_t query_baseline = 300;
inline constexpr uint16_t core_clock = 301;
inline constexpr uint16_t query_cluster = 302;
inline constexpr uint16_t query_state740_ex2 = 303;
inline constexpr uint16_t ahrc_param = 304;
inline constexpr uint16_t query_ahrc_histogram = 305;
inline constexpr uint16_t gating_time_window_width = 306;
inline constexpr uint16_t query_detector_info = 307;
inline constexpr uint16_t write_detector_info = 308;
inline constexpr uint16_t delete_file_step1 = 309;
inline constexpr uint16_t delete_file_step2 = 310;
inline constexpr uint16_t query_debug_info = 513;
inline constexpr uint16_t twi_expander = 514;
inline constexpr uint16_t query_f_histogram = 516;
inline constexpr uint16_t query_unalterable_state = 65532;

}  // namespace lyralink::commands::code
