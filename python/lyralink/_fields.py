# SPDX-License-Identifier: LGPL-2.1-or-later
"""The package's copy of the library's answer-field table.

Where each value that the package reads from an answer lies, how wide it is
and how it scales: the rows of ``kAnswerFields`` in
``lyralink/commands/answer_fields.h`` that a host reads, and the constants
beside them. The package reaches the library through ctypes and cannot read
a C++ header, so it keeps this copy; ``python/tests/test_fields.py``
compares it with the header's table, row by row, and decodes the same
answers on both sides, so a change made on one side only fails the tests.
"""

from __future__ import annotations

import struct
from dataclasses import dataclass
from typing import Dict, Tuple


@dataclass(frozen=True)
class Field:
    offset: int  #: byte offset into the 132 bytes of answer data
    type: str  #: "u8", "u16", "u32" (little-endian) or "ascii"
    count: int = 1  #: values one after the other (readings, words, characters)
    scale: int = 1  #: a value times scale is in the field's unit


FIELDS: Dict[str, Field] = {
    "state.coarse_gain": Field(48, "u16"),
    "state.hv_set": Field(56, "u16"),
    "state.hv_polarity": Field(58, "u16"),
    "state.acquisition_state": Field(128, "u16"),
    "state740.firmware": Field(2, "u16"),
    "state740.feature_flags": Field(8, "u32"),
    "state740.clock_year": Field(12, "u16"),
    "state740.clock_month": Field(14, "u8"),
    "state740.clock_day": Field(15, "u8"),
    "state740.clock_hour": Field(16, "u8"),
    "state740.clock_minute": Field(17, "u8"),
    "state740.clock_second": Field(18, "u8"),
    "state740.highest_hv": Field(64, "u16"),
    "state740.acquisition_state": Field(128, "u16"),
    "state740_ex.memory_size": Field(0, "u32"),
    "state740_ex.sample_rate_khz": Field(104, "u16", 1, 1000),
    "power.hv_actual": Field(40, "u32"),
    "voltage_current.readings": Field(0, "u32", 10),
    "user_data.words": Field(0, "u32", 26),
    "user_data.application_code": Field(16, "ascii", 4),
    "spectrum.counts": Field(0, "u32", 32),
}

#: Acquisition state words.
ACQUISITION_IDLE = 0
COLLECTING_STATES = (2, 7)

#: Feature flags of the 740 state answer that have a name.
FEATURE_FLAGS = (
    (0x10, "HV controls"),
    (0x20, "slow general-mode switch"),
    (0x4000, "gain list"),
)

#: Sample rate: fixed below this firmware, else the kHz word times its scale.
FIRST_FIRMWARE_WITH_RATE = 0x1304
FIXED_SAMPLE_RATE = 10_000_000

#: The common memory block: 720 samples of 16 bits, the low 14 the signal.
MEMORY_BLOCK_SAMPLES = 720
SAMPLE_SIGNAL_MASK = 0x3FFF

_FORMATS = {"u8": "B", "u16": "H", "u32": "I", "ascii": "s"}
_STRUCTS = {name: struct.Struct("<%d%s" % (f.count, _FORMATS[f.type])) for name, f in FIELDS.items()}


def value(data: bytes, name: str) -> int:
    """The single number of field ``name`` in answer data."""
    return int(_STRUCTS[name].unpack_from(data, FIELDS[name].offset)[0])


def values(data: bytes, name: str) -> Tuple[int, ...]:
    """All numbers of field ``name`` (readings, words, counts)."""
    return tuple(int(v) for v in _STRUCTS[name].unpack_from(data, FIELDS[name].offset))


def text_bytes(data: bytes, name: str) -> bytes:
    """The characters of an ascii field as they stand, zero bytes included."""
    return bytes(_STRUCTS[name].unpack_from(data, FIELDS[name].offset)[0])
