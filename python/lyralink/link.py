# SPDX-License-Identifier: LGPL-2.1-or-later
"""The link to one analyser and its commands.

The library drives one link per process. :func:`open_serial`,
:func:`open_multiplex`, :func:`open_ethernet`, :func:`select`,
:func:`search_ethernet` and :func:`search_heads` open it and return a
:class:`Link`; use it as a context manager so that it is closed however the
block ends::

    with lyralink.open_serial("COM3") as mca:
        print(mca.query_state740())

Opening a second link while one is open raises :class:`LinkError`; close
the first (``mca.close()`` or :func:`close`).

Every command method raises :class:`LinkError` or :class:`DeviceError` when
its status is not 0 (see :mod:`lyralink.errors`). Integer arguments are
checked against the field they are packed into (16-bit words take -32768 to
65535, 32-bit values -2**31 to 2**32 - 1, bytes -128 to 255) instead of
being cut silently to their low bits.
"""

from __future__ import annotations

import atexit
import ctypes
import errno
import fcntl
import os
import re
import threading
from typing import Any, Optional, Sequence, Tuple, Union

import numpy as np
from numpy.typing import NDArray

from . import answers as A
from ._library import library
from .errors import LinkError, error_for_status
from .recording import PathLike, ProgressCallback, run_record, sample_rate, time_range_seconds

__all__ = [
    "Link",
    "open_serial",
    "open_multiplex",
    "open_ethernet",
    "select",
    "search_ethernet",
    "search_heads",
    "close",
    "current_link",
    "terminate_ethernet",
    "is_usb_port",
    "set_latency_timer",
    "usb_test",
]

DEFAULT_TIMEOUT_MS = 1000
DEFAULT_RETRIES = 3
DEFAULT_BAUD = 38400

_state_lock = threading.RLock()
_current: Optional["Link"] = None


# ---- argument checks: a value that does not fit its field is an error ----

def _int(value: Any, name: str) -> int:
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)):
        raise TypeError("%s must be an integer, not %r" % (name, value))
    return int(value)


def _w(value: Any, name: str) -> int:
    v = _int(value, name)
    if not -0x8000 <= v <= 0xFFFF:
        raise ValueError("%s = %d does not fit its 16-bit field (-32768 to 65535)" % (name, v))
    return v


def _d(value: Any, name: str) -> int:
    v = _int(value, name)
    if not -0x80000000 <= v <= 0xFFFFFFFF:
        raise ValueError("%s = %d does not fit 32 bits" % (name, v))
    return v - 0x100000000 if v > 0x7FFFFFFF else v


def _b(value: Any, name: str) -> int:
    v = _int(value, name)
    if not -0x80 <= v <= 0xFF:
        raise ValueError("%s = %d does not fit its 8-bit field (-128 to 255)" % (name, v))
    return v


def _ms(value: Any, name: str) -> int:
    v = _int(value, name)
    if not 0 < v <= 0x7FFFFFFF:
        raise ValueError("%s must be a positive number of milliseconds, not %d" % (name, v))
    return v


def _positive(value: Any, name: str) -> int:
    v = _int(value, name)
    if not 0 < v <= 0x7FFFFFFF:
        raise ValueError("%s must be a positive integer, not %d" % (name, v))
    return v


def _read_parameters(get_comm_param: Any) -> A.LinkParameters:
    record = _buffer(12)
    record[0] = 12
    get_comm_param(record)
    return A.decode_link_parameters(bytes(record))


def _c_string(value: Any, name: str, limit: Optional[int] = None) -> bytes:
    if isinstance(value, str):
        raw = value.encode("utf-8")
    elif isinstance(value, (bytes, bytearray)):
        raw = bytes(value)
    else:
        raise TypeError("%s must be a str or bytes, not %r" % (name, value))
    if b"\0" in raw:
        raise ValueError("%s must not contain a NUL character" % name)
    if limit is not None and len(raw) > limit:
        raise ValueError("%s %r is longer than %d characters" % (name, value, limit))
    return raw


def _buffer(size: int) -> Any:
    return (ctypes.c_uint8 * size)()


# ---- the link ----

