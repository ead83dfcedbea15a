#!/bin/bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# The event wait of a Windows program (termination_probe.cpp): a line on
# standard input (a pipe), Ctrl+C taken as a termination request (SIGINT to
# the Wine process becomes a console control event, which
# TerminationRequests takes as signal 2, as mplxd.exe uses it), and the end
# of input.
# Environment besides common.sh's: PROBE  termination_probe.exe
source "$(dirname "$0")/common.sh"

mkfifo "$scratch/probe.in" "$scratch/probe.out"
lyra_wine_start
lyra_wine_check_ports || fail "a COM link leads elsewhere than to a pseudo-terminal"
timeout -k 5 60 wine "$PROBE" <"$scratch/probe.in" >"$scratch/probe.out" 2>"$scratch/probe.err" &
probe=$!
exec 9>"$scratch/probe.in"
exec 8<"$scratch/probe.out"

expect() {
  local line
  IFS= read -r -t 30 line <&8 || fail "termination_probe.exe: no \"$1\": $(cat "$scratch/probe.err")"
  line=${line%$'\r'}
  [ "$line" = "$1" ] || fail "termination_probe.exe: \"$line\" where \"$1\" was due"
  echo "$line"
}

expect waiting
echo "hello probe" >&9
expect "read hello probe"
# The Windows program is the child of timeout (wine execs into it). A
# background job of a script starts with SIGINT ignored; Wine takes the
# signal all the same.
program=$(pgrep -P "$probe") || fail "termination_probe.exe is not running"
kill -INT "$program"
expect "took 2"
exec 9>&-
expect "end of input"
wait "$probe"
status=$?
[ "$status" = 0 ] || fail "termination_probe.exe exited with $status"
echo "PASS"
