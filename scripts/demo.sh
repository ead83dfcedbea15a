#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# Builds lyralink and shows its main job, the transient recorder:
#  - with a display (DISPLAY or WAYLAND_DISPLAY set): starts pulsecap, which
#    finds the analyser (splash window, selection dialog), takes it over and
#    records its signal memory into a text or WAVE trace file;
#  - without one: records a trace head-less with `lyractl record` and says
#    where the file is.
# The analyser is the one on the serial port named by LYRALINK_DEMO_PORT
# (e.g. COM33, see README "Serial ports on Linux"), or, when none is named,
# the emulator lyrasim on a pseudo-terminal published as COM3.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh default >/dev/null
bin=build/default
port="${LYRALINK_DEMO_PORT:-}"
sim_pid=""
dir=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  [ -n "$dir" ] && rm -rf "$dir/ports"
  return 0
}
trap cleanup EXIT INT TERM
if [ -z "$port" ]; then
  dir=$(mktemp -d /tmp/lyralink-demo-XXXXXX)
  mkdir -p "$dir/ports"
  export LYRALINK_PORT_DIR="$dir/ports"
  # The search stays on this machine: the emulator is the only analyser.
  export LYRALINK_HOST_ADDRESSES="127.0.0.1/255.0.0.0"
  "$bin/tools/lyrasim/lyrasim" --port-dir "$LYRALINK_PORT_DIR" \
    --serial COM3=740,sn=2024,fw=0x1304,rate=20000,app=KBRE,hv=800 >"$dir/lyrasim.log" &
  sim_pid=$!
  i=0
  while [ ! -e "$LYRALINK_PORT_DIR/COM3" ] && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
  port=COM3
  echo "== No analyser named (LYRALINK_DEMO_PORT): using the emulator lyrasim on $port"
  echo "   (MCA-740 #02024, set up last by another application, HV on at 800 V)"
else
  dir=$(mktemp -d /tmp/lyralink-demo-XXXXXX)
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "== Starting pulsecap: choose the MCA-740 in the selection dialog, answer the takeover"
  echo "   question, set a measuring time and press \"Start ...\". Close the window to end."
  "$bin/pulsecap/pulsecap"
else
  trace="$dir/shot.wav"
  if [ -n "${sim_pid}" ]; then
    # The search finds the emulator and moves the line to its fastest rate.
    echo "== No display: recording 0.01 s head-less with lyractl"
    echo "\$ lyractl --select 2024 record 0.01 $trace"
    "$bin/tools/lyractl/lyractl" --select 2024 record 0.01 "$trace"
  else
    echo "== No display: recording 1 ms head-less with lyractl"
    echo "\$ lyractl --port $port record 0.001 $trace"
    "$bin/tools/lyractl/lyractl" --port "$port" record 0.001 "$trace"
  fi
  echo "== The trace is $trace (WAVE, 16-bit mono); view it on a desktop with:"
  echo "   $bin/pulsecap/pulsecap --view $trace"
fi
