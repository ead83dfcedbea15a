# SPDX-License-Identifier: LGPL-2.1-or-later
"""record(): the recorder's recording through the library, its files byte
for byte against `lyractl record` and against the emulator's signal
recomputed from its description."""

from __future__ import annotations

import struct

import numpy as np
import pytest

import support
from lyralink import LinkError, RecordingSetupError

DEVICE = "740,sn=5,rate=2000,seed=7"  # 2 MS/s: 0.01 s are 20000 samples, 28 chunks


def lyractl_record(link_args, seconds, path, *options):
    return support.run_lyractl(list(link_args) + list(options) + ["record", seconds, str(path)])


@pytest.mark.parametrize("suffix,link", [(".txt", "serial"), (".wav", "udp")])
def test_files_are_those_of_lyractl_and_hold_the_emulators_signal(start_sim, lib, tmp_path, suffix, link):
    start_sim("--serial", "COM3=" + DEVICE, "--udp", "127.0.0.1=" + DEVICE)
    mine, theirs = tmp_path / ("python" + suffix), tmp_path / ("lyractl" + suffix)
    args = ["--port", "COM3"] if link == "serial" else ["--ip", "127.0.0.1"]
    done = lyractl_record(args, "0.01", theirs)
    assert done.returncode == 0, done.stderr
    calls = []
    opened = lib.open_serial("COM3") if link == "serial" else lib.open_ethernet("127.0.0.1")
    with opened as mca:
        assert mca.sample_rate() == 2_000_000
        trace = mca.record(0.01, mine, progress=lambda done, total: calls.append((done, total)))
    assert mine.read_bytes() == theirs.read_bytes()
    expected = support.Signal(2000, seed=7).samples(20000)
    assert trace.dtype == np.uint16 and trace.tolist() == expected
    want = support.wave_file(expected, 2_000_000) if suffix == ".wav" else support.text_file(expected)
    assert mine.read_bytes() == want
    assert [d for d, _ in calls] == [min(720 * (i + 1), 20000) for i in range(28)] and {t for _, t in calls} == {20000}


def test_the_frames_of_a_recording_and_a_trace_without_file(start_sim, lib):
    sim = start_sim("--udp", "127.0.0.1=" + DEVICE)
    with lib.open_ethernet("127.0.0.1") as mca:
        sim.clear_record()
        trace = mca.record(0.0005)  # 1000 samples: two chunks
        frames = sim.frames()
        assert [f.code for f in frames] == [257, 272, 279, 66, 263, 263]
        assert frames[2].dword(1) == 2000 and (frames[3].word(1), frames[3].dword(2)) == (0, 0)
        assert [f.dword(1) for f in frames[4:]] == [0, 720]
        assert trace.tolist() == support.Signal(2000, seed=7).samples(1000)
        # Markers in the upper two bits never reach the trace.
        assert int(trace.max()) <= 0x3FFF
        assert mca.record(0).size == 0


def test_a_recording_longer_than_the_memory_is_refused_before_anything_starts(start_sim, lib, tmp_path):
    sim = start_sim("--udp", "127.0.0.1=740,rate=2000,memory=1000000")
    target = tmp_path / "long.txt"
    with lib.open_ethernet("127.0.0.1") as mca:
        assert mca.recording_range() == pytest.approx((1000000 - 1440) / 4e6)
        with pytest.raises(RecordingSetupError, match="do not fit"):
            mca.record(1.0, target)
        with pytest.raises(ValueError):
            mca.record(-0.1)
    assert not target.exists() and 279 not in [f.code for f in sim.frames()]
    assert lyractl_record(["--ip", "127.0.0.1"], "1.0", tmp_path / "ctl.txt").returncode == 64


def test_a_failed_read_leaves_the_same_partial_file_as_lyractl(start_sim, lib, tmp_path):
    sim = start_sim("--serial", "COM3=" + DEVICE)
    mine, theirs = tmp_path / "python.wav", tmp_path / "lyractl.wav"
    sim.control("fault silent,code=263,skip=3")
    with lib.open_serial("COM3", timeout_ms=850, retries=1) as mca:
        with pytest.raises(LinkError) as e:
            mca.record(0.01, mine)
    assert e.value.status == 3 and e.value.samples.tolist() == support.Signal(2000, seed=7).samples(3 * 720)
    assert "holds 2160 of 20000 samples" in str(e.value)
    sim.control("clear-faults")
    sim.control("fault silent,code=263,skip=3")
    done = lyractl_record(["--port", "COM3"], "0.01", theirs, "--timeout", "850", "--retries", "1")
    assert done.returncode == 3
    assert mine.read_bytes() == theirs.read_bytes()
    assert struct.unpack_from("<I", mine.read_bytes(), 40)[0] == 40000  # sizes of the whole recording
    assert len(mine.read_bytes()) == 44 + 2 * 2160


def test_upper_case_suffix_is_a_text_file_as_in_the_recorder(start_sim, lib, tmp_path):
    start_sim("--udp", "127.0.0.1=" + DEVICE)
    path = tmp_path / "shot.WAV"
    with lib.open_ethernet("127.0.0.1") as mca:
        trace = mca.record(0.0001, path)
    assert path.read_bytes() == support.text_file(trace.tolist()) and trace.size == 200