class Link:
    """The open link to one analyser.

    Do not construct it yourself: the ``open_*`` functions, :func:`select`
    and the searches return it. ``name`` says what was opened ("COM3",
    "MPLX3#1", "10.0.0.5", "COM5 at 307200 baud" ...).
    """

    def __init__(self, name: str, kind: str) -> None:
        self.name = name
        self.kind = kind
        self._closed = False
        self._lib = library()

    # -- life --

    @property
    def closed(self) -> bool:
        return self._closed

    def close(self) -> None:
        """Ends the link (COMM_CLOSE). Closing twice does nothing."""
        global _current
        with _state_lock:
            if self._closed:
                return
            self._closed = True
            if _current is self:
                _current = None
            self._lib.COMM_CLOSE()

    def __enter__(self) -> "Link":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __repr__(self) -> str:
        return "<lyralink.Link %s %s>" % (self.name, "closed" if self._closed else "open")

    def _lost(self) -> None:
        # Status 1: the library has no link any more (a failed reopen, or
        # COMM_CLOSE called behind this package's back).
        global _current
        with _state_lock:
            self._closed = True
            if _current is self:
                _current = None

    def _fn(self, name: str) -> Any:
        if self._closed:
            raise LinkError("the link to %s is closed" % self.name, 1, name)
        return getattr(self._lib, name)

    def _check(self, name: str, status: int, answer: Optional[bytes] = None, label: Optional[str] = None) -> None:
        if status == 0:
            return
        if status == 1:
            self._lost()
        error = error_for_status(status, label or name, answer)
        error.command = name
        raise error

    def _run(self, name: str, *args: int) -> None:
        self._check(name, self._fn(name)(*args))

    def _short(self, name: str, *args: Any) -> bytes:
        fn = self._fn(name)
        buf = _buffer(A.ANSWER_SIZE)
        status = fn(*args, buf)
        data = bytes(buf)
        self._check(name, status, data)
        return data

    def _long(self, name: str, size: int, *args: Any) -> bytes:
        fn = self._fn(name)
        buf = _buffer(size)
        self._check(name, fn(*args, buf))
        return bytes(buf)

    # -- link parameters and USB helpers --

    def set_timeout(self, timeout_ms: int) -> None:
        """Answer timeout in ms from the next attempt on (at least 850 is used)."""
        self._fn("SET_TIMEOUT")(_ms(timeout_ms, "timeout_ms"))

    def parameters(self) -> A.LinkParameters:
        """Port identifier, bit rate and USB COM number of the link."""
        return _read_parameters(self._fn("GET_COMM_PARAM"))

    def is_usb(self) -> bool:
        """The link runs over the analyser's USB-serial bridge."""
        return bool(self._fn("IS_CURRENT_USB_PORT")() != 0)

    def set_latency_timer(self, milliseconds: int) -> bool:
        """Sets the latency timer of the bridge link. On its serial port the
        link is closed, the value written and the link reopened. True when
        the value changed (and the reopen succeeded)."""
        changed = bool(self._fn("SET_CURRENT_LATENCY_TIMER")(_d(milliseconds, "milliseconds")) != 0)
        if not changed and self.parameters().port_id == A.PORT_ID_NONE:
            self._lost()
            raise LinkError("the link to %s was lost when it was reopened with the new latency timer" % self.name)
        return changed

    def latency_timer(self) -> Optional[int]:
        """The latency timer of the bridge link in ms, None when the link is
        no bridge link or the value cannot be read."""
        value = ctypes.c_int32(0)
        if self._fn("GET_CURRENT_LATENCY_TIMER")(ctypes.byref(value)) == 0:
            return None
        return value.value

    def set_usb_charger(self, on: bool) -> None:
        """Switches the analyser's USB charger on or off (serial port and
        direct USB links only)."""
        self._fn("SET_USB_CHARGER")(1 if on else 0)

    def usb_charger_on(self) -> bool:
        return bool(self._fn("GET_USB_CHARGER")() != 0)

    def usb_charging(self) -> bool:
        return bool(self._fn("GET_USB_CHARGER_STATE")() != 0)

    # -- generic command entry --

    def command(self, name: str, *params: int) -> bytes:
        """Runs the command table entry ``name`` ("CMD_QUERY_STATE740",
        "init" ...; letter case is ignored) with up to six numbers, packed as
        its row says, and returns the 132 bytes of raw answer data. Status 2
        here is an unknown name as well as device error 0xAAAB."""
        if len(params) > 6:
            raise TypeError("a command takes at most 6 numbers, got %d" % len(params))
        raw = _c_string(name, "name")
        p = [_d(v, "p%d" % (i + 1)) for i, v in enumerate(params)] + [0] * (6 - len(params))
        export = "MCA_COMM" if len(params) <= 4 else "MCA_COMM6"
        fn = self._fn(export)
        buf = _buffer(A.ANSWER_SIZE)
        status = fn(raw, buf, *(p[:4] if export == "MCA_COMM" else p))
        data = bytes(buf)
        self._check(export, status, data, label="%s(%r)" % (export, name))
        return data

    # -- acquisition and settings --

    def reset(self) -> None:
        self._run("LYRA_RESET")

    def start_acquire(self, a1: int = 0, a2: int = 0) -> None:
        """Starts an acquisition (66: w(a1), d(a2)); the recorder sends 0, 0."""
        self._run("LYRA_START_ACQUIRE", _w(a1, "a1"), _d(a2, "a2"))

    def stop_acquire(self) -> None:
        self._run("LYRA_STOP_ACQUIRE")

    def clear_memory(self) -> None:
        self._run("LYRA_CLEAR_MEMORY")

    def clear_time(self) -> None:
        self._run("LYRA_CLEAR_TIME")

    def clear_roi(self) -> None:
        self._run("LYRA_CLEAR_ROI")

    def clear_all(self) -> None:
        """Clears memory, time and regions of interest."""
        self._run("LYRA_CLEAR_ALL")

    def set_mode_mca(self) -> None:
        self._run("LYRA_SET_MODE_MCA")

    def set_mode_mcs(self) -> None:
        self._run("LYRA_SET_MODE_MCS")

    def set_mode_mcs_ttl(self) -> None:
        """MCS mode with the TTL input (two commands; a failed first one
        stops there)."""
        self._run("LYRA_SET_MODE_MCS_TTL")

    def set_mode_mcs_discr(self) -> None:
        self._run("LYRA_SET_MODE_MCS_DISCR")

    def set_mode_mcs_icr(self) -> None:
        self._run("LYRA_SET_MODE_MCS_ICR")

    def set_mcs_input_ttl(self) -> None:
        self._run("LYRA_SET_MCS_INPUT_TTL")

    def set_mcs_input_discr(self) -> None:
        self._run("LYRA_SET_MCS_INPUT_DISCR")

    def set_mcs_input_icr(self) -> None:
        self._run("LYRA_SET_MCS_INPUT_ICR")

    def set_adc_res_discr(self, a1: int, a2: int, a3: int) -> None:
        """ADC resolution and discriminator (70: three words)."""
        self._run("LYRA_SET_ADC_RES_DISCR", _w(a1, "a1"), _w(a2, "a2"), _w(a3, "a3"))

    def set_threshold(self, threshold: int) -> None:
        self._run("LYRA_SET_THRESHOLD", _w(threshold, "threshold"))

    def set_preset_none(self) -> None:
        self._run("LYRA_SET_PRESET_NONE")

    def set_preset_real_time(self, seconds: int) -> None:
        self._run("LYRA_SET_PRESET_REAL_TIME", _d(seconds, "seconds"))

    def set_preset_live_time(self, seconds: int) -> None:
        self._run("LYRA_SET_PRESET_LIVE_TIME", _d(seconds, "seconds"))

    def set_preset_integral(self, counts: int) -> None:
        self._run("LYRA_SET_PRESET_INTEGRAL", _d(counts, "counts"))

    def set_preset_area(self, counts: int) -> None:
        self._run("LYRA_SET_PRESET_AREA", _d(counts, "counts"))

    def set_preset_real_time_ms(self, milliseconds: int) -> None:
        self._run("LYRA_SET_PRESET_REAL_TIME_MILLISECONDS", _d(milliseconds, "milliseconds"))

    def set_roi(self, low: int, high: int) -> None:
        self._run("LYRA_SET_ROI", _w(low, "low"), _w(high, "high"))

    def set_repeat(self, count: int) -> None:
        self._run("LYRA_SET_REPEAT", _w(count, "count"))

    def set_time_per_channel(self, value: int) -> None:
        self._run("LYRA_SET_TIME_PER_CHANNEL", _w(value, "value"))

    def set_time_per_channel740(self, value: int) -> None:
        self._run("LYRA_SET_TIME_PER_CHANNEL740", _d(value, "value"))

    def set_gain(self, coarse: int, fine: int) -> None:
        """Coarse and fine gain (76)."""
        self._run("LYRA_SET_GAIN", _w(coarse, "coarse"), _w(fine, "fine"))

    def set_stabilisation(self, a1: int, a2: int, a3: int) -> None:
        self._run("LYRA_SET_STABILISATION", _w(a1, "a1"), _w(a2, "a2"), _w(a3, "a3"))

    def set_preamplifier_power(self, value: int) -> None:
        self._run("LYRA_SET_PREAMPLIFIER_POWER", _w(value, "value"))

    def set_high_voltage(self, volts: int, polarity: int = 0) -> None:
        """Detector high voltage (79): volts, polarity 0 positive, else negative."""
        self._run("LYRA_SET_HIGH_VOLTAGES", _w(volts, "volts"), _d(polarity, "polarity"))

    def set_fast(self, value: int) -> None:
        self._run("LYRA_SET_FAST", _w(value, "value"))

    def set_slow(self, value: int) -> None:
        self._run("LYRA_SET_SLOW", _w(value, "value"))

    def set_shaping_time_low(self) -> None:
        self._run("LYRA_SET_SHAPING_TIME_LOW")

    def set_shaping_time_high(self) -> None:
        self._run("LYRA_SET_SHAPING_TIME_HIGH")

    def set_pile_up_rejection(self, value: int) -> None:
        self._run("LYRA_SET_PILE_UP_REJECTION", _w(value, "value"))

    def set_mca_input_amplifier(self) -> None:
        self._run("LYRA_SET_MCA_INPUT_AMPLIFIER")

    def set_mca_input_amplifier_pos(self) -> None:
        """Amplifier input, then positive polarity (two commands)."""
        self._run("LYRA_SET_MCA_INPUT_AMPLIFIER_POS")

    def set_mca_input_amplifier_neg(self) -> None:
        """Amplifier input, then negative polarity (two commands)."""
        self._run("LYRA_SET_MCA_INPUT_AMPLIFIER_NEG")

    def set_mca_input_direct(self) -> None:
        self._run("LYRA_SET_MCA_INPUT_DIRECT")

    def set_mca_input_direct_pos(self) -> None:
        self._run("LYRA_SET_MCA_INPUT_DIRECT_POS")

    def set_mca_input_direct_neg(self) -> None:
        self._run("LYRA_SET_MCA_INPUT_DIRECT_NEG")

    def set_input_polarity_pos(self) -> None:
        self._run("LYRA_SET_INPUT_POLARITY_POS")

    def set_input_polarity_neg(self) -> None:
        self._run("LYRA_SET_INPUT_POLARITY_NEG")

    def set_user_data(self, index: int, value: int) -> None:
        """One 32-bit user-data word (87). Word 4 is the application code."""
        self._run("LYRA_SET_USER_DATA", _w(index, "index"), _d(value, "value"))

    def set_pzc_manual(self, value: int) -> bytes:
        """Manual pole-zero cancellation (88); the 132 bytes of answer data."""
        return self._short("LYRA_SET_PZC_MANUAL", _w(value, "value"))

    def set_pzc_value(self, value: int) -> bytes:
        """Pole-zero cancellation value (88); the 132 bytes of answer data."""
        return self._short("LYRA_SET_PZC_VALUE", _w(value, "value"))

    def set_pzc_automated(self) -> None:
        self._run("LYRA_SET_PZC_AUTOMATED")

    def set_pzc_time_offset(self, a1: int, a2: int) -> None:
        self._run("LYRA_SET_PZC_TIME_OFFSET", _w(a1, "a1"), _w(a2, "a2"))

    def set_tdf(self, value: int) -> None:
        self._run("LYRA_SET_TDF", _w(value, "value"))

    def set_mcs_channel(self, channel: int) -> None:
        self._run("LYRA_SET_MCS_CHANNEL", _w(channel, "channel"))

    def set_uf6_rois(self, a1: int, a2: int, a3: int) -> None:
        self._run("LYRA_SET_UF6_ROIS", _w(a1, "a1"), _w(a2, "a2"), _w(a3, "a3"))

    def set_stab_param(self, index: int, value: int) -> None:
        self._run("LYRA_SET_STAB_PARAM", _w(index, "index"), _d(value, "value"))

    def set_trigger_filter(self, a1: int, a2: int) -> None:
        self._run("LYRA_SET_TRIGGER_FILTER", _w(a1, "a1"), _w(a2, "a2"))

    def set_time(self) -> None:
        """Sets the analyser's clock from this computer's local time (260)."""
        self._run("LYRA_SET_TIME")

    def set_general_mode(self, mode: int) -> None:
        self._run("LYRA_SET_GENERAL_MODE", _w(mode, "mode"))

    def set_trigger_param(self, index: int, value: int) -> None:
        self._run("LYRA_SET_TRIGGER_PARAM", _w(index, "index"), _d(value, "value"))

    def set_offset_dac(self, value: int) -> None:
        self._run("LYRA_SET_OFFSET_DAC", _w(value, "value"))

    def set_ip_address(self, address: A.AddressLike) -> None:
        """The analyser's IPv4 address ("192.168.0.10", four bytes or numbers)."""
        raw = (ctypes.c_uint8 * 4)(*A.ip_address_bytes(address))
        self._run("LYRA_SET_IP_ADDRESS", raw)  # type: ignore[arg-type]

    def set_shaping_time_pair(self, a1: int, a2: int) -> None:
        self._run("LYRA_SET_SHAPING_TIME_PAIR", _w(a1, "a1"), _w(a2, "a2"))

    def set_threshold_tenths(self, value: int) -> None:
        self._run("LYRA_SET_THRESHOLD_TENTHS", _w(value, "value"))

    def set_gating(self, a1: int, a2: int, a3: int) -> None:
        self._run("LYRA_SET_GATING", _b(a1, "a1"), _b(a2, "a2"), _b(a3, "a3"))

    def set_osci_trigger(self, a1: int, a2: int, a3: int, a4: int) -> None:
        self._run("LYRA_SET_OSCI_TRIGGER", _b(a1, "a1"), _b(a2, "a2"), _w(a3, "a3"), _w(a4, "a4"))

    def set_flat_top_time(self, value: int) -> None:
        self._run("LYRA_SET_FLAT_TOP_TIME", _w(value, "value"))

    def set_eval_filter_type(self, value: int) -> None:
        self._run("LYRA_SET_EVAL_FILTER_TYPE", _w(value, "value"))

    def set_jitter_correction(self, value: int) -> None:
        self._run("LYRA_SET_JITTER_CORRECTION", _w(value, "value"))

    def set_common_memory_fill_stop(self, byte_count: int) -> None:
        """Bytes of signal memory to record from the next start (279)."""
        self._run("LYRA_SET_COMMON_MEMORY_FILL_STOP", _d(byte_count, "byte_count"))

    def set_baseline_restoring(self, value: int) -> None:
        self._run("LYRA_SET_BASELINE_RESTORING", _b(value, "value"))

    def set_pin5_current_source(self, value: int) -> None:
        self._run("LYRA_SET_PIN5_CURRENT_SOURCE", _b(value, "value"))

    def set_ahrc_param(self, selector: int, values: Sequence[int]) -> None:
        """The AHRC parameter block: the selector, then ten 32-bit values
        (eleven commands, stopping at the first failure)."""
        values = list(values)
        if len(values) != 10:
            raise ValueError("set_ahrc_param takes ten values, got %d" % len(values))
        block = (ctypes.c_int32 * 10)(*[_d(v, "values[%d]" % i) for i, v in enumerate(values)])
        self._run("LYRA_SET_AHRC_PARAM", _w(selector, "selector"), block)  # type: ignore[arg-type]

    def set_gating_time_window_width(self, a1: int, value: int) -> None:
        self._run("LYRA_SET_GATING_TIME_WINDOW_WIDTH", _w(a1, "a1"), _d(value, "value"))

    # -- queries --

    def query_voltage_current(self, flag: Optional[int] = None) -> A.VoltageCurrent:
        """Voltage and current readings 1-10, rescaled. With a nonzero flag
        reading 5 is (raw x 1000 / 1024) - 200 instead."""
        if flag is None:
            return A.decode_voltage_current(self._short("LYRA_QUERY_VOLTAGE_CURRENT"))
        fn = self._fn("LYRA_QUERY_VOLTAGE_CURRENT_EX")
        buf = _buffer(A.ANSWER_SIZE)
        status = fn(buf, _w(flag, "flag"))
        self._check("LYRA_QUERY_VOLTAGE_CURRENT_EX", status, bytes(buf))
        return A.decode_voltage_current(bytes(buf))

    def query_power(self) -> A.Power:
        return A.decode_power(self._short("LYRA_QUERY_POWER"))

    def query_state(self) -> A.State:
        return A.decode_state(self._short("LYRA_QUERY_STATE"))

    def is_online(self) -> bool:
        """Does the analyser answer? False when no valid answer came; an
        answer with a device error word counts as an answer."""
        status = self._fn("LYRA_QUERY_ON_LINE")()
        if status == 1:
            self._check("LYRA_QUERY_ON_LINE", status)
        return bool(status != 3)

    def query_spectra(self, a1: int, a2: int) -> bytes:
        """The older spectrum query as the device defines it (91: w(a1),
        d(a2)); the raw answer data."""
        return self._short("LYRA_QUERY_SPECTRA", _w(a1, "a1"), _d(a2, "a2"))

    def query_spectrum(self, first: int, count: int = 32, selector: int = 0) -> NDArray[np.uint32]:
        """``count`` (1-32) spectrum channels from ``first``, as uint32. The
        library picks the older query (91) or the newer one (258)."""
        count = _int(count, "count")
        if not 1 <= count <= 32:
            raise ValueError("count must be 1 to 32 channels (one answer), not %d" % count)
        data = self._short("LYRA_QUERY_SPECTRA_EX", _w(first, "first"), count, _w(selector, "selector"))
        return np.frombuffer(data, dtype="<u4", count=count).astype(np.uint32)

    def spectrum(self, channels: int = 4096, selector: int = 0) -> NDArray[np.uint32]:
        """The first ``channels`` channels of a spectrum, read 32 at a time."""
        channels = _int(channels, "channels")
        if not 0 < channels <= 0x10000:
            raise ValueError("channels must be 1 to 65536, not %d" % channels)
        out = np.empty(channels, dtype=np.uint32)
        for first in range(0, channels, 32):
            n = min(32, channels - first)
            out[first:first + n] = self.query_spectrum(first, n, selector)
        return out

    def query_image(self, a1: int, a2: int, a3: int) -> bytes:
        return self._short("LYRA_QUERY_IMAGE", _w(a1, "a1"), _w(a2, "a2"), _w(a3, "a3"))

    def query_enrichment(self, first_low: int, first_high: int, second_low: int, second_high: int) -> bytes:
        """The enrichment query over the channel ranges first_low..first_high
        and second_low..second_high (93); the raw answer data."""
        return self._short("LYRA_QUERY_ENRICHMENT", _w(first_low, "first_low"), _w(first_high, "first_high"),
                           _w(second_low, "second_low"), _w(second_high, "second_high"))

    def query_user_data(self, page: int = 0) -> A.UserData:
        """A page of 26 user-data words; page 0 carries the application code."""
        page = _w(page, "page")
        return A.decode_user_data(self._short("LYRA_QUERY_USER_DATA", page), page)

    def query_centroid(self, low: int, high: int) -> bytes:
        return self._short("LYRA_QUERY_CENTROID", _w(low, "low"), _w(high, "high"))

    def query_system_data(self) -> bytes:
        return self._short("LYRA_QUERY_SYSTEM_DATA")

    def query_uf6_rois(self) -> bytes:
        return self._short("LYRA_QUERY_UF6_ROIS")

    def query_uf6_info(self) -> bytes:
        return self._short("LYRA_QUERY_UF6_INFO")

    def query_state740(self) -> A.State740:
        """Firmware, feature flags, highest HV, acquisition state and clock."""
        return A.decode_state740(self._short("LYRA_QUERY_STATE740"))

    def query_state740_ex(self) -> A.State740Ex:
        """Common memory size and sample rate."""
        return A.decode_state740_ex(self._short("LYRA_QUERY_STATE740_EX"))

    def query_state740_ex2(self) -> bytes:
        return self._short("LYRA_QUERY_STATE740_EX2")

    def query_common_memory(self, offset: int, raw: bool = False) -> NDArray[np.uint16]:
        """720 samples of the common (signal) memory from sample ``offset``,
        masked to their 14 signal bits (``raw=True``: the 16-bit words as
        they came, status bits included)."""
        data = self._long("LYRA_QUERY_COMMON_MEMORY", 1440, _d(offset, "offset"))
        words = np.frombuffer(data, dtype="<u2").astype(np.uint16)
        return words if raw else words & np.uint16(0x3FFF)

    def query_histogram(self, first: int, count: int = 256) -> NDArray[np.uint32]:
        """A histogram block (265): 256 channels of 32 bits."""
        data = self._long("LYRA_QUERY_HISTOGRAM", 1024, _w(first, "first"), _w(count, "count"))
        return np.frombuffer(data, dtype="<u4").astype(np.uint32)

    def query_filter(self, a1: int) -> bytes:
        return self._long("LYRA_QUERY_FILTER", 1452, _w(a1, "a1"))

    def query_osci_screen(self, offset: int) -> NDArray[np.uint16]:
        """An oscilloscope screen (274): 504 samples of 16 bits."""
        data = self._long("LYRA_QUERY_OSCI_SCREEN", 1008, _d(offset, "offset"))
        return np.frombuffer(data, dtype="<u2").astype(np.uint16)

    def query_adjustment_table(self) -> bytes:
        return self._short("LYRA_QUERY_ADJUSTMENT_TABLE")

    def query_osci_screen_ex(self, a1: int) -> bytes:
        """The 1444-byte block of the extended oscilloscope screen (297)."""
        return self._long("LYRA_QUERY_OSCI_SCREEN_EX", 1444, _w(a1, "a1"))

    def query_osci_trigger_filter_results(self, both_parts: bool = False) -> bytes:
        """The trigger filter results (298): 1444 bytes, or 2884 with the
        second part (its first 4 bytes dropped) after the first."""
        size = 2884 if both_parts else 1444
        return self._long("LYRA_QUERY_OSCI_TRIGGER_FILTER_RESULTS", size, 1 if both_parts else 0)

    def query_osci_main_filter_results(self) -> bytes:
        return self._long("LYRA_QUERY_OSCI_MAIN_FILTER_RESULTS", 1442)

    def query_baseline(self) -> bytes:
        return self._short("LYRA_QUERY_BASELINE")

    def query_cluster(self, a1: int, a2: int) -> bytes:
        return self._long("LYRA_QUERY_CLUSTER", 1032, _d(a1, "a1"), _w(a2, "a2"))

    def query_ahrc_histogram(self, a1: int) -> NDArray[np.uint32]:
        """The AHRC histogram block (305): 360 channels of 32 bits."""
        data = self._long("LYRA_QUERY_AHRC_HISTOGRAM", 1440, _w(a1, "a1"))
        return np.frombuffer(data, dtype="<u4").astype(np.uint32)

    def query_f_histogram(self, a1: int) -> NDArray[np.uint32]:
        """The F histogram block (516): 360 channels of 32 bits."""
        data = self._long("LYRA_QUERY_F_HISTOGRAM", 1440, _w(a1, "a1"))
        return np.frombuffer(data, dtype="<u4").astype(np.uint32)

    def query_unalterable_state(self) -> bytes:
        return self._short("LYRA_QUERY_UNALTERABLE_STATE")

    # -- extension port, detector information, files --

    def query_eeprom_info(self) -> bytes:
        return self._long("LYRA_QUERY_EEPROM_INFO", 1024)

    def set_extension_port(self, a1: int, a2: int, a3: int, a4: int, a5: int, a6: int) -> None:
        self._run("LYRA_SET_EXTENSION_PORT", *[_b(v, "a%d" % (i + 1)) for i, v in enumerate((a1, a2, a3, a4, a5, a6))])

    def set_extension_polarity(self, a1: int, a2: int) -> None:
        self._run("LYRA_SET_EXTENSION_POLARITY", _w(a1, "a1"), _w(a2, "a2"))

    def set_extension_pulser_period(self, pulser: int, period: int) -> None:
        self._run("LYRA_SET_EXTENSION_PULSER_PERIOD", _w(pulser, "pulser"), _d(period, "period"))

    def set_extension_pulser_width(self, pulser: int, width: int) -> None:
        self._run("LYRA_SET_EXTENSION_PULSER_WIDTH", _w(pulser, "pulser"), _d(width, "width"))

    def set_extension_rs232(self, a1: int, a2: int) -> None:
        self._run("LYRA_SET_EXTENSION_RS232", _w(a1, "a1"), _b(a2, "a2"))

    def set_extension_output(self, a1: int, a2: int, a3: int) -> None:
        self._run("LYRA_SET_EXTENSION_OUTPUT", _w(a1, "a1"), _w(a2, "a2"), _w(a3, "a3"))

    def query_extension_rs232_rx(self, a1: int = 0) -> bytes:
        """The bytes received on the extension port's serial line (293)."""
        return A.extension_received(self._long("LYRA_QUERY_EXTENSION_RS232_RX", 1026, _w(a1, "a1")))

    def set_ttl_levels(self, a1: int, a2: int) -> None:
        self._run("LYRA_SET_TTL_LEVELS", _w(a1, "a1"), _w(a2, "a2"))

    def set_core_clock(self, value: int) -> None:
        self._run("LYRA_SET_CORE_CLOCK", _w(value, "value"))

    def query_detector_info(self, page: int = 0) -> bytes:
        """A 1024-byte page of the stored detector description (307)."""
        return self._long("LYRA_QUERY_DETECTOR_INFO", 1024, _w(page, "page"))

    def delete_file_step1(self, file: int, key: int) -> None:
        self._run("LYRA_DELETE_FILE_STEP1", _d(file, "file"), _w(key, "key"))

    def delete_file_step2(self, file: int, key: int) -> None:
        self._run("LYRA_DELETE_FILE_STEP2", _d(file, "file"), _w(key, "key"))

    def delete_file(self, file: int, key: int) -> None:
        """Both steps of a file deletion with the same file and key."""
        self.delete_file_step1(file, key)
        self.delete_file_step2(file, key)

    def query_debug_info(self) -> bytes:
        return self._short("LYRA_QUERY_DEBUG_INFO")

    def set_twi_expander(self, value: int) -> None:
        self._run("LYRA_SET_TWI_EXPANDER", _w(value, "value"))

    def write_to_extension(self, text: Union[str, bytes]) -> None:
        """Sends text (str as UTF-8, or bytes without NUL) through the
        extension port's serial transmitter, six characters a frame."""
        self._run("LYRA_WRITE_TO_EXTENSION", _c_string(text, "text"))  # type: ignore[arg-type]

    def read_from_extension(self, maxlen: int = 1024) -> bytes:
        """The received bytes of the extension port, at most ``maxlen``
        (1-1024), oldest first."""
        maxlen = _int(maxlen, "maxlen")
        if not 1 <= maxlen <= 1024:
            raise ValueError("maxlen must be 1 to 1024, not %d" % maxlen)
        text = ctypes.create_string_buffer(maxlen + 1)
        self._run("LYRA_READ_FROM_EXTENSION", text, maxlen)  # type: ignore[arg-type]
        return text.value

    def read_from_extension_ex(self, a1: int, maxlen: int = 1024) -> bytes:
        """The last ``maxlen`` (1-1024) bytes of the extension receive area,
        whatever the count says (293 with word 1 = a1)."""
        maxlen = _int(maxlen, "maxlen")
        if not 1 <= maxlen <= 1024:
            raise ValueError("maxlen must be 1 to 1024, not %d" % maxlen)
        text = ctypes.create_string_buffer(maxlen + 1)
        self._run("LYRA_READ_FROM_EXTENSION_EX", _w(a1, "a1"), text, maxlen)  # type: ignore[arg-type]
        return text.value

    def write_detector_info(self, data: Union[bytes, str]) -> None:
        """Stores 1 to 2048 bytes of detector description (str as UTF-8),
        four bytes a frame."""
        raw = data.encode("utf-8") if isinstance(data, str) else bytes(data)
        if not 1 <= len(raw) <= 2048:
            raise ValueError("detector information is 1 to 2048 bytes, not %d" % len(raw))
        buf = (ctypes.c_uint8 * len(raw)).from_buffer_copy(raw)
        self._run("LYRA_WRITE_DETECTOR_INFO", buf, len(raw))  # type: ignore[arg-type]

    # -- recording --

    def _rate_and_memory(self) -> Tuple[int, int]:
        """Samples per second and signal memory bytes, read as the recorder reads them."""
        state, ext = self.query_state740(), self.query_state740_ex()
        return sample_rate(state.firmware, ext.sample_rate_khz), ext.memory_size

    def sample_rate(self) -> int:
        """Samples per second of the signal memory, read as the recorder reads it."""
        return self._rate_and_memory()[0]

    def recording_range(self) -> float:
        """The longest recording the analyser's memory holds, in seconds."""
        rate, memory = self._rate_and_memory()
        return time_range_seconds(memory, rate)

    def record(self, seconds: float, path: Optional[PathLike] = None,
               progress: Optional[ProgressCallback] = None) -> NDArray[np.uint16]:
        """Records ``seconds`` of the signal memory, exactly as pulsecap and
        ``lyractl record`` do, and returns the trace: N = seconds x rate
        samples (truncated) as uint16, masked to 14 bits.

        With ``path`` the trace file is written as the chunks arrive: WAVE
        when the path ends in ".wav", else text; the bytes are those of
        ``lyractl record``. ``progress(samples_read, total)`` is called after
        every chunk. Raises ValueError when the memory cannot hold the time;
        when a memory read fails, the LinkError or DeviceError carries the
        samples read so far in ``.samples`` (the file holds them too)."""
        return run_record(self, seconds, path, progress)


