#!/bin/bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# mplxd_clients.sh LYRASIM NATIVE_MPLXD NATIVE_LYRACTL WINDOWS_MPLXD WINDOWS_LYRACTL
# mplxd.exe under Wine serves COM87, a link in the prefix's dosdevices to a
# native lyrasim's pseudo-terminal, and two lyractl.exe processes share the
# analyser through it as clients MPLX87#1 and MPLX87#2 (the server's named
# mutex, file mapping and auto-reset events): one after the other, a write
# of one client that the other reads back, a long answer that does not fit
# the slot, then both at the same time, each repeating its command. The
# same sequence runs with the native mplxd and lyractl on an emulator of
# their own (Wine cannot read the line settings of a pseudo-terminal whose
# rate a Linux program has set, so the sides never share one): every
# client's output and exit status, and the server's last line and exit
# status after Ctrl+C (SIGINT), must be the same.
set -u
. "$(dirname "$0")/../wine_env.sh"
lyrasim="$1"; native_mplxd="$2"; native_lyractl="$3"; windows_mplxd="$4"; windows_lyractl="$5"
for p in "$lyrasim" "$native_mplxd" "$native_lyractl"; do
  if [ ! -x "$p" ]; then
    echo "no native $p: build the native tree first (scripts/build.sh default)" >&2
    exit 1
  fi
done
com=87
repeats=6
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  lyra_wine_unlink_com "$com"
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# start_sim SIDE: a fresh emulator with an MCA-740 on COM87 in the side's
# own port directory; returns once the port is published.
start_sim() {
  local side=$1 line
  mkdir -p "$work/$side/ports"
  mkfifo "$work/$side/sim.out"
  "$lyrasim" --port-dir "$work/$side/ports" --serial "COM$com=740,sn=4321,seed=7" \
    >"$work/$side/sim.out" 2>"$work/$side/sim.err" &
  pids+=($!)
  exec 3<"$work/$side/sim.out"
  while IFS= read -r -t 20 line <&3; do
    if [ "$line" = ready ]; then
      cat <&3 >/dev/null &
      exec 3<&-
      return 0
    fi
  done
  cat "$work/$side/sim.err" >&2
  fail "lyrasim ($side) did not get ready"
}

# start_server SIDE COMMAND...: the Multiplex server, its log on a pipe
# (fd 4); returns once it serves.
start_server() {
  local side=$1 line
  shift
  mkfifo "$work/$side/server.out"
  "$@" >"$work/$side/server.out" 2>"$work/$side/server.err" &
  server=$!
  pids+=("$server")
  exec 4<"$work/$side/server.out"
  while IFS= read -r -t 60 line <&4; do
    case "$line" in
      *serving*) return 0 ;;
    esac
  done
  cat "$work/$side/server.err" >&2
  fail "mplxd ($side) did not start"
}

# stop_server: Ctrl+C, then the server's last log line and exit status.
stop_server() {
  local line last=
  kill -INT "$server"
  while IFS= read -r -t 60 line <&4; do last=${line%$'\r'}; done
  exec 4<&-
  wait "$server"
  echo "server: $last"
  echo "server exit $?"
}

# client N ARG...: one lyractl command as client N; output, error output
# and exit status as a transcript entry.
client() {
  local n=$1 status
  shift
  echo "\$ lyractl --mplx MPLX$com#$n $*"
  "${run_lyractl[@]}" --mplx "MPLX$com#$n" "$@" >"$work/out.$n" 2>"$work/err.$n"
  status=$?
  tr -d '\r' <"$work/out.$n"
  echo "- stderr:"
  tr -d '\r' <"$work/err.$n"
  echo "- exit $status"
}

# repeat N COUNT ARG...: client N runs the command COUNT times.
repeat() {
  local n=$1 count=$2 i
  shift 2
  for ((i = 1; i <= count; i++)); do client "$n" "$@"; done
}

sequence() {
  client 1 state
  client 2 system-data
  # One analyser behind both clients: what #1 writes, #2 reads.
  client 1 set-user-data 5 77
  client 2 user-data 0
  client 2 set-gain 3 12000
  client 1 --json state
  # A long answer does not fit a slot of 256 bytes; the server drops it and
  # the next exchange finds a quiet line.
  client 1 memory 0
  client 2 online
  # Both clients at once, each many times.
  repeat 1 "$repeats" state740-ex >"$work/together.1" &
  local first=$!
  repeat 2 "$repeats" system-data >"$work/together.2" &
  local second=$!
  wait "$first" "$second"
  cat "$work/together.1" "$work/together.2"
}

# The native side.
start_sim native
start_server native env LYRALINK_PORT_DIR="$work/native/ports" "$native_mplxd" "COM$com"
run_lyractl=("$native_lyractl")
sequence >"$work/native.txt"
stop_server >>"$work/native.txt"

# The Windows side: the prefix's com87 is the emulator's pseudo-terminal.
start_sim windows
lyra_wine_start
lyra_wine_link_com "$com" "$work/windows/ports/COM$com"
lyra_wine_check_ports || fail "the prefix's serial port links are not all pseudo-terminals"
start_server windows timeout -k 5 200 wine "$windows_mplxd" "COM$com"
run_lyractl=(lyra_wine_run "$windows_lyractl")
sequence >"$work/windows.txt"
stop_server >>"$work/windows.txt"

if ! diff -a -u "$work/native.txt" "$work/windows.txt"; then
  echo "mplxd.exe and lyractl.exe differ from the native programs (- native, + Windows)"
  exit 1
fi
grep -q '^- exit 0' "$work/native.txt" || fail "no command succeeded: $(cat "$work/native.txt")"
echo "$(grep -c '^\$ lyractl' "$work/native.txt") client commands ($repeats + $repeats at the same time), same output"
