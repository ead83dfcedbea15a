# SPDX-License-Identifier: LGPL-2.1-or-later
"""lyralink: the MCA-310 and MCA-740 analysers from Python.

A thin, typed layer over ``liblyralink.so`` (through ctypes): the link as a
context manager, every command as a method, decoded answers as dataclasses,
spectra, histograms and the signal memory as numpy arrays, and the
recorder's recording::

    import lyralink

    with lyralink.select(serial=1001) as mca:       # or open_serial("COM3")
        print(mca.query_state740())
        trace = mca.record(0.01, "shot.wav")

Failures raise :class:`LinkError` (no link, no valid answer) or
:class:`DeviceError` (the analyser's error words), both :class:`LyralinkError`.
"""

from __future__ import annotations

from ._library import library_path
from .answers import (
    LinkParameters,
    Power,
    State,
    State740,
    State740Ex,
    UserData,
    VoltageCurrent,
)
from .discovery import DeviceEntry, Devices, discover, find_lyractl
from .errors import DeviceError, LinkError, LyralinkError, status_text
from .link import (
    Link,
    close,
    current_link,
    is_usb_port,
    open_ethernet,
    open_multiplex,
    open_serial,
    search_ethernet,
    search_heads,
    select,
    set_latency_timer,
    terminate_ethernet,
    usb_test,
)
from .recording import RecordingSetupError

__version__ = "0.1.0"

__all__ = [
    "DeviceEntry",
    "DeviceError",
    "Devices",
    "Link",
    "LinkError",
    "LinkParameters",
    "LyralinkError",
    "Power",
    "RecordingSetupError",
    "State",
    "State740",
    "State740Ex",
    "UserData",
    "VoltageCurrent",
    "close",
    "current_link",
    "discover",
    "find_lyractl",
    "is_usb_port",
    "library_path",
    "open_ethernet",
    "open_multiplex",
    "open_serial",
    "search_ethernet",
    "search_heads",
    "select",
    "set_latency_timer",
    "status_text",
    "terminate_ethernet",
    "usb_test",
]