# ---- opening ----

def _take_slot() -> None:
    if _current is not None and not _current.closed:
        raise LinkError(
            "a link is already open in this process (%s): the library drives one link per process; "
            "close it first (link.close(), or lyralink.close())" % _current.name)
    port_id = _read_parameters(library().GET_COMM_PARAM).port_id
    if port_id not in (A.PORT_ID_NONE, A.PORT_ID_ETHERNET):
        raise LinkError("the library already has a link open (port identifier %d), opened outside this package; "
                        "close it first" % port_id)


def _opened(name: str, kind: str) -> Link:
    global _current
    link = Link(name, kind)
    _current = link
    return link


def _port_path(name: str) -> Optional[str]:
    """Where a port name leads, by the library's rules (None: no such port)."""
    directory = os.environ.get("LYRALINK_PORT_DIR")
    if directory is not None:
        p = os.path.join(directory, name)
        return p if os.path.lexists(p) else None
    p = os.path.join("/etc/lyralink/ports", name)
    if os.path.lexists(p):
        return p
    m = re.fullmatch(r"COM(\d+)", name)
    if not m:
        return None
    n = int(m.group(1))
    for first, device in ((1, "/dev/ttyS"), (33, "/dev/ttyUSB"), (65, "/dev/ttyACM")):
        if first <= n < first + 32:
            return device + str(n - first)
    return None


