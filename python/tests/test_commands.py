# SPDX-License-Identifier: LGPL-2.1-or-later
"""Every command method against lyrasim over UDP: the frame it puts on the
wire (from the emulator's record), and what comes back."""

from __future__ import annotations

import struct

import numpy as np
import pytest

from lyralink import DeviceError, Link
from lyralink._exports import EXPORTS

# Arguments for every command method, distinct where they can be, so that a
# method wired to the wrong export or packing the wrong argument shows.
ARGS = {
    "start_acquire": (3, 0x12345), "set_adc_res_discr": (1, 2, 3), "set_threshold": (71,),
    "set_preset_real_time": (100000,), "set_preset_live_time": (100000,), "set_preset_integral": (5,),
    "set_preset_area": (6,), "set_preset_real_time_ms": (1500,), "set_roi": (100, 200), "set_repeat": (4,),
    "set_time_per_channel": (75,), "set_time_per_channel740": (0x10002,), "set_gain": (20, 10000),
    "set_stabilisation": (7, 8, 9), "set_preamplifier_power": (1,), "set_high_voltage": (600, 1),
    "set_fast": (80,), "set_slow": (81,), "set_pile_up_rejection": (83,), "set_user_data": (5, 0xDEADBEEF),
    "set_pzc_manual": (300,), "set_pzc_value": (301,), "set_pzc_time_offset": (96, 97), "set_tdf": (97,),
    "set_mcs_channel": (99,), "set_uf6_rois": (10, 11, 12), "set_stab_param": (2, 0x20003),
    "set_trigger_filter": (5, 9), "set_general_mode": (1,), "set_trigger_param": (3, 70000),
    "set_offset_dac": (-1,), "set_ip_address": ("192.168.0.10",), "set_shaping_time_pair": (268, 269),
    "set_threshold_tenths": (269,), "set_gating": (1, 2, 3), "set_osci_trigger": (1, 2, 300, 400),
    "set_flat_top_time": (275,), "set_eval_filter_type": (2,), "set_jitter_correction": (1,),
    "set_common_memory_fill_stop": (40000,), "set_baseline_restoring": (0xFF,), "set_pin5_current_source": (3,),
    "set_ahrc_param": (7, list(range(100, 110))), "set_gating_time_window_width": (6, 70000),
    "query_spectra": (0x1005, 8), "query_spectrum": (10, 5), "query_image": (1, 2, 3),
    "query_enrichment": (100, 199, 300, 309), "query_user_data": (0,), "query_centroid": (1600, 1700),
    "query_common_memory": (720,), "query_histogram": (0,), "query_filter": (3,), "query_osci_screen": (100,),
    "query_osci_screen_ex": (2,), "query_cluster": (0x10001, 5), "query_ahrc_histogram": (1,),
    "query_f_histogram": (2,), "set_extension_port": (1, 2, 3, 4, 5, 6), "set_extension_polarity": (1, 0),
    "set_extension_pulser_period": (1, 70000), "set_extension_pulser_width": (1, 80000),
    "set_extension_rs232": (9600, 0xFF), "set_extension_output": (1, 2, 3),
    "query_extension_rs232_rx": (0,), "set_ttl_levels": (1, 2), "set_core_clock": (301,),
    "query_detector_info": (0,), "delete_file_step1": (0x10009, 3), "delete_file_step2": (0x10009, 3),
    "set_twi_expander": (514,), "write_to_extension": ("hi",), "read_from_extension": (), "read_from_extension_ex": (0, 2),
    "write_detector_info": (b"abc",), "query_voltage_current": (),
}


def command_rows():
    seen = set()
    for e in EXPORTS:
        name = e.method.split(".")[1]
        if e.code is not None and name not in seen:
            seen.add(name)
            yield e, name


@pytest.fixture
def mca(start_sim, lib):
    sim = start_sim("--udp", "127.0.0.1=740,sn=77")
    link = lib.open_ethernet("127.0.0.1")
    link.sim = sim
    yield link
    link.close()


def test_every_command_method_sends_its_code(mca):
    missing = []
    for e, name in command_rows():
        before = len(mca.sim.frames())
        getattr(mca, name)(*ARGS.get(name, ()))
        frames = mca.sim.frames()[before:]
        if not frames or frames[0].code != e.code:
            missing.append((name, e.code, [f.code for f in frames]))
    assert missing == []
    unknown = set(ARGS) - {name for _, name in command_rows()}
    assert unknown == set(), "ARGS names no method: %s" % unknown


