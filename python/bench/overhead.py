# SPDX-License-Identifier: LGPL-2.1-or-later
"""What the Python layer costs, as ratios in one run against lyrasim on UDP
(a port of its own):

- a decoded query (Link.query_state740) against the raw ctypes call of
  LYRA_QUERY_STATE740 with a ready buffer;
- a recording (Link.record to a WAVE file) against `lyractl record` of the
  same length on the same emulator.

Run from the source tree after a build: /usr/bin/python3 python/bench/overhead.py
"""

from __future__ import annotations

import ctypes
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent))
sys.path.insert(0, str(HERE.parent / "tests"))

import support  # noqa: E402


def best(fn, repeat=5, number=200):
    times = []
    for _ in range(repeat):
        t = time.perf_counter()
        for _ in range(number):
            fn()
        times.append((time.perf_counter() - t) / number)
    return min(times)


def main() -> None:
    os.environ.setdefault("LYRALINK_UDP_PORT", str(support.free_udp_port()))
    os.environ.setdefault("LYRALINK_LIBRARY", str(support.BUILD / "lyralink" / "liblyralink.so.1"))
    tmp = Path(tempfile.mkdtemp(prefix="lyralink-bench-"))
    sim = support.Sim(["--udp", "127.0.0.1=740,rate=2000"], tmp)
    try:
        import lyralink
        from lyralink._library import library

        with lyralink.open_ethernet("127.0.0.1") as mca:
            raw_fn = library().LYRA_QUERY_STATE740
            buf = (ctypes.c_uint8 * 132)()
            raw = best(lambda: raw_fn(buf))
            decoded = best(mca.query_state740)
            print("query_state740: raw ctypes %.1f us, Link method %.1f us, ratio %.2f"
                  % (raw * 1e6, decoded * 1e6, decoded / raw))
        # Best of three each, taken in turn, so that a busy moment of the
        # machine does not land on one side only.
        seconds = "0.1"
        python_runs, lyractl_runs = [], []
        for _ in range(3):
            with lyralink.open_ethernet("127.0.0.1") as mca:
                t = time.perf_counter()
                mca.record(float(seconds), tmp / "python.wav")
                python_runs.append(time.perf_counter() - t)
            t = time.perf_counter()
            subprocess.run([support.lyractl_path(), "--ip", "127.0.0.1", "record", seconds, str(tmp / "lyractl.wav")],
                           check=True, capture_output=True)
            lyractl_runs.append(time.perf_counter() - t)
        same = (tmp / "python.wav").read_bytes() == (tmp / "lyractl.wav").read_bytes()
        python_s, lyractl_s = min(python_runs), min(lyractl_runs)
        print("record %s s (200000 samples, best of 3): Link.record %.3f s, lyractl record %.3f s (its process "
              "start included), ratio %.2f, files equal: %s" % (seconds, python_s, lyractl_s, python_s / lyractl_s,
                                                                same))
    finally:
        sim.stop()


if __name__ == "__main__":
    main()