def explain_port_failure(name: str) -> str:
    """Why a serial port could not be opened, as far as this process can tell."""
    if len(name) > 7:
        return "port names longer than 7 characters are refused"
    path = _port_path(name)
    where = os.environ.get("LYRALINK_PORT_DIR") or "/etc/lyralink/ports and the default table"
    if path is None:
        return "no such port (no entry %s in %s)" % (name, where)
    try:
        fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    except OSError as e:
        if e.errno in (errno.EACCES, errno.EPERM):
            return ("%s: permission denied; serial ports belong to the group 'dialout': "
                    "sudo usermod -aG dialout \"$USER\", then log in again" % path)
        return "%s: %s" % (path, os.strerror(e.errno or 0))
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        fcntl.flock(fd, fcntl.LOCK_UN)
    except OSError:
        return "%s is held by another program (a Multiplex server, or another link)" % path
    finally:
        os.close(fd)
    return "%s opens, but the library refused it (no serial device?)" % path


def open_serial(port: str, *, baud: int = DEFAULT_BAUD, timeout_ms: int = DEFAULT_TIMEOUT_MS,
                retries: int = DEFAULT_RETRIES, lock: bool = False) -> Link:
    """Opens a serial port link ("COM3"; see ``$LYRALINK_PORT_DIR`` and
    /etc/lyralink/ports for what COMn means here). ``lock`` holds the
    machine-wide transaction lock around every exchange so that several
    processes sharing the port never interleave. Nothing is sent; whether
    the analyser answers shows at the first command (or :meth:`Link.is_online`).

    The defaults are lyractl's: 3 attempts per transaction (COMM_INIT itself
    makes 8), so a silent analyser is reported after about 3 s, not 8."""
    raw = _c_string(port, "port")
    with _state_lock:
        _take_slot()
        lib = library()
        if lib.COMM_INIT_EX3(raw, _ms(timeout_ms, "timeout_ms"), _positive(retries, "retries"),
                             _positive(baud, "baud"), 1 if lock else 0) == 0:
            if port.upper().startswith("MPLX"):
                raise LinkError("cannot open %s: no Multiplex server for that port, or the client slot is taken"
                                % port)
            raise LinkError("cannot open %s: %s" % (port, explain_port_failure(port)))
        return _opened(port, "multiplex" if port.upper().startswith("MPLX") else "serial")


