# SPDX-License-Identifier: LGPL-2.1-or-later
"""Recording the analyser's common (signal) memory, as the recorder does.

A recording is: the fill stop (2 N bytes), the start, a pause of 100 ms,
then the memory read back in chunks of 720 samples, each masked to its low
14 bits and written to the trace file at once. The files are byte for byte
those of ``pulsecap`` and ``lyractl record``: text with one ``"%5u\\r\\n"``
line per sample, or WAVE (RIFF, 16-bit mono PCM, mid-scale 8192 as 0) when
the path ends in ``.wav``.

The functions at the top are plain arithmetic and byte formatting, used by
:meth:`lyralink.Link.record`.
"""

from __future__ import annotations

import math
import os
import re
import struct
import time
from decimal import Decimal
from fractions import Fraction
from typing import TYPE_CHECKING, Any, BinaryIO, Callable, Optional, Tuple, Union

import numpy as np
from numpy.typing import NDArray

if TYPE_CHECKING:  # pragma: no cover
    from .link import Link

__all__ = [
    "CHUNK_SAMPLES",
    "MEMORY_RESERVE",
    "MAX_TRACE_SAMPLES",
    "sample_rate",
    "time_range_seconds",
    "Seconds",
    "decimal_times",
    "sample_count",
    "recording_fits",
    "is_wave_path",
    "wave_header",
    "text_bytes",
    "wave_bytes",
    "ProgressCallback",
]

CHUNK_SAMPLES = 720
#: Bytes of the common memory that no recording uses.
MEMORY_RESERVE = 1440
#: The largest N whose WAVE sizes (36 + 2 N) and fill stop (2 N) fit 32 bits.
MAX_TRACE_SAMPLES = (0xFFFFFFFF - 36) // 2
FIRST_FIRMWARE_WITH_RATE = 0x1304
WAVE_MID_SCALE = 8192

#: ``progress(samples_read, total)`` after every chunk.
ProgressCallback = Callable[[int, int], object]
PathLike = Union[str, "os.PathLike[str]"]
#: A measuring time: decimal text as ``lyractl record`` takes it ("0.0003"),
#: a Decimal, a Fraction, an int, or a float (see :func:`decimal_times`).
Seconds = Union[str, Decimal, Fraction, int, float]

_UINT64_MAX = (1 << 64) - 1
#: The largest factor decimal_times() takes, as in the recorder's core.
MAX_DECIMAL_FACTOR = 1 << 60
_DECIMAL_TEXT = re.compile(r"(?:[0-9]+\.?[0-9]*|\.[0-9]+)\Z")
# Fraction digits taken as one integer at a time: well below the interpreter's
# limit on converting long digit strings (4300 digits).
_DIGIT_BLOCK = 1000


def sample_rate(firmware: int, rate_khz: int) -> int:
    """Samples per second: 10 MHz below firmware 0x1304, else the kHz word
    of the extended 740 state times 1000."""
    if firmware < FIRST_FIRMWARE_WITH_RATE:
        return 10_000_000
    return rate_khz * 1000


def time_range_seconds(memory_bytes: int, rate: int) -> float:
    """The longest recording: (M - 1440) / (2 R) seconds; 0 when the memory
    is smaller than the reserve or the rate is unknown."""
    if memory_bytes < MEMORY_RESERVE or rate == 0:
        return 0.0
    return float(memory_bytes - MEMORY_RESERVE) / (2.0 * float(rate))


def _digits_times(whole: str, fraction: str, factor: int) -> Tuple[int, bool]:
    """floor(whole.fraction x factor) on the decimal digits, saturated at
    2**64 - 1 (the recorder's arithmetic, digit for digit), and whether
    the product was not whole."""
    whole = whole.lstrip("0")
    if len(whole) > 20:  # above 10**20 > 2**64 whatever the factor
        return _UINT64_MAX, False
    product = int(whole or "0") * factor
    # The fraction times the factor: the long multiplication of its digits
    # by the factor from the last digit on, the fraction's own digits
    # dropped; the carry stays below the factor.
    carry = 0
    inexact = False
    end = len(fraction)
    while end > 0:
        start = max(0, end - _DIGIT_BLOCK)
        carry, dropped = divmod(int(fraction[start:end]) * factor + carry, 10 ** (end - start))
        inexact = inexact or dropped != 0
        end = start
    return min(product + carry, _UINT64_MAX), inexact


