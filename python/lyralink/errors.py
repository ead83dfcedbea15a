# SPDX-License-Identifier: LGPL-2.1-or-later
"""Exceptions for the status codes of liblyralink.

Every command of the library ends with a 16-bit status code. The package
turns every status other than 0 into an exception:

========  ================================================  ===============
status    meaning                                           exception
========  ================================================  ===============
0         success                                           (none)
1         no link open, nothing was sent                    :class:`LinkError`
3         no valid answer (timeout, bad checksum or echo,   :class:`LinkError`
          after every attempt)
2         device error word 0xAAAB (also: a command name    :class:`DeviceError`
          the generic command entry does not know)
4         device error word 0xAAAA (also: an argument out   :class:`DeviceError`
          of range, nothing sent)
5 - 10    device error words 0xAAAC, 0xAAAD, 0xAAAE,        :class:`DeviceError`
          0xAAAF, 0xAAA9, 0xAAA8 (7 is never retried)
========  ================================================  ===============

:class:`LinkError` means that the analyser could not be reached (there is
no link, or nothing sensible came back); :class:`DeviceError` means that it
answered and refused. Both derive from :class:`LyralinkError`, which is
also raised for failures that are not a status (the library cannot be
loaded, a link cannot be opened, a second link in the same process).
"""

from __future__ import annotations

from typing import Optional

__all__ = [
    "LyralinkError",
    "LinkError",
    "DeviceError",
    "status_text",
    "error_for_status",
    "DEVICE_ERROR_WORDS",
]

#: The device error word behind each device-error status.
DEVICE_ERROR_WORDS = {
    2: 0xAAAB,
    4: 0xAAAA,
    5: 0xAAAC,
    6: 0xAAAD,
    7: 0xAAAE,
    8: 0xAAAF,
    9: 0xAAA9,
    10: 0xAAA8,
}

_TEXTS = {
    0: "ok",
    1: "no link open",
    2: "device error 0xAAAB (or unknown command name)",
    3: "no valid answer",
    4: "device error 0xAAAA (or argument out of range)",
}


def status_text(status: int) -> str:
    """The name of a status code, as ``lyractl`` prints it."""
    if status in _TEXTS:
        return _TEXTS[status]
    if status in DEVICE_ERROR_WORDS:
        return "device error 0x%04X" % DEVICE_ERROR_WORDS[status]
    return "unknown status"


class LyralinkError(Exception):
    """Base of every error of this package.

    ``status`` is the library's status code when the error came from one
    (else ``None``); ``command`` names the library function that returned
    it; ``answer`` holds the 132 bytes of answer data that a short query
    copies out whatever its status (``None`` where there are none).
    """

    def __init__(
        self,
        message: str,
        status: Optional[int] = None,
        command: Optional[str] = None,
        answer: Optional[bytes] = None,
    ) -> None:
        super().__init__(message)
        self.status = status
        self.command = command
        self.answer = answer


class LinkError(LyralinkError):
    """The analyser could not be reached: status 1 (no link open) or 3 (no
    valid answer), or a link could not be opened (``status`` is then
    ``None``)."""


class DeviceError(LyralinkError):
    """The analyser answered with an error word: status 2 or 4 to 10.

    ``error_word`` is the device's word (0xAAAB for status 2 ...)."""

    @property
    def error_word(self) -> Optional[int]:
        return DEVICE_ERROR_WORDS.get(self.status) if self.status is not None else None


def error_for_status(status: int, command: str, answer: Optional[bytes] = None) -> LyralinkError:
    """The exception for a nonzero status that ``command`` returned."""
    message = "%s failed: status %d (%s)" % (command, status, status_text(status))
    if status in (1, 3):
        if status == 1:
            message += "; open a link first"
        return LinkError(message, status, command, answer)
    if status in DEVICE_ERROR_WORDS:
        return DeviceError(message, status, command, answer)
    return LyralinkError(message, status, command, answer)