def open_multiplex(name: str, *, timeout_ms: int = DEFAULT_TIMEOUT_MS, retries: int = DEFAULT_RETRIES,
                   lock: bool = False) -> Link:
    """Attaches as client c (1-3) to the Multiplex server of serial port n:
    ``open_multiplex("MPLX3#1")`` (a running ``mplxd COM3``)."""
    if not isinstance(name, str) or not re.fullmatch(r"MPLX\d+#[123]", name):
        raise ValueError("a Multiplex name is MPLXn#c with c = 1, 2 or 3, not %r" % (name,))
    return open_serial(name, timeout_ms=timeout_ms, retries=retries, lock=lock)


def open_ethernet(address: str, *, timeout_ms: int = DEFAULT_TIMEOUT_MS, retries: int = DEFAULT_RETRIES) -> Link:
    """Ethernet link to a dotted IPv4 address (UDP port 50000). Nothing is
    sent: whether a device answers shows at the first command."""
    raw = _c_string(address, "address", limit=15)
    # Four decimal numbers: the library's parser would also take "10.0.0"
    # (as 10.0.0.0) or "0x0a.0.0.1", which are typing errors here.
    A.ip_address_bytes(address)
    with _state_lock:
        _take_slot()
        if library().COMM_INIT_ETHERNET_IP(raw, _ms(timeout_ms, "timeout_ms"), _positive(retries, "retries")) == 0:
            raise LinkError("cannot open an Ethernet link to %s: not a dotted IPv4 address, or no UDP socket" % address)
        return _opened(address, "ethernet")


