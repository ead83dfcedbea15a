# SPDX-License-Identifier: LGPL-2.1-or-later
"""Decoded answers of the analyser, and the records the package packs.

Everything here is plain Python over bytes: no library, no device. The
offsets are those of the answer data (132 bytes) that the library copies
out of a short answer; multi-byte fields are little-endian.
"""

from __future__ import annotations

import ctypes
import datetime
import ipaddress
import struct
from dataclasses import dataclass, field
from typing import Optional, Sequence, Tuple, Union

__all__ = [
    "ANSWER_SIZE",
    "State",
    "State740",
    "State740Ex",
    "Power",
    "VoltageCurrent",
    "UserData",
    "LinkParameters",
    "decode_state",
    "decode_state740",
    "decode_state740_ex",
    "decode_power",
    "decode_voltage_current",
    "decode_user_data",
    "decode_link_parameters",
    "extension_received",
    "LYRA_SELECT_PARAM",
    "select_param",
    "pack_select_block",
    "ip_address_bytes",
    "acquisition_note",
    "FEATURE_NAMES",
    "PORT_ID_NONE",
    "PORT_ID_MULTIPLEX",
    "PORT_ID_ETHERNET",
    "PORT_ID_USB",
]

ANSWER_SIZE = 132

#: Port identifiers (GET_COMM_PARAM, the selection block, the device list).
PORT_ID_NONE = -1
PORT_ID_MULTIPLEX = -2
PORT_ID_ETHERNET = 0
PORT_ID_USB = (0x0101, 0x0102)

#: Feature flags of the 740 state answer that have a name.
FEATURE_NAMES = (
    (0x10, "HV controls"),
    (0x20, "slow general-mode switch"),
    (0x4000, "gain list"),
)


def _u16(data: bytes, offset: int) -> int:
    return int(struct.unpack_from("<H", data, offset)[0])


def _u32(data: bytes, offset: int) -> int:
    return int(struct.unpack_from("<I", data, offset)[0])


def _answer(data: bytes) -> bytes:
    data = bytes(data)
    if len(data) < ANSWER_SIZE:
        raise ValueError("an answer holds %d bytes, not %d" % (ANSWER_SIZE, len(data)))
    return data[:ANSWER_SIZE]


#: Acquisition state words that mean data is being collected.
COLLECTING_STATES = (2, 7)


def acquisition_note(state: int) -> str:
    """What an acquisition state word means, as far as the hosts read it."""
    if state == 0:
        return "idle"
    if state in COLLECTING_STATES:
        return "collecting data"
    return ""


@dataclass(frozen=True)
class State:
    """The state answer (code 90)."""

    coarse_gain: int
    hv_set: int  #: high-voltage set value in volts
    hv_polarity: int  #: 0 positive, anything else negative
    acquisition_state: int
    raw: bytes = field(repr=False, compare=False)

    @property
    def hv_negative(self) -> bool:
        return self.hv_polarity != 0

    @property
    def collecting(self) -> bool:
        """Data is being collected (acquisition state 2 or 7)."""
        return self.acquisition_state in COLLECTING_STATES


@dataclass(frozen=True)
class State740:
    """The MCA-740 state answer (code 257), its clock decoded by the library."""

    firmware: int
    feature_flags: int
    highest_hv: int  #: highest high voltage in volts
    acquisition_state: int
    clock: Tuple[int, int, int, int, int, int]  #: year, month, day, hour, minute, second
    raw: bytes = field(repr=False, compare=False)

    @property
    def features(self) -> Tuple[str, ...]:
        """Names of the feature flags that are set."""
        return tuple(name for bit, name in FEATURE_NAMES if self.feature_flags & bit)

    @property
    def device_clock(self) -> Optional[datetime.datetime]:
        """The analyser's clock, or None when the fields are no valid date."""
        try:
            return datetime.datetime(*self.clock)
        except ValueError:
            return None

    @property
    def device_clock_text(self) -> str:
        """The clock as ``lyractl`` prints it: ``YYYY-MM-DD hh:mm:ss``."""
        return "%04u-%02u-%02u %02u:%02u:%02u" % self.clock

    @property
    def collecting(self) -> bool:
        return self.acquisition_state in COLLECTING_STATES


