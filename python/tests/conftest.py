# SPDX-License-Identifier: LGPL-2.1-or-later
"""Environment of the test session: the library, the emulator's UDP port
and the settings store of this run, set before the library is loaded (it
reads them from the process environment)."""

from __future__ import annotations

import os
import sys
import tempfile
from pathlib import Path
from typing import Iterator, List

import pytest

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent))  # the package of this source tree first

import support  # noqa: E402

_session_dir = Path(tempfile.mkdtemp(prefix="lyralink-pytest-"))


def pytest_configure(config: pytest.Config) -> None:
    os.environ.setdefault("LYRALINK_UDP_PORT", str(support.free_udp_port()))
    os.environ["LYRALINK_HOST_ADDRESSES"] = "127.0.0.1/255.0.0.0"
    os.environ["LYRALINK_REGISTRY_DIR"] = str(_session_dir / "registry")
    # No bridge library in this process: the USB part of a search finds
    # nothing and costs nothing.
    os.environ["LYRALINK_FTD2XX"] = str(_session_dir / "no-bridge-library.so")
    os.environ["LYRALINK_PORT_DIR"] = str(_session_dir / "no-ports")
    os.makedirs(os.environ["LYRALINK_PORT_DIR"], exist_ok=True)
    built = support.BUILD / "lyralink" / "liblyralink.so.1"
    if "LYRALINK_LIBRARY" not in os.environ and built.exists():
        os.environ["LYRALINK_LIBRARY"] = str(built)


def pytest_unconfigure(config: pytest.Config) -> None:
    import shutil

    shutil.rmtree(_session_dir, ignore_errors=True)


@pytest.fixture
def lib():
    """The loaded library (skips, or fails under ctest, without it)."""
    import lyralink
    from lyralink.errors import LyralinkError

    try:
        lyralink.library_path()
    except LyralinkError as e:
        if support.required():
            pytest.fail(str(e))
        pytest.skip(str(e))
    yield lyralink
    lyralink.close()


@pytest.fixture
def start_sim(lib, tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> Iterator:
    """start_sim(*args) starts lyrasim and points LYRALINK_PORT_DIR at it."""
    sims: List[support.Sim] = []

    def start(*args: str) -> support.Sim:
        sim = support.Sim(args, tmp_path)
        sims.append(sim)
        monkeypatch.setenv("LYRALINK_PORT_DIR", str(sim.port_dir))
        return sim

    yield start
    lib.close()
    for s in sims:
        s.stop()
