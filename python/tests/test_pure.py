# SPDX-License-Identifier: LGPL-2.1-or-later
"""Packing, decoding, file formats and the export table: plain Python, no
library or device needed."""

from __future__ import annotations

import ctypes
import os
import re
import struct

import numpy as np
import pytest

import support
import lyralink
from lyralink import _library, answers as A, recording as R
from lyralink._exports import EXPORTS, EXPORTS_BY_NAME
from lyralink.discovery import parse_discover_json
from lyralink.errors import DeviceError, LinkError, LyralinkError, error_for_status, status_text
from lyralink.link import Link, _b, _d, _w

# ---- the export table against the header ----

_C_TYPES = {"int16_t": "h", "uint16_t": "H", "int32_t": "i", "void*": "p", "constvoid*": "p", "constchar*": "s",
            "char*": "s", "int32_t*": "P", "constint32_t*": "p"}


def header_exports():
    path = os.environ.get("LYRALINK_HEADER") or str(support.SOURCE / "include" / "lyralink.h")
    if not os.path.exists(path):
        if support.required():
            pytest.fail("lyralink.h not found at %s" % path)
        pytest.skip("lyralink.h not found (set $LYRALINK_HEADER)")
    text = open(path).read()
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    out = {}
    for result, name, args in re.findall(r"\b(int16_t|void)\s+([A-Z][A-Z0-9_]+)\s*\(([^)]*)\)\s*;", text):
        letters = ""
        if args.strip() != "void":
            for arg in args.split(","):
                words = arg.replace("*", " * ").split()
                ctype = "".join(words[:-1])  # drop the parameter name
                letters += _C_TYPES[ctype]
        out[name] = ("v" if result == "void" else "h", letters)
    return out


def test_every_export_of_the_header_has_a_row_with_its_prototype():
    header = header_exports()
    assert len(header) == 144
    assert sorted(header) == sorted(EXPORTS_BY_NAME)
    assert len(EXPORTS) == len(EXPORTS_BY_NAME), "a row appears twice"
    wrong = [(e.name, (e.result, e.arguments), header[e.name]) for e in EXPORTS
             if header[e.name] != (e.result, e.arguments)]
    assert wrong == []


def test_every_row_names_a_method_and_every_command_is_a_link_method():
    for e in EXPORTS:
        owner, _, name = e.method.partition(".")
        target = Link if owner == "Link" else lyralink
        assert callable(getattr(target, name, None)), "%s: %s is missing" % (e.name, e.method)
        if e.name.startswith(("LYRA_", "MCA_COMM")):
            assert owner == "Link", e.name
            assert e.code is not None or e.name.startswith("MCA_COMM"), e.name
        if e.via is not None:
            assert e.via in EXPORTS_BY_NAME and EXPORTS_BY_NAME[e.via].method == e.method


def test_argument_types_become_ctypes():
    e = EXPORTS_BY_NAME["COMM_INIT_EX3"]
    assert e.restype is ctypes.c_int16
    assert e.argtypes == (ctypes.c_char_p, ctypes.c_int32, ctypes.c_int32, ctypes.c_int32, ctypes.c_uint16)
    assert EXPORTS_BY_NAME["COMM_CLOSE"].restype is None


# ---- status codes ----

def test_status_codes_become_the_documented_exceptions():
    assert isinstance(error_for_status(1, "LYRA_RESET"), LinkError)
    assert isinstance(error_for_status(3, "LYRA_RESET"), LinkError)
    for status, word in ((2, 0xAAAB), (4, 0xAAAA), (5, 0xAAAC), (7, 0xAAAE), (9, 0xAAA9), (10, 0xAAA8)):
        e = error_for_status(status, "LYRA_SET_GAIN", b"x")
        assert type(e) is DeviceError and e.status == status and e.error_word == word
        assert e.command == "LYRA_SET_GAIN" and e.answer == b"x"
        assert "status %d" % status in str(e) and "0x%04X" % word in str(e)
    odd = error_for_status(11, "LYRA_RESET")
    assert type(odd) is LyralinkError and "unknown status" in str(odd)
    assert issubclass(LinkError, LyralinkError) and issubclass(DeviceError, LyralinkError)
    assert status_text(3) == "no valid answer" and status_text(0) == "ok"


