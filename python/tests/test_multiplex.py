# SPDX-License-Identifier: LGPL-2.1-or-later
"""A Multiplex link through a real mplxd on a lyrasim serial port, shared
with a lyractl process at the same time."""

from __future__ import annotations

import os
import select
import signal
import subprocess

import pytest

import support
from lyralink import LinkError

PORT = 977  # shared memory names of our own (the C++ tests use others)


@pytest.fixture
def server(start_sim):
    sim = start_sim("--serial", "COM%d=740,sn=42" % PORT)
    proc = subprocess.Popen([support.mplxd_path(), "COM%d" % PORT], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            env=dict(os.environ, LYRALINK_PORT_DIR=str(sim.port_dir)))
    out = b""
    while b"serving" not in out:
        if not select.select([proc.stdout], [], [], 10)[0]:
            proc.kill()
            pytest.fail("mplxd did not start: %r" % out)
        chunk = os.read(proc.stdout.fileno(), 4096)
        if not chunk:
            pytest.fail("mplxd ended: %r %r" % (out, proc.stderr.read()))
        out += chunk
    yield sim
    proc.send_signal(signal.SIGTERM)
    proc.communicate(timeout=10)


def test_two_processes_share_the_analyser(server, lib):
    with lib.open_multiplex("MPLX%d#1" % PORT) as mca:
        assert mca.parameters().channel == "multiplex"
        mca.set_user_data(7, 0x1234)
        other = support.run_lyractl(["--mplx", "MPLX%d#2" % PORT, "--json", "user-data", "0"])
        assert other.returncode == 0, other.stderr
        assert mca.query_user_data(0).words[7] == 0x1234
        assert mca.query_state740().firmware == 0x1304
    assert {f.code for f in server.frames()} >= {87, 94, 257}


def test_without_a_server_the_open_fails_clearly(lib):
    with pytest.raises(LinkError, match="no Multiplex server for that port"):
        lib.open_multiplex("MPLX%d#1" % (PORT + 1))
