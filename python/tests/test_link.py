# SPDX-License-Identifier: LGPL-2.1-or-later
"""Links against lyrasim: a serial port on a real pseudo-terminal and UDP
on loopback (this run's own port); decoded answers against what lyractl
prints for the same analyser; errors as exceptions; one link per process."""

from __future__ import annotations

import fcntl
import json
import os
import time

import numpy as np
import pytest

import support
from lyralink import DeviceError, LinkError

DEVICE = "740,sn=1234,app=KBRE,hv=600,hvpol=1,rate=2000,features=0x4030"


def lyractl_fields(command, *args):
    done = support.run_lyractl(["--port", "COM3", "--json", command] + list(args))
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout)["fields"]


def test_decoded_answers_hold_what_lyractl_prints(start_sim, lib):
    start_sim("--serial", "COM3=" + DEVICE)
    want = {c: lyractl_fields(c) for c in ("state", "state740", "state740-ex", "user-data")}
    with lib.open_serial("COM3") as mca:
        state, s740, ex, user = mca.query_state(), mca.query_state740(), mca.query_state740_ex(), mca.query_user_data()
        assert mca.parameters().port_id == 3 and mca.parameters().baud == 38400
    for key in ("coarse_gain", "hv_set", "hv_polarity", "acquisition_state"):
        assert getattr(state, key) == want["state"][key], key
    assert (state.hv_set, state.hv_negative) == (600, True)
    for key in ("firmware", "feature_flags", "highest_hv", "acquisition_state"):
        assert getattr(s740, key) == want["state740"][key], key
    assert s740.features == ("HV controls", "slow general-mode switch", "gain list")
    # The clock runs: the two reads lie within a few seconds of each other.
    theirs = time.strptime(want["state740"]["device_clock"], "%Y-%m-%d %H:%M:%S")
    assert s740.device_clock is not None and abs(time.mktime(theirs) - s740.device_clock.timestamp()) < 5
    assert (ex.memory_size, ex.sample_rate_khz) == (want["state740-ex"]["memory_size"],
                                                  want["state740-ex"]["sample_rate_khz"]) == (16 << 20, 2000)
    assert list(user.words) == want["user-data"]["words"]
    assert user.application_code == want["user-data"]["application_code"] == "KBRE"


def test_the_context_closes_the_link_and_a_second_link_is_refused(start_sim, lib):
    start_sim("--serial", "COM3=740", "--serial", "COM4=740,sn=2")
    with lib.open_serial("COM3") as first:
        assert lib.current_link() is first
        with pytest.raises(LinkError, match="already open in this process"):
            lib.open_serial("COM4")
        with pytest.raises(LinkError, match="already open"):
            lib.open_ethernet("127.0.0.1")
        assert first.is_online()
    assert first.closed and lib.current_link() is None
    # The port was really given back: another process can open it now.
    assert support.run_lyractl(["--port", "COM3", "online"]).returncode == 0
    with pytest.raises(LinkError, match="closed"):
        first.query_state()
    first.close()  # a second close does nothing
    with lib.open_serial("COM4") as second:
        assert second.query_state740().firmware == 0x1304


def test_failures_become_link_and_device_errors(start_sim, lib):
    sim = start_sim("--serial", "COM3=740", "--serial", "COM5=310,sn=8")
    with lib.open_serial("COM3", timeout_ms=850, retries=1) as mca:
        sim.control("fault silent,code=90,count=1")
        with pytest.raises(LinkError) as e:
            mca.query_state()
        assert e.value.status == 3 and e.value.command == "LYRA_QUERY_STATE" and len(e.value.answer) == 132
        assert "no valid answer" in str(e.value)
        sim.control("fault silent,code=90,count=1")
        assert mca.is_online() is False
        assert mca.is_online() is True
        sim.control("fault error=0xAAAE,code=257,count=1")
        with pytest.raises(DeviceError) as d:
            mca.query_state740()
        assert (d.value.status, d.value.error_word) == (7, 0xAAAE)
        # The long block of a failed read is not handed out.
        sim.control("fault checksum,code=263,count=1")
        with pytest.raises(LinkError):
            mca.query_common_memory(0)
    with lib.open_serial("COM5") as old:
        with pytest.raises(DeviceError) as d:
            old.query_state740()  # the MCA-310 does not know the newer commands
        assert d.value.status == 2
        assert old.query_state().raw[90:92] == bytes([0x10, 0x03])  # its firmware 0x0310


