# SPDX-License-Identifier: LGPL-2.1-or-later
"""side_by_side.py PYTHON PYTEST-OPTION...: two pytest sessions with the same
command line, the second started while the first runs, as two runs of ctest
on one build tree start them. The second must leave the first's temporary
files alone (they hold an emulator's port directory and frame record).
Exit 0 when both sessions pass."""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import tempfile


def main() -> int:
    python, options = sys.argv[1], sys.argv[2:]
    probe = os.path.join(os.path.dirname(os.path.abspath(__file__)), "side_by_side_probe.py")
    sync = tempfile.mkdtemp(prefix="side-by-side-")
    try:
        os.mkfifo(os.path.join(sync, "ready"))
        os.mkfifo(os.path.join(sync, "go"))
        env = dict(os.environ, SIDE_BY_SIDE_SYNC=sync)
        command = [python, "-m", "pytest"] + options + [probe]
        first = subprocess.Popen(command, env=dict(env, SIDE_BY_SIDE_ROLE="first"))
        # Blocks until the first session has written its files and waits.
        with open(os.path.join(sync, "ready")) as f:
            if f.read() != "ready":
                first.kill()
                first.wait()
                print("side_by_side: the first session ended before it was ready", file=sys.stderr)
                return 1
        second = subprocess.run(command, env=dict(env, SIDE_BY_SIDE_ROLE="second"))
        with open(os.path.join(sync, "go"), "w") as f:
            f.write("go")
        return 0 if first.wait() == 0 and second.returncode == 0 else 1
    finally:
        shutil.rmtree(sync, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
