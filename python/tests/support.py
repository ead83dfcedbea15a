# SPDX-License-Identifier: LGPL-2.1-or-later
"""Test support: the emulator, lyractl and mplxd as real processes, and the
emulator's signal recomputed."""

from __future__ import annotations

import math
import os
import select as _select
import socket
import subprocess
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Dict, List, Optional, Sequence

import pytest

HERE = Path(__file__).resolve().parent
SOURCE = HERE.parent.parent  # the source tree, when run from it
BUILD = SOURCE / "build" / "default"


def required() -> bool:
    """Under ctest every piece must be there: a missing one fails the run
    instead of skipping it."""
    return os.environ.get("LYRALINK_TEST_REQUIRE", "") not in ("", "0")


def program(env: str, *relative: str) -> Optional[str]:
    value = os.environ.get(env)
    if value:
        return value
    p = BUILD.joinpath(*relative)
    return str(p) if p.is_file() else None


def need(path: Optional[str], what: str) -> str:
    if path and os.path.exists(path):
        return path
    message = ("%s not found: build the project (cmake --preset default && cmake --build --preset default) "
               "or set its environment variable" % what)
    if required():
        pytest.fail(message)
    pytest.skip(message)
    raise AssertionError  # not reached


def lyrasim_path() -> str:
    return need(program("LYRALINK_LYRASIM", "tools", "lyrasim", "lyrasim"), "lyrasim ($LYRALINK_LYRASIM)")


def lyractl_path() -> str:
    return need(program("LYRALINK_LYRACTL", "tools", "lyractl", "lyractl"), "lyractl ($LYRALINK_LYRACTL)")


def mplxd_path() -> str:
    return need(program("LYRALINK_MPLXD", "tools", "mplxd", "mplxd"), "mplxd ($LYRALINK_MPLXD)")


def standin_bridge_path() -> str:
    return need(program("LYRALINK_STANDIN_BRIDGE", "tools", "lyrasim", "libftd2xx.so"),
                "the stand-in bridge library ($LYRALINK_STANDIN_BRIDGE)")


def free_udp_port() -> int:
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return int(s.getsockname()[1])


@dataclass
class Frame:
    us: int
    endpoint: str
    raw: bytes
    baud: Optional[int]

    @property
    def code(self) -> int:
        return self.word(0)

    def word(self, n: int) -> int:
        """Word 0 is the command code, 1-3 the parameter words."""
        return self.raw[2 + 2 * n] | (self.raw[3 + 2 * n] << 8)

    def byte(self, n: int) -> int:
        """Parameter byte n (0-5)."""
        return self.raw[4 + n]

    def dword(self, n: int) -> int:
        return self.word(n) | (self.word(n + 1) << 16)


class Sim:
    """A running lyrasim with its own port directory and frame record."""

    def __init__(self, args: Sequence[str], tmp: Path) -> None:
        self.dir = Path(tempfile.mkdtemp(prefix="sim-", dir=tmp))
        self.port_dir = self.dir / "ports"
        self.port_dir.mkdir()
        self.record = self.dir / "frames.log"
        argv = [lyrasim_path(), "--port-dir", str(self.port_dir), "--record", str(self.record), "--control",
                "--udp-port", os.environ["LYRALINK_UDP_PORT"]] + list(args)
        self.proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     bufsize=0)
        self._pending = b""
        self.lines: List[str] = []
        line = self._line(10.0)
        while line is not None and line != "ready":
            self.lines.append(line)
            line = self._line(10.0)
        if line != "ready":
            self.proc.kill()
            _, err = self.proc.communicate()
            raise RuntimeError("lyrasim did not get ready: %s %s" % (self.lines, err.decode(errors="replace")))

    def _line(self, seconds: float) -> Optional[str]:
        # Unbuffered reads and a buffer of our own: a select() on a buffered
        # file object misses lines already read into its buffer.
        assert self.proc.stdout is not None
        fd = self.proc.stdout.fileno()
        deadline = time.monotonic() + seconds
        while b"\n" not in self._pending:
            left = deadline - time.monotonic()
            if left <= 0 or not _select.select([fd], [], [], left)[0]:
                return None
            chunk = os.read(fd, 4096)
            if not chunk:
                return None
            self._pending += chunk
        line, self._pending = self._pending.split(b"\n", 1)
        return line.decode(errors="replace")

    def control(self, line: str) -> None:
        assert self.proc.stdin is not None
        self.proc.stdin.write((line + "\n").encode())
        answer = self._line(5.0)
        assert answer == "ok", "lyrasim control %r: %r" % (line, answer)

    def frames(self) -> List[Frame]:
        out = []
        if not self.record.exists():
            return out
        for line in self.record.read_text().splitlines():
            parts = line.split()
            if len(parts) < 3 or parts[2] == "junk" or len(parts[2]) != 24:
                continue
            baud = int(parts[3][5:]) if len(parts) > 3 and parts[3].startswith("baud=") else None
            out.append(Frame(int(parts[0]), parts[1], bytes.fromhex(parts[2]), baud))
        return out

    def clear_record(self) -> None:
        self.record.write_text("")

    def stop(self) -> None:
        if self.proc.poll() is None:
            try:
                assert self.proc.stdin is not None
                self.proc.stdin.write(b"quit\n")
                self.proc.wait(3)
            except (OSError, subprocess.TimeoutExpired):
                self.proc.kill()
                self.proc.wait()
        for stream in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            if stream is not None:
                stream.close()