def _times(seconds: Seconds, factor: int) -> Tuple[int, bool]:
    if isinstance(factor, bool) or not isinstance(factor, int) or not 0 <= factor <= MAX_DECIMAL_FACTOR:
        raise ValueError("the factor must be an int from 0 to 2**60, not %r" % (factor,))
    if isinstance(seconds, bool) or not isinstance(seconds, (str, Decimal, Fraction, int, float)):
        raise TypeError("seconds must be decimal text or a number, not %r" % (seconds,))
    if isinstance(seconds, (int, Fraction)):
        if seconds < 0:
            raise ValueError("seconds must be at least 0, not %s" % seconds)
        product = Fraction(seconds) * factor
        return min(math.floor(product), _UINT64_MAX), product.denominator != 1
    whole, fraction = _decimal_parts(seconds, factor)
    return _digits_times(whole, fraction, factor) if factor else (0, False)


def _decimal_parts(seconds: Seconds, factor: int) -> Tuple[str, str]:
    """The whole and fraction digits of a non-negative decimal; a float is
    taken as the decimal it is written as (its repr)."""
    if isinstance(seconds, str):
        if not _DECIMAL_TEXT.match(seconds):
            raise ValueError("%r is not a number of seconds (decimal digits with at most one point)" % seconds)
        whole, _, fraction = seconds.partition(".")
        return whole, fraction
    if isinstance(seconds, float):
        if not math.isfinite(seconds):
            raise ValueError("seconds must be finite, not %r" % seconds)
        seconds = Decimal(repr(seconds))
    assert isinstance(seconds, Decimal)
    if not seconds.is_finite() or seconds.is_signed() and seconds != 0:
        raise ValueError("seconds must be a finite number of at least 0, not %s" % seconds)
    _, digit_tuple, exponent = seconds.as_tuple()
    assert isinstance(exponent, int)
    digits = "".join(map(str, digit_tuple)).lstrip("0")
    if not digits:
        return "0", ""
    if exponent >= 0:
        # 1E+400: more whole digits than any count holds; do not write them out.
        return (digits + "0" * exponent, "") if len(digits) + exponent <= 21 else ("1" + "0" * 21, "")
    places = -exponent
    if places - len(digits) > 19 + len(str(factor)):
        # Below 10**-(19 + digits of the factor), times the factor below 1:
        # any such digits give 0 and a product that is not whole, so one
        # stands for all (1E-999999999 is not written out).
        return "0", "0" * (20 + len(str(factor))) + "1"
    digits = digits.rjust(places, "0")
    return digits[:-places] or "0", digits[-places:]


def decimal_times(seconds: Seconds, factor: int) -> int:
    """floor(seconds x factor), exactly: ``seconds`` is counted on its
    decimal digits, never as a binary float, so 0.0003 s at 10 MHz are 3000
    samples (the float product 2999.9999999999995 would truncate to 2999).
    Saturates at 2**64 - 1, as the recorder and ``lyractl record`` do.

    ``seconds`` is decimal text as ``lyractl record`` takes it (ASCII
    digits with at most one point: "0.0003", ".5", "7."; no sign, exponent
    or blanks), a Decimal, an int or a Fraction, each with its exact value,
    or a float, which stands for the decimal it is written as (its repr, the
    shortest decimal that reads back as it): ``0.0003`` means 3/10000, not
    the binary fraction 0.000299999999999999973719... nearest to it. A float
    computed by arithmetic (0.1 + 0.2) therefore counts as what it prints
    as (0.30000000000000004); pass text or a Decimal to say exactly what is
    meant. Raises ValueError for a negative, infinite or NaN value and for
    text that is no such number, TypeError for anything else (a bool
    included)."""
    return _times(seconds, factor)[0]


def sample_count(seconds: Seconds, rate: int, memory_bytes: int) -> int:
    """N = seconds x rate truncated, exactly (see :func:`decimal_times`),
    clamped to what the memory holds and to what the WAVE sizes can
    carry."""
    n = decimal_times(seconds, rate)
    memory_limit = 0 if memory_bytes < MEMORY_RESERVE else (memory_bytes - MEMORY_RESERVE) // 2
    return min(n, memory_limit, MAX_TRACE_SAMPLES)


