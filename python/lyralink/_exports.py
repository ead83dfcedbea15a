# SPDX-License-Identifier: LGPL-2.1-or-later
"""The exported functions of liblyralink.so, one row each.

Every row gives the C prototype in a short notation (so that ctypes calls
them with the right argument types) and the Python name that runs it:
``Link.<method>`` for what needs an open link, ``lyralink.<function>`` for
the rest. ``code`` is the first command code the export sends; ``via``
names the export that the Python name calls when it is not this one (the
longer forms cover the shorter ones).

Type letters: ``h`` int16_t, ``H`` uint16_t, ``i`` int32_t, ``p`` void*,
``s`` char*, ``P`` int32_t*, ``v`` void (result only).
"""

from __future__ import annotations

import ctypes
from dataclasses import dataclass
from typing import Dict, Optional, Tuple

__all__ = ["Export", "EXPORTS", "EXPORTS_BY_NAME", "CTYPES"]

CTYPES = {
    "h": ctypes.c_int16,
    "H": ctypes.c_uint16,
    "i": ctypes.c_int32,
    "p": ctypes.c_void_p,
    "s": ctypes.c_char_p,
    "P": ctypes.POINTER(ctypes.c_int32),
    "v": None,
}


@dataclass(frozen=True)
class Export:
    name: str
    result: str
    arguments: str
    method: str
    code: Optional[int] = None
    via: Optional[str] = None

    @property
    def restype(self) -> object:
        return CTYPES[self.result]

    @property
    def argtypes(self) -> Tuple[object, ...]:
        return tuple(CTYPES[a] for a in self.arguments)


