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
import struct
import time
from typing import TYPE_CHECKING, Any, BinaryIO, Callable, Optional, Union

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
    "sample_count",
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


def sample_count(seconds: float, rate: int, memory_bytes: int) -> int:
    """N = seconds x rate truncated, clamped to what the memory holds and to
    what the WAVE sizes can carry."""
    if not seconds > 0 or rate == 0:
        return 0
    n = math.floor(seconds * float(rate))
    memory_limit = 0 if memory_bytes < MEMORY_RESERVE else (memory_bytes - MEMORY_RESERVE) // 2
    limit = min(memory_limit, MAX_TRACE_SAMPLES)
    return limit if not n < limit else int(n)


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


def run_record(link: "Link", seconds: float, path: Optional[PathLike],
               progress: Optional[ProgressCallback]) -> NDArray[np.uint16]:
    """The body of :meth:`lyralink.Link.record`."""
    from .errors import LyralinkError

    if isinstance(seconds, bool) or not isinstance(seconds, (int, float)):
        raise TypeError("seconds must be a number, not %r" % (seconds,))
    seconds = float(seconds)
    if not seconds >= 0 or math.isinf(seconds):
        raise ValueError("seconds must be a finite number of at least 0, not %r" % seconds)
    rate, memory = link._rate_and_memory()
    longest = time_range_seconds(memory, rate)
    if seconds > longest:
        raise RecordingSetupError(
            "%.6g s do not fit: the analyser's memory (%d bytes at %d samples/s) holds %.6g s"
            % (seconds, memory, rate, longest))
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
