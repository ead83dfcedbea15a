# SPDX-License-Identifier: LGPL-2.1-or-later
"""Finding analysers: one detection pass without dialogs.

The library has no export that lists what a search found, so
:func:`discover` runs ``lyractl discover --json`` (its own process, with
this process's environment: ``LYRALINK_PORT_DIR`` and the rest apply) and
returns its entries. Every port is closed again after the pass; a port this
process holds open shows as in use or is missing.
"""

from __future__ import annotations

import json
import os
import shutil
import subprocess
from dataclasses import dataclass
from pathlib import Path
from typing import Any, List, Optional, Sequence

from .errors import LyralinkError

__all__ = ["DeviceEntry", "Devices", "discover", "find_lyractl", "parse_discover_json"]

ENV_LYRACTL = "LYRALINK_LYRACTL"


@dataclass(frozen=True)
class DeviceEntry:
    """One analyser of a detection pass, as the selection dialog lists it."""

    text: str  #: the list text, tab-separated columns as the dialog shows them
    port: str  #: "COM3", "USB" ..., empty for Ethernet
    ip: str  #: dotted address for Ethernet, else empty
    serial: int
    port_id: int  #: n for COMn, 0 Ethernet, 0x0101/0x0102 direct USB
    applicable: bool

    @property
    def columns(self) -> List[str]:
        """The list text's columns (analyser, firmware, state ...)."""
        return [c[1:] if c.startswith(" ") else c for c in self.text.split("\t")]

    @property
    def analyser(self) -> str:
        return self.columns[0]


class Devices(List[DeviceEntry]):
    """The entries of a pass, in list order; ``notes`` holds what lyractl
    said about the search (ports without permission, ports held by another
    program, what was searched when nothing was found)."""

    notes: List[str]

    def __init__(self, entries: Sequence[DeviceEntry] = (), notes: Sequence[str] = ()) -> None:
        super().__init__(entries)
        self.notes = list(notes)


def find_lyractl() -> str:
    """``$LYRALINK_LYRACTL``; else next to the library in use (its build
    tree, or the bin directory of its prefix); else ``lyractl`` on PATH."""
    env = os.environ.get(ENV_LYRACTL)
    if env:
        return env
    tried = []
    try:
        from ._library import library_path

        libdir = Path(library_path()).parent
        for c in (libdir / "lyractl", libdir.parent / "tools" / "lyractl" / "lyractl", libdir.parent / "bin" / "lyractl",
                  libdir.parent.parent / "bin" / "lyractl"):
            tried.append(str(c))
            if c.is_file() and os.access(c, os.X_OK):
                return str(c)
    except LyralinkError:
        pass
    found = shutil.which("lyractl")
    if found:
        return found
    raise LyralinkError("lyractl not found (looked at %s and on PATH); install lyralink-tools or set $%s"
                        % (", ".join(tried) or "no library directory", ENV_LYRACTL))


def _entry(obj: Any) -> DeviceEntry:
    try:
        return DeviceEntry(str(obj["text"]), str(obj["port"]), str(obj["ip"]), int(obj["serial"]),
                           int(obj["port_id"]), bool(obj["applicable"]))
    except (KeyError, TypeError, ValueError) as e:
        raise LyralinkError("lyractl discover printed an entry this package cannot read: %r (%s)" % (obj, e)) from None


def parse_discover_json(text: str) -> List[DeviceEntry]:
    """The entries of ``lyractl discover --json`` output."""
    try:
        data = json.loads(text)
    except ValueError as e:
        raise LyralinkError("lyractl discover printed no JSON list: %s" % e) from None
    if not isinstance(data, list):
        raise LyralinkError("lyractl discover printed %s, not a list" % type(data).__name__)
    return [_entry(o) for o in data]


def discover(*, timeout_ms: int = 1000, retries: int = 3, lyractl: Optional[str] = None,
             wait_seconds: float = 120.0) -> Devices:
    """One detection pass on every serial port, USB bridge and local
    network; the analysers found, in list order. Takes two seconds and
    more."""
    program = lyractl or find_lyractl()
    argv = [program, "--timeout", str(int(timeout_ms)), "--retries", str(int(retries)), "discover", "--json"]
    try:
        done = subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True, timeout=wait_seconds, check=False)
    except OSError as e:
        raise LyralinkError("cannot run %s: %s" % (program, e)) from None
    except subprocess.TimeoutExpired:
        raise LyralinkError("%s discover did not finish within %g s" % (program, wait_seconds)) from None
    err = done.stderr.decode("utf-8", "replace")
    notes = [line[len("lyractl: "):] if line.startswith("lyractl: ") else line for line in err.splitlines() if line]
    if done.returncode != 0:
        raise LyralinkError("%s discover failed (exit %d): %s" % (program, done.returncode, " ".join(notes)))
    return Devices(parse_discover_json(done.stdout.decode("utf-8", "replace")), notes)