def _label(p: A.LinkParameters) -> str:
    if p.port_id == A.PORT_ID_ETHERNET:
        return "Ethernet"
    if 1 <= p.port_id <= 256:
        return "COM%d at %d baud" % (p.port_id, p.baud)
    if p.port_id in A.PORT_ID_USB:
        return "USB at %d baud" % p.baud
    return "link"


def select(serial: Optional[int] = None, *, port_filter: Optional[int] = None, admit_310: bool = False,
           min_firmware_310: int = 0xFFFF, admit_740: bool = True, min_firmware_740: int = 0x1116,
           dialogs: bool = False, splash: bool = False, timeout_ms: int = DEFAULT_TIMEOUT_MS,
           retries: int = DEFAULT_RETRIES) -> Link:
    """Searches every serial port, USB bridge and local network
    (COMM_INIT_SELECT) and opens the link to the analyser with serial
    number ``serial`` that is free and on the port ``port_filter`` (a port
    identifier: n for COMn, 0 Ethernet, 0x0101/0x0102 direct USB; None any),
    moving a serial or USB link to its highest bit rate.

    ``serial=None`` takes the first analyser that :func:`lyralink.discover`
    lists as applicable (one more search, by ``lyractl``), or, with
    ``dialogs=True``, lets the user choose in the selection dialog (when a
    display is there). Blocks for at least two seconds. The link's
    ``port_id`` and ``baud`` say where it went."""
    from .discovery import discover

    if serial is None and not dialogs:
        chosen = None
        for entry in discover(timeout_ms=timeout_ms, retries=retries):
            if entry.applicable and (port_filter is None or entry.port_id == port_filter):
                chosen = entry
                break
        if chosen is None:
            raise LinkError("no applicable analyser found%s (see lyralink.discover())"
                            % ("" if port_filter is None else " on port %d" % port_filter))
        serial, port_filter = chosen.serial, chosen.port_id
    block = A.select_param(serial or 0, admit_310, min_firmware_310, admit_740, min_firmware_740, splash, dialogs,
                           port_filter)
    with _state_lock:
        _take_slot()
        opened = library().COMM_INIT_SELECT(ctypes.byref(block), _ms(timeout_ms, "timeout_ms"),
                                            _positive(retries, "retries"), None)
        if opened == 0:
            if serial:
                raise LinkError("no free analyser with serial number %d found%s (see lyralink.discover())"
                                % (serial, "" if port_filter is None else " on port %d" % port_filter))
            raise LinkError("no analyser was chosen (nothing found, or the dialog was cancelled)")
        link = _opened("selection", "select")
    p = link.parameters()
    link.port_id, link.baud, link.kind = p.port_id, p.baud, p.channel  # type: ignore[attr-defined]
    link.name = _label(p)
    return link


