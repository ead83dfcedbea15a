#!/bin/bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# Ctrl+C reaches a Windows program as a termination request it can wait
# on: SIGINT to the Wine process becomes a console control event, which
# TerminationRequests takes as signal 2, as mplxd.exe uses it.
# Environment besides common.sh's: PROBE  termination_probe.exe
source "$(dirname "$0")/common.sh"

mkfifo "$scratch/probe.out"
lyra_wine_start
lyra_wine_check_ports || fail "a COM link leads elsewhere than to a pseudo-terminal"
timeout -k 5 60 wine "$PROBE" >"$scratch/probe.out" 2>"$scratch/probe.err" &
probe=$!
exec 8<"$scratch/probe.out"
IFS= read -r -t 60 line <&8 || fail "termination_probe.exe printed nothing: $(cat "$scratch/probe.err")"
line=${line%$'\r'}
[ "$line" = waiting ] || fail "termination_probe.exe: $line"
# The Windows program is the child of timeout (wine execs into it). A
# background job of a script starts with SIGINT ignored; Wine takes the
# signal all the same.
program=$(pgrep -P "$probe") || fail "termination_probe.exe is not running"
kill -INT "$program"
output=$(tr -d '\r' <&8)
wait "$probe"
status=$?
echo "$output"
[ "$status" = 0 ] || fail "termination_probe.exe exited with $status"
[ "$output" = $'took 2\ndone' ] || fail "unexpected output"
echo "PASS"