def run_lyractl(args: Sequence[str], env: Optional[Dict[str, str]] = None,
                timeout: float = 60.0) -> subprocess.CompletedProcess:
    full = dict(os.environ)
    full.update(env or {})
    return subprocess.run([lyractl_path()] + list(args), capture_output=True, env=full, timeout=timeout,
                          stdin=subprocess.DEVNULL)


# ---- the emulator's signal, recomputed ----

_M64 = (1 << 64) - 1


def _mix(x: int) -> int:
    x = (x + 0x9E3779B97F4A7C15) & _M64
    x = ((x ^ (x >> 30)) * 0xBF58476D1CE4E5B9) & _M64
    x = ((x ^ (x >> 27)) * 0x94D049BB133111EB) & _M64
    return x ^ (x >> 31)


def _unit(h: int) -> float:
    return float(h >> 11) * (1.0 / 9007199254740992.0)


def _gauss(x: float, mean: float, sigma: float, area: float) -> float:
    d = (x - mean) / sigma
    return area * math.exp(-0.5 * d * d) / (sigma * 2.5066282746)


def _spectrum_shape(ch: int) -> float:
    x = float(ch)
    compton = 0.00012 * (1.0 + 0.6 * x / 1190.0) if x < 1190 else 0.0
    edge = _gauss(x, 1190, 25, 0.05)
    return _gauss(x, 1655, 28, 0.35) + _gauss(x, 460, 30, 0.06) + _gauss(x, 80, 6, 0.05) + compton + edge


class Signal:
    """lyrasim's common memory for an identity with ``rate`` kHz and ``seed``:
    baseline, noise and pulses as pure functions of the sample index, the
    same arithmetic in the same order, so the values agree exactly."""

    BLOCK = 4096

    def __init__(self, rate_khz: int, seed: int = 0) -> None:
        self.rate_hz = float(max(rate_khz, 1)) * 1000.0
        self.tau = self.rate_hz * 2.0e-6
        self.rise = max(self.rate_hz * 0.1e-6, 0.5)
        self.seed = _mix(seed ^ 0x5EED)
        self.per_block = 2500.0 * float(self.BLOCK) / self.rate_hz
        self._blocks: Dict[int, List[tuple]] = {}

    def _pulses(self, b: int) -> List[tuple]:
        if b not in self._blocks:
            h = _mix((b * 1315423911 + 17 + self.seed) & _M64)
            n = int(self.per_block * 2 * _unit(h) + 0.5)
            pulses = []
            for k in range(n):
                hk = _mix((h + k * 0x632BE59BD9B4E019) & _M64)
                start = b * self.BLOCK + hk % self.BLOCK
                ch = _mix(hk) % 4096
                height = 200.0 + float(ch) * 3.4
                if _unit(_mix((hk + 5) & _M64)) * 0.0016 > _spectrum_shape(ch):
                    height *= 0.35
                pulses.append((start, height))
            self._blocks[b] = pulses
        return self._blocks[b]

    def sample(self, index: int) -> int:
        value = 1200.0 + (_unit(_mix((index * 7 + 1 + self.seed) & _M64)) - 0.5) * 24.0
        block = index // self.BLOCK
        for b in range(block - 1 if block > 0 else 0, block + 1):
            for start, height in self._pulses(b):
                if start > index:
                    continue
                t = float(index - start)
                value += height * (1.0 - math.exp(-t / self.rise)) * math.exp(-t / self.tau)
        return min(max(int(value), 0), 0x3FFF)

    def samples(self, n: int, first: int = 0) -> List[int]:
        return [self.sample(i) for i in range(first, first + n)]


def text_file(samples: Sequence[int]) -> bytes:
    return b"".join(b"%5d\r\n" % s for s in samples)


def wave_file(samples: Sequence[int], rate: int) -> bytes:
    import struct

    data = b"".join(struct.pack("<h", s - 8192) for s in samples)
    return (b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, 1, rate, 2 * rate, 2, 16) + b"data" + struct.pack("<I", len(data)) + data)


def wait_until(check, seconds: float = 5.0, step: float = 0.02) -> bool:
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if check():
            return True
        time.sleep(step)
    return check()
