/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// What each exported command function sends, as data. The functions
// themselves (lyralink/exports/exports_commands.cpp) are one line each: the
// definition below and a runner from commands.h.
#include <cstdint>

#include "lyralink/commands/command_codes.h"
#include "lyralink/commands/packing.h"

namespace lyralink::commands {

// A setter followed by a second command that runs only when the first
// succeeded; the second changes only the words it names.
struct TwoStep {
  Command first;
  Command second;
};

// What a short query does to the caller's copy of the answer data.
enum class Decoding : uint8_t {
  none,
  state740_clock,        // bytes 12-18 become the calendar form of the packed device time
  system_data_defaults,  // bytes 122-123 of 0, 0 become 10, 20
};

// A command whose 132 bytes of answer data go to the caller whatever the
// status (queries, and the two PZC setters that report their result).
struct ShortQuery {
  Command command;
  Decoding decoding = Decoding::none;
};

// A command answered by a data block of fixed length, copied to the caller
// only on success.
struct LongQuery {
  Command command;
  uint16_t length = 0;
};

namespace defs {
using namespace args;

// ---- acquisition and setting commands ----
inline constexpr Command reset{code::init, pack()};
inline constexpr Command start_acquire{code::start, pack(w(1, a1), d(2, a2))};
inline constexpr Command stop_acquire{code::stop, pack()};
inline constexpr Command clear_memory{code::clear, pack(w(1, 0))};
inline constexpr Command clear_time{code::clear, pack(w(1, 1))};
inline constexpr Command clear_roi{code::clear, pack(w(1, 2))};
inline constexpr Command clear_all{code::clear, pack(w(1, 3))};
inline constexpr Command mode_mca{code::mode, pack(w(1, 0))};
inline constexpr Command mode_mcs{code::mode, pack(w(1, 1))};
inline constexpr Command mcs_input_ttl{code::mcs_input, pack(w(1, 0))};
inline constexpr Command mcs_input_icr{code::mcs_input, pack(w(1, 1))};
inline constexpr Command mcs_input_discr{code::mcs_input, pack(w(1, 2))};
inline constexpr TwoStep mode_mcs_ttl{mode_mcs, mcs_input_ttl};
inline constexpr TwoStep mode_mcs_discr{mode_mcs, mcs_input_discr};
inline constexpr TwoStep mode_mcs_icr{mode_mcs, mcs_input_icr};
inline constexpr Command adc_res_discr{code::adc_res_discr, pack(w(1, a1), w(2, a2), w(3, a3))};
inline constexpr Command threshold{code::threshold, pack(w(1, a1))};
inline constexpr Command preset_none{code::presets, pack(w(1, 0))};
inline constexpr Command preset_real_time{code::presets, pack(w(1, 1), d(2, a1))};
inline constexpr Command preset_live_time{code::presets, pack(w(1, 2), d(2, a1))};
inline constexpr Command preset_integral{code::presets, pack(w(1, 3), d(2, a1))};
inline constexpr Command preset_area{code::presets, pack(w(1, 4), d(2, a1))};
inline constexpr Command preset_real_time_ms{code::presets, pack(w(1, 5), d(2, a1))};
inline constexpr Command roi{code::roi, pack(w(1, a1), w(2, a2))};
inline constexpr Command repeat{code::repeat, pack(w(1, a1))};
inline constexpr Command time_per_channel{code::time_per_channel, pack(w(1, a1))};
inline constexpr Command time_per_channel740{code::time_per_channel740, pack(d(1, a1))};
inline constexpr Command gain{code::gain, pack(w(1, a1), w(2, a2))};
inline constexpr Command stabilisation{code::stabilisation, pack(w(1, a1), w(2, a2), w(3, a3))};
inline constexpr Command preamplifier_power{code::preamplifier_power, pack(w(1, a1))};
inline constexpr Command high_voltages{code::bias, pack(w(1, a1), d(2, a2))};
inline constexpr Command fast{code::fast, pack(w(1, a1))};
inline constexpr Command slow{code::slow, pack(w(1, a1))};
inline constexpr Command shaping_time_low{code::shaping_time, pack(w(1, 1))};
inline constexpr Command shaping_time_high{code::shaping_time, pack(w(1, 3))};
inline constexpr Command pile_up_rejection{code::pur, pack(w(1, a1))};
inline constexpr Command mca_input_amplifier{code::mca_input, pack(w(1, 0))};
inline constexpr TwoStep mca_input_amplifier_pos{mca_input_amplifier, {code::input_polarity, pack(w(1, 0))}};
inline constexpr TwoStep mca_input_amplifier_neg{mca_input_amplifier,
                                                 {code::input_polarity, pack(w(1, 1), w(2, 0), w(3, 0))}};
inline constexpr Command mca_input_direct{code::mca_input, pack(w(1, 5))};
inline constexpr Command mca_input_direct_pos{code::mca_input, pack(w(1, 3))};
inline constexpr Command mca_input_direct_neg{code::mca_input, pack(w(1, 4))};
inline constexpr Command input_polarity_pos{code::input_polarity, pack(w(1, 0))};
inline constexpr Command input_polarity_neg{code::input_polarity, pack(w(1, 1))};
inline constexpr Command user_data{code::user_data, pack(w(1, a1), d(2, a2))};
inline constexpr ShortQuery pzc_manual{{code::measure_pzc, pack(w(1, 15), w(2, a1))}};
inline constexpr ShortQuery pzc_value{{code::measure_pzc, pack(w(1, 0), w(2, a1))}};
inline constexpr Command pzc_automated{code::measure_pzc, pack(w(1, 0xFFFF))};
inline constexpr Command pzc_time_offset{code::pzc_time_offset, pack(w(1, a1), w(2, a2))};
inline constexpr Command tdf{code::tdf, pack(w(1, a1))};
inline constexpr Command mcs_channel{code::mcs_channel, pack(w(1, a1))};
inline constexpr Command uf6_rois{code::uf6_rois, pack(w(1, a1), w(2, a2), w(3, a3))};
inline constexpr Command stab_param{code::stab_param, pack(w(1, a1), d(2, a2))};
inline constexpr Command trigger_filter{code::trigger_filter, pack(w(1, a1), w(2, a2))};
inline constexpr Command time{code::time, pack(d(1, a1))};  // a1: the packed device time
inline constexpr Command general_mode{code::general_mode, pack(w(1, a1))};
inline constexpr Command trigger_param{code::trigger_param, pack(w(1, a1), d(2, a2))};
inline constexpr Command offset_dac{code::offset_dac, pack(w(1, a1))};
// a1 to a4: the four address bytes in memory order.
inline constexpr Command ip_address{code::ip_address, pack(b(0, a1), b(1, a2), b(2, a3), b(3, a4))};
inline constexpr Command shaping_time_pair{code::shaping_time_pair, pack(w(1, a1), w(2, a2))};
inline constexpr Command threshold_tenths{code::threshold_tenths, pack(w(1, a1))};
inline constexpr Command gating{code::gating, pack(b(0, a1), b(1, a2), b(2, a3))};
inline constexpr Command osci_trigger{code::osci_trigger, pack(b(0, a1), b(1, a2), w(2, a3), w(3, a4))};
inline constexpr Command flat_top_time{code::flat_top_time, pack(w(1, a1))};
inline constexpr Command eval_filter_type{code::eval_filter_type, pack(w(1, a1))};
inline constexpr Command jitter_correction{code::jitter_correction, pack(w(1, a1))};
inline constexpr Command common_memory_fill_stop{code::common_memory_fill_stop, pack(d(1, a1))};
inline constexpr Command baseline_restoring{code::baseline_restoring, pack(w_low8(1, a1))};
inline constexpr Command pin5_current_source{code::pin5_current_source, pack(w_low8(1, a1))};
// The parameter block: a header frame (a1 = the block selector), then one
// frame per value (a1 = index, a2 = value).
inline constexpr Command ahrc_header{code::ahrc_param, pack(w(1, 0xFFFF), w(2, a1))};
inline constexpr Command ahrc_value{code::ahrc_param, pack(w(1, a1), d(2, a2))};
inline constexpr Command gating_time_window_width{code::gating_time_window_width, pack(w(1, a1), d(2, a2))};

// ---- queries ----
inline constexpr Command query_voltage_current{code::query_voltage_current, pack()};
inline constexpr ShortQuery query_power{{code::query_power, pack()}};
inline constexpr ShortQuery query_state{{code::query_state, pack()}};
inline constexpr Command query_on_line{code::query_state, pack()};
inline constexpr ShortQuery query_spectra{{code::query_spectra, pack(w(1, a1), d(2, a2))}};
// The spectrum query with automatic choice: the older form carries the
// selector in the top four bits of word 1 (a1 = first + selector x 4096).
inline constexpr ShortQuery query_spectra_old{{code::query_spectra, pack(w(1, a1), w(2, a2))}};
inline constexpr ShortQuery query_spectra_new{{code::query_spectra_ex, pack(w(1, a1), w(2, a2), w(3, a3))}};
inline constexpr ShortQuery query_image{{code::query_image, pack(w(1, a1), w(2, a2), w(3, a3))}};
// a1, a2: the widths of the two ranges; a3, a4: their first channels.
inline constexpr ShortQuery query_enrichment{{code::query_enrichment, pack(b(0, a1), b(1, a2), w(2, a3), w(3, a4))}};
inline constexpr ShortQuery query_user_data{{code::query_user_data, pack(w(1, a1))}};
inline constexpr ShortQuery query_centroid{{code::query_centroid, pack(w(1, a1), w(2, a2))}};
inline constexpr ShortQuery query_system_data{{code::query_system_data, pack()}, Decoding::system_data_defaults};
inline constexpr ShortQuery query_uf6_rois{{code::query_uf6_rois, pack()}};
inline constexpr ShortQuery query_uf6_info{{code::query_uf6_info, pack()}};
inline constexpr ShortQuery query_state740{{code::query_state740, pack()}, Decoding::state740_clock};
inline constexpr ShortQuery query_state740_ex{{code::query_state740_ex, pack()}};
inline constexpr ShortQuery query_state740_ex2{{code::query_state740_ex2, pack()}};
inline constexpr LongQuery query_common_memory{{code::query_common_memory, pack(d(1, a1))}, 1440};
inline constexpr LongQuery query_histogram{{code::query_histogram, pack(w(1, a1), w(2, a2))}, 1024};
inline constexpr LongQuery query_filter{{code::query_filter, pack(w(1, a1))}, 1452};
inline constexpr LongQuery query_osci_screen{{code::query_osci_screen, pack(d(1, a1))}, 1008};
inline constexpr ShortQuery query_adjustment_table{{code::query_adjustment_table, pack()}};
inline constexpr LongQuery query_osci_screen_ex{{code::query_osci_screen_ex, pack(w(1, a1))}, 1444};
// The two parts differ only in word 1.
inline constexpr LongQuery trigger_filter_results_first{{code::query_osci_trigger_filter_results, pack()}, 1444};
inline constexpr Command trigger_filter_results_second{code::query_osci_trigger_filter_results, pack(w(1, 1))};
inline constexpr LongQuery query_osci_main_filter_results{{code::query_osci_main_filter_results, pack()}, 1442};
inline constexpr ShortQuery query_baseline{{code::query_baseline, pack()}};
inline constexpr LongQuery query_cluster{{code::query_cluster, pack(d(1, a1), w(3, a2))}, 1032};
inline constexpr LongQuery query_ahrc_histogram{{code::query_ahrc_histogram, pack(w(1, a1))}, 1440};
inline constexpr LongQuery query_f_histogram{{code::query_f_histogram, pack(w(1, a1))}, 1440};
inline constexpr ShortQuery query_unalterable_state{{code::query_unalterable_state, pack()}};

// ---- extension port, detector information, files ----
inline constexpr LongQuery query_eeprom_info{{code::query_eeprom_info, pack()}, 1024};
inline constexpr Command extension_port{code::extension_port,
                                         pack(b(0, a1), b(1, a2), b(2, a3), b(3, a4), b(4, a5), b(5, a6))};
inline constexpr Command extension_polarity{code::extension_polarity, pack(w(1, a1), w(2, a2))};
inline constexpr Command extension_pulser_period{code::extension_pulser_period, pack(w(1, a1), d(2, a2))};
inline constexpr Command extension_pulser_width{code::extension_pulser_width, pack(w(1, a1), d(2, a2))};
inline constexpr Command extension_rs232{code::extension_rs232, pack(w(1, a1), b(2, a2))};
inline constexpr Command extension_output{code::extension_output, pack(w(1, a1), w(2, a2), w(3, a3))};
inline constexpr LongQuery query_extension_rs232_rx{{code::query_extension_rs232_rx, pack(w(1, a1))}, 1026};
inline constexpr Command ttl_levels{code::ttl_levels, pack(w(1, a1), w(2, a2))};
inline constexpr Command core_clock{code::core_clock, pack(w(1, a1))};
inline constexpr LongQuery query_detector_info{{code::query_detector_info, pack(w(1, a1))}, 1024};
inline constexpr Command delete_file_step1{code::delete_file_step1, pack(d(1, a1), w(3, a2))};
inline constexpr Command delete_file_step2{code::delete_file_step2, pack(d(1, a1), w(3, a2))};
inline constexpr ShortQuery query_debug_info{{code::query_debug_info, pack()}};
inline constexpr Command twi_expander{code::twi_expander, pack(w(1, a1))};
inline constexpr Command clear_extension_tx{code::clear_extension_rs232_tx, pack()};
// a1 to a6: six characters; 0 where the text has ended.
inline constexpr Command write_extension_tx_ascii{code::write_extension_rs232_tx_ascii,
                                                   pack(b(0, a1), b(1, a2), b(2, a3), b(3, a4), b(4, a5), b(5, a6))};
// a1: chunk header; a2 to a5: up to four data bytes, 0 where there is none.
inline constexpr Command detector_info_chunk{code::write_detector_info,
                                              pack(w(1, a1), b(2, a2), b(3, a3), b(4, a4), b(5, a5))};

}  // namespace defs

}  // namespace lyralink::commands