def recording_fits(seconds: Seconds, rate: int, memory_bytes: int) -> bool:
    """True when seconds <= (M - 1440) / (2 R), compared exactly; with no
    rate or no memory beyond the reserve only 0 fits."""
    if rate == 0 or memory_bytes < MEMORY_RESERVE:
        decimal_times(seconds, 1)  # the same errors for what is no number of seconds
        return seconds.strip("0.") == "" if isinstance(seconds, str) else seconds == 0
    # s x 2R <= M - 1440: against a whole bound, the product rounded up
    # must not exceed it.
    floor, inexact = _times(seconds, 2 * rate)
    bound = memory_bytes - MEMORY_RESERVE
    return floor < bound or (floor == bound and not inexact)


def is_wave_path(path: PathLike) -> bool:
    """WAVE exactly when the path ends in ".wav" (letter case counts:
    "shot.WAV" is a text file, as in the recorder)."""
    return os.fspath(path).endswith(".wav")


def wave_header(samples: int, rate: int) -> bytes:
    """The 44-byte header for N samples, sizes written for the whole
    recording before the first sample."""
    data = 2 * samples
    return (b"RIFF" + struct.pack("<I", 36 + data) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, 1, rate, 2 * rate, 2, 16) + b"data" + struct.pack("<I", data))


def _text_table() -> NDArray[np.uint8]:
    lines = b"".join(b"%5d\r\n" % v for v in range(0x4000))
    return np.frombuffer(lines, dtype=np.uint8).reshape(0x4000, 7)


_TEXT_LINES: Optional[NDArray[np.uint8]] = None


def text_bytes(samples: "NDArray[Any]") -> bytes:
    """The text lines of samples (each masked to 14 bits)."""
    global _TEXT_LINES
    if _TEXT_LINES is None:
        _TEXT_LINES = _text_table()
    return bytes(_TEXT_LINES[np.asarray(samples, dtype=np.uint16) & 0x3FFF].tobytes())


def wave_bytes(samples: "NDArray[Any]") -> bytes:
    """The PCM data of samples: each masked to 14 bits, mid-scale 8192 as 0."""
    centred = (np.asarray(samples, dtype=np.int32) & 0x3FFF) - WAVE_MID_SCALE
    return centred.astype("<i2").tobytes()


class RecordingSetupError(ValueError):
    """The recording cannot be made as asked (too long for the memory)."""


def run_record(link: "Link", seconds: Seconds, path: Optional[PathLike],
               progress: Optional[ProgressCallback]) -> NDArray[np.uint16]:
    """The body of :meth:`lyralink.Link.record`."""
    from .errors import LyralinkError

    decimal_times(seconds, 1)  # TypeError or ValueError before anything is sent
    rate, memory = link._rate_and_memory()
    if not recording_fits(seconds, rate, memory):
        raise RecordingSetupError(
            "%s s do not fit: the analyser's memory (%d bytes at %d samples/s) holds %.6g s"
            % (seconds, memory, rate, time_range_seconds(memory, rate)))
    n = sample_count(seconds, rate, memory)
    wave = path is not None and is_wave_path(path)
    trace = np.zeros(n, dtype=np.uint16)

    out: Optional[BinaryIO] = None
    if path is not None:
        out = open(path, "wb")
    try:
        if out is not None and wave:
            out.write(wave_header(n, rate))
        link.set_common_memory_fill_stop(2 * n)
        link.start_acquire(0, 0)
        # The time the analyser gets before the read-back starts.
        time.sleep(0.1)
        offset = 0
        while True:
            try:
                chunk = link.query_common_memory(offset)
            except LyralinkError as e:
                done = offset
                e.samples = trace[:done].copy()  # type: ignore[attr-defined]
                where = " (%s holds %d of %d samples)" % (os.fspath(path), done, n) if path is not None else ""
                e.args = ("%s%s" % (e.args[0], where),) + e.args[1:]
                raise
            take = min(n - offset, CHUNK_SAMPLES)
            if take:
                trace[offset:offset + take] = chunk[:take]
                if out is not None:
                    out.write(wave_bytes(chunk[:take]) if wave else text_bytes(chunk[:take]))
            offset += CHUNK_SAMPLES
            if progress is not None:
                progress(min(offset, n), n)
            if offset >= n:
                break
    finally:
        if out is not None:
            out.close()
    return trace
