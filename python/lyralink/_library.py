# SPDX-License-Identifier: LGPL-2.1-or-later
"""Finding and loading liblyralink.so, and its prototypes for ctypes.

The package is pure Python over the C library: nothing to compile, and it
drives exactly the library that lyractl and pulsecap use (the installed one,
or the one just built). The library is looked for in this order:

1. ``$LYRALINK_LIBRARY`` (a path; nothing else is tried when it is set);
2. the build tree, when the package is run from the source tree
   (``<source>/build/default/lyralink/liblyralink.so.1``);
3. the installed ``liblyralink.so.1``: the dynamic loader's own search
   (``LD_LIBRARY_PATH``, ``ld.so.cache``), ``ctypes.util.find_library``, then
   ``/usr/local/lib``, the multiarch and plain ``/usr/lib`` and
   ``~/.local/lib``.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sysconfig
import threading
from pathlib import Path
from typing import List, Optional, Tuple

from ._exports import EXPORTS
from .errors import LyralinkError

__all__ = ["library", "library_path", "candidates", "SONAME"]

SONAME = "liblyralink.so.1"
ENV_LIBRARY = "LYRALINK_LIBRARY"

_lock = threading.Lock()
_loaded: Optional[Tuple[ctypes.CDLL, str]] = None


def source_root() -> Optional[Path]:
    """The source tree this package runs from, or None when installed."""
    package = Path(__file__).resolve().parent
    root = package.parent.parent
    if (package.parent / "pyproject.toml").is_file() and (root / "include" / "lyralink.h").is_file():
        return root
    return None


def candidates() -> List[Tuple[str, str]]:
    """Where the library is looked for: (path or name, why) in order."""
    env = os.environ.get(ENV_LIBRARY)
    if env:
        return [(env, "$" + ENV_LIBRARY)]
    out: List[Tuple[str, str]] = []
    root = source_root()
    if root is not None:
        built = root / "build" / "default" / "lyralink"
        for name in (SONAME, "liblyralink.so"):
            if (built / name).exists():
                out.append((str(built / name), "the build tree"))
                break
    out.append((SONAME, "the dynamic loader's search path"))
    found = ctypes.util.find_library("lyralink")
    if found:
        out.append((found, "ctypes.util.find_library"))
    multiarch = sysconfig.get_config_var("MULTIARCH") or ""
    dirs = ["/usr/local/lib"]
    if multiarch:
        dirs += ["/usr/local/lib/" + multiarch, "/usr/lib/" + multiarch]
    dirs += ["/usr/lib", str(Path.home() / ".local" / "lib")]
    for d in dirs:
        out.append((os.path.join(d, SONAME), "the usual library directories"))
    return out


class _DlInfo(ctypes.Structure):
    _fields_ = [
        ("dli_fname", ctypes.c_char_p),
        ("dli_fbase", ctypes.c_void_p),
        ("dli_sname", ctypes.c_char_p),
        ("dli_saddr", ctypes.c_void_p),
    ]


def _file_of(lib: ctypes.CDLL, fallback: str) -> str:
    """The file the dynamic loader actually mapped for lib."""
    try:
        libc = ctypes.CDLL(None)
        dladdr = libc.dladdr
        dladdr.argtypes = [ctypes.c_void_p, ctypes.POINTER(_DlInfo)]
        dladdr.restype = ctypes.c_int
        info = _DlInfo()
        address = ctypes.cast(lib.COMM_CLOSE, ctypes.c_void_p).value
        if dladdr(address, ctypes.byref(info)) and info.dli_fname:
            return os.path.realpath(os.fsdecode(info.dli_fname))
    except (AttributeError, OSError):
        pass
    return os.path.realpath(fallback) if os.path.sep in fallback else fallback


def _bind(lib: ctypes.CDLL, path: str) -> None:
    missing = []
    for e in EXPORTS:
        try:
            fn = getattr(lib, e.name)
        except AttributeError:
            missing.append(e.name)
            continue
        fn.restype = e.restype
        fn.argtypes = list(e.argtypes)
    if missing:
        raise LyralinkError(
            "%s is not a lyralink library this package can use: it lacks %s"
            % (path, ", ".join(missing[:5]) + (" ..." if len(missing) > 5 else "")))


def _load() -> Tuple[ctypes.CDLL, str]:
    tried = []
    for target, why in candidates():
        if os.path.sep in target and not os.path.exists(target):
            tried.append("%s (%s): no such file" % (target, why))
            continue
        try:
            lib = ctypes.CDLL(target)
        except OSError as e:
            tried.append("%s (%s): %s" % (target, why, e))
            continue
        path = _file_of(lib, target)
        _bind(lib, path)
        return lib, path
    raise LyralinkError(
        "cannot load liblyralink:\n  " + "\n  ".join(tried) +
        "\nInstall the library (apt install liblyralink1, or cmake --install), build it in the source tree "
        "(cmake --preset default && cmake --build --preset default), or set $LYRALINK_LIBRARY to its path.")


def library() -> ctypes.CDLL:
    """The loaded library with every export's prototype set."""
    global _loaded
    with _lock:
        if _loaded is None:
            _loaded = _load()
        return _loaded[0]


def library_path() -> str:
    """The file of the library in use (loading it if that has not happened)."""
    library()
    assert _loaded is not None
    return _loaded[1]