def test_bad_arguments_are_refused_before_anything_is_sent(start_sim, lib):
    sim = start_sim("--serial", "COM3=740")
    with lib.open_serial("COM3") as mca:
        mca.set_gain(20, 10000)
        sent = len(sim.frames())
        for call in (lambda: mca.set_gain(70000, 0), lambda: mca.set_threshold(-40000),
                     lambda: mca.set_gating(1, 2, 256), lambda: mca.set_user_data(4, 1 << 32),
                     lambda: mca.query_spectrum(0, 33), lambda: mca.write_to_extension("a\0b"),
                     lambda: mca.write_detector_info(b""), lambda: mca.write_detector_info(bytes(2049)),
                     lambda: mca.set_ahrc_param(0, [1, 2, 3]), lambda: mca.set_ip_address("10.0.0"),
                     lambda: mca.command("CMD_SET_GAIN", 1, 2, 3, 4, 5, 6, 7)):
            with pytest.raises((ValueError, TypeError)):
                call()
        assert len(sim.frames()) == sent
        f = sim.frames()[-1]
        assert (f.code, f.word(1), f.word(2), f.word(3)) == (76, 20, 10000, 0)


def test_opening_failures_say_why(start_sim, lib):
    sim = start_sim("--serial", "COM3=740")
    with pytest.raises(LinkError, match=r"cannot open COM9: no such port \(no entry COM9 in "):
        lib.open_serial("COM9")
    with pytest.raises(LinkError, match="longer than 7 characters"):
        lib.open_serial("COM12345")
    for typo in ("10.0.0", "010.0.0.1", "10.0.0.256", "192.168.100.100.1", "host"):
        with pytest.raises(ValueError):
            lib.open_ethernet(typo)
    with pytest.raises(ValueError):
        lib.open_multiplex("MPLX3#4")
    # A port another program holds.
    fd = os.open(str(sim.port_dir / "COM3"), os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        with pytest.raises(LinkError, match="held by another program"):
            lib.open_serial("COM3")
    finally:
        os.close(fd)
    assert lib.current_link() is None
    with lib.open_serial("COM3") as mca:
        assert mca.is_online()


def test_ethernet_link_on_this_runs_udp_port(start_sim, lib):
    sim = start_sim("--udp", "127.0.0.1=740,sn=77,rate=20000")
    with lib.open_ethernet("127.0.0.1") as mca:
        assert mca.parameters().channel == "ethernet"
        assert mca.query_state740_ex().sample_rate_khz == 20000
        assert not mca.is_usb() and mca.latency_timer() is None and mca.set_latency_timer(2) is False
        assert mca.usb_charger_on() is False
        mca.set_usb_charger(True)  # nothing on an Ethernet link
    assert {f.endpoint for f in sim.frames()} == {"127.0.0.1"}
    assert lib.is_usb_port("COM3") is False and lib.set_latency_timer("COM3") is False
    lib.terminate_ethernet()
    with lib.open_ethernet("127.0.0.1") as mca:  # a new socket for the next link
        assert mca.is_online()


def test_a_link_lost_inside_the_library_is_seen_as_closed(start_sim, lib):
    start_sim("--serial", "COM3=740")
    mca = lib.open_serial("COM3")
    lib.link.library().COMM_CLOSE()  # behind the package's back
    with pytest.raises(LinkError) as e:
        mca.query_state()
    assert e.value.status == 1 and mca.closed and lib.current_link() is None
    with lib.open_serial("COM3") as again:
        assert again.is_online()


def test_spectra_and_histograms_are_numpy_arrays_of_the_same_counts(start_sim, lib):
    start_sim("--udp", "127.0.0.1=740")
    with lib.open_ethernet("127.0.0.1") as mca:
        mca.clear_all()
        mca.start_acquire()
        time.sleep(0.3)
        mca.stop_acquire()
        spectrum = mca.spectrum(4096)
        assert spectrum.dtype == np.uint32 and spectrum.shape == (4096,)
        assert spectrum.sum() > 0 and int(np.argmax(spectrum)) in range(1600, 1700)  # the Cs-137 line
        assert np.array_equal(mca.query_histogram(256), spectrum[256:512])
        assert np.array_equal(mca.query_spectrum(4090, 6), spectrum[4090:4096])
        block = mca.query_common_memory(0, raw=True)
        assert block.dtype == np.uint16 and block.shape == (720,)
        assert np.array_equal(mca.query_common_memory(0), block & 0x3FFF)