def _rows() -> Tuple[Export, ...]:
    E = Export
    L = "Link."
    M = "lyralink."
    return (
        # ---- link: open, close, time-out, parameters ----
        E("COMM_INIT", "h", "s", M + "open_serial", via="COMM_INIT_EX3"),
        E("COMM_INIT_EX", "h", "si", M + "open_serial", via="COMM_INIT_EX3"),
        E("COMM_INIT_EX2", "h", "siii", M + "open_serial", via="COMM_INIT_EX3"),
        E("COMM_INIT_EX3", "h", "siiiH", M + "open_serial"),
        E("COMM_INIT_ETHERNET_IP", "h", "sii", M + "open_ethernet"),
        E("COMM_INIT_SELECT", "h", "piip", M + "select"),
        E("COMM_INIT_ETHERNET", "h", "iiip", M + "search_ethernet"),
        E("COMM_INIT_ETHERNET_TREBLA", "h", "iiip", M + "search_heads"),
        E("COMM_CLOSE", "v", "", L + "close"),
        E("COMM_TERMINATE_ETHERNET", "v", "", M + "terminate_ethernet"),
        E("SET_TIMEOUT", "h", "i", L + "set_timeout"),
        E("GET_COMM_PARAM", "v", "p", L + "parameters"),
        # ---- USB serial helpers ----
        E("IS_USB_PORT", "h", "s", M + "is_usb_port"),
        E("IS_CURRENT_USB_PORT", "h", "", L + "is_usb"),
        E("SET_LATENCY_TIMER_EX", "h", "si", M + "set_latency_timer"),
        E("SET_LATENCY_TIMER", "h", "s", M + "set_latency_timer", via="SET_LATENCY_TIMER_EX"),
        E("SET_CURRENT_LATENCY_TIMER", "h", "i", L + "set_latency_timer"),
        E("GET_CURRENT_LATENCY_TIMER", "h", "P", L + "latency_timer"),
        E("SET_USB_CHARGER", "v", "h", L + "set_usb_charger"),
        E("GET_USB_CHARGER", "h", "", L + "usb_charger_on"),
        E("GET_USB_CHARGER_STATE", "h", "", L + "usb_charging"),
        E("USB_TEST", "v", "", M + "usb_test"),
        # ---- generic command entry ----
        E("MCA_COMM6", "h", "spiiiiii", L + "command"),
        E("MCA_COMM", "h", "spiiii", L + "command"),
        # ---- acquisition and setting commands ----
        E("LYRA_RESET", "h", "", L + "reset", 65),
        E("LYRA_START_ACQUIRE", "h", "ii", L + "start_acquire", 66),
        E("LYRA_STOP_ACQUIRE", "h", "", L + "stop_acquire", 67),
        E("LYRA_CLEAR_MEMORY", "h", "", L + "clear_memory", 68),
        E("LYRA_CLEAR_TIME", "h", "", L + "clear_time", 68),
        E("LYRA_CLEAR_ROI", "h", "", L + "clear_roi", 68),
        E("LYRA_CLEAR_ALL", "h", "", L + "clear_all", 68),
        E("LYRA_SET_MODE_MCA", "h", "", L + "set_mode_mca", 69),
        E("LYRA_SET_MODE_MCS", "h", "", L + "set_mode_mcs", 69),
        E("LYRA_SET_MODE_MCS_TTL", "h", "", L + "set_mode_mcs_ttl", 69),
        E("LYRA_SET_MODE_MCS_DISCR", "h", "", L + "set_mode_mcs_discr", 69),
        E("LYRA_SET_MODE_MCS_ICR", "h", "", L + "set_mode_mcs_icr", 69),
        E("LYRA_SET_MCS_INPUT_TTL", "h", "", L + "set_mcs_input_ttl", 85),
        E("LYRA_SET_MCS_INPUT_DISCR", "h", "", L + "set_mcs_input_discr", 85),
        E("LYRA_SET_MCS_INPUT_ICR", "h", "", L + "set_mcs_input_icr", 85),
        E("LYRA_SET_ADC_RES_DISCR", "h", "iii", L + "set_adc_res_discr", 70),
        E("LYRA_SET_THRESHOLD", "h", "i", L + "set_threshold", 71),
        E("LYRA_SET_PRESET_NONE", "h", "", L + "set_preset_none", 72),
        E("LYRA_SET_PRESET_REAL_TIME", "h", "i", L + "set_preset_real_time", 72),
        E("LYRA_SET_PRESET_LIVE_TIME", "h", "i", L + "set_preset_live_time", 72),
        E("LYRA_SET_PRESET_INTEGRAL", "h", "i", L + "set_preset_integral", 72),
        E("LYRA_SET_PRESET_AREA", "h", "i", L + "set_preset_area", 72),
        E("LYRA_SET_PRESET_REAL_TIME_MILLISECONDS", "h", "i", L + "set_preset_real_time_ms", 72),
        E("LYRA_SET_ROI", "h", "ii", L + "set_roi", 73),
        E("LYRA_SET_REPEAT", "h", "i", L + "set_repeat", 74),
        E("LYRA_SET_TIME_PER_CHANNEL", "h", "i", L + "set_time_per_channel", 75),
        E("LYRA_SET_TIME_PER_CHANNEL740", "h", "i", L + "set_time_per_channel740", 277),
        E("LYRA_SET_GAIN", "h", "ii", L + "set_gain", 76),
        E("LYRA_SET_STABILISATION", "h", "iii", L + "set_stabilisation", 77),
        E("LYRA_SET_PREAMPLIFIER_POWER", "h", "i", L + "set_preamplifier_power", 78),
        E("LYRA_SET_HIGH_VOLTAGES", "h", "ii", L + "set_high_voltage", 79),
        E("LYRA_SET_FAST", "h", "i", L + "set_fast", 80),
        E("LYRA_SET_SLOW", "h", "i", L + "set_slow", 81),
        E("LYRA_SET_SHAPING_TIME_LOW", "h", "", L + "set_shaping_time_low", 82),
        E("LYRA_SET_SHAPING_TIME_HIGH", "h", "", L + "set_shaping_time_high", 82),
        E("LYRA_SET_PILE_UP_REJECTION", "h", "i", L + "set_pile_up_rejection", 83),
        E("LYRA_SET_MCA_INPUT_AMPLIFIER", "h", "", L + "set_mca_input_amplifier", 84),
        E("LYRA_SET_MCA_INPUT_AMPLIFIER_POS", "h", "", L + "set_mca_input_amplifier_pos", 84),
        E("LYRA_SET_MCA_INPUT_AMPLIFIER_NEG", "h", "", L + "set_mca_input_amplifier_neg", 84),
        E("LYRA_SET_MCA_INPUT_DIRECT", "h", "", L + "set_mca_input_direct", 84),
        E("LYRA_SET_MCA_INPUT_DIRECT_POS", "h", "", L + "set_mca_input_direct_pos", 84),
        E("LYRA_SET_MCA_INPUT_DIRECT_NEG", "h", "", L + "set_mca_input_direct_neg", 84),
        E("LYRA_SET_INPUT_POLARITY_POS", "h", "", L + "set_input_polarity_pos", 86),
        E("LYRA_SET_INPUT_POLARITY_NEG", "h", "", L + "set_input_polarity_neg", 86),
        E("LYRA_SET_USER_DATA", "h", "ii", L + "set_user_data", 87),
        E("LYRA_SET_PZC_MANUAL", "h", "ip", L + "set_pzc_manual", 88),
        E("LYRA_SET_PZC_VALUE", "h", "ip", L + "set_pzc_value", 88),
        E("LYRA_SET_PZC_AUTOMATED", "h", "", L + "set_pzc_automated", 88),
        E("LYRA_SET_PZC_TIME_OFFSET", "h", "ii", L + "set_pzc_time_offset", 96),
        E("LYRA_SET_TDF", "h", "i", L + "set_tdf", 97),
        E("LYRA_SET_MCS_CHANNEL", "h", "i", L + "set_mcs_channel", 99),
        E("LYRA_SET_UF6_ROIS", "h", "iii", L + "set_uf6_rois", 100),
        E("LYRA_SET_STAB_PARAM", "h", "ii", L + "set_stab_param", 103),
        E("LYRA_SET_TRIGGER_FILTER", "h", "ii", L + "set_trigger_filter", 259),
        E("LYRA_SET_TIME", "h", "", L + "set_time", 260),
        E("LYRA_SET_GENERAL_MODE", "h", "i", L + "set_general_mode", 261),
        E("LYRA_SET_TRIGGER_PARAM", "h", "ii", L + "set_trigger_param", 262),
        E("LYRA_SET_OFFSET_DAC", "h", "i", L + "set_offset_dac", 266),
        E("LYRA_SET_IP_ADDRESS", "h", "p", L + "set_ip_address", 267),
        E("LYRA_SET_SHAPING_TIME_PAIR", "h", "ii", L + "set_shaping_time_pair", 268),
        E("LYRA_SET_THRESHOLD_TENTHS", "h", "i", L + "set_threshold_tenths", 269),
        E("LYRA_SET_GATING", "h", "iii", L + "set_gating", 271),
        E("LYRA_SET_OSCI_TRIGGER", "h", "iiii", L + "set_osci_trigger", 273),
        E("LYRA_SET_FLAT_TOP_TIME", "h", "i", L + "set_flat_top_time", 275),
        E("LYRA_SET_EVAL_FILTER_TYPE", "h", "i", L + "set_eval_filter_type", 276),
        E("LYRA_SET_JITTER_CORRECTION", "h", "i", L + "set_jitter_correction", 278),
        E("LYRA_SET_COMMON_MEMORY_FILL_STOP", "h", "i", L + "set_common_memory_fill_stop", 279),
        E("LYRA_SET_BASELINE_RESTORING", "h", "i", L + "set_baseline_restoring", 280),
        E("LYRA_SET_PIN5_CURRENT_SOURCE", "h", "i", L + "set_pin5_current_source", 281),
        E("LYRA_SET_AHRC_PARAM", "h", "ip", L + "set_ahrc_param", 304),
        E("LYRA_SET_GATING_TIME_WINDOW_WIDTH", "h", "ii", L + "set_gating_time_window_width", 306),
        # ---- queries ----
        E("LYRA_QUERY_VOLTAGE_CURRENT", "h", "p", L + "query_voltage_current", 5),
        E("LYRA_QUERY_VOLTAGE_CURRENT_EX", "h", "pi", L + "query_voltage_current", 5),
        E("LYRA_QUERY_POWER", "h", "p", L + "query_power", 89),
        E("LYRA_QUERY_STATE", "h", "p", L + "query_state", 90),
        E("LYRA_QUERY_ON_LINE", "h", "", L + "is_online", 90),
        E("LYRA_QUERY_SPECTRA", "h", "iip", L + "query_spectra", 91),
        E("LYRA_QUERY_SPECTRA_EX", "h", "iiip", L + "query_spectrum", 91),
        E("LYRA_QUERY_IMAGE", "h", "iiip", L + "query_image", 92),
        E("LYRA_QUERY_ENRICHMENT", "h", "iiiip", L + "query_enrichment", 93),
        E("LYRA_QUERY_USER_DATA", "h", "ip", L + "query_user_data", 94),
        E("LYRA_QUERY_CENTROID", "h", "iip", L + "query_centroid", 95),
        E("LYRA_QUERY_SYSTEM_DATA", "h", "p", L + "query_system_data", 98),
        E("LYRA_QUERY_UF6_ROIS", "h", "p", L + "query_uf6_rois", 101),
        E("LYRA_QUERY_UF6_INFO", "h", "p", L + "query_uf6_info", 102),
        E("LYRA_QUERY_STATE740", "h", "p", L + "query_state740", 257),
        E("LYRA_QUERY_STATE740_EX", "h", "p", L + "query_state740_ex", 272),
        E("LYRA_QUERY_STATE740_EX2", "h", "p", L + "query_state740_ex2", 303),
        E("LYRA_QUERY_COMMON_MEMORY", "h", "ip", L + "query_common_memory", 263),
        E("LYRA_QUERY_HISTOGRAM", "h", "iip", L + "query_histogram", 265),
        E("LYRA_QUERY_FILTER", "h", "ip", L + "query_filter", 270),
        E("LYRA_QUERY_OSCI_SCREEN", "h", "ip", L + "query_osci_screen", 274),
        E("LYRA_QUERY_ADJUSTMENT_TABLE", "h", "p", L + "query_adjustment_table", 294),
        E("LYRA_QUERY_OSCI_SCREEN_EX", "h", "ip", L + "query_osci_screen_ex", 297),
        E("LYRA_QUERY_OSCI_TRIGGER_FILTER_RESULTS", "h", "ip", L + "query_osci_trigger_filter_results", 298),
        E("LYRA_QUERY_OSCI_MAIN_FILTER_RESULTS", "h", "p", L + "query_osci_main_filter_results", 299),
        E("LYRA_QUERY_BASELINE", "h", "p", L + "query_baseline", 300),
        E("LYRA_QUERY_CLUSTER", "h", "iip", L + "query_cluster", 302),
        E("LYRA_QUERY_AHRC_HISTOGRAM", "h", "ip", L + "query_ahrc_histogram", 305),
        E("LYRA_QUERY_F_HISTOGRAM", "h", "ip", L + "query_f_histogram", 516),
        E("LYRA_QUERY_UNALTERABLE_STATE", "h", "p", L + "query_unalterable_state", 65532),
        # ---- extension port, detector information, files ----
        E("LYRA_QUERY_EEPROM_INFO", "h", "p", L + "query_eeprom_info", 264),
        E("LYRA_SET_EXTENSION_PORT", "h", "iiiiii", L + "set_extension_port", 282),
        E("LYRA_SET_EXTENSION_POLARITY", "h", "ii", L + "set_extension_polarity", 283),
        E("LYRA_SET_EXTENSION_PULSER_PERIOD", "h", "ii", L + "set_extension_pulser_period", 284),
        E("LYRA_SET_EXTENSION_PULSER_WIDTH", "h", "ii", L + "set_extension_pulser_width", 285),
        E("LYRA_SET_EXTENSION_RS232", "h", "ii", L + "set_extension_rs232", 286),
        E("LYRA_SET_EXTENSION_OUTPUT", "h", "iii", L + "set_extension_output", 292),
        E("LYRA_QUERY_EXTENSION_RS232_RX", "h", "ip", L + "query_extension_rs232_rx", 293),
        E("LYRA_SET_TTL_LEVELS", "h", "ii", L + "set_ttl_levels", 295),
        E("LYRA_SET_CORE_CLOCK", "h", "i", L + "set_core_clock", 301),
        E("LYRA_QUERY_DETECTOR_INFO", "h", "ip", L + "query_detector_info", 307),
        E("LYRA_DELETE_FILE_STEP1", "h", "ii", L + "delete_file_step1", 309),
        E("LYRA_DELETE_FILE_STEP2", "h", "ii", L + "delete_file_step2", 310),
        E("LYRA_QUERY_DEBUG_INFO", "h", "p", L + "query_debug_info", 513),
        E("LYRA_SET_TWI_EXPANDER", "h", "i", L + "set_twi_expander", 514),
        E("LYRA_WRITE_TO_EXTENSION", "h", "s", L + "write_to_extension", 287),
        E("LYRA_READ_FROM_EXTENSION", "h", "si", L + "read_from_extension", 293),
        E("LYRA_READ_FROM_EXTENSION_EX", "h", "isi", L + "read_from_extension_ex", 293),
        E("LYRA_WRITE_DETECTOR_INFO", "h", "pi", L + "write_detector_info", 308),
    )


EXPORTS: Tuple[Export, ...] = _rows()
EXPORTS_BY_NAME: Dict[str, Export] = {e.name: e for e in EXPORTS}