def test_packing_of_the_arguments_on_the_wire(mca):
    def sent(call, *args):
        before = len(mca.sim.frames())
        result = getattr(mca, call)(*args)
        return mca.sim.frames()[before:], result

    f, _ = sent("start_acquire", 3, 0x12345)
    assert (f[0].word(1), f[0].word(2), f[0].word(3)) == (3, 0x2345, 0x0001)
    f, _ = sent("set_high_voltage", 600, 1)
    assert (f[0].word(1), f[0].dword(2)) == (600, 1)
    f, _ = sent("set_offset_dac", -1)
    assert f[0].word(1) == 0xFFFF
    f, _ = sent("set_user_data", 5, 0xDEADBEEF)
    assert (f[0].word(1), f[0].dword(2)) == (5, 0xDEADBEEF)
    f, _ = sent("set_ip_address", "192.168.0.10")
    assert [f[0].byte(i) for i in range(6)] == [192, 168, 0, 10, 0, 0]
    f, _ = sent("set_gating", 1, 2, 255)
    assert [f[0].byte(i) for i in range(6)] == [1, 2, 255, 0, 0, 0]
    f, _ = sent("set_ahrc_param", 7, list(range(100, 110)))
    assert [(x.code, x.word(1)) for x in f] == [(304, 0xFFFF)] + [(304, i) for i in range(10)]
    assert f[0].word(2) == 7 and [x.dword(2) for x in f[1:]] == list(range(100, 110))
    f, _ = sent("query_spectrum", 4096, 1)
    assert (f[0].code, f[0].word(1), f[0].word(2)) == (258, 4096, 1)
    f, _ = sent("query_spectrum", 5, 4, 15)
    assert (f[0].code, f[0].word(1), f[0].word(2)) == (91, 0xF005, 4)
    f, _ = sent("set_mode_mcs_discr")
    assert [(x.code, x.word(1)) for x in f] == [(69, 1), (85, 2)]
    f, _ = sent("set_mca_input_amplifier_neg")
    assert [(x.code, x.word(1)) for x in f] == [(84, 0), (86, 1)]
    f, both = sent("query_osci_trigger_filter_results", True)
    assert [x.word(1) for x in f] == [0, 1] and len(both) == 2884
    f, _ = sent("delete_file", 0x10009, 3)
    assert [(x.code, x.dword(1), x.word(3)) for x in f] == [(309, 0x10009, 3), (310, 0x10009, 3)]
    assert struct.unpack_from("<I", mca.query_state740_ex2(), 42)[0] >= 1  # the emulator deleted it


def test_generic_command_entry(mca):
    before = len(mca.sim.frames())
    data = mca.command("CMD_SET_GAIN", 5, 7)
    f = mca.sim.frames()[before:]
    assert len(data) == 132 and [(x.code, x.word(1), x.word(2)) for x in f] == [(76, 5, 7)]
    mca.command("cmd_set_extension_port", 0x101, 2, 3, 4, 5, 6)  # six numbers: MCA_COMM6
    assert [mca.sim.frames()[-1].byte(i) for i in range(6)] == [1, 2, 3, 4, 5, 6]
    assert mca.command("CMD_QUERY_STATE740")[2:4] == b"\x04\x13"  # raw firmware word 0x1304
    before = len(mca.sim.frames())
    with pytest.raises(DeviceError) as e:
        mca.command("QUERY_STATE740")  # no such row: nothing sent
    assert e.value.status == 2 and len(mca.sim.frames()) == before and "MCA_COMM('QUERY_STATE740')" in str(e.value)


def test_extension_port_text_and_detector_information(mca):
    # The emulator has a loopback plug on the extension port.
    mca.write_to_extension("hello world")
    sent = [f for f in mca.sim.frames() if f.code in (287, 288)][-3:]
    assert [f.code for f in sent] == [287, 288, 288]
    assert mca.read_from_extension() == b"hello world"
    assert mca.read_from_extension(5) == b"hello"
    assert mca.read_from_extension_ex(0, 5) == b"world"
    assert mca.query_extension_rs232_rx() == b"hello world"

    text = bytes(range(1, 256)) * 5 + b"end"
    mca.write_detector_info(text)
    chunks = [f for f in mca.sim.frames() if f.code == 308]
    frames = (len(text) + 3) // 4
    assert len(chunks) == frames and chunks[0].word(1) == 0x44 and chunks[-1].word(1) == 0x80 + len(text) - 4 * (frames - 1)
    assert {c.word(1) for c in chunks[1:-1]} == {0x04}
    assert mca.query_detector_info(0) == text[:1024]
    assert mca.query_detector_info(1)[:len(text) - 1024] == text[1024:]


def test_queries_hand_back_arrays_and_blocks_of_their_sizes(mca):
    assert mca.query_histogram(0).shape == (256,)
    assert mca.query_ahrc_histogram(0).dtype == np.uint32 and mca.query_f_histogram(0).shape == (360,)
    assert mca.query_osci_screen(0).shape == (504,)
    sizes = {"query_filter": 1452, "query_osci_screen_ex": 1444, "query_cluster": 1032,
             "query_osci_main_filter_results": 1442, "query_eeprom_info": 1024, "query_baseline": 132,
             "query_debug_info": 132, "query_unalterable_state": 132, "query_system_data": 132}
    for name, size in sizes.items():
        args = ARGS.get(name, ())
        assert len(getattr(mca, name)(*args)) == size, name
    # The library's default for two bytes of the system data (0, 0 from the device).
    assert mca.query_system_data()[122:124] == bytes([10, 20])
    assert len(mca.query_voltage_current(flag=1).readings) == 10
    assert isinstance(Link.query_state740.__doc__, str)