def _search(export: str, serial: int, timeout_ms: int, retries: int, what: str) -> Link:
    serial = _int(serial, "serial")
    with _state_lock:
        _take_slot()
        if getattr(library(), export)(serial, _ms(timeout_ms, "timeout_ms"), _positive(retries, "retries"), None) == 0:
            if serial & 0xFFFF == 0:
                raise LinkError("no %s was chosen (none answered, no display for the dialog, or it was cancelled)"
                                % what)
            raise LinkError("no free %s with serial number %d answered on the local networks" % (what, serial))
        link = _opened("Ethernet", "ethernet")
    return link


def search_ethernet(serial: int, *, timeout_ms: int = DEFAULT_TIMEOUT_MS, retries: int = DEFAULT_RETRIES) -> Link:
    """Ethernet-only search (COMM_INIT_ETHERNET): broadcasts to the local
    networks for 1 s and opens the first free analyser with this serial
    number (0: the user chooses in a dialog, when a display is there)."""
    return _search("COMM_INIT_ETHERNET", serial, timeout_ms, retries, "analyser")


def search_heads(serial: int, *, timeout_ms: int = DEFAULT_TIMEOUT_MS, retries: int = DEFAULT_RETRIES) -> Link:
    """As :func:`search_ethernet` for the Trebla measuring heads
    (COMM_INIT_ETHERNET_TREBLA)."""
    return _search("COMM_INIT_ETHERNET_TREBLA", serial, timeout_ms, retries, "measuring head")


