#!/bin/bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# Ctrl+C reaches a Windows program as a termination request it can wait
# on: SIGINT to the Wine process becomes a console control event, which
# TerminationRequests takes as signal 2, as mplxd.exe uses it.
# Environment besides common.sh's: PROBE  termination_probe.exe
source "$(dirname "$0")/common.sh"

mkfifo "$scratch/probe.out"
wine "$PROBE" >"$scratch/probe.out" 2>"$scratch/probe.err" &
probe=$!
exec 8<"$scratch/probe.out"
IFS= read -r -t 60 line <&8 || fail "termination_probe.exe printed nothing: $(cat "$scratch/probe.err")"
line=${line%$'\r'}
[ "$line" = waiting ] || fail "termination_probe.exe: $line"
kill -INT "$probe"
output=$(tr -d '\r' <&8)
wait "$probe"
status=$?
echo "$output"
[ "$status" = 0 ] || fail "termination_probe.exe exited with $status"
[ "$output" = $'took 2\ndone' ] || fail "unexpected output"
echo "PASS"