@dataclass(frozen=True)
class State740Ex:
    """The extended MCA-740 state answer (code 272)."""

    memory_size: int  #: common (signal) memory in bytes
    sample_rate_khz: int
    raw: bytes = field(repr=False, compare=False)


@dataclass(frozen=True)
class Power:
    """The power answer (code 89)."""

    hv_actual: int  #: actual high voltage in volts; 0 when off
    raw: bytes = field(repr=False, compare=False)

    @property
    def hv_on(self) -> bool:
        return self.hv_actual != 0


@dataclass(frozen=True)
class VoltageCurrent:
    """The voltage and current readings (code 5), rescaled by the library."""

    readings: Tuple[int, ...]  #: readings 1 to 10
    raw: bytes = field(repr=False, compare=False)


@dataclass(frozen=True)
class UserData:
    """One page of user data (code 94): 26 words of 32 bits."""

    page: int
    words: Tuple[int, ...]
    #: Page 0 only: the application code in word 4 (None when empty).
    application_code: Optional[str]
    raw: bytes = field(repr=False, compare=False)


@dataclass(frozen=True)
class LinkParameters:
    """The link parameter record (GET_COMM_PARAM)."""

    port_id: int  #: -1 none, -2 Multiplex, 0 Ethernet, n for COMn, 0x0101/0x0102 direct USB
    baud: int
    usb_com_port: int  #: COM number of a direct USB device, else 0

    @property
    def channel(self) -> str:
        """``"none"``, ``"multiplex"``, ``"ethernet"``, ``"usb"`` or ``"serial"``."""
        if self.port_id == PORT_ID_NONE:
            return "none"
        if self.port_id == PORT_ID_MULTIPLEX:
            return "multiplex"
        if self.port_id == PORT_ID_ETHERNET:
            return "ethernet"
        if self.port_id in PORT_ID_USB:
            return "usb"
        return "serial"


def decode_state(answer: bytes) -> State:
    a = _answer(answer)
    return State(_u16(a, 48), _u16(a, 56), _u16(a, 58), _u16(a, 128), a)


def decode_state740(answer: bytes) -> State740:
    a = _answer(answer)
    clock = (_u16(a, 12), a[14], a[15], a[16], a[17], a[18])
    return State740(_u16(a, 2), _u32(a, 8), _u16(a, 64), _u16(a, 128), clock, a)


def decode_state740_ex(answer: bytes) -> State740Ex:
    a = _answer(answer)
    return State740Ex(_u32(a, 0), _u16(a, 104), a)


def decode_power(answer: bytes) -> Power:
    a = _answer(answer)
    return Power(_u32(a, 40), a)


def decode_voltage_current(answer: bytes) -> VoltageCurrent:
    a = _answer(answer)
    return VoltageCurrent(struct.unpack_from("<10I", a, 0), a)


def decode_user_data(answer: bytes, page: int) -> UserData:
    a = _answer(answer)
    words = struct.unpack_from("<26I", a, 0)
    code: Optional[str] = None
    if page == 0:
        chars = []
        for b in a[16:20]:
            if b == 0:
                break
            chars.append(chr(b) if 0x20 <= b < 0x7F else "?")
        code = "".join(chars) or None
    return UserData(page, words, code, a)


def decode_link_parameters(record: bytes) -> LinkParameters:
    """The 12-byte record that GET_COMM_PARAM filled."""
    port_id, baud, com = struct.unpack_from("<2xhIH", bytes(record), 0)
    return LinkParameters(port_id, baud, com)


