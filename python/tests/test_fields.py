# SPDX-License-Identifier: LGPL-2.1-or-later
"""The package's copy of the answer-field table against the library's own
(lyralink/commands/answer_fields.h, printed as JSON by answer_fields_json):
the same rows, the same meanings of the values, and the same values read
from the same answers. A change made on one side only fails here."""

from __future__ import annotations

import json
import subprocess
from typing import Any, Callable, Dict

import pytest

import support
from lyralink import _fields as F, answers as A, recording as R


@pytest.fixture(scope="module")
def library() -> Dict[str, Any]:
    out = subprocess.run([support.answer_fields_path()], check=True, capture_output=True, text=True,
                         timeout=60).stdout
    table: Dict[str, Any] = json.loads(out)
    return table


def test_the_package_reads_every_field_where_the_library_table_puts_it(library):
    rows = {r["name"]: r for r in library["fields"] if r["host"]}
    assert sorted(F.FIELDS) == sorted(rows), "fields on one side only"
    drift = []
    for name, field in F.FIELDS.items():
        row = rows[name]
        ours = (field.offset, field.type, field.count, field.scale)
        theirs = (row["offset"], row["type"], row["count"], row["scale"])
        if ours != theirs:
            drift.append("%s: package %r, library %r" % (name, ours, theirs))
    assert not drift, "\n".join(drift)
    assert A.ANSWER_SIZE == library["answer_size"]


def test_states_flags_rates_and_samples_mean_what_they_mean_in_the_library(library):
    assert F.ACQUISITION_IDLE == library["acquisition_idle"]
    assert list(A.COLLECTING_STATES) == library["collecting_states"]
    assert [A.acquisition_note(s) for s in range(len(library["acquisition_notes"]))] == library["acquisition_notes"]
    assert [list(flag) for flag in A.FEATURE_NAMES] == library["feature_flags"]
    assert R.FIRST_FIRMWARE_WITH_RATE == library["first_firmware_with_rate"]
    assert F.FIXED_SAMPLE_RATE == library["fixed_sample_rate"]
    for firmware, khz, rate in library["sample_rates"]:
        assert R.sample_rate(firmware, khz) == rate, (hex(firmware), khz)
    assert R.CHUNK_SAMPLES == library["memory_block_samples"]
    assert F.SAMPLE_SIGNAL_MASK == library["sample_signal_mask"]


DECODERS: Dict[str, Callable[[bytes], Any]] = {
    "state": A.decode_state,
    "state740": A.decode_state740,
    "state740_ex": A.decode_state740_ex,
    "power": A.decode_power,
    "voltage_current": A.decode_voltage_current,
    "user_data": lambda data: A.decode_user_data(data, 0),
}


def test_the_package_decodes_the_same_answers_to_the_same_values(library):
    # The decoders themselves, not only the table: a decoder that reads an
    # offset of its own instead of the table's gives another value here.
    examples = library["examples"]
    assert sorted(examples) == sorted(list(DECODERS) + ["spectrum"])
    for answer, decoder in DECODERS.items():
        example = examples[answer]
        decoded = decoder(bytes.fromhex(example["data"]))
        for key, want in example["decoded"].items():
            got = getattr(decoded, key)
            assert (list(got) if isinstance(got, tuple) else got) == want, "%s.%s" % (answer, key)
    spectrum = examples["spectrum"]
    assert list(F.values(bytes.fromhex(spectrum["data"]), "spectrum.counts")) == spectrum["decoded"]["counts"]
