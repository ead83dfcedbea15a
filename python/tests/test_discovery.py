# SPDX-License-Identifier: LGPL-2.1-or-later
"""discover() and select() against lyrasim: analysers on pseudo-terminals,
on UDP (this run's port, LYRALINK_HOST_ADDRESSES on loopback) and, for the
search in lyractl's process, on the stand-in bridge library."""

from __future__ import annotations

import json

import pytest

import support
from lyralink import LinkError, LyralinkError

ANALYSERS = ("--serial", "COM3=740,sn=1234", "--serial", "COM5=310,sn=8", "--udp", "127.0.0.2=740,sn=77")


def test_discover_lists_what_lyractl_lists(start_sim, lib, monkeypatch):
    start_sim(*ANALYSERS)
    # USB analysers exist only for the searching lyractl process.
    monkeypatch.setenv("LYRALINK_FTD2XX", support.standin_bridge_path())
    monkeypatch.setenv("LYRASIM_USB", "740,sn=12,com=4")
    found = lib.discover()
    done = support.run_lyractl(["discover", "--json"])
    assert done.returncode == 0
    assert [e.__dict__ for e in found] == [dict(o) for o in json.loads(done.stdout)]
    by_serial = {e.serial: e for e in found}
    assert sorted(by_serial) == [8, 12, 77, 1234]
    assert by_serial[1234].port == "COM3" and by_serial[1234].port_id == 3 and by_serial[1234].applicable
    assert by_serial[77].ip == "127.0.0.2" and by_serial[77].port_id == 0
    assert by_serial[12].port_id == 0x0101 and by_serial[12].analyser.startswith("MCA-740#00012 on USB")
    assert not by_serial[8].applicable  # an MCA-310 is not admitted by default
    assert found.notes == []


def test_discover_with_nothing_there_explains_the_search(lib):
    # The session's port directory is empty and nothing answers on its UDP port.
    found = lib.discover()
    assert found == [] and any("searched 0 serial ports" in n for n in found.notes)


def test_select_by_serial_number_and_by_port(start_sim, lib):
    sim = start_sim(*ANALYSERS)
    with lib.select(serial=1234) as mca:
        assert mca.port_id == 3 and mca.parameters().port_id == 3
        assert mca.baud == mca.parameters().baud and mca.name == "COM3 at %d baud" % mca.baud
        assert mca.query_state740().firmware == 0x1304
        assert sim.frames()[-1].endpoint == "COM3"
    with pytest.raises(LinkError, match="serial number 1234 found on port 5"):
        lib.select(serial=1234, port_filter=5)
    assert lib.current_link() is None


def test_a_selected_ethernet_link_is_closed_by_terminate_ethernet(start_sim, lib):
    start_sim(*ANALYSERS)
    mca = lib.select(serial=77)
    assert mca.kind == "ethernet" and mca.parameters().channel == "ethernet" and mca.name == "Ethernet"
    lib.terminate_ethernet()
    assert mca.closed and lib.current_link() is None
    with lib.open_ethernet("127.0.0.2") as again:
        assert again.query_state740().firmware == 0x1304


def test_select_without_serial_takes_the_first_applicable_analyser(start_sim, lib):
    start_sim(*ANALYSERS)
    first = next(e for e in lib.discover() if e.applicable)
    with lib.select(port_filter=first.port_id) as mca:
        assert mca.port_id == first.port_id and mca.name == ("Ethernet" if first.port_id == 0 else mca.name)
        assert mca.query_state740().firmware == 0x1304


def test_ethernet_searches_and_what_is_refused(start_sim, lib, monkeypatch):
    sim = start_sim("--udp", "127.0.0.2=740,sn=77", "--udp", "127.0.0.3=740,sn=3,head=42")
    with lib.search_ethernet(77) as mca:
        assert mca.parameters().channel == "ethernet" and mca.is_online()
        assert sim.frames()[-1].endpoint == "127.0.0.2"
    with pytest.raises(LinkError, match="serial number 78"):
        lib.search_ethernet(78)
    with lib.search_heads(3) as head:
        assert head.query_eeprom_info().startswith(b"Trebla measuring head")
    with pytest.raises(LinkError, match="no free measuring head with serial number 77"):
        lib.search_heads(77)  # an analyser, but no head
    monkeypatch.setenv("LYRALINK_LYRACTL", "/nonexistent/lyractl")
    with pytest.raises(LyralinkError, match="cannot run /nonexistent/lyractl"):
        lib.discover()
