# SPDX-License-Identifier: LGPL-2.1-or-later
"""pip installs the package offline from a copy of its directory, and the
installed copy finds the library through the dynamic loader's search path
(as an installed liblyralink.so.1 is found)."""

from __future__ import annotations

import os
import shutil
import subprocess
import sys

import pytest

import support


def test_pip_install_offline_and_the_installed_library_is_found(tmp_path):
    library = os.environ.get("LYRALINK_LIBRARY") or str(support.BUILD / "lyralink" / "liblyralink.so.1")
    support.need(library, "liblyralink ($LYRALINK_LIBRARY)")
    probe = subprocess.run([sys.executable, "-m", "pip", "--version"], capture_output=True)
    if probe.returncode != 0:
        if support.required():
            pytest.fail("pip is missing for %s (python3-pip)" % sys.executable)
        pytest.skip("pip is missing for %s" % sys.executable)
    src = tmp_path / "src"
    shutil.copytree(support.HERE.parent, src, ignore=shutil.ignore_patterns("__pycache__", "build", "*.egg-info",
                                                                            ".pytest_cache"))
    site = tmp_path / "site"
    env = dict(os.environ, PIP_DISABLE_PIP_VERSION_CHECK="1", PIP_NO_CACHE_DIR="1")
    done = subprocess.run([sys.executable, "-m", "pip", "install", "--no-build-isolation", "--no-deps", "--no-index",
                           "--target", str(site), str(src)], capture_output=True, env=env, cwd=str(tmp_path))
    assert done.returncode == 0, done.stderr.decode()
    assert (site / "lyralink" / "py.typed").exists()

    # A fresh interpreter away from the source tree, the library only on the
    # loader's search path.
    env = {k: v for k, v in os.environ.items() if k != "LYRALINK_LIBRARY"}
    env.update(PYTHONPATH=str(site), LD_LIBRARY_PATH=os.path.dirname(os.path.realpath(library)))
    code = "import lyralink; print(lyralink.__file__); print(lyralink.library_path()); print(lyralink.__version__)"
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, env=env, cwd=str(tmp_path))
    assert run.returncode == 0, run.stderr.decode()
    where, loaded, version = run.stdout.decode().split()
    assert where.startswith(str(site)) and os.path.realpath(loaded) == os.path.realpath(library)
    assert version == project_version()


def project_version():
    """The version of the CMake project, which the package carries too."""
    import re

    text = (support.SOURCE / "CMakeLists.txt").read_text()
    cmake = re.search(r"project\(lyralink VERSION ([0-9.]+)", text).group(1)
    pyproject = re.search(r'^version = "([^"]+)"', (support.HERE.parent / "pyproject.toml").read_text(), re.M).group(1)
    assert pyproject == cmake
    return cmake
