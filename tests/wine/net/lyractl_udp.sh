#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# lyractl_udp.sh LYRASIM NATIVE_LYRACTL WINDOWS_LYRACTL
# lyractl.exe under Wine over Ethernet: a native lyrasim answers as an
# MCA-740 on UDP loopback (127.0.0.1, a free port given to both sides as
# LYRALINK_UDP_PORT), and one sequence of lyractl commands runs once with
# the native lyractl and once with lyractl.exe, each against an emulator of
# its own started afresh (the sequence changes the analyser's settings).
# Standard output, standard error and exit status of every command (a
# Windows program's CR LF line ends dropped), and the recorded trace file
# byte for byte, must be the same.
set -eu
here=$(dirname "$0")
. "$here/../wine_env.sh"
. "$here/transcript.sh"
lyrasim="$1"; native="$2"; windows="$3"
for p in "$lyrasim" "$native"; do
  if [ ! -x "$p" ]; then
    echo "no native $p: build the native tree first (scripts/build.sh default)" >&2
    exit 1
  fi
done
work=$(mktemp -d)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
mkdir "$work/ports"  # no serial port for the searches to find

# Starts a fresh emulator on a free UDP port of 127.0.0.1 (sim_pid,
# LYRALINK_UDP_PORT); waits for its "ready" line without polling.
start_sim() {
  rm -f "$work/sim.fifo"
  mkfifo "$work/sim.fifo"
  attempt=0
  while [ "$attempt" -lt 20 ]; do
    attempt=$((attempt + 1))
    port=$((20000 + ($$ * 7 + attempt * 1237) % 40000))
    "$lyrasim" --port-dir "$work/ports" --udp-port "$port" --udp 127.0.0.1=740,sn=4321,seed=7 \
      >"$work/sim.fifo" 2>"$work/sim.err" &
    sim_pid=$!
    exec 3<"$work/sim.fifo"
    ready=no
    while IFS= read -r line <&3; do
      if [ "$line" = ready ]; then ready=yes; break; fi
    done
    if [ "$ready" = yes ]; then
      cat <&3 >/dev/null &  # keeps the emulator's output flowing
      exec 3<&-
      LYRALINK_UDP_PORT=$port
      export LYRALINK_UDP_PORT
      return 0
    fi
    exec 3<&-
    wait "$sim_pid" 2>/dev/null || true  # the port was taken: another one
    sim_pid=
  done
  echo "lyrasim did not start:" >&2
  cat "$work/sim.err" >&2
  exit 1
}

stop_sim() {
  kill "$sim_pid"
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=
}

sequence() {
  step() { transcript_step lyractl "$@"; }
  ip='--ip 127.0.0.1'
  # Short answers, decoded fields, the JSON form, the generic entry by name.
  step $ip state
  step $ip --json state
  step $ip state740-ex
  step $ip power
  step $ip voltages
  step $ip system-data
  step $ip user-data 0
  step $ip CMD_QUERY_STATE
  # Settings that the next answers show.
  step $ip set-gain 3 12000
  step $ip set-user-data 5 77
  step $ip --json state
  step $ip user-data 0
  # Long answers: several datagrams of up to 1440 data bytes.
  step $ip spectrum 0 8
  step $ip memory 0
  step $ip histogram 0 4
  step $ip eeprom
  step $ip write-detector-info 'lyralink under Wine'
  step $ip detector-info
  # Nothing answers at 127.0.0.2: every attempt runs out of time.
  step --ip 127.0.0.2 --timeout 850 --retries 1 online
  # The searches, on this machine's loopback network only.
  step --ethernet 4321 state
  step --ethernet 9999 state
  step --select 4321 --select-port 0 online
  step discover
  step discover --json
  # A recording: chunked memory reads; the trace file is compared below.
  # Last: the acquisition it starts shows in every later state answer.
  step $ip record 0.001 trace.txt
}

cd "$work"
export LYRALINK_PORT_DIR="$work/ports" LYRALINK_HOST_ADDRESSES=127.0.0.1/255.0.0.0

start_sim
program="$native"
sequence >native.txt
mv trace.txt native-trace.txt 2>/dev/null || : >native-trace.txt
stop_sim

start_sim
run_windows() { lyra_wine_run "$windows" "$@"; }
program=run_windows
sequence >windows.txt
# Byte for byte: the text trace has CR LF lines on every system.
mv trace.txt windows-trace.txt 2>/dev/null || : >windows-trace.txt
stop_sim

status=0
if ! diff -a -u native.txt windows.txt; then
  echo "lyractl.exe differs from the native lyractl (- native, + Windows)"
  status=1
fi
if ! cmp -s native-trace.txt windows-trace.txt; then
  echo "the trace files differ:"
  diff native-trace.txt windows-trace.txt | head -20
  status=1
fi
[ "$status" -eq 0 ] && echo "$(grep -c '^\$ lyractl' native.txt) commands and the trace file, same output"
exit $status