# ---- answers ----

def answer(**fields):
    """A 132-byte answer with little-endian fields at offsets: name=(offset, fmt, value)."""
    b = bytearray(132)
    for offset, fmt, value in fields.values():
        struct.pack_into("<" + fmt, b, offset, value)
    return bytes(b)


def test_state_answers_decode_the_fields_lyractl_prints():
    s = A.decode_state(answer(g=(48, "H", 12), hv=(56, "H", 600), pol=(58, "H", 1), acq=(128, "H", 7)))
    assert (s.coarse_gain, s.hv_set, s.hv_polarity, s.acquisition_state) == (12, 600, 1, 7)
    assert s.hv_negative and s.collecting

    raw = bytearray(answer(fw=(2, "H", 0x1304), fl=(8, "I", 0x4030), hv=(64, "H", 1500), acq=(128, "H", 2),
                           year=(12, "H", 2024)))
    raw[14:19] = bytes([2, 29, 23, 59, 58])
    s7 = A.decode_state740(bytes(raw))
    assert (s7.firmware, s7.feature_flags, s7.highest_hv, s7.acquisition_state) == (0x1304, 0x4030, 1500, 2)
    assert s7.features == ("HV controls", "slow general-mode switch", "gain list")
    assert s7.device_clock is not None and s7.device_clock.isoformat() == "2024-02-29T23:59:58"
    assert s7.device_clock_text == "2024-02-29 23:59:58"
    # An answer whose clock is no date (all zero) keeps its fields, no datetime.
    blank = A.decode_state740(bytes(132))
    assert blank.device_clock is None and blank.device_clock_text == "0000-00-00 00:00:00"

    ex = A.decode_state740_ex(answer(m=(0, "I", 16 << 20), r=(104, "H", 20000)))
    assert (ex.memory_size, ex.sample_rate_khz) == (16 << 20, 20000)
    assert A.decode_power(answer(p=(40, "I", 612))).hv_actual == 612
    vc = A.decode_voltage_current(b"".join(struct.pack("<I", 1000 + i) for i in range(10)) + bytes(92))
    assert vc.readings == tuple(range(1000, 1010))
    with pytest.raises(ValueError):
        A.decode_state(bytes(131))


def test_user_data_page_zero_carries_the_application_code():
    words = bytearray(struct.pack("<26I", *range(26)) + bytes(28))
    words[16:20] = b"KB\x01E"
    page0 = A.decode_user_data(bytes(words), 0)
    assert page0.application_code == "KB?E" and page0.words[0] == 0 and page0.words[25] == 25
    words[16:20] = b"AB\0Z"
    assert A.decode_user_data(bytes(words), 0).application_code == "AB"
    words[16:20] = bytes(4)
    assert A.decode_user_data(bytes(words), 0).application_code is None
    assert A.decode_user_data(bytes(words), 1).application_code is None


def test_select_block_is_the_24_bytes_the_library_reads():
    block = A.pack_select_block(serial=1234, port_filter=3)
    assert len(block) == 24
    assert struct.unpack("<10HI", block) == (24, 1234, 0, 0xFFFF, 0xFFFF, 0x1116, 0, 0, 3, 0, 0)
    block = A.pack_select_block(admit_310=True, min_firmware_310=0x0310, dialogs=True, splash=True)
    assert struct.unpack("<10HI", block) == (24, 0, 0xFFFF, 0x0310, 0xFFFF, 0x1116, 0xFFFF, 0xFFFF, 0xFFFF, 0, 0)
    written = A.LYRA_SELECT_PARAM.from_buffer_copy(block[:16] + struct.pack("<HHI", 0x0101, 0, 3000000))
    assert (written.port, written.baud) == (0x0101, 3000000)
    for bad in (dict(serial=70000), dict(serial=-1), dict(port_filter=0x10000), dict(min_firmware_740=1.5)):
        with pytest.raises(ValueError):
            A.pack_select_block(**bad)