# ---- process-wide helpers ----

def current_link() -> Optional[Link]:
    """The open link of this process, if this package opened one."""
    return _current if _current is not None and not _current.closed else None


def close() -> None:
    """Closes the open link, if any."""
    link = _current
    if link is not None:
        link.close()


def terminate_ethernet() -> None:
    """Destroys the library's UDP socket; an open Ethernet link is closed first."""
    with _state_lock:
        link = _current
        if link is not None and link.kind == "ethernet":
            link.close()
        library().COMM_TERMINATE_ETHERNET()


def is_usb_port(port: str) -> bool:
    """The serial port ("COM4") sits on the analysers' USB-serial bridge."""
    return bool(library().IS_USB_PORT(_c_string(port, "port")) != 0)


def set_latency_timer(port: str, milliseconds: int = 8) -> bool:
    """Sets the latency timer of a bridge port; True when a new value was
    written (False: it had that value, no bridge port, or no permission)."""
    return bool(library().SET_LATENCY_TIMER_EX(_c_string(port, "port"), _d(milliseconds, "milliseconds")) != 0)


def usb_test() -> None:
    """USB_TEST: does nothing (kept for hosts that call it)."""
    library().USB_TEST()


@atexit.register
def _close_at_exit() -> None:
    # A Multiplex client slot or a transaction lock is given back at once
    # rather than when the server notices the process is gone.
    try:
        close()
    except Exception:  # pragma: no cover - the interpreter is going down
        pass
