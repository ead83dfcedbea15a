# SPDX-License-Identifier: LGPL-2.1-or-later
"""The session side_by_side.py runs twice: a port directory in tmp_path that
must outlive a second session of the same command."""

from __future__ import annotations

import os


def test_temporary_files_outlive_a_second_session(tmp_path):
    sync = os.environ["SIDE_BY_SIDE_SYNC"]
    role = os.environ["SIDE_BY_SIDE_ROLE"]
    ports = tmp_path / "ports"
    ports.mkdir()
    (ports / "COM3").write_text(role)
    if role != "first":
        return
    with open(os.path.join(sync, "ready"), "w") as f:
        f.write("ready")
    # The second session has run from start to end meanwhile.
    with open(os.path.join(sync, "go")) as f:
        assert f.read() == "go"
    assert (ports / "COM3").exists(), "the second session removed %s" % ports
    assert (ports / "COM3").read_text() == "first"