def test_select_structure_has_the_offsets_the_header_gives():
    path = os.environ.get("LYRALINK_HEADER") or str(support.SOURCE / "include" / "lyralink.h")
    if not os.path.exists(path):
        pytest.skip("lyralink.h not found")
    text = open(path).read()
    body = text[text.index("typedef struct LYRA_SELECT_PARAM {"):text.index("} LYRA_SELECT_PARAM;")]
    fields = re.findall(r"uint(16|32)_t\s+(\w+);\s*/\*\s*(\d+):", body)
    assert len(fields) == len(A.LYRA_SELECT_PARAM._fields_) == 11
    for bits, name, offset in fields:
        f = getattr(A.LYRA_SELECT_PARAM, name)
        assert (f.offset, f.size) == (int(offset), int(bits) // 8), name
    assert ctypes.sizeof(A.LYRA_SELECT_PARAM) == 24


def test_link_parameter_record_and_channels():
    rec = struct.pack("<HhIHH", 12, -2, 0, 0, 0)
    p = A.decode_link_parameters(rec)
    assert (p.port_id, p.channel) == (-2, "multiplex")
    assert A.decode_link_parameters(struct.pack("<HhIHH", 12, 5, 307200, 0, 0)).channel == "serial"
    usb = A.decode_link_parameters(struct.pack("<HhIHH", 12, 0x0101, 3000000, 33, 0))
    assert (usb.channel, usb.baud, usb.usb_com_port) == ("usb", 3000000, 33)
    assert A.decode_link_parameters(struct.pack("<HhIHH", 12, -1, 0, 0, 0)).channel == "none"


def test_ip_addresses_in_every_form_and_bad_ones_refused():
    import ipaddress

    want = bytes([192, 168, 0, 10])
    for form in ("192.168.0.10", ipaddress.IPv4Address("192.168.0.10"), want, (192, 168, 0, 10)):
        assert A.ip_address_bytes(form) == want
    for bad in ("192.168.0", "300.1.1.1", b"abc", (1, 2, 3, 256), [1, 2, 3]):
        with pytest.raises(ValueError):
            A.ip_address_bytes(bad)


def test_extension_block_takes_the_last_n_bytes_and_never_reads_outside():
    block = bytearray(1026)
    block[1023:1026] = b"abc"
    struct.pack_into("<H", block, 0, 3)
    assert A.extension_received(bytes(block)) == b"abc"
    struct.pack_into("<H", block, 0, 0)
    assert A.extension_received(bytes(block)) == b""
    struct.pack_into("<H", block, 0, 5000)  # a device fault: more than the area holds
    assert len(A.extension_received(bytes(block))) == 1024
    with pytest.raises(ValueError):
        A.extension_received(bytes(1024))


# ---- arguments are checked against their fields ----

def test_arguments_that_do_not_fit_their_field_are_refused():
    assert _w(0xFFFF, "a") == 0xFFFF and _w(-0x8000, "a") == -0x8000 and _w(np.int64(7), "a") == 7
    assert _d(0xFFFFFFFF, "a") == -1 and _d(-0x80000000, "a") == -0x80000000 and _d(0x7FFFFFFF, "a") == 0x7FFFFFFF
    assert _b(255, "a") == 255 and _b(-128, "a") == -128
    for f, bad in ((_w, 0x10000), (_w, -0x8001), (_d, 1 << 32), (_b, 256), (_b, -129)):
        with pytest.raises(ValueError, match="does not fit"):
            f(bad, "a")
    for bad in (True, 1.0, "1", None):
        with pytest.raises(TypeError):
            _w(bad, "a")


# ---- recording arithmetic and the trace files ----

def test_sample_rate_range_and_count():
    assert R.sample_rate(0x1303, 2000) == 10_000_000
    assert R.sample_rate(0x1304, 2000) == 2_000_000
    assert R.time_range_seconds(16 << 20, 2_000_000) == pytest.approx(((16 << 20) - 1440) / 4e6)
    assert R.time_range_seconds(1439, 2_000_000) == 0.0 and R.time_range_seconds(1 << 20, 0) == 0.0
    assert R.sample_count(0.01, 2_000_000, 16 << 20) == 20000
    assert R.sample_count(0.0000015, 2_000_000, 16 << 20) == 3  # 3.0000000000000004 truncated
    assert R.sample_count(0.29, 100, 16 << 20) == 28  # 28.999999999999996 truncated, as in C
    assert R.sample_count(10.0, 2_000_000, 10000) == (10000 - 1440) // 2
    assert R.sample_count(1e9, 10_000_000, 0xFFFFFFFF) == (0xFFFFFFFF - 1440) // 2
    for none in (0.0, -1.0, float("nan")):
        assert R.sample_count(none, 2_000_000, 16 << 20) == 0


def test_text_and_wave_files_byte_for_byte():
    samples = np.array([0, 5, 1200, 16383, 0xFFFF, 0x4001, 10000], dtype=np.uint16)
    assert R.text_bytes(samples) == (b"    0\r\n    5\r\n 1200\r\n16383\r\n16383\r\n    1\r\n10000\r\n")
    assert R.text_bytes(samples) == support.text_file([s & 0x3FFF for s in samples.tolist()])
    pcm = R.wave_bytes(np.array([8192, 0, 16383, 0xC000 | 8192], dtype=np.uint16))
    assert struct.unpack("<4h", pcm) == (0, -8192, 8191, 0)
    h = R.wave_header(20000, 2_000_000)
    assert len(h) == 44
    assert struct.unpack("<4sI4s4sIHHIIHH4sI", h) == (b"RIFF", 36 + 40000, b"WAVE", b"fmt ", 16, 1, 1, 2_000_000,
                                                     4_000_000, 2, 16, b"data", 40000)
    assert R.is_wave_path("shot.wav") and not R.is_wave_path("shot.WAV") and not R.is_wave_path("shot.wave")


# ---- discovery output ----

def test_discover_json_with_tabs_and_bad_output():
    text = ('[{"text":"MCA-740#00077 on 127.0.0.1\\t FW# 13.04\\t in use","port":"","ip":"127.0.0.1",'
            '"serial":77,"port_id":0,"applicable":false},'
            '{"text":"MCA-740#01234 on COM3\\t FW# 13.04","port":"COM3","ip":"","serial":1234,'
            '"port_id":3,"applicable":true}]')
    entries = parse_discover_json(text)
    assert [e.serial for e in entries] == [77, 1234]
    assert entries[0].columns == ["MCA-740#00077 on 127.0.0.1", "FW# 13.04", "in use"]
    assert entries[1].analyser == "MCA-740#01234 on COM3" and entries[1].applicable and entries[1].port_id == 3
    assert parse_discover_json("[]") == []
    for bad in ("", "{}", "[{\"text\": 1}]", "No analyser found."):
        with pytest.raises(LyralinkError):
            parse_discover_json(bad)


# ---- finding the library ----

def test_an_unloadable_library_path_is_reported_with_what_to_do(monkeypatch, tmp_path):
    bogus = tmp_path / "liblyralink.so.1"
    bogus.write_bytes(b"not an ELF file")
    monkeypatch.setenv("LYRALINK_LIBRARY", str(bogus))
    assert _library.candidates() == [(str(bogus), "$LYRALINK_LIBRARY")]
    with pytest.raises(LyralinkError) as e:
        _library._load()
    assert str(bogus) in str(e.value) and "LYRALINK_LIBRARY" in str(e.value)
    monkeypatch.setenv("LYRALINK_LIBRARY", str(tmp_path / "missing.so"))
    with pytest.raises(LyralinkError, match="no such file"):
        _library._load()


def test_without_the_variable_the_build_tree_comes_before_the_installed_library(monkeypatch):
    monkeypatch.delenv("LYRALINK_LIBRARY", raising=False)
    found = _library.candidates()
    whys = [why for _, why in found]
    assert whys.index("the dynamic loader's search path") < whys.index("the usual library directories")
    built = support.BUILD / "lyralink" / "liblyralink.so.1"
    if _library.source_root() is not None and built.exists():
        assert found[0] == (str(built), "the build tree")
    else:
        assert "the build tree" not in whys
