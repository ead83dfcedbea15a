#!/bin/bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# lyractl.exe under Wine against the native lyrasim on a COM port (a
# dosdevices link to lyrasim's pseudo-terminal) prints exactly what the
# native lyractl prints for the same commands: identity and state queries,
# settings written by one and read back by the other, a long answer (a
# memory read), a 3 Mbaud link, and a recording written to a file.
source "$(dirname "$0")/common.sh"

# The high voltage ramps at 65000 V/s: it has reached its set value when
# the state is read, on both sides alike.
start_lyrasim --serial COM3=740,sn=515,ramp=65000 --serial COM4=740,sn=516,bauds=3000000
link_com_port COM3
link_com_port COM4

# The analyser's clock runs between the two runs: its decoded line and the
# lines of the answer dump that hold it (bytes 12-18) and the checksum over
# it (bytes 126-127) are not compared.
no_clock='/device clock/d; /^  00[017]0  /d'

same_output "identity" "$no_clock" -- --port COM3 state740
same_output "extended state as JSON" "" -- --port COM3 --json state740-ex
same_output "raw command by table name" "$no_clock" -- --port COM3 cmd_query_state740 1 2
same_output "user data page" "" -- --port COM3 user-data

# Settings written and read back: each side writes to its own analyser
# and reads back what it wrote.
same_output "set-hv 700 1" "" -- --port COM3 set-hv 700 1
same_output "state after set-hv 700 1" "" -- --port COM3 state
grep -q 'HV set value          700 V' "$scratch/wine.txt" || fail "lyractl.exe does not read back 700 V"
same_output "set-gain 4 12000" "" -- --port COM3 set-gain 4 12000
same_output "state after set-gain 4 12000" "" -- --port COM3 state
grep -q 'coarse gain           4' "$scratch/wine.txt" || fail "lyractl.exe does not read back gain 4"

# A recording: both write the trace of the same samples to a file.
native_lyractl --port COM3 record 0.02 "$scratch/native.trace" >"$scratch/native.rec" 2>&1 ||
  fail "native record: $(cat "$scratch/native.rec")"
wine_lyractl --port COM3 record 0.02 "$(windows_path "$scratch/wine.trace")" >"$scratch/wine.rec" 2>&1 ||
  fail "lyractl.exe record: $(cat "$scratch/wine.rec")"
[ -s "$scratch/native.trace" ] || fail "the native recording is empty"
cmp "$scratch/native.trace" "$scratch/wine.trace" || fail "the two recordings differ"
echo "same: recording of 0.02 s ($(wc -c <"$scratch/native.trace") bytes)"

# A long answer: 720 samples of the memory the recording filled.
same_output "memory read (long answer)" "" -- --port COM3 memory 0
grep -q '^  0000  ' "$scratch/native.txt" || fail "the memory read shows no answer bytes"

# A port that answers only at 3000000 baud.
same_output "identity at 3000000 baud" "$no_clock" -- --port COM4 --baud 3000000 state740
grep -q 'baud=3000000' "$scratch/wine/frames.log" || fail "no frame arrived at 3000000 baud"

echo "PASS"