def extension_received(block: bytes) -> bytes:
    """The received bytes of an extension receive block (1026 bytes: a
    16-bit count N, then 1024 bytes whose last N are the received ones).
    A count above 1024 is a device fault; it is taken as 1024 so nothing
    outside the block is read."""
    block = bytes(block)
    if len(block) != 1026:
        raise ValueError("an extension receive block holds 1026 bytes, not %d" % len(block))
    n = min(_u16(block, 0), 1024)
    return block[1026 - n:] if n else b""


class LYRA_SELECT_PARAM(ctypes.Structure):
    """The selection parameter block of COMM_INIT_SELECT (24 bytes, the
    fields at their natural offsets, as the header declares it)."""

    _fields_ = [
        ("length", ctypes.c_uint16),
        ("serial", ctypes.c_uint16),
        ("admit_310", ctypes.c_uint16),
        ("min_fw_310", ctypes.c_uint16),
        ("admit_740", ctypes.c_uint16),
        ("min_fw_740", ctypes.c_uint16),
        ("splash", ctypes.c_uint16),
        ("dialogs", ctypes.c_uint16),
        ("port", ctypes.c_uint16),
        ("reserved", ctypes.c_uint16),
        ("baud", ctypes.c_uint32),
    ]


def select_param(
    serial: int = 0,
    admit_310: bool = False,
    min_firmware_310: int = 0xFFFF,
    admit_740: bool = True,
    min_firmware_740: int = 0x1116,
    splash: bool = False,
    dialogs: bool = False,
    port_filter: Optional[int] = None,
) -> LYRA_SELECT_PARAM:
    """The selection parameter block for these choices.

    Flags go in as 0xFFFF (set) or 0; ``port_filter`` None is 0xFFFF (any
    port)."""
    for name, value in (("serial", serial), ("min_firmware_310", min_firmware_310),
                        ("min_firmware_740", min_firmware_740)):
        _check_u16(name, value)
    port = 0xFFFF if port_filter is None else port_filter
    _check_u16("port_filter", port)

    def flag(v: bool) -> int:
        return 0xFFFF if v else 0

    return LYRA_SELECT_PARAM(24, serial, flag(admit_310), min_firmware_310, flag(admit_740), min_firmware_740,
                             flag(splash), flag(dialogs), port, 0, 0)


def pack_select_block(serial: int = 0, admit_310: bool = False, min_firmware_310: int = 0xFFFF,
                      admit_740: bool = True, min_firmware_740: int = 0x1116, splash: bool = False,
                      dialogs: bool = False, port_filter: Optional[int] = None) -> bytes:
    """The 24 bytes of :func:`select_param` for these choices."""
    return bytes(select_param(serial, admit_310, min_firmware_310, admit_740, min_firmware_740, splash, dialogs,
                              port_filter))


def _check_u16(name: str, value: int) -> None:
    if not isinstance(value, int) or isinstance(value, bool) or not 0 <= value <= 0xFFFF:
        raise ValueError("%s must be an integer from 0 to 65535, not %r" % (name, value))


AddressLike = Union[str, bytes, bytearray, Sequence[int], ipaddress.IPv4Address]


def ip_address_bytes(address: AddressLike) -> bytes:
    """The four bytes of an IPv4 address in network order ("192.168.0.10",
    an IPv4Address, four bytes or four numbers)."""
    if isinstance(address, ipaddress.IPv4Address):
        return address.packed
    if isinstance(address, str):
        try:
            return ipaddress.IPv4Address(address).packed
        except ValueError:
            raise ValueError("%r is no dotted IPv4 address" % address) from None
    if isinstance(address, (bytes, bytearray)):
        if len(address) != 4:
            raise ValueError("an IPv4 address has 4 bytes, not %d" % len(address))
        return bytes(address)
    values = list(address)
    if len(values) != 4 or not all(isinstance(v, int) and 0 <= v <= 255 for v in values):
        raise ValueError("an IPv4 address is four numbers from 0 to 255, not %r" % (address,))
    return bytes(values)
